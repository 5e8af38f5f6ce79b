#include "device/settingsdocument.h"
#include "device/settingsrecords.h"
#include "device/settingssnapshots.h"
#include "tests/common/framedecode.h"
#include "tests/common/simprocess.h"
#include "tests/firmware/firmwareimages.h"
#include "sim/simulatedfirmware.h"
#include "wire/motortotal.h"
#include "wire/messageids.h"
#include "wire/records.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>
#include <utility>

// kordoman on the simulated controller (kordo-sim on a pseudo-terminal): a firmware update
// that loses the controller's settings leaves a backup of them, which --restore-backup
// writes back byte for byte; --diff-settings tells a settings file from the controller.
class TestSettingsBackups : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;

    struct Run
    {
        int code = -1;
        QString out;
        QString err;
    };

    static Run kordoman(const QStringList &arguments)
    {
        const QString binDir = qEnvironmentVariable("KORDO_BIN_DIR", QStringLiteral(KORDO_DEFAULT_BIN_DIR));
        QProcess process;
        process.start(QDir(binDir).filePath(QStringLiteral("kordoman")), arguments);
        Run run;
        if (!process.waitForFinished(60000)) {
            process.kill();
            process.waitForFinished();
            return run;
        }
        run.code = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
        run.out = QString::fromUtf8(process.readAllStandardOutput());
        run.err = QString::fromUtf8(process.readAllStandardError());
        return run;
    }

    QString writeFile(const QString &name, const QByteArray &content)
    {
        const QString path = m_dir.filePath(name);
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size())
            return QString();
        return path;
    }

    // The last answer of the controller to message `msgId` in its trace; with `beforeRequest`,
    // the last one before the host first sent that request.
    static QByteArray lastAnswer(const QString &tracePath, uint8_t msgId, int beforeRequest = -1)
    {
        QFile trace(tracePath);
        if (!trace.open(QIODevice::ReadOnly))
            return {};
        QByteArray payload;
        while (!trace.atEnd()) {
            const QList<QByteArray> parts = trace.readLine().simplified().split(' ');
            if (parts.size() < 3)
                continue;
            const VYX_Protocol::VYX_MSG msg = decodeFrame(QByteArray::fromHex(parts.mid(2).join()));
            if (parts[1] == "in" && msg.msgId == beforeRequest)
                break;
            if (parts[1] == "out" && msg.msgId == msgId && msg.length > 0)
                payload = msg.payloadBytes();
        }
        return payload;
    }

    static QVector<SettingsSnapshot> snapshots(const QString &dataDir)
    {
        SettingsSnapshots store(QDir(dataDir).filePath(QStringLiteral("Kordo_Db")), dataDir);
        QVector<SettingsSnapshot> all;
        QString problem;
        if (!store.list(QString(), &all, &problem))
            qWarning() << problem;
        return all;
    }

private slots:
    // The update of a running controller keeps what it held; the new firmware comes with
    // other values; the backup brings the old ones back, byte for byte.
    void updateKeepsTheSettingsAndRestoreBringsThemBack()
    {
        const QString trace = m_dir.filePath(QStringLiteral("update.trace"));
        const QString dataDir = m_dir.filePath(QStringLiteral("update-data"));
        SimProcess sim({"--serial", "777", "--settings-change-on-update", "--trace", trace});
        QVERIFY(sim.isReady());
        const QString image = writeFile(QStringLiteral("fw.bin"), TestImages::plainImage(8 * 1024));

        // The production line's update (--report): a reset request now and then left unanswered
        // by the line is tried once more there, so that this test does not depend on it.
        const Run flash = kordoman({"--flash", image, "--port", sim.adapterPortSpec(), "--data-dir", dataDir, "--report",
                                    m_dir.filePath(QStringLiteral("update.csv"))});
        QVERIFY2(flash.code == 0, qPrintable(flash.out + flash.err));
        QVERIFY2(flash.out.contains(QStringLiteral("Settings kept as backup 1")), qPrintable(flash.out));
        // What the controller answered before the program asked it to reset into its bootloader.
        const QByteArray pwmInHeld = lastAnswer(trace, VyxMsg::GET_PWM_IN_PARAMS, VyxMsg::FIRMWARE_UPDATE_ENTRY);
        const QByteArray motionHeld = lastAnswer(trace, VyxMsg::GET_MOTION_PARAMS, VyxMsg::FIRMWARE_UPDATE_ENTRY);
        QCOMPARE(pwmInHeld.size(), SET_PWM_IN_PARAMS::WIRE_SIZE);
        QCOMPARE(motionHeld.size(), SET_MOTION_PARAMS::WIRE_SIZE);

        QVector<SettingsSnapshot> kept = snapshots(dataDir);
        QCOMPARE(kept.size(), 1);
        const SettingsSnapshot before = kept.first();
        QCOMPARE(before.id, qint64(1));
        QCOMPARE(before.serialNumber, QStringLiteral("777"));
        QCOMPARE(before.firmware, QStringLiteral("1.2.3"));
        QCOMPARE(before.reason, QStringLiteral("firmware update"));
        QCOMPARE(before.pwmIn, pwmInHeld);
        QCOMPARE(before.motion, motionHeld);
        QCOMPARE(before.motor.size(), 28);

        const Run listed = kordoman({"--backups", "777", "--data-dir", dataDir});
        QCOMPARE(listed.code, 0);
        QVERIFY2(listed.out.contains(QRegularExpression(QStringLiteral("\\n1\\t[-0-9 :]+\\t777\\t1\\.2\\.3\\tfirmware update\\n"))),
                 qPrintable(listed.out));

        const Run restore = kordoman({"--restore-backup", "1", "--port", sim.adapterPortSpec(), "--data-dir", dataDir});
        QVERIFY2(restore.code == 0, qPrintable(restore.out + restore.err));
        // What the new firmware held is kept too, before the restore wrote over it: it differs.
        kept = snapshots(dataDir);
        QCOMPARE(kept.size(), 2);
        QCOMPARE(kept.first().reason, QStringLiteral("restore"));
        QVERIFY(kept.first().motion != before.motion);
        // Read back after the restore: the bytes kept before the update.
        QCOMPARE(lastAnswer(trace, VyxMsg::GET_MOTION_PARAMS), before.motion);
        QCOMPARE(lastAnswer(trace, VyxMsg::GET_PWM_IN_PARAMS), before.pwmIn);
    }

    // A damaged database does not stop the update: the backup goes to a file of the data
    // directory, which the output names.
    void damagedDatabaseSendsTheBackupToAFile()
    {
        const QString dataDir = m_dir.filePath(QStringLiteral("damaged-data"));
        QVERIFY(QDir().mkpath(QDir(dataDir).filePath(QStringLiteral("Kordo_Db"))));
        {
            QFile db(QDir(dataDir).filePath(QStringLiteral("Kordo_Db/Kordo_data.db")));
            QVERIFY(db.open(QIODevice::WriteOnly));
            db.write(QByteArray(4096, '\x5a'));
        }
        SimProcess sim({"--serial", "4321"});
        QVERIFY(sim.isReady());
        const QString image = writeFile(QStringLiteral("fw-damaged.bin"), TestImages::plainImage(8 * 1024));
        const Run flash = kordoman({"--flash", image, "--port", sim.adapterPortSpec(), "--data-dir", dataDir, "--report",
                                    m_dir.filePath(QStringLiteral("damaged.csv"))});
        QVERIFY2(flash.code == 0, qPrintable(flash.out + flash.err));
        const QStringList files = QDir(dataDir).entryList({QStringLiteral("settings-backup-4321-*.json")}, QDir::Files);
        QCOMPARE(files.size(), 1);
        QVERIFY2(flash.out.contains(QDir(dataDir).filePath(files.first())), qPrintable(flash.out));
        QFile file(QDir(dataDir).filePath(files.first()));
        QVERIFY(file.open(QIODevice::ReadOnly));
        SettingsSnapshot kept;
        QVERIFY(SettingsSnapshot::fromFileText(file.readAll(), &kept));
        QCOMPARE(kept.reason, QStringLiteral("firmware update"));
        QCOMPARE(kept.motion.size(), SET_MOTION_PARAMS::WIRE_SIZE);

        // Listed (the database cannot be read: exit 1), and written back by its file name.
        const QString path = QDir(dataDir).filePath(files.first());
        const Run listed = kordoman({"--backups", "--data-dir", dataDir});
        QCOMPARE(listed.code, 1);
        QVERIFY2(listed.out.contains(path + QStringLiteral("\t")), qPrintable(listed.out));
        const Run restore = kordoman({"--restore-backup", path, "--port", sim.adapterPortSpec(), "--data-dir", dataDir});
        QVERIFY2(restore.code == 0, qPrintable(restore.out + restore.err));
    }

    // A link to a FIFO named like a backup file is no backup: the listing neither waits for a
    // writer nor shows it, and still lists the real backup file beside it.
    void backupsListingSkipsWhatIsNoRegularFile()
    {
        const QString dataDir = m_dir.filePath(QStringLiteral("fifo-data"));
        QVERIFY(QDir().mkpath(dataDir));
        const QString fifo = m_dir.filePath(QStringLiteral("a-fifo"));
        QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
        const QString linked = QDir(dataDir).filePath(QStringLiteral("settings-backup-1-20260101-000000.json"));
        QVERIFY(QFile::link(fifo, linked));
        SettingsSnapshot real;
        real.serialNumber = QStringLiteral("2");
        real.time = QDateTime(QDate(2026, 1, 2), QTime(3, 4, 5), Qt::UTC);
        real.firmware = QStringLiteral("1.2.3");
        real.reason = SettingsSnapshot::reasonKey(SettingsSnapshot::Reason::FirmwareUpdate);
        real.motion = SET_MOTION_PARAMS().pack();
        const QString file = QDir(dataDir).filePath(QStringLiteral("settings-backup-2-20260102-030405.json"));
        {
            QFile out(file);
            QVERIFY(out.open(QIODevice::WriteOnly));
            out.write(real.toFileText());
        }
        const Run listed = kordoman({"--backups", "--data-dir", dataDir});
        QVERIFY2(listed.code >= 0, "the listing did not end");
        QVERIFY2(listed.out.contains(file + QStringLiteral("\t")), qPrintable(listed.out + listed.err));
        QVERIFY2(!listed.out.contains(linked), qPrintable(listed.out));
    }

private:
    // The backups the restore table writes: the simulated controller's own records (serial
    // number 777) with the changes of each row.
    enum class Forge {
        Whole, Held, KpOutOfRange, DeadZoneByte, InvertedLevels, BrakeIntensity, ShortRecord, MotorOnly, OtherController
    };

    static SettingsSnapshot backupOf(Forge forge)
    {
        SimulatorConfig config;
        config.identity.serialNumber = 777;
        const SimulatedFirmware held(config);
        SET_PWM_IN_PARAMS pwmIn = held.pwmInParams();
        SET_MOTION_PARAMS motion = held.motionParams();
        MOTOR_TOTAL motor = held.storedMotor();
        if (forge != Forge::Held) { // another controller's values, all within their ranges
            pwmIn.deadZone = 12;
            pwmIn.speedNorm = 1500;
            motion.timeToLeave = 7;
            motion.Kp = 310;
            motor.Rs *= 1.5f;
            motor.maxMotorCurrent = 250;
        }
        SettingsSnapshot s;
        s.serialNumber = forge == Forge::OtherController ? QStringLiteral("999") : QStringLiteral("777");
        s.time = QDateTime::currentDateTimeUtc();
        s.firmware = QStringLiteral("1.2.3");
        s.reason = SettingsSnapshot::reasonKey(SettingsSnapshot::Reason::FirmwareUpdate);
        switch (forge) {
        case Forge::KpOutOfRange:
            motion.Kp = int16_t(-32768); // 0x8000
            break;
        case Forge::InvertedLevels:
            std::swap(pwmIn.lowLevel, pwmIn.highLevel);
            break;
        case Forge::BrakeIntensity:
            motion.brakeIntensity = 127;
            break;
        default:
            break;
        }
        s.pwmIn = pwmIn.pack();
        s.motion = motion.pack();
        s.motor = motor.pack();
        if (forge == Forge::DeadZoneByte) // bits 5-7 set beside the dead zone
            s.pwmIn[3] = char(0xE0 | (uint8_t(s.pwmIn.at(3)) & 0x1F));
        if (forge == Forge::ShortRecord)
            s.motion.chop(1);
        if (forge == Forge::MotorOnly) {
            s.pwmIn.clear();
            s.motion.clear();
        }
        return s;
    }

    // The write requests the simulator received: settings and both halves of the motor.
    static int writes(const SimProcess::Counts &counts)
    {
        int n = 0;
        for (int id : {VyxMsg::WRITE_PWM_IN_PARAMS, VyxMsg::WRITE_MOTION_PARAMS, VyxMsg::SET_MOTOR_IDENT_PARAMS,
                       VyxMsg::SET_MOTOR_USER_PARAMS}) {
            const auto it = counts.in.find(id);
            n += it == counts.in.end() ? 0 : it->second;
        }
        return n;
    }

private slots:
    // --restore-backup on the simulated controller: a whole backup is written and read back
    // byte for byte; a backup that a settings file's checks refuse, another controller's, or
    // one the controller already holds writes nothing; a controller that stores another
    // value than it confirmed fails the restore.
    void restoreTable_data()
    {
        QTest::addColumn<int>("forge");
        QTest::addColumn<QStringList>("simOptions");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("said");
        QTest::addColumn<int>("writeFrames"); // -1: some
        QTest::newRow("whole backup") << int(Forge::Whole) << QStringList() << 0
                                      << "OK, restored: PWM input settings, motion settings, motor" << -1;
        QTest::newRow("motor only") << int(Forge::MotorOnly) << QStringList() << 0 << "OK, restored: motor" << 2;
        QTest::newRow("already held") << int(Forge::Held) << QStringList() << 0 << "already holds the records" << 0;
        QTest::newRow("kp out of range") << int(Forge::KpOutOfRange) << QStringList() << 1 << "kp 32" << 0;
        // Bits 5-7 of the dead zone byte belong to the controller: restored as they were.
        QTest::newRow("dead zone byte") << int(Forge::DeadZoneByte) << QStringList() << 0
                                        << "OK, restored: PWM input settings, motion settings, motor" << -1;
        QTest::newRow("inverted levels") << int(Forge::InvertedLevels) << QStringList() << 1 << "out of order" << 0;
        QTest::newRow("brake intensity") << int(Forge::BrakeIntensity) << QStringList() << 1 << "brake intensity 127"
                                         << 0;
        QTest::newRow("short record") << int(Forge::ShortRecord) << QStringList() << 1
                                      << "the motion record is 7 bytes long, not 8" << 0;
        QTest::newRow("another controller") << int(Forge::OtherController) << QStringList() << 1
                                            << "taken from the controller 999" << 0;
        QTest::newRow("stores another Kp") << int(Forge::Whole) << QStringList {"--store-other-kp", "1"} << 1
                                           << "The settings read back differ from the backup: motion settings" << -1;
    }

    void restoreTable()
    {
        QFETCH(int, forge);
        QFETCH(QStringList, simOptions);
        QFETCH(int, exitCode);
        QFETCH(QString, said);
        QFETCH(int, writeFrames);
        const QString dataDir = m_dir.filePath(QStringLiteral("restore-%1").arg(QTest::currentDataTag()));
        const SettingsSnapshot backup = backupOf(Forge(forge));
        {
            QVERIFY(QDir().mkpath(QDir(dataDir).filePath(QStringLiteral("Kordo_Db"))));
            SettingsSnapshots store(QDir(dataDir).filePath(QStringLiteral("Kordo_Db")), dataDir);
            QCOMPARE(store.keep(backup).id, qint64(1));
        }
        const QString trace = m_dir.filePath(QStringLiteral("restore-%1.trace").arg(QTest::currentDataTag()));
        SimProcess sim(QStringList {"--serial", "777", "--trace", trace} + simOptions);
        QVERIFY(sim.isReady());
        const Run restore = kordoman({"--restore-backup", "1", "--port", sim.adapterPortSpec(), "--data-dir", dataDir});
        QVERIFY2(restore.code == exitCode, qPrintable(restore.out + restore.err));
        QVERIFY2((restore.out + restore.err).contains(said), qPrintable(restore.out + restore.err));
        const int written = writes(sim.counts());
        if (writeFrames >= 0)
            QCOMPARE(written, writeFrames);
        else
            QVERIFY(written > 0);
        if (exitCode != 0)
            return;
        // Read back from the controller after the restore: the backup's bytes.
        if (!backup.pwmIn.isEmpty()) {
            QCOMPARE(lastAnswer(trace, VyxMsg::GET_PWM_IN_PARAMS), backup.pwmIn);
            QCOMPARE(lastAnswer(trace, VyxMsg::GET_MOTION_PARAMS), backup.motion);
        }
        QCOMPARE(lastAnswer(trace, VyxMsg::GET_MOTOR_PARAMS) + lastAnswer(trace, VyxMsg::GET_MOTOR_USER_PARAMS),
                 backup.motor);
    }

    void diffSettings()
    {
        const QString trace = m_dir.filePath(QStringLiteral("diff.trace"));
        const QString dataDir = m_dir.filePath(QStringLiteral("diff-data"));
        SimProcess sim({"--trace", trace});
        QVERIFY(sim.isReady());

        // One field changed: named, exit 1.
        const QString oneField = writeFile(QStringLiteral("ttl.xml"),
                                           "<settings><motion><ttl>1500</ttl></motion></settings>");
        const Run differ = kordoman({"--diff-settings", oneField, "--port", sim.adapterPortSpec(), "--data-dir", dataDir});
        QVERIFY2(differ.code == 1, qPrintable(differ.out + differ.err));
        QVERIFY2(differ.out.contains(QStringLiteral("\nttl\t500\t1500\n")), qPrintable(differ.out));
        QVERIFY2(differ.out.contains(QStringLiteral("Fields that differ: 1.")), qPrintable(differ.out));

        // The controller's own values, exported as the settings page exports them: exit 0.
        const SET_PWM_IN_PARAMS pwmIn = SET_PWM_IN_PARAMS::unpack(lastAnswer(trace, VyxMsg::GET_PWM_IN_PARAMS));
        const SET_MOTION_PARAMS motion = SET_MOTION_PARAMS::unpack(lastAnswer(trace, VyxMsg::GET_MOTION_PARAMS));
        const QString own = writeFile(QStringLiteral("own.xml"),
                                      SettingsDocument::compose(SettingsRecords::exported(pwmIn, motion)));
        const Run equal = kordoman({"--diff-settings", own, "--port", sim.adapterPortSpec(), "--data-dir", dataDir});
        QVERIFY2(equal.code == 0, qPrintable(equal.out + equal.err));
        QVERIFY2(equal.out.contains(QStringLiteral("holds the settings of the file")), qPrintable(equal.out));

        // Nothing was written by either comparison.
        QVERIFY(lastAnswer(trace, VyxMsg::WRITE_MOTION_PARAMS).isEmpty());
        QVERIFY(lastAnswer(trace, VyxMsg::WRITE_PWM_IN_PARAMS).isEmpty());
    }

    // A file that is no settings file, or one with a value the controller cannot hold, is an
    // error before any port is opened.
    void diffSettingsErrors_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("said");
        QTest::newRow("not settings") << QByteArray("<config/>") << "holds no ESC settings";
        QTest::newRow("out of range") << QByteArray("<settings><motion><ttl>99999</ttl></motion></settings>")
                                      << "out of range";
        QTest::newRow("unreadable value") << QByteArray("<settings><motion><kp>nan</kp></motion></settings>") << "kp";
    }

    void diffSettingsErrors()
    {
        QFETCH(QByteArray, content);
        QFETCH(QString, said);
        const QString file = writeFile(QStringLiteral("bad.xml"), content);
        const Run run = kordoman({"--diff-settings", file, "--port", m_dir.filePath(QStringLiteral("no-such-port")),
                                  "--data-dir", m_dir.filePath(QStringLiteral("bad-data"))});
        QCOMPARE(run.code, 2);
        QVERIFY2(run.err.contains(said), qPrintable(run.err));
    }
};

QTEST_GUILESS_MAIN(TestSettingsBackups)
#include "tst_settingsbackups.moc"
