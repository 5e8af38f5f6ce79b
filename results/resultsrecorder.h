#pragma once

#include "results/resultsstore.h"

#include <QCoreApplication>
#include <QList>
#include <QString>

// Records a run's results where they belong, and keeps them in the local outbox (SQLite in
// the database folder) when that database cannot take them: a result is never lost silently
// and never written twice. The outbox is sent with the next recorded run or with sync().
// Use it in one thread (its stores hold connections of their own).
class ResultsRecorder
{
    Q_DECLARE_TR_FUNCTIONS(ResultsRecorder)

public:
    // The exit status of a run whose controllers all succeeded but whose results wait in
    // the outbox.
    static constexpr int EXIT_RESULTS_WAITING = 3;

    enum class Status {
        Recorded,  // in the results database
        InOutbox,  // the database could not take them; they wait in the outbox
        Lost,      // neither the database nor the outbox could take them
    };

    struct Outcome
    {
        Status status = Status::Lost;
        QString message;       // for the user: where the results are, or why they are not
        int outboxSent = 0;    // earlier runs sent from the outbox on the way
    };

    struct SyncOutcome
    {
        bool ok = false;       // every run of the outbox was sent
        int sent = 0;          // runs sent now
        int waiting = 0;       // runs still in the outbox
        QString error;
    };

    ResultsRecorder(const ResultsLocation &target, const QString &outboxFile);

    // The location of `url` (empty: the results file in `databaseDirectory`), with the outbox
    // in `databaseDirectory`; false with the reason when the URL is not one or its database
    // driver is missing.
    static bool fromUrl(const QString &url, const QString &databaseDirectory, ResultsLocation *target,
                        QString *outboxFile, QString *error);

    // A new run: its id, this station and its operator; the caller fills in the rest.
    static RunRecord newRun(const QString &programVersion);
    // SHA-256 of a regular file's content as hex; empty for an empty name, an unreadable
    // file or anything but a regular file.
    static QString sha256OfFile(const QString &fileName);

    // `openStore`: a store on the target opened earlier (while the run went on), tried
    // first; when it fails, a new connection is tried once, then the outbox.
    Outcome record(const RunRecord &run, const QList<ResultRecord> &results, ResultsStore *openStore = nullptr);
    // Sends every run of the outbox, each once, and removes it there once the database has it.
    // `openTarget`: a store on the target already open, used instead of a new connection.
    SyncOutcome sync(ResultsStore *openTarget = nullptr);

    // Handed to every store this recorder opens: a lock waited for is said.
    void setWaitNotice(const ResultsStore::WaitNotice &notice) { m_waitNotice = notice; }

    const ResultsLocation &target() const { return m_target; }
    QString outboxFile() const { return m_outboxFile; }

private:
    ResultsLocation m_target;
    QString m_outboxFile;
    ResultsStore::WaitNotice m_waitNotice;
};
