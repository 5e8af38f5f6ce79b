#pragma once

#include "app/datadirectory.h"

#include <QCoreApplication>
#include <QString>

class QTextStream;
struct ResultsLocation;

// The headless commands on the results database: send the outbox (--sync-results) and print
// one controller's history (--history). Each returns the exit code.
class ResultsCommand
{
    Q_DECLARE_TR_FUNCTIONS(ResultsCommand)

public:
    // resultsDb: --results-db; empty: the data directory's SQLite file.
    ResultsCommand(const DataDirectory &dataDirectory, const QString &resultsDb, QTextStream &out, QTextStream &err);

    int syncResults();
    int history(const QString &serial, bool json);

private:
    bool locate(ResultsLocation *target, QString *outbox);
    int fail(const QString &message, bool json);

    DataDirectory m_dataDirectory;
    QString m_resultsDb;
    QTextStream &m_out;
    QTextStream &m_err;
};
