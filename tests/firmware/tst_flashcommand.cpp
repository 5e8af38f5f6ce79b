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

    Run flash(const QString &image, const QString &portSpec)
    {
        const QString binDir = qEnvironmentVariable("KORDO_BIN_DIR", QStringLiteral(KORDO_DEFAULT_BIN_DIR));
        QProcess process;
        process.start(QDir(binDir).filePath(QStringLiteral("kordoman")),
                      {"--flash", image, "--port", portSpec, "--data-dir", m_dir.filePath(QStringLiteral("data"))});
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
            QCOMPARE(run.code, 1);
            QVERIFY2(run.err.contains("An update problem has occurred. Error 0x10"), run.err.constData());
            QVERIFY(!QFileInfo::exists(dump));
            return;
        }
        QVERIFY2(run.code == 0, run.err.constData());
        QVERIFY(run.out.contains("Written: 100%"));
        QVERIFY(run.out.trimmed().endsWith("Firmware update successful"));
        QFile flashed(dump);
        QVERIFY(flashed.open(QIODevice::ReadOnly));
        QCOMPARE(flashed.readAll().left(image.size()), image);
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

    void missingFileFailsAtOnce()
    {
        const Run run = flash(m_dir.filePath(QStringLiteral("absent.bin")), QStringLiteral("/dev/null"));
        QCOMPARE(run.code, 1);
        QVERIFY(run.err.contains("cannot be opened"));
    }
};

QTEST_GUILESS_MAIN(TestFlashCommand)
#include "tst_flashcommand.moc"
