#include "app/demoportprovider.h"
#include "app/mainwindow.h"
#include "firmwareimages.h"
#include "sim/simulatedcontroller.h"
#include "tests/common/scripteddialogs.h"
#include "tests/common/threadwarnings.h"

#include <QAbstractButton>
#include <QLabel>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

// The program's arrangement: the updater in the coordinator thread on its real clock,
// the page and the device model in this one, the simulated controller on the wall clock.
// Bounded waits only.
class TestFirmwareUpdateThreads : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { ThreadWarnings::install(); }
    void cleanupTestCase() { ThreadWarnings::uninstall(); }

    void updateFromThePageAcrossThreads()
    {
        QTemporaryDir dir;
        const QString imagePath = dir.filePath(QStringLiteral("fw.bin"));
        const QByteArray image = TestImages::plainImage(8192);
        QVERIFY(TestImages::writeFile(imagePath, image));
        DemoPortProvider ports;
        ScriptedDialogs dialogs;
        auto window = std::make_unique<MainWindow>(&ports, DataDirectory::resolve(dir.path(), QString(), QString()),
                                                   &dialogs);
        window->show();
        auto *connection = window->findChild<QAbstractButton *>(QStringLiteral("pushButtonStateConnection"));
        QTRY_COMPARE_WITH_TIMEOUT(connection->text(), QStringLiteral("Connected"), 60000);

        window->findChild<QAbstractButton *>(QStringLiteral("toolButtonFirmware"))->click();
        // The page choice reaches the coordinator through its own thread.
        QTRY_COMPARE_WITH_TIMEOUT(window->appBase().activity(), AppBase::ActivityFirmware, 10000);
        window->findChild<QLineEdit *>(QStringLiteral("lineEditFwFileAddress"))->setText(imagePath);
        window->findChild<QAbstractButton *>(QStringLiteral("pushButtonUpdateFw"))->click();

        QTRY_VERIFY_WITH_TIMEOUT(!dialogs.messages.isEmpty(), 60000);
        QCOMPARE(dialogs.messages.last().text, QStringLiteral("Firmware update successful"));
        QCOMPARE(window->findChild<QLabel *>(QStringLiteral("labelFwActualState"))->text(),
                 QStringLiteral("Update finished"));
        // The new firmware is found again by the normal detection.
        QTRY_COMPARE_WITH_TIMEOUT(window->appBase().deviceState(), DEVICE_CONNECTED, 60000);

        window.reset(); // stops the clock, brings the coordinator home, ends its thread
        QCOMPARE(ports.controller()->bootloader().flash().left(image.size()), image);
        const QString fault = ThreadWarnings::firstThreadingFault();
        QVERIFY2(fault.isEmpty(), qPrintable(fault));
        QCOMPARE(dialogs.messages.size(), 1);
    }

    // An update that changed the controller's settings: the window offers the backup taken
    // before it, and the restore goes through the coordinator's thread, confirmed and read
    // back, without a threading fault.
    void restoreAfterTheUpdateAcrossThreads()
    {
        QTemporaryDir dir;
        const QString imagePath = dir.filePath(QStringLiteral("fw.bin"));
        QVERIFY(TestImages::writeFile(imagePath, TestImages::plainImage(8192)));
        SimulatorConfig config;
        config.bootloader.settingsChangeOnUpdate = true;
        DemoPortProvider ports(QStringList(), config);
        ScriptedDialogs dialogs;
        auto window = std::make_unique<MainWindow>(&ports, DataDirectory::resolve(dir.path(), QString(), QString()),
                                                   &dialogs);
        window->show();
        auto *connection = window->findChild<QAbstractButton *>(QStringLiteral("pushButtonStateConnection"));
        QTRY_COMPARE_WITH_TIMEOUT(connection->text(), QStringLiteral("Connected"), 60000);
        QTRY_VERIFY_WITH_TIMEOUT(!window->appBase().device()->isReadBatchRunning(), 60000);
        const QByteArray motionBefore = ports.controller()->firmware().motionParams().pack();

        window->findChild<QAbstractButton *>(QStringLiteral("toolButtonFirmware"))->click();
        QTRY_COMPARE_WITH_TIMEOUT(window->appBase().activity(), AppBase::ActivityFirmware, 10000);
        window->findChild<QLineEdit *>(QStringLiteral("lineEditFwFileAddress"))->setText(imagePath);
        window->findChild<QAbstractButton *>(QStringLiteral("pushButtonUpdateFw"))->click();

        QTRY_VERIFY_WITH_TIMEOUT(!dialogs.buttonsOffers.isEmpty(), 60000);
        QVERIFY(ports.controller()->firmware().motionParams().pack() != motionBefore);
        QTRY_VERIFY_WITH_TIMEOUT(dialogs.messages.size() >= 2, 60000);
        QVERIFY2(dialogs.messages.last().text.contains(QStringLiteral("written and confirmed")),
                 qPrintable(dialogs.messages.last().text));
        QCOMPARE(ports.controller()->firmware().motionParams().pack(), motionBefore);

        window.reset();
        const QString fault = ThreadWarnings::firstThreadingFault();
        QVERIFY2(fault.isEmpty(), qPrintable(fault));
    }
};

QTEST_MAIN(TestFirmwareUpdateThreads)
#include "tst_firmwareupdate_threads.moc"
