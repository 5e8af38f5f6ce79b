#pragma once

#include <QDebug>
#include <QLoggingCategory>

// Debug output of the tuning sequencer and its analysis.
Q_DECLARE_LOGGING_CATEGORY(lcTuning)

// A debug line in the tuning category that starts with the class tag, e.g. "TEST_HELPER:".
QDebug tuningDebug(const char *classTag);
