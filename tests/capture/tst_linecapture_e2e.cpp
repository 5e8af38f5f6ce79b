#include "app/appbase.h"
#include "capture/capturingportprovider.h"
#include "capture/linedecoder.h"
#include "capture/linerecorder.h"
#include "device/device.h"
#include "device/pinghelper.h"
#include "link/serialportprovider.h"
#include "tests/common/runningcoordinator.h"
#include "tests/common/simprocess.h"
#include "tests/firmware/firmwareimages.h"
#include "wire/messageids.h"
#include "wire/vyxprotocol.h"

#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <csignal>
#include <map>
#include <memory>

using LineCapture::Direction;
using LineCapture::Kind;
using LineCapture::Record;

namespace {

// The frames of a capture per direction and message id; -1 counts the records that form no
// whole good frame (there must be none).
struct FrameCounts
{
    std::map<int, int> out; // host to controller
    std::map<int, int> in;  // controller to host (echo left out)
    int broken = 0;
};

FrameCounts countFrames(const QVector<Record> &records)
{
    FrameCounts counts;
    for (const Record &record : records) {
        if (record.kind == Kind::Echo)
            continue;
        VYX_Protocol codec;
        VYX_Protocol::VyxRxConfig config;
        VYX_Protocol::VYX_MSG msg;
        bool complete = false;
        for (char c : record.bytes)
            complete = codec.decodeByte(uint8_t(c), msg, config);
        if (record.kind != Kind::Frame || !complete || msg.status != VYX_Protocol::Good) {
            ++counts.broken;
            continue;
        }
        ++(record.direction == Direction::ToController ? counts.out : counts.in)[msg.msgId];
    }
    return counts;
}

QString describe(const std::map<int, int> &counts)
{
    QStringList parts;
    for (const auto &entry : counts)
        parts << QStringLiteral("%1=%2").arg(entry.first, 0, 16).arg(entry.second);
    return parts.join(QLatin1Char(' '));
}

QString binary(const char *name)
{
    return QDir(qEnvironmentVariable("KORDO_BIN_DIR")).filePath(QLatin1String(name));
}

// What the program knows of a connected controller once its records are read.
struct DeviceSeen
{
    uint32_t serialNumber = 0;
    QString firmware;
    QByteArray pwmIn;
    QByteArray motion;
    QByteArray motor;
};

DeviceSeen seen(const Device &device)
{
    const Device_FW_s fw = device.firmware();
    return {device.serialNumber(), QStringLiteral("%1.%2.%3").arg(fw.fw_h).arg(fw.fw_m).arg(fw.fw_l),
            device.pwmInParams().pack(), device.motionParams().pack(), device.motorParams().pack()};
}

} // namespace

// The flight recorder end to end: the program's coordinator on its real clock against
// kordo-sim on a pseudo-terminal, capturing; the capture read back by --decode and by
// tshark with the dissector, and replayed by kordo-sim.
class TestLineCaptureEndToEnd : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QString m_capture;
    FrameCounts m_simCounts; // what the simulator counted: in = requests, out = answers
    DeviceSeen m_seen;

    // Connects to the controller behind the provider and waits until its records are read.
    static bool connectAndRead(AppBase *app, RunningCoordinator &coordinator)
    {
        coordinator.start();
        return QTest::qWaitFor(
            [app] { return app->deviceState() == DEVICE_CONNECTED && !app->device()->isReadBatchRunning()
                        && app->device()->serialNumber() != 0; },
            20000);
    }

private slots:
    // Connect, read the settings, five seconds of telemetry: the capture holds every frame
    // the simulator counted, each whole, and nothing else; --decode shows each of them.
    void captureHoldsEveryFrame()
    {
        m_capture = m_dir.filePath(QStringLiteral("session.pcap"));
        SimProcess sim;
        QVERIFY2(sim.isReady(), "kordo-sim did not start");
        LineRecorder recorder;
        QString error;
        QVERIFY2(recorder.startCapture(m_capture, &error), qPrintable(error));
        SerialPortProvider serial({sim.adapterPortSpec()});
        CapturingPortProvider ports(&serial, &recorder);
        {
            RunningCoordinator coordinator(&ports, m_dir.filePath(QStringLiteral("data")));
            AppBase *app = coordinator.app;
            int samples = 0;
            QObject listener;
            connect(app->pingHelper(), &PingHelper::addSample, &listener, [&samples] { ++samples; });
            QVERIFY(connectAndRead(app, coordinator));
            m_seen = seen(*app->device());
            app->pingHelper()->startRun();
            QTRY_COMPARE_WITH_TIMEOUT(app->deviceState(), DEVICE_RUNNING, 20000);
            QTRY_VERIFY_WITH_TIMEOUT(samples >= 100, 60000); // five seconds at 20 a second

            // The clock stops, the port stays open: the last answer still comes in.
            QMetaObject::invokeMethod(
                app,
                [app] {
                    for (QTimer *timer : app->findChildren<QTimer *>(QString(), Qt::FindDirectChildrenOnly))
                        timer->stop();
                },
                Qt::BlockingQueuedConnection);
            FrameCounts captured;
            const auto agree = [&] {
                const SimProcess::Counts counts = sim.counts();
                m_simCounts.out = counts.in;
                m_simCounts.in = counts.out;
                captured = countFrames(recorder.recentRecords());
                return !m_simCounts.out.empty() && captured.out == m_simCounts.out && captured.in == m_simCounts.in;
            };
            QVERIFY2(QTest::qWaitFor(agree, 10000),
                     qPrintable(QStringLiteral("simulator in %1 out %2, captured out %3 in %4")
                                    .arg(describe(m_simCounts.out), describe(m_simCounts.in), describe(captured.out),
                                         describe(captured.in))));
            QCOMPARE(captured.broken, 0);
            QVERIFY(m_simCounts.in.at(VyxMsg::TELEMETRY) >= 100);
            QVERIFY(m_simCounts.in.at(VyxMsg::GET_PWM_IN_PARAMS) >= 1);
            QVERIFY(m_simCounts.in.at(VyxMsg::GET_MOTION_PARAMS) >= 1);
            recorder.stopCapture();
        }

        // The file holds the same, and --decode prints each frame by name, none broken.
        QVector<Record> fromFile;
        QVERIFY(PcapReader::read(m_capture, &fromFile, &error));
        const FrameCounts inFile = countFrames(fromFile);
        QVERIFY(inFile.out == m_simCounts.out && inFile.in == m_simCounts.in && inFile.broken == 0);

        QProcess decode;
        decode.start(binary("kordoman"), {QStringLiteral("--decode"), m_capture});
        QVERIFY(decode.waitForFinished(60000));
        QCOMPARE(decode.exitCode(), 0);
        const QList<QByteArray> lines = decode.readAllStandardOutput().trimmed().split('\n');
        QCOMPARE(lines.size(), fromFile.size());
        std::map<QString, int> decodedOut, decodedIn;
        for (const QByteArray &line : lines) {
            const QList<QByteArray> words = line.simplified().split(' ');
            QVERIFY2(words.size() >= 5, line.constData());
            QVERIFY2(words[3] == "frame" || words[3] == "echo", line.constData());
            QVERIFY2(!line.contains("BAD CHECKSUM"), line.constData());
            if (words[3] == "frame")
                ++(words[2] == "out" ? decodedOut : decodedIn)[QString::fromLatin1(words[4])];
        }
        for (const auto &entry : m_simCounts.out)
            QCOMPARE(decodedOut[LineDecoder::messageName(uint8_t(entry.first))], entry.second);
        for (const auto &entry : m_simCounts.in)
            QCOMPARE(decodedIn[LineDecoder::messageName(uint8_t(entry.first))], entry.second);
        QVERIFY(lines.constFirst().contains("GET_DEVICE_INFO"));
    }

    // The dissector shows the same frames, by name, with the fields of the records.
    void dissectorShowsEveryFrame()
    {
        QVERIFY(QFileInfo(m_capture).isFile());
        const QString tshark = QStandardPaths::findExecutable(QStringLiteral("tshark"));
        if (tshark.isEmpty())
            QSKIP("tshark is not installed (scripts/install-deps.sh installs it): the dissector is not tested");
        const QString script = QStringLiteral(KORDO_SOURCE_DIR "/packaging/wireshark/kordo.lua");
        QProcess fields;
        fields.start(tshark, {"-X", "lua_script:" + script, "-r", m_capture, "-T", "fields", "-e", "kordo.direction",
                              "-e", "kordo.kind", "-e", "kordo.msgid", "-e", "kordo.checksum.bad"});
        QVERIFY(fields.waitForFinished(120000));
        QCOMPARE(fields.exitCode(), 0);
        std::map<int, int> out, in;
        int rows = 0;
        for (const QByteArray &row : fields.readAllStandardOutput().trimmed().split('\n')) {
            const QList<QByteArray> cells = row.split('\t');
            QVERIFY2(cells.size() == 4, row.constData());
            ++rows;
            QVERIFY2(cells[3] == "0" || cells[3] == "False", row.constData()); // no bad checksum
            if (cells[1] != "0")
                continue; // echo
            ++(cells[0] == "0" ? out : in)[cells[2].toInt(nullptr, 16)];
        }
        QVERIFY(rows > 0);
        QCOMPARE(describe(out), describe(m_simCounts.out));
        QCOMPARE(describe(in), describe(m_simCounts.in));

        QProcess verbose;
        verbose.start(tshark, {"-X", "lua_script:" + script, "-r", m_capture, "-V"});
        QVERIFY(verbose.waitForFinished(120000));
        const QByteArray text = verbose.readAllStandardOutput();
        for (const char *expected :
             {"Message id: GET_DEVICE_INFO (0x22)", "Serial number: 12345", "Firmware: 1.2.3", "Answer code: ANSWER_OK",
              "Status flags:", "Speed (rpm):", "Temp (C):", "lowLevel (us): ", "Kp: ", "polePairs: ", "Rs (Ohm):",
              "Motor hours: 12345"})
            QVERIFY2(text.contains(expected), expected);
    }

    // A capture with a spoilt frame: the dissector flags its checksum.
    void dissectorFlagsBadChecksums()
    {
        const QString tshark = QStandardPaths::findExecutable(QStringLiteral("tshark"));
        if (tshark.isEmpty())
            QSKIP("tshark is not installed (scripts/install-deps.sh installs it): the dissector is not tested");
        QByteArray bad = VYX_Protocol().encode(1, VyxMsg::GET_MOTOR_HOURS, packMotorHours(7));
        bad[bad.size() - 2] = char(uint8_t(bad.at(bad.size() - 2)) ^ 0x01);
        const QString path = m_dir.filePath(QStringLiteral("bad.pcap"));
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(PcapWriter::toPcap({{LineRecorder::nowUs(), Direction::FromController, Kind::Frame, bad}}));
        file.close();
        QProcess verbose;
        verbose.start(tshark, {"-X", "lua_script:" KORDO_SOURCE_DIR "/packaging/wireshark/kordo.lua", "-r", path, "-V"});
        QVERIFY(verbose.waitForFinished(120000));
        const QByteArray text = verbose.readAllStandardOutput();
        QVERIFY2(text.contains("Bad checksum: True") && text.contains("[BAD, expected"), text.constData());
    }

    // kordo-sim --replay of the capture brings the program to the same connected device;
    // a request the capture has no answer for is reported once.
    void replayReachesTheSameDevice()
    {
        QVERIFY(QFileInfo(m_capture).isFile());
        QVERIFY(m_seen.serialNumber != 0);
        SimProcess sim({QStringLiteral("--replay"), m_capture});
        QVERIFY2(sim.isReady(), "kordo-sim did not start");
        SerialPortProvider serial({sim.adapterPortSpec()});
        RunningCoordinator coordinator(&serial, m_dir.filePath(QStringLiteral("replay-data")));
        QVERIFY(connectAndRead(coordinator.app, coordinator));
        const DeviceSeen replayed = seen(*coordinator.app->device());
        QCOMPARE(replayed.serialNumber, m_seen.serialNumber);
        QCOMPARE(replayed.firmware, m_seen.firmware);
        QCOMPARE(replayed.pwmIn.toHex(), m_seen.pwmIn.toHex());
        QCOMPARE(replayed.motion.toHex(), m_seen.motion.toHex());
        QCOMPARE(replayed.motor.toHex(), m_seen.motor.toHex());
        QCOMPARE(replayed.serialNumber, 12345u);

        // The capture's status answers run out while the program keeps polling.
        QTRY_VERIFY_WITH_TIMEOUT(sim.errorOutput().contains("no answer to message 0x23"), 60000);
        QCOMPARE(sim.errorOutput().count("no answer to message 0x23"), 1);
    }

    // Killed without warning (SIGKILL, as in a crash) at any moment of a firmware update, the
    // program leaves a capture that reads to its end: --decode and tshark find every record
    // whole. Each row kills it once the file has reached a size.
    void captureWholeWhenKilled_data()
    {
        QTest::addColumn<qint64>("killAtBytes");
        QTest::newRow("just opened") << qint64(24);
        QTest::newRow("connected") << qint64(1000);
        QTest::newRow("early in the update") << qint64(30000);
        QTest::newRow("late in the update") << qint64(90000);
    }

    void captureWholeWhenKilled()
    {
        QFETCH(qint64, killAtBytes);
        const QString row = QString::fromLatin1(QTest::currentDataTag()).replace(QLatin1Char(' '), QLatin1Char('-'));
        const QString image = m_dir.filePath(QStringLiteral("killed-fw.bin"));
        QVERIFY(TestImages::writeFile(image, TestImages::plainImage(48 * 1024)));
        const QString capture = m_dir.filePath(QStringLiteral("killed-%1.pcap").arg(row));
        SimProcess sim({QStringLiteral("--pace"), QStringLiteral("--page-write-us"), QStringLiteral("2000")});
        QVERIFY2(sim.isReady(), "kordo-sim did not start");
        QProcess program;
        program.start(binary("kordoman"), {"--flash", image, "--port", sim.adapterPortSpec(), "--data-dir",
                                           m_dir.filePath("killed-data-" + row), "--capture", capture});
        QVERIFY(program.waitForStarted(30000));
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(capture).size() >= killAtBytes || program.state() != QProcess::Running,
                                 120000);
        QCOMPARE(::kill(pid_t(program.processId()), SIGKILL), 0);
        QVERIFY(program.waitForFinished(30000));
        QCOMPARE(program.exitStatus(), QProcess::CrashExit); // killed during the capture, not after it

        QProcess decode;
        decode.start(binary("kordoman"), {QStringLiteral("--decode"), capture});
        QVERIFY(decode.waitForFinished(60000));
        const QByteArray told = decode.readAllStandardError();
        QVERIFY2(decode.exitCode() == 0 && !told.contains("damaged"), told.constData());
        QVector<Record> records;
        QString error;
        QString damage;
        QVERIFY(PcapReader::read(capture, &records, &error, &damage));
        QVERIFY2(damage.isEmpty(), qPrintable(damage));

        const QString tshark = QStandardPaths::findExecutable(QStringLiteral("tshark"));
        if (tshark.isEmpty())
            QSKIP("tshark is not installed (scripts/install-deps.sh installs it): read by --decode only");
        QProcess read;
        read.start(tshark, {"-r", capture});
        QVERIFY(read.waitForFinished(120000));
        const QByteArray complaint = read.readAllStandardError();
        QVERIFY2(read.exitCode() == 0 && !complaint.contains("cut short"), complaint.constData());
        QCOMPARE(read.readAllStandardOutput().count('\n'), records.size());
    }
};

QTEST_GUILESS_MAIN(TestLineCaptureEndToEnd)
#include "tst_linecapture_e2e.moc"
