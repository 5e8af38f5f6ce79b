#include "cli/supportbundle.h"

#include "cli/filechecks.h"
#include "cli/zipwriter.h"
#include "device/escsettingstext.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

const QString SupportBundle::VERSIONS_ENTRY = QStringLiteral("versions.txt");
const QString SupportBundle::PORTS_ENTRY = QStringLiteral("ports.txt");
const QString SupportBundle::SETTINGS_ENTRY = QStringLiteral("settings.xml");
const QString SupportBundle::ERROR_LOG_ENTRY = QStringLiteral("error-log.txt");
const QString SupportBundle::RUN_DATA_ENTRY = QStringLiteral("run-data.txt");
const QString SupportBundle::LINE_CAPTURE_ENTRY = QStringLiteral("line.pcap");
const QString SupportBundle::DEVICE_LOG_DIR = QStringLiteral("device-logs/");

namespace {

QString plainLines(const QStringList &lines)
{
    static const QRegularExpression markup(QStringLiteral("<[^>]*>"));
    QString text;
    for (QString line : lines)
        text += line.remove(markup) + QLatin1Char('\n');
    return text;
}

QByteArray readLogTail(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    if (file.size() > SupportBundle::MAX_LOG_BYTES)
        file.seek(file.size() - SupportBundle::MAX_LOG_BYTES);
    return file.read(SupportBundle::MAX_LOG_BYTES);
}

} // namespace

QStringList SupportBundle::deviceLogs(const QString &logDirectory, const QDateTime &since)
{
    if (logDirectory.isEmpty())
        return {};
    // Only a folder that is itself in the data directory, not a link to a folder elsewhere:
    // the bundle carries this program's logs, never another folder's files.
    const QFileInfo folderInfo(QDir::cleanPath(QDir(logDirectory).absolutePath()));
    const QString folder = folderInfo.canonicalFilePath();
    const QString parent = QFileInfo(folderInfo.absolutePath()).canonicalFilePath();
    if (folderInfo.isSymLink() || folder.isEmpty() || parent.isEmpty()
        || folder != QDir(parent).filePath(folderInfo.fileName()))
        return {};
    // Only the folder's own regular files: no link (it may lead anywhere), no FIFO or device.
    QFileInfoList logs;
    for (const QFileInfo &log : QDir(logDirectory).entryInfoList({QStringLiteral("*.log")},
                                                                 QDir::Files | QDir::NoSymLinks,
                                                                 QDir::Time | QDir::Reversed)) {
        if (!folder.isEmpty() && QFileInfo(log.canonicalPath()).canonicalFilePath() == folder
            && FileChecks::inputProblem(log.absoluteFilePath()).isEmpty())
            logs << log;
    }
    QStringList paths;
    for (const QFileInfo &log : qAsConst(logs)) {
        if (since.isValid() && log.lastModified() >= since)
            paths.append(log.absoluteFilePath());
    }
    if (paths.isEmpty() && !logs.isEmpty())
        paths.append(logs.constLast().absoluteFilePath());
    return paths;
}

QString SupportBundle::versionsText(const SupportBundleContent &content)
{
    QString text = tr("Program: %1 (Qt %2)").arg(content.program, QString::fromLatin1(qVersion())) + QLatin1Char('\n');
    if (content.deviceKnown) {
        text += tr("Controller: serial number %1, firmware %2.%3.%4")
                    .arg(content.serialNumber)
                    .arg(content.firmware.fw_h)
                    .arg(content.firmware.fw_m)
                    .arg(content.firmware.fw_l)
              + QLatin1Char('\n');
    } else {
        text += tr("Controller: none connected") + QLatin1Char('\n');
    }
    QStringList missing;
    if (content.settingsXml.isEmpty())
        missing << tr("the settings (no controller connected)");
    if (!content.errorLog)
        missing << tr("the error log (not read from the controller in this session)");
    if (!content.runData)
        missing << tr("the last run data (not read from the controller in this session)");
    if (!missing.isEmpty())
        text += tr("Not in this bundle: %1.").arg(missing.join(QStringLiteral("; "))) + QLatin1Char('\n');
    return text;
}

QString SupportBundle::errorLogText(const ERROR_WARN_LOG &log)
{
    const struct {
        QString title;
        uint32_t errors;
        uint32_t warnings;
    } views[] = {
        {tr("Last"), log.lastErrors, log.lastWarnings},
        {tr("Previous"), log.prevErrors, log.prevWarnings},
        {tr("All"), log.allErrors, log.allWarnings},
    };
    QString text;
    for (const auto &view : views) {
        const QStringList lines = EscSettingsText::errorLogLines(view.errors, view.warnings);
        text += QStringLiteral("== %1 ==\n").arg(view.title)
                + (lines.isEmpty() ? tr("no errors or warnings") + QLatin1Char('\n') : plainLines(lines));
    }
    return text;
}

QString SupportBundle::runDataText(const RUN_DATA &runData)
{
    return plainLines(EscSettingsText::runDataLines(runData));
}

bool SupportBundle::write(const QString &fileName, const SupportBundleContent &content, QString *error)
{
    const QString targetProblem = FileChecks::outputProblem(fileName);
    if (!targetProblem.isEmpty()) {
        if (error)
            *error = targetProblem;
        return false;
    }
    ZipWriter zip;
    bool added = zip.addEntry(VERSIONS_ENTRY, versionsText(content).toUtf8())
                 && zip.addEntry(PORTS_ENTRY, content.portList.toUtf8());
    if (!content.settingsXml.isEmpty())
        added = added && zip.addEntry(SETTINGS_ENTRY, content.settingsXml);
    if (content.errorLog)
        added = added && zip.addEntry(ERROR_LOG_ENTRY, errorLogText(*content.errorLog).toUtf8());
    if (content.runData)
        added = added && zip.addEntry(RUN_DATA_ENTRY, runDataText(*content.runData).toUtf8());
    if (!content.linePcap.isEmpty())
        added = added && zip.addEntry(LINE_CAPTURE_ENTRY, content.linePcap);
    for (const QString &log : deviceLogs(content.logDirectory, content.sessionStart))
        added = added && zip.addEntry(DEVICE_LOG_DIR + QFileInfo(log).fileName(), readLogTail(log));
    if (!added) {
        if (error)
            *error = tr("An entry cannot be added to the archive.");
        return false;
    }
    return zip.write(fileName, error);
}
