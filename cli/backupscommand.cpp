#include "cli/backupscommand.h"

#include "app/appbase.h"
#include "cli/filechecks.h"
#include "cli/jsonlines.h"
#include "cli/namedportsprovider.h"
#include "cli/terminaltext.h"
#include "device/settingsfielddiff.h"
#include "device/settingsrecords.h"
#include "device/settingssnapshots.h"
#include "link/comhelper.h"
#include "recording/wholefile.h"

#include <QEventLoop>
#include <QFile>
#include <QJsonObject>
#include <QPair>
#include <QTextStream>
#include <QTimer>

BackupsCommand::BackupsCommand(const DataDirectory &dataDirectory, QTextStream &out, QTextStream &err)
    : m_dataDirectory(dataDirectory), m_out(out), m_err(err)
{
}

int BackupsCommand::fail(const QString &message, int code)
{
    if (m_json)
        JsonLines::write(m_out, JsonLines::error(message));
    m_err << message << Qt::endl;
    return code;
}

namespace {

// --backups --json: {"event":"backup","id":…,"file":…,"time":…,"serial":…,"firmware":…,"reason":…};
// id 0 for a backup kept in a file.
QJsonObject backupObject(qint64 id, const QString &file, const SettingsSnapshot &s)
{
    return QJsonObject {{QStringLiteral("event"), QStringLiteral("backup")},
                        {QStringLiteral("id"), id},
                        {QStringLiteral("file"), file},
                        {QStringLiteral("time"), s.time.toUTC().toString(Qt::ISODate)},
                        {QStringLiteral("serial"), s.serialNumber},
                        {QStringLiteral("firmware"), s.firmware},
                        {QStringLiteral("reason"), s.reason}};
}

} // namespace

int BackupsCommand::list(const QString &serial)
{
    if (!m_dataDirectory.isValid())
        return fail(m_dataDirectory.errorString(), 1);
    QString problem;
    const QString databaseDirectory = m_dataDirectory.databaseDirectory(&problem);
    SettingsSnapshots store(databaseDirectory, m_dataDirectory.path());
    QVector<SettingsSnapshot> snapshots;
    const bool read = store.list(serial, &snapshots, &problem);
    if (!read)
        fail(tr("The backups in %1 cannot be read: %2").arg(store.databaseFilePath(), problem), 1);
    const auto line = [](const QString &first, const SettingsSnapshot &s) {
        return QStringLiteral("%1\t%2\t%3\t%4\t%5")
            .arg(TerminalText::escaped(first), s.time.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")),
                 TerminalText::escaped(s.serialNumber), TerminalText::escaped(s.firmware),
                 TerminalText::escaped(s.reason));
    };
    // Backups the database could not take, kept as files: restored by their file name.
    QVector<QPair<QString, SettingsSnapshot>> files;
    for (const QString &path : store.backupFiles()) {
        // Only regular files: a FIFO named like a backup would hold the listing for ever.
        QByteArray text;
        QString problem;
        SettingsSnapshot s;
        if (WholeFile::read(path, SettingsDocument::MAX_FILE_SIZE, &text, &problem)
            && SettingsSnapshot::fromFileText(text, &s) && (serial.isEmpty() || s.serialNumber == serial))
            files.append({path, s});
    }
    if (m_json) {
        for (const SettingsSnapshot &s : qAsConst(snapshots))
            JsonLines::write(m_out, backupObject(s.id, QString(), s));
        for (const auto &file : qAsConst(files))
            JsonLines::write(m_out, backupObject(0, file.first, file.second));
        return read ? 0 : 1;
    }
    if (!snapshots.isEmpty()) {
        m_out << QStringLiteral("id\ttime\tserial\tfirmware\treason") << Qt::endl;
        for (const SettingsSnapshot &s : qAsConst(snapshots))
            m_out << line(QString::number(s.id), s) << Qt::endl;
    }
    if (!files.isEmpty()) {
        m_out << tr("Backups kept in files (the database could not take them):") << Qt::endl;
        m_out << QStringLiteral("file\ttime\tserial\tfirmware\treason") << Qt::endl;
        for (const auto &file : qAsConst(files))
            m_out << line(file.first, file.second) << Qt::endl;
    }
    if (read && snapshots.isEmpty() && files.isEmpty())
        m_out << (serial.isEmpty() ? tr("No settings backups.") : tr("No settings backups of the controller %1.").arg(serial))
              << Qt::endl;
    return read ? 0 : 1;
}

int BackupsCommand::prune(int days)
{
    if (!m_dataDirectory.isValid())
        return fail(m_dataDirectory.errorString(), 1);
    QString problem;
    SettingsSnapshots store(m_dataDirectory.databaseDirectory(&problem), m_dataDirectory.path());
    const QDateTime now = QDateTime::currentDateTimeUtc();
    const int removed = store.prune(days, now, &problem);
    if (removed < 0)
        return fail(tr("The backups in %1 cannot be pruned: %2").arg(store.databaseFilePath(), problem), 1);
    // The backup files are backups as well: a prune that left them would keep what it says it removed.
    QStringList kept;
    const int removedFiles = store.pruneFiles(days, now, &kept);
    m_out << tr("Settings backups older than %1 days removed: %2 from the database, %3 backup files.")
                 .arg(days)
                 .arg(removed)
                 .arg(removedFiles)
          << Qt::endl;
    if (!kept.isEmpty())
        return fail(tr("These backup files cannot be removed: %1").arg(kept.join(QStringLiteral(", "))), 1);
    return 0;
}

int BackupsCommand::diffSettings(PortProvider *ports, const QString &portName, const QString &fileName,
                                 int findTimeoutMs)
{
    // The file first: a file that cannot be written as it is, is no comparison.
    const QString fileProblem = FileChecks::inputProblem(fileName);
    if (!fileProblem.isEmpty())
        return fail(fileProblem, DiffError);
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        return fail(tr("The settings file %1 cannot be opened.").arg(fileName), DiffError);
    const ImportedSettings settings = SettingsDocument::parse(file.read(SettingsDocument::MAX_FILE_SIZE + 1));
    if (settings.status != ImportedSettings::Status::Ok)
        return fail(tr("The file %1 holds no ESC settings.").arg(fileName), DiffError);
    if (!settings.refused.isEmpty())
        return fail(SettingsDocument::refusedValuesText(settings.refused), DiffError);
    if (settings.values.isEmpty())
        return fail(tr("The file %1 names no setting the controller knows.").arg(fileName), DiffError);
    const QStringList limited = SettingsRecords::apply(settings.values, {}, {}).limited;
    if (!limited.isEmpty())
        return fail(tr("Values of the file %1 are out of range: %2").arg(fileName, limited.join(QStringLiteral(", "))),
                    DiffError);
    if (!m_dataDirectory.isValid())
        return fail(m_dataDirectory.errorString(), DiffError);

    // Then the controller's records, read as the window reads them; nothing is written.
    NamedPortsProvider named(ports, {portName});
    AppBase app(&named, m_dataDirectory);
    ComHelper *com = app.comHelper();
    QEventLoop loop;
    bool read = false;
    QObject::connect(com, &ComHelper::needPortSelectAndInform, &loop, [&](QList<PortInfo> present, bool) {
        for (const PortInfo &port : present) {
            if (port.portName == portName) {
                com->selectPort(portName);
                return;
            }
        }
        com->portSelectionCanceled();
    });
    QTimer watch;
    watch.setInterval(AppBase::TICK_MS);
    QObject::connect(&watch, &QTimer::timeout, &loop, [&] {
        const Device_State_e state = app.deviceState();
        Device *device = app.device();
        if ((state == DEVICE_CONNECTED || state == DEVICE_RUNNING) && !device->isReadBatchRunning()
            && device->state() == state) {
            read = device->hasRead(Device::READ_PWM_IN) && device->hasRead(Device::READ_MOTION);
            loop.quit();
        }
    });
    QTimer giveUp;
    giveUp.setSingleShot(true);
    QObject::connect(&giveUp, &QTimer::timeout, &loop, &QEventLoop::quit);
    app.startClock();
    com->startPortSelection();
    watch.start();
    giveUp.start(findTimeoutMs);
    loop.exec();
    watch.stop();
    app.stopTimer();

    const Device_State_e state = app.deviceState();
    if (state != DEVICE_CONNECTED && state != DEVICE_RUNNING)
        return fail(tr("No controller was found on %1.").arg(portName), DiffError);
    if (!read)
        return fail(tr("The controller's settings could not be read."), DiffError);
    const Device *device = app.device();
    const SettingsRecords fromFile = SettingsRecords::apply(settings.values, device->pwmInParams(), device->motionParams());
    QVector<SettingsFieldChange> changes =
        SettingsFieldDiff::between(device->pwmInParams(), device->motionParams(), fromFile.pwmIn, fromFile.motion);
    // A value the controller keeps (its address from its hardware) differs all the same.
    for (const QString &tag : fromFile.skipped) {
        for (const SettingsValue &value : settings.values) {
            if (value.tag == tag && value.field == SettingsValue::DeviceAddress
                && int(value.value) != device->motionParams().deviceAddress)
                changes.append({tag, tr("%1 (from its hardware)").arg(device->motionParams().deviceAddress),
                                QString::number(value.value)});
        }
    }
    if (m_json) {
        // {"event":"difference","field":…,"controller":…,"file":…} per field, then
        // {"event":"compared","port":…,"serial":…,"settings_file":…,"differences":…,"exit_status":…}
        for (const SettingsFieldChange &change : qAsConst(changes))
            JsonLines::write(m_out, QJsonObject {{QStringLiteral("event"), QStringLiteral("difference")},
                                                 {QStringLiteral("field"), change.tag},
                                                 {QStringLiteral("controller"), change.before},
                                                 {QStringLiteral("file"), change.after}});
        JsonLines::write(m_out, QJsonObject {{QStringLiteral("event"), QStringLiteral("compared")},
                                             {QStringLiteral("port"), portName},
                                             {QStringLiteral("serial"), QString::number(device->serialNumber())},
                                             {QStringLiteral("settings_file"), fileName},
                                             {QStringLiteral("differences"), changes.size()},
                                             {QStringLiteral("exit_status"), changes.isEmpty() ? Equal : Differ}});
        return changes.isEmpty() ? Equal : Differ;
    }
    m_out << tr("Controller %1 on %2, settings file %3").arg(device->serialNumber()).arg(portName, fileName) << Qt::endl;
    if (changes.isEmpty()) {
        m_out << tr("The controller holds the settings of the file.") << Qt::endl;
        return Equal;
    }
    m_out << QStringLiteral("field\tcontroller\tfile") << Qt::endl;
    for (const SettingsFieldChange &change : qAsConst(changes))
        m_out << QStringLiteral("%1\t%2\t%3").arg(change.tag, change.before, change.after) << Qt::endl;
    m_out << tr("Fields that differ: %1.").arg(changes.size()) << Qt::endl;
    return Differ;
}
