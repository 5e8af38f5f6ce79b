#include "recording/samplecsv.h"
#include "recording/storagebackworker.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

namespace {

constexpr qint64 START_MS = 1764915000000; // an arbitrary fixed "now"

ONLINE_QUANTS_S sampleNumber(int n)
{
    ONLINE_QUANTS_S sample;
    sample.Speed = float(n);
    sample.Temp = int16_t(n % 100);
    sample.Vbus = 48; // not recorded
    return sample;
}

QStringList readLines(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {QStringLiteral("<cannot open %1>").arg(path)};
    return QString::fromLatin1(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

QStringList csvFiles(const QString &dir)
{
    return QDir(dir).entryList({QStringLiteral("*.csv")}, QDir::Files, QDir::Name);
}

// A worker whose clock advances one millisecond per reading.
struct Recorder
{
    explicit Recorder(const QString &dir)
        : worker(dir)
    {
        worker.setClock([this] { return now++; });
    }
    void add(int from, int to)
    {
        for (int n = from; n < to; ++n)
            worker.addSample(sampleNumber(n));
    }

    qint64 now = START_MS;
    StorageBackWorker worker;
};

const QString HEADER = QStringLiteral("Time,Speed,Torque,Is,Vs,Power,Temp ");

} // namespace

class TestStorageBackWorker : public QObject
{
    Q_OBJECT

private slots:
    void sampleLine_data()
    {
        QTest::addColumn<float>("speed");
        QTest::addColumn<float>("torque");
        QTest::addColumn<float>("power");
        QTest::addColumn<int>("temp");
        QTest::addColumn<QByteArray>("line");

        QTest::newRow("plain") << 1234.5f << 0.25f << 100.0f << 25 << QByteArray("1700000000123,1234.5,0.25,3.5,12.1,100,25\n");
        QTest::newRow("negative temp") << 0.0f << -1.5f << 0.0f << -31 << QByteArray("1700000000123,0,-1.5,3.5,12.1,0,-31\n");
        QTest::newRow("exponent form") << 1234567.0f << 0.1f << 2.0f << 0 << QByteArray("1700000000123,1.23457e+06,0.1,3.5,12.1,2,0\n");
        QTest::newRow("six digits") << 123456.7f << 0.001f << 8191.0f << 96 << QByteArray("1700000000123,123457,0.001,3.5,12.1,8191,96\n");
    }

    void sampleLine()
    {
        QFETCH(float, speed);
        QFETCH(float, torque);
        QFETCH(float, power);
        QFETCH(int, temp);
        QFETCH(QByteArray, line);

        ONLINE_QUANTS_S sample;
        sample.Speed = speed;
        sample.Torque = torque;
        sample.Is = 3.5f;
        sample.Vs = 12.1f;
        sample.Power = power;
        sample.Temp = int16_t(temp);
        sample.Vbus = 48;
        sample.Rs = 0.5f;
        sample.Flux = 0.25f;
        sample.PWm_in_us = 1500;
        QCOMPARE(SampleCsv::line(1700000000123, sample), line);
        QCOMPARE(SampleCsv::header(), QByteArray("Time,Speed,Torque,Is,Vs,Power,Temp \n"));
    }

    void writesFullBatchesOnly()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        Recorder rec(dir.path());

        rec.add(0, 299);
        QVERIFY(csvFiles(dir.path()).isEmpty());

        rec.add(299, 300);
        const QString path = rec.worker.currentFilePath();
        // The file name takes the time of the first sample; the first sample arrives 1 ms later.
        QCOMPARE(QFileInfo(path).fileName(), QStringLiteral("samples_%1.csv").arg(START_MS));
        QStringList lines = readLines(path);
        QCOMPARE(lines.size(), 301);
        QCOMPARE(lines.first(), HEADER);
        QCOMPARE(lines.at(1), QStringLiteral("%1,0,0,0,0,0,0").arg(START_MS + 1));
        QCOMPARE(lines.last(), QStringLiteral("%1,299,0,0,0,0,99").arg(START_MS + 300));

        // The 301st sample goes to the other buffer and waits there.
        rec.add(300, 301);
        QCOMPARE(readLines(path).size(), 301);

        // The second batch is appended without a second header.
        rec.add(301, 600);
        lines = readLines(path);
        QCOMPARE(lines.size(), 601);
        QCOMPARE(lines.count(HEADER), 1);
        QCOMPARE(lines.at(301), QStringLiteral("%1,300,0,0,0,0,0").arg(START_MS + 301));
        QCOMPARE(lines.last(), QStringLiteral("%1,599,0,0,0,0,99").arg(START_MS + 600));
        QCOMPARE(csvFiles(dir.path()).size(), 1);
    }

    void changeFileStartsNewFileWithHeader()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        StorageBackWorker worker(dir.path());
        worker.setClock([] { return START_MS; }); // every reading in the same millisecond

        for (int n = 0; n < 300; ++n)
            worker.addSample(sampleNumber(n));
        const QString first = worker.currentFilePath();
        worker.changeFile();
        for (int n = 1000; n < 1300; ++n)
            worker.addSample(sampleNumber(n));
        const QString second = worker.currentFilePath();

        QVERIFY(first != second);
        const QStringList firstLines = readLines(first);
        const QStringList secondLines = readLines(second);
        QCOMPARE(firstLines.size(), 301);
        QCOMPARE(firstLines.last(), QStringLiteral("%1,299,0,0,0,0,99").arg(START_MS));
        QCOMPARE(secondLines.size(), 301);
        QCOMPARE(secondLines.first(), HEADER);
        QCOMPARE(secondLines.at(1), QStringLiteral("%1,1000,0,0,0,0,0").arg(START_MS));
    }

    void changeFileWritesPreviousSessionToItsOwnFile()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        Recorder rec(dir.path());

        rec.add(0, 10);
        const QString first = rec.worker.currentFilePath();
        rec.worker.changeFile();
        rec.add(10, 300);

        QCOMPARE(readLines(first).size(), 11);
        QCOMPARE(readLines(first).last(), QStringLiteral("%1,9,0,0,0,0,9").arg(START_MS + 10));
        QVERIFY(!QFile::exists(rec.worker.currentFilePath())); // 290 samples still buffered
    }

    void bufferedSamplesWrittenWhenWorkerEnds()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        {
            Recorder rec(dir.path());
            rec.add(0, 305); // one full batch written, five buffered
        }
        const QStringList files = csvFiles(dir.path());
        QCOMPARE(files.size(), 1);
        const QStringList lines = readLines(dir.filePath(files.first()));
        QCOMPARE(lines.size(), 306);
        QCOMPARE(lines.last(), QStringLiteral("%1,304,0,0,0,0,4").arg(START_MS + 305));
    }

    // As the coordinator runs it: own thread, queued calls, deleted when the thread finishes.
    void bufferedSamplesWrittenWhenThreadStops()
    {
        qRegisterMetaType<ONLINE_QUANTS_S>("ONLINE_QUANTS_S");
        QTemporaryDir dir;
        QVERIFY(dir.isValid());

        QThread thread;
        auto *worker = new StorageBackWorker(dir.path());
        worker->moveToThread(&thread);
        connect(&thread, &QThread::finished, worker, &QObject::deleteLater);
        thread.start();
        for (int n = 0; n < 7; ++n)
            QMetaObject::invokeMethod(worker, "addSample", Qt::QueuedConnection,
                                      Q_ARG(ONLINE_QUANTS_S, sampleNumber(n)));
        thread.quit();
        QVERIFY(thread.wait(30000));

        const QStringList files = csvFiles(dir.path());
        QCOMPARE(files.size(), 1);
        const QStringList lines = readLines(dir.filePath(files.first()));
        QCOMPARE(lines.size(), 8);
        QVERIFY(lines.last().endsWith(QStringLiteral(",6,0,0,0,0,6")));
    }

    void unwritableFileIsReported_data()
    {
        QTest::addColumn<QString>("obstacle"); // "dir": sample directory is a file; "file": file name is a directory
        QTest::addColumn<QString>("named");    // the path the message must name: "dir" or "file"
        QTest::newRow("directory is a regular file") << "dir" << "dir";
        QTest::newRow("file name taken by a directory") << "file" << "file";
        QTest::newRow("relative directory") << "relative" << "";
    }

    void unwritableFileIsReported()
    {
        QFETCH(QString, obstacle);
        QFETCH(QString, named);
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        QString sampleDir = dir.filePath(QStringLiteral("Kordo_Samples"));
        const QString sampleFile = sampleDir + QStringLiteral("/samples_%1.csv").arg(START_MS);
        if (obstacle == QLatin1String("dir")) {
            QFile blocker(sampleDir);
            QVERIFY(blocker.open(QIODevice::WriteOnly));
        } else if (obstacle == QLatin1String("file")) {
            QVERIFY(QDir().mkpath(sampleFile));
        } else {
            sampleDir = QStringLiteral("Kordo_Samples");
        }

        Recorder rec(sampleDir);
        QSignalSpy reports(&rec.worker, &StorageBackWorker::sendTextForMsgBox);
        rec.add(0, 300);

        QCOMPARE(reports.count(), 1);
        const QString text = reports.at(0).at(0).toString();
        QVERIFY2(text.startsWith(QStringLiteral("300 of 300 ")), qPrintable(text));
        // The path at fault: the directory that is a file, or the file that cannot be made.
        if (named == QLatin1String("dir"))
            QVERIFY2(text.contains(QDir::toNativeSeparators(sampleDir) + QStringLiteral(" is not a directory")),
                     qPrintable(text));
        else if (named == QLatin1String("file"))
            QVERIFY2(text.contains(QDir::toNativeSeparators(sampleFile)), qPrintable(text));
        QCOMPARE(reports.at(0).at(1).toBool(), true); // a message box, not a passing info line
        QVERIFY(!QFileInfo::exists(QStringLiteral("Kordo_Samples"))); // nothing beside the working directory
    }

    // A disk that fills in the middle of a batch: the file keeps whole lines only, and the
    // message says how many samples of the batch were lost.
    void fullDiskLeavesWholeLinesOnly_data()
    {
        QTest::addColumn<int>("earlierBatches");  // written whole before the failing one
        QTest::addColumn<int>("linesThatFit");    // whole lines of the failing write that reach the disk
        QTest::addColumn<int>("extraBytes");      // and bytes of the next line
        QTest::addColumn<int>("lost");
        QTest::newRow("torn in the middle of line 101") << 0 << 101 << 7 << 200;  // header + 100 samples
        QTest::newRow("stops right after a line") << 0 << 51 << 0 << 250;
        QTest::newRow("torn inside the header") << 0 << 0 << 12 << 300;
        QTest::newRow("nothing written") << 0 << 0 << 0 << 300;
        QTest::newRow("second batch torn in line 5") << 1 << 4 << 3 << 296;
    }

    void fullDiskLeavesWholeLinesOnly()
    {
        QFETCH(int, earlierBatches);
        QFETCH(int, linesThatFit);
        QFETCH(int, extraBytes);
        QFETCH(int, lost);
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        Recorder rec(dir.path());
        QSignalSpy reports(&rec.worker, &StorageBackWorker::sendTextForMsgBox);
        rec.add(0, StorageBackWorker::BATCH_SIZE * earlierBatches);
        QCOMPARE(reports.count(), 0);

        // The disk takes what fits, then fails (as write() does on ENOSPC).
        rec.worker.setWriteFunction([&](QFile &file, const QByteArray &text) -> qint64 {
            int fits = 0;
            for (int line = 0; line < linesThatFit; ++line)
                fits = text.indexOf('\n', fits) + 1;
            fits += extraBytes;
            file.write(text.left(fits));
            return -1;
        });
        const int first = StorageBackWorker::BATCH_SIZE * earlierBatches;
        rec.add(first, first + StorageBackWorker::BATCH_SIZE);

        QCOMPARE(reports.count(), 1);
        const QString text = reports.at(0).at(0).toString();
        QVERIFY2(text.startsWith(QStringLiteral("%1 of 300 telemetry samples were lost").arg(lost)), qPrintable(text));
        QCOMPARE(reports.at(0).at(1).toBool(), true);

        const QString path = rec.worker.currentFilePath();
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray content = file.readAll();
        const int kept = first + StorageBackWorker::BATCH_SIZE - lost;
        if (kept == 0) {
            QVERIFY2(content.isEmpty(), content.left(80).constData());
            return;
        }
        QVERIFY(content.endsWith('\n'));
        const QStringList lines = QString::fromLatin1(content).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 1 + kept);
        QCOMPARE(lines.first(), HEADER);
        for (int i = 1; i < lines.size(); ++i) // every line whole: seven fields, its own sample
            QVERIFY2(lines[i].split(QLatin1Char(',')).size() == 7
                         && lines[i].endsWith(QStringLiteral(",%1").arg((i - 1) % 100)),
                     qPrintable(lines[i]));
    }
};

QTEST_GUILESS_MAIN(TestStorageBackWorker)
#include "tst_storagebackworker.moc"
