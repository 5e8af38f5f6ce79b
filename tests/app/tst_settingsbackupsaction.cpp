#include "app/appbase.h"
#include "app/settingsbackupsaction.h"
#include "wire/messageids.h"
#include "device/settingssnapshots.h"
#include "tests/common/windowrig.h"
#include "tests/firmware/firmwareimages.h"
#include "sim/simulatedfirmware.h"

#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QStackedWidget>
#include <QToolButton>
#include <QtTest>

// The way back in the window, on the in-process simulated controller: an update that
// changes the controller's settings is followed by the offer to restore those kept before
// it; the settings page lists the backups and restores one; each restore is written,
// confirmed and read back.
class TestSettingsBackupsAction : public QObject
{
    Q_OBJECT

    static bool update(WindowRig &rig)
    {
        const QString imagePath = rig.dataDir.filePath(QStringLiteral("fw.bin"));
        if (!TestImages::writeFile(imagePath, TestImages::plainImage(8192)))
            return false;
        rig.showPage("toolButtonFirmware");
        rig.find<QLineEdit>("lineEditFwFileAddress")->setText(imagePath);
        rig.find<QPushButton>("pushButtonUpdateFw")->click();
        return rig.tickUntil([&] {
            for (const ScriptedDialogs::Message &m : qAsConst(rig.dialogs.messages))
                if (m.text == QLatin1String("Firmware update successful"))
                    return true;
            return false;
        }, 60000);
    }

    static QVector<SettingsSnapshot> backups(WindowRig &rig)
    {
        QVector<SettingsSnapshot> all;
        QString problem;
        rig.app().settingsKeeper()->snapshots()->list(QString(), &all, &problem);
        return all;
    }

    static bool restored(WindowRig &rig)
    {
        return rig.tickUntil([&] {
            for (const ScriptedDialogs::Message &m : qAsConst(rig.dialogs.messages))
                if (m.text.contains(QLatin1String("written and confirmed")) || m.text.contains(QLatin1String("differ"))
                    || m.text.contains(QLatin1String("refused")) || m.text.contains(QLatin1String("not confirm")))
                    return true;
            return false;
        });
    }

private slots:
    void offerAfterAnUpdateThatChangedTheSettings_data()
    {
        QTest::addColumn<bool>("accept");
        QTest::newRow("restore") << true;
        QTest::newRow("keep the new settings") << false;
    }

    void offerAfterAnUpdateThatChangedTheSettings()
    {
        QFETCH(bool, accept);
        SimulatorConfig config;
        config.bootloader.settingsChangeOnUpdate = true;
        WindowRig rig(config);
        QVERIFY(rig.connectDevice());
        const QByteArray motionBefore = rig.controller().firmware().motionParams().pack();
        const QByteArray pwmInBefore = rig.controller().firmware().pwmInParams().pack();
        rig.dialogs.buttonsAnswerAccept = accept;
        QVERIFY(update(rig));

        // One backup, taken before the update, with what the controller held.
        QVector<SettingsSnapshot> kept = backups(rig);
        QCOMPARE(kept.size(), 1);
        QCOMPARE(kept[0].reason, QStringLiteral("firmware update"));
        QCOMPARE(kept[0].motion, motionBefore);
        QCOMPARE(kept[0].pwmIn, pwmInBefore);

        // Back with other settings: the offer names the fields that changed.
        QVERIFY(rig.tickUntil([&] { return !rig.dialogs.buttonsOffers.isEmpty(); }));
        QCOMPARE(rig.dialogs.buttonsOffers.size(), 1);
        const ScriptedDialogs::ButtonsOffer offer = rig.dialogs.buttonsOffers.first();
        QVERIFY2(offer.text.contains(QStringLiteral("ttl: now 1000, backup 500")), qPrintable(offer.text));
        QVERIFY2(offer.text.contains(QStringLiteral("kp: now 0.299805, backup 0.200195")), qPrintable(offer.text));
        QCOMPARE(offer.acceptLabel, QStringLiteral("Restore"));
        QVERIFY(rig.controller().firmware().motionParams().pack() != motionBefore);

        if (!accept) {
            rig.tick(40);
            QVERIFY(rig.controller().firmware().motionParams().pack() != motionBefore);
            QCOMPARE(backups(rig).size(), 1);
            return;
        }
        QVERIFY(restored(rig));
        QVERIFY2(rig.dialogs.messages.last().text.contains(QStringLiteral("written and confirmed")),
                 qPrintable(rig.dialogs.messages.last().text));
        QCOMPARE(rig.find<QStackedWidget>("stackedWidgetMainDataArea")->currentIndex(), int(MainWindow::PageEscSettings));
        QCOMPARE(rig.controller().firmware().motionParams().pack(), motionBefore);
        QCOMPARE(rig.controller().firmware().pwmInParams().pack(), pwmInBefore);
        // What the new firmware had is kept as well, before the restore wrote over it.
        kept = backups(rig);
        QCOMPARE(kept.size(), 2);
        QCOMPARE(kept[0].reason, QStringLiteral("restore"));
    }

    // An update that keeps the settings offers nothing; nor does one after which another
    // controller answers (another serial number): its settings are no loss.
    void noOfferAfterTheUpdate_data()
    {
        QTest::addColumn<bool>("settingsChange");
        QTest::addColumn<uint32_t>("serialAfterUpdate");
        QTest::newRow("settings kept") << false << uint32_t(0);
        QTest::newRow("another serial number") << true << uint32_t(54321);
    }

    void noOfferAfterTheUpdate()
    {
        QFETCH(bool, settingsChange);
        QFETCH(uint32_t, serialAfterUpdate);
        SimulatorConfig config;
        config.bootloader.settingsChangeOnUpdate = settingsChange;
        config.bootloader.serialAfterUpdate = serialAfterUpdate;
        WindowRig rig(config);
        QVERIFY(rig.connectDevice());
        QVERIFY(update(rig));
        const uint32_t serial = serialAfterUpdate != 0 ? serialAfterUpdate : config.identity.serialNumber;
        QVERIFY(rig.tickUntil([&] {
            return rig.app().deviceState() == DEVICE_CONNECTED && rig.device()->serialNumber() == serial
                && !rig.device()->isReadBatchRunning();
        }));
        rig.tick(10);
        QVERIFY(rig.dialogs.buttonsOffers.isEmpty());
        for (const ScriptedDialogs::Message &m : qAsConst(rig.dialogs.messages))
            QVERIFY2(!m.text.contains(QLatin1String("backup")), qPrintable(m.text));
        QCOMPARE(backups(rig).size(), 1);
        QCOMPARE(rig.controller().requestsReceived(VyxMsg::WRITE_MOTION_PARAMS), 0);
    }

    // An import keeps what the controller held before the file's values reach it.
    void importKeepsTheSettingsFirst()
    {
        WindowRig rig;
        QVERIFY(rig.connectDevice());
        rig.showPage("toolButtonEscParams");
        const QByteArray motionBefore = rig.controller().firmware().motionParams().pack();
        const QString file = rig.dataDir.filePath(QStringLiteral("esc.xml"));
        {
            QFile xml(file);
            QVERIFY(xml.open(QIODevice::WriteOnly));
            xml.write("<settings><motion><ttl>1000</ttl></motion></settings>");
        }
        rig.dialogs.openAnswer = file;
        rig.find<QToolButton>("toolButtonImportParams")->click();
        const QVector<SettingsSnapshot> kept = backups(rig);
        QCOMPARE(kept.size(), 1);
        QCOMPARE(kept[0].reason, QStringLiteral("settings import"));
        QCOMPARE(kept[0].motion, motionBefore);
        QVERIFY(rig.settle());
        QVERIFY(rig.tickUntil([&] { return rig.controller().firmware().motionParams().timeToLeave == 20; }));
    }

    // A damaged database does not stop the import: the backup goes to a file of the data
    // directory, and a message names it.
    void damagedDatabaseBackupGoesToANamedFile()
    {
        QTemporaryDir data;
        QVERIFY(QDir().mkpath(data.filePath(QStringLiteral("Kordo_Db"))));
        {
            QFile db(data.filePath(QStringLiteral("Kordo_Db/Kordo_data.db")));
            QVERIFY(db.open(QIODevice::WriteOnly));
            db.write(QByteArray(4096, '\x5a'));
        }
        WindowRig rig(SimulatorConfig(), data.path());
        QVERIFY(rig.connectDevice());
        rig.showPage("toolButtonEscParams");
        const QString file = data.filePath(QStringLiteral("esc.xml"));
        {
            QFile xml(file);
            QVERIFY(xml.open(QIODevice::WriteOnly));
            xml.write("<settings><motion><ttl>1000</ttl></motion></settings>");
        }
        rig.dialogs.openAnswer = file;
        rig.find<QToolButton>("toolButtonImportParams")->click();
        QVERIFY(rig.tickUntil([&] { return !rig.dialogs.messages.isEmpty() && rig.dialogs.messages.last().text.contains(QStringLiteral("were saved to")); }));
        const QStringList files = QDir(data.path()).entryList({QStringLiteral("settings-backup-*.json")}, QDir::Files);
        QCOMPARE(files.size(), 1);
        QVERIFY2(rig.dialogs.messages.last().text.contains(QDir::toNativeSeparators(QDir(data.path()).filePath(files.first()))),
                 qPrintable(rig.dialogs.messages.last().text));
        // The import went on all the same.
        QVERIFY(rig.settle());
        QVERIFY(rig.tickUntil([&] { return rig.controller().firmware().motionParams().timeToLeave == 20; }));
    }

    // The settings page's restore checks a backup as the command line does: a whole backup
    // (settings and motor) is written and read back byte for byte; a refused one is not
    // offered and writes nothing; one the controller holds writes nothing; a controller
    // that stores another Kp than it confirmed fails the restore.
    void settingsPageRestoreTable_data()
    {
        QTest::addColumn<QString>("forge");
        QTest::addColumn<int>("storeOtherKp");
        QTest::addColumn<bool>("offered");
        QTest::addColumn<QString>("said");
        QTest::newRow("whole backup") << "whole" << 0 << true << "written and confirmed";
        QTest::newRow("already held") << "held" << 0 << false << "holds the settings of this backup";
        QTest::newRow("kp out of range") << "kp" << 0 << false << "kp 32";
        QTest::newRow("short record") << "short" << 0 << false << "7 bytes long";
        QTest::newRow("another controller") << "other" << 0 << false << "taken from the controller 999";
        QTest::newRow("stores another Kp") << "whole" << 1 << true << "The settings read back differ from the backup";
    }

    void settingsPageRestoreTable()
    {
        QFETCH(QString, forge);
        QFETCH(int, storeOtherKp);
        QFETCH(bool, offered);
        QFETCH(QString, said);
        SimulatorConfig config;
        config.faults.storeOtherKp = storeOtherKp;
        WindowRig rig(config);
        QVERIFY(rig.connectDevice());
        rig.showPage("toolButtonEscParams");

        const SimulatedFirmware &held = rig.controller().firmware();
        SET_PWM_IN_PARAMS pwmIn = held.pwmInParams();
        SET_MOTION_PARAMS motion = held.motionParams();
        MOTOR_TOTAL motor = held.storedMotor();
        if (forge != QLatin1String("held")) {
            pwmIn.deadZone = 12;
            motion.timeToLeave = 7;
            motion.Kp = forge == QLatin1String("kp") ? int16_t(-32768) : int16_t(310);
            motor.Rs *= 1.5f;
        }
        SettingsSnapshot backup;
        backup.serialNumber = forge == QLatin1String("other") ? QStringLiteral("999")
                                                              : QString::number(rig.device()->serialNumber());
        backup.time = QDateTime::currentDateTimeUtc();
        backup.pwmIn = pwmIn.pack();
        backup.motion = motion.pack();
        backup.motor = motor.pack();
        if (forge == QLatin1String("short"))
            backup.motion.chop(1);
        backup.id = rig.app().settingsKeeper()->snapshots()->keep(backup).id;
        QVERIFY(backup.id > 0);
        const auto writes = [&] {
            int n = 0;
            for (uint8_t id : {VyxMsg::WRITE_PWM_IN_PARAMS, VyxMsg::WRITE_MOTION_PARAMS, VyxMsg::SET_MOTOR_IDENT_PARAMS,
                               VyxMsg::SET_MOTOR_USER_PARAMS})
                n += rig.controller().requestsReceived(id);
            return n;
        };

        // A release build writes the PWM input record just read back once the page shows it:
        // the restore's writes are those that come after.
        QVERIFY(rig.settle());
        rig.tick(40);
        const int writesBefore = writes();

        SettingsBackupsAction action(rig.device(), rig.params(), rig.app().idHelper(), rig.app().settingsKeeper(),
                                     &rig.dialogs, nullptr);
        QStringList told;
        connect(&action, &SettingsBackupsAction::infoText, this, [&told](QString text) { told << text; });
        action.offerRestore(backup, SettingsSnapshot::ofDevice(*rig.device(), SettingsSnapshot::Reason::Restore), false);
        QCOMPARE(rig.dialogs.buttonsOffers.size(), offered ? 1 : 0);
        if (offered)
            QVERIFY(rig.tickUntil([&] { return !told.isEmpty(); }));
        QCOMPARE(told.size(), 1);
        QVERIFY2(told.first().contains(said), qPrintable(told.first()));
        if (!offered) {
            rig.tick(40);
            QCOMPARE(writes(), writesBefore);
            return;
        }
        QVERIFY(writes() > writesBefore);
        if (storeOtherKp != 0) {
            QCOMPARE(rig.controller().otherKpStored(), 1);
            return;
        }
        // The controller holds the backup byte for byte, and the device model read it back.
        QCOMPARE(held.pwmInParams().pack(), backup.pwmIn);
        QCOMPARE(held.motionParams().pack(), backup.motion);
        QCOMPARE(held.storedMotor().pack(), backup.motor);
        QCOMPARE(rig.device()->motorParams().pack(), backup.motor);
        QVERIFY2(told.first().contains(QStringLiteral("PWM input settings, motion settings, motor")), qPrintable(told.first()));
    }

    // The settings page lists the controller's backups and restores the one chosen.
    void settingsPageRestoresAChosenBackup()
    {
        WindowRig rig;
        QVERIFY(rig.connectDevice());
        rig.showPage("toolButtonEscParams");
        auto *button = rig.find<QToolButton>("toolButtonBackups");
        QVERIFY(button->isEnabled());

        button->click(); // none yet
        QVERIFY(rig.dialogs.itemOffers.isEmpty());
        QVERIFY2(rig.dialogs.messages.last().text.contains(QStringLiteral("no settings backups")),
                 qPrintable(rig.dialogs.messages.last().text));

        // A backup of the present values, then a change of the controller's settings.
        const QByteArray motionBefore = rig.controller().firmware().motionParams().pack();
        QVERIFY(rig.app().settingsKeeper()->keep(SettingsSnapshot::Reason::SettingsWrite).id > 0);
        SET_MOTION_PARAMS changed = rig.device()->motionParams();
        changed.timeToLeave = 7;
        rig.params()->setMotionRecord(changed);
        QVERIFY(rig.settle());
        QVERIFY(rig.tickUntil([&] { return rig.controller().firmware().motionParams().timeToLeave == 7; }));

        rig.dialogs.itemAnswer.clear(); // cancelled: nothing happens
        button->click();
        QCOMPARE(rig.dialogs.itemOffers.size(), 1);
        QCOMPARE(rig.dialogs.itemOffers[0].size(), 1);
        QVERIFY(rig.dialogs.buttonsOffers.isEmpty());

        rig.dialogs.itemAnswer = rig.dialogs.itemOffers[0][0];
        QVERIFY2(rig.dialogs.itemAnswer.startsWith(QStringLiteral("1: ")), qPrintable(rig.dialogs.itemAnswer));
        button->click();
        QCOMPARE(rig.dialogs.buttonsOffers.size(), 1);
        QVERIFY2(rig.dialogs.buttonsOffers[0].text.contains(QStringLiteral("ttl: now 350, backup 500")),
                 qPrintable(rig.dialogs.buttonsOffers[0].text));
        QVERIFY(restored(rig));
        QVERIFY2(rig.dialogs.messages.last().text.contains(QStringLiteral("written and confirmed")),
                 qPrintable(rig.dialogs.messages.last().text));
        QCOMPARE(rig.controller().firmware().motionParams().pack(), motionBefore);
        QCOMPARE(rig.device()->motionParams().pack(), motionBefore);
    }
};

QTEST_MAIN(TestSettingsBackupsAction)
#include "tst_settingsbackupsaction.moc"
