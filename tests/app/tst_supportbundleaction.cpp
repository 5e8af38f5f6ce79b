#include "tests/common/zipcheck.h"
#include "tests/common/windowrig.h"

#include "capture/linedecoder.h"
#include "capture/pcapfile.h"

#include <QAction>
#include <QMenuBar>
#include <QTextBrowser>
#include <QMenu>
#include <QtTest>

// The window's "Save support bundle..." on the simulated controller: what the session showed
// goes into the zip.
class TestSupportBundleAction : public QObject
{
    Q_OBJECT

    QTemporaryDir m_out;

    static QAction *action(WindowRig &rig) { return rig.window->findChild<QAction *>(QStringLiteral("actionSupportBundle")); }

private slots:
    void initTestCase()
    {
        if (ZipCheck::unzipProgram().isEmpty())
            QSKIP("unzip is not installed (package unzip)");
    }

    void savesWhatTheSessionShowed()
    {
        WindowRig rig;
        QVERIFY(rig.connectDevice());
        QVERIFY(action(rig));
        // In the window's one Help menu, beside Help and About.
        QCOMPARE(rig.window->menuBar()->actions().size(), 2);
        QVERIFY(rig.window->findChild<QMenu *>("menuHelp")->actions().contains(action(rig)));

        rig.showPage("toolButtonEscParams");
        rig.find<QAbstractButton>("pushButtonGetErrors")->click();
        rig.find<QAbstractButton>("pushButtonGetData")->click();
        QVERIFY(rig.tickUntil([&] { return !rig.find<QTextBrowser>("textBrowserLastData")->toPlainText().isEmpty(); }));
        const QDir logs(rig.app().logDirectory());
        QVERIFY(rig.tickUntil([&] { return !logs.entryList({QStringLiteral("*.log")}, QDir::Files).isEmpty(); }));

        const QString zip = m_out.filePath(QStringLiteral("session.zip"));
        rig.dialogs.saveAnswer = zip;
        action(rig)->trigger();
        QCOMPARE(rig.dialogs.fileDialogs, 1);
        QCOMPARE(rig.dialogs.messages.size(), 1);
        QCOMPARE(rig.dialogs.messages.constLast().icon, UserDialogs::Icon::Information);

        const QStringList entries = ZipCheck::entries(zip);
        const QString log = QStringLiteral("device-logs/") + logs.entryList({QStringLiteral("*.log")}, QDir::Files).constFirst();
        QCOMPARE(entries, (QStringList {log, "error-log.txt", "line.pcap", "ports.txt", "run-data.txt", "settings.xml",
                                        "versions.txt"}));
        // The line's last minutes: the session's frames, from the identity on.
        QFile pcap(m_out.filePath(QStringLiteral("line.pcap")));
        QVERIFY(pcap.open(QIODevice::WriteOnly));
        pcap.write(ZipCheck::entry(zip, QStringLiteral("line.pcap")));
        pcap.close();
        QVector<LineCapture::Record> records;
        QString error;
        QVERIFY2(PcapReader::read(pcap.fileName(), &records, &error), qPrintable(error));
        QStringList lines;
        for (const LineCapture::Record &record : qAsConst(records))
            lines << LineDecoder::describe(record);
        const QString text = lines.join(QLatin1Char('\n'));
        QVERIFY2(text.contains(QStringLiteral("in  frame GET_DEVICE_INFO (0x22) addr 0x01 answer OK run 0 serial %1")
                                   .arg(rig.device()->serialNumber())),
                 qPrintable(text));
        QVERIFY2(text.contains(QLatin1String("in  frame GET_RUN_DATA (0x27)")), qPrintable(text));
        QVERIFY(ZipCheck::entry(zip, QStringLiteral("settings.xml")).startsWith("<?xml"));
        const QByteArray versions = ZipCheck::entry(zip, QStringLiteral("versions.txt"));
        QVERIFY2(versions.contains(QStringLiteral("serial number %1").arg(rig.device()->serialNumber()).toUtf8()),
                 versions.constData());
        QVERIFY2(ZipCheck::entry(zip, QStringLiteral("ports.txt")).contains("Zorbel adapter"),
                 ZipCheck::entry(zip, QStringLiteral("ports.txt")).constData());
    }

    // Without a controller the bundle carries no line capture.
    void noLineCaptureWithoutController()
    {
        WindowRig rig;
        const QString zip = m_out.filePath(QStringLiteral("alone.zip"));
        rig.dialogs.saveAnswer = zip;
        action(rig)->trigger();
        QVERIFY(!ZipCheck::entries(zip).contains(QStringLiteral("line.pcap")));
        QVERIFY(ZipCheck::entries(zip).contains(QStringLiteral("versions.txt")));
    }

    void cancelledChoiceWritesNothing()
    {
        WindowRig rig;
        rig.dialogs.saveAnswer.clear();
        action(rig)->trigger();
        QCOMPARE(rig.dialogs.fileDialogs, 1);
        QVERIFY(rig.dialogs.messages.isEmpty());
    }
};

QTEST_MAIN(TestSupportBundleAction)
#include "tst_supportbundleaction.moc"
