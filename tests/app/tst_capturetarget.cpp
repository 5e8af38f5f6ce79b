#include "app/capturetarget.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>

// Where --capture may write: never over the command's own files, the program's stores or a
// file that is no line capture, whatever links lead there.
class TestCaptureTarget : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;

    QString path(const QString &name) const { return m_dir.filePath(name); }

    bool writeFile(const QString &name, const QByteArray &content) const
    {
        QDir().mkpath(QFileInfo(path(name)).absolutePath());
        QFile file(path(name));
        return file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
    }

    // A pcap file header of the line's link type (147), little-endian, with no record.
    static QByteArray lineCapture()
    {
        return QByteArray::fromHex("d4c3b2a1" "02000400" "00000000" "00000000" "ffff0000" "93000000");
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        // The data directory with its stores, the command's own files, and other files.
        QVERIFY(writeFile(QStringLiteral("data/Kordo_Db/Kordo_data.db"), "SQLite format 3"));
        QVERIFY(writeFile(QStringLiteral("data/Kordo_Logs/1ah5_2026_01_01_00_00_00.log"), "N 0, T 00:00:00, M Date\n"));
        QVERIFY(writeFile(QStringLiteral("data/kordoman.ini"), "[General]\n"));
        QVERIFY(writeFile(QStringLiteral("data/settings-backup-1-20260101-000000.json"), "{}"));
        QVERIFY(writeFile(QStringLiteral("fw.bin"), QByteArray(4096, '\x5a')));
        QVERIFY(writeFile(QStringLiteral("old.pcap"), lineCapture()));
        QVERIFY(writeFile(QStringLiteral("notes.txt"), "my notes\n"));
        QVERIFY(writeFile(QStringLiteral("ethernet.pcap"), lineCapture().replace(20, 1, "\x01")));
        QVERIFY(QFile::link(path(QStringLiteral("fw.bin")), path(QStringLiteral("fw-link.pcap"))));
        QVERIFY(QFile::link(path(QStringLiteral("data/Kordo_Db")), path(QStringLiteral("db-link"))));
        QVERIFY(QFile::link(path(QStringLiteral("data/Kordo_Logs/new.pcap")), path(QStringLiteral("dangling.pcap"))));
        QVERIFY(QFile::link(path(QStringLiteral("old.pcap")), path(QStringLiteral("capture-link.pcap"))));
        QCOMPARE(::mkfifo(QFile::encodeName(path(QStringLiteral("fifo.pcap"))).constData(), 0600), 0);
    }

    void targets_data()
    {
        QTest::addColumn<QString>("target");
        QTest::addColumn<QString>("refusal"); // a part of the reason; empty: accepted
        QTest::newRow("new file") << "new.pcap" << "";
        QTest::newRow("earlier line capture") << "old.pcap" << "";
        QTest::newRow("link to a line capture") << "capture-link.pcap" << "";
        QTest::newRow("the firmware image of the command") << "fw.bin" << "also named as another file";
        QTest::newRow("a link to the firmware image") << "fw-link.pcap" << "also named as another file";
        QTest::newRow("the motor database") << "data/Kordo_Db/Kordo_data.db" << "of the program's own";
        QTest::newRow("the motor database through a linked folder") << "db-link/Kordo_data.db" << "of the program's own";
        QTest::newRow("a new file among the logs") << "data/Kordo_Logs/new.pcap" << "of the program's own";
        QTest::newRow("a dangling link into the logs") << "dangling.pcap" << "of the program's own";
        QTest::newRow("the program's settings") << "data/kordoman.ini" << "of the program's own";
        QTest::newRow("a settings backup file") << "data/settings-backup-1-20260101-000000.json" << "of the program's own";
        QTest::newRow("a text file") << "notes.txt" << "is not a line capture";
        QTest::newRow("a capture of another link type") << "ethernet.pcap" << "is not a line capture";
        QTest::newRow("a FIFO") << "fifo.pcap" << "not a regular file";
    }

    void targets()
    {
        QFETCH(QString, target);
        QFETCH(QString, refusal);
        const QString problem =
            CaptureTarget::problem(path(target), {path(QStringLiteral("fw.bin"))}, path(QStringLiteral("data")));
        if (refusal.isEmpty())
            QVERIFY2(problem.isEmpty(), qPrintable(problem));
        else
            QVERIFY2(problem.contains(refusal), qPrintable(problem));
    }

    // The program checks before anything else: the database named as the capture stays as
    // it was, and the run ends at once with the reason.
    void programRefusesBeforeTouchingAnything()
    {
        const QString database = path(QStringLiteral("data/Kordo_Db/Kordo_data.db"));
        const QString binDir = qEnvironmentVariable("KORDO_BIN_DIR", QStringLiteral(KORDO_DEFAULT_BIN_DIR));
        QProcess program;
        program.start(QDir(binDir).filePath(QStringLiteral("kordoman")),
                      {"--flash", path(QStringLiteral("fw.bin")), "--port", path(QStringLiteral("no-such-port")),
                       "--data-dir", path(QStringLiteral("data")), "--capture", database});
        QVERIFY(program.waitForFinished(60000));
        QCOMPARE(program.exitCode(), 1);
        QVERIFY2(program.readAllStandardError().contains("of the program's own"), "no reason given");
        QFile file(database);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), QByteArray("SQLite format 3"));
    }
};

QTEST_MAIN(TestCaptureTarget)
#include "tst_capturetarget.moc"
