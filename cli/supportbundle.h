#pragma once

#include "wire/records.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QString>
#include <QStringList>

#include <optional>

// What a support bundle holds: only what the user saw or can see in the program.
struct SupportBundleContent
{
    QString program;                       // product name and version
    bool deviceKnown = false;              // a controller is connected
    uint32_t serialNumber = 0;
    Device_FW_s firmware;
    QByteArray settingsXml;                // the settings file of the connected controller; empty: none
    std::optional<ERROR_WARN_LOG> errorLog; // as last read in this session
    std::optional<RUN_DATA> runData;       // as last read in this session
    QString portList;                      // the port report
    QString logDirectory;                  // the device logs are taken from here
    QDateTime sessionStart;                // logs written since then; invalid: the newest log only
    QByteArray linePcap;                   // the serial line's last minutes (pcap); empty: none
};

// A zip file for whoever helps the user: the versions, the machine's ports, the device
// logs of the session and, when a controller is connected, its settings, error log,
// last run data and the serial line's last minutes. No file from outside the data directory.
class SupportBundle
{
    Q_DECLARE_TR_FUNCTIONS(SupportBundle)

public:
    static const QString VERSIONS_ENTRY;   // "versions.txt"
    static const QString PORTS_ENTRY;      // "ports.txt"
    static const QString SETTINGS_ENTRY;   // "settings.xml"
    static const QString ERROR_LOG_ENTRY;  // "error-log.txt"
    static const QString RUN_DATA_ENTRY;   // "run-data.txt"
    static const QString LINE_CAPTURE_ENTRY; // "line.pcap"
    static const QString DEVICE_LOG_DIR;   // "device-logs/"

    // A larger log is cut to its end.
    static constexpr qint64 MAX_LOG_BYTES = 8 * 1024 * 1024;

    // The device logs (*.log, absolute paths) written since `since`, oldest first; when
    // there are none (or since is invalid) the newest one alone.
    static QStringList deviceLogs(const QString &logDirectory, const QDateTime &since);

    static bool write(const QString &fileName, const SupportBundleContent &content, QString *error);

    // Plain text of the diagnostic views, without the pages' markup.
    static QString versionsText(const SupportBundleContent &content);
    static QString errorLogText(const ERROR_WARN_LOG &log);
    static QString runDataText(const RUN_DATA &runData);
};
