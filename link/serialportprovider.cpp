#include "serialportprovider.h"

#include <QFileInfo>
#include <QSerialPort>
#include <QSerialPortInfo>

#ifdef Q_OS_LINUX
#include <linux/serial.h>
#include <sys/ioctl.h>
#endif

namespace {

constexpr qint32 LINE_BAUD_RATE = 250000;

void configureLine(QSerialPort &port)
{
    port.setBaudRate(LINE_BAUD_RATE);
    port.setDataBits(QSerialPort::Data8);
    port.setParity(QSerialPort::NoParity);
    port.setStopBits(QSerialPort::OneStop);
    port.setFlowControl(QSerialPort::NoFlowControl);
}

// A serial port that reports its loss the way every port above the seam does. A hung-up
// line (pseudo-terminal peer gone) shows as a read error that repeats at every wake-up,
// an unplugged adapter as a resource error: both mean the port is gone.
class SerialLinkPort : public QSerialPort
{
public:
    SerialLinkPort(const QString &name, QObject *parent) : QSerialPort(name, parent)
    {
        configureLine(*this);
        connect(this, &QSerialPort::errorOccurred, this, [this](QSerialPort::SerialPortError error) {
            if (error == QSerialPort::ResourceError || error == QSerialPort::ReadError)
                emit readChannelFinished();
        });
    }

    // Sets the driver's low-latency flag, remembering whether it was set before, or puts
    // that back. False where the driver refuses (a pseudo-terminal has no such flag).
    bool setLowLatency(bool on)
    {
#ifdef Q_OS_LINUX
        if (!isOpen())
            return false;
        const int fd = int(handle());
        serial_struct serial {};
        if (::ioctl(fd, TIOCGSERIAL, &serial) != 0)
            return false;
        if (on) {
            if (!m_lowLatencyAsked)
                m_hadLowLatency = (serial.flags & ASYNC_LOW_LATENCY) != 0;
            m_lowLatencyAsked = true;
            serial.flags |= ASYNC_LOW_LATENCY;
        } else {
            if (!m_lowLatencyAsked)
                return true;
            m_lowLatencyAsked = false;
            if (m_hadLowLatency)
                return true;
            serial.flags &= ~ASYNC_LOW_LATENCY;
        }
        return ::ioctl(fd, TIOCSSERIAL, &serial) == 0;
#else
        Q_UNUSED(on)
        return false;
#endif
    }

private:
    bool m_lowLatencyAsked = false;
    bool m_hadLowLatency = false;
};

} // namespace

SerialPortProvider::SerialPortProvider(const QStringList &extraPortSpecs, const PortSystem &system)
    : m_system(&system)
{
    for (const QString &spec : extraPortSpecs)
        m_extraPorts.append(parseExtraPort(spec));
}

PortInfo SerialPortProvider::parseExtraPort(const QString &spec)
{
    const int at = spec.lastIndexOf(QLatin1Char('@'));
    PortInfo info;
    info.portName = at < 0 ? spec : spec.left(at);
    info.systemLocation = info.portName;
    info.serialNumber = at < 0 ? QString() : spec.mid(at + 1);
    info.description = QStringLiteral("Extra port");
    return info;
}

QList<PortInfo> SerialPortProvider::availablePorts() const
{
    const bool firstOrOld = !m_machineListAge.isValid() || m_machineListAge.hasExpired(MACHINE_BACKSTOP_MS);
    // The folder is looked at before the listing, so a change made meanwhile is seen next time.
    const bool maybeChanged = (firstOrOld || m_machineListAge.hasExpired(MACHINE_REFRESH_MS))
        && m_deviceFolder.changed();
    if (firstOrOld || maybeChanged) {
        m_machineListAge.start();
        m_machinePorts.clear();
        const auto serialPorts = QSerialPortInfo::availablePorts();
        for (const QSerialPortInfo &p : serialPorts)
            m_machinePorts.append({p.portName(), p.systemLocation(), p.serialNumber(), p.description()});
    }
    QList<PortInfo> ports = m_machinePorts;
    for (const PortInfo &extra : m_extraPorts) {
        if (QFileInfo::exists(extra.systemLocation))
            ports.append(extra);
    }
    return ports;
}

QIODevice *SerialPortProvider::createPort(const QString &portName, QObject *parent)
{
    return new SerialLinkPort(portName, parent);
}

bool SerialPortProvider::setLowLatency(QIODevice *port, bool on)
{
    auto *serial = dynamic_cast<SerialLinkPort *>(port);
    return serial && serial->setLowLatency(on);
}

bool SerialPortProvider::checkReadiness(const QString &portName)
{
    return readinessProblem(portName).isEmpty();
}

QString SerialPortProvider::readinessProblem(const QString &portName)
{
    QSerialPort probe(portName);
    configureLine(probe);
    if (probe.open(QIODevice::ReadWrite)) {
        probe.close();
        return QString();
    }
    return PortDoctor::explain(portName, probe.error(), *m_system);
}

QString SerialPortProvider::openProblem(const QIODevice &port, const QString &portName)
{
    if (qobject_cast<const QSerialPort *>(&port))
        return PortDoctor::explain(&port, *m_system);
    return PortProvider::openProblem(port, portName);
}
