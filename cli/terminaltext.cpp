#include "cli/terminaltext.h"

namespace TerminalText {

QString escaped(const QString &text)
{
    QString shown;
    shown.reserve(text.size());
    for (const QChar c : text) {
        const ushort code = c.unicode();
        if (code == '\n')
            shown += QStringLiteral("\\n");
        else if (code == '\r')
            shown += QStringLiteral("\\r");
        else if (code == '\t')
            shown += QStringLiteral("\\t");
        else if (code < 0x20 || (code >= 0x7f && code < 0xa0))
            shown += QStringLiteral("\\x%1").arg(code, 2, 16, QLatin1Char('0'));
        else
            shown += c;
    }
    return shown;
}

} // namespace TerminalText
