#include "tuning/tuninglog.h"

Q_LOGGING_CATEGORY(lcTuning, "kordo.tuning")

QDebug tuningDebug(const char *classTag)
{
    return QMessageLogger(nullptr, 0, nullptr).debug(lcTuning()).noquote() << classTag;
}
