#include "app/appbase.h"
#include "cli/supportbundle.h"
#include "cli/supportbundlerecorder.h"
#include "cli/zipwriter.h"
#include "device/device.h"
#include "device/paramshelper.h"
#include "link/comhelper.h"
#include "tests/common/zipcheck.h"
#include "tests/common/fakeport.h"

#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>

#include <pty.h>
#include <unistd.h>

// The support bundle: a zip a standard unzip opens, holding what the session showed and
// nothing from outside the data directory.
class TestSupportBundle : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;

    QString path(const QString &name) const { return m_dir.filePath(name); }

    static void writeFile(const QString &fileName, const QByteArray &bytes, const QDateTime &modified = {})
    {
        QFile file(fileName);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(bytes);
        file.flush(); // before the time stamp, which the write would move again
        if (modified.isValid())
            QVERIFY(file.setFileTime(modified, QFileDevice::FileModificationTime));
    }

    static QString program()
    {
        return QDir(qEnvironmentVariable("KORDO_BIN_DIR")).filePath(QStringLiteral("kordoman"));
    }

private slots:
    void initTestCase()
    {
        if (ZipCheck::unzipProgram().isEmpty())
            QSKIP("unzip is not installed (package unzip)");
    }

    void crcIsTheZipCrc()
    {
        QCOMPARE(ZipWriter::crc32("123456789"), quint32(0xCBF43926));
        QCOMPARE(ZipWriter::crc32(QByteArray()), quint32(0));
    }

    // Compressible text is deflated, short or random data stored: unzip checks the CRC of
    // each and gives back the same bytes.
    void unzipReadsBackEveryEntry()
    {
        QByteArray random(3000, Qt::Uninitialized);
        quint32 seed = 12345;
        for (char &byte : random) {
            seed = seed * 1103515245u + 12345u;
            byte = char(seed >> 24);
        }
        const QList<QPair<QString, QByteArray>> files {
            {QStringLiteral("text.txt"), QByteArray("line of a device log\n").repeated(500)},
            {QStringLiteral("empty.txt"), QByteArray()},
            {QStringLiteral("sub/random.bin"), random},
            {QStringLiteral("sub/\u00fcber.log"), QByteArray("N 0, T 10:00:00, M Date 10.12.2026\n")},
        };
        ZipWriter zip(QDateTime(QDate(2026, 12, 10), QTime(13, 45, 30)));
        for (const auto &file : files)
            QVERIFY(zip.addEntry(file.first, file.second));
        QVERIFY(zip.archive().size() < 4000); // the repeated text was deflated
        QString error;
        QVERIFY(zip.write(path(QStringLiteral("t.zip")), &error));

        QCOMPARE(ZipCheck::entries(path(QStringLiteral("t.zip"))),
                 (QStringList {"empty.txt", "sub/random.bin", "sub/\u00fcber.log", "text.txt"}));
        for (const auto &file : files)
            QCOMPARE(ZipCheck::entry(path(QStringLiteral("t.zip")), file.first), file.second);
        QByteArray listing;
        QCOMPARE(ZipCheck::unzip({"-l", path(QStringLiteral("t.zip"))}, &listing), 0);
        QVERIFY2(listing.contains("2026-12-10 13:45") || listing.contains("12-10-2026 13:45"), listing.constData());
    }

    void bundleOfAConnectedControllerHoldsEverything()
    {
        const QString logs = path(QStringLiteral("data/Kordo_Logs"));
        QVERIFY(QDir().mkpath(logs));
        const QDateTime sessionStart = QDateTime::currentDateTime().addSecs(-60);
        writeFile(logs + QStringLiteral("/1ah5_2026_12_01_09_00_00.log"), "earlier session\n", sessionStart.addDays(-9));
        writeFile(logs + QStringLiteral("/1ah5_2026_12_10_13_00_00.log"), "N 0, T 13:00:00, M Date 10.12.2026\n");

        SupportBundleContent content;
        content.program = QStringLiteral("Kordo manager 1.1.0");
        content.deviceKnown = true;
        content.serialNumber = 12345;
        content.firmware = {1, 2, 3};
        content.settingsXml = "<settings/>";
        ERROR_WARN_LOG log;
        log.lastErrors = 0x1;
        content.errorLog = log;
        RUN_DATA run;
        run.maxTempEsc = 75;
        content.runData = run;
        content.portList = QStringLiteral("ttyUSB0: Zorbel adapter, serial number AE0042\n");
        content.logDirectory = logs;
        content.sessionStart = sessionStart;

        const QString zip = path(QStringLiteral("connected.zip"));
        QString error;
        QVERIFY2(SupportBundle::write(zip, content, &error), qPrintable(error));
        QCOMPARE(ZipCheck::entries(zip),
                 (QStringList {"device-logs/1ah5_2026_12_10_13_00_00.log", "error-log.txt", "ports.txt", "run-data.txt",
                               "settings.xml", "versions.txt"}));
        const QByteArray versions = ZipCheck::entry(zip, QStringLiteral("versions.txt"));
        QVERIFY2(versions.contains("Kordo manager 1.1.0"), versions.constData());
        QVERIFY2(versions.contains("serial number 12345, firmware 1.2.3"), versions.constData());
        QVERIFY(!versions.contains("Not in this bundle"));
        QCOMPARE(ZipCheck::entry(zip, QStringLiteral("settings.xml")), QByteArray("<settings/>"));
        const QByteArray errors = ZipCheck::entry(zip, QStringLiteral("error-log.txt"));
        QVERIFY2(errors.startsWith("== Last ==\nErrors (0x1)\n"), errors.constData());
        QVERIFY2(!errors.contains('<'), errors.constData());
        QVERIFY(ZipCheck::entry(zip, QStringLiteral("run-data.txt")).contains("25 \xc2\xb0" "C"));

        // Nothing names a place on the machine.
        for (const QString &name : ZipCheck::entries(zip))
            QVERIFY2(!ZipCheck::entry(zip, name).contains(m_dir.path().toUtf8()), qPrintable(name));
    }

    void bundleWithoutControllerSaysWhatIsMissing()
    {
        const QString logs = path(QStringLiteral("quiet/Kordo_Logs"));
        QVERIFY(QDir().mkpath(logs));
        const QDateTime now = QDateTime::currentDateTime();
        writeFile(logs + QStringLiteral("/a_old.log"), "old\n", now.addDays(-2));
        writeFile(logs + QStringLiteral("/b_newest.log"), "newest\n", now.addDays(-1));
        writeFile(logs + QStringLiteral("/notes.txt"), "not a log\n");

        SupportBundleContent content;
        content.program = QStringLiteral("Kordo manager 1.1.0");
        content.portList = QStringLiteral("No serial port found.\n");
        content.logDirectory = logs; // no session: the newest log alone
        const QString zip = path(QStringLiteral("quiet.zip"));
        QString error;
        QVERIFY(SupportBundle::write(zip, content, &error));
        QCOMPARE(ZipCheck::entries(zip), (QStringList {"device-logs/b_newest.log", "ports.txt", "versions.txt"}));
        const QByteArray versions = ZipCheck::entry(zip, QStringLiteral("versions.txt"));
        QVERIFY2(versions.contains("Controller: none connected"), versions.constData());
        QVERIFY2(versions.contains("Not in this bundle: the settings"), versions.constData());

        QVERIFY(!SupportBundle::write(path(QStringLiteral("no/such/dir/x.zip")), content, &error));
        QVERIFY(!error.isEmpty());
    }

    // Only the log folder's own regular files go into a bundle: a link to a file elsewhere,
    // a FIFO or a folder named like a log stays out.
    void onlyTheFoldersOwnLogsAreTaken()
    {
        const QString logs = path(QStringLiteral("links/Kordo_Logs"));
        QVERIFY(QDir().mkpath(logs));
        const QDateTime now = QDateTime::currentDateTime();
        writeFile(logs + QStringLiteral("/own.log"), "own\n", now.addSecs(-60));
        writeFile(path(QStringLiteral("secret.txt")), "secret\n");
        QVERIFY(QFile::link(path(QStringLiteral("secret.txt")), logs + QStringLiteral("/z_link.log")));
        QCOMPARE(::mkfifo(QFile::encodeName(logs + QStringLiteral("/fifo.log")).constData(), 0600), 0);
        QVERIFY(QDir().mkpath(logs + QStringLiteral("/folder.log")));
        QCOMPARE(SupportBundle::deviceLogs(logs, now.addDays(-1)), QStringList {logs + QStringLiteral("/own.log")});
        QCOMPARE(SupportBundle::deviceLogs(logs, {}), QStringList {logs + QStringLiteral("/own.log")});
    }

    // A log folder that is a link to a folder elsewhere is not the data directory's own: none
    // of its files goes into a bundle. A data directory reached through a link is still one.
    void linkedLogFolderIsNotTaken()
    {
        const QString elsewhere = path(QStringLiteral("elsewhere"));
        QVERIFY(QDir().mkpath(elsewhere));
        writeFile(elsewhere + QStringLiteral("/private.log"), "private\n");
        QVERIFY(QDir().mkpath(path(QStringLiteral("linked-data"))));
        const QString logs = path(QStringLiteral("linked-data/Kordo_Logs"));
        QVERIFY(QFile::link(elsewhere, logs));
        QCOMPARE(SupportBundle::deviceLogs(logs, {}), QStringList());

        const QString realData = path(QStringLiteral("real-data"));
        QVERIFY(QDir().mkpath(realData + QStringLiteral("/Kordo_Logs")));
        writeFile(realData + QStringLiteral("/Kordo_Logs/own.log"), "own\n");
        QVERIFY(QFile::link(realData, path(QStringLiteral("data-link"))));
        const QString throughLink = path(QStringLiteral("data-link/Kordo_Logs"));
        QCOMPARE(SupportBundle::deviceLogs(throughLink, {}), QStringList {throughLink + QStringLiteral("/own.log")});
    }

    // What the window's bundle takes from the session: the connected controller's settings
    // only while it is connected, its diagnostic records until another controller comes.
    void recorderKeepsWhatTheSessionShowed()
    {
        FakeProvider provider;
        AppBase app(&provider, DataDirectory::resolve(path(QStringLiteral("recorder")), QString(), QString()));
        SupportBundleRecorder recorder(app.comHelper(), app.paramsHelper(), app.device());
        const QByteArray xml("<settings/>");
        QVERIFY(!recorder.content(QString(), xml, QString()).deviceKnown);

        app.device()->createDevice(12345, 1, 2, 3, 0, 0);
        ERROR_WARN_LOG log;
        log.allErrors = 0x4;
        emit app.paramsHelper()->fillErrors(log);
        emit app.paramsHelper()->fillData(RUN_DATA());
        const PortInfo adapter {QStringLiteral("ttyUSB0"), QStringLiteral("/dev/ttyUSB0"), QStringLiteral("AE01"), QString()};
        emit app.comHelper()->portsUpdate({adapter}, {});
        emit app.comHelper()->portConnectionStateChange(QStringLiteral("ttyUSB0"), true, false, true);

        SupportBundleContent connected = recorder.content(QStringLiteral("P 1"), xml, QString());
        QVERIFY(connected.deviceKnown);
        QCOMPARE(connected.serialNumber, 12345u);
        QCOMPARE(int(connected.firmware.fw_m), 2);
        QCOMPARE(connected.settingsXml, xml);
        QVERIFY(connected.errorLog && connected.errorLog->allErrors == 0x4);
        QVERIFY(connected.runData);
        QCOMPARE(connected.portList, QStringLiteral("ttyUSB0: Zorbel adapter, serial number AE01\nConnected to ttyUSB0.\n"));

        app.device()->deleteDevice();
        const SupportBundleContent lost = recorder.content(QStringLiteral("P 1"), xml, QString());
        QVERIFY(!lost.deviceKnown);
        QVERIFY(lost.settingsXml.isEmpty());
        QVERIFY(lost.errorLog); // still the records of the controller last seen

        app.device()->createDevice(999, 1, 2, 3, 0, 0);
        const SupportBundleContent other = recorder.content(QStringLiteral("P 1"), xml, QString());
        QCOMPARE(other.serialNumber, 999u);
        QVERIFY(!other.errorLog);
        QVERIFY(!other.runData);
    }

    // The program's own commands: the port list with a pseudo-terminal given as the
    // adapter, and the bundle written without a display.
    void programListsPortsAndWritesABundle()
    {
        int master = -1;
        int slave = -1;
        char name[256] = {};
        QVERIFY(::openpty(&master, &slave, name, nullptr, nullptr) == 0);
        const QString dataDir = path(QStringLiteral("program"));
        QVERIFY(QDir().mkpath(dataDir + QStringLiteral("/Kordo_Logs")));
        writeFile(dataDir + QStringLiteral("/Kordo_Logs/1ah5_2026_12_10_12_00_00.log"), "N 0\n");

        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove(QStringLiteral("QT_QPA_PLATFORM"));
        env.remove(QStringLiteral("DISPLAY"));
        const auto run = [&](const QStringList &arguments, QByteArray *out) {
            QProcess process;
            process.setProcessEnvironment(env);
            process.start(program(), QStringList {"--data-dir", dataDir} + arguments);
            if (!process.waitForFinished(60000))
                return -1;
            *out = process.readAllStandardOutput() + process.readAllStandardError();
            return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
        };
        QByteArray out;
        const QString pty = QString::fromLocal8Bit(name);
        QCOMPARE(run({"--list-ports", "--port", pty + QStringLiteral("@AE0042")}, &out), 0);
        QVERIFY2(out.contains(QStringLiteral("%1: Zorbel adapter, serial number AE0042").arg(pty).toUtf8()),
                 out.constData());
        QVERIFY2(out.contains("    can be opened"), out.constData());

        const QString zip = path(QStringLiteral("program.zip"));
        QCOMPARE(run({"--support-bundle", zip, "--port", pty + QStringLiteral("@AE0042")}, &out), 0);
        ::close(slave);
        ::close(master);
        QCOMPARE(ZipCheck::entries(zip),
                 (QStringList {"device-logs/1ah5_2026_12_10_12_00_00.log", "ports.txt", "versions.txt"}));
        QVERIFY(ZipCheck::entry(zip, QStringLiteral("ports.txt")).contains("AE0042"));
    }
};

QTEST_GUILESS_MAIN(TestSupportBundle)
#include "tst_supportbundle.moc"
