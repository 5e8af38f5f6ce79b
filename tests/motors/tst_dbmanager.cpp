#include "motors/dbmanager.h"
#include "app/translations.h"

#include "motortestsupport.h"

#include <QDir>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <limits>
#include <memory>

using namespace MotorTestSupport;

namespace {

const char CREATED_SCHEMA[] =
    "CREATE TABLE motors (name TEXT UNIQUE,rs REAL ,ls_d REAL ,ls_q REAL ,rated_flux REAL ,"
    "k_p INTEGER ,k_i INTEGER ,max_voltage INTEGER ,max_frequency INTEGER ,max_current INTEGER ,"
    "pole_pairs INTEGER ,max_res_current INTEGER ,datetime TEXT ,PRIMARY KEY (name))";

} // namespace

Q_DECLARE_METATYPE(DbManager::Health)

class TestDbManager : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<DbManager> m_db;

    QString dbFile() const { return m_dir->filePath(QStringLiteral("Kordo_data.db")); }
    int rowCount() const { return runSql(dbFile(), { QStringLiteral("SELECT count(*) FROM motors") }).value(0).value(0).toInt(); }
    void reopen()
    {
        m_db.reset();
        m_db = std::make_unique<DbManager>(nullptr, m_dir->path());
    }

private slots:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
        m_db = std::make_unique<DbManager>(nullptr, m_dir->path());
        QCOMPARE(m_db->health(), DbManager::Health::Ready);
        QVERIFY(m_db->problemText().isEmpty());
    }

    void cleanup()
    {
        m_db.reset();
        m_dir.reset();
    }

    void createsTheTableWithItsSchema()
    {
        const auto rows = runSql(dbFile(), { QStringLiteral("SELECT sql FROM sqlite_master WHERE name = 'motors'") });
        QCOMPARE(rows.value(0).value(0), QString::fromLatin1(CREATED_SCHEMA));
    }

    void emptyDatabase()
    {
        QStringList names, dates;
        QVERIFY(m_db->getMotorList(&names, &dates));
        QVERIFY(names.isEmpty() && dates.isEmpty());
        MOTOR_TOTAL m;
        QVERIFY(!m_db->getMotorParams(QStringLiteral("Unknown motor 1"), &m));
    }

    void unknownMotorsAreNumbered()
    {
        MOTOR_TOTAL first = sampleMotor(1);
        MOTOR_TOTAL second = sampleMotor(2);
        QCOMPARE(m_db->findMotor(&first), QStringLiteral("Unknown motor 1"));
        QCOMPARE(m_db->findMotor(&second), QStringLiteral("Unknown motor 2"));

        MOTOR_TOTAL readBack;
        QVERIFY(m_db->getMotorParams(QStringLiteral("Unknown motor 1"), &readBack));
        QCOMPARE(readBack.packIdent(), first.packIdent());
        QVERIFY(m_db->getMotorParams(QStringLiteral("Unknown motor 2"), &readBack));
        QCOMPARE(readBack.packIdent(), second.packIdent());
    }

    // The stored name is the same under every language; only what is shown is translated.
    void unknownMotorIsStoredInEnglishUnderAnyLanguage()
    {
        Translations translations(QDir(qEnvironmentVariable("KORDO_BIN_DIR")).filePath(Translations::DIRECTORY_NAME));
        translations.load(QStringLiteral("de"));
        QVERIFY(translations.isProgramTranslationInstalled());
        MOTOR_TOTAL motor = sampleMotor(1);
        QCOMPARE(m_db->findMotor(&motor), QStringLiteral("Unknown motor 1"));
        QStringList names, dates;
        QVERIFY(m_db->getMotorList(&names, &dates));
        QCOMPARE(names, QStringList {QStringLiteral("Unknown motor 1")});
        QCOMPARE(DbManager::shownName(names.first()), QStringLiteral("Unbekannter Motor 1"));
        QCOMPARE(DbManager::shownName(QStringLiteral("Unknown motor 1 (copy)")), QStringLiteral("Unknown motor 1 (copy)"));
        QCOMPARE(m_db->findMotor(&motor), QStringLiteral("Unknown motor 1")); // found again, not stored twice
    }

    void unknownNumberingSkipsTakenNames()
    {
        MOTOR_TOTAL other = sampleMotor(5);
        QVERIFY(m_db->saveMotor(QStringLiteral("Unknown motor 1"), QString(), &other));
        MOTOR_TOTAL fresh = sampleMotor(6);
        QCOMPARE(m_db->findMotor(&fresh), QStringLiteral("Unknown motor 2"));
    }

    void sameIdentifiedValuesAreFoundWithoutStoring()
    {
        MOTOR_TOTAL m = sampleMotor(3);
        const QString name = m_db->findMotor(&m);
        QCOMPARE(rowCount(), 1);
        const QByteArray before = fileDigest(dbFile());

        MOTOR_TOTAL again = sampleMotor(3);
        again.maxMotorCurrent = 999;                // user half plays no part
        QCOMPARE(m_db->findMotor(&again), name);
        QCOMPARE(m_db->findMotor(&again, name), name);
        QCOMPARE(rowCount(), 1);
        QCOMPARE(fileDigest(dbFile()), before);
    }

    void lastWrittenOfIdenticalMotorsWins()
    {
        MOTOR_TOTAL m = sampleMotor(4);
        QVERIFY(m_db->saveMotor(QStringLiteral("Beta"), QString(), &m));
        QVERIFY(m_db->saveMotor(QStringLiteral("Alpha"), QString(), &m));
        QCOMPARE(m_db->findMotor(&m), QStringLiteral("Alpha"));
        QVERIFY(m_db->saveMotor(QStringLiteral("Beta"), QString(), &m));   // rewritten: now last
        QCOMPARE(m_db->findMotor(&m), QStringLiteral("Beta"));
    }

    void findMotorWithAName_data()
    {
        QTest::addColumn<bool>("storedFirst");
        QTest::addColumn<QString>("askedName");
        QTest::addColumn<QString>("expectedName");
        QTest::addColumn<int>("expectedRows");
        QTest::newRow("name among the matches") << true << "Stored" << "Stored" << 1;
        QTest::newRow("match under another name: stored again") << true << "Other" << "Other" << 2;
        QTest::newRow("no match: stored") << false << "New" << "New" << 1;
        QTest::newRow("no match, name with ';'") << false << "a;b" << QString() << 0;
        QTest::newRow("match, name with line break") << true << "a\nb" << QString() << 1;
    }

    void findMotorWithAName()
    {
        QFETCH(bool, storedFirst);
        QFETCH(QString, askedName);
        QFETCH(QString, expectedName);
        QFETCH(int, expectedRows);
        MOTOR_TOTAL m = sampleMotor(7);
        if (storedFirst)
            QVERIFY(m_db->saveMotor(QStringLiteral("Stored"), QString(), &m));
        QCOMPARE(m_db->findMotor(&m, askedName), expectedName);
        QCOMPARE(rowCount(), expectedRows);
        if (!expectedName.isEmpty()) {
            MOTOR_TOTAL readBack;
            QVERIFY(m_db->getMotorParams(expectedName, &readBack));
            QCOMPARE(readBack.packIdent(), m.packIdent());
        }
    }

    void saveReplacesValuesAndDate()
    {
        MOTOR_TOTAL first = sampleMotor(1);
        MOTOR_TOTAL second = sampleMotor(2);
        QVERIFY(m_db->saveMotor(QStringLiteral("M"), QStringLiteral("2020-01-02 03:04:05"), &first));
        QVERIFY(m_db->saveMotor(QStringLiteral("M"), QStringLiteral("2021-06-07 08:09:10"), &second));
        QStringList names, dates;
        QVERIFY(m_db->getMotorList(&names, &dates));
        QCOMPARE(names, QStringList { QStringLiteral("M") });
        QCOMPARE(dates, QStringList { QStringLiteral("2021-06-07 08:09:10") });
        MOTOR_TOTAL readBack;
        QVERIFY(m_db->getMotorParams(QStringLiteral("M"), &readBack));
        QVERIFY(readBack == second);
    }

    void listIsOrderedByName()
    {
        MOTOR_TOTAL m = sampleMotor(1);
        for (const char *name : { "b", "B", "a", "Unknown motor 10", "Unknown motor 2" })
            QVERIFY(m_db->saveMotor(QString::fromLatin1(name), QString(), &m));
        QStringList names, dates;
        QVERIFY(m_db->getMotorList(&names, &dates));
        QCOMPARE(names, (QStringList { "B", "Unknown motor 10", "Unknown motor 2", "a", "b" }));
    }

    void readBackRebuildsUnstoredFields_data()
    {
        QTest::addColumn<int>("maxFrequency");
        QTest::addColumn<int>("fluxFrequency");
        QTest::newRow("1000 Hz") << 1000 << 50;
        QTest::newRow("5119 Hz") << 5119 << 255;
        QTest::newRow("5120 Hz wraps") << 5120 << 0;
        QTest::newRow("65535 Hz") << 65535 << (3276 & 0xFF);
    }

    void readBackRebuildsUnstoredFields()
    {
        QFETCH(int, maxFrequency);
        QFETCH(int, fluxFrequency);
        MOTOR_TOTAL m = sampleMotor(2);
        m.maxFrequency = uint16_t(maxFrequency);
        m.validData = 1;
        m.fluxFrequency = 7;
        m.resCurrent = 0x123;
        m.indCurrent = 0x456;
        m.Rs = 0.1f;
        m.Flux = std::numeric_limits<float>::denorm_min();
        m.Ls_d = std::numeric_limits<float>::max();
        QVERIFY(m_db->saveMotor(QStringLiteral("M"), QString(), &m));

        MOTOR_TOTAL readBack;
        QVERIFY(m_db->getMotorParams(QStringLiteral("M"), &readBack));
        QCOMPARE(readBack.validData, uint8_t(3));
        QCOMPARE(readBack.resCurrent, uint16_t(0x123));
        QCOMPARE(readBack.indCurrent, uint16_t(0x123));
        QCOMPARE(int(readBack.fluxFrequency), fluxFrequency);
        QCOMPARE(readBack.packIdent().toHex(), m.packIdent().toHex());    // bit-exact floats
        QCOMPARE(readBack.voltage_scale, m.voltage_scale);
        QCOMPARE(readBack.maxFrequency, m.maxFrequency);
        QCOMPARE(readBack.maxMotorCurrent, m.maxMotorCurrent);
        QCOMPARE(readBack.polePairs, m.polePairs);
        const auto row = runSql(dbFile(), { QStringLiteral("SELECT k_p, k_i FROM motors") });
        QCOMPARE(row.value(0), (QStringList { "0", "0" }));
    }

    void resCurrentKeepsTwelveBits()
    {
        MOTOR_TOTAL m = sampleMotor(1);
        m.resCurrent = 0x1ABC;
        QVERIFY(m_db->saveMotor(QStringLiteral("M"), QString(), &m));
        const auto row = runSql(dbFile(), { QStringLiteral("SELECT max_res_current FROM motors") });
        QCOMPARE(row.value(0).value(0), QString::number(0xABC));
        MOTOR_TOTAL readBack;
        QVERIFY(m_db->getMotorParams(QStringLiteral("M"), &readBack));
        QCOMPARE(readBack.resCurrent, uint16_t(0xABC));
    }

    void readRefusesNullIdentifiedValues()
    {
        runSql(dbFile(), { QStringLiteral("INSERT INTO motors (name, rs, ls_d, ls_q, rated_flux, k_p, k_i) "
                                          "VALUES ('Old', 1, 2, 3, 4, NULL, 0)") });
        MOTOR_TOTAL m;
        m.polePairs = 42;
        QVERIFY(!m_db->getMotorParams(QStringLiteral("Old"), &m));
        QCOMPARE(m.polePairs, uint8_t(42));
    }

    void migratesATableWithoutDatetime()
    {
        m_db.reset();
        QVERIFY(QFile::remove(dbFile()));
        bool ok = false;
        runSql(dbFile(), {
            QStringLiteral("CREATE TABLE motors (name TEXT UNIQUE,rs REAL ,ls_d REAL ,ls_q REAL ,rated_flux REAL ,"
                           "k_p INTEGER ,k_i INTEGER ,max_voltage INTEGER ,max_frequency INTEGER ,max_current INTEGER ,"
                           "pole_pairs INTEGER ,max_res_current INTEGER ,PRIMARY KEY (name));"),
            QStringLiteral("INSERT INTO motors VALUES ('Old motor', 0.5, 0.25, 0.125, 0.0625, 0, 0, 251, 1000, 300, 7, 150)"),
        }, &ok);
        QVERIFY(ok);

        reopen();
        QCOMPARE(m_db->health(), DbManager::Health::Ready);
        QStringList names, dates;
        QVERIFY(m_db->getMotorList(&names, &dates));
        QCOMPARE(names, QStringList { QStringLiteral("Old motor") });
        QCOMPARE(dates, QStringList { QString() });
        MOTOR_TOTAL old;
        QVERIFY(m_db->getMotorParams(QStringLiteral("Old motor"), &old));
        QCOMPARE(old.Rs, 0.5f);
        QCOMPARE(old.maxFrequency, uint16_t(1000));

        MOTOR_TOTAL m = sampleMotor(1);
        QVERIFY(m_db->saveMotor(QStringLiteral("New"), QStringLiteral("2024-01-01 00:00:00"), &m));
        names.clear();
        dates.clear();
        QVERIFY(m_db->getMotorList(&names, &dates));
        QCOMPARE(dates, (QStringList { QStringLiteral("2024-01-01 00:00:00"), QString() }));

        reopen();   // a second start on the migrated table is harmless
        QCOMPARE(m_db->health(), DbManager::Health::Ready);
    }

    void renameMotor_data()
    {
        QTest::addColumn<QString>("oldName");
        QTest::addColumn<QString>("newName");
        QTest::addColumn<bool>("renamed");
        QTest::newRow("free name") << "A" << "C" << true;
        QTest::newRow("existing name") << "A" << "B" << false;
        QTest::newRow("missing motor") << "X" << "C" << false;
        QTest::newRow("empty") << "A" << "" << false;
        QTest::newRow("semicolon") << "A" << "A;1" << false;
        QTest::newRow("line feed") << "A" << "A\n" << false;
        QTest::newRow("carriage return") << "A" << "A\r" << false;
    }

    void renameMotor()
    {
        QFETCH(QString, oldName);
        QFETCH(QString, newName);
        QFETCH(bool, renamed);
        MOTOR_TOTAL a = sampleMotor(1);
        MOTOR_TOTAL b = sampleMotor(2);
        QVERIFY(m_db->saveMotor(QStringLiteral("A"), QString(), &a));
        QVERIFY(m_db->saveMotor(QStringLiteral("B"), QString(), &b));
        QCOMPARE(m_db->renameMotor(oldName, newName), renamed);

        QStringList names, dates;
        QVERIFY(m_db->getMotorList(&names, &dates));
        QCOMPARE(names, (renamed ? QStringList { "B", newName } : QStringList { "A", "B" }));
        MOTOR_TOTAL readBack;
        QVERIFY(m_db->getMotorParams(QStringLiteral("B"), &readBack));
        QVERIFY(readBack == b);
    }

    void invalidNamesAreNotSaved()
    {
        MOTOR_TOTAL m = sampleMotor(1);
        for (const QString &name : { QString(), QStringLiteral("x;y"), QStringLiteral("x\ny") })
            QVERIFY2(!m_db->saveMotor(name, QString(), &m), qPrintable(name));
        QCOMPARE(rowCount(), 0);
    }

    void removeOneAndAll()
    {
        MOTOR_TOTAL m = sampleMotor(1);
        for (const char *name : { "A", "B", "C" })
            QVERIFY(m_db->saveMotor(QString::fromLatin1(name), QString(), &m));
        QVERIFY(m_db->removeMotor(QStringLiteral("B")));
        QStringList names, dates;
        QVERIFY(m_db->getMotorList(&names, &dates));
        QCOMPARE(names, (QStringList { "A", "C" }));
        QVERIFY(m_db->removeAllMotor());
        QCOMPARE(rowCount(), 0);
    }

    // A motor the controller cannot run is not stored from a file (so never written to a
    // controller). NaN is not even saved or remembered for a controller: SQLite keeps it as
    // NULL, and every connection would store one more "Unknown motor".
    void unusableMotorIsNeitherStoredNorFound_data()
    {
        QTest::addColumn<int>("field"); // 0 Rs, 1 Ls_d, 2 Ls_q, 3 Flux, 4 pole pairs
        QTest::addColumn<float>("value");
        const float nan = std::numeric_limits<float>::quiet_NaN();
        const float inf = std::numeric_limits<float>::infinity();
        QTest::newRow("Ls_q NaN") << 2 << nan;
        QTest::newRow("Rs zero") << 0 << 0.0f;
        QTest::newRow("Ls_d zero") << 1 << 0.0f;
        QTest::newRow("Ls_q negative") << 2 << -1e-5f;
        QTest::newRow("flux zero") << 3 << 0.0f;
        QTest::newRow("flux infinite") << 3 << inf;
        QTest::newRow("no pole pairs") << 4 << 0.0f;
    }
    void unusableMotorIsNeitherStoredNorFound()
    {
        QFETCH(int, field);
        QFETCH(float, value);
        MOTOR_TOTAL m = sampleMotor(1);
        float *const fields[] = {&m.Rs, &m.Ls_d, &m.Ls_q, &m.Flux};
        if (field < 4)
            *fields[field] = value;
        else
            m.polePairs = 0;
        QVERIFY(!m_db->storeMotors({{QStringLiteral("Named"), QString(), m}}, false));
        QCOMPARE(rowCount(), 0);
        if (std::isnan(value)) {
            QVERIFY(!m_db->saveMotor(QStringLiteral("Named"), QString(), &m));
            QVERIFY(m_db->findMotor(&m).isNull());
            QVERIFY(m_db->findMotor(&m, QStringLiteral("Named")).isNull());
            QCOMPARE(rowCount(), 0);
        }
    }

    void storeMotorsIsAllOrNothing()
    {
        MOTOR_TOTAL m = sampleMotor(1);
        QVERIFY(m_db->saveMotor(QStringLiteral("Kept"), QStringLiteral("2020-01-01 00:00:00"), &m));
        // A failure in the middle of the transaction, after the deletion.
        bool ok = false;
        runSql(dbFile(), { QStringLiteral("CREATE TRIGGER refuse BEFORE INSERT ON motors WHEN NEW.name = 'poison' "
                                          "BEGIN SELECT RAISE(ABORT, 'refused'); END;") }, &ok);
        QVERIFY(ok);
        const QByteArray before = fileDigest(dbFile());

        const QVector<MotorEntry> entries {
            { QStringLiteral("First"), QString(), sampleMotor(2) },
            { QStringLiteral("poison"), QString(), sampleMotor(3) },
        };
        QVERIFY(!m_db->storeMotors(entries, true));
        QVERIFY(!m_db->storeMotors(entries, false));
        QCOMPARE(fileDigest(dbFile()), before);

        QVERIFY(m_db->storeMotors(entries.mid(0, 1), true));
        QStringList names, dates;
        QVERIFY(m_db->getMotorList(&names, &dates));
        QCOMPARE(names, QStringList { QStringLiteral("First") });
    }

    void instancesHaveTheirOwnConnections()
    {
        QTemporaryDir otherDir;
        DbManager other(nullptr, otherDir.path());
        MOTOR_TOTAL m = sampleMotor(1);
        QVERIFY(other.saveMotor(QStringLiteral("Elsewhere"), QString(), &m));
        QCOMPARE(rowCount(), 0);
        QCOMPARE(m_db->findMotor(&m), QStringLiteral("Unknown motor 1"));
        QStringList names, dates;
        QVERIFY(other.getMotorList(&names, &dates));
        QCOMPARE(names, QStringList { QStringLiteral("Elsewhere") });
    }

    void unusableDatabaseFailsCleanly_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<DbManager::Health>("health");
        QTest::newRow("missing directory") << "missing" << DbManager::Health::Unavailable;
        QTest::newRow("directory is a file") << "file" << DbManager::Health::Unavailable;
        QTest::newRow("database file is a directory") << "dbdir" << DbManager::Health::Unavailable;
        QTest::newRow("corrupt database file") << "corrupt" << DbManager::Health::Damaged;
    }

    void unusableDatabaseFailsCleanly()
    {
        QFETCH(QString, kind);
        QFETCH(DbManager::Health, health);
        m_db.reset();
        QString directory = m_dir->path();
        if (kind == QLatin1String("missing")) {
            directory = m_dir->filePath(QStringLiteral("no/such/dir"));
        } else if (kind == QLatin1String("file")) {
            directory = m_dir->filePath(QStringLiteral("plain"));
            QFile f(directory);
            QVERIFY(f.open(QIODevice::WriteOnly));
        } else if (kind == QLatin1String("dbdir")) {
            QVERIFY(QFile::remove(dbFile()));
            QVERIFY(QDir(m_dir->path()).mkdir(QStringLiteral("Kordo_data.db")));
        } else {
            QFile f(dbFile());
            QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
            f.write(QByteArray(4096, '\x5a'));
        }

        DbManager db(nullptr, directory);
        QCOMPARE(db.health(), health);
        QVERIFY(db.problemText().contains(QStringLiteral("Kordo_data.db")));

        MOTOR_TOTAL m = sampleMotor(1);
        QStringList names, dates;
        QVERIFY(!db.getMotorList(&names, &dates));
        QVERIFY(!db.getMotorParams(QStringLiteral("A"), &m));
        QVERIFY(!db.saveMotor(QStringLiteral("A"), QString(), &m));
        QVERIFY(!db.renameMotor(QStringLiteral("A"), QStringLiteral("B")));
        QVERIFY(!db.removeMotor(QStringLiteral("A")));
        QVERIFY(!db.removeAllMotor());
        QVERIFY(!db.storeMotors({ { QStringLiteral("A"), QString(), m } }, true));
        QVERIFY(db.findMotor(&m).isNull());
        QVERIFY(db.findMotor(&m, QStringLiteral("A")).isNull());
    }

    // No directory (the data directory could not be made) or a relative one: the file is
    // never put wherever the program was started.
    void noDirectoryNeverUsesTheWorkingDirectory_data()
    {
        QTest::addColumn<QString>("directory");
        QTest::newRow("none") << "";
        QTest::newRow("relative") << "Kordo_Db";
    }

    void noDirectoryNeverUsesTheWorkingDirectory()
    {
        QFETCH(QString, directory);
        QTemporaryDir workingDir;
        const QString previous = QDir::currentPath();
        QVERIFY(QDir::setCurrent(workingDir.path()));
        QVERIFY(QDir().mkpath(QStringLiteral("Kordo_Db")));
        {
            DbManager db(nullptr, directory);
            QCOMPARE(db.health(), DbManager::Health::Unavailable);
            QVERIFY2(db.problemText().startsWith(QStringLiteral("There is no motor database")),
                     qPrintable(db.problemText()));
            MOTOR_TOTAL m = sampleMotor(1);
            QVERIFY(db.findMotor(&m).isNull());
        }
        QVERIFY(QDir::setCurrent(previous));
        QCOMPARE(QDir(workingDir.path()).entryList(QDir::Files | QDir::NoDotAndDotDot), QStringList());
        QCOMPARE(QDir(workingDir.filePath(QStringLiteral("Kordo_Db"))).entryList(QDir::Files), QStringList());
    }

    void readOnlyDirectoryWithoutDatabaseSaysThereIsNone()
    {
        m_db.reset();
        QVERIFY(QFile::remove(dbFile()));
        ImmutableGuard guard(m_dir->path());
        if (!guard.active())
            QSKIP("chattr +i is not available here");
        DbManager db(nullptr, m_dir->path());
        QCOMPARE(db.health(), DbManager::Health::Unavailable);
        QVERIFY2(db.problemText().contains(QStringLiteral("there is no database file, and none can be created there")),
                 qPrintable(db.problemText()));
        QVERIFY(db.problemText().contains(QDir::toNativeSeparators(dbFile())));
    }

    // Damaged pages behind an intact header: found at opening and said, with the file.
    void damagedPagesAreReported()
    {
        QVector<MotorEntry> motors;
        for (int i = 0; i < 400; ++i)
            motors.append({QStringLiteral("Motor with a long name to fill pages %1").arg(i), QString(), sampleMotor(i % 200)});
        QVERIFY(m_db->storeMotors(motors, false));
        m_db.reset();
        {
            QFile file(dbFile());
            QVERIFY(file.open(QIODevice::ReadWrite));
            QVERIFY(file.size() > 8 * 4096);
            QVERIFY(file.seek(file.size() - 3 * 4096)); // leaf pages of the table or its index
            QCOMPARE(file.write(QByteArray(2 * 4096, '\x5a')), qint64(2 * 4096));
        }
        DbManager db(nullptr, m_dir->path());
        QCOMPARE(db.health(), DbManager::Health::Damaged);
        QVERIFY2(db.problemText().contains(QStringLiteral("is damaged")), qPrintable(db.problemText()));
        QVERIFY(db.problemText().contains(QDir::toNativeSeparators(dbFile())));
        QStringList names, dates;
        QVERIFY(!db.getMotorList(&names, &dates));
    }

    // Another program holds a write transaction: the GUI thread waits briefly, the
    // database is not written off as read-only, and once the lock is gone it works again.
    void lockedAtStartUpIsUsableOnceFree_data()
    {
        QTest::addColumn<QString>("begin");
        QTest::newRow("write transaction") << "BEGIN IMMEDIATE";
        QTest::newRow("exclusive transaction") << "BEGIN EXCLUSIVE";
    }

    void lockedAtStartUpIsUsableOnceFree()
    {
        QFETCH(QString, begin);
        MOTOR_TOTAL stored = sampleMotor(1);
        QVERIFY(m_db->saveMotor(QStringLiteral("Stored"), QString(), &stored));
        m_db.reset();

        OtherConnection other(dbFile());
        QVERIFY(other.exec(begin));
        DbManager db(nullptr, m_dir->path());
        QCOMPARE(db.health(), DbManager::Health::Locked);
        QVERIFY2(db.problemText().contains(QStringLiteral("in use by another program")), qPrintable(db.problemText()));
        QSignalSpy usable(&db, &DbManager::usableAgain);
        MOTOR_TOTAL m = sampleMotor(2);
        QVERIFY(!db.saveMotor(QStringLiteral("New"), QString(), &m));
        QCOMPARE(usable.count(), 0);

        QVERIFY(other.exec(QStringLiteral("ROLLBACK")));
        QVERIFY(db.saveMotor(QStringLiteral("New"), QString(), &m));
        QCOMPARE(db.health(), DbManager::Health::Ready);
        QVERIFY(db.problemText().isEmpty());
        QCOMPARE(usable.count(), 1);
        QCOMPARE(rowCount(), 2);
    }

    // Mid-session: the lookup of a new motor does not store it silently.
    void lockedLookupSaysTheMotorWasNotStored()
    {
        OtherConnection other(dbFile());
        QVERIFY(other.exec(QStringLiteral("BEGIN IMMEDIATE")));
        QSignalSpy messages(m_db.get(), &DbManager::databaseMessage);
        QSignalSpy usable(m_db.get(), &DbManager::usableAgain);
        MOTOR_TOTAL m = sampleMotor(3);
        QVERIFY(m_db->findMotor(&m).isNull());
        QCOMPARE(messages.count(), 1);
        QVERIFY2(messages[0][0].toString().startsWith(QStringLiteral("The motor was not stored")),
                 qPrintable(messages[0][0].toString()));
        QCOMPARE(m_db->health(), DbManager::Health::Locked);

        QVERIFY(other.exec(QStringLiteral("ROLLBACK")));
        QCOMPARE(m_db->findMotor(&m), QStringLiteral("Unknown motor 1"));
        QCOMPARE(usable.count(), 1);
        QCOMPARE(messages.count(), 1);
    }

    // The retry runs by itself too, without any operation asking.
    void lockIsRetriedByItself()
    {
        OtherConnection other(dbFile());
        QVERIFY(other.exec(QStringLiteral("BEGIN EXCLUSIVE")));
        MOTOR_TOTAL m = sampleMotor(4);
        QVERIFY(!m_db->saveMotor(QStringLiteral("A"), QString(), &m));
        QCOMPARE(m_db->health(), DbManager::Health::Locked);
        QSignalSpy usable(m_db.get(), &DbManager::usableAgain);
        QVERIFY(other.exec(QStringLiteral("ROLLBACK")));
        QVERIFY(usable.wait(4 * DbManager::RETRY_INTERVAL_MS));
        QCOMPARE(m_db->health(), DbManager::Health::Ready);
    }

    void readOnlyDatabaseReadsButRefusesWrites()
    {
        MOTOR_TOTAL m = sampleMotor(1);
        QVERIFY(m_db->saveMotor(QStringLiteral("Stored"), QString(), &m));
        m_db.reset();

        ImmutableGuard guard(m_dir->path());    // no journal can be created beside the file
        if (!guard.active())
            QSKIP("chattr +i is not available here");
        DbManager db(nullptr, m_dir->path());
        QCOMPARE(db.health(), DbManager::Health::ReadOnly);
        QVERIFY(!db.problemText().isEmpty());

        QStringList names, dates;
        QVERIFY(db.getMotorList(&names, &dates));
        QCOMPARE(names, QStringList { QStringLiteral("Stored") });
        MOTOR_TOTAL readBack;
        QVERIFY(db.getMotorParams(QStringLiteral("Stored"), &readBack));
        QCOMPARE(db.findMotor(&m), QStringLiteral("Stored"));

        MOTOR_TOTAL other = sampleMotor(2);
        QVERIFY(db.findMotor(&other).isNull());
        QVERIFY(!db.saveMotor(QStringLiteral("New"), QString(), &other));
        QVERIFY(!db.renameMotor(QStringLiteral("Stored"), QStringLiteral("New")));
        QVERIFY(!db.removeAllMotor());
    }
};

QTEST_GUILESS_MAIN(TestDbManager)
#include "tst_dbmanager.moc"
