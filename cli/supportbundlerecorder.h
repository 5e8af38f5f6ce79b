#pragma once

#include "cli/supportbundle.h"
#include "link/portinfo.h"
#include "wire/records.h"

#include <QDateTime>
#include <QList>
#include <QObject>

class ComHelper;
class Device;
class ParamsHelper;

// Keeps, in the GUI thread, what the session has shown that a support bundle carries: the
// controller's identity, the error log and run data as last read, the machine's ports and
// the connected one. Every value arrives by a queued signal and is kept as a copy.
class SupportBundleRecorder : public QObject
{
    Q_OBJECT

public:
    SupportBundleRecorder(ComHelper *comHelper, ParamsHelper *params, Device *device, QObject *parent = nullptr);

    // settingsXml: the settings file of the connected controller (ignored when none is).
    SupportBundleContent content(const QString &program, const QByteArray &settingsXml,
                                 const QString &logDirectory) const;

    void recordPorts(QList<PortInfo> zorbelPorts, QList<PortInfo> genPorts);
    void recordPortState(QString portName, bool isZorbel, bool isConnecting, bool isConnected);
    void recordConnection(uint32_t serialNumber, Device_State_e state, Device_FW_s fw);
    void recordErrorLog(ERROR_WARN_LOG log) { m_errorLog = log; }
    void recordRunData(RUN_DATA runData) { m_runData = runData; }

private:
    const Device *m_device;
    QDateTime m_sessionStart;
    QList<PortInfo> m_ports;
    QString m_connectedPort;
    bool m_deviceKnown = false;
    uint32_t m_serialNumber = 0;
    Device_FW_s m_firmware;
    std::optional<ERROR_WARN_LOG> m_errorLog;
    std::optional<RUN_DATA> m_runData;
};
