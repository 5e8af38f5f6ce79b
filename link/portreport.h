#pragma once

#include "link/portdoctor.h"
#include "link/portinfo.h"

#include <QCoreApplication>
#include <QSerialPort>
#include <QString>

#include <functional>

// The machine's ports as a text for someone helping the user: each port's name, whether it
// is the maker's adapter, its description, and whether it can be opened (with the port
// doctor's message when not). Names and descriptions only: no other paths of the machine.
class PortReport
{
    Q_DECLARE_TR_FUNCTIONS(PortReport)

public:
    // Tries to open a port and says how that went (NoError: it opened and was closed again).
    using Probe = std::function<QSerialPort::SerialPortError(const PortInfo &port)>;

    // Opens the port with Qt SerialPort at the line settings, and closes it at once.
    static QSerialPort::SerialPortError openWithSerialPort(const PortInfo &port);

    // Without a probe, nothing is opened and the open state is left out.
    static QString describe(const QList<PortInfo> &ports, const Probe &probe = Probe(),
                            const PortSystem &system = PortSystem::machine());
};
