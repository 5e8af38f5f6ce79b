#include "ui/buttonicons.h"

#include <QPainter>
#include <QPixmap>

namespace ButtonIcons {

QIcon withCheckedColour(const QIcon &icon, const QSize &size, const QColor &checkedColour)
{
    const QPixmap plain = icon.pixmap(size);
    QPixmap checked(plain.size());
    checked.fill(Qt::transparent);
    {
        QPainter painter(&checked);
        painter.drawPixmap(0, 0, plain);
        // Keeps the shape (the alpha channel) and paints it over in the new colour.
        painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
        painter.fillRect(checked.rect(), checkedColour);
    }
    QIcon result;
    for (QIcon::Mode mode : {QIcon::Normal, QIcon::Active, QIcon::Selected}) {
        result.addPixmap(plain, mode, QIcon::Off);
        result.addPixmap(checked, mode, QIcon::On);
    }
    return result;
}

} // namespace ButtonIcons
