#pragma once

#include <QLoggingCategory>

// Debug output of the identification sequencer.
Q_DECLARE_LOGGING_CATEGORY(lcIdent)
