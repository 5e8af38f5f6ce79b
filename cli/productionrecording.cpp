#include "cli/productionrecording.h"

#include <QFileInfo>
#include <QTimer>

bool ProductionRecording::prepare(const Options &options, const ProductionOrder &order, const QString &settingsFile,
                                  QString *problem)
{
    m_recorder.reset();
    m_store.reset();
    m_connectTimer.reset();
    if (!options.enabled)
        return true;
    QString folderProblem;
    const QString databaseDirectory = order.dataDirectory.databaseDirectory(&folderProblem);
    if (databaseDirectory.isEmpty()) {
        *problem = tr("The results cannot be recorded: %1").arg(folderProblem);
        return false;
    }
    ResultsLocation target;
    QString outbox;
    if (!ResultsRecorder::fromUrl(options.resultsDb, databaseDirectory, &target, &outbox, problem))
        return false;
    // An outbox that is there is checked whatever the database: a damaged one would be found
    // only after the run, with the run's results then lost.
    if (QFileInfo::exists(outbox)) {
        ResultsStore outboxStore(ResultsLocation::sqlite(outbox));
        outboxStore.setWaitNotice(m_waitNotice);
        if (!outboxStore.open()) {
            *problem = tr("The results cannot be recorded: %1").arg(outboxStore.errorString());
            return false;
        }
    }
    // The data directory's own database is tried now: a run whose results could go neither
    // there nor into the outbox does not start. (A server is not asked here: when it is
    // away, the outbox keeps the results.)
    if (target.kind == ResultsLocation::Kind::Sqlite) {
        ResultsStore store(target);
        store.setWaitNotice(m_waitNotice);
        if (!store.open()) {
            ResultsStore outboxStore(ResultsLocation::sqlite(outbox));
            outboxStore.setWaitNotice(m_waitNotice);
            if (!outboxStore.open()) {
                *problem = tr("The results cannot be recorded: %1; the outbox cannot take them either: %2")
                               .arg(store.errorString(), outboxStore.errorString());
                return false;
            }
        }
    }
    m_recorder = std::make_unique<ResultsRecorder>(target, outbox);
    m_recorder->setWaitNotice(m_waitNotice);
    m_run = ResultsRecorder::newRun(options.programVersion);
    m_run.imageSha256 = ResultsRecorder::sha256OfFile(order.firmwareFile);
    m_run.settingsSha256 = order.hasSettings ? ResultsRecorder::sha256OfFile(settingsFile) : QString();
    m_run.motor = order.motorName;
    m_fields = order.hasSettings ? fieldNames(order.settings) : QStringList();
    return true;
}

void ProductionRecording::connectWhileRunning()
{
    if (!m_recorder)
        return;
    m_connectTimer = std::make_unique<QObject>();
    QTimer::singleShot(0, m_connectTimer.get(), [this] {
        m_store = std::make_unique<ResultsStore>(m_recorder->target());
        m_store->setWaitNotice(m_waitNotice);
        m_store->open(); // when it fails, record() connects again
    });
}

ProductionRecording::Recorded ProductionRecording::record(const QList<PortOutcome> &outcomes, int runExitStatus)
{
    Recorded recorded;
    recorded.exitStatus = runExitStatus;
    if (!m_recorder || outcomes.isEmpty())
        return recorded;
    RunRecord run = m_run;
    run.ended = QDateTime::currentDateTimeUtc();
    QList<ResultRecord> results;
    for (const PortOutcome &outcome : outcomes)
        results << resultOf(outcome, run.started, m_fields);
    m_connectTimer.reset(); // not connected yet: record() connects
    const ResultsRecorder::Outcome outcome = m_recorder->record(run, results, m_store.get());
    m_store.reset();
    recorded.status = outcome.status;
    recorded.message = outcome.message;
    recorded.exitStatus = exitStatus(runExitStatus, outcome.status);
    // Recorded once: a second call would make a second run of the same results.
    m_recorder.reset();
    return recorded;
}

QStringList ProductionRecording::fieldNames(const QVector<SettingsValue> &settings)
{
    QStringList names;
    for (const SettingsValue &value : settings)
        names << value.tag;
    return names;
}

ResultRecord ProductionRecording::resultOf(const PortOutcome &outcome, const QDateTime &started,
                                           const QStringList &fields)
{
    ResultRecord result;
    result.port = outcome.port;
    result.serial = outcome.serialNumber;
    result.firmwareBefore = outcome.firmwareBefore;
    result.firmwareAfter = outcome.firmwareAfter;
    result.success = outcome.success;
    result.reason = outcome.success ? QString() : outcome.result;
    result.advice = outcome.advice;
    result.milliseconds = outcome.milliseconds;
    result.finished = started.addMSecs(outcome.milliseconds);
    result.settingsFields = fields;
    return result;
}

int ProductionRecording::exitStatus(int runExitStatus, ResultsRecorder::Status status)
{
    if (runExitStatus != 0)
        return runExitStatus;
    switch (status) {
    case ResultsRecorder::Status::Recorded:
        return 0;
    case ResultsRecorder::Status::InOutbox:
        return ResultsRecorder::EXIT_RESULTS_WAITING;
    case ResultsRecorder::Status::Lost:
        break;
    }
    return 1;
}

QJsonObject ProductionRecording::summary(int succeeded, int ports, const Recorded &recorded)
{
    QString results = QStringLiteral("off");
    if (!recorded.message.isEmpty()) {
        switch (recorded.status) {
        case ResultsRecorder::Status::Recorded:
            results = QStringLiteral("recorded");
            break;
        case ResultsRecorder::Status::InOutbox:
            results = QStringLiteral("outbox");
            break;
        case ResultsRecorder::Status::Lost:
            results = QStringLiteral("lost");
            break;
        }
    }
    return QJsonObject {{QStringLiteral("event"), QStringLiteral("summary")},
                        {QStringLiteral("succeeded"), succeeded},
                        {QStringLiteral("ports"), ports},
                        {QStringLiteral("results"), results},
                        {QStringLiteral("results_message"), recorded.message},
                        {QStringLiteral("exit_status"), recorded.exitStatus}};
}
