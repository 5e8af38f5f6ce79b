#include "motors/motorslog.h"

Q_LOGGING_CATEGORY(lcMotors, "kordo.motors")
