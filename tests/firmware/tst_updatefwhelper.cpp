#include "tests/common/channelplayer.h"
#include "tests/common/filesizelimit.h"
#include "tests/common/pagechange.h"
#include "device/pinghelper.h"
#include "device/settingskeeper.h"
#include "firmware/updateerror.h"
#include "firmwareimages.h"
#include "flashrig.h"
#include "wire/messageids.h"

#include "device/runningmode.h"

#include <QtTest>

#include <thread>

// Whole updates through the coordinator, the port manager and the device model against
// the simulated bootloader, tick by tick.
class TestUpdateFwHelper : public QObject
{
    Q_OBJECT

    static constexpr int UPDATE_TICKS = 2000;

    static QString errorText(uint32_t code)
    {
        return QStringLiteral("An update problem has occurred. Error 0x%1").arg(code, 0, 16);
    }

private slots:
    void plainImageIsWrittenPageByPage()
    {
        FlashRig rig(SimulatorConfig {});
        const QByteArray image = TestImages::plainImage(8192);
        QVERIFY(TestImages::writeFile(rig.imagePath(), image));
        QVERIFY(rig.connect());

        rig.app.startFirmwareUpdate(rig.imagePath());
        QVERIFY(rig.fw->isUpdateRunning());
        QCOMPARE(pageChangeAnswer(rig.app, 0), QStringLiteral("refused")); // the page may not be left
        QCOMPARE(rig.lastMessage(), QStringLiteral("Firmware update is still running"));
        QVERIFY(rig.tickUntil([&] { return !rig.finished.isEmpty(); }, UPDATE_TICKS));
        QCOMPARE(pageChangeAnswer(rig.app, 0), QStringLiteral("allowed"));

        QCOMPARE(rig.finished.first().at(0).toBool(), true);
        QCOMPARE(rig.lastMessage(), QStringLiteral("Firmware update successful"));
        QList<uint32_t> addresses;
        QList<int> progress {0};
        for (int page = 0; page < 32; ++page) {
            addresses << uint32_t(page * 256);
            progress << (page + 1) * 256 * 100 / 8192;
        }
        QCOMPARE(rig.pageAddresses(), addresses);
        QCOMPARE(progress.at(1), 3);
        QCOMPARE(progress.last(), 100);
        QCOMPARE(rig.writeProgress(), progress);
        QVERIFY(rig.sentRequest(QByteArray::fromHex("21de")));
        QCOMPARE(rig.controller.bootloader().flash().left(image.size()), image);
        QCOMPARE(rig.controller.bootloader().pagesWritten(), 32);
        QVERIFY(!rig.controller.isInBootloader());
        // The new firmware is found again by the normal detection.
        QVERIFY(rig.tickUntil([&] { return rig.app.deviceState() == DEVICE_CONNECTED; }, 40));
        QVERIFY(!rig.fw->isUpdateRunning());
        // Low latency asked for while the bootloader was spoken to, and given back; the
        // port refused, and the update went on.
        QCOMPARE(rig.provider.lowLatencyCalls, QList<bool>({true, false}));
    }

    // A status poll that gets no answer empties the queue; the reset request waiting behind
    // it was never written: it is sent again, and the update goes on (it used to end with
    // "Update error", Error 0x100).
    void resetDroppedBehindALostPollIsSentAgain()
    {
        FlashRig rig(SimulatorConfig {});
        QVERIFY(TestImages::writeFile(rig.imagePath(), TestImages::plainImage(8192)));
        QVERIFY(rig.connect());
        QVERIFY(rig.tickUntil([&] { return rig.app.device()->pendingReads() == 0; }, 40));
        QSignalSpy polls(rig.app.pingHelper()->requests(), &RequestChannel::requestSent);
        QSignalSpy pollFailures(rig.app.pingHelper()->requests(), &RequestChannel::failed);
        QSignalSpy resets(rig.fw->requests(), &RequestChannel::requestSent);
        QSignalSpy resetFailures(rig.fw->requests(), &RequestChannel::failed);
        QVERIFY(rig.tickUntil([&] { return !polls.isEmpty(); }, 10));
        QCOMPARE(polls.first().at(0).toUInt(), uint(VyxMsg::GET_STATUS));
        rig.controller.setPowered(false); // the poll is not answered
        rig.app.startFirmwareUpdate(rig.imagePath());
        QCOMPARE(resets.size(), 1); // queued behind the poll in flight
        QVERIFY(rig.tickUntil([&] { return !resetFailures.isEmpty(); }, 3));
        QCOMPARE(pollFailures.first().at(1).value<RequestFailure>(), RequestFailure::NoAnswer);
        QCOMPARE(resetFailures.first().at(1).value<RequestFailure>(), RequestFailure::Dropped);
        QCOMPARE(resets.size(), 2);
        QCOMPARE(resets.last().at(0).toUInt(), uint(VyxMsg::FIRMWARE_UPDATE_ENTRY));
        rig.controller.setPowered(true);
        QVERIFY(rig.tickUntil([&] { return !rig.finished.isEmpty(); }, UPDATE_TICKS));
        QCOMPARE(rig.finished.first().at(0).toBool(), true);
        QCOMPARE(rig.lastMessage(), QStringLiteral("Firmware update successful"));
    }

    // A controller that answers everything 60 ms late (a slow adapter, a loaded machine):
    // each bootloader request goes out as the answer before it comes, between two ticks,
    // and its answer comes after the next tick but one. It is awaited: the update succeeds
    // (it used to end after "Device auto-connection" with Error 0x100).
    void lateBootloaderAnswersAreAwaited()
    {
        SimulatorConfig config;
        config.faults.answerDelayMs = 60;
        FlashRig rig(config);
        const QByteArray image = TestImages::plainImage(8192);
        QVERIFY(TestImages::writeFile(rig.imagePath(), image));
        QVERIFY(rig.connect());
        QSignalSpy states(rig.fw, &UpdateFwHelper::on_updateFwState);

        rig.app.startFirmwareUpdate(rig.imagePath());
        QVERIFY(rig.tickUntil([&] { return !rig.finished.isEmpty(); }, UPDATE_TICKS));
        QVERIFY(!states.isEmpty());
        QCOMPARE(states.at(1).at(0).toString(), QStringLiteral("Device auto-connection"));
        QCOMPARE(rig.lastMessage(), QStringLiteral("Firmware update successful"));
        QCOMPARE(rig.finished.first().at(0).toBool(), true);
        QCOMPARE(rig.controller.bootloader().flash().left(image.size()), image);
    }

    void encryptedImageSkipsItsHeader()
    {
        SimulatorConfig config;
        config.bootloader.aes = true;
        FlashRig rig(config);
        const QByteArray file = TestImages::encryptedImage(4352);
        QVERIFY(TestImages::writeFile(rig.imagePath(), file));
        QVERIFY(rig.connect());

        rig.app.startFirmwareUpdate(rig.imagePath());
        QVERIFY(rig.tickUntil([&] { return !rig.finished.isEmpty(); }, UPDATE_TICKS));

        QCOMPARE(rig.lastMessage(), QStringLiteral("Firmware update successful"));
        QVERIFY(rig.sentRequest(QByteArray::fromHex("a05f")));
        QVERIFY(rig.sentRequest(file.mid(8, 16) + char(Bootloader::xorOf(file.mid(8, 16)))));
        QCOMPARE(rig.pageAddresses().size(), 16);
        QCOMPARE(rig.pageAddresses().last(), 3840u);
        QCOMPARE(rig.writeProgress().last(), 94);
        // Pages taken from file offsets 256 ... 4096, passed on as they are.
        QCOMPARE(rig.controller.bootloader().flash().left(4096), file.mid(256));
    }

    // Another bootloader version: the file goes as it is; the short last page is filled
    // with 0xFF and the progress stops at 100.
    // A bootloader of another version takes the image as it is (it passed the checks that
    // need no bootloader before the reset).
    void otherBootloaderVersionTakesTheImageAsItIs()
    {
        SimulatorConfig config;
        config.bootloader.version = 0x92;
        FlashRig rig(config);
        const QByteArray image = TestImages::plainImage(4096, 0x11, 0x22);
        QVERIFY(TestImages::writeFile(rig.imagePath(), image));
        QVERIFY(rig.connect());

        rig.app.startFirmwareUpdate(rig.imagePath());
        QVERIFY(rig.tickUntil([&] { return !rig.finished.isEmpty(); }, UPDATE_TICKS));

        QCOMPARE(rig.lastMessage(), QStringLiteral("Firmware update successful"));
        QCOMPARE(rig.pageAddresses().size(), 16);
        QCOMPARE(rig.controller.bootloader().flash().left(image.size()), image);
    }

    // A bad image never leaves the controller in its bootloader: what no bootloader could
    // take (no file, an empty one) is refused before anything is sent; what depends on the
    // bootloader's version (length, header, checksum, variant, flash size) is found once it
    // has told its version, after the reset and before any page, and the old application
    // is started again.
    void imageProblemsStopBeforeWriting_data()
    {
        QTest::addColumn<QByteArray>("image");
        QTest::addColumn<int>("flashKiB");
        QTest::addColumn<uint32_t>("error");
        QTest::addColumn<bool>("beforeReset");

        QByteArray changed = TestImages::plainImage(8192);
        changed[100] = char(changed[100] ^ 0x01);
        QByteArray encryptedChanged = TestImages::encryptedImage(4096 + 256);
        encryptedChanged[300] = char(encryptedChanged[300] ^ 0x01);
        QTest::newRow("empty") << QByteArray() << 64 << UpdateError::Length << true;
        QTest::newRow("1 byte") << QByteArray(1, '\x79') << 64 << UpdateError::Length << false;
        QTest::newRow("4100 bytes") << TestImages::plainImage(4100) << 64 << UpdateError::Length << false;
        QTest::newRow("changed byte") << changed << 64 << UpdateError::Checksum << false;
        QTest::newRow("encrypted, changed byte") << encryptedChanged << 64 << UpdateError::Checksum << false;
        QTest::newRow("text file") << QByteArray("not firmware\n").repeated(315) << 64 << UpdateError::Length << false;
        QTest::newRow("no file") << QByteArray("no file") << 64 << UpdateError::File << true;
        QTest::newRow("other variant") << TestImages::plainImage(8192, 0x5A, 0xC4) << 64 << UpdateError::Variant
                                       << false;
        QTest::newRow("larger than the flash") << TestImages::plainImage(8192) << 20 << UpdateError::Size << false;
    }

    void imageProblemsStopBeforeWriting()
    {
        QFETCH(QByteArray, image);
        QFETCH(int, flashKiB);
        QFETCH(uint32_t, error);
        QFETCH(bool, beforeReset);
        SimulatorConfig config;
        config.bootloader.flashKiB = flashKiB;
        config.bootloader.aes = image.startsWith("BOOTLD91");
        FlashRig rig(config);
        if (image != "no file")
            QVERIFY(TestImages::writeFile(rig.imagePath(), image));
        QVERIFY(rig.connect());

        rig.app.startFirmwareUpdate(rig.imagePath());
        QVERIFY(rig.tickUntil([&] { return !rig.finished.isEmpty(); }, UPDATE_TICKS));

        QCOMPARE(rig.finished.first().at(1).value<uint32_t>(), error);
        QCOMPARE(rig.lastMessage(), UpdateFwHelper::imageErrorMessage(error, rig.imagePath()));
        QVERIFY(!rig.sentRequest(QByteArray::fromHex("31ce")));
        QCOMPARE(rig.controller.bootloader().pagesWritten(), 0);
        QCOMPARE(rig.controller.requestsReceived(VyxMsg::FIRMWARE_UPDATE_ENTRY), beforeReset ? 0 : 1);
        // The controller runs its old application and is found again.
        QVERIFY(!rig.controller.isInBootloader());
        QVERIFY(rig.tickUntil([&] { return rig.app.deviceState() == DEVICE_CONNECTED; }, 60));
        QCOMPARE(rig.finished.size(), 1);
    }

    // A bootloader of another version than 0x90 and 0x91 takes the file as it is: no
    // length, header or checksum rule applies, the last page is filled with 0xFF.
    void otherBootloaderVersionTakesTheFileAsItIs_data()
    {
        QTest::addColumn<QByteArray>("image");
        QTest::addColumn<int>("pages");
        QTest::newRow("5000 bytes") << TestImages::randomBytes(5000, 3) << 20;
        QTest::newRow("1 byte") << QByteArray(1, '\x79') << 1;
        QByteArray changed = TestImages::plainImage(8192);
        changed[100] = char(changed[100] ^ 0x01);
        QTest::newRow("a plain image's wrong checksum") << changed << 32;
    }

    void otherBootloaderVersionTakesTheFileAsItIs()
    {
        QFETCH(QByteArray, image);
        QFETCH(int, pages);
        SimulatorConfig config;
        config.bootloader.version = 0x92;
        FlashRig rig(config);
        QVERIFY(TestImages::writeFile(rig.imagePath(), image));
        QVERIFY(rig.connect());

        rig.app.startFirmwareUpdate(rig.imagePath());
        QVERIFY(rig.tickUntil([&] { return !rig.finished.isEmpty(); }, UPDATE_TICKS));

        QCOMPARE(rig.lastMessage(), QStringLiteral("Firmware update successful"));
        QCOMPARE(rig.pageAddresses().size(), pages);
        const QByteArray flash = rig.controller.bootloader().flash();
        QCOMPARE(flash.left(image.size()), image);
        QCOMPARE(flash.mid(image.size(), pages * 256 - image.size()), QByteArray(pages * 256 - image.size(), '\xff'));
    }

    void nackWhileWritingRestartsOnce_data()
    {
        QTest::addColumn<int>("nackTimes");
        QTest::newRow("one NACK: the image again from 0") << 1;
        QTest::newRow("second NACK: error 0x1") << 2;
    }

    void nackWhileWritingRestartsOnce()
    {
        QFETCH(int, nackTimes);
        SimulatorConfig config;
        config.faults.nackPage = 4; // the fifth page
        config.faults.nackPageTimes = nackTimes;
        FlashRig rig(config);
        const QByteArray image = TestImages::plainImage(8192);
        QVERIFY(TestImages::writeFile(rig.imagePath(), image));
        QVERIFY(rig.connect());

        rig.app.startFirmwareUpdate(rig.imagePath());
        QVERIFY(rig.tickUntil([&] { return !rig.finished.isEmpty(); }, UPDATE_TICKS));

        const QList<uint32_t> addresses = rig.pageAddresses();
        QCOMPARE(addresses.mid(0, 6), QList<uint32_t>({0, 256, 512, 768, 1024, 0}));
        QCOMPARE(rig.writeProgress().mid(0, 6), QList<int>({0, 3, 6, 9, 12, 0}));
        if (nackTimes == 1) {
            QCOMPARE(rig.lastMessage(), QStringLiteral("Firmware update successful"));
            QCOMPARE(addresses.size(), 5 + 32);
            QCOMPARE(rig.controller.bootloader().flash().left(image.size()), image);
        } else {
            QCOMPARE(rig.lastMessage(), QStringLiteral("An update problem has occurred. Error 0x1"));
            QCOMPARE(addresses.size(), 5 + 5);
            QVERIFY(!rig.sentRequest(QByteArray::fromHex("21de")));
        }
    }

    // A NACK to the start command sends it again, three times at most; the fourth NACK
    // ends the update with error 0x80 although every page was written.
    void nackToTheStartCommandIsResent_data()
    {
        QTest::addColumn<int>("nackTimes");
        QTest::addColumn<QString>("message");
        QTest::newRow("one NACK") << 1 << QStringLiteral("Firmware update successful");
        QTest::newRow("three NACKs") << 3 << QStringLiteral("Firmware update successful");
        QTest::newRow("four NACKs: error 0x80") << 4 << QStringLiteral("An update problem has occurred. Error 0x80");
    }

    void nackToTheStartCommandIsResent()
    {
        QFETCH(int, nackTimes);
        QFETCH(QString, message);
        SimulatorConfig config;
        config.faults.nackStartTimes = nackTimes;
        FlashRig rig(config);
        const QByteArray image = TestImages::plainImage(8192);
        QVERIFY(TestImages::writeFile(rig.imagePath(), image));
        QVERIFY(rig.connect());

        rig.app.startFirmwareUpdate(rig.imagePath());
        QVERIFY(rig.tickUntil([&] { return !rig.finished.isEmpty(); }, UPDATE_TICKS));

        QCOMPARE(rig.lastMessage(), message);
        QCOMPARE(rig.finished.size(), 1);
        QCOMPARE(rig.finished.first().at(0).toBool(), nackTimes <= 3);
        QCOMPARE(rig.sentRequests(QByteArray::fromHex("21de")), qMin(nackTimes + 1, 4));
        QCOMPARE(rig.controller.bootloader().flash().left(image.size()), image);
        QCOMPARE(rig.controller.isInBootloader(), nackTimes > 3);
    }

    void silentBootloaderFailsAfterTenSeconds_data()
    {
        QTest::addColumn<int>("atState");
        QTest::newRow("while writing") << int(UpdateFwHelper::WritePage);
        QTest::newRow("no ACK to the start command") << int(UpdateFwHelper::StartApplication);
    }

    void silentBootloaderFailsAfterTenSeconds()
    {
        QFETCH(int, atState);
        FlashRig rig(SimulatorConfig {});
        QVERIFY(TestImages::writeFile(rig.imagePath(), TestImages::plainImage(8192)));
        QVERIFY(rig.connect());
        rig.app.startFirmwareUpdate(rig.imagePath());
        QVERIFY(rig.tickUntil([&] { return int(rig.fw->state()) == atState; }, UPDATE_TICKS));
        rig.controller.setPowered(false);

        // 10 s of ticks: the watchdog gives up at the 200th, the next tick reports.
        for (int i = 0; i < 195; ++i)
            rig.tick();
        QVERIFY(rig.finished.isEmpty());
        QVERIFY(rig.tickUntil([&] { return !rig.finished.isEmpty(); }, 10));
        QCOMPARE(rig.lastMessage(), QStringLiteral("An update problem has occurred. Error 0x100"));
        QVERIFY(!rig.fw->isUpdateRunning());
        QCOMPARE(rig.fw->state(), UpdateFwHelper::UpdateIdle);
    }

    // A controller still booting answers its first identity request late, about when the
    // look for a waiting bootloader sends its sync; its serial number is full of ACK bytes.
    // Whatever the timing, it is found as the running controller it is.
    void lateIdentityAnswerIsNoBootloader()
    {
        for (int afterMs = 850; afterMs <= 1100; afterMs += 10) {
            SimulatorConfig config;
            config.identity.serialNumber = 0x79797979;
            config.faults.identityAfterMs = afterMs;
            config.faults.answerDelayMs = 30;
            FlashRig rig(config);
            QSignalSpy found(rig.fw, &UpdateFwHelper::bootloaderFound);
            QVERIFY(rig.openPort());
            QVERIFY2(rig.tickUntil([&] { return rig.app.deviceState() == DEVICE_CONNECTED || !found.isEmpty(); }, 80),
                     qPrintable(QString::number(afterMs)));
            QVERIFY2(found.isEmpty(), qPrintable(QStringLiteral("taken for a bootloader at %1 ms").arg(afterMs)));
            QVERIFY(!rig.fw->isBootloaderWaiting());
        }
    }

    // Only the first byte after the sync's echo answers it: an ACK later in a stray answer
    // does not make a controller waiting in its bootloader.
    void probeCountsOnlyTheFirstByte_data()
    {
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<bool>("found");
        QTest::newRow("ACK") << QByteArray::fromHex("79") << true;
        QTest::newRow("frame start, then ACK bytes") << QByteArray::fromHex("1a0179797979") << false;
        QTest::newRow("NACK, then ACK") << QByteArray::fromHex("1f79") << false;
    }

    void probeCountsOnlyTheFirstByte()
    {
        QFETCH(QByteArray, answer);
        QFETCH(bool, found);
        RequestChannel requests(QStringLiteral("UpdateFwHelper"));
        ChannelPlayer line(&requests);
        UpdateFwHelper fw(&requests);
        QSignalSpy bootloader(&fw, &UpdateFwHelper::bootloaderFound);
        QSignalSpy sync(&requests, &RequestChannel::bytesSent);
        // A look that is due waits while a frame answer may still come.
        for (int i = 0; i < 2 * UpdateFwHelper::PROBE_AFTER_TICKS; ++i)
            fw.probeTick(true, false);
        QCOMPARE(sync.size(), 0);
        fw.probeTick(true, true);
        QCOMPARE(sync.size(), 1);
        line.feed(answer); // framed as the request line frames a probe's answer: its first byte
        QCOMPARE(bootloader.size(), found ? 1 : 0);
        QCOMPARE(fw.isBootloaderWaiting(), found);
    }

    // A failure raised just before the firmware page is left is reported all the same, and
    // the device model is back to the normal detection.
    void failureRaisedAsThePageIsLeftIsReported()
    {
        SimulatorConfig config;
        config.faults.refuseNext[VyxMsg::FIRMWARE_UPDATE_ENTRY] = 1;
        FlashRig rig(config);
        QVERIFY(TestImages::writeFile(rig.imagePath(), TestImages::plainImage(8192)));
        QVERIFY(rig.connect());
        rig.app.startFirmwareUpdate(rig.imagePath());
        // The refusal arrives between two ticks; the page is left before the next one.
        for (int i = 0; i < 40 && rig.fw->state() != UpdateFwHelper::UpdateFailed; ++i) {
            rig.controller.advance(AppBase::TICK_MS);
            for (int j = 0; j < 4; ++j)
                QCoreApplication::processEvents();
        }
        QCOMPARE(rig.fw->state(), UpdateFwHelper::UpdateFailed);
        QCOMPARE(pageChangeAnswer(rig.app, 0), QStringLiteral("allowed"));
        rig.app.setActivePage(0);
        QCOMPARE(rig.app.activity(), AppBase::ActivityDevice);

        QVERIFY(rig.tickUntil([&] { return !rig.finished.isEmpty(); }, 5));
        QCOMPARE(rig.finished.first().at(1).value<uint32_t>(), UpdateError::ResetRefused);
        QCOMPARE(rig.lastMessage(), errorText(UpdateError::ResetRefused));
        QVERIFY(rig.tickUntil([&] { return rig.app.deviceState() == DEVICE_CONNECTED; }, 60));
    }

    // The activity is changed in the coordinator's thread only: a start asked from another
    // thread is carried there.
    void startFromAnotherThreadChangesTheActivityInItsOwn()
    {
        FlashRig rig(SimulatorConfig {});
        QVERIFY(TestImages::writeFile(rig.imagePath(), TestImages::plainImage(8192)));
        QVERIFY(rig.connect());
        rig.app.setActivePage(0);
        QCOMPARE(rig.app.activity(), AppBase::ActivityDevice);
        std::thread other([&] { rig.app.startFirmwareUpdate(rig.imagePath()); });
        other.join();
        QCOMPARE(rig.app.activity(), AppBase::ActivityDevice);
        QVERIFY(!rig.fw->isUpdateRunning());
        QCoreApplication::processEvents();
        QCOMPARE(rig.app.activity(), AppBase::ActivityFirmware);
        QVERIFY(rig.fw->isUpdateRunning());
    }

    // Asked from another thread, the update still keeps the controller's settings first, in
    // the device model's thread, before anything is sent to the controller.
    void startFromAnotherThreadKeepsTheSettingsFirst()
    {
        FlashRig rig(SimulatorConfig {});
        QVERIFY(TestImages::writeFile(rig.imagePath(), TestImages::plainImage(8192)));
        QVERIFY(rig.connect());
        QVERIFY(rig.tickUntil([&] { return !rig.app.device()->isReadBatchRunning(); }, 200));
        const QByteArray motionBefore = rig.app.device()->motionParams().pack();
        int keptWhenSent = -1;
        bool keptWhenRunning = true;
        QObject::connect(rig.app.settingsKeeper(), &SettingsKeeper::snapshotKept, [&](qint64 id, const QString &) {
            if (id > 0) {
                keptWhenSent = rig.sent.size();
                keptWhenRunning = rig.fw->isUpdateRunning();
            }
        });
        const int sentBefore = rig.sent.size();
        std::thread other([&] { rig.app.startFirmwareUpdate(rig.imagePath()); });
        other.join();
        QCoreApplication::processEvents();
        QVERIFY(rig.fw->isUpdateRunning());
        QCOMPARE(keptWhenSent, sentBefore);
        QVERIFY(!keptWhenRunning);
        QVector<SettingsSnapshot> kept;
        QString problem;
        QVERIFY2(rig.app.settingsKeeper()->snapshots()->list(QString(), &kept, &problem), qPrintable(problem));
        QCOMPARE(kept.size(), 1);
        QCOMPARE(kept[0].reason, QStringLiteral("firmware update"));
        QCOMPARE(kept[0].motion, motionBefore);
    }

    // A full disk: the controller's settings can be kept neither in the database nor in a
    // file. The update is not started and nothing reaches the controller, unless the caller
    // allows an update without a backup.
    void backupKeptNowhereStopsTheUpdateUnlessAllowed()
    {
        FlashRig rig(SimulatorConfig {});
        QVERIFY(TestImages::writeFile(rig.imagePath(), TestImages::plainImage(8192)));
        QVERIFY(rig.connect());
        QVERIFY(rig.tickUntil([&] { return !rig.app.device()->isReadBatchRunning(); }, 200));
        QSignalSpy backupFailed(&rig.app, &AppBase::updateBackupFailed);
        const int sentBefore = rig.sent.size();
        {
            FileSizeLimit fullDisk(0);
            QVERIFY(fullDisk.active());
            rig.app.startFirmwareUpdate(rig.imagePath());
        }
        QCOMPARE(backupFailed.size(), 1);
        QVERIFY2(backupFailed.at(0).at(1).toString().contains(QStringLiteral("the disk is full")),
                 qPrintable(backupFailed.at(0).at(1).toString()));
        QCOMPARE(backupFailed.at(0).at(2).toBool(), true);
        rig.tickUntil([] { return false; }, 40);
        QVERIFY(!rig.fw->isUpdateRunning());
        QCOMPARE(rig.sent.size(), sentBefore);
        QVERIFY(!rig.controller.isInBootloader());
        QVERIFY(QDir(rig.dataDir.path()).entryList({QStringLiteral("settings-backup-*")}).isEmpty());

        {
            FileSizeLimit fullDisk(0);
            rig.app.startFirmwareUpdate(rig.imagePath(), AppBase::UpdateBackup::NotRequired);
        }
        QCOMPARE(backupFailed.size(), 2);
        QCOMPARE(backupFailed.at(1).at(2).toBool(), false);
        QVERIFY(rig.fw->isUpdateRunning());
        QVERIFY(rig.tickUntil([&] { return !rig.finished.isEmpty(); }, UPDATE_TICKS));
        QCOMPARE(rig.finished.first().at(0).toBool(), true);
    }

    void runningDeviceIsNotUpdated()
    {
        SimulatorConfig config;
        config.identity.startRunning = true;
        FlashRig rig(config);
        QVERIFY(TestImages::writeFile(rig.imagePath(), TestImages::plainImage(8192)));
        QVERIFY(rig.connect(DEVICE_RUNNING));
        QSignalSpy vyx(rig.fw->requests(), &RequestChannel::requestSent);

        rig.app.startFirmwareUpdate(rig.imagePath());
        for (int i = 0; i < 5; ++i)
            rig.tick();

        QCOMPARE(rig.lastMessage(), RunningMode::refusal("The device is running. Please restart to update the firmware."));
        QVERIFY(rig.lastMessage().contains(QLatin1String("switched off and on again")));
        QCOMPARE(vyx.size(), 0);
        QCOMPARE(rig.sent.size(), 0);
        QVERIFY(!rig.controller.isInBootloader());
    }

    void noBootloaderCountsDownTenSeconds()
    {
        FlashRig rig(SimulatorConfig {});
        QVERIFY(TestImages::writeFile(rig.imagePath(), TestImages::plainImage(8192)));
        rig.controller.setPowered(false);
        QVERIFY(rig.openPort());
        rig.app.setActivePage(4);

        rig.app.startFirmwareUpdate(rig.imagePath()); // no device: wait for a bootloader
        QCOMPARE(rig.fw->state(), UpdateFwHelper::UpdateWaitDevice);
        QCOMPARE(rig.app.deviceState(), DEVICE_BOOT_STARTED);
        QVERIFY(rig.tickUntil([&] { return !rig.finished.isEmpty(); }, 220));
        QCOMPARE(rig.lastMessage(), QStringLiteral("Device was not connected"));
        QCOMPARE(rig.progress.size(), UpdateFwHelper::SYNC_TICKS);
        QCOMPARE(rig.progress.first().at(3).toString(), QStringLiteral("10 s"));
        QCOMPARE(rig.progress.at(19).at(3).toString(), QStringLiteral("9 s"));
        QCOMPARE(rig.progress.last().at(3).toString(), QStringLiteral("0 s"));
        QCOMPARE(rig.progress.last().at(0).toInt(), UpdateFwHelper::SYNC_TICKS);
        QCOMPARE(rig.app.deviceState(), DEVICE_DISCONNECTED); // back to normal detection
        rig.tick();
        QCOMPARE(rig.finished.size(), 1); // ended once, though the device model answered at once
    }

    void lostDeviceStopsTheUpdateQuietly()
    {
        FlashRig rig(SimulatorConfig {});
        QVERIFY(TestImages::writeFile(rig.imagePath(), TestImages::plainImage(8192)));
        QVERIFY(rig.connect());
        rig.controller.setPowered(false);
        rig.app.startFirmwareUpdate(rig.imagePath());
        // The reset request is lost (or dropped unsent behind the device model's lost
        // reads, and sent again); either way the update ends within 2 s, and the page's
        // button is usable again.
        QSignalSpy pageState(rig.fw, &UpdateFwHelper::on_updateFwState);
        QVERIFY(rig.tickUntil([&] { return !rig.finished.isEmpty(); }, 41));
        QVERIFY(!rig.fw->isUpdateRunning());
        QVERIFY(pageState.last().at(3).toBool());
    }
};

QTEST_GUILESS_MAIN(TestUpdateFwHelper)
#include "tst_updatefwhelper.moc"
