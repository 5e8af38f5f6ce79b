#pragma once

#include <QLoggingCategory>

// Debug output of the motor database, the motor files and the payload cipher.
Q_DECLARE_LOGGING_CATEGORY(lcMotors)
