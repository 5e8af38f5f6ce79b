#include "cli/diagnosticscommand.h"

#include "cli/jsonlines.h"
#include "cli/supportbundle.h"
#include "link/portreport.h"
#include "link/serialportprovider.h"

#include <QFileInfo>
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
    // A port named with --port that is not there is said, not left out of the list.
    QStringList missing;
    for (const QString &spec : qAsConst(m_extraPortSpecs)) {
        const PortInfo named = SerialPortProvider::parseExtraPort(spec);
        if (!QFileInfo::exists(named.systemLocation))
            missing << named.portName;
    }
    const auto sayMissing = [&] {
        for (const QString &port : qAsConst(missing)) {
            const QString message = tr("The port %1 named with --port does not exist.").arg(port);
            if (json)
                JsonLines::write(m_out, JsonLines::error(message));
            m_err << message << Qt::endl;
        }
        return missing.isEmpty() ? 0 : 1;
    };
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
        return sayMissing();
    }
    m_out << probedPortList();
    m_out.flush();
    return sayMissing();
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
