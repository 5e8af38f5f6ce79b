#include "motors/dbmanager.h"
#include "motors/motorfile.h"
#include "motors/motorfileexchange.h"
#include "motors/payloadcipher.h"

#include "motortestsupport.h"

#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

#include <sys/stat.h>

using namespace MotorTestSupport;

namespace {

struct StoredMotor
{
    const char *name;
    const char *date;
    int seed;
};

const StoredMotor THREE_MOTORS[] = {
    { "Gamma 2212", "2023-03-01 10:00:00", 3 },
    { "Alpha", "2021-01-15 08:30:00", 1 },
    { "Beta \u00fc\u00df", "", 2 },              // non-ASCII name, no date
};

QByteArray cipherField(const QByteArray &plain)
{
    PayloadCipher cipher(MotorFile::PROGRAM_KEY);
    return cipher.encryptText(plain).toLatin1();
}

QByteArray motorLine(const char *name, int seed)
{
    return QByteArray(name) + ";2022-02-02 02:02:02;" + cipherField(sampleMotor(seed).pack()) + '\n';
}

} // namespace

class TestMotorFiles : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<DbManager> m_source;    // motors to export
    std::unique_ptr<DbManager> m_target;    // where files are imported

    QString path(const QString &name) const { return m_dir->filePath(name); }
    QString targetFile() const { return path(QStringLiteral("target/Kordo_data.db")); }

    QString writeFile(const QString &name, const QByteArray &content) const
    {
        QFile file(path(name));
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(content) != content.size())
            return QString();
        return file.fileName();
    }

    static QByteArray readFile(const QString &fileName)
    {
        QFile file(fileName);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    void fillTargetWithOldList()
    {
        MOTOR_TOTAL old = sampleMotor(9);
        QVERIFY(m_target->saveMotor(QStringLiteral("Alpha"), QStringLiteral("2000-01-01 00:00:00"), &old));
        QVERIFY(m_target->saveMotor(QStringLiteral("Zeta"), QStringLiteral("2000-01-02 00:00:00"), &old));
    }

    QString exportAll()
    {
        QStringList names, dates;
        if (!m_source->getMotorList(&names, &dates))
            return QString();
        const QString fileName = path(QStringLiteral("motors.ms"));
        MotorFileExchange exchange(*m_source);
        return exchange.exportMotors(fileName, names, dates).ok ? fileName : QString();
    }

private slots:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
        QVERIFY(QDir(m_dir->path()).mkpath(QStringLiteral("source")));
        QVERIFY(QDir(m_dir->path()).mkpath(QStringLiteral("target")));
        m_source = std::make_unique<DbManager>(nullptr, path(QStringLiteral("source")));
        m_target = std::make_unique<DbManager>(nullptr, path(QStringLiteral("target")));
        for (const StoredMotor &motor : THREE_MOTORS) {
            MOTOR_TOTAL params = sampleMotor(motor.seed);
            QVERIFY(m_source->saveMotor(QString::fromUtf8(motor.name), QString::fromLatin1(motor.date), &params));
        }
    }

    void cleanup()
    {
        m_source.reset();
        m_target.reset();
        m_dir.reset();
    }

    void exportWritesOneLinePerMotorInNameOrder()
    {
        const QString fileName = exportAll();
        QVERIFY(!fileName.isEmpty());
        const QByteArray text = readFile(fileName);
        QVERIFY(text.endsWith('\n'));
        QVERIFY(!text.contains('\r'));
        const QList<QByteArray> lines = text.left(text.size() - 1).split('\n');
        QCOMPARE(lines.size(), 3);

        const QStringList expectedNames { "Alpha", QString::fromUtf8("Beta \u00fc\u00df"), "Gamma 2212" };
        const QStringList expectedDates { "2021-01-15 08:30:00", "", "2023-03-01 10:00:00" };
        const int expectedSeeds[] = { 1, 2, 3 };
        for (int i = 0; i < 3; ++i) {
            const QStringList fields = QString::fromUtf8(lines[i]).split(QLatin1Char(';'));
            QCOMPARE(fields.size(), 3);
            QCOMPARE(fields[0], expectedNames[i]);
            QCOMPARE(fields[1], expectedDates[i]);
            QVERIFY(QRegularExpression(QStringLiteral("^[A-Za-z0-9+/]{44}$")).match(fields[2]).hasMatch());
            PayloadCipher cipher(MotorFile::PROGRAM_KEY);
            QCOMPARE(cipher.decryptBytes(fields[2]).toHex(), sampleMotor(expectedSeeds[i]).pack().toHex());
        }
    }

    void exportThenAppendIntoEmptyDatabaseRecreatesTheMotors()
    {
        const QString fileName = exportAll();
        QVERIFY(!fileName.isEmpty());
        MotorFileExchange exchange(*m_target);
        const MotorResult result = exchange.importMotors(fileName, false);
        QVERIFY(result.ok);
        QVERIFY(result.message.isEmpty());

        QStringList sourceNames, sourceDates, targetNames, targetDates;
        QVERIFY(m_source->getMotorList(&sourceNames, &sourceDates));
        QVERIFY(m_target->getMotorList(&targetNames, &targetDates));
        QCOMPARE(targetNames, sourceNames);
        QCOMPARE(targetDates, sourceDates);
        for (const QString &name : sourceNames) {
            MOTOR_TOTAL original, imported;
            QVERIFY(m_source->getMotorParams(name, &original));
            QVERIFY(m_target->getMotorParams(name, &imported));
            QCOMPARE(imported.pack().toHex(), original.pack().toHex());
        }
    }

    void appendReplacesMotorsOfTheSameName()
    {
        fillTargetWithOldList();
        MotorFileExchange exchange(*m_target);
        QVERIFY(exchange.importMotors(exportAll(), false).ok);
        QStringList names, dates;
        QVERIFY(m_target->getMotorList(&names, &dates));
        QCOMPARE(names.size(), 4);
        QCOMPARE(names.first(), QStringLiteral("Alpha"));
        QCOMPARE(dates.first(), QStringLiteral("2021-01-15 08:30:00"));
        QCOMPARE(names.last(), QStringLiteral("Zeta"));
        MOTOR_TOTAL alpha;
        QVERIFY(m_target->getMotorParams(QStringLiteral("Alpha"), &alpha));
        QVERIFY(alpha == sampleMotor(1));
    }

    void overwriteLeavesOnlyTheFilesMotors()
    {
        fillTargetWithOldList();
        MotorFileExchange exchange(*m_target);
        QVERIFY(exchange.importMotors(exportAll(), true).ok);
        QStringList names, dates;
        QVERIFY(m_target->getMotorList(&names, &dates));
        QCOMPARE(names, (QStringList { "Alpha", QString::fromUtf8("Beta \u00fc\u00df"), "Gamma 2212" }));
    }

    void damagedThirdLineChangesNothing_data()
    {
        QTest::addColumn<bool>("overwrite");
        QTest::newRow("append") << false;
        QTest::newRow("overwrite") << true;
    }

    void damagedThirdLineChangesNothing()
    {
        QFETCH(bool, overwrite);
        fillTargetWithOldList();
        QByteArray text = readFile(exportAll());
        const int thirdLine = text.indexOf('\n', text.indexOf('\n') + 1) + 1;
        const int field3 = text.lastIndexOf(';') + 1;
        QVERIFY(field3 > thirdLine);
        text[field3 + 10] = text.at(field3 + 10) == 'A' ? 'B' : 'A';
        const QString fileName = writeFile(QStringLiteral("damaged.ms"), text);

        const QByteArray before = fileDigest(targetFile());
        MotorFileExchange exchange(*m_target);
        const MotorResult result = exchange.importMotors(fileName, overwrite);
        QVERIFY(!result.ok);
        QCOMPARE(result.message, QStringLiteral("Import failed!"));
        QCOMPARE(fileDigest(targetFile()), before);
    }

    // Every damaged file is refused in both modes, and the database file stays
    // byte-for-byte as it was.
    void damagedFilesAreRejected_data()
    {
        QTest::addColumn<QByteArray>("content");
        const QByteArray good = motorLine("Good", 1);
        const QByteArray record = sampleMotor(2).pack();
        const QByteArray validField = cipherField(record);

        QByteArray wrongVersion = QByteArray::fromBase64(validField);
        wrongVersion[0] = 0x04;
        QByteArray garbage;
        for (int i = 0; i < 4096; ++i)
            garbage.append(char((i * 167 + 13) & 0xFF));

        QTest::newRow("truncated base64") << good + "Cut;2022-01-01 00:00:00;" + validField.left(30) + '\n';
        QTest::newRow("base64 cut to 2 bytes") << good + "Cut;;AwI=\n";
        QTest::newRow("wrong version") << good + "V;;" + wrongVersion.toBase64() + '\n';
        QTest::newRow("short payload") << good + "Short;;" + cipherField(record.left(27)) + '\n';
        QTest::newRow("other key") << good + "Key;;" + PayloadCipher(0x1234).encryptText(record).toLatin1() + '\n';
        QTest::newRow("two fields") << good + "Name;" + validField + '\n';
        QTest::newRow("one field") << good + validField + '\n';
        QTest::newRow("empty name") << good + ";2022-01-01 00:00:00;" + validField + '\n';
        QTest::newRow("empty line") << good + '\n';
        QTest::newRow("empty last line without end") << good + ";;";
        QTest::newRow("binary garbage") << good + garbage;
        QTest::newRow("10 MB line") << good + "Huge;;" + QByteArray(10 * 1024 * 1024, 'Q') + '\n';
        QTest::newRow("10 MB of separators") << good + QByteArray(10 * 1024 * 1024, ';');
        QTest::newRow("NUL bytes") << good + QByteArray(64, '\0');
        QTest::newRow("good then damaged then good") << good + "Bad;;" + validField.left(43) + '\n' + motorLine("Later", 3);
        QTest::newRow("zlib bomb") << good + "Bomb;;" + zlibBombField() + '\n';
        QTest::newRow("no motors at all") << QByteArray("");
    }

    void damagedFilesAreRejected()
    {
        QFETCH(QByteArray, content);
        fillTargetWithOldList();
        const QString fileName = writeFile(QStringLiteral("bad.ms"), content);
        QVERIFY(!fileName.isEmpty());
        const QByteArray before = fileDigest(targetFile());
        QVERIFY(!before.isEmpty());

        MotorFileExchange exchange(*m_target);
        for (bool overwrite : { false, true }) {
            const MotorResult result = exchange.importMotors(fileName, overwrite);
            QVERIFY2(!result.ok, overwrite ? "overwrite" : "append");
            QCOMPARE(result.message, QStringLiteral("Import failed!"));
            QCOMPARE(fileDigest(targetFile()), before);
        }
    }

    // The user learns why: the file is damaged (which line), or holds nothing to import.
    void refusedImportsSayWhy_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("reason");
        QTest::newRow("empty file") << QByteArray("") << "The file holds no motors: nothing to import.";
        QTest::newRow("zlib bomb") << QByteArray("Bomb;;" + zlibBombField() + '\n')
                                   << "The file is damaged: line 1: record does not decipher (error 4)";
    }

    void refusedImportsSayWhy()
    {
        QFETCH(QByteArray, content);
        QFETCH(QString, reason);
        fillTargetWithOldList();
        const QString fileName = writeFile(QStringLiteral("refused.ms"), content);
        MotorFileExchange exchange(*m_target);
        for (bool overwrite : { false, true }) {
            const MotorResult result = exchange.importMotors(fileName, overwrite);
            QVERIFY(!result.ok);
            QCOMPARE(result.reason, reason);
            QCOMPARE(result.fullText(), QStringLiteral("Import failed!\n") + reason);
        }
        QStringList names, dates;
        QVERIFY(m_target->getMotorList(&names, &dates));
        QCOMPARE(names, (QStringList { "Alpha", "Zeta" }));
    }

    // A FIFO or a device named like a motor file, itself or through a link, is refused at
    // once: opening it would hold the window until something writes to it.
    void importRefusesWhatIsNoRegularFile_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::newRow("FIFO") << "fifo";
        QTest::newRow("link to a FIFO") << "link";
        QTest::newRow("device") << "device";
    }

    void importRefusesWhatIsNoRegularFile()
    {
        QFETCH(QString, kind);
        fillTargetWithOldList();
        const QString fifo = path(QStringLiteral("motors-fifo.ms"));
        QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
        QString fileName = kind == QLatin1String("device") ? QStringLiteral("/dev/zero") : fifo;
        if (kind == QLatin1String("link")) {
            fileName = path(QStringLiteral("motors-link.ms"));
            QVERIFY(QFile::link(fifo, fileName));
        }
        MotorFileExchange exchange(*m_target);
        const MotorResult result = exchange.importMotors(fileName, true);
        QVERIFY(!result.ok);
        QCOMPARE(result.reason, QStringLiteral("The file %1 cannot be opened: it is not a regular file").arg(fileName));
        QStringList names, dates;
        QVERIFY(m_target->getMotorList(&names, &dates));
        QCOMPARE(names, (QStringList { "Alpha", "Zeta" }));
    }

    void failedStoreRollsBackTheWholeImport_data()
    {
        QTest::addColumn<bool>("overwrite");
        QTest::newRow("append") << false;
        QTest::newRow("overwrite") << true;
    }

    void failedStoreRollsBackTheWholeImport()
    {
        QFETCH(bool, overwrite);
        const QString fileName = exportAll();
        fillTargetWithOldList();
        bool ok = false;
        runSql(targetFile(), { QStringLiteral("CREATE TRIGGER refuse BEFORE INSERT ON motors WHEN NEW.name = 'Gamma 2212' "
                                              "BEGIN SELECT RAISE(ABORT, 'refused'); END;") }, &ok);
        QVERIFY(ok);
        const QByteArray before = fileDigest(targetFile());
        MotorFileExchange exchange(*m_target);
        const MotorResult result = exchange.importMotors(fileName, overwrite);
        QVERIFY(!result.ok);
        QCOMPARE(result.message, QStringLiteral("Import failed!"));
        QCOMPARE(fileDigest(targetFile()), before);
        QStringList names, dates;
        QVERIFY(m_target->getMotorList(&names, &dates));
        QCOMPARE(names, (QStringList { "Alpha", "Zeta" }));
    }

    void unreadableFilesAreRejected_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::newRow("missing file") << "missing";
        QTest::newRow("a directory") << "directory";
        QTest::newRow("larger than any motor file") << "huge";
    }

    void unreadableFilesAreRejected()
    {
        QFETCH(QString, kind);
        fillTargetWithOldList();
        QString fileName = path(QStringLiteral("none.ms"));
        if (kind == QLatin1String("directory")) {
            fileName = path(QStringLiteral("source"));
        } else if (kind == QLatin1String("huge")) {
            fileName = writeFile(QStringLiteral("huge.ms"), motorLine("Good", 1));
            QFile file(fileName);
            QVERIFY(file.resize(MotorFile::MAX_FILE_SIZE + 1));    // sparse: costs no disk
        }
        const QByteArray before = fileDigest(targetFile());
        MotorFileExchange exchange(*m_target);
        const MotorResult result = exchange.importMotors(fileName, true);
        QVERIFY(!result.ok);
        QCOMPARE(result.message, QStringLiteral("Import failed!"));
        QCOMPARE(fileDigest(targetFile()), before);
    }

    void importReadsAWriteProtectedFile()
    {
        const QString fileName = exportAll();
        ImmutableGuard guard(fileName);
        if (!guard.active())
            QSKIP("chattr +i is not available here");
        QVERIFY(!QFile(fileName).open(QIODevice::ReadWrite));
        MotorFileExchange exchange(*m_target);
        QVERIFY(exchange.importMotors(fileName, false).ok);
        QStringList names, dates;
        QVERIFY(m_target->getMotorList(&names, &dates));
        QCOMPARE(names.size(), 3);
    }

    void windowsLineEndsAreRead()
    {
        QByteArray text = readFile(exportAll());
        text.replace("\n", "\r\n");
        MotorFileExchange exchange(*m_target);
        QVERIFY(exchange.importMotors(writeFile(QStringLiteral("crlf.ms"), text), true).ok);
        QStringList names, dates;
        QVERIFY(m_target->getMotorList(&names, &dates));
        QCOMPARE(dates.last(), QStringLiteral("2023-03-01 10:00:00"));
    }

    // The file is written whole or not at all; an existing file stays as it was.
    void failedExportWritesNothing_data()
    {
        QTest::addColumn<QStringList>("names");
        QTest::addColumn<QStringList>("dates");
        QTest::newRow("name with ';'") << QStringList { "Alpha", "Semi;colon" } << QStringList { "", "" };
        QTest::newRow("name with line feed") << QStringList { "Alpha", "Line\nfeed" } << QStringList { "", "" };
        QTest::newRow("date with ';'") << QStringList { "Alpha" } << QStringList { "2020;01" };
        QTest::newRow("missing motor") << QStringList { "Alpha", "Nobody" } << QStringList { "", "" };
        QTest::newRow("fewer dates than names") << QStringList { "Alpha", "Gamma 2212" } << QStringList { "" };
    }

    void failedExportWritesNothing()
    {
        QFETCH(QStringList, names);
        QFETCH(QStringList, dates);
        // Motors whose names the format cannot carry, as an older program could store them.
        bool ok = false;
        runSql(path(QStringLiteral("source/Kordo_data.db")), {
            QStringLiteral("INSERT INTO motors SELECT 'Semi;colon',rs,ls_d,ls_q,rated_flux,k_p,k_i,max_voltage,"
                           "max_frequency,max_current,pole_pairs,max_res_current,datetime FROM motors WHERE name='Alpha'"),
            QStringLiteral("INSERT INTO motors SELECT 'Line' || char(10) || 'feed',rs,ls_d,ls_q,rated_flux,k_p,k_i,"
                           "max_voltage,max_frequency,max_current,pole_pairs,max_res_current,datetime FROM motors WHERE name='Alpha'"),
        }, &ok);
        QVERIFY(ok);

        const QByteArray previous("previous content\n");
        const QString existing = writeFile(QStringLiteral("existing.ms"), previous);
        const QString fresh = path(QStringLiteral("fresh.ms"));
        MotorFileExchange exchange(*m_source);
        for (const QString &fileName : { existing, fresh }) {
            const MotorResult result = exchange.exportMotors(fileName, names, dates);
            QVERIFY(!result.ok);
            QCOMPARE(result.message, QStringLiteral("Export failed!"));
        }
        QCOMPARE(readFile(existing), previous);
        QVERIFY(!QFile::exists(fresh));
        QCOMPARE(QDir(m_dir->path()).entryList(QDir::Files), (QStringList { "existing.ms" }));
    }

    void exportToAnUnwritablePlaceFails()
    {
        MotorFileExchange exchange(*m_source);
        const MotorResult result = exchange.exportMotors(path(QStringLiteral("no/such/dir/m.ms")),
                                                         { QStringLiteral("Alpha") }, { QString() });
        QVERIFY(!result.ok);
        QCOMPARE(result.message, QStringLiteral("Export failed!"));
    }

    void importIntoAReadOnlyDatabaseFails()
    {
        const QString fileName = exportAll();
        fillTargetWithOldList();
        m_target.reset();
        ImmutableGuard guard(path(QStringLiteral("target")));
        if (!guard.active())
            QSKIP("chattr +i is not available here");
        DbManager readOnly(nullptr, path(QStringLiteral("target")));
        QCOMPARE(readOnly.health(), DbManager::Health::ReadOnly);
        const QByteArray before = fileDigest(targetFile());
        MotorFileExchange exchange(readOnly);
        QVERIFY(!exchange.importMotors(fileName, true).ok);
        QCOMPARE(fileDigest(targetFile()), before);
        // Reading still works, so its motors can be exported.
        MotorFileExchange fromReadOnly(readOnly);
        QVERIFY(fromReadOnly.exportMotors(path(QStringLiteral("out.ms")), { QStringLiteral("Zeta") }, { QString() }).ok);
    }
};

QTEST_GUILESS_MAIN(TestMotorFiles)
#include "tst_motorfiles.moc"
