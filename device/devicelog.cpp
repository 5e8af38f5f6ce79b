#include "device/devicelog.h"

Q_LOGGING_CATEGORY(lcDevice, "kordo.device")

QDebug deviceDebug(const char *classTag)
{
    return QMessageLogger(nullptr, 0, nullptr).debug(lcDevice()).noquote() << classTag;
}
