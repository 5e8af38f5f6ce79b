#include "firmwareimages.h"
#include "tests/common/simprocess.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <sys/types.h>

// kordoman --flash against kordo-sim on a pseudo-terminal: the exit code tells a
// production line whether the controller got its firmware.
class TestFlashCommand : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;

    struct Run
    {
        int code = -1;
        QByteArray out;
        QByteArray err;
    };

    Run flash(const QString &image, const QString &portSpec, const QStringList &more = {})
    {
        const QString binDir = qEnvironmentVariable("KORDO_BIN_DIR", QStringLiteral(KORDO_DEFAULT_BIN_DIR));
        QProcess process;
        process.start(QDir(binDir).filePath(QStringLiteral("kordoman")),
                      QStringList {"--flash", image, "--port", portSpec, "--data-dir",
                                   m_dir.filePath(QStringLiteral("data"))}
                          + more);
        Run run;
        if (!process.waitForFinished(90000)) {
            process.kill();
            process.waitForFinished();
            return run;
        }
        run.out = process.readAllStandardOutput();
        run.err = process.readAllStandardError();
        run.code = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
        return run;
    }

private slots:
    void exitCodes_data()
    {
        QTest::addColumn<bool>("spoilt");
        QTest::addColumn<QStringList>("simOptions");
        QTest::newRow("running firmware: success") << false << QStringList();
        QTest::newRow("waiting bootloader: success") << false << QStringList {"--bootloader"};
        QTest::newRow("changed byte: error 0x10") << true << QStringList();
    }

    void exitCodes()
    {
        QFETCH(bool, spoilt);
        QFETCH(QStringList, simOptions);
        const QString dump = m_dir.filePath(QStringLiteral("flash-%1.bin").arg(QTest::currentDataTag()));
        SimProcess sim(QStringList {"--flash-dump", dump} + simOptions);
        QVERIFY(sim.isReady());

        QByteArray image = TestImages::plainImage(8192);
        if (spoilt)
            image[5] = char(image[5] ^ 0x40);
        const QString imagePath = m_dir.filePath(QStringLiteral("fw.bin"));
        QVERIFY(TestImages::writeFile(imagePath, image));

        const Run run = flash(imagePath, sim.adapterPortSpec());
        if (spoilt) {
            // Refused once the bootloader told its version, before any page: the bootloader
            // starts the old firmware again over an untouched flash.
            QCOMPARE(run.code, 1);
            QVERIFY2(run.err.contains("its checksum does not match (Error 0x10)"), run.err.constData());
            QFile untouched(dump);
            QVERIFY(untouched.open(QIODevice::ReadOnly));
            const QByteArray flash = untouched.readAll();
            QCOMPARE(flash, QByteArray(flash.size(), '\xff'));
            return;
        }
        QVERIFY2(run.code == 0, run.err.constData());
        QVERIFY(run.out.contains("Written: 100%"));
        QVERIFY2(!run.out.contains("Choose the firmware"), run.out.constData()); // the window's words
        // The success, then where its result was recorded: the last line.
        QVERIFY2(run.out.contains("Firmware update successful\n"), run.out.constData());
        const QList<QByteArray> lines = run.out.trimmed().split('\n');
        QVERIFY2(lines.last().startsWith("The results are recorded in "), run.out.constData());
        QFile flashed(dump);
        QVERIFY(flashed.open(QIODevice::ReadOnly));
        QCOMPARE(flashed.readAll().left(image.size()), image);
    }

    // --capture records the whole update: the frames up to the reset, then the bootloader's
    // bytes both ways (each page whole, as written) up to the start of the new firmware.
    void updateCaptured()
    {
        SimProcess sim;
        QVERIFY(sim.isReady());
        const QString imagePath = m_dir.filePath(QStringLiteral("captured.bin"));
        QVERIFY(TestImages::writeFile(imagePath, TestImages::plainImage(8192)));
        const QString capture = m_dir.filePath(QStringLiteral("update.pcap"));
        const Run run = flash(imagePath, sim.adapterPortSpec(), {"--capture", capture});
        QVERIFY2(run.code == 0, run.err.constData());

        const QString binDir = qEnvironmentVariable("KORDO_BIN_DIR", QStringLiteral(KORDO_DEFAULT_BIN_DIR));
        QProcess decode;
        decode.start(QDir(binDir).filePath(QStringLiteral("kordoman")), {"--decode", capture});
        QVERIFY(decode.waitForFinished(60000));
        QCOMPARE(decode.exitCode(), 0);
        const QList<QByteArray> lines = decode.readAllStandardOutput().trimmed().split('\n');
        int pages = 0;
        int entry = -1;
        int firstBootloader = -1;
        int lastBootloader = -1;
        for (int i = 0; i < lines.size(); ++i) {
            const QByteArray line = lines[i].simplified();
            if (line.contains("out frame FIRMWARE_UPDATE_ENTRY") && entry < 0)
                entry = i;
            if (line.contains(" bootloader ")) {
                firstBootloader = firstBootloader < 0 ? i : firstBootloader;
                lastBootloader = i;
                pages += line.contains("out bootloader 258 bytes: ff") ? 1 : 0;
            }
        }
        QVERIFY2(entry >= 0 && firstBootloader > entry, lines.join('\n').left(4000).constData());
        QVERIFY(lines.at(firstBootloader).contains("out bootloader 2 bytes: f0 0f")); // the first sync
        QCOMPARE(pages, 8192 / 256);
        // The bootloader's part ends with the start command and its ACK; the file is whole at
        // the command's exit, up to the new firmware's answer that the command waited for.
        QVERIFY(lines.at(lastBootloader - 2).contains("out bootloader 2 bytes: 21 de"));
        QVERIFY(lines.at(lastBootloader).contains("in  bootloader 1 bytes: 79"));
        bool newFirmwareAnswered = false;
        for (int i = lastBootloader + 1; i < lines.size(); ++i)
            newFirmwareAnswered = newFirmwareAnswered || lines[i].contains("in  frame GET_DEVICE_INFO");
        QVERIFY2(newFirmwareAnswered, lines.mid(lastBootloader).join('\n').constData());
    }

    // SIGTERM in the middle of the update: no success, the port's advice, exit status 1.
    void terminatingSignalInterruptsTheUpdate()
    {
        SimProcess sim({"--page-write-us", "50000"});
        QVERIFY(sim.isReady());
        const QString imagePath = m_dir.filePath(QStringLiteral("interrupted.bin"));
        QVERIFY(TestImages::writeFile(imagePath, TestImages::plainImage(32 * 1024)));
        const QString binDir = qEnvironmentVariable("KORDO_BIN_DIR", QStringLiteral(KORDO_DEFAULT_BIN_DIR));
        QProcess process;
        process.start(QDir(binDir).filePath(QStringLiteral("kordoman")),
                      {"--flash", imagePath, "--port", sim.adapterPortSpec(), "--data-dir",
                       m_dir.filePath(QStringLiteral("data"))});
        QVERIFY(process.waitForStarted());
        QByteArray out;
        QElapsedTimer clock;
        clock.start();
        while (!out.contains("Written: 10%") && !clock.hasExpired(90000) && process.state() == QProcess::Running) {
            process.waitForReadyRead(200);
            out += process.readAllStandardOutput();
        }
        QVERIFY2(out.contains("Written: 10%"), out.constData());
        QCOMPARE(::kill(pid_t(process.processId()), SIGTERM), 0);
        QVERIFY(process.waitForFinished(90000));
        out += process.readAllStandardOutput();
        const QByteArray err = process.readAllStandardError();
        QCOMPARE(process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(process.exitCode(), 1);
        QVERIFY(!out.contains("Firmware update successful"));
        QVERIFY2(err.contains("interrupted: re-run --flash on this port"), err.constData());
    }

    // A controller still booting answers its identity late, with ACK bytes in its serial
    // number, about when the look for a waiting bootloader begins, and every answer 30 ms
    // late: every update finds the running firmware and succeeds, also on a loaded machine
    // (a late answer now and then: a status poll's, or the bootloader's).
    void lateIdentityAnswerTenUpdatesInARow()
    {
        const QByteArray image = TestImages::plainImage(8192);
        const QString imagePath = m_dir.filePath(QStringLiteral("late.bin"));
        QVERIFY(TestImages::writeFile(imagePath, image));
        // The first answer comes about when the look begins, 1 s after the port opened.
        for (int i = 0; i < 10; ++i) {
            const QString after = QString::number(950 + 10 * i);
            SimProcess sim({"--serial", "0x79797979", "--identity-after", after, "--delay", "30"});
            QVERIFY(sim.isReady());
            const Run run = flash(imagePath, sim.adapterPortSpec());
            QVERIFY2(run.code == 0, qPrintable(QStringLiteral("run %1: %2%3").arg(i).arg(QString::fromUtf8(run.out),
                                                                                       QString::fromUtf8(run.err))));
            QVERIFY(run.out.contains("Resetting device"));
        }
    }

    // The port lost while the pages are written: the line is told that the controller
    // waits in its bootloader, and what to do.
    void lostPortSaysTheControllerWaitsInItsBootloader()
    {
        SimProcess sim({"--page-write-us", "50000", "--vanish-after", "5000"});
        QVERIFY(sim.isReady());
        const QString imagePath = m_dir.filePath(QStringLiteral("long.bin"));
        QVERIFY(TestImages::writeFile(imagePath, TestImages::plainImage(32768)));
        const Run run = flash(imagePath, sim.adapterPortSpec());
        QCOMPARE(run.code, 1);
        QVERIFY2(run.out.contains("Firmware writing"), run.out.constData());
        QVERIFY2(run.err.contains("The port was lost during the update (Error 0x100)"), run.err.constData());
        QVERIFY2(run.err.contains("it waits in its bootloader"), run.err.constData());
    }

    // An image that no bootloader could take is refused before any port is opened, and one
    // that the bootloader's version rules out once it has told it (after the reset, before
    // any page): the controller runs its old application again, its flash untouched.
    void badImageFailsBeforeAnyPage_data()
    {
        QTest::addColumn<QByteArray>("image");
        QTest::addColumn<QStringList>("simOptions");
        QTest::addColumn<QByteArray>("words");
        QTest::addColumn<bool>("beforeAnyPort");
        QByteArray changed = TestImages::plainImage(8192);
        changed[100] = char(changed[100] ^ 0x01);
        const QByteArray foreign = "Use a firmware file made for this controller.";
        const QStringList bootloader90 {"--bl-version", "0x90"};
        QTest::newRow("missing") << QByteArray("no file") << QStringList() << QByteArray("cannot be opened (Error 0x20)")
                                 << true;
        QTest::newRow("empty") << QByteArray() << QStringList() << "its length does not fit (Error 0x1). " + foreign
                               << true;
        QTest::newRow("1 byte, 0x90") << QByteArray(1, 'x') << bootloader90
                                      << "its length does not fit (Error 0x1). " + foreign << false;
        QTest::newRow("text file, 0x90") << QByteArray("not firmware\n").repeated(315) << bootloader90
                                         << "its length does not fit (Error 0x1). " + foreign << false;
        QTest::newRow("changed byte, 0x90") << changed << bootloader90
                                            << "its checksum does not match (Error 0x10). " + foreign << false;
        QTest::newRow("changed byte, 0x91") << changed << QStringList()
                                            << "its checksum does not match (Error 0x10). " + foreign << false;
    }

    void badImageFailsBeforeAnyPage()
    {
        QFETCH(QByteArray, image);
        QFETCH(QStringList, simOptions);
        QFETCH(QByteArray, words);
        QFETCH(bool, beforeAnyPort);
        const QString dump = m_dir.filePath(QStringLiteral("bad-flash-%1.bin").arg(QTest::currentDataTag()));
        SimProcess sim(QStringList {"--flash-dump", dump} + simOptions);
        QVERIFY(sim.isReady());
        const QString imagePath = m_dir.filePath(QStringLiteral("bad-%1.bin").arg(QTest::currentDataTag()));
        if (image != "no file")
            QVERIFY(TestImages::writeFile(imagePath, image));
        const Run run = flash(imagePath, sim.adapterPortSpec());
        QCOMPARE(run.code, 1);
        QVERIFY2(run.err.contains(words), run.err.constData());
        QCOMPARE(run.out.contains("Port opened"), !beforeAnyPort);
        QCOMPARE(run.out.contains("Resetting device"), !beforeAnyPort);
        QVERIFY2(!run.out.contains("Written:"), run.out.constData());
        if (beforeAnyPort)
            return;
        // The bootloader started the old application again, with no page written.
        QFile flashed(dump);
        QVERIFY(flashed.open(QIODevice::ReadOnly));
        const QByteArray flash = flashed.readAll();
        QVERIFY(!flash.isEmpty());
        QCOMPARE(flash, QByteArray(flash.size(), '\xff'));
        const SimProcess::Counts counts = sim.counts();
        QCOMPARE(counts.in.count(0x80) ? counts.in.at(0x80) : 0, 1); // one reset, then the old application
    }

    // A bootloader of another version (here 0x92) takes the file as it is: an image that
    // fits no 0x90/0x91 rule is written byte for byte.
    void otherBootloaderVersionGetsTheFileAsItIs()
    {
        const QString dump = m_dir.filePath(QStringLiteral("flash-0x92.bin"));
        SimProcess sim({"--flash-dump", dump, "--bl-version", "0x92"});
        QVERIFY(sim.isReady());
        const QByteArray image = TestImages::randomBytes(5000, 11);
        const QString imagePath = m_dir.filePath(QStringLiteral("fw-0x92.bin"));
        QVERIFY(TestImages::writeFile(imagePath, image));

        const Run run = flash(imagePath, sim.adapterPortSpec());
        QVERIFY2(run.code == 0, run.err.constData());
        QVERIFY2(run.out.contains("Firmware update successful\n"), run.out.constData());
        QFile flashed(dump);
        QVERIFY(flashed.open(QIODevice::ReadOnly));
        QCOMPARE(flashed.readAll().left(image.size()), image);
    }
};

QTEST_GUILESS_MAIN(TestFlashCommand)
#include "tst_flashcommand.moc"
