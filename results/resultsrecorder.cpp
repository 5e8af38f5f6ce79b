#include "results/resultsrecorder.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSysInfo>
#include <QUuid>

#include <pwd.h>
#include <unistd.h>

ResultsRecorder::ResultsRecorder(const ResultsLocation &target, const QString &outboxFile)
    : m_target(target), m_outboxFile(outboxFile)
{
}

bool ResultsRecorder::fromUrl(const QString &url, const QString &databaseDirectory, ResultsLocation *target,
                              QString *outboxFile, QString *error)
{
    ResultsLocation location = ResultsLocation::sqlite(QDir(databaseDirectory).filePath(QLatin1String(ResultsStore::FILE_NAME)));
    if (!url.isEmpty() && !ResultsLocation::parse(url, &location, error))
        return false;
    if (!location.driverAvailable()) {
        if (error)
            *error = tr("The database driver %1 is missing (for PostgreSQL: the package libqt5sql5-psql).")
                         .arg(location.driverName());
        return false;
    }
    *target = location;
    *outboxFile = QDir(databaseDirectory).filePath(QLatin1String(ResultsStore::OUTBOX_NAME));
    return true;
}

RunRecord ResultsRecorder::newRun(const QString &programVersion)
{
    RunRecord run;
    run.id = QUuid::createUuid().toString(QUuid::WithoutBraces);
    run.station = QSysInfo::machineHostName();
    const passwd *user = ::getpwuid(::geteuid());
    run.operatorName = user && user->pw_name ? QString::fromLocal8Bit(user->pw_name) : qEnvironmentVariable("USER");
    run.programVersion = programVersion;
    run.started = QDateTime::currentDateTimeUtc();
    return run;
}

QString ResultsRecorder::sha256OfFile(const QString &fileName)
{
    // Only a regular file: reading a FIFO or a device would never end.
    if (fileName.isEmpty() || !QFileInfo(fileName).isFile())
        return QString();
    QFile file(fileName);
    QCryptographicHash hash(QCryptographicHash::Sha256);
    if (!file.open(QIODevice::ReadOnly) || !hash.addData(&file))
        return QString();
    return QString::fromLatin1(hash.result().toHex());
}

ResultsRecorder::Outcome ResultsRecorder::record(const RunRecord &run, const QList<ResultRecord> &results,
                                                 ResultsStore *openStore)
{
    Outcome outcome;
    ResultsStore store(m_target);
    store.setWaitNotice(m_waitNotice);
    // A connection held since the start may have been dropped meanwhile: then a new one.
    ResultsStore *used = openStore;
    if (!(openStore && openStore->isOpen() && openStore->record(run, results)))
        used = store.record(run, results) ? &store : nullptr;
    const bool recorded = used != nullptr;
    if (recorded) {
        outcome.status = Status::Recorded;
        outcome.message = tr("The results are recorded in %1.").arg(m_target.displayName());
        // The server is back: what waited in the outbox goes along.
        if (QFileInfo::exists(m_outboxFile)) {
            const SyncOutcome sent = sync(used);
            outcome.outboxSent = sent.sent;
            if (sent.sent > 0)
                outcome.message += QLatin1Char(' ') + tr("Earlier runs sent from the outbox: %1.").arg(sent.sent);
            if (sent.waiting > 0)
                outcome.message += QLatin1Char(' ')
                                   + tr("Earlier runs still waiting in the outbox: %1 (%2).").arg(sent.waiting).arg(sent.error);
        }
        return outcome;
    }
    const QString cause = store.errorString();
    ResultsStore outbox(ResultsLocation::sqlite(m_outboxFile));
    outbox.setWaitNotice(m_waitNotice);
    if (outbox.record(run, results)) {
        outcome.status = Status::InOutbox;
        outcome.message = tr("The results database cannot take the results (%1): the results wait in the outbox %2. "
                             "Send them with --sync-results.")
                              .arg(cause, m_outboxFile);
        return outcome;
    }
    outcome.status = Status::Lost;
    outcome.message = tr("The results could not be recorded: %1; the outbox %2 cannot take them either: %3")
                          .arg(cause, m_outboxFile, outbox.errorString());
    return outcome;
}

ResultsRecorder::SyncOutcome ResultsRecorder::sync(ResultsStore *openTarget)
{
    SyncOutcome outcome;
    if (!QFileInfo::exists(m_outboxFile)) {
        outcome.ok = true;
        return outcome;
    }
    ResultsStore outbox(ResultsLocation::sqlite(m_outboxFile));
    outbox.setWaitNotice(m_waitNotice);
    bool listed = false;
    const QStringList ids = outbox.runIds(&listed);
    if (!listed) {
        outcome.error = outbox.errorString();
        return outcome;
    }
    outcome.waiting = ids.size();
    if (ids.isEmpty()) {
        outcome.ok = true;
        return outcome;
    }
    ResultsStore ownTarget(m_target);
    ownTarget.setWaitNotice(m_waitNotice);
    ResultsStore &target = openTarget ? *openTarget : ownTarget;
    for (const QString &id : ids) {
        RunRecord run;
        QList<ResultRecord> results;
        if (!outbox.loadRun(id, &run, &results)) {
            outcome.error = outbox.errorString();
            return outcome;
        }
        // Sent first, removed after: a run sent twice (the removal failed, or two stations
        // share the outbox) adds nothing the second time.
        if (!target.record(run, results)) {
            outcome.error = target.errorString();
            return outcome;
        }
        if (!outbox.removeRun(id)) {
            outcome.error = outbox.errorString();
            return outcome;
        }
        ++outcome.sent;
        --outcome.waiting;
    }
    outcome.ok = true;
    return outcome;
}
