#include "recording/logbackworker.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

namespace {

QString readText(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return QStringLiteral("<cannot open %1>").arg(path);
    return QString::fromUtf8(file.readAll());
}

} // namespace

class TestLogBackWorker : public QObject
{
    Q_OBJECT

    const QDateTime m_created{QDate(2026, 12, 5), QTime(6, 10, 0)};

private slots:
    void initTestCase()
    {
        qRegisterMetaType<uint8_t>("uint8_t");
    }

    void fileNameCarriesSerialInBase20_data()
    {
        QTest::addColumn<uint>("serial");
        QTest::addColumn<QString>("fileName");

        QTest::newRow("12345") << 12345u << "1ah5_2026_12_05_06_10_00.log";
        QTest::newRow("20") << 20u << "10_2026_12_05_06_10_00.log";
        QTest::newRow("19 is the last digit j") << 19u << "j_2026_12_05_06_10_00.log";
        QTest::newRow("largest serial") << 0xFFFFFFFFu << "3723ai4f_2026_12_05_06_10_00.log";
    }

    void fileNameCarriesSerialInBase20()
    {
        QFETCH(uint, serial);
        QFETCH(QString, fileName);
        QTemporaryDir dir;
        QVERIFY(dir.isValid());

        LogBackWorker worker;
        worker.setClock([this] { return m_created; });
        QSignalSpy states(&worker, &LogBackWorker::fileState);
        worker.createFile(dir.path(), LogBackWorker::serialNumberForFileName(serial));

        QCOMPARE(states.count(), 1);
        QCOMPARE(states.at(0).at(0).value<uint8_t>(), uint8_t(LogBackWorker::FileCreated));
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{fileName});
        QCOMPARE(worker.currentFilePath(), dir.filePath(fileName));
    }

    void writesNumberedLinesInUtf8()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString currentBefore = QDir::currentPath();

        QDateTime now = m_created;
        LogBackWorker worker;
        worker.setClock([&now] { return now; });
        worker.createFile(dir.path(), QStringLiteral("1ah5"));
        now = now.addSecs(7);
        worker.writeMessage(QStringLiteral("Connected device 12345"));
        now = now.addSecs(3600);
        worker.writeMessage(QStringLiteral("Motor \u00DCberlast 5 \u00B5H"));

        QCOMPARE(readText(worker.currentFilePath()),
                 QStringLiteral("N 0, T 06:10:00, M Date 05.12.2026\n"
                                "N 1, T 06:10:07, M Connected device 12345\n"
                                "N 2, T 07:10:07, M Motor \u00DCberlast 5 \u00B5H\n"));
        // The file is found by absolute path; the process's current directory stays.
        QCOMPARE(QDir::currentPath(), currentBefore);
    }

    void secondFileInSameSecondKeepsFirst()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        LogBackWorker worker;
        worker.setClock([this] { return m_created; });

        worker.createFile(dir.path(), QStringLiteral("1ah5"));
        worker.writeMessage(QStringLiteral("first"));
        worker.closeFile();
        // A reconnection without a disconnect: the open file is closed by createFile.
        worker.createFile(dir.path(), QStringLiteral("1ah5"));
        worker.writeMessage(QStringLiteral("second"));
        worker.createFile(dir.path(), QStringLiteral("1ah5"));
        worker.writeMessage(QStringLiteral("third"));
        worker.closeFile();

        const QString header = QStringLiteral("N 0, T 06:10:00, M Date 05.12.2026\n");
        QCOMPARE(readText(dir.filePath("1ah5_2026_12_05_06_10_00.log")),
                 header + QStringLiteral("N 1, T 06:10:00, M first\n"));
        QCOMPARE(readText(dir.filePath("1ah5_2026_12_05_06_10_00_2.log")),
                 header + QStringLiteral("N 1, T 06:10:00, M second\n"));
        QCOMPARE(readText(dir.filePath("1ah5_2026_12_05_06_10_00_3.log")),
                 header + QStringLiteral("N 1, T 06:10:00, M third\n"));
    }

    void lineWithoutOpenFileIsReported_data()
    {
        QTest::addColumn<bool>("openAndClose");
        QTest::newRow("before the first connection") << false;
        QTest::newRow("after a disconnect") << true;
    }

    void lineWithoutOpenFileIsReported()
    {
        QFETCH(bool, openAndClose);
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        LogBackWorker worker;
        worker.setClock([this] { return m_created; });
        if (openAndClose) {
            worker.createFile(dir.path(), QStringLiteral("10"));
            worker.closeFile();
        }
        const QString contentBefore = openAndClose ? readText(worker.currentFilePath()) : QString();

        QSignalSpy states(&worker, &LogBackWorker::fileState);
        worker.writeMessage(QStringLiteral("Identification step 3"));

        QCOMPARE(states.count(), 1);
        QCOMPARE(states.at(0).at(0).value<uint8_t>(), uint8_t(LogBackWorker::MessageNotWritten));
        if (openAndClose)
            QCOMPARE(readText(worker.currentFilePath()), contentBefore);
        else
            QVERIFY(QDir(dir.path()).entryList(QDir::Files).isEmpty());
    }

    void fileThatCannotBeCreatedIsReported_data()
    {
        QTest::addColumn<QString>("subPath"); // appended to a fresh temporary directory
        QTest::addColumn<QString>("serial");
        QTest::addColumn<bool>("absolute");

        QTest::newRow("missing directory") << "missing/Kordo_Logs" << "1ah5" << true;
        QTest::newRow("relative directory") << "" << "1ah5" << false;
        QTest::newRow("serial with a path") << "" << "../1ah5" << true;
        QTest::newRow("empty serial") << "" << "" << true;
    }

    void fileThatCannotBeCreatedIsReported()
    {
        QFETCH(QString, subPath);
        QFETCH(QString, serial);
        QFETCH(bool, absolute);
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString logDirectory = absolute ? dir.filePath(subPath) : QStringLiteral("Kordo_Logs");

        LogBackWorker worker;
        QSignalSpy states(&worker, &LogBackWorker::fileState);
        worker.createFile(logDirectory, serial);
        worker.writeMessage(QStringLiteral("Connected device 12345"));

        QCOMPARE(states.count(), 2);
        QCOMPARE(states.at(0).at(0).value<uint8_t>(), uint8_t(LogBackWorker::FileNotCreated));
        QCOMPARE(states.at(1).at(0).value<uint8_t>(), uint8_t(LogBackWorker::MessageNotWritten));
        QVERIFY(QDir(dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot).isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestLogBackWorker)
#include "tst_logbackworker.moc"
