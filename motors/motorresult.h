#pragma once

#include <QString>

// Outcome of a motor operation the user started: whether it worked, and the text the
// coordinator shows for it (empty when there is nothing to show).
struct MotorResult
{
    bool ok = false;
    QString message;
};
