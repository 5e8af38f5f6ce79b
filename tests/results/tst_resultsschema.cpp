#include "results/resultsrecorder.h"
#include "results/resultsstore.h"
#include "tests/common/postgresserver.h"

#include <QDir>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

// The results database as the program expects it, on SQLite and on a PostgreSQL server of
// the test's own: a table or a column that is gone, or a unique key dropped, is named when
// the program connects; a run whose results cannot be written leaves nothing behind, and
// the next run is recorded.
class TestResultsSchema : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    std::unique_ptr<PostgresServer> m_pg;
    int m_databases = 0;

    // A fresh, empty database of the kind; an invalid location when the kind is unavailable.
    ResultsLocation newDatabase(const QString &kind)
    {
        const QString name = QStringLiteral("schema%1").arg(++m_databases);
        if (kind == QLatin1String("sqlite"))
            return ResultsLocation::sqlite(m_dir.filePath(name + QStringLiteral(".sqlite")));
        ResultsLocation location;
        QString error;
        if (m_pg && m_pg->isRunning() && m_pg->createDatabase(name))
            ResultsLocation::parse(m_pg->url(name), &location, &error);
        else
            location.file = QStringLiteral("unavailable");
        return location;
    }

    // Statements through a connection of the test's own.
    static bool execOwn(const ResultsLocation &location, const QStringList &statements, QString *error)
    {
        bool ok = true;
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(location.driverName(), QStringLiteral("own"));
            if (location.kind == ResultsLocation::Kind::Sqlite) {
                db.setDatabaseName(location.file);
            } else {
                db.setHostName(location.host);
                db.setPort(location.port);
                db.setUserName(location.user);
                db.setDatabaseName(location.database);
            }
            ok = db.open();
            for (const QString &statement : statements) {
                QSqlQuery query(db);
                if (ok && !query.exec(statement)) {
                    *error = statement + QStringLiteral(": ") + query.lastError().text();
                    ok = false;
                }
            }
            db.close();
        }
        QSqlDatabase::removeDatabase(QStringLiteral("own"));
        return ok;
    }

    static long long count(const ResultsLocation &location, const QString &sql)
    {
        long long value = -1;
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(location.driverName(), QStringLiteral("count"));
            if (location.kind == ResultsLocation::Kind::Sqlite) {
                db.setDatabaseName(location.file);
            } else {
                db.setHostName(location.host);
                db.setPort(location.port);
                db.setUserName(location.user);
                db.setDatabaseName(location.database);
            }
            QSqlQuery query(db);
            if (db.open() && query.exec(sql) && query.next())
                value = query.value(0).toLongLong();
            db.close();
        }
        QSqlDatabase::removeDatabase(QStringLiteral("count"));
        return value;
    }

    static RunRecord run(const QString &id)
    {
        RunRecord run = ResultsRecorder::newRun(QStringLiteral("1.1.0"));
        run.id = id;
        run.ended = run.started.addSecs(10);
        return run;
    }

    static ResultRecord result(const QString &port)
    {
        ResultRecord result;
        result.port = port;
        result.serial = QStringLiteral("1001");
        result.success = true;
        result.finished = QDateTime::currentDateTimeUtc();
        return result;
    }

    void skipUnavailable(const ResultsLocation &location)
    {
        if (location.file == QLatin1String("unavailable"))
            QSKIP(qPrintable(m_pg ? m_pg->problem() : QStringLiteral("no PostgreSQL")));
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        m_pg = std::make_unique<PostgresServer>();
        if (m_pg->isAvailable() && !m_pg->start())
            qWarning("PostgreSQL did not start: %s", qPrintable(m_pg->problem()));
    }

    void cleanupTestCase() { m_pg.reset(); }

    void damagedSchemaIsNamed_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QStringList>("damage");
        QTest::addColumn<QString>("named");
        const QString copyWithoutKeys =
            QStringLiteral("CREATE TABLE copied AS SELECT * FROM results;DROP TABLE results;ALTER TABLE copied RENAME TO results");
        for (const QString &kind : {QStringLiteral("sqlite"), QStringLiteral("postgresql")}) {
            const bool postgres = kind == QLatin1String("postgresql");
            const QByteArray name = kind.toLatin1();
            QTest::addRow("%s: dropped column", name.constData())
                << kind << QStringList {"ALTER TABLE results DROP COLUMN what_to_do"}
                << "the table results has no column what_to_do";
            QTest::addRow("%s: renamed column", name.constData())
                << kind << QStringList {"ALTER TABLE results RENAME COLUMN serial TO serial_number"}
                << "the table results has no column serial";
            QTest::addRow("%s: dropped table", name.constData())
                << kind << QStringList {postgres ? "DROP TABLE runs CASCADE" : "DROP TABLE runs"}
                << "the table runs is missing";
            QTest::addRow("%s: dropped unique key", name.constData())
                << kind << copyWithoutKeys.split(QLatin1Char(';')) << "the table results has no unique key on run_id, port";
        }
    }

    void damagedSchemaIsNamed()
    {
        QFETCH(QString, kind);
        QFETCH(QStringList, damage);
        QFETCH(QString, named);
        const ResultsLocation location = newDatabase(kind);
        skipUnavailable(location);
        {
            ResultsStore made(location);
            QVERIFY2(made.record(run(QStringLiteral("before")), {result(QStringLiteral("p0"))}),
                     qPrintable(made.errorString()));
        }
        QString error;
        QVERIFY2(execOwn(location, damage, &error), qPrintable(error));

        ResultsStore store(location);
        QVERIFY(!store.open());
        QVERIFY2(store.errorString().contains(named), qPrintable(store.errorString()));
        QVERIFY(!store.record(run(QStringLiteral("after")), {result(QStringLiteral("p0"))}));
        QVERIFY2(store.errorString().contains(named), qPrintable(store.errorString()));
        // The outbox takes the run instead, and says why the database did not.
        const QString outbox = m_dir.filePath(QStringLiteral("outbox-%1.sqlite").arg(m_databases));
        ResultsRecorder recorder(location, outbox);
        const ResultsRecorder::Outcome outcome = recorder.record(run(QStringLiteral("kept")), {result(QStringLiteral("p0"))});
        QCOMPARE(outcome.status, ResultsRecorder::Status::InOutbox);
        QVERIFY2(outcome.message.contains(named), qPrintable(outcome.message));
    }

    // A results file locked by another program: the wait is said, once, before it starts.
    void lockedFileIsSaid()
    {
        const ResultsLocation location = newDatabase(QStringLiteral("sqlite"));
        {
            ResultsStore made(location);
            QVERIFY2(made.open(), qPrintable(made.errorString()));
        }
        QStringList notices;
        {
            QSqlDatabase other = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("other"));
            other.setDatabaseName(location.file);
            QVERIFY(other.open());
            QSqlQuery lock(other);
            QVERIFY(lock.exec(QStringLiteral("BEGIN EXCLUSIVE")));
            ResultsStore store(location);
            store.setWaitNotice([&notices](const QString &text) { notices << text; });
            store.record(run(QStringLiteral("waiting")), {result(QStringLiteral("p0"))});
            lock.exec(QStringLiteral("ROLLBACK"));
            other.close();
        }
        QSqlDatabase::removeDatabase(QStringLiteral("other"));
        QCOMPARE(notices.size(), 1);
        QVERIFY2(notices.first().contains(QLatin1String("locked by another program")), qPrintable(notices.first()));
        // Free again: no word.
        ResultsStore free(location);
        free.setWaitNotice([&notices](const QString &text) { notices << text; });
        QVERIFY2(free.record(run(QStringLiteral("free")), {result(QStringLiteral("p0"))}), qPrintable(free.errorString()));
        QCOMPARE(notices.size(), 1);
    }

    // A results insert that fails after its run's insert: nothing of the run stays, and the
    // next run on the same connection is recorded.
    void failedResultsLeaveNothingOfTheirRun_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QStringList>("plant");
        QTest::newRow("sqlite") << "sqlite"
                                << QStringList {"CREATE TRIGGER planted BEFORE INSERT ON results WHEN NEW.port = 'bad' "
                                                "BEGIN SELECT RAISE(ABORT, 'planted fault'); END"};
        QTest::newRow("postgresql")
            << "postgresql"
            << QStringList {"CREATE FUNCTION planted() RETURNS trigger AS $$ BEGIN IF NEW.port = 'bad' THEN "
                            "RAISE EXCEPTION 'planted fault'; END IF; RETURN NEW; END $$ LANGUAGE plpgsql",
                            "CREATE TRIGGER planted BEFORE INSERT ON results FOR EACH ROW EXECUTE FUNCTION planted()"};
    }

    void failedResultsLeaveNothingOfTheirRun()
    {
        QFETCH(QString, kind);
        QFETCH(QStringList, plant);
        const ResultsLocation location = newDatabase(kind);
        skipUnavailable(location);
        ResultsStore store(location);
        QVERIFY2(store.open(), qPrintable(store.errorString()));
        QString error;
        QVERIFY2(execOwn(location, plant, &error), qPrintable(error));

        QVERIFY(!store.record(run(QStringLiteral("failing")), {result(QStringLiteral("p0")), result(QStringLiteral("bad"))}));
        QVERIFY2(store.errorString().contains(QLatin1String("planted fault")), qPrintable(store.errorString()));
        QCOMPARE(count(location, QStringLiteral("SELECT COUNT(*) FROM runs WHERE id = 'failing'")), 0LL);
        QCOMPARE(count(location, QStringLiteral("SELECT COUNT(*) FROM results WHERE run_id = 'failing'")), 0LL);

        QVERIFY2(store.record(run(QStringLiteral("next")), {result(QStringLiteral("p0"))}), qPrintable(store.errorString()));
        QCOMPARE(count(location, QStringLiteral("SELECT COUNT(*) FROM runs")), 1LL);
        QCOMPARE(count(location, QStringLiteral("SELECT COUNT(*) FROM results WHERE run_id = 'next'")), 1LL);
    }
};

QTEST_GUILESS_MAIN(TestResultsSchema)
#include "tst_resultsschema.moc"
