#include "app/commandline.h"
#include "capture/linedecoder.h"
#include "capture/pcapfile.h"
#include "cli/motorbackupcommand.h"
#include "device/settingssnapshots.h"
#include "motors/dbmanager.h"
#include "tests/motors/motortestsupport.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include "tests/common/framedecode.h"
#include "tests/common/simprocess.h"
#include "wire/messageids.h"
#include "wire/records.h"

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

    // --without-backup goes with an update only: plain --flash or the production line's.
    void withoutBackupGoesWithFlashOnly_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<bool>("valid");
        QTest::newRow("flash") << QStringList {"--flash", "f.bin", "--without-backup"} << true;
        QTest::newRow("production flash")
            << QStringList {"--flash", "f.bin", "--port", "/a", "--port", "/b", "--without-backup"} << true;
        QTest::newRow("settings without flash") << QStringList {"--settings", "s.xml", "--port", "/a", "--without-backup"}
                                                << false;
        QTest::newRow("window") << QStringList {"--without-backup"} << false;
    }

    void withoutBackupGoesWithFlashOnly()
    {
        QFETCH(QStringList, arguments);
        QFETCH(bool, valid);
        const CommandLineOptions options = CommandLine::parse(QStringList {"kordoman"} + arguments);
        QCOMPARE(options.command != CommandLineOptions::Command::Invalid, valid);
        if (valid)
            QVERIFY(options.withoutBackup);
    }

    // Where the results go, the outbox and the history, and JSON lines: each with the
    // commands that use it.
    void resultsOptions_data()
    {
        using C = CommandLineOptions::Command;
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<CommandLineOptions::Command>("command");
        QTest::addColumn<QString>("resultsDb");
        QTest::addColumn<QString>("serial");
        QTest::addColumn<bool>("json");
        const QString url = QStringLiteral("postgresql://kordo@db/line");
        QTest::newRow("history") << QStringList {"--history", " 1001 "} << C::History << QString() << "1001" << false;
        QTest::newRow("history json on a server") << QStringList {"--history", "7", "--json", "--results-db", url}
                                                  << C::History << url << "7" << true;
        QTest::newRow("sync") << QStringList {"--sync-results", "--results-db", url, "--data-dir", "d"}
                              << C::SyncResults << url << QString() << false;
        QTest::newRow("production on a server") << QStringList {"--flash", "f", "--all-adapters", "--results-db", url, "--json"}
                                                << C::Production << url << QString() << true;
        QTest::newRow("flash json") << QStringList {"--flash", "f", "--json"} << C::Flash << QString() << QString() << true;
        QTest::newRow("list ports json") << QStringList {"--list-ports", "--json"} << C::ListPorts << QString()
                                         << QString() << true;
        QTest::newRow("history empty serial") << QStringList {"--history", " "} << C::Invalid << QString() << QString()
                                              << false;
        QTest::newRow("history and sync") << QStringList {"--history", "1", "--sync-results"} << C::Invalid
                                          << QString() << QString() << false;
        QTest::newRow("history with flash") << QStringList {"--history", "1", "--flash", "f"} << C::Invalid
                                            << QString() << QString() << false;
        QTest::newRow("history with a port") << QStringList {"--history", "1", "--port", "/a"} << C::Invalid
                                             << QString() << QString() << false;
        QTest::newRow("sync json") << QStringList {"--sync-results", "--json"} << C::Invalid << QString() << QString()
                                   << false;
        QTest::newRow("results db alone") << QStringList {"--results-db", url} << C::Invalid << QString() << QString()
                                          << false;
        QTest::newRow("results db with export") << QStringList {"--export-motors", "m", "--results-db", url}
                                                << C::Invalid << QString() << QString() << false;
        QTest::newRow("empty results db") << QStringList {"--flash", "f", "--results-db", ""} << C::Invalid
                                          << QString() << QString() << false;
        QTest::newRow("json with the window") << QStringList {"--json"} << C::Invalid << QString() << QString() << false;
    }
    void resultsOptions()
    {
        QFETCH(QStringList, arguments);
        QFETCH(CommandLineOptions::Command, command);
        const CommandLineOptions options = CommandLine::parse(QStringList {"kordoman"} + arguments);
        QCOMPARE(options.command, command);
        if (command == CommandLineOptions::Command::Invalid) {
            QVERIFY(!options.error.isEmpty());
            return;
        }
        QTEST(options.resultsDb, "resultsDb");
        QTEST(options.historySerial, "serial");
        QTEST(options.json, "json");
    }

    // The settings backup commands: each alone, the last two on one port.
    void backupCommands_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<CommandLineOptions::Command>("command");
        QTest::addColumn<QString>("value"); // serial, days, id or file, as parsed

        using C = CommandLineOptions::Command;
        QTest::newRow("all backups") << QStringList {"--backups"} << C::ListBackups << QString();
        QTest::newRow("backups of one") << QStringList {"--backups", "777", "--data-dir", "d"} << C::ListBackups << "777";
        QTest::newRow("backups of a word") << QStringList {"--backups", "abc"} << C::Invalid << QString();
        QTest::newRow("backups and two serials") << QStringList {"--backups", "1", "2"} << C::Invalid << QString();
        QTest::newRow("backups with a port") << QStringList {"--backups", "--port", "/a"} << C::Invalid << QString();
        QTest::newRow("prune") << QStringList {"--prune-backups", "30"} << C::PruneBackups << "30";
        QTest::newRow("prune all") << QStringList {"--prune-backups", "0", "--all"} << C::PruneBackups << "0";
        QTest::newRow("prune negative") << QStringList {"--prune-backups", "-1"} << C::Invalid << QString();
        QTest::newRow("prune words") << QStringList {"--prune-backups", "many"} << C::Invalid << QString();
        QTest::newRow("restore") << QStringList {"--restore-backup", "12", "--port", "/a"} << C::RestoreBackup << "12";
        QTest::newRow("restore without port") << QStringList {"--restore-backup", "12"} << C::Invalid << QString();
        QTest::newRow("restore on two ports") << QStringList {"--restore-backup", "1", "--port", "/a", "--port", "/b"}
                                              << C::Invalid << QString();
        QTest::newRow("restore a file") << QStringList {"--restore-backup", "b.json", "--port", "/a"}
                                        << C::RestoreBackup << "b.json";
        QTest::newRow("restore number 0") << QStringList {"--restore-backup", "0", "--port", "/a"} << C::Invalid
                                          << QString();
        QTest::newRow("restore nothing") << QStringList {"--restore-backup", "", "--port", "/a"} << C::Invalid
                                         << QString();
        QTest::newRow("diff") << QStringList {"--diff-settings", "s.xml", "--port", "/a"} << C::DiffSettings << "s.xml";
        QTest::newRow("diff without port") << QStringList {"--diff-settings", "s.xml"} << C::Invalid << QString();
        QTest::newRow("diff with flash") << QStringList {"--diff-settings", "s.xml", "--port", "/a", "--flash", "f"}
                                         << C::Invalid << QString();
        QTest::newRow("two backup commands") << QStringList {"--backups", "--prune-backups", "1"} << C::Invalid
                                             << QString();
        QTest::newRow("stray argument elsewhere") << QStringList {"--list-ports", "777"} << C::Invalid << QString();
    }

    void backupCommands()
    {
        QFETCH(QStringList, arguments);
        QFETCH(CommandLineOptions::Command, command);
        QFETCH(QString, value);
        arguments.prepend(QStringLiteral("kordoman"));
        const CommandLineOptions options = CommandLine::parse(arguments);
        QCOMPARE(options.command, command);
        switch (command) {
        case CommandLineOptions::Command::Invalid:
            QVERIFY(!options.error.isEmpty());
            break;
        case CommandLineOptions::Command::ListBackups:
            QCOMPARE(options.backupSerial, value);
            break;
        case CommandLineOptions::Command::PruneBackups:
            QCOMPARE(QString::number(options.pruneDays), value);
            break;
        case CommandLineOptions::Command::RestoreBackup:
            QCOMPARE(options.restoreId > 0 ? QString::number(options.restoreId) : options.restoreFile, value);
            QCOMPARE(options.portSpecs, QStringList {QStringLiteral("/a")});
            break;
        default:
            QCOMPARE(options.diffFile, value);
            QCOMPARE(options.portSpecs, QStringList {QStringLiteral("/a")});
            break;
        }
    }

    // Each command with each of --json, --capture and --results-db: honoured where it means
    // something for the command, else refused (exit 2) naming the option, never dropped.
    void outputOptions_data()
    {
        using C = CommandLineOptions::Command;
        QTest::addColumn<QStringList>("command");
        QTest::addColumn<CommandLineOptions::Command>("parsed");
        QTest::addColumn<QString>("option");
        QTest::addColumn<bool>("honoured");
        struct Row
        {
            const char *name;
            QStringList arguments;
            C parsed;
            bool json, capture, resultsDb; // honoured
        };
        const QList<Row> rows {
            {"window", {}, C::RunWindow, false, true, false},
            {"--export-motors", {"--export-motors", "m.ms"}, C::ExportMotors, false, false, false},
            {"--import-motors", {"--import-motors", "m.ms"}, C::ImportMotors, false, false, false},
            {"--list-ports", {"--list-ports"}, C::ListPorts, true, false, false},
            {"--support-bundle", {"--support-bundle", "b.zip"}, C::SupportBundle, false, false, false},
            {"--flash", {"--flash", "f.bin", "--port", "/a"}, C::Flash, true, true, true},
            {"--settings", {"--settings", "s.xml", "--port", "/a"}, C::Production, true, true, true},
            {"--motor", {"--motor", "M", "--port", "/a"}, C::Production, true, true, true},
            {"--sync-results", {"--sync-results"}, C::SyncResults, false, false, true},
            {"--history", {"--history", "7"}, C::History, true, false, true},
            {"--backups", {"--backups"}, C::ListBackups, true, false, false},
            {"--prune-backups", {"--prune-backups", "30"}, C::PruneBackups, false, false, false},
            {"--restore-backup", {"--restore-backup", "12", "--port", "/a"}, C::RestoreBackup, true, true, false},
            {"--diff-settings", {"--diff-settings", "s.xml", "--port", "/a"}, C::DiffSettings, true, true, false},
            {"--decode", {"--decode", "c.pcap"}, C::Decode, false, false, false},
        };
        for (const Row &row : rows) {
            QTest::addRow("%s --json", row.name) << row.arguments << row.parsed << "--json" << row.json;
            QTest::addRow("%s --capture", row.name) << row.arguments << row.parsed << "--capture" << row.capture;
            QTest::addRow("%s --results-db", row.name) << row.arguments << row.parsed << "--results-db" << row.resultsDb;
        }
    }
    void outputOptions()
    {
        QFETCH(QStringList, command);
        QFETCH(CommandLineOptions::Command, parsed);
        QFETCH(QString, option);
        QFETCH(bool, honoured);
        const QString value = option == QLatin1String("--capture")      ? m_dir.filePath(QStringLiteral("line.pcap"))
                              : option == QLatin1String("--results-db") ? QStringLiteral("postgresql://kordo@db/line")
                                                                        : QString();
        QStringList arguments = command;
        arguments << option;
        if (!value.isEmpty())
            arguments << value;
        const CommandLineOptions options = CommandLine::parse(QStringList {"kordoman"} + arguments);
        if (honoured) {
            QVERIFY2(options.command == parsed, qPrintable(options.error));
            if (option == QLatin1String("--json"))
                QVERIFY(options.json);
            else if (option == QLatin1String("--capture"))
                QCOMPARE(options.captureFile, value);
            else
                QCOMPARE(options.resultsDb, value);
            return;
        }
        QCOMPARE(options.command, CommandLineOptions::Command::Invalid);
        QVERIFY2(options.error.contains(option), qPrintable(options.error));
        // The program itself: exit 2, the option named, nothing done.
        const Run run = runProgram(arguments);
        QCOMPARE(run.code, 2);
        QVERIFY2(run.err.contains(option), qPrintable(run.err));
        QVERIFY2(run.out.isEmpty(), qPrintable(run.out));
        if (option == QLatin1String("--capture"))
            QVERIFY(!QFile::exists(value));
    }

    // The options taken are honoured for real: a restore and a comparison record the line
    // when asked and speak JSON, the backups are listed as JSON, and a prune of everything
    // removes the backup files as well.
    void honouredOptionsTakeEffect()
    {
        const QString dataDir = m_dir.filePath(QStringLiteral("honoured"));
        const auto kordoman = [&dataDir](const QStringList &arguments) {
            QProcess process;
            process.start(QDir(qEnvironmentVariable("KORDO_BIN_DIR")).filePath(QStringLiteral("kordoman")),
                          QStringList {"--data-dir", dataDir} + arguments);
            if (!process.waitForFinished(60000)) {
                process.kill();
                process.waitForFinished();
                return Run {-1, QString(), QStringLiteral("did not finish")};
            }
            return Run {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
                        QString::fromUtf8(process.readAllStandardOutput()),
                        QString::fromUtf8(process.readAllStandardError())};
        };
        const auto jsonEvents = [](const QString &out) {
            QStringList events;
            for (const QString &line : out.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
                const QJsonDocument document = QJsonDocument::fromJson(line.toUtf8());
                events << (document.isObject() ? document.object().value(QStringLiteral("event")).toString()
                                               : QStringLiteral("not JSON: ") + line);
            }
            return events;
        };
        const auto requestsIn = [](const QString &capture) {
            QVector<LineCapture::Record> records;
            QString error;
            PcapReader::read(capture, &records, &error);
            QString requests;
            for (const LineCapture::Record &record : qAsConst(records))
                requests += LineDecoder::describe(record) + QLatin1Char('\n');
            return requests;
        };
        SimProcess sim({"--serial", "777"});
        QVERIFY(sim.isReady());
        QFile settings(m_dir.filePath(QStringLiteral("ttl.xml")));
        QVERIFY(settings.open(QIODevice::WriteOnly) && settings.write("<settings><motion><ttl>1500</ttl></motion></settings>") > 0);
        settings.close();
        // The settings write keeps the controller's own settings as backup 1.
        const Run written = kordoman({"--settings", settings.fileName(), "--port", sim.adapterPortSpec()});
        QVERIFY2(written.code == 0, qPrintable(written.out + written.err));

        const QString restoreCapture = m_dir.filePath(QStringLiteral("restore.pcap"));
        const Run restored = kordoman({"--restore-backup", "1", "--port", sim.adapterPortSpec(), "--capture",
                                       restoreCapture, "--json"});
        QVERIFY2(restored.code == 0, qPrintable(restored.out + restored.err));
        QVERIFY2(!jsonEvents(restored.out).isEmpty() && jsonEvents(restored.out).last() == QLatin1String("summary")
                     && jsonEvents(restored.out).filter(QStringLiteral("not JSON")).isEmpty(),
                 qPrintable(restored.out));
        QVERIFY2(requestsIn(restoreCapture).contains(QLatin1String("out frame WRITE_MOTION_PARAMS")),
                 qPrintable(requestsIn(restoreCapture)));

        const QString diffCapture = m_dir.filePath(QStringLiteral("diff.pcap"));
        const Run compared = kordoman({"--diff-settings", settings.fileName(), "--port", sim.adapterPortSpec(),
                                       "--capture", diffCapture, "--json"});
        QVERIFY2(compared.code == 1, qPrintable(compared.out + compared.err));
        QCOMPARE(jsonEvents(compared.out), (QStringList {"difference", "compared"}));
        QVERIFY2(compared.out.contains(QLatin1String("\"field\":\"ttl\"")), qPrintable(compared.out));
        QVERIFY2(requestsIn(diffCapture).contains(QLatin1String("out frame GET_MOTION_PARAMS")),
                 qPrintable(requestsIn(diffCapture)));

        // A backup the database could not take, kept as a file beside it.
        SettingsSnapshot inFile;
        inFile.serialNumber = QStringLiteral("777");
        inFile.time = QDateTime::currentDateTimeUtc().addDays(-1);
        inFile.motion = SET_MOTION_PARAMS().pack();
        QFile backupFile(QDir(dataDir).filePath(QStringLiteral("settings-backup-777-1.json")));
        QVERIFY(backupFile.open(QIODevice::WriteOnly) && backupFile.write(inFile.toFileText()) > 0);
        backupFile.close();
        const Run listed = kordoman({"--backups", "--json"});
        QCOMPARE(listed.code, 0);
        QCOMPARE(jsonEvents(listed.out), (QStringList {"backup", "backup", "backup"}));
        QVERIFY2(listed.out.contains(QLatin1String("\"file\":\"") + backupFile.fileName()), qPrintable(listed.out));

        const Run pruned = kordoman({"--prune-backups", "0", "--all"});
        QVERIFY2(pruned.code == 0, qPrintable(pruned.out + pruned.err));
        QVERIFY2(pruned.out.contains(QLatin1String("2 from the database, 1 backup files")), qPrintable(pruned.out));
        QVERIFY(!backupFile.exists());
        QCOMPARE(kordoman({"--backups", "--json"}).out, QString());
    }

    // What goes wrong is named for what it is.
    void faultsNamedForWhatTheyAre_data()
    {
        QTest::addColumn<QStringList>("arguments"); // LOOP, ABSENT and TTY stand for paths of the test
        QTest::addColumn<QString>("said");
        QTest::newRow("a link loop to decode") << QStringList {"--decode", "LOOP"} << "leads round in a loop";
        QTest::newRow("a backup file that does not exist")
            << QStringList {"--restore-backup", "ABSENT", "--port", "TTY"} << "neither a backup number nor a file that exists";
        QTest::newRow("a named port that does not exist") << QStringList {"--list-ports", "--port", "ABSENT"}
                                                          << "named with --port does not exist";
    }
    void faultsNamedForWhatTheyAre()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, said);
        QTemporaryDir dir;
        const QString loop = dir.filePath(QStringLiteral("loop"));
        QVERIFY(QFile::link(dir.filePath(QStringLiteral("round")), loop));
        QVERIFY(QFile::link(loop, dir.filePath(QStringLiteral("round"))));
        arguments.replaceInStrings(QStringLiteral("LOOP"), loop);
        arguments.replaceInStrings(QStringLiteral("ABSENT"), dir.filePath(QStringLiteral("abc")));
        arguments.replaceInStrings(QStringLiteral("TTY"), dir.filePath(QStringLiteral("tty")));
        const Run run = runProgram(arguments);
        QCOMPARE(run.code, 1);
        QVERIFY2(run.err.contains(said), qPrintable(run.err));
    }

    // One command a line: the second is refused, naming both, never silently dropped.
    void twoCommandsAreRefused_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::newRow("history and backups") << QStringList {"--history", "7", "--backups"};
        QTest::newRow("restore and diff") << QStringList {"--restore-backup", "1", "--diff-settings", "s.xml", "--port", "/a"};
        QTest::newRow("prune and sync") << QStringList {"--prune-backups", "3", "--sync-results"};
        QTest::newRow("decode and history") << QStringList {"--decode", "c.pcap", "--history", "7"};
        QTest::newRow("flash and backups") << QStringList {"--flash", "f.bin", "--backups"};
        QTest::newRow("list ports and sync") << QStringList {"--list-ports", "--sync-results"};
    }
    void twoCommandsAreRefused()
    {
        QFETCH(QStringList, arguments);
        const CommandLineOptions options = CommandLine::parse(QStringList {"kordoman"} + arguments);
        QCOMPARE(options.command, CommandLineOptions::Command::Invalid);
        int named = 0;
        for (const QString &argument : qAsConst(arguments))
            named += argument.startsWith(QLatin1String("--")) && argument != QLatin1String("--port")
                     && options.error.contains(argument);
        QVERIFY2(named == 2, qPrintable(options.error));
        QCOMPARE(runProgram(arguments).code, 2);
    }

    // --prune-backups 0 removes every backup: only with --all.
    void pruningEverythingNeedsAll_data()
    {
        using C = CommandLineOptions::Command;
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<CommandLineOptions::Command>("command");
        QTest::newRow("0 alone") << QStringList {"--prune-backups", "0"} << C::Invalid;
        QTest::newRow("0 with --all") << QStringList {"--prune-backups", "0", "--all"} << C::PruneBackups;
        QTest::newRow("--all with days") << QStringList {"--prune-backups", "5", "--all"} << C::Invalid;
        QTest::newRow("--all alone") << QStringList {"--all"} << C::Invalid;
    }
    void pruningEverythingNeedsAll()
    {
        QFETCH(QStringList, arguments);
        QFETCH(CommandLineOptions::Command, command);
        const CommandLineOptions options = CommandLine::parse(QStringList {"kordoman"} + arguments);
        QCOMPARE(options.command, command);
        if (command == CommandLineOptions::Command::Invalid)
            QVERIFY2(options.error.contains(QLatin1String("--all")), qPrintable(options.error));
        else
            QVERIFY(options.pruneAll);
    }

    void helpNamesEveryOption()
    {
        const CommandLineOptions options = CommandLine::parse({"kordoman", "--help"});
        for (const char *option : {"--demo", "--port", "--data-dir", "--export-motors", "--motor", "--import-motors",
                                   "--overwrite", "--flash", "--version", "--list-ports", "--support-bundle",
                                   "--settings", "--report", "--all-adapters", "--results-db", "--sync-results",
                                   "--history", "--json", "--backups", "--prune-backups", "--restore-backup",
                                   "--diff-settings", "--all", "--capture", "--decode"})
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
        // A command that talks to no controller makes no capture: refused, no file made.
        const QString capture = m_dir.filePath(QStringLiteral("program.pcap"));
        QCOMPARE(run({"--export-motors", file, "--capture", capture}, &out, &err), 2);
        QVERIFY2(err.contains("--capture"), err.constData());
        QVERIFY(!QFile::exists(capture));
        // One that may talk to a controller writes a whole (empty) capture even when it stops early.
        QCOMPARE(run({"--flash", m_dir.filePath(QStringLiteral("absent.bin")), "--port", m_dir.filePath("tty"), "--capture",
                      capture},
                     &out, &err),
                 1);
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
        QTest::addColumn<bool>("unusableDataDirectory"); // its box shown before the window
        QTest::newRow("SIGTERM") << SIGTERM << false;
        QTest::newRow("SIGINT") << SIGINT << false;
        QTest::newRow("SIGHUP") << SIGHUP << false;
        QTest::newRow("SIGTERM, the data directory's box open") << SIGTERM << true;
    }

    // Whether the process has a handler of its own for the signal (Linux).
    static bool catchesSignal(qint64 pid, int signalNumber)
    {
        QFile status(QStringLiteral("/proc/%1/status").arg(pid));
        if (!status.open(QIODevice::ReadOnly))
            return false;
        for (const QByteArray &line : status.readAll().split('\n')) {
            if (line.startsWith("SigCgt:"))
                return (line.mid(7).trimmed().toULongLong(nullptr, 16) >> (signalNumber - 1)) & 1u;
        }
        return false;
    }

    void programClosesOnTerminatingSignals()
    {
        QFETCH(int, signalNumber);
        QFETCH(bool, unusableDataDirectory);
        const QString program = QDir(qEnvironmentVariable("KORDO_BIN_DIR")).filePath(QStringLiteral("kordoman"));
        const QString trace = m_dir.filePath(QStringLiteral("signal-%1%2.trace").arg(signalNumber).arg(unusableDataDirectory));
        SimProcess sim({QStringLiteral("--trace"), trace});
        QVERIFY(sim.isReady());
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        QString dataDirectory = m_dir.filePath(QStringLiteral("signals"));
        if (unusableDataDirectory) { // below a regular file: it cannot be made
            QFile blocker(m_dir.filePath(QStringLiteral("blocker")));
            QVERIFY(blocker.open(QIODevice::WriteOnly));
            dataDirectory = blocker.fileName() + QStringLiteral("/data");
        }
        QProcess process;
        process.setProcessEnvironment(env);
        process.start(program, {"--data-dir", dataDirectory, "--port", sim.adapterPortSpec()});
        QVERIFY(process.waitForStarted(30000));
        if (unusableDataDirectory) {
            // The program hears the signal; its box, shown before the window, is open now or
            // soon (either way the signal must end the program).
            QTRY_VERIFY_WITH_TIMEOUT(catchesSignal(process.processId(), signalNumber), 30000);
            QTest::qWait(1000);
        } else {
            // Talking to the controller: the event loop runs.
            QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(trace).size() > 0, 60000);
        }
        QCOMPARE(::kill(pid_t(process.processId()), signalNumber), 0);
        QVERIFY(process.waitForFinished(60000));
        QCOMPARE(process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(process.exitCode(), 0);
    }

    // The same with the motor running: the window program (started as kordoman starts it,
    // a scripted user enabling control at 30 %) gets the signal; the controller's last
    // request carries control off and duty 0, nothing above 30 % was ever sent, and the
    // program ends normally.
    void runningMotorStopsOnTerminatingSignals_data()
    {
        QTest::addColumn<int>("signalNumber");
        QTest::addColumn<bool>("withBox"); // a message box open, another message waiting behind it
        QTest::newRow("SIGTERM") << SIGTERM << false;
        QTest::newRow("SIGINT") << SIGINT << false;
        QTest::newRow("SIGHUP") << SIGHUP << false;
        QTest::newRow("SIGTERM, a message box open") << SIGTERM << true;
    }

    void runningMotorStopsOnTerminatingSignals()
    {
        QFETCH(int, signalNumber);
        QFETCH(bool, withBox);
        constexpr int RUNNING = 30;
        // The duty commands the controller received, in order, from its trace.
        const auto received = [](const QString &tracePath) {
            QVector<DutyCommand> commands;
            QFile trace(tracePath);
            if (!trace.open(QIODevice::ReadOnly))
                return commands;
            for (const QByteArray &line : trace.readAll().split('\n')) {
                const int at = line.indexOf(" in  ");
                const VYX_Protocol::VYX_MSG msg = at < 0 ? VYX_Protocol::VYX_MSG()
                                                         : decodeFrame(QByteArray::fromHex(line.mid(at + 5).trimmed()));
                if (at >= 0 && msg.msgId == VyxMsg::TELEMETRY)
                    commands.append(DutyCommand::decode(msg.payloadBytes()));
            }
            return commands;
        };
        const QString name = QStringLiteral("running-%1%2").arg(signalNumber).arg(withBox ? "-box" : "");
        const QString trace = m_dir.filePath(name + QStringLiteral(".trace"));
        SimProcess sim({QStringLiteral("--trace"), trace});
        QVERIFY(sim.isReady());
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        QProcess process;
        process.setProcessEnvironment(env);
        QStringList arguments {sim.adapterPortSpec(), m_dir.filePath(name), QString::number(RUNNING)};
        if (withBox)
            arguments << QStringLiteral("box");
        process.start(QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("kordo_scripted_window")),
                      arguments);
        QVERIFY(process.waitForStarted(30000));
        // The page shows the motor turning, and the controller has received the running duty.
        QByteArray out;
        QTRY_VERIFY_WITH_TIMEOUT((out += process.readAllStandardOutput(), out.contains("running")), 90000);
        const DutyCommand running {true, DutyCommand::dutyFromPercent(RUNNING)};
        QTRY_VERIFY_WITH_TIMEOUT(received(trace).size() >= 2 && received(trace).last().enable
                                     && received(trace).last().duty == running.duty,
                                 30000);

        QCOMPARE(::kill(pid_t(process.processId()), signalNumber), 0);
        QVERIFY(process.waitForFinished(60000));
        const QVector<DutyCommand> commands = received(trace);
        QVERIFY(!commands.isEmpty());
        for (const DutyCommand &sent : commands)
            QVERIFY2(!sent.enable || std::abs(sent.duty) <= running.duty, qPrintable(QString::number(sent.duty)));
        QVERIFY(!commands.last().enable);
        QCOMPARE(commands.last().duty, int16_t(0));
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
