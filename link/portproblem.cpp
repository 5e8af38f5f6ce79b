#include "link/portproblem.h"

QString PortProblem::text(const QString &portName, Reason reason, const QString &detail)
{
    switch (reason) {
    case Reason::NoPermission:
        return tr("Port %1 cannot be opened: no permission to use it").arg(portName);
    case Reason::Busy:
        return tr("Port %1 cannot be opened: it is in use by another program").arg(portName);
    case Reason::Gone:
        return tr("Port %1 cannot be opened: it is gone").arg(portName);
    case Reason::Other:
        break;
    }
    if (detail.isEmpty())
        return tr("Port %1 cannot be opened").arg(portName);
    return tr("Port %1 cannot be opened: %2").arg(portName, detail);
}
