#include "combackworker.h"

#include "link/portprovider.h"

void ComBackWorker::checkComportReadiness(const QString &portName)
{
    emit comPortReadiness(m_provider->checkReadiness(portName));
}
