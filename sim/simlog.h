#pragma once

#include <QLoggingCategory>

// Debug lines of the simulated controller start with "SIM: ".
Q_DECLARE_LOGGING_CATEGORY(lcSim)
