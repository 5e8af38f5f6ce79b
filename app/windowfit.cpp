#include "app/windowfit.h"

#include <algorithm>

QRect WindowFit::clientGeometry(const QRect &available, const QMargins &frame, const QRect &client)
{
    if (!available.isValid())
        return client;
    const QSize room(available.width() - frame.left() - frame.right(),
                     available.height() - frame.top() - frame.bottom());
    QRect fitted(client.topLeft(), client.size().boundedTo(room.expandedTo(QSize(1, 1))));
    // The frame's far edges first, then its near ones: a frame larger than the screen
    // keeps its title bar on it.
    const int right = fitted.right() + frame.right();
    if (right > available.right())
        fitted.moveLeft(fitted.left() - (right - available.right()));
    const int bottom = fitted.bottom() + frame.bottom();
    if (bottom > available.bottom())
        fitted.moveTop(fitted.top() - (bottom - available.bottom()));
    fitted.moveLeft(std::max(fitted.left(), available.left() + frame.left()));
    fitted.moveTop(std::max(fitted.top(), available.top() + frame.top()));
    return fitted;
}
