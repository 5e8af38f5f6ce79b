#pragma once

#include <QDebug>
#include <QLoggingCategory>

// Debug output of the firmware update.
Q_DECLARE_LOGGING_CATEGORY(lcFirmware)

inline QDebug firmwareDebug()
{
    return QMessageLogger(nullptr, 0, nullptr).debug(lcFirmware()).noquote() << "UPDATE_FW_HELPER:";
}
