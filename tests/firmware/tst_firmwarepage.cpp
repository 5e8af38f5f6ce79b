#include "firmware/ui/firmwarepage.h"
#include "firmware/updatefwhelper.h"
#include "firmwareimages.h"
#include "tests/common/filesizelimit.h"
#include "tests/common/windowrig.h"
#include "tuning/ui/controlpage.h"
#include "ui/appsettings.h"

#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSettings>
#include <QSignalSpy>
#include <QStackedWidget>
#include <QtTest>

class TestFirmwarePage : public QObject
{
    Q_OBJECT

    struct PageRig
    {
        QTemporaryDir dir;
        RequestChannel requests {QStringLiteral("UpdateFwHelper")};
        UpdateFwHelper updater {&requests};
        ScriptedDialogs dialogs;
        AppSettings settings {dir.filePath(QStringLiteral("kordoman.ini"))};
        FirmwarePage page {&updater, &dialogs, &settings};

        template <typename T>
        T *find(const char *name) const
        {
            return page.findChild<T *>(QLatin1String(name));
        }
    };

private slots:
    void browseRemembersTheDirectory()
    {
        PageRig rig;
        QCOMPARE(rig.page.objectName(), QStringLiteral("pageMainFwUpdate"));
        const QString chosen = rig.dir.filePath(QStringLiteral("images/fw_2.bin"));
        rig.dialogs.openAnswer = chosen;
        rig.find<QPushButton>("pushButtonBrowseFw")->click();
        QCOMPARE(rig.find<QLineEdit>("lineEditFwFileAddress")->text(), chosen);
        QCOMPARE(rig.settings.firmwareDirectory(), rig.dir.filePath(QStringLiteral("images")));
        QSettings file(rig.settings.filePath(), QSettings::IniFormat);
        QCOMPARE(file.value(QStringLiteral("fw_dir")).toString(), rig.dir.filePath(QStringLiteral("images")));

        rig.dialogs.openAnswer.clear(); // cancelled: nothing changes
        rig.find<QPushButton>("pushButtonBrowseFw")->click();
        QCOMPARE(rig.find<QLineEdit>("lineEditFwFileAddress")->text(), chosen);
        QCOMPARE(rig.dialogs.fileDialogs, 2);
    }

    void updateNeedsAFile()
    {
        PageRig rig;
        QSignalSpy info(&rig.page, &FirmwarePage::infoText);
        QSignalSpy requested(&rig.page, &FirmwarePage::updateRequested);
        rig.find<QPushButton>("pushButtonUpdateFw")->click();
        QCOMPARE(info.size(), 1);
        QCOMPARE(info[0][0].toString(), QStringLiteral("No firmware file is selected."));
        QCOMPARE(info[0][1].toBool(), true);
        QCOMPARE(info[0][2].value<UserDialogs::Icon>(), UserDialogs::Icon::Warning);
        QCOMPARE(requested.size(), 0);

        rig.find<QLineEdit>("lineEditFwFileAddress")->setText(QStringLiteral("/images/fw.bin"));
        rig.find<QPushButton>("pushButtonUpdateFw")->click();
        QCOMPARE(requested.size(), 1);
        QCOMPARE(requested[0][0].toString(), QStringLiteral("/images/fw.bin"));
    }

    void stateAndProgressFollowTheUpdater()
    {
        PageRig rig;
        QVERIFY(rig.find<QGroupBox>("groupBoxUpdateProgress")->isHidden());
        emit rig.updater.on_updateFwState(QStringLiteral("Firmware writing"), true, false, false);
        emit rig.updater.updateProgressBar(40, 0, 100, QString());
        QCOMPARE(rig.find<QLabel>("labelFwActualState")->text(), QStringLiteral("Firmware writing"));
        QVERIFY(!rig.find<QGroupBox>("groupBoxUpdateProgress")->isHidden());
        QVERIFY(!rig.find<QPushButton>("pushButtonUpdateFw")->isEnabled());
        auto *bar = rig.find<QProgressBar>("progressBarUpdateFw");
        QCOMPARE(bar->value(), 40);
        QCOMPARE(bar->text(), QStringLiteral("40%"));

        emit rig.updater.updateProgressBar(21, 0, 200, QStringLiteral("9 s"));
        QCOMPARE(bar->maximum(), 200);
        QCOMPARE(bar->text(), QStringLiteral("9 s"));

        emit rig.updater.on_updateFwState(QStringLiteral("Update finished"), false, false, true);
        QVERIFY(rig.find<QGroupBox>("groupBoxUpdateProgress")->isHidden());
        QVERIFY(rig.find<QPushButton>("pushButtonUpdateFw")->isEnabled());
    }

    // A controller that answers only the bootloader's sync (its update was cut short) is
    // found when the port opens; the window shows the firmware page, which updates it.
    void controllerLeftInItsBootloaderIsOfferedTheUpdate()
    {
        SimulatorConfig config;
        config.bootloader.startInBootloader = true;
        WindowRig rig(config);
        const QString imagePath = rig.dataDir.filePath(QStringLiteral("fw.bin"));
        const QByteArray image = TestImages::plainImage(8192);
        QVERIFY(TestImages::writeFile(imagePath, image));
        rig.window->show();

        auto *pages = rig.find<QStackedWidget>("stackedWidgetMainDataArea");
        auto *state = rig.find<QLabel>("labelFwActualState");
        QVERIFY(rig.tickUntil([&] { return pages->currentIndex() == MainWindow::PageFirmware; }));
        QCOMPARE(state->text(),
                 QStringLiteral("A controller waits in its bootloader. Choose the firmware and update it."));
        QCOMPARE(rig.text("pushButtonStateDevice"), QStringLiteral("Non-init device"));
        QVERIFY(rig.find<QPushButton>("pushButtonUpdateFw")->isEnabled());

        rig.dialogs.openAnswer = imagePath;
        rig.find<QPushButton>("pushButtonBrowseFw")->click();
        rig.find<QPushButton>("pushButtonUpdateFw")->click();
        QVERIFY(rig.tickUntil([&] { return !rig.dialogs.messages.isEmpty(); }));
        QCOMPARE(rig.dialogs.messages.last().text, QStringLiteral("Firmware update successful"));
        QCOMPARE(state->text(), QStringLiteral("Update finished"));
        QCOMPARE(rig.controller().bootloader().flash().left(image.size()), image);
        QVERIFY(rig.tickUntil([&] { return rig.app().deviceState() == DEVICE_CONNECTED; }));
    }

    // The controller's settings can be kept neither in the database nor in a file (a full
    // disk): the window says so and asks; No (the default) sends nothing to the controller,
    // Yes updates it without the backup.
    void backupKeptNowhereAsksBeforeTheUpdate_data()
    {
        QTest::addColumn<bool>("answerYes");
        QTest::newRow("no: nothing is sent") << false;
        QTest::newRow("yes: updated without a backup") << true;
    }

    void backupKeptNowhereAsksBeforeTheUpdate()
    {
        QFETCH(bool, answerYes);
        WindowRig rig;
        QVERIFY(rig.connectDevice());
        const QString imagePath = rig.dataDir.filePath(QStringLiteral("fw.bin"));
        const QByteArray image = TestImages::plainImage(8192);
        QVERIFY(TestImages::writeFile(imagePath, image));
        rig.showPage("toolButtonFirmware");
        rig.dialogs.openAnswer = imagePath;
        rig.find<QPushButton>("pushButtonBrowseFw")->click();
        rig.dialogs.answerYes = answerYes;
        {
            FileSizeLimit fullDisk(0);
            QVERIFY(fullDisk.active());
            rig.find<QPushButton>("pushButtonUpdateFw")->click();
        }
        QVERIFY(rig.tickUntil([&] { return !rig.dialogs.questions.isEmpty(); }));
        QCOMPARE(rig.dialogs.questions, QStringList {QStringLiteral("Firmware update")});
        QVERIFY2(rig.dialogs.questionTexts.first().contains(QStringLiteral("the disk is full")),
                 qPrintable(rig.dialogs.questionTexts.first()));
        if (!answerYes) {
            rig.tickUntil([] { return false; }, 1000);
            QVERIFY(!rig.controller().isInBootloader());
            QCOMPARE(rig.controller().bootloader().pagesWritten(), 0);
            QCOMPARE(rig.app().deviceState(), DEVICE_CONNECTED);
            return;
        }
        QVERIFY(rig.tickUntil([&] {
            return !rig.dialogs.messages.isEmpty()
                   && rig.dialogs.messages.last().text == QLatin1String("Firmware update successful");
        }));
        QCOMPARE(rig.controller().bootloader().flash().left(image.size()), image);
    }

    // The demo's update takes a visible time (counted in ticks of the simulated clock) and
    // ends with a new version shown.
    void demoUpdateTakesItsTimeAndBringsANewVersion()
    {
        // In real time the host answers at once: the page writes are what takes the time,
        // a few seconds for a 48 KiB image.
        const SimulatorConfig demo = DemoPortProvider::demoConfig();
        QVERIFY(qint64(demo.bootloader.pageWriteUs) * (48 * 1024 / 256) >= 2000000);
        WindowRig rig(demo);
        QVERIFY(rig.connectDevice());
        QCOMPARE(rig.text("pushButtonStateFirmware"), QStringLiteral("1.2.3"));
        const QString imagePath = rig.dataDir.filePath(QStringLiteral("fw.bin"));
        const QByteArray image = TestImages::plainImage(8192);
        QVERIFY(TestImages::writeFile(imagePath, image));
        rig.showPage("toolButtonFirmware");
        rig.dialogs.openAnswer = imagePath;
        rig.find<QPushButton>("pushButtonBrowseFw")->click();
        rig.find<QPushButton>("pushButtonUpdateFw")->click();
        auto *bar = rig.find<QProgressBar>("progressBarUpdateFw");
        QSet<int> valuesShown; // the bar's values between empty and full, one per tick at most
        QVERIFY(rig.tickUntil([&] {
            if (bar->isVisible() && bar->value() > bar->minimum() && bar->value() < bar->maximum())
                valuesShown.insert(bar->value());
            return !rig.dialogs.messages.isEmpty();
        }, 60000));
        QCOMPARE(rig.dialogs.messages.last().text, QStringLiteral("Firmware update successful"));
        const int pages = image.size() / 256;
        const int writeTicks = pages * DemoPortProvider::DEMO_PAGE_WRITE_US / 1000 / 50;
        QVERIFY2(valuesShown.size() >= writeTicks / 2, qPrintable(QString::number(valuesShown.size())));
        QVERIFY(rig.tickUntil([&] { return rig.text("pushButtonStateFirmware") == QLatin1String("1.2.4"); }));
        // The update's resets are the user's own doing, and no motor turned: no alarm.
        QCOMPARE(rig.window->controlPage()->stopNotice(), QString());
        for (const ScriptedDialogs::Message &message : qAsConst(rig.dialogs.messages))
            QVERIFY2(!message.text.contains(QLatin1String("Control signal lost")), qPrintable(message.text));
    }

    // An image the bootloader's data refuses is never written: the old application starts
    // again, and the version shown stays the one it was.
    void demoRefusedImageKeepsTheVersion_data()
    {
        QTest::addColumn<QByteArray>("image");
        QTest::newRow("another variant") << TestImages::plainImage(8192, 0x00, 0x00);
        QByteArray corrupt = TestImages::plainImage(8192);
        corrupt[100] = char(~corrupt.at(100));
        QTest::newRow("checksum wrong") << corrupt;
        QTest::newRow("length not whole sectors") << TestImages::plainImage(8192).left(8000);
    }

    void demoRefusedImageKeepsTheVersion()
    {
        QFETCH(QByteArray, image);
        WindowRig rig(DemoPortProvider::demoConfig());
        QVERIFY(rig.connectDevice());
        QCOMPARE(rig.text("pushButtonStateFirmware"), QStringLiteral("1.2.3"));
        const QString imagePath = rig.dataDir.filePath(QStringLiteral("fw.bin"));
        QVERIFY(TestImages::writeFile(imagePath, image));
        rig.showPage("toolButtonFirmware");
        rig.dialogs.openAnswer = imagePath;
        rig.find<QPushButton>("pushButtonBrowseFw")->click();
        rig.find<QPushButton>("pushButtonUpdateFw")->click();
        QVERIFY(rig.tickUntil([&] { return !rig.dialogs.messages.isEmpty(); }, 60000));
        const QString told = rig.dialogs.messages.last().text;
        QVERIFY2(told.contains(QLatin1String("Use a firmware file made for this controller")), qPrintable(told));
        QCOMPARE(rig.controller().bootloader().pagesWritten(), 0);
        // Back in the application, its identity read again.
        QVERIFY(rig.connectDevice());
        rig.tick(40);
        QCOMPARE(rig.text("pushButtonStateFirmware"), QStringLiteral("1.2.3"));
    }
};

QTEST_MAIN(TestFirmwarePage)
#include "tst_firmwarepage.moc"
