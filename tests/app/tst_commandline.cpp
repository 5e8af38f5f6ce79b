#include "app/commandline.h"
#include "capture/linedecoder.h"
#include "capture/pcapfile.h"
#include "cli/motorbackupcommand.h"
#include "motors/dbmanager.h"
#include "tests/motors/motortestsupport.h"

#include <QProcess>
#include "tests/common/simprocess.h"

#include <csignal>
#include <sys/types.h>
#include <QTemporaryDir>
#include <QTextStream>
#include <QtTest>

#include <sys/stat.h>
#include <sys/sysmacros.h>

Q_DECLARE_METATYPE(CommandLineOptions::Command)

// The command line, and the two headless motor commands on a database of their own.
class TestCommandLine : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;

    QString dbDir() const { return m_dir.filePath(QStringLiteral("db")); }

    static MOTOR_TOTAL motor(float rs, uint8_t polePairs)
    {
        MOTOR_TOTAL m;
        m.Rs = rs;
        m.Ls_d = 1e-5f;
        m.Ls_q = 2e-5f;
        m.Flux = 0.003f;
        m.polePairs = polePairs;
        m.voltage_scale = 2400;
        return m;
    }

    void storeMotors(const QStringList &names)
    {
        QDir().mkpath(dbDir());
        DbManager db(nullptr, dbDir());
        for (int i = 0; i < names.size(); ++i) {
            MOTOR_TOTAL m = motor(0.05f + 0.01f * float(i), uint8_t(7 + i));
            QVERIFY(db.saveMotor(names[i], QStringLiteral("2026-01-0%1 10:00:00").arg(i + 1), &m));
        }
    }

    QStringList motorNames()
    {
        DbManager db(nullptr, dbDir());
        QStringList names;
        QStringList dates;
        db.getMotorList(&names, &dates);
        return names;
    }

    struct Run
    {
        int code;
        QString out;
        QString err;
    };

    // The program hands the commands a database directory that exists.
    Run exportMotors(const QString &file, const QStringList &names)
    {
        QDir().mkpath(dbDir());
        QString out, err;
        QTextStream o(&out), e(&err);
        MotorBackupCommand command(dbDir(), o, e);
        const int code = command.exportMotors(file, names);
        return {code, out, err};
    }

    Run importMotors(const QString &file, bool overwrite)
    {
        QDir().mkpath(dbDir());
        QString out, err;
        QTextStream o(&out), e(&err);
        MotorBackupCommand command(dbDir(), o, e);
        const int code = command.importMotors(file, overwrite);
        return {code, out, err};
    }

    // kordoman itself, ended when it has not finished in a minute (a FIFO holding it, say).
    Run runProgram(const QStringList &arguments)
    {
        const QString program = QDir(qEnvironmentVariable("KORDO_BIN_DIR")).filePath(QStringLiteral("kordoman"));
        QProcess process;
        process.start(program, QStringList {"--data-dir", m_dir.filePath(QStringLiteral("program"))} + arguments);
        if (!process.waitForFinished(60000)) {
            process.kill();
            process.waitForFinished();
            return {-1, QString(), QStringLiteral("did not finish")};
        }
        return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
                QString::fromUtf8(process.readAllStandardOutput()), QString::fromUtf8(process.readAllStandardError())};
    }

private slots:
    void init()
    {
        QDir(dbDir()).removeRecursively();
    }

    void parse_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<CommandLineOptions::Command>("command");
        QTest::addColumn<bool>("demo");
        QTest::addColumn<QStringList>("ports");
        QTest::addColumn<QString>("dataDir");
        QTest::addColumn<QString>("file");
        QTest::addColumn<QStringList>("motors");
        QTest::addColumn<bool>("overwrite");

        using C = CommandLineOptions::Command;
        QTest::newRow("nothing") << QStringList {} << C::RunWindow << false << QStringList {} << QString() << QString()
                                 << QStringList {} << false;
        QTest::newRow("demo with data dir") << QStringList {"--demo", "--data-dir", "/tmp/k"} << C::RunWindow << true
                                            << QStringList {} << "/tmp/k" << QString() << QStringList {} << false;
        QTest::newRow("two ports") << QStringList {"--port", "/dev/pts/3@AE0001", "--port=/dev/ttyS0"} << C::RunWindow
                                   << false << QStringList {"/dev/pts/3@AE0001", "/dev/ttyS0"} << QString()
                                   << QString() << QStringList {} << false;
        QTest::newRow("export some") << QStringList {"--export-motors", "m.ms", "--motor", "A", "--motor", "B c"}
                                     << C::ExportMotors << false << QStringList {} << QString() << "m.ms"
                                     << QStringList {"A", "B c"} << false;
        QTest::newRow("import overwrite") << QStringList {"--import-motors", "m.ms", "--overwrite", "--data-dir", "d"}
                                          << C::ImportMotors << false << QStringList {} << "d" << "m.ms"
                                          << QStringList {} << true;
        QTest::newRow("help") << QStringList {"--help"} << C::ShowHelp << false << QStringList {} << QString()
                              << QString() << QStringList {} << false;
        QTest::newRow("version") << QStringList {"--version"} << C::ShowVersion << false << QStringList {} << QString()
                                 << QString() << QStringList {} << false;
        QTest::newRow("unknown option") << QStringList {"--colour"} << C::Invalid << false << QStringList {}
                                        << QString() << QString() << QStringList {} << false;
        QTest::newRow("missing value") << QStringList {"--port"} << C::Invalid << false << QStringList {} << QString()
                                       << QString() << QStringList {} << false;
        QTest::newRow("both commands") << QStringList {"--export-motors", "a", "--import-motors", "b"} << C::Invalid
                                       << false << QStringList {} << QString() << QString() << QStringList {} << false;
        QTest::newRow("motor without export") << QStringList {"--motor", "A"} << C::Invalid << false
                                              << QStringList {} << QString() << QString() << QStringList {"A"} << false;
        QTest::newRow("empty motor name") << QStringList {"--port", "/dev/x", "--motor", ""} << C::Invalid << false
                                          << QStringList {"/dev/x"} << QString() << QString() << QStringList {""}
                                          << false;
        QTest::newRow("overwrite without import") << QStringList {"--export-motors", "a", "--overwrite"} << C::Invalid
                                                  << false << QStringList {} << QString() << "a" << QStringList {}
                                                  << true;
        QTest::newRow("list ports") << QStringList {"--list-ports", "--port", "/dev/pts/3@AE0001"} << C::ListPorts
                                    << false << QStringList {"/dev/pts/3@AE0001"} << QString() << QString()
                                    << QStringList {} << false;
        QTest::newRow("support bundle") << QStringList {"--support-bundle", "b.zip", "--data-dir", "d"}
                                        << C::SupportBundle << false << QStringList {} << "d" << "b.zip"
                                        << QStringList {} << false;
        QTest::newRow("bundle without file") << QStringList {"--support-bundle", ""} << C::Invalid << false
                                             << QStringList {} << QString() << QString() << QStringList {} << false;
        QTest::newRow("two commands") << QStringList {"--list-ports", "--export-motors", "a"} << C::Invalid << false
                                      << QStringList {} << QString() << "a" << QStringList {} << false;
        QTest::newRow("stray argument") << QStringList {"file.ms"} << C::Invalid << false << QStringList {}
                                        << QString() << QString() << QStringList {} << false;
        QTest::newRow("flash one port") << QStringList {"--flash", "f.bin", "--port", "/a"} << C::Flash << false
                                        << QStringList {"/a"} << QString() << QString() << QStringList {} << false;
        QTest::newRow("flash two ports") << QStringList {"--flash", "f.bin", "--port", "/a@AE1", "--port", "/b@AE2"}
                                         << C::Production << false << QStringList {"/a@AE1", "/b@AE2"} << QString()
                                         << QString() << QStringList {} << false;
        QTest::newRow("flash with report") << QStringList {"--flash", "f.bin", "--port", "/a", "--report", "r.csv"}
                                           << C::Production << false << QStringList {"/a"} << QString() << QString()
                                           << QStringList {} << false;
        QTest::newRow("flash all adapters") << QStringList {"--flash", "f.bin", "--all-adapters"} << C::Production
                                            << false << QStringList {} << QString() << QString() << QStringList {}
                                            << false;
        QTest::newRow("settings alone") << QStringList {"--settings", "s.xml", "--port", "/a"} << C::Production
                                        << false << QStringList {"/a"} << QString() << QString() << QStringList {}
                                        << false;
        QTest::newRow("motor on a port") << QStringList {"--port", "/a", "--motor", "M 1"} << C::Production << false
                                         << QStringList {"/a"} << QString() << QString() << QStringList {"M 1"}
                                         << false;
        QTest::newRow("two motors") << QStringList {"--settings", "s", "--port", "/a", "--motor", "A", "--motor", "B"}
                                    << C::Invalid << false << QStringList {} << QString() << QString()
                                    << QStringList {} << false;
        QTest::newRow("report without work") << QStringList {"--report", "r.csv", "--port", "/a"} << C::Invalid
                                             << false << QStringList {} << QString() << QString() << QStringList {}
                                             << false;
        QTest::newRow("all adapters without work") << QStringList {"--all-adapters"} << C::Invalid << false
                                                   << QStringList {} << QString() << QString() << QStringList {}
                                                   << false;
        QTest::newRow("settings with export") << QStringList {"--settings", "s", "--export-motors", "m"} << C::Invalid
                                              << false << QStringList {} << QString() << QString() << QStringList {}
                                              << false;
        QTest::newRow("capture with the window") << QStringList {"--capture", "c.pcap", "--port", "/a"} << C::RunWindow
                                                 << false << QStringList {"/a"} << QString() << QString()
                                                 << QStringList {} << false;
        QTest::newRow("capture with one production port")
            << QStringList {"--settings", "s", "--port", "/a", "--capture", "c.pcap"} << C::Production << false
            << QStringList {"/a"} << QString() << QString() << QStringList {} << false;
        QTest::newRow("capture with two production ports")
            << QStringList {"--flash", "f", "--port", "/a", "--port", "/b", "--capture", "c.pcap"} << C::Production
            << false << QStringList {"/a", "/b"} << QString() << QString() << QStringList {} << false;
        QTest::newRow("empty capture name") << QStringList {"--capture", ""} << C::Invalid << false << QStringList {}
                                            << QString() << QString() << QStringList {} << false;
        QTest::newRow("decode") << QStringList {"--decode", "c.pcap"} << C::Decode << false << QStringList {}
                                << QString() << QString() << QStringList {} << false;
        QTest::newRow("decode with capture") << QStringList {"--decode", "c.pcap", "--capture", "d.pcap"} << C::Invalid
                                             << false << QStringList {} << QString() << QString() << QStringList {}
                                             << false;
        QTest::newRow("decode with a command") << QStringList {"--decode", "c.pcap", "--list-ports"} << C::Invalid
                                               << false << QStringList {} << QString() << QString() << QStringList {}
                                               << false;
        QTest::newRow("empty settings name") << QStringList {"--settings", "", "--port", "/a"} << C::Invalid << false
                                             << QStringList {} << QString() << QString() << QStringList {} << false;
    }
    void parse()
    {
        QFETCH(QStringList, arguments);
        QFETCH(CommandLineOptions::Command, command);
        arguments.prepend(QStringLiteral("kordoman"));
        const CommandLineOptions options = CommandLine::parse(arguments);
        QCOMPARE(options.command, command);
        if (command == CommandLineOptions::Command::Invalid) {
            QVERIFY(!options.error.isEmpty());
            return;
        }
        QTEST(options.demo, "demo");
        QTEST(options.portSpecs, "ports");
        QTEST(options.dataDirectory, "dataDir");
        // The file the command works on.
        QTEST(command == CommandLineOptions::Command::SupportBundle ? options.bundleFile : options.motorFile, "file");
        QTEST(options.motorNames, "motors");
        QTEST(options.overwrite, "overwrite");
        if (arguments.contains(QStringLiteral("--capture")))
            QCOMPARE(options.captureFile, QStringLiteral("c.pcap"));
        if (command == CommandLineOptions::Command::Decode)
            QCOMPARE(options.decodeFile, QStringLiteral("c.pcap"));
    }

    // The files of a production run reach the command.
    void productionFiles()
    {
        const CommandLineOptions options = CommandLine::parse(
            {"kordoman", "--flash", "f.bin", "--settings", "s.xml", "--report", "r.csv", "--all-adapters"});
        QCOMPARE(options.command, CommandLineOptions::Command::Production);
        QCOMPARE(options.firmwareFile, QStringLiteral("f.bin"));
        QCOMPARE(options.settingsFile, QStringLiteral("s.xml"));
        QCOMPARE(options.reportFile, QStringLiteral("r.csv"));
        QVERIFY(options.allAdapters);
    }

    void helpNamesEveryOption()
    {
        const CommandLineOptions options = CommandLine::parse({"kordoman", "--help"});
        for (const char *option : {"--demo", "--port", "--data-dir", "--export-motors", "--motor", "--import-motors",
                                   "--overwrite", "--flash", "--version", "--list-ports", "--support-bundle",
                                   "--settings", "--report", "--all-adapters", "--capture", "--decode"})
            QVERIFY2(options.helpText.contains(QLatin1String(option)), option);
    }

    // The commands open no window: they run where no display exists.
    void programRunsTheCommandsWithoutADisplay()
    {
        const QString program = QDir(qEnvironmentVariable("KORDO_BIN_DIR")).filePath(QStringLiteral("kordoman"));
        QVERIFY2(QFileInfo(program).isExecutable(), qPrintable(program));
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove(QStringLiteral("QT_QPA_PLATFORM"));
        env.remove(QStringLiteral("DISPLAY"));
        env.remove(QStringLiteral("WAYLAND_DISPLAY"));
        const QString dataDir = m_dir.filePath(QStringLiteral("program"));
        const auto run = [&](const QStringList &arguments, QByteArray *out, QByteArray *err) {
            QProcess process;
            process.setProcessEnvironment(env);
            process.start(program, QStringList {"--data-dir", dataDir} + arguments);
            if (!process.waitForFinished(60000))
                return -1;
            *out = process.readAllStandardOutput();
            *err = process.readAllStandardError();
            return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
        };
        QByteArray out, err;
        const QString file = m_dir.filePath(QStringLiteral("program.ms"));
        QCOMPARE(run({"--export-motors", file}, &out, &err), 0);
        QVERIFY(QFile::exists(file));
        QVERIFY(out.contains("0"));
        QCOMPARE(run({"--import-motors", m_dir.filePath(QStringLiteral("absent.ms"))}, &out, &err), 1);
        QVERIFY2(err.startsWith("Import failed!"), err.constData());
        // A command without a controller still writes a whole (empty) capture when asked.
        const QString capture = m_dir.filePath(QStringLiteral("program.pcap"));
        QCOMPARE(run({"--export-motors", file, "--capture", capture}, &out, &err), 0);
        QCOMPARE(run({"--decode", capture}, &out, &err), 0);
        QVERIFY2(out.isEmpty(), out.constData());
        QCOMPARE(run({"--decode", file}, &out, &err), 1); // a motor file is no capture
        QVERIFY2(err.contains("is not a line capture"), err.constData());
        QCOMPARE(run({"--decode", m_dir.filePath(QStringLiteral("absent.pcap"))}, &out, &err), 1);
        QVERIFY2(err.contains("does not exist"), err.constData());
        QCOMPARE(run({"--version"}, &out, &err), 0);
        QCOMPARE(out.trimmed(), QByteArray("Kordo manager 1.1.0"));
        QCOMPARE(run({"--no-such-option"}, &out, &err), 2);
    }

    // The window program ends on a terminating signal as on a close: normally, with exit
    // status 0, after its last request to the controller.
    void programClosesOnTerminatingSignals_data()
    {
        QTest::addColumn<int>("signalNumber");
        QTest::newRow("SIGTERM") << SIGTERM;
        QTest::newRow("SIGINT") << SIGINT;
        QTest::newRow("SIGHUP") << SIGHUP;
    }

    void programClosesOnTerminatingSignals()
    {
        QFETCH(int, signalNumber);
        const QString program = QDir(qEnvironmentVariable("KORDO_BIN_DIR")).filePath(QStringLiteral("kordoman"));
        const QString trace = m_dir.filePath(QStringLiteral("signal-%1.trace").arg(signalNumber));
        SimProcess sim({QStringLiteral("--trace"), trace});
        QVERIFY(sim.isReady());
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        QProcess process;
        process.setProcessEnvironment(env);
        process.start(program, {"--data-dir", m_dir.filePath(QStringLiteral("signals")), "--port", sim.adapterPortSpec()});
        QVERIFY(process.waitForStarted(30000));
        // Talking to the controller: the event loop runs.
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(trace).size() > 0, 60000);
        QCOMPARE(::kill(pid_t(process.processId()), signalNumber), 0);
        QVERIFY(process.waitForFinished(60000));
        QCOMPARE(process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(process.exitCode(), 0);
    }

    // Killed without warning (SIGKILL, as in a crash), the window program leaves a capture
    // that is whole up to its last flush: every record in it complete, the first ones the
    // connection to the controller.
    void captureWholeAfterKill()
    {
        const QString program = QDir(qEnvironmentVariable("KORDO_BIN_DIR")).filePath(QStringLiteral("kordoman"));
        const QString capture = m_dir.filePath(QStringLiteral("killed.pcap"));
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        QProcess process;
        process.setProcessEnvironment(env);
        process.start(program, {"--demo", "--data-dir", m_dir.filePath(QStringLiteral("killed")), "--capture", capture});
        QVERIFY(process.waitForStarted(30000));
        // Connected and polling: the identity and the stored records are in the file.
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(capture).size() > 1000, 60000);
        QCOMPARE(::kill(pid_t(process.processId()), SIGKILL), 0);
        QVERIFY(process.waitForFinished(30000));
        QCOMPARE(process.exitStatus(), QProcess::CrashExit);

        QVector<LineCapture::Record> records;
        QString error;
        QVERIFY2(PcapReader::read(capture, &records, &error), qPrintable(error));
        qint64 whole = 24; // the file header, then each record's header, line header and bytes
        for (const LineCapture::Record &record : qAsConst(records))
            whole += 16 + LineCapture::HEADER_SIZE + record.bytes.size();
        QCOMPARE(QFileInfo(capture).size(), whole);
        QVERIFY(!records.isEmpty());
        QVERIFY(LineDecoder::describe(records.constFirst()).contains(QLatin1String("out frame GET_DEVICE_INFO")));
    }

    // Outputs replace only regular files, inputs are read only from regular files, and the
    // production report is tried before any port is: each refused at once, nothing replaced.
    void filesMustBeRegular_data()
    {
        QTest::addColumn<QString>("option");
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("reason");
        const QString notRegular = QStringLiteral("is not a regular file");
        for (const char *option : {"--export-motors", "--support-bundle", "--report", "--capture"}) {
            for (const char *kind : {"fifo", "folder", "link to fifo", "device"})
                QTest::addRow("%s %s", option, kind) << option << kind << notRegular;
        }
        QTest::newRow("--report in a missing folder") << "--report" << "missing folder" << "cannot be written";
        for (const char *option : {"--import-motors", "--settings", "--decode"})
            QTest::addRow("%s fifo", option) << option << "fifo" << notRegular;
        QTest::newRow("--flash fifo") << "--flash" << "fifo" << QString(); // refused in words of its own
    }
    void filesMustBeRegular()
    {
        QFETCH(QString, option);
        QFETCH(QString, kind);
        QFETCH(QString, reason);
        QTemporaryDir dir;
        QString path = dir.filePath(QStringLiteral("target"));
        if (kind == QLatin1String("fifo") || kind == QLatin1String("link to fifo"))
            QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
        if (kind == QLatin1String("link to fifo")) {
            QVERIFY(QFile::link(path, dir.filePath(QStringLiteral("link"))));
            path = dir.filePath(QStringLiteral("link"));
        }
        if (kind == QLatin1String("folder"))
            QVERIFY(QDir().mkpath(path));
        // A node of its own: on code that replaced it, the machine's own would be lost.
        if (kind == QLatin1String("device")
            && ::mknod(QFile::encodeName(path).constData(), S_IFCHR | 0666, makedev(1, 3)) != 0)
            QSKIP("making a device node needs root");
        if (kind == QLatin1String("missing folder"))
            path = dir.filePath(QStringLiteral("absent/report.csv"));

        QStringList arguments {option, path};
        if (option == QLatin1String("--report")) { // a port whose controller would be awaited 20 s
            QFile image(dir.filePath(QStringLiteral("fw.bin")));
            QVERIFY(image.open(QIODevice::WriteOnly) && image.write(QByteArray(1024, 'x')) == 1024);
            arguments << "--flash" << image.fileName() << "--port" << dir.filePath("tty");
        }
        if (option == QLatin1String("--settings") || option == QLatin1String("--flash"))
            arguments << "--port" << dir.filePath("tty");
        if (option == QLatin1String("--capture")) // checked before the command touches a port
            arguments << "--flash" << dir.filePath("fw.bin") << "--port" << dir.filePath("tty");
        const Run run = runProgram(arguments);
        QCOMPARE(run.code, 1);
        QVERIFY2(run.err.contains(reason), qPrintable(run.err));
        QVERIFY2(!run.out.contains(dir.filePath("tty")), qPrintable(run.out)); // no port was worked on
        const QFileInfo after(path);
        QVERIFY(!after.isFile()); // nothing replaced it
    }

    // The program itself: an empty motor file with --overwrite deletes nothing and exits
    // non-zero, and so does a zlib bomb (refused unread past the record's 28 bytes).
    void programRefusesFilesWithoutUsableMotors_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QByteArray>("reason");
        QTest::newRow("empty file") << QByteArray("") << QByteArray("nothing to import");
        QTest::newRow("zlib bomb") << QByteArray("Bomb;;" + MotorTestSupport::zlibBombField() + '\n')
                                   << QByteArray("damaged");
    }

    void programRefusesFilesWithoutUsableMotors()
    {
        QFETCH(QByteArray, content);
        QFETCH(QByteArray, reason);
        const QString program = QDir(qEnvironmentVariable("KORDO_BIN_DIR")).filePath(QStringLiteral("kordoman"));
        QVERIFY2(QFileInfo(program).isExecutable(), qPrintable(program));
        const QString dataDir = m_dir.filePath(QStringLiteral("refusing"));
        const QString databaseDir = dataDir + QStringLiteral("/Kordo_Db");
        QVERIFY(QDir().mkpath(databaseDir));
        {
            DbManager db(nullptr, databaseDir);
            MOTOR_TOTAL a = motor(0.05f, 7);
            MOTOR_TOTAL b = motor(0.06f, 8);
            QVERIFY(db.saveMotor(QStringLiteral("Alpha"), QString(), &a));
            QVERIFY(db.saveMotor(QStringLiteral("Beta"), QString(), &b));
        }
        const QString file = m_dir.filePath(QStringLiteral("refused.ms"));
        {
            QFile f(file);
            QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
            QCOMPARE(f.write(content), qint64(content.size()));
        }
        QProcess process;
        process.start(program, {"--data-dir", dataDir, "--import-motors", file, "--overwrite"});
        QVERIFY(process.waitForFinished(60000));
        QCOMPARE(process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(process.exitCode(), 1);
        const QByteArray err = process.readAllStandardError();
        QVERIFY2(err.startsWith("Import failed!") && err.contains(reason), err.constData());

        DbManager db(nullptr, databaseDir);
        QStringList names, dates;
        QVERIFY(db.getMotorList(&names, &dates));
        QCOMPARE(names, (QStringList {"Alpha", "Beta"}));
    }

    // A data directory that cannot be written: its database is exported, an import is
    // refused saying why, and nothing is written anywhere.
    void readOnlyDataDirectoryExportsButRefusesImports()
    {
        const QString program = QDir(qEnvironmentVariable("KORDO_BIN_DIR")).filePath(QStringLiteral("kordoman"));
        const QString dataDir = m_dir.filePath(QStringLiteral("readonly"));
        const QString databaseDir = dataDir + QStringLiteral("/Kordo_Db");
        QVERIFY(QDir().mkpath(databaseDir));
        {
            DbManager db(nullptr, databaseDir);
            MOTOR_TOTAL a = motor(0.05f, 7);
            QVERIFY(db.saveMotor(QStringLiteral("Alpha"), QString(), &a));
        }
        const QString exported = m_dir.filePath(QStringLiteral("from-readonly.ms"));
        MotorTestSupport::ImmutableGuard dataGuard(dataDir);
        MotorTestSupport::ImmutableGuard databaseGuard(databaseDir);
        if (!dataGuard.active() || !databaseGuard.active())
            QSKIP("chattr +i is not available here");
        const QByteArray before = MotorTestSupport::fileDigest(databaseDir + QStringLiteral("/Kordo_data.db"));

        QProcess process;
        process.start(program, {"--data-dir", dataDir, "--export-motors", exported});
        QVERIFY(process.waitForFinished(60000));
        QCOMPARE(process.exitCode(), 0);
        QVERIFY(QFile::exists(exported));

        process.start(program, {"--data-dir", dataDir, "--import-motors", exported, "--overwrite"});
        QVERIFY(process.waitForFinished(60000));
        QCOMPARE(process.exitCode(), 1);
        const QByteArray err = process.readAllStandardError();
        QVERIFY2(err.contains("Import failed! The motor database") && err.contains("cannot be written"), err.constData());
        QCOMPARE(MotorTestSupport::fileDigest(databaseDir + QStringLiteral("/Kordo_data.db")), before);
        QCOMPARE(QDir(dataDir).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
                 QStringList {QStringLiteral("Kordo_Db")});
    }

    void exportThenImportRestoresTheMotors()
    {
        storeMotors({"Alpha", "Beta", "Gamma"});
        MOTOR_TOTAL stored;
        QVERIFY(DbManager(nullptr, dbDir()).getMotorParams(QStringLiteral("Beta"), &stored));
        const QString file = m_dir.filePath(QStringLiteral("all.ms"));
        const Run exported = exportMotors(file, {});
        QCOMPARE(exported.code, 0);
        QVERIFY(exported.out.contains(QLatin1String("3")));
        QVERIFY(exported.err.isEmpty());

        const QString some = m_dir.filePath(QStringLiteral("some.ms"));
        QCOMPARE(exportMotors(some, {"Gamma"}).code, 0);

        QVERIFY(QDir(dbDir()).removeRecursively());
        const Run imported = importMotors(file, false);
        QCOMPARE(imported.code, 0);
        QCOMPARE(motorNames(), (QStringList {"Alpha", "Beta", "Gamma"}));
        DbManager db(nullptr, dbDir());
        MOTOR_TOTAL beta;
        QVERIFY(db.getMotorParams(QStringLiteral("Beta"), &beta));
        QCOMPARE(beta, stored);

        QCOMPARE(importMotors(some, true).code, 0);
        QCOMPARE(motorNames(), QStringList {"Gamma"});
    }

    void importAppendsUnlessOverwriting()
    {
        storeMotors({"Alpha"});
        const QString file = m_dir.filePath(QStringLiteral("alpha.ms"));
        QCOMPARE(exportMotors(file, {}).code, 0);
        QVERIFY(QDir(dbDir()).removeRecursively());
        storeMotors({"Zeta"});
        QCOMPARE(importMotors(file, false).code, 0);
        QCOMPARE(motorNames(), (QStringList {"Alpha", "Zeta"}));
    }

    void failuresPrintTheMessageAndReason_data()
    {
        QTest::addColumn<bool>("isExport");
        QTest::addColumn<QString>("file");
        QTest::addColumn<QByteArray>("content"); // written to the file first when not null
        QTest::addColumn<QStringList>("names");
        QTest::addColumn<QString>("reason");
        QTest::addColumn<bool>("overwrite");
        QTest::newRow("unknown motor") << true << "x.ms" << QByteArray() << QStringList {"Nope"} << "Nope" << false;
        QTest::newRow("unwritable file") << true << "missing-dir/x.ms" << QByteArray() << QStringList {}
                                         << "cannot be written" << false;
        QTest::newRow("missing file") << false << "none.ms" << QByteArray() << QStringList {} << "cannot be opened"
                                      << false;
        QTest::newRow("damaged file") << false << "bad.ms" << QByteArray("Alpha;2026-01-01 10:00:00;AAAA\n")
                                      << QStringList {} << "damaged" << false;
        QTest::newRow("not a motor file") << false << "text.ms" << QByteArray("hello\n") << QStringList {}
                                          << "damaged" << false;
        QTest::newRow("zlib bomb, overwrite")
            << false << "bomb.ms" << QByteArray("Bomb;;" + MotorTestSupport::zlibBombField() + '\n') << QStringList {}
            << "damaged" << true;
        QTest::newRow("empty file, overwrite") << false << "empty.ms" << QByteArray("") << QStringList {}
                                               << "nothing to import" << true;
        QTest::newRow("empty file, append") << false << "empty.ms" << QByteArray("") << QStringList {}
                                            << "nothing to import" << false;
    }
    void failuresPrintTheMessageAndReason()
    {
        QFETCH(bool, isExport);
        QFETCH(QString, file);
        QFETCH(QByteArray, content);
        QFETCH(QStringList, names);
        QFETCH(QString, reason);
        QFETCH(bool, overwrite);
        storeMotors({"Alpha"});
        const QString path = m_dir.filePath(file);
        if (!content.isNull()) {
            QFile f(path);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(content);
        }
        const Run run = isExport ? exportMotors(path, names) : importMotors(path, overwrite);
        QCOMPARE(run.code, 1);
        QVERIFY(run.out.isEmpty());
        QVERIFY2(run.err.startsWith(isExport ? "Export failed!" : "Import failed!"), qPrintable(run.err));
        QVERIFY2(run.err.contains(reason), qPrintable(run.err));
        QCOMPARE(motorNames(), QStringList {"Alpha"}); // a failed import changes nothing
        if (isExport)
            QVERIFY(!QFile::exists(path));
    }
};

QTEST_GUILESS_MAIN(TestCommandLine)
#include "tst_commandline.moc"
