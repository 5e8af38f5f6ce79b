#include "cli/diagnosticscommand.h"

#include "cli/jsonlines.h"
#include "cli/supportbundle.h"
#include "link/portreport.h"
#include "link/serialportprovider.h"

#include <QTextStream>

DiagnosticsCommand::DiagnosticsCommand(const QStringList &extraPortSpecs, QTextStream &out, QTextStream &err)
    : m_extraPortSpecs(extraPortSpecs), m_out(out), m_err(err)
{
}

QString DiagnosticsCommand::probedPortList() const
{
    const SerialPortProvider ports(m_extraPortSpecs);
    return PortReport::describe(ports.availablePorts(), &PortReport::openWithSerialPort);
}

int DiagnosticsCommand::listPorts(bool json)
{
    if (json) {
        const SerialPortProvider ports(m_extraPortSpecs);
        for (const PortInfo &port : ports.availablePorts()) {
            const QSerialPort::SerialPortError error = PortReport::openWithSerialPort(port);
            const QString location = port.systemLocation.isEmpty() ? port.portName : port.systemLocation;
            JsonLines::write(m_out, QJsonObject {{QStringLiteral("event"), QStringLiteral("port")},
                                                 {QStringLiteral("port"), port.portName},
                                                 {QStringLiteral("adapter"), port.isAdapter()},
                                                 {QStringLiteral("serial"), port.serialNumber},
                                                 {QStringLiteral("description"), port.description},
                                                 {QStringLiteral("can_open"), error == QSerialPort::NoError},
                                                 {QStringLiteral("problem"),
                                                  error == QSerialPort::NoError
                                                      ? QString()
                                                      : PortDoctor::explain(location, error, PortSystem::machine())}});
        }
        return 0;
    }
    m_out << probedPortList();
    m_out.flush();
    return 0;
}

int DiagnosticsCommand::writeSupportBundle(const QString &fileName, const QString &program,
                                           const QString &logDirectory)
{
    SupportBundleContent content;
    content.program = program;
    content.portList = probedPortList();
    content.logDirectory = logDirectory;
    QString error;
    if (!SupportBundle::write(fileName, content, &error)) {
        m_err << tr("The support bundle %1 cannot be written: %2").arg(fileName, error) << Qt::endl;
        return 1;
    }
    m_out << tr("Support bundle written to %1.").arg(fileName) << Qt::endl;
    return 0;
}
