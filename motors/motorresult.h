#pragma once

#include <QLatin1Char>
#include <QString>

// Outcome of a motor operation the user started: whether it worked, and the text the
// coordinator shows for it (empty when there is nothing to show).
struct MotorResult
{
    bool ok = false;
    QString message;
    // On failure, what went wrong in the user's words ("The file holds no motors …"),
    // or empty when the message says enough.
    QString reason = QString();
    // Motors written or stored on success.
    int count = 0;

    // The message with its reason on a line of its own.
    QString fullText() const { return reason.isEmpty() ? message : message + QLatin1Char('\n') + reason; }
};
