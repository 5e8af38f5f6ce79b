#include "device/settingssnapshots.h"
#include "motors/dbmanager.h"
#include "wire/motortotal.h"
#include "wire/records.h"

#include <QDir>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

// The snapshot store in the motor database: kept byte for byte, listed per controller,
// pruned only on request; an old database gains the table and keeps its motors; a database
// that cannot take a snapshot sends it to a file instead.
class TestSettingsSnapshots : public QObject
{
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_dir;

    QString dbDir() const { return m_dir->filePath(QStringLiteral("Kordo_Db")); }
    QString dbFile() const { return QDir(dbDir()).filePath(QStringLiteral("Kordo_data.db")); }

    static SettingsSnapshot sample(const QString &serial, const QDateTime &time, uint8_t ttl)
    {
        SettingsSnapshot s;
        s.serialNumber = serial;
        s.time = time;
        s.firmware = QStringLiteral("1.2.3");
        s.reason = SettingsSnapshot::reasonKey(SettingsSnapshot::Reason::FirmwareUpdate);
        SET_PWM_IN_PARAMS pwm;
        pwm.byte3Rest = 5; // bits no field shows must come back too
        s.pwmIn = pwm.pack();
        SET_MOTION_PARAMS motion;
        motion.timeToLeave = ttl;
        motion.Kp = -3;
        s.motion = motion.pack();
        MOTOR_TOTAL motor;
        motor.Rs = 0.125f;
        motor.polePairs = 7;
        s.motor = motor.pack();
        s.motorName = QStringLiteral("Test motor");
        return s;
    }

    // Runs `sql` on a connection of the test's own.
    bool execOwn(const QString &sql, QString *error = nullptr)
    {
        bool ok = false;
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("test.own"));
            db.setDatabaseName(dbFile());
            QSqlQuery q(db);
            ok = db.open() && q.exec(sql);
            if (error)
                *error = q.lastError().text();
        }
        QSqlDatabase::removeDatabase(QStringLiteral("test.own"));
        return ok;
    }

    int userVersion()
    {
        int version = -1;
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("test.version"));
            db.setDatabaseName(dbFile());
            QSqlQuery q(db);
            if (db.open() && q.exec(QStringLiteral("PRAGMA user_version")) && q.next())
                version = q.value(0).toInt();
        }
        QSqlDatabase::removeDatabase(QStringLiteral("test.version"));
        return version;
    }

private slots:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(QDir().mkpath(dbDir()));
    }

    void keptByteForByteAndListedPerController()
    {
        SettingsSnapshots store(dbDir(), m_dir->path());
        const QDateTime t0 = QDateTime(QDate(2026, 3, 1), QTime(10, 0, 0), Qt::UTC);
        const SettingsSnapshot a = sample(QStringLiteral("12345"), t0, 10);
        const SettingsSnapshots::Kept first = store.keep(a);
        QVERIFY2(first.ok && first.id > 0 && first.file.isEmpty(), qPrintable(first.problem));
        QVERIFY(SettingsSnapshots::keptText(first).isEmpty());
        QVERIFY(store.keep(sample(QStringLiteral("777"), t0.addSecs(60), 11)).id > first.id);
        QVERIFY(store.keep(sample(QStringLiteral("12345"), t0.addSecs(120), 12)).ok);

        SettingsSnapshot read;
        QString problem;
        QVERIFY2(store.find(first.id, &read, &problem), qPrintable(problem));
        QCOMPARE(read.id, first.id);
        QCOMPARE(read.serialNumber, a.serialNumber);
        QCOMPARE(read.time, t0);
        QCOMPARE(read.firmware, a.firmware);
        QCOMPARE(read.reason, a.reason);
        QCOMPARE(read.pwmIn, a.pwmIn);
        QCOMPARE(read.motion, a.motion);
        QCOMPARE(read.motor, a.motor);
        QCOMPARE(read.motorName, a.motorName);

        QVector<SettingsSnapshot> mine;
        QVERIFY(store.list(QStringLiteral("12345"), &mine, &problem));
        QCOMPARE(mine.size(), 2);
        QCOMPARE(SET_MOTION_PARAMS::unpack(mine[0].motion).timeToLeave, uint8_t(12)); // newest first
        QCOMPARE(SET_MOTION_PARAMS::unpack(mine[1].motion).timeToLeave, uint8_t(10));
        QVector<SettingsSnapshot> all;
        QVERIFY(store.list(QString(), &all, &problem));
        QCOMPARE(all.size(), 3);

        QVERIFY(!store.find(first.id + 100, &read, &problem));
        QVERIFY(problem.contains(QString::number(first.id + 100)));
    }

    // Reading, listing and pruning create nothing: no database, or one without snapshots,
    // holds none.
    void readingCreatesNothing()
    {
        QString problem;
        {
            SettingsSnapshots store(dbDir(), m_dir->path());
            QVector<SettingsSnapshot> none;
            QVERIFY2(store.list(QString(), &none, &problem), qPrintable(problem));
            QVERIFY(none.isEmpty());
            QCOMPARE(store.prune(0, QDateTime::currentDateTimeUtc(), &problem), 0);
            SettingsSnapshot s;
            QVERIFY(!store.find(1, &s, &problem));
            QVERIFY(problem.contains(QStringLiteral("no backup 1")));
        }
        QVERIFY(!QFileInfo::exists(dbFile()));
        {
            DbManager motors(nullptr, dbDir()); // a motor database from before the snapshots
        }
        {
            SettingsSnapshots store(dbDir(), m_dir->path());
            QVector<SettingsSnapshot> none;
            QVERIFY(store.list(QString(), &none, &problem));
            QVERIFY(none.isEmpty());
        }
        QCOMPARE(userVersion(), 0);
    }

    // A record that was not read stays empty: a restore must not write defaults for it.
    void recordsNotReadStayEmpty()
    {
        SettingsSnapshots store(dbDir(), m_dir->path());
        SettingsSnapshot s = sample(QStringLiteral("1"), QDateTime::currentDateTimeUtc(), 3);
        s.pwmIn.clear();
        s.motor.clear();
        const qint64 id = store.keep(s).id;
        SettingsSnapshot read;
        QString problem;
        QVERIFY(store.find(id, &read, &problem));
        QVERIFY(read.pwmIn.isEmpty());
        QVERIFY(read.motor.isEmpty());
        QCOMPARE(read.motion, s.motion);
        QVERIFY(read.hasSettings());
    }

    void pruneRemovesOnlyOlderOnes_data()
    {
        QTest::addColumn<int>("days");
        QTest::addColumn<int>("removed");
        QTest::newRow("keep all") << 100 << 0;
        QTest::newRow("older than 10 days") << 10 << 2;
        QTest::newRow("older than 1 day") << 1 << 3;
        QTest::newRow("everything") << 0 << 4;
    }

    void pruneRemovesOnlyOlderOnes()
    {
        QFETCH(int, days);
        QFETCH(int, removed);
        SettingsSnapshots store(dbDir(), m_dir->path());
        const QDateTime now = QDateTime(QDate(2026, 12, 1), QTime(12, 0, 0), Qt::UTC);
        for (int age : {40, 11, 5, 0})
            QVERIFY(store.keep(sample(QStringLiteral("9"), now.addDays(-age).addSecs(-1), 1)).id > 0);
        QString problem;
        QCOMPARE(store.prune(days, now, &problem), removed);
        QVector<SettingsSnapshot> left;
        QVERIFY(store.list(QString(), &left, &problem));
        QCOMPARE(left.size(), 4 - removed);
        for (const SettingsSnapshot &s : left)
            QVERIFY(s.time >= now.addDays(-days));
    }

    // The limit itself: a backup taken exactly DAYS days before now is not older than DAYS
    // days and is kept; a second earlier it goes.
    void pruneLimitIsASpanOfDaysInAnyZone_data()
    {
        QTest::addColumn<int>("secondsBeforeLimit");
        QTest::addColumn<bool>("kept");
        QTest::newRow("exactly at the limit") << 0 << true;
        QTest::newRow("a second before the limit") << 1 << false;
        QTest::newRow("a second after the limit") << -1 << true;
    }

    void pruneLimitIsASpanOfDaysInAnyZone()
    {
        QFETCH(int, secondsBeforeLimit);
        QFETCH(bool, kept);
        SettingsSnapshots store(dbDir(), m_dir->path());
        // Local times in a zone far from UTC: the limit is a span of days, wherever the clock is.
        const QDateTime now = QDateTime(QDate(2026, 12, 1), QTime(1, 30, 0), Qt::OffsetFromUTC, -5 * 3600);
        const int days = 10;
        QVERIFY(store.keep(sample(QStringLiteral("9"), now.addDays(-days).addSecs(-secondsBeforeLimit), 1)).id > 0);
        QString problem;
        QCOMPARE(store.prune(days, now, &problem), kept ? 0 : 1);
        QVector<SettingsSnapshot> left;
        QVERIFY(store.list(QString(), &left, &problem));
        QCOMPARE(left.size(), kept ? 1 : 0);
    }

    // A backup taken exactly DAYS days ago is kept, one a second older goes: in the database
    // and among the backup files alike.
    void pruneKeepsABackupTakenAtTheLimit_data()
    {
        QTest::addColumn<bool>("inFiles");
        QTest::newRow("database") << false;
        QTest::newRow("backup files") << true;
    }

    void pruneKeepsABackupTakenAtTheLimit()
    {
        QFETCH(bool, inFiles);
        SettingsSnapshots store(dbDir(), m_dir->path());
        const QDateTime now = QDateTime(QDate(2026, 12, 1), QTime(12, 0, 0), Qt::UTC);
        const QDateTime limit = now.addDays(-10);
        for (const QDateTime &taken : {limit, limit.addSecs(-1)}) {
            const SettingsSnapshot s = sample(QStringLiteral("9"), taken, 1);
            if (!inFiles) {
                QVERIFY(store.keep(s).id > 0);
                continue;
            }
            QFile file(m_dir->filePath(QStringLiteral("settings-backup-9-%1.json").arg(taken.toSecsSinceEpoch())));
            QVERIFY(file.open(QIODevice::WriteOnly) && file.write(s.toFileText()) > 0);
        }
        QString problem;
        QStringList kept;
        QCOMPARE(store.prune(10, now, &problem), inFiles ? 0 : 1);
        QCOMPARE(store.pruneFiles(10, now, &kept), inFiles ? 1 : 0);
        QVERIFY(kept.isEmpty());
        QVector<SettingsSnapshot> left;
        if (inFiles) {
            for (const QString &path : store.backupFiles()) {
                QFile file(path);
                SettingsSnapshot s;
                QVERIFY(file.open(QIODevice::ReadOnly) && SettingsSnapshot::fromFileText(file.readAll(), &s));
                left << s;
            }
        } else {
            QVERIFY(store.list(QString(), &left, &problem));
        }
        QCOMPARE(left.size(), 1);
        QCOMPARE(left.first().time, limit);
    }

    // A database made before snapshots existed: the table is added, the version set, the
    // motors stay as they were and the motor database still works on it.
    void olderDatabaseGainsTheTableAndKeepsItsMotors()
    {
        MOTOR_TOTAL motor;
        motor.Rs = 0.5f;
        motor.Ls_d = motor.Ls_q = 0.001f;
        motor.Flux = 0.01f;
        motor.polePairs = 4;
        {
            DbManager motors(nullptr, dbDir());
            QVERIFY(motors.saveMotor(QStringLiteral("Old motor"), QStringLiteral("2020-01-01 00:00:00"), &motor));
        }
        QCOMPARE(userVersion(), 0);
        {
            SettingsSnapshots store(dbDir(), m_dir->path());
            QVERIFY(store.keep(sample(QStringLiteral("5"), QDateTime::currentDateTimeUtc(), 2)).id > 0);
        }
        QCOMPARE(userVersion(), SettingsSnapshots::SCHEMA_VERSION);
        DbManager motors(nullptr, dbDir());
        QCOMPARE(motors.health(), DbManager::Health::Ready);
        MOTOR_TOTAL read;
        QVERIFY(motors.getMotorParams(QStringLiteral("Old motor"), &read));
        QCOMPARE(read.Rs, motor.Rs);
        // The motor database's own write probe leaves the version as it is.
        QCOMPARE(userVersion(), SettingsSnapshots::SCHEMA_VERSION);
    }

    // A newer program's database whose table lacks a column this one reads is not written
    // into, nor is its version lowered: the snapshot goes to a file.
    void newerSchemaIsNeverLowered()
    {
        QVERIFY(execOwn(QStringLiteral("CREATE TABLE settings_snapshots (id INTEGER PRIMARY KEY, serial TEXT)")));
        QVERIFY(execOwn(QStringLiteral("PRAGMA user_version = 7")));
        SettingsSnapshots store(dbDir(), m_dir->path());
        const SettingsSnapshots::Kept kept = store.keep(sample(QStringLiteral("5"), QDateTime::currentDateTimeUtc(), 2));
        QVERIFY(kept.ok);
        QCOMPARE(kept.id, qint64(0));
        QVERIFY(QFileInfo::exists(kept.file));
        QCOMPARE(userVersion(), 7);
    }

    // Damaged, locked or missing: the snapshot is in a file of the data directory, written
    // whole, and the text for the user names it.
    void unusableDatabaseSendsTheSnapshotToAFile_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::newRow("damaged") << "damaged";
        QTest::newRow("locked") << "locked";
        QTest::newRow("no directory") << "missing";
    }

    void unusableDatabaseSendsTheSnapshotToAFile()
    {
        QFETCH(QString, kind);
        QString directory = dbDir();
        QSqlDatabase locker;
        if (kind == QLatin1String("damaged")) {
            QFile f(dbFile());
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(QByteArray(4096, '\x5a'));
        } else if (kind == QLatin1String("missing")) {
            directory = m_dir->filePath(QStringLiteral("no/such/dir"));
        } else {
            // Another program holds the database: made current first, then locked.
            {
                SettingsSnapshots fresh(dbDir(), m_dir->path());
                QVERIFY(fresh.keep(sample(QStringLiteral("1"), QDateTime::currentDateTimeUtc(), 1)).id > 0);
            }
            locker = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("test.locker"));
            locker.setDatabaseName(dbFile());
            QVERIFY(locker.open());
            QSqlQuery q(locker);
            QVERIFY(q.exec(QStringLiteral("BEGIN EXCLUSIVE")));
        }
        const SettingsSnapshot s = sample(QStringLiteral("4242"), QDateTime(QDate(2026, 5, 6), QTime(7, 8, 9), Qt::UTC), 6);
        SettingsSnapshots::Kept kept;
        {
            SettingsSnapshots store(directory, m_dir->path());
            kept = store.keep(s);
        }
        if (locker.isValid()) {
            locker.rollback();
            locker.close();
            locker = QSqlDatabase();
            QSqlDatabase::removeDatabase(QStringLiteral("test.locker"));
        }
        QVERIFY2(kept.ok, qPrintable(kept.problem));
        QCOMPARE(kept.id, qint64(0));
        QCOMPARE(QFileInfo(kept.file).absolutePath(), QDir(m_dir->path()).absolutePath());
        QVERIFY2(kept.file.endsWith(QStringLiteral("settings-backup-4242-20260506-070809.json")), qPrintable(kept.file));
        QVERIFY(!kept.problem.isEmpty());
        const QString text = SettingsSnapshots::keptText(kept);
        QVERIFY2(text.contains(QDir::toNativeSeparators(kept.file)), qPrintable(text));

        QFile file(kept.file);
        QVERIFY(file.open(QIODevice::ReadOnly));
        SettingsSnapshot read;
        QVERIFY(SettingsSnapshot::fromFileText(file.readAll(), &read));
        QCOMPARE(read.serialNumber, s.serialNumber);
        QCOMPARE(read.time, s.time);
        QCOMPARE(read.pwmIn, s.pwmIn);
        QCOMPARE(read.motion, s.motion);
        QCOMPARE(read.motor, s.motor);
        QCOMPARE(read.reason, s.reason);
        // No temporary file of the atomic write is left behind.
        QCOMPARE(QDir(m_dir->path()).entryList({QStringLiteral("settings-backup-*")}, QDir::Files).size(), 1);
    }

    // A backup file is read only when it is whole: a record of the wrong size is no backup.
    void backupFileIsChecked_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<bool>("read");
        const QByteArray good = sample(QStringLiteral("8"), QDateTime::currentDateTimeUtc(), 4).toFileText();
        QTest::newRow("as written") << good << true;
        QTest::newRow("not JSON") << QByteArray("settings") << false;
        QTest::newRow("no serial") << QByteArray(good).replace("\"serial\"", "\"serialx\"") << false;
        QTest::newRow("motion record too short")
            << QByteArray(good).replace("\"motion\": \"", "\"motion\": \"00") << false;
        QTest::newRow("no time") << QByteArray(good).replace("\"taken\"", "\"takenx\"") << false;
    }

    void backupFileIsChecked()
    {
        QFETCH(QByteArray, text);
        QFETCH(bool, read);
        SettingsSnapshot s;
        QCOMPARE(SettingsSnapshot::fromFileText(text, &s), read);
        if (read)
            QCOMPARE(s.serialNumber, QStringLiteral("8"));
    }

    void noPlaceAtAllIsSaid()
    {
        SettingsSnapshots store(m_dir->filePath(QStringLiteral("none")), m_dir->filePath(QStringLiteral("none")));
        const SettingsSnapshots::Kept kept = store.keep(sample(QStringLiteral("1"), QDateTime::currentDateTimeUtc(), 1));
        QVERIFY(!kept.ok);
        QVERIFY(kept.file.isEmpty());
        QVERIFY(SettingsSnapshots::keptText(kept).startsWith(QStringLiteral("The controller's settings could not be kept")));
    }
};

QTEST_GUILESS_MAIN(TestSettingsSnapshots)
#include "tst_settingssnapshots.moc"
