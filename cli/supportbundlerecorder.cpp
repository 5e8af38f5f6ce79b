#include "cli/supportbundlerecorder.h"

#include "device/device.h"
#include "device/paramshelper.h"
#include "link/comhelper.h"
#include "link/portreport.h"

SupportBundleRecorder::SupportBundleRecorder(ComHelper *comHelper, ParamsHelper *params, Device *device,
                                             QObject *parent)
    : QObject(parent), m_device(device), m_sessionStart(QDateTime::currentDateTime())
{
    connect(comHelper, &ComHelper::portsUpdate, this, &SupportBundleRecorder::recordPorts);
    connect(comHelper, &ComHelper::portConnectionStateChange, this, &SupportBundleRecorder::recordPortState);
    connect(params, &ParamsHelper::fillErrors, this, &SupportBundleRecorder::recordErrorLog);
    connect(params, &ParamsHelper::fillData, this, &SupportBundleRecorder::recordRunData);
    connect(device, &Device::on_connectionChanged, this, &SupportBundleRecorder::recordConnection);
}

void SupportBundleRecorder::recordPorts(QList<PortInfo> zorbelPorts, QList<PortInfo> genPorts)
{
    m_ports = zorbelPorts + genPorts;
}

void SupportBundleRecorder::recordPortState(QString portName, bool, bool, bool isConnected)
{
    m_connectedPort = isConnected ? portName : QString();
}

// The window shows the device's address; the bundle names the controller by its serial number.
void SupportBundleRecorder::recordConnection(uint32_t, Device_State_e state, Device_FW_s fw)
{
    m_deviceKnown = state == DEVICE_CONNECTED || state == DEVICE_RUNNING;
    if (!m_deviceKnown)
        return;
    // Diagnostic records of another controller do not belong to this one.
    if (m_device->serialNumber() != m_serialNumber) {
        m_errorLog.reset();
        m_runData.reset();
    }
    m_serialNumber = m_device->serialNumber();
    m_firmware = fw;
}

SupportBundleContent SupportBundleRecorder::content(const QString &program, const QByteArray &settingsXml,
                                                    const QString &logDirectory) const
{
    SupportBundleContent content;
    content.program = program;
    content.deviceKnown = m_deviceKnown;
    content.serialNumber = m_serialNumber;
    content.firmware = m_firmware;
    if (m_deviceKnown)
        content.settingsXml = settingsXml;
    content.errorLog = m_errorLog;
    content.runData = m_runData;
    // The ports are listed, not opened: the session's own port is in use.
    content.portList = PortReport::describe(m_ports);
    if (!m_connectedPort.isEmpty())
        content.portList += tr("Connected to %1.").arg(m_connectedPort) + QLatin1Char('\n');
    content.logDirectory = logDirectory;
    content.sessionStart = m_sessionStart;
    return content;
}
