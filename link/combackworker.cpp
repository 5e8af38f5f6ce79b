#include "combackworker.h"

#include "link/portprovider.h"

void ComBackWorker::checkComportReadiness(const QString &portName)
{
    const QString problem = m_provider->readinessProblem(portName);
    if (!problem.isEmpty())
        emit comPortProblem(problem);
    emit comPortReadiness(problem.isEmpty());
}
