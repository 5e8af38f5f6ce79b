#pragma once

#include "link/portinfo.h"
#include "link/portdoctor.h"

#include <QIODevice>
#include <QtGlobal>

class QObject;

// The seam between the port manager and the machine's serial ports: everything above it
// (the port state machine, the request queue) runs unchanged against real ports, the
// simulated controller and test fakes.
class PortProvider
{
public:
    virtual ~PortProvider() = default;

    // The ports present now. Called from the coordinator thread every tick while the port
    // manager looks for a port, every few seconds while one is connected.
    virtual QList<PortInfo> availablePorts() const = 0;

    // A port for the name, configured (250000 8N1, no flow control) but not opened. It emits
    // readChannelFinished() when it is lost (device removed, line hung up).
    virtual QIODevice *createPort(const QString &portName, QObject *parent) = 0;

    // Whether the port can be opened now; opens and closes a temporary port. Called from the
    // readiness thread, so it must not touch state shared with the coordinator thread.
    virtual bool checkReadiness(const QString &portName) = 0;

    // The same check, telling why the port cannot be opened (a user text), or an empty
    // text when it can. Ports that know no reason keep this default.
    virtual QString readinessProblem(const QString &portName)
    {
        return checkReadiness(portName) ? QString() : PortDoctor::cannotOpen(portName);
    }

    // Why a port made by createPort did not open (a user text). Ports that know no cause
    // keep this default.
    virtual QString openProblem(const QIODevice &port, const QString &portName)
    {
        return PortDoctor::cannotOpen(portName, port.errorString());
    }

    // Asks the driver of an open port (made by createPort) to pass received bytes on at
    // once instead of after its latency timer, or gives back its own setting. Returns
    // false where the port does not allow it; the traffic goes on either way.
    virtual bool setLowLatency(QIODevice *port, bool on)
    {
        Q_UNUSED(port)
        Q_UNUSED(on)
        return false;
    }
};
