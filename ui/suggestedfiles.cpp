#include "ui/suggestedfiles.h"

#include <QDir>
#include <QFileInfo>

namespace SuggestedFiles {

QString name(const QString &folder, const QString &stem, const QString &suffix, const QDateTime &when)
{
    const QString base = folder.isEmpty() || !QFileInfo(folder).isDir() ? QDir::homePath() : folder;
    return QDir(base).absoluteFilePath(
        QStringLiteral("%1-%2.%3").arg(stem, when.toString(QStringLiteral("yyyyMMdd-hhmmss")), suffix));
}

QString withSuffix(const QString &fileName, const QString &suffix)
{
    if (fileName.isEmpty() || !QFileInfo(fileName).suffix().isEmpty())
        return fileName;
    return fileName + QLatin1Char('.') + suffix;
}

QString folderOf(const QString &fileName)
{
    return QFileInfo(fileName).absolutePath();
}

} // namespace SuggestedFiles
