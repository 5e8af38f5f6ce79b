// Results benchmark: what recording adds to a production run, and how fast one controller's
// history comes back from a database holding 100 000 results.
//
// 1. Recording: ResultsRecorder::record() for a run of eight ports (connect, schema check,
//    one transaction), repeated; into a fresh database and into one that holds the big table.
// 2. History: ResultsStore::history() for one serial among 100 000 results (20 000
//    controllers, five runs each), and the whole `kordoman --history SERIAL` command
//    (process start included).
//
// SQLite in a temporary folder; with --postgres also a PostgreSQL server of its own (as the
// tests start it).
//
//   build/bin/bench_results [--results 100000] [--runs 20] [--postgres]

#include "results/resultsrecorder.h"
#include "results/resultsstore.h"
#include "tests/common/postgresserver.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

constexpr int PORTS = 8;
constexpr int RUNS_PER_CONTROLLER = 5;

struct Figures
{
    double median = 0;
    double max = 0;
};

Figures figures(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return Figures {values[values.size() / 2], values.back()};
}

QList<ResultRecord> portsOf(int runIndex)
{
    QList<ResultRecord> results;
    for (int p = 0; p < PORTS; ++p) {
        ResultRecord result;
        result.port = QStringLiteral("/dev/ttyUSB%1").arg(p);
        result.serial = QString::number(900000 + runIndex * PORTS + p);
        result.firmwareBefore = QStringLiteral("1.2.3");
        result.firmwareAfter = QStringLiteral("1.3.0");
        result.success = true;
        result.milliseconds = 4200;
        result.finished = QDateTime::currentDateTimeUtc();
        result.settingsFields = QStringList {QStringLiteral("dead_zone"), QStringLiteral("ttl")};
        results << result;
    }
    return results;
}

// Milliseconds of each recorded run.
std::vector<double> timeRecording(const ResultsLocation &target, const QString &outbox, int runs, int firstIndex)
{
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        RunRecord run = ResultsRecorder::newRun(QStringLiteral("bench"));
        run.ended = run.started.addSecs(5);
        const QList<ResultRecord> results = portsOf(firstIndex + i);
        ResultsRecorder recorder(target, outbox);
        QElapsedTimer clock;
        clock.start();
        const ResultsRecorder::Outcome outcome = recorder.record(run, results);
        times.push_back(double(clock.nsecsElapsed()) / 1e6);
        if (outcome.status != ResultsRecorder::Status::Recorded) {
            std::fprintf(stderr, "not recorded: %s\n", qPrintable(outcome.message));
            return {};
        }
    }
    return times;
}

// `count` results of 20 000 controllers (five runs each, eight ports per run), in one
// transaction through a connection of its own; the schema made by the store first.
bool fill(const ResultsLocation &location, int count)
{
    {
        ResultsStore store(location);
        if (!store.open()) {
            std::fprintf(stderr, "%s\n", qPrintable(store.errorString()));
            return false;
        }
    }
    bool ok = true;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(location.driverName(), QStringLiteral("fill"));
        if (location.kind == ResultsLocation::Kind::Sqlite) {
            db.setDatabaseName(location.file);
        } else {
            db.setHostName(location.host);
            db.setPort(location.port);
            db.setUserName(location.user);
            db.setDatabaseName(location.database);
        }
        ok = db.open() && db.transaction();
        QSqlQuery run(db);
        QSqlQuery result(db);
        ok = ok
             && run.prepare(QStringLiteral("INSERT INTO runs VALUES (?, 'station', 'operator', ?, ?, 'bench', '', '', '')"))
             && result.prepare(QStringLiteral("INSERT INTO results VALUES (?, ?, ?, '1.2.3', '1.3.0', 'ok', '', '', "
                                              "4200, ?, 'dead_zone,ttl')"));
        const int runs = count / PORTS;
        const int controllers = count / RUNS_PER_CONTROLLER;
        const QDateTime t0 = QDateTime::fromString(QStringLiteral("2026-01-01T00:00:00.000Z"), Qt::ISODateWithMs);
        for (int r = 0; ok && r < runs; ++r) {
            const QString id = QStringLiteral("bench-%1").arg(r);
            const QString time = t0.addSecs(r * 60).toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss.zzzZ"));
            run.addBindValue(id);
            run.addBindValue(time);
            run.addBindValue(time);
            ok = run.exec();
            for (int p = 0; ok && p < PORTS; ++p) {
                result.addBindValue(id);
                result.addBindValue(QStringLiteral("/dev/ttyUSB%1").arg(p));
                result.addBindValue(QString::number((r * PORTS + p) % controllers));
                result.addBindValue(time);
                ok = result.exec();
            }
        }
        if (!ok)
            std::fprintf(stderr, "fill: %s %s\n", qPrintable(run.lastError().text()), qPrintable(result.lastError().text()));
        ok = ok && db.commit();
        // The statistics a database that grew over months has (autovacuum gathers them
        // soon after a bulk insert; without them PostgreSQL may scan every run).
        QSqlQuery analyze(db);
        ok = ok && analyze.exec(QStringLiteral("ANALYZE"));
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("fill"));
    return ok;
}

// Milliseconds of opening a store (connect and schema check), and of recording a run into
// a store already open.
void timeParts(const ResultsLocation &target, int runs, int firstIndex, std::vector<double> *opens,
               std::vector<double> *writes)
{
    for (int i = 0; i < runs; ++i) {
        RunRecord run = ResultsRecorder::newRun(QStringLiteral("bench"));
        run.ended = run.started.addSecs(5);
        const QList<ResultRecord> results = portsOf(firstIndex + i);
        ResultsStore store(target);
        QElapsedTimer clock;
        clock.start();
        if (!store.open())
            return;
        opens->push_back(double(clock.nsecsElapsed()) / 1e6);
        clock.restart();
        if (!store.record(run, results))
            return;
        writes->push_back(double(clock.nsecsElapsed()) / 1e6);
    }
}

void report(const char *what, const std::vector<double> &times)
{
    if (times.empty())
        return;
    const Figures f = figures(times);
    std::printf("  %-58s median %7.2f ms  max %7.2f ms  (%zu)\n", what, f.median, f.max, times.size());
}

void benchLocation(const char *name, const ResultsLocation &target, const QString &workDir, int count, int runs,
                   const QString &resultsDbOption)
{
    std::printf("%s\n", name);
    const QString outbox = QDir(workDir).filePath(QStringLiteral("outbox.sqlite"));
    report("record a run of 8 ports, empty database", timeRecording(target, outbox, runs, 0));
    QElapsedTimer clock;
    clock.start();
    if (!fill(target, count))
        return;
    std::printf("  filled with %d results in %.1f s\n", count, double(clock.elapsed()) / 1000.0);
    report("record a run of 8 ports, database with the results above", timeRecording(target, outbox, runs, runs));
    std::vector<double> opens;
    std::vector<double> writes;
    timeParts(target, runs, 2 * runs, &opens, &writes);
    report("  of which: open the store (connect, schema check)", opens);
    report("  of which: write the run, store open", writes);

    std::vector<double> queries;
    int found = 0;
    for (int i = 0; i < runs; ++i) {
        ResultsStore store(target);
        if (!store.open())
            return;
        QElapsedTimer query;
        query.start();
        found = store.history(QString::number(1234 + i)).size();
        queries.push_back(double(query.nsecsElapsed()) / 1e6);

    }
    std::printf("  history of one controller: %d results\n", found);
    report("ResultsStore::history(), store open", queries);

    const QString program = QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("kordoman"));
    std::vector<double> commands;
    for (int i = 0; i < std::min(runs, 10); ++i) {
        QProcess process;
        QStringList arguments {QStringLiteral("--history"), QString::number(4321 + i), QStringLiteral("--data-dir"), workDir};
        if (!resultsDbOption.isEmpty())
            arguments << QStringLiteral("--results-db") << resultsDbOption;
        QElapsedTimer command;
        command.start();
        process.start(program, arguments);
        if (!process.waitForFinished(30000) || process.exitCode() != 0) {
            std::fprintf(stderr, "kordoman --history failed: %s\n", process.readAllStandardError().constData());
            return;
        }
        commands.push_back(double(command.nsecsElapsed()) / 1e6);
    }
    report("kordoman --history SERIAL (whole process)", commands);
    std::vector<double> starts;
    for (int i = 0; i < std::min(runs, 10); ++i) {
        QProcess process;
        QElapsedTimer command;
        command.start();
        process.start(program, {QStringLiteral("--version")});
        process.waitForFinished(30000);
        starts.push_back(double(command.nsecsElapsed()) / 1e6);
    }
    report("kordoman --version (the program's start alone)", starts);
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    const QCommandLineOption resultsOption(QStringLiteral("results"), QStringLiteral("Results in the big table."),
                                           QStringLiteral("N"), QStringLiteral("100000"));
    const QCommandLineOption runsOption(QStringLiteral("runs"), QStringLiteral("Repetitions of each measure."),
                                        QStringLiteral("N"), QStringLiteral("20"));
    const QCommandLineOption postgresOption(QStringLiteral("postgres"),
                                            QStringLiteral("Also on a PostgreSQL server of its own."));
    parser.addOptions({resultsOption, runsOption, postgresOption});
    parser.addHelpOption();
    parser.process(app);
    const int count = std::max(PORTS * RUNS_PER_CONTROLLER, parser.value(resultsOption).toInt());
    const int runs = std::max(1, parser.value(runsOption).toInt());

    QTemporaryDir sqliteDir;
    const QString databaseDir = QDir(sqliteDir.path()).filePath(QStringLiteral("Kordo_Db"));
    QDir().mkpath(databaseDir);
    benchLocation("SQLite (the data directory's results.sqlite)",
                  ResultsLocation::sqlite(QDir(databaseDir).filePath(QLatin1String(ResultsStore::FILE_NAME))),
                  sqliteDir.path(), count, runs, QString());

    if (parser.isSet(postgresOption)) {
        PostgresServer pg;
        if (!pg.isAvailable() || !pg.start() || !pg.createDatabase(QStringLiteral("bench"))) {
            std::fprintf(stderr, "no PostgreSQL server: %s\n", qPrintable(pg.problem()));
            return 1;
        }
        ResultsLocation target;
        QString error;
        ResultsLocation::parse(pg.url(QStringLiteral("bench")), &target, &error);
        QTemporaryDir pgData;
        benchLocation("PostgreSQL (local server, TCP on 127.0.0.1)", target, pgData.path(), count, runs,
                      pg.url(QStringLiteral("bench")));
    }
    return 0;
}
