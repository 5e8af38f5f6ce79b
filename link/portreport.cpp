#include "link/portreport.h"

namespace {

constexpr qint32 LINE_BAUD_RATE = 250000; // as the port manager opens it

} // namespace

QSerialPort::SerialPortError PortReport::openWithSerialPort(const PortInfo &port)
{
    QSerialPort probe(port.systemLocation.isEmpty() ? port.portName : port.systemLocation);
    probe.setBaudRate(LINE_BAUD_RATE);
    if (!probe.open(QIODevice::ReadWrite))
        return probe.error() == QSerialPort::NoError ? QSerialPort::UnknownError : probe.error();
    probe.close();
    return QSerialPort::NoError;
}

QString PortReport::describe(const QList<PortInfo> &ports, const Probe &probe, const PortSystem &system)
{
    if (ports.isEmpty())
        return tr("No serial port found.") + QLatin1Char('\n');
    QString text;
    for (const PortInfo &port : ports) {
        const QString kind = port.isAdapter() ? tr("Zorbel adapter, serial number %1").arg(port.serialNumber)
                                              : tr("other port");
        text += port.portName + QStringLiteral(": ") + kind;
        if (!port.description.isEmpty())
            text += QStringLiteral(" (") + port.description + QLatin1Char(')');
        text += QLatin1Char('\n');
        if (!probe)
            continue;
        const QSerialPort::SerialPortError error = probe(port);
        const QString location = port.systemLocation.isEmpty() ? port.portName : port.systemLocation;
        // The doctor's message names the port and why it does not open.
        QString state =
            error == QSerialPort::NoError ? tr("can be opened") : PortDoctor::explain(location, error, system);
        text += QStringLiteral("    ") + state.replace(QLatin1Char('\n'), QStringLiteral("\n    ")) + QLatin1Char('\n');
    }
    return text;
}
