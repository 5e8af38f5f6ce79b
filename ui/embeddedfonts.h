#pragma once

#include <QFont>
#include <QString>

// The program's own font family (Roboto, eight styles), embedded as resources so the
// program looks the same wherever it runs.
namespace EmbeddedFonts {

// The family of message boxes and dialogs, also used in "<font face=...>" of box texts.
extern const QString DIALOG_FONT_FAMILY;

// Registers the eight embedded styles with the font database; returns how many loaded.
int registerAll();

QFont dialogFont(int pointSize = -1);

// "<font face=\"<dialog family>\">" + text + "</font>"
QString inDialogFont(const QString &text);

} // namespace EmbeddedFonts
