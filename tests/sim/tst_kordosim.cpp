// kordo-sim on a pseudo-terminal, through the real serial stack.

#include <QProcess>
#include <QSerialPort>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>

namespace {

const QByteArray kDetection = QByteArray::fromHex("1aee22ef1f");
// Identity of the default controller: OK, idle, fw 1.2.3, serial 12345, hw 2, address 1.
const QByteArray kIdentity = QByteArray::fromHex("1a0122" "20000102033930000002000000014a" "1f");

} // namespace

class TestKordoSim : public QObject
{
    Q_OBJECT

private slots:
    void answersDetectionOnAPseudoTerminal()
    {
        const QString program = qEnvironmentVariable("KORDO_BIN_DIR") + QStringLiteral("/kordo-sim");
        QVERIFY2(QFileInfo(program).isExecutable(), qPrintable(program));
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString link = dir.filePath(QStringLiteral("ttySim"));
        const QString trace = dir.filePath(QStringLiteral("trace.txt"));

        QProcess sim;
        sim.start(program, { QStringLiteral("--link"), link, QStringLiteral("--trace"), trace });
        QVERIFY(sim.waitForStarted(10000));
        QVERIFY2(sim.waitForReadyRead(10000), "no ready line");
        QByteArray ready = sim.readLine();
        QCOMPARE(ready.trimmed(), QByteArray("ready ") + QFile::encodeName(link));
        QVERIFY(QFileInfo(link).isSymLink());

        QSerialPort port(link);
        QVERIFY2(port.open(QIODevice::ReadWrite), qPrintable(port.errorString()));
        QVERIFY2(port.setBaudRate(250000), qPrintable(QStringLiteral("the pseudo-terminal refuses 250000 baud: %1")
                                                          .arg(port.errorString())));
        QVERIFY(port.setDataBits(QSerialPort::Data8));
        QVERIFY(port.setParity(QSerialPort::NoParity));
        QVERIFY(port.setStopBits(QSerialPort::OneStop));
        QVERIFY(port.setFlowControl(QSerialPort::NoFlowControl));
        QCOMPARE(port.baudRate(), qint32(250000));

        QCOMPARE(port.write(kDetection), qint64(kDetection.size()));
        QByteArray received;
        QElapsedTimer timer;
        timer.start();
        while (received.size() < kDetection.size() + kIdentity.size() && timer.elapsed() < 10000) {
            if (port.waitForReadyRead(200))
                received += port.readAll();
        }
        QCOMPARE(received, kDetection + kIdentity);
        port.close();

        sim.terminate();
        QVERIFY(sim.waitForFinished(10000));
        QVERIFY(!QFileInfo::exists(link) && !QFileInfo(link).isSymLink());

        QFile traceFile(trace);
        QVERIFY(traceFile.open(QIODevice::ReadOnly));
        const QByteArray lines = traceFile.readAll();
        QVERIFY2(lines.contains(" in  1A EE 22 EF 1F\n"), lines.constData());
        QVERIFY2(lines.contains(" out 1A 01 22 20 00 01 02 03"), lines.constData());
    }

    void helpNamesTheNamedFaults()
    {
        const QString program = qEnvironmentVariable("KORDO_BIN_DIR") + QStringLiteral("/kordo-sim");
        QProcess sim;
        sim.start(program, { QStringLiteral("--help") });
        QVERIFY(sim.waitForFinished(10000));
        const QByteArray help = sim.readAllStandardOutput();
        for (const char *option : { "--drop-first <ID[:N]>", "--refuse-next <ID[:N]>", "--silent-after-message <ID>",
                                    "--garbage <F>", "--wrong-id <F>", "--wrong-length <F>", "--unterminated <ID:N>" })
            QVERIFY2(help.contains(option), option);

        sim.start(program, { QStringLiteral("--drop-first"), QStringLiteral("0x1ff") });
        QVERIFY(sim.waitForFinished(10000));
        QVERIFY(sim.exitCode() != 0);
        QVERIFY(sim.readAllStandardError().contains("bad value for --drop-first"));
    }

    // --replay refuses what is no line capture, before it listens.
    void replayRefusesOtherFiles_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::newRow("text") << QByteArray("not a capture\n");
        QTest::newRow("empty") << QByteArray();
        // A pcap file of another link type (Ethernet), header only.
        QTest::newRow("ethernet capture") << QByteArray::fromHex("d4c3b2a1020004000000000000000000ffff000001000000");
        QTest::newRow("fifo") << QByteArray(); // would hold a reader that opened it
    }
    void replayRefusesOtherFiles()
    {
        QFETCH(QByteArray, content);
        const QString program = qEnvironmentVariable("KORDO_BIN_DIR") + QStringLiteral("/kordo-sim");
        QTemporaryDir dir;
        QFile file(dir.filePath(QStringLiteral("other.pcap")));
        if (QTest::currentDataTag() == QByteArray("fifo")) {
            QCOMPARE(::mkfifo(QFile::encodeName(file.fileName()).constData(), 0600), 0);
        } else {
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(content);
            file.close();
        }
        QProcess sim;
        sim.start(program, {QStringLiteral("--replay"), file.fileName(), QStringLiteral("--link"),
                            dir.filePath(QStringLiteral("ttySim"))});
        QVERIFY(sim.waitForFinished(10000));
        QCOMPARE(sim.exitCode(), 1);
        QVERIFY(!sim.readAllStandardOutput().contains("ready"));
        QVERIFY(sim.readAllStandardError().contains("cannot replay"));
    }

    // --refuse-next 0x22: the first identity request is answered ANSWER_REFUSED, the
    // second as usual.
    void namedFaultReachesTheController()
    {
        const QString program = qEnvironmentVariable("KORDO_BIN_DIR") + QStringLiteral("/kordo-sim");
        QTemporaryDir dir;
        const QString link = dir.filePath(QStringLiteral("ttySim"));
        QProcess sim;
        sim.start(program, { QStringLiteral("--link"), link, QStringLiteral("--refuse-next"), QStringLiteral("0x22") });
        QVERIFY(sim.waitForStarted(10000));
        QVERIFY2(sim.waitForReadyRead(10000), "no ready line");
        QSerialPort port(link);
        QVERIFY2(port.open(QIODevice::ReadWrite), qPrintable(port.errorString()));
        QVERIFY(port.setBaudRate(250000));

        const auto exchange = [&port](int answerSize) {
            port.write(kDetection);
            QByteArray received;
            QElapsedTimer timer;
            timer.start();
            while (received.size() < kDetection.size() + answerSize && timer.elapsed() < 10000) {
                if (port.waitForReadyRead(200))
                    received += port.readAll();
            }
            return received;
        };
        const QByteArray refused = exchange(6); // 1A 01 22 21 <checksum> 1F
        QVERIFY2(refused.startsWith(kDetection + QByteArray::fromHex("1a012221")), refused.toHex().constData());
        QCOMPARE(refused.size(), kDetection.size() + 6);
        QCOMPARE(exchange(kIdentity.size()), kDetection + kIdentity);

        port.close();
        sim.terminate();
        QVERIFY(sim.waitForFinished(10000));
    }
};

QTEST_GUILESS_MAIN(TestKordoSim)
#include "tst_kordosim.moc"
