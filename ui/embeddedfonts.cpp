#include "ui/embeddedfonts.h"

#include <QFontDatabase>
#include <QStringList>

const QString EmbeddedFonts::DIALOG_FONT_FAMILY = QStringLiteral("Roboto Medium");

int EmbeddedFonts::registerAll()
{
    static const QStringList styles {
        QStringLiteral("Medium"), QStringLiteral("MediumItalic"), QStringLiteral("Bold"),
        QStringLiteral("BoldItalic"), QStringLiteral("Italic"), QStringLiteral("Light"),
        QStringLiteral("LightItalic"), QStringLiteral("Regular"),
    };
    int loaded = 0;
    for (const QString &style : styles) {
        if (QFontDatabase::addApplicationFont(QStringLiteral(":/fonts/Roboto-%1.ttf").arg(style)) >= 0)
            ++loaded;
    }
    return loaded;
}

QFont EmbeddedFonts::dialogFont(int pointSize)
{
    QFont font(DIALOG_FONT_FAMILY);
    if (pointSize > 0)
        font.setPointSize(pointSize);
    return font;
}

QString EmbeddedFonts::inDialogFont(const QString &text)
{
    return QStringLiteral("<font face=\"%1\">").arg(DIALOG_FONT_FAMILY) + text + QStringLiteral("</font>");
}
