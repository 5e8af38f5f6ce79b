#pragma once

#include <QDateTime>
#include <QString>

// The file names the save dialogs start from, and the suffix a chosen name is given when the
// user typed none (a settings file without ".xml" is not shown by the import dialog).
namespace SuggestedFiles {

// "<folder>/<stem>-yyyyMMdd-hhmmss.<suffix>"; the home folder when `folder` is empty or
// no longer exists.
QString name(const QString &folder, const QString &stem, const QString &suffix,
             const QDateTime &when = QDateTime::currentDateTime());

// `fileName` with ".<suffix>" added when its file part has no suffix; an empty name (a
// cancelled dialog) stays empty.
QString withSuffix(const QString &fileName, const QString &suffix);

// The folder of a chosen file, to open the next dialog in.
QString folderOf(const QString &fileName);

} // namespace SuggestedFiles
