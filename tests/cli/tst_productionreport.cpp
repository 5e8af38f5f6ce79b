#include "cli/productionline.h"

#include <QTemporaryDir>
#include <QtTest>

// The summary of a production run as the line worker and a spreadsheet read it.
class TestProductionReport : public QObject
{
    Q_OBJECT

    static QList<PortOutcome> outcomes()
    {
        PortOutcome ok;
        ok.port = QStringLiteral("/dev/ttyUSB0");
        ok.serialNumber = QStringLiteral("1001");
        ok.firmwareBefore = QStringLiteral("1.2.3");
        ok.firmwareAfter = QStringLiteral("1.3.0");
        ok.success = true;
        ok.result = QStringLiteral("OK");
        ok.milliseconds = 4260;
        PortOutcome failed;
        failed.port = QStringLiteral("ttyUSB1");
        failed.firmwareBefore = QStringLiteral("bootloader");
        failed.result = QStringLiteral("Said \"no\", twice");
        failed.advice = QStringLiteral("re-run, then look");
        failed.milliseconds = 60;
        return {ok, failed};
    }

    static PortInfo port(const char *name, const char *serial)
    {
        PortInfo info;
        info.portName = QLatin1String(name);
        info.serialNumber = QLatin1String(serial);
        return info;
    }

private slots:
    void portsToWorkOn_data()
    {
        QTest::addColumn<QList<PortInfo>>("named");
        QTest::addColumn<bool>("allAdapters");
        QTest::addColumn<QStringList>("expected");
        const QList<PortInfo> none;
        const QList<PortInfo> twoNamed {port("ttyB", "AE02"), port("ttyX", "")};
        QTest::newRow("named only") << twoNamed << false << QStringList {"ttyB", "ttyX"};
        QTest::newRow("every adapter, none named") << none << true << QStringList {"ttyA", "ttyB", "ttyC"};
        QTest::newRow("named first, then the other adapters once")
            << twoNamed << true << QStringList {"ttyB", "ttyX", "ttyA", "ttyC"};
        QTest::newRow("nothing asked") << none << false << QStringList {};
    }

    // Only the maker's adapters (serial numbers starting with AE, case-sensitively) join.
    void portsToWorkOn()
    {
        QFETCH(QList<PortInfo>, named);
        QFETCH(bool, allAdapters);
        QFETCH(QStringList, expected);
        const QList<PortInfo> present {port("ttyA", "AE01"), port("ttyS0", ""), port("ttyB", "AE02"),
                                       port("ttyUSB9", "ae03"), port("ttyC", "AE04")};
        QStringList names;
        for (const PortInfo &info : ProductionLine::portsToWorkOn(named, present, allAdapters))
            names << info.portName;
        QCOMPARE(names, expected);
    }

    // One device named twice (a link beside its device file, or present as the machine's
    // port as well): worked on once, under the name given first.
    void oneDeviceNamedTwiceIsWorkedOnOnce_data()
    {
        QTest::addColumn<QStringList>("named"); // relative to a folder holding "tty1" and "by-id/link" to it
        QTest::addColumn<bool>("allAdapters");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("link, then the file") << QStringList {"by-id/link", "tty1"} << false << QStringList {"by-id/link"};
        QTest::newRow("the file, then the link") << QStringList {"tty1", "by-id/link"} << false << QStringList {"tty1"};
        QTest::newRow("the link beside every adapter") << QStringList {"by-id/link"} << true
                                                        << QStringList {"by-id/link"};
    }
    void oneDeviceNamedTwiceIsWorkedOnOnce()
    {
        QFETCH(QStringList, named);
        QFETCH(bool, allAdapters);
        QFETCH(QStringList, expected);
        QTemporaryDir dir;
        QFile device(dir.filePath(QStringLiteral("tty1")));
        QVERIFY(device.open(QIODevice::WriteOnly));
        QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("by-id")));
        QVERIFY(QFile::link(device.fileName(), dir.filePath(QStringLiteral("by-id/link"))));
        QList<PortInfo> namedPorts;
        for (const QString &name : named) {
            PortInfo info;
            info.portName = info.systemLocation = dir.filePath(name);
            info.serialNumber = QStringLiteral("AE01");
            namedPorts << info;
        }
        // The machine lists the device under its short name.
        PortInfo machine = port("tty1", "AE01");
        machine.systemLocation = device.fileName();
        QStringList names;
        for (const PortInfo &info : ProductionLine::portsToWorkOn(namedPorts, {machine}, allAdapters))
            names << QDir(dir.path()).relativeFilePath(info.portName);
        QCOMPARE(names, expected);
    }

    // Port and serial number as each port found its controller; empty: in its bootloader.
    void sameControllerTwice_data()
    {
        QTest::addColumn<QStringList>("heard"); // port=serial
        QTest::addColumn<QString>("refusal");
        const QString twice = QStringLiteral("The controller %1 answers on the ports %2 and %3: the run is refused "
                                             "and nothing was written.");
        QTest::newRow("all different") << QStringList {"A=1", "B=2", "C=3"} << QString();
        QTest::newRow("two in their bootloaders") << QStringList {"A=", "B=", "C=3"} << QString();
        QTest::newRow("one serial on two ports") << QStringList {"A=1", "B=2", "C=1"} << twice.arg("1", "A", "C");
        QTest::newRow("the first pair named") << QStringList {"A=5", "B=7", "C=7", "D=5"} << twice.arg("5", "A", "D");
    }

    void sameControllerTwice()
    {
        QFETCH(QStringList, heard);
        QList<QPair<QString, QString>> serials;
        for (const QString &entry : qAsConst(heard))
            serials.append({entry.section(QLatin1Char('='), 0, 0), entry.section(QLatin1Char('='), 1)});
        QTEST(ProductionLine::sameControllerTwice(serials), "refusal");
    }

    void csvQuotesWhatNeedsIt()
    {
        QCOMPARE(ProductionLine::csv(outcomes()),
                 QByteArray("port,serial,firmware_before,firmware_after,result,reason,time_s,what_to_do\n"
                            "/dev/ttyUSB0,1001,1.2.3,1.3.0,ok,,4.3,\n"
                            "ttyUSB1,,bootloader,,failed,\"Said \"\"no\"\", twice\",0.1,\"re-run, then look\"\n"));
    }

    // A carriage return splits a row as a line feed does: the field is quoted.
    void csvQuotesACarriageReturn()
    {
        PortOutcome outcome;
        outcome.port = QStringLiteral("ttyUSB2");
        outcome.result = QStringLiteral("first\rsecond");
        QCOMPARE(ProductionLine::csv({outcome}).split('\n').value(1),
                 QByteArray("ttyUSB2,,,,failed,\"first\rsecond\",0.0,"));
    }

    void tableColumnsLineUp()
    {
        const QStringList lines = ProductionLine::table(outcomes()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 3);
        const int resultColumn = lines[0].indexOf(QLatin1String("Result"));
        QCOMPARE(lines[1].indexOf(QLatin1String("OK")), resultColumn);
        QCOMPARE(lines[2].indexOf(QLatin1String("Said")), resultColumn);
        QVERIFY(lines[2].endsWith(QLatin1String("re-run, then look")));
    }

    // The exit status once the results are recorded: a failed port stays a failure wherever
    // its results went; a good run whose results wait in the outbox says so with 3; results
    // that went nowhere fail the run.
    void exitStatusWithResults_data()
    {
        QTest::addColumn<int>("run");
        QTest::addColumn<int>("status");
        QTest::addColumn<int>("expected");
        const int recorded = int(ResultsRecorder::Status::Recorded);
        const int outbox = int(ResultsRecorder::Status::InOutbox);
        const int lost = int(ResultsRecorder::Status::Lost);
        QTest::newRow("good, recorded") << 0 << recorded << 0;
        QTest::newRow("good, in the outbox") << 0 << outbox << ResultsRecorder::EXIT_RESULTS_WAITING;
        QTest::newRow("good, lost") << 0 << lost << 1;
        QTest::newRow("failed, recorded") << 1 << recorded << 1;
        QTest::newRow("failed, in the outbox") << 1 << outbox << 1;
        QTest::newRow("failed, lost") << 1 << lost << 1;
    }
    void exitStatusWithResults()
    {
        QFETCH(int, run);
        QFETCH(int, status);
        QTEST(ProductionRecording::exitStatus(run, ResultsRecorder::Status(status)), "expected");
    }

    // A row of the table as the results database keeps it.
    void resultRecordOfAPort()
    {
        const QList<PortOutcome> rows = outcomes();
        const QDateTime started = QDateTime::fromString(QStringLiteral("2026-05-04T10:00:00.000Z"), Qt::ISODateWithMs);
        const QStringList fields {QStringLiteral("dead_zone"), QStringLiteral("ttl")};
        const ResultRecord ok = ProductionRecording::resultOf(rows[0], started, fields);
        QCOMPARE(ok.port, rows[0].port);
        QCOMPARE(ok.serial, QStringLiteral("1001"));
        QCOMPARE(ok.firmwareBefore, QStringLiteral("1.2.3"));
        QCOMPARE(ok.firmwareAfter, QStringLiteral("1.3.0"));
        QVERIFY(ok.success);
        QCOMPARE(ok.reason, QString()); // "OK" is no reason
        QCOMPARE(ok.milliseconds, 4260);
        QCOMPARE(ok.finished, started.addMSecs(4260));
        QCOMPARE(ok.settingsFields, fields);
        const ResultRecord failed = ProductionRecording::resultOf(rows[1], started, fields);
        QVERIFY(!failed.success);
        QCOMPARE(failed.reason, rows[1].result);
        QCOMPARE(failed.advice, rows[1].advice);
        QCOMPARE(failed.serial, QString());
    }
};

QTEST_GUILESS_MAIN(TestProductionReport)
#include "tst_productionreport.moc"
