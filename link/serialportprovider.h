#pragma once

#include "link/devicefolderstamp.h"
#include "link/portprovider.h"

#include <QElapsedTimer>
#include <QStringList>

// The machine's serial ports through Qt SerialPort, plus extra ports given on the command
// line as "PATH[@SERIAL]" (a pseudo-terminal, a symlink). An extra port is listed only while
// its path exists, so removing it looks like unplugging an adapter.
class SerialPortProvider : public PortProvider
{
public:
    // `system` answers the port doctor's questions about device files (tests give a fake).
    explicit SerialPortProvider(const QStringList &extraPortSpecs = {},
                                const PortSystem &system = PortSystem::machine());

    static PortInfo parseExtraPort(const QString &spec);

    QList<PortInfo> availablePorts() const override;
    QIODevice *createPort(const QString &portName, QObject *parent) override;
    bool checkReadiness(const QString &portName) override;
    // Both tell the port doctor's cause and fix.
    QString readinessProblem(const QString &portName) override;
    QString openProblem(const QIODevice &port, const QString &portName) override;
    // Linux: the ASYNC_LOW_LATENCY flag of the serial driver (USB adapters).
    bool setLowLatency(QIODevice *port, bool on) override;

    // Listing the machine's serial ports costs milliseconds (it walks the device tree), and
    // the port manager asks every tick while it looks for a port: the machine's list is read
    // afresh when it is older than this and the device folder changed (an adapter plugged in
    // or pulled), or when it is older than the backstop; the extra ports' paths at every call.
    static constexpr qint64 MACHINE_REFRESH_MS = 500;
    static constexpr qint64 MACHINE_BACKSTOP_MS = 30000;

private:
    const PortSystem *m_system;
    QList<PortInfo> m_extraPorts;
    mutable QList<PortInfo> m_machinePorts;
    mutable QElapsedTimer m_machineListAge;
    mutable DeviceFolderStamp m_deviceFolder;
};
