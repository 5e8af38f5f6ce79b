#pragma once

#include "link/portprovider.h"
#include "sim/simulatedcontroller.h"
#include "sim/simulatedport.h"

#include <QList>

// The simulated controller behind the port seam, as the demo provides it: one adapter
// port, always ready. Records the low-latency requests (and refuses them, as a
// pseudo-terminal does).
class SimulatorProvider : public PortProvider
{
public:
    explicit SimulatorProvider(SimulatedController *controller) : m_controller(controller) {}

    QList<PortInfo> availablePorts() const override
    {
        return {{QStringLiteral("sim0"), QStringLiteral("sim0"), QStringLiteral("AE0001"), QStringLiteral("sim")}};
    }
    QIODevice *createPort(const QString &, QObject *parent) override
    {
        return new SimulatedPort(m_controller, parent);
    }
    bool checkReadiness(const QString &) override { return true; }
    bool setLowLatency(QIODevice *, bool on) override
    {
        lowLatencyCalls << on;
        return false;
    }

    QList<bool> lowLatencyCalls;

private:
    SimulatedController *m_controller;
};
