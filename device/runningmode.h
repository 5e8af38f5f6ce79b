#pragma once

#include <QCoreApplication>
#include <QString>

// What the user reads wherever running mode refuses something: the protocol has no way
// out of running mode, only the controller's restart brings back communication mode.
class RunningMode
{
    Q_DECLARE_TR_FUNCTIONS(RunningMode)

public:
    static QString wayBack();
    // A refusal with the way back below it.
    static QString refusal(const QString &refusalText);
};
