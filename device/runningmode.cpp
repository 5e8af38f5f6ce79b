#include "device/runningmode.h"

QString RunningMode::wayBack()
{
    return tr("The controller stays in running mode until it is switched off and on again (or unplugged and "
              "plugged in again); it then answers in communication mode, and this program finds it again.");
}

QString RunningMode::refusal(const QString &refusalText)
{
    return tr("%1\n\n%2", "a refusal, then the way back to communication mode").arg(refusalText, wayBack());
}
