#pragma once

#include <QLoggingCategory>

// Debug output of the log and sample workers ("kordo.recording").
Q_DECLARE_LOGGING_CATEGORY(lcRecording)
