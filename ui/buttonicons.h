#pragma once

#include <QColor>
#include <QIcon>
#include <QSize>

namespace ButtonIcons {

// The icon for a checkable button whose checked background has the icon's own colour:
// unchecked it stays as it is, checked it shows the same shape in `checkedColour`.
QIcon withCheckedColour(const QIcon &icon, const QSize &size, const QColor &checkedColour);

} // namespace ButtonIcons
