#include "firmware/firmwarelog.h"

Q_LOGGING_CATEGORY(lcFirmware, "kordo.firmware")
