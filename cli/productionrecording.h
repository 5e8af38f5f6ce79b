#pragma once

#include "cli/productionjob.h"
#include "results/resultsrecorder.h"

#include <QCoreApplication>
#include <QJsonObject>
#include <QObject>
#include <QList>
#include <QString>

#include <memory>

// The results of a production run (or of one --flash) go into the results database: where
// they go is checked before any controller is touched, and the run is recorded once at its
// end, with every port's result.
class ProductionRecording
{
    Q_DECLARE_TR_FUNCTIONS(ProductionRecording)

public:
    struct Options
    {
        bool enabled = false;   // off: nothing is recorded (the line's own tests)
        QString resultsDb;      // --results-db; empty: the data directory's SQLite file
        QString programVersion;
    };

    struct Recorded
    {
        ResultsRecorder::Status status = ResultsRecorder::Status::Recorded;
        QString message;        // empty when nothing was to be recorded
        int exitStatus = 0;     // the run's exit status once its results are taken into account
    };

    // Before the run: false with the reason when the results could go nowhere (a URL that is
    // none, a missing database driver, no database folder). Notes the run's start.
    bool prepare(const Options &options, const ProductionOrder &order, const QString &settingsFile, QString *problem);

    // At the end of the run. `runExitStatus`: 0 when every port succeeded. A failed run stays
    // failed; a good one whose results wait in the outbox ends with
    // ResultsRecorder::EXIT_RESULTS_WAITING, and one whose results were lost with 1.
    Recorded record(const QList<PortOutcome> &outcomes, int runExitStatus);

    bool isEnabled() const { return m_recorder != nullptr; }

    // Told when a results database is locked by another program and the run waits for it.
    void setWaitNotice(const ResultsStore::WaitNotice &notice) { m_waitNotice = notice; }

    // Connects to the results database as soon as the calling thread's event loop runs
    // (while the controllers are worked on in their threads), so that the end of the run
    // only writes. A database that cannot be reached then is tried again at the end.
    void connectWhileRunning();

    // The changed settings fields, as the settings file names them.
    static QStringList fieldNames(const QVector<SettingsValue> &settings);
    static ResultRecord resultOf(const PortOutcome &outcome, const QDateTime &started, const QStringList &fields);
    static int exitStatus(int runExitStatus, ResultsRecorder::Status status);
    // --json: {"event":"summary","succeeded":…,"ports":…,"results":"recorded"|"outbox"|"lost"|"off",
    // "results_message":…,"exit_status":…}
    static QJsonObject summary(int succeeded, int ports, const Recorded &recorded);

private:
    std::unique_ptr<ResultsRecorder> m_recorder;
    std::unique_ptr<ResultsStore> m_store;    // opened while the run goes on
    std::unique_ptr<QObject> m_connectTimer;  // the early connection, cancelled with this object
    ResultsStore::WaitNotice m_waitNotice;
    RunRecord m_run;
    QStringList m_fields;
};
