#pragma once

#include <QDebug>
#include <QLoggingCategory>

// Debug output of the polling helper, the device model and the parameter exchange.
Q_DECLARE_LOGGING_CATEGORY(lcDevice)

// A debug line in the device category that starts with the class tag, e.g. "DEVICE:".
QDebug deviceDebug(const char *classTag);
