#pragma once

#include <QObject>

class PortProvider;

// Checks in the readiness thread that a port can be opened, so a slow or hung open never
// blocks the coordinator's tick.
class ComBackWorker : public QObject
{
    Q_OBJECT

public:
    explicit ComBackWorker(PortProvider *provider) : m_provider(provider) {}

public slots:
    void checkComportReadiness(const QString &portName);

signals:
    void comPortReadiness(bool isReady);
    // Why the port cannot be opened; emitted before comPortReadiness(false).
    void comPortProblem(QString problem);

private:
    PortProvider *m_provider;
};
