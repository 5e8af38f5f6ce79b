#pragma once

#include <QMargins>
#include <QRect>

// Where a window goes so that all of it, its frame (title bar, borders) included, lies on
// the screen's available area: the client area shrinks where the whole would not fit,
// then moves in from the edges it crosses.
class WindowFit
{
public:
    // The client geometry for `client` with `frame` around it inside `available`.
    static QRect clientGeometry(const QRect &available, const QMargins &frame, const QRect &client);
};
