#pragma once

#include <QString>

// Text from a database or a file shown on a terminal: a control character (an escape
// sequence, a carriage return) is shown escaped, never sent to the terminal as it is.
namespace TerminalText {

QString escaped(const QString &text);

} // namespace TerminalText
