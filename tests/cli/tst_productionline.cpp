#include "app/datadirectory.h"
#include "cli/productionline.h"
#include "link/serialportprovider.h"
#include "motors/dbmanager.h"
#include "tests/common/everysettingsfield.h"
#include "tests/common/framedecode.h"
#include "tests/motors/motortestsupport.h"
#include "tests/common/simprocess.h"
#include "tests/firmware/firmwareimages.h"
#include "wire/messageids.h"
#include "wire/records.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTemporaryDir>
#include <QTextStream>
#include <QtTest>

#include "capture/linedecoder.h"
#include "capture/linerecorder.h"
#include "capture/pcapfile.h"
#include "wire/vyxprotocol.h"

#include <csignal>
#include <memory>
#include <sys/types.h>

// kordoman on four simulated controllers at once: two take firmware and settings, one
// refuses a page twice, one is unplugged in the middle of its update. The line worker
// trusts the exit code, the table and the CSV report.
class TestProductionLine : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;

    // One in-process run of the line: its exit status and what it printed.
    struct LineRun
    {
        int code;
        QString out;
        QString err;
    };
    static LineRun runLine(const ProductionLine::Request &request)
    {
        LineRun run {0, {}, {}};
        QTextStream out(&run.out);
        QTextStream err(&run.err);
        run.code = ProductionLine(request, out, err).run();
        out.flush();
        err.flush();
        return run;
    }

    static QList<VYX_Protocol::VYX_MSG> decodeFrames(const QByteArray &bytes)
    {
        VYX_Protocol codec;
        VYX_Protocol::VyxRxConfig config;
        QList<VYX_Protocol::VYX_MSG> frames;
        for (char c : bytes) {
            VYX_Protocol::VYX_MSG msg;
            if (codec.decodeByte(uint8_t(c), msg, config))
                frames << msg;
        }
        return frames;
    }

    static QString program()
    {
        const QString binDir = qEnvironmentVariable("KORDO_BIN_DIR", QStringLiteral(KORDO_DEFAULT_BIN_DIR));
        return QDir(binDir).filePath(QStringLiteral("kordoman"));
    }

    QString writeFile(const QString &name, const QByteArray &content)
    {
        const QString path = m_dir.filePath(name);
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size())
            return QString();
        return path;
    }

    // The last answer of the controller to message `msgId` in its trace: what it had stored
    // when the program read it. With `fromHost`: the last such request.
    static QByteArray lastAnswer(const QString &tracePath, uint8_t msgId, bool fromHost = false)
    {
        const QList<QByteArray> all = answers(tracePath, msgId, fromHost);
        return all.isEmpty() ? QByteArray() : all.last();
    }
    // Every answer (or request) with this message id, in the order of the trace.
    static QList<QByteArray> answers(const QString &tracePath, uint8_t msgId, bool fromHost = false)
    {
        QFile trace(tracePath);
        if (!trace.open(QIODevice::ReadOnly))
            return {};
        QList<QByteArray> payloads;
        while (!trace.atEnd()) {
            const QList<QByteArray> parts = trace.readLine().simplified().split(' ');
            if (parts.size() < 3 || parts[1] != (fromHost ? "in" : "out"))
                continue;
            const VYX_Protocol::VYX_MSG msg = decodeFrame(QByteArray::fromHex(parts.mid(2).join()));
            if (msg.msgId == msgId && msg.length > 0)
                payloads << msg.payloadBytes();
        }
        return payloads;
    }

    // How many requests with message id `msgId` the controller of this trace received.
    static int requestCount(const QString &tracePath, uint8_t msgId)
    {
        QFile trace(tracePath);
        if (!trace.open(QIODevice::ReadOnly))
            return -1;
        int count = 0;
        while (!trace.atEnd()) {
            const QList<QByteArray> parts = trace.readLine().simplified().split(' ');
            if (parts.size() >= 3 && parts[1] == "in"
                && decodeFrame(QByteArray::fromHex(parts.mid(2).join())).msgId == msgId)
                ++count;
        }
        return count;
    }

private slots:
    // SIGTERM in the middle of an update on two ports: no further page, both rows
    // "interrupted" in the table and the report, a non-zero exit. The same command run again
    // finds both controllers waiting in their bootloaders and brings both to the new image.
    void terminatingSignalInterruptsEveryPort()
    {
        const QByteArray firmware = TestImages::plainImage(32 * 1024);
        const QString image = writeFile(QStringLiteral("interrupted.bin"), firmware);
        QVERIFY(!image.isEmpty());
        const QString dumpA = m_dir.filePath(QStringLiteral("interrupted-a.flash"));
        const QString dumpB = m_dir.filePath(QStringLiteral("interrupted-b.flash"));
        SimProcess a({"--serial", "2001", "--page-write-us", "50000", "--flash-dump", dumpA});
        SimProcess b({"--serial", "2002", "--page-write-us", "50000", "--flash-dump", dumpB});
        QVERIFY(a.isReady() && b.isReady());
        const QString report = m_dir.filePath(QStringLiteral("interrupted.csv"));
        const QStringList arguments {"--flash", image, "--report", report, "--data-dir",
                                     m_dir.filePath(QStringLiteral("data")), "--port", a.adapterPortSpec(),
                                     "--port", b.adapterPortSpec()};
        QProcess process;
        process.start(program(), arguments);
        QVERIFY(process.waitForStarted());

        // Both updates under way.
        QByteArray out;
        const QByteArray writingA = "[" + a.linkPath().toUtf8() + "] 10 %";
        const QByteArray writingB = "[" + b.linkPath().toUtf8() + "] 10 %";
        QElapsedTimer clock;
        clock.start();
        while (!(out.contains(writingA) && out.contains(writingB)) && !clock.hasExpired(90000)
               && process.state() == QProcess::Running) {
            process.waitForReadyRead(200);
            out += process.readAllStandardOutput();
        }
        QVERIFY2(out.contains(writingA) && out.contains(writingB), out.constData());
        QCOMPARE(::kill(pid_t(process.processId()), SIGTERM), 0);
        QVERIFY(process.waitForFinished(90000));
        out += process.readAllStandardOutput();
        QCOMPARE(process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(process.exitCode(), 1);
        QVERIFY2(out.contains("0 of 2 ports succeeded."), out.constData());
        QCOMPARE(out.count("interrupted"), 4); // the end of each job and its table row

        QFile csv(report);
        QVERIFY(csv.open(QIODevice::ReadOnly));
        const QList<QByteArray> lines = csv.readAll().split('\n');
        QCOMPARE(lines.size(), 4); // the header, two rows, the last line's end
        for (int i = 1; i <= 2; ++i) {
            QVERIFY2(lines[i].contains(",interrupted,"), lines[i].constData());
            QVERIFY2(lines[i].endsWith("re-run --flash on this port: the controller waits in its bootloader"),
                     lines[i].constData());
        }
        QVERIFY(!QFile::exists(dumpA) && !QFile::exists(dumpB)); // neither application was started

        // The re-run the rows advise: both succeed and both controllers start the new image.
        QProcess rerun;
        rerun.start(program(), arguments);
        QVERIFY(rerun.waitForStarted());
        QVERIFY(rerun.waitForFinished(180000));
        const QByteArray again = rerun.readAllStandardOutput();
        QCOMPARE(rerun.exitStatus(), QProcess::NormalExit);
        QVERIFY2(rerun.exitCode() == 0, again.constData());
        QVERIFY2(again.contains("2 of 2 ports succeeded."), again.constData());
        QVERIFY2(!again.contains("interrupted"), again.constData());
        csv.close();
        QVERIFY(csv.open(QIODevice::ReadOnly));
        const QList<QByteArray> rows = csv.readAll().split('\n');
        QCOMPARE(rows.size(), 4);
        for (int i = 1; i <= 2; ++i)
            QVERIFY2(rows[i].contains(",ok,") && !rows[i].contains("interrupted"), rows[i].constData());
        for (const QString &dump : {dumpA, dumpB}) {
            QFile flashed(dump);
            QVERIFY2(flashed.open(QIODevice::ReadOnly), qPrintable(dump));
            QCOMPARE(flashed.readAll().left(firmware.size()), firmware);
        }
    }

    void fourPortsTwoFail()
    {
        const QString image = writeFile(QStringLiteral("fw.bin"), TestImages::plainImage(32 * 1024));
        const QString settings = writeFile(
            QStringLiteral("esc.xml"),
            "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<settings>"
            "<pwm_input><dead_zone>7</dead_zone><pwm_type>1</pwm_type><control_type>1</control_type>"
            "<speed_norm>12000</speed_norm></pwm_input>"
            "<motion><reverse>1</reverse><device_address>3</device_address><hw_address>0</hw_address>"
            "<ttl>300</ttl><kp>0.5</kp><kff>1.25</kff></motion></settings>\n");
        QVERIFY(!image.isEmpty() && !settings.isEmpty());

        const QString traceA = m_dir.filePath(QStringLiteral("a.trace"));
        const QString traceB = m_dir.filePath(QStringLiteral("b.trace"));
        SimProcess good1({"--serial", "1001", "--trace", traceA});
        SimProcess good2({"--serial", "1002", "--trace", traceB});
        // The third page refused twice: the image restarts once, then the update fails.
        SimProcess nacking({"--serial", "1003", "--nack-page", "3", "--nack-times", "2"});
        // Slow page writes, so that the update is surely still running when it is unplugged.
        auto vanishing = std::make_unique<SimProcess>(QStringList {"--serial", "1004", "--page-write-us", "50000"});
        QVERIFY(good1.isReady() && good2.isReady() && nacking.isReady() && vanishing->isReady());
        const QString vanishingPort = vanishing->linkPath();

        const QString report = m_dir.filePath(QStringLiteral("report.csv"));
        QProcess process;
        process.setProcessChannelMode(QProcess::SeparateChannels);
        process.start(program(), {"--flash", image, "--settings", settings, "--report", report, "--data-dir",
                                  m_dir.filePath(QStringLiteral("data")), "--port", good1.adapterPortSpec(),
                                  "--port", nacking.adapterPortSpec(), "--port", vanishing->adapterPortSpec(),
                                  "--port", good2.adapterPortSpec()});
        QVERIFY(process.waitForStarted());

        // Unplug the fourth controller once its first pages are written.
        QByteArray out;
        const QByteArray writing = "[" + vanishingPort.toUtf8() + "] 10 %";
        QElapsedTimer clock;
        clock.start();
        while (vanishing && !clock.hasExpired(90000) && process.state() == QProcess::Running) {
            process.waitForReadyRead(200);
            out += process.readAllStandardOutput();
            if (out.contains(writing))
                vanishing.reset();
        }
        if (vanishing)
            qWarning().noquote() << out; // the whole run: QVERIFY2 shows only its start
        QVERIFY2(!vanishing, "the fourth controller never reached 10 %");
        if (!process.waitForFinished(90000))
            process.kill();
        out += process.readAllStandardOutput();
        const QByteArray err = process.readAllStandardError();
        QCOMPARE(process.exitStatus(), QProcess::NormalExit);
        if (!out.contains("2 of 4 ports succeeded."))
            qWarning().noquote() << out;
        QVERIFY2(process.exitCode() == 1, out.constData());
        QVERIFY2(out.contains("2 of 4 ports succeeded."), "see the run above");
        QVERIFY2(err.isEmpty(), err.constData());
        // A run without --motor has no use for the motors of the database (it keeps the
        // settings backups): the jobs never store their controllers' motors as unknown motors.
        {
            QString problem;
            DbManager db(nullptr, DataDirectory::resolve(m_dir.filePath(QStringLiteral("data")), {}, {})
                                      .databaseDirectory(&problem));
            QStringList names;
            QStringList dates;
            QVERIFY(db.getMotorList(&names, &dates));
            QCOMPARE(names, QStringList());
        }

        QFile csv(report);
        QVERIFY(csv.open(QIODevice::ReadOnly));
        QList<QByteArray> lines = csv.readAll().split('\n');
        QCOMPARE(lines.takeFirst(), QByteArray("port,serial,firmware_before,firmware_after,result,reason,time_s,what_to_do"));
        QCOMPARE(lines.takeLast(), QByteArray()); // the last line ends like the others
        QCOMPARE(lines.size(), 4);
        // In the order the ports were named.
        QVERIFY2(lines[0].startsWith((good1.linkPath() + ",1001,1.2.3,1.2.3,ok,,").toUtf8()), lines[0].constData());
        QVERIFY2(lines[1].startsWith((nacking.linkPath() + ",1003,1.2.3,,failed,An update problem has occurred. Error 0x1,").toUtf8()),
                 lines[1].constData());
        QVERIFY2(lines[1].endsWith("re-run --flash on this port: the controller waits in its bootloader"), lines[1].constData());
        QVERIFY2(lines[2].startsWith((vanishingPort + ",1004,1.2.3,,failed,The port was lost during the update.,").toUtf8()),
                 lines[2].constData());
        QVERIFY2(lines[2].contains("it waits in its bootloader"), lines[2].constData());
        QVERIFY2(lines[3].startsWith((good2.linkPath() + ",1002,1.2.3,1.2.3,ok,,").toUtf8()), lines[3].constData());

        // What each good controller answered when its records were read after the writes.
        for (const QString &trace : {traceA, traceB}) {
            const SET_PWM_IN_PARAMS pwmIn = SET_PWM_IN_PARAMS::unpack(lastAnswer(trace, VyxMsg::GET_PWM_IN_PARAMS));
            QCOMPARE(int(pwmIn.deadZone), 7);
            QVERIFY(pwmIn.pwmType);
            QVERIFY(pwmIn.controlType);
            QCOMPARE(int(pwmIn.speedNorm), 1200);
            const SET_MOTION_PARAMS motion = SET_MOTION_PARAMS::unpack(lastAnswer(trace, VyxMsg::GET_MOTION_PARAMS));
            QVERIFY(motion.reverseDir);
            QCOMPARE(int(motion.deviceAddress), 3);
            QVERIFY(!motion.hwAddress);
            QCOMPARE(int(motion.timeToLeave), 6);
            QCOMPARE(int(motion.Kp), 512);
            QCOMPARE(int(motion.Ki), 1280);
        }
    }

    // A motor from the database goes into the controller beside one that refuses its reset.
    void motorWrittenResetRefused()
    {
        const QString dataDir = m_dir.filePath(QStringLiteral("motordata"));
        QString problem;
        const MOTOR_TOTAL motor = MotorTestSupport::sampleMotor(3);
        {
            const QString dbDir = DataDirectory::resolve(dataDir, {}, {}).databaseDirectory(&problem);
            DbManager db(nullptr, dbDir);
            MOTOR_TOTAL stored = motor;
            QVERIFY(db.saveMotor(QStringLiteral("Bench 3"), QStringLiteral("2026-01-01 10:00:00"), &stored));
        }
        const QString image = writeFile(QStringLiteral("fw2.bin"), TestImages::plainImage(8192));
        const QString trace = m_dir.filePath(QStringLiteral("motor.trace"));
        SimProcess good({"--serial", "2001", "--trace", trace});
        SimProcess refusing({"--serial", "2002", "--refuse-next", "0x80"});
        QVERIFY(good.isReady() && refusing.isReady());

        QProcess process;
        process.start(program(), {"--flash", image, "--motor", "Bench 3", "--data-dir", dataDir, "--port",
                                  good.adapterPortSpec(), "--port", refusing.adapterPortSpec()});
        QVERIFY(process.waitForFinished(90000));
        const QByteArray out = process.readAllStandardOutput();
        QVERIFY2(process.exitCode() == 1, out.constData());
        QVERIFY2(out.contains("1 of 2 ports succeeded."), out.constData());
        QVERIFY2(out.contains("its old firmware still runs"), out.constData());
        QCOMPARE(lastAnswer(trace, VyxMsg::SET_MOTOR_IDENT_PARAMS, true), motor.packIdent());
        QCOMPARE(lastAnswer(trace, VyxMsg::SET_MOTOR_USER_PARAMS, true), motor.packUser());
        // The motor database is read, never written: the controllers' own motors are not
        // stored as unknown motors.
        DbManager db(nullptr, DataDirectory::resolve(dataDir, {}, {}).databaseDirectory(&problem));
        QStringList names;
        QStringList dates;
        QVERIFY(db.getMotorList(&names, &dates));
        QCOMPARE(names, QStringList {QStringLiteral("Bench 3")});
    }

    // A port without a controller says why at the end of its wait: the port is not there,
    // it cannot be opened, or nothing answers on it.
    void portsWithoutAControllerSayWhy()
    {
        SimProcess silent({"--silent-after", "0"});
        QVERIFY(silent.isReady());
        ProductionLine::Request request(DataDirectory::resolve(m_dir.filePath(QStringLiteral("data3")), {}, {}));
        request.firmwareFile = writeFile(QStringLiteral("fw3.bin"), TestImages::plainImage(4096));
        request.findTimeoutMs = 1500;
        for (const QString &spec : {QStringLiteral("/nonexistent/ttyK@AE01"), QStringLiteral("/dev/null@AE02"),
                                    silent.adapterPortSpec()})
            request.ports << SerialPortProvider::parseExtraPort(spec);
        const LineRun line = runLine(request);
        QCOMPARE(line.code, 1);
        const QString &outText = line.out;
        const QStringList rows = outText.split(QLatin1Char('\n'));
        const auto row = [&rows](const QString &port) {
            for (const QString &line : rows) {
                if (line.startsWith(port + QLatin1Char(' ')))
                    return line;
            }
            return QString();
        };
        QVERIFY2(row(QStringLiteral("/nonexistent/ttyK")).contains(QLatin1String("The port was not found.")),
                 qPrintable(outText));
        QVERIFY2(row(QStringLiteral("/dev/null")).contains(QLatin1String("The port could not be opened: /dev/null")),
                 qPrintable(outText));
        QVERIFY2(row(silent.linkPath()).contains(QLatin1String("No controller was found.")), qPrintable(outText));
    }

    // A file naming every settings field gives the words the settings page writes for it
    // (the same file and words in tst_escsettingspage), read back as written.
    void everySettingsFieldGivesThePagesWords()
    {
        const QString trace = m_dir.filePath(QStringLiteral("fields.trace"));
        SimProcess sim({"--serial", "2001", "--trace", trace});
        QVERIFY(sim.isReady());
        ProductionLine::Request request(DataDirectory::resolve(m_dir.filePath(QStringLiteral("fields")), {}, {}));
        request.settingsFile = writeFile(QStringLiteral("fields.xml"), EverySettingsField::file());
        request.ports << SerialPortProvider::parseExtraPort(sim.adapterPortSpec());
        const LineRun line = runLine(request);
        QVERIFY2(line.code == 0, qPrintable(line.out + line.err));
        // The report names the fields the write changes, the controller's value and the new one.
        QVERIFY2(line.out.contains(QStringLiteral("Settings fields that change: ")) && line.out.contains(QStringLiteral("ttl ")),
                 qPrintable(line.out));

        SET_PWM_IN_PARAMS pwmIn = SET_PWM_IN_PARAMS::unpack(answers(trace, VyxMsg::GET_PWM_IN_PARAMS).value(0));
        SET_MOTION_PARAMS motion = SET_MOTION_PARAMS::unpack(answers(trace, VyxMsg::GET_MOTION_PARAMS).value(0));
        EverySettingsField::apply(pwmIn, motion);
        QCOMPARE(lastAnswer(trace, VyxMsg::WRITE_PWM_IN_PARAMS, true).toHex(), pwmIn.pack().toHex());
        QCOMPARE(lastAnswer(trace, VyxMsg::WRITE_MOTION_PARAMS, true).toHex(), motion.pack().toHex());
        QCOMPARE(lastAnswer(trace, VyxMsg::GET_PWM_IN_PARAMS).toHex(), pwmIn.pack().toHex());
        QCOMPARE(lastAnswer(trace, VyxMsg::GET_MOTION_PARAMS).toHex(), motion.pack().toHex());
    }

    // Two ports reaching controllers with one serial number (one controller on two device
    // files): the run is refused as a whole once every port has been heard, naming both
    // ports, and no controller is written to, not even the third one.
    void oneSerialNumberOnTwoPortsRefusesTheRun()
    {
        QStringList traces;
        for (const char *name : {"twin1", "twin2", "other"})
            traces << m_dir.filePath(QStringLiteral("%1.trace").arg(QLatin1String(name)));
        SimProcess first({"--serial", "4242", "--trace", traces[0]});
        SimProcess second({"--serial", "4242", "--trace", traces[1]});
        SimProcess other({"--serial", "4343", "--trace", traces[2]});
        QVERIFY(first.isReady() && second.isReady() && other.isReady());
        ProductionLine::Request request(DataDirectory::resolve(m_dir.filePath(QStringLiteral("twins")), {}, {}));
        request.firmwareFile = writeFile(QStringLiteral("twins.bin"), TestImages::plainImage(4096));
        request.settingsFile = writeFile(QStringLiteral("twins.xml"),
                                         "<settings><motion><ttl>300</ttl></motion></settings>");
        request.reportFile = m_dir.filePath(QStringLiteral("twins.csv"));
        for (const SimProcess *sim : {&other, &first, &second})
            request.ports << SerialPortProvider::parseExtraPort(sim->adapterPortSpec());
        const LineRun line = runLine(request);
        QCOMPARE(line.code, 1);
        const QString refusal = QStringLiteral("The controller 4242 answers on the ports %1 and %2: the run is "
                                               "refused and nothing was written.");
        QVERIFY2(line.err.contains(refusal.arg(first.linkPath(), second.linkPath()))
                     || line.err.contains(refusal.arg(second.linkPath(), first.linkPath())),
                 qPrintable(line.err + line.out));
        QVERIFY2(line.out.contains(QLatin1String("0 of 3 ports succeeded")), qPrintable(line.out));
        for (const QString &trace : qAsConst(traces)) {
            QVERIFY2(requestCount(trace, VyxMsg::GET_DEVICE_INFO) > 0, qPrintable(trace)); // each was heard
            for (uint8_t write : {VyxMsg::FIRMWARE_UPDATE_ENTRY, VyxMsg::WRITE_MOTION_PARAMS, VyxMsg::WRITE_PWM_IN_PARAMS})
                QVERIFY2(requestCount(trace, write) == 0, qPrintable(trace));
        }
        QFile csv(request.reportFile);
        QVERIFY(csv.open(QIODevice::ReadOnly));
        const QList<QByteArray> rows = csv.readAll().split('\n');
        QCOMPARE(rows.size(), 5); // the header, three ports, the empty end
        for (int i = 1; i <= 3; ++i)
            QVERIFY2(rows[i].contains(",failed,") && rows[i].contains("name each controller's port once"),
                     rows[i].constData());
    }

    // --capture on a run of two ports: one capture, each port its own line, the frames of
    // each whole and on its own line (the identities tell which controller spoke).
    void captureKeepsThePortsApart()
    {
        SimProcess first({"--serial", "4001"});
        SimProcess second({"--serial", "4002"});
        QVERIFY(first.isReady() && second.isReady());
        ProductionLine::Request request(DataDirectory::resolve(m_dir.filePath(QStringLiteral("captured")), {}, {}));
        request.settingsFile = writeFile(QStringLiteral("captured.xml"),
                                         "<settings><motion><ttl>300</ttl></motion></settings>");
        for (const SimProcess *sim : {&first, &second})
            request.ports << SerialPortProvider::parseExtraPort(sim->adapterPortSpec());
        LineRecorder recorder;
        const QString capture = m_dir.filePath(QStringLiteral("line.pcap"));
        QString error;
        QVERIFY2(recorder.startCapture(capture, &error), qPrintable(error));
        request.lineRecorder = &recorder;
        const LineRun line = runLine(request);
        QVERIFY2(line.code == 0, qPrintable(line.out + line.err));
        recorder.stopCapture();

        QVector<LineCapture::Record> records;
        QVERIFY(PcapReader::read(capture, &records, &error));
        QMap<int, QSet<uint32_t>> serialsByLine;
        QMap<int, int> writesByLine;
        for (const LineCapture::Record &record : qAsConst(records)) {
            QVERIFY2(record.kind == LineCapture::Kind::Frame || record.kind == LineCapture::Kind::Echo,
                     qPrintable(LineDecoder::describe(record)));
            const QList<VYX_Protocol::VYX_MSG> frames = decodeFrames(record.bytes);
            QCOMPARE(frames.size(), 1);
            if (record.kind != LineCapture::Kind::Frame)
                continue;
            const VYX_Protocol::VYX_MSG &msg = frames.constFirst();
            if (record.direction == LineCapture::Direction::FromController && msg.msgId == VyxMsg::GET_DEVICE_INFO)
                serialsByLine[record.line] << DeviceIdentity::decode(msg.payloadBytes()).serialNumber;
            if (record.direction == LineCapture::Direction::ToController && msg.msgId == VyxMsg::WRITE_MOTION_PARAMS)
                ++writesByLine[record.line];
        }
        QCOMPARE(serialsByLine.keys(), (QList<int> {0, 1}));
        QCOMPARE(serialsByLine[0], QSet<uint32_t> {4001});
        QCOMPARE(serialsByLine[1], QSet<uint32_t> {4002});
        QVERIFY(writesByLine[0] >= 1 && writesByLine[1] >= 1);
    }

    // A controller driving its motor is left alone, whatever the run was to write, and the
    // advice names the cause.
    void runningMotorIsLeftAlone_data()
    {
        QTest::addColumn<QString>("option");
        QTest::newRow("--settings") << "--settings";
        QTest::newRow("--motor") << "--motor";
        QTest::newRow("--flash") << "--flash";
    }
    void runningMotorIsLeftAlone()
    {
        QFETCH(QString, option);
        const QString trace = m_dir.filePath(QStringLiteral("running-%1.trace").arg(QTest::currentDataTag() + 2));
        SimProcess sim({"--running", "--trace", trace});
        QVERIFY(sim.isReady());
        ProductionLine::Request request(DataDirectory::resolve(m_dir.filePath(QStringLiteral("running")), {}, {}));
        if (option == QLatin1String("--settings"))
            request.settingsFile = writeFile(QStringLiteral("running.xml"),
                                             "<settings><motion><ttl>300</ttl></motion></settings>");
        if (option == QLatin1String("--flash"))
            request.firmwareFile = writeFile(QStringLiteral("running.bin"), TestImages::plainImage(4096));
        if (option == QLatin1String("--motor")) {
            QString problem;
            DbManager db(nullptr, request.dataDirectory.databaseDirectory(&problem));
            MOTOR_TOTAL stored = MotorTestSupport::sampleMotor(2);
            QVERIFY(db.saveMotor(QStringLiteral("Bench 2"), QStringLiteral("2026-01-01 10:00:00"), &stored));
            request.motorName = QStringLiteral("Bench 2");
        }
        request.ports << SerialPortProvider::parseExtraPort(sim.adapterPortSpec());
        const LineRun line = runLine(request);
        QCOMPARE(line.code, 1);
        const QString &outText = line.out;
        QVERIFY2(outText.contains(QLatin1String("stop the motor")), qPrintable(outText));
        for (const uint8_t written : {VyxMsg::WRITE_MOTION_PARAMS, VyxMsg::SET_MOTOR_IDENT_PARAMS})
            QVERIFY(lastAnswer(trace, written, true).isEmpty());
    }

    // A settings record the controller refuses outright: the advice does not promise that
    // a re-run helps.
    void refusedSettingsRecordIsNamed()
    {
        SimProcess sim({"--refuse-next", "0x45:10"});
        QVERIFY(sim.isReady());
        ProductionLine::Request request(DataDirectory::resolve(m_dir.filePath(QStringLiteral("refusing")), {}, {}));
        request.settingsFile = writeFile(QStringLiteral("refusing.xml"),
                                         "<settings><motion><ttl>300</ttl></motion></settings>");
        request.ports << SerialPortProvider::parseExtraPort(sim.adapterPortSpec());
        const LineRun line = runLine(request);
        QCOMPARE(line.code, 1);
        const QString &outText = line.out;
        QVERIFY2(outText.contains(QLatin1String("The controller refused the motion settings.")), qPrintable(outText));
        QVERIFY2(!outText.contains(QLatin1String("re-run with --settings")), qPrintable(outText));
    }

    void settingsFileRefusedBeforeAnyPort()
    {
        const QString settings = writeFile(QStringLiteral("config.xml"), "<config><motion/></config>");
        QProcess process;
        process.start(program(), {"--settings", settings, "--port", "/nonexistent/ttyX@AE01", "--data-dir",
                                  m_dir.filePath(QStringLiteral("data2"))});
        QVERIFY(process.waitForFinished(30000));
        QCOMPARE(process.exitCode(), 1);
        QVERIFY(process.readAllStandardError().contains("holds no ESC settings"));
    }
    // A run that cannot be done as asked ends before any controller is touched: no port
    // line, the cause in words, a non-zero exit.
    void refusedBeforeAnyPort_data()
    {
        QTest::addColumn<QString>("motor");        // stored as it is, then its resistance set to 0
        QTest::addColumn<QByteArray>("settings");  // the settings file, when not null
        QTest::addColumn<QString>("reason");
        QTest::newRow("motor with zero resistance") << "Zero" << QByteArray() << "has no usable values";
        QTest::newRow("damaged database") << "Damaged" << QByteArray() << "Kordo_data.db";
        const QString noField = QStringLiteral("names no setting the controller knows");
        QTest::newRow("settings value out of range")
            << QString() << QByteArray("<settings><motion><kp>40</kp><ttl>300</ttl></motion></settings>")
            << "are out of range: kp 40";
        QTest::newRow("empty settings") << QString() << QByteArray("<settings/>") << noField;
        QTest::newRow("misspelled settings") << QString()
                                             << QByteArray("<settings><motion><kpp>0.5</kpp></motion></settings>")
                                             << noField;
    }
    void refusedBeforeAnyPort()
    {
        QFETCH(QString, motor);
        QFETCH(QByteArray, settings);
        QFETCH(QString, reason);
        QTemporaryDir dataDir;
        const DataDirectory directory = DataDirectory::resolve(dataDir.path(), {}, {});
        if (motor == QLatin1String("Damaged")) {
            QString problem;
            QFile file(QDir(directory.databaseDirectory(&problem)).filePath(QString::fromLatin1(DbManager::FILE_NAME)));
            QVERIFY(file.open(QIODevice::WriteOnly) && file.write(QByteArray(4096, '\x5a')) == 4096);
        } else if (!motor.isEmpty()) {
            QString problem;
            const QString databaseDir = directory.databaseDirectory(&problem);
            {
                DbManager db(nullptr, databaseDir);
                MOTOR_TOTAL stored = MotorTestSupport::sampleMotor(1);
                QVERIFY(db.saveMotor(motor, QStringLiteral("2026-01-01 10:00:00"), &stored));
            }
            { // as an older version could leave it
                QSqlDatabase sql = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("zeroing"));
                sql.setDatabaseName(QDir(databaseDir).filePath(QString::fromLatin1(DbManager::FILE_NAME)));
                QVERIFY(sql.open());
                const QString rs = sql.record(QStringLiteral("motors")).fieldName(1);
                QVERIFY(QSqlQuery(sql).exec(QStringLiteral("UPDATE motors SET %1 = 0").arg(rs)));
                sql.close();
            }
            QSqlDatabase::removeDatabase(QStringLiteral("zeroing"));
        }
        // A report of an earlier run, all ok, must not stand for this one.
        const QString report = writeFile(QStringLiteral("refused.csv"), "port,serial\n/dev/ttyUSB0,1001,ok\n");
        ProductionLine::Request request(directory);
        request.reportFile = report;
        request.motorName = motor;
        if (!settings.isNull())
            request.settingsFile = writeFile(QStringLiteral("refused.xml"), settings);
        request.ports << SerialPortProvider::parseExtraPort(QStringLiteral("/nonexistent/ttyR@AE01"));
        const LineRun line = runLine(request);
        QCOMPARE(line.code, 1);
        const QString &outText = line.out;
        const QString &errText = line.err;
        QVERIFY2(errText.contains(reason), qPrintable(errText));
        QVERIFY2(!outText.contains(QLatin1String("/nonexistent/ttyR")), qPrintable(outText));
        QVERIFY2(!errText.contains(QLatin1String("is not in the motor database")), qPrintable(errText));
        QFile written(report);
        QVERIFY(written.open(QIODevice::ReadOnly));
        const QList<QByteArray> rows = written.readAll().split('\n');
        QCOMPARE(rows.value(0), QByteArray("port,serial,firmware_before,firmware_after,result,reason,time_s,what_to_do"));
        QVERIFY2(rows.value(1).startsWith("/nonexistent/ttyR,,,,failed,"), rows.value(1).constData());
        QVERIFY2(rows.value(1).contains(reason.toUtf8()), rows.value(1).constData());
    }
};

QTEST_GUILESS_MAIN(TestProductionLine)
#include "tst_productionline.moc"
