#include "firmwareimages.h"
#include "flashrig.h"

#include <QtTest>

#include <functional>

// Power cut in the middle of an update: the controller comes back in its bootloader,
// answers the sync but no frame; it is found when the line is searched, and a second
// update completes with the flash holding the image byte for byte.
class TestInterruptedUpdate : public QObject
{
    Q_OBJECT

    enum Cut { AfterReset, AfterIdentification, AfterPage1, AfterMiddlePage, DuringLastPage, BeforeStart };

    static bool reached(FlashRig &rig, Cut cut)
    {
        const UpdateFwHelper::UpdateState state = rig.fw->state();
        const int written = rig.controller.bootloader().pagesWritten();
        switch (cut) {
        case AfterReset:
            return state == UpdateFwHelper::UpdateResetAccepted;
        case AfterIdentification:
            return state == UpdateFwHelper::WriteCommand && written == 0;
        case AfterPage1:
            return written == 1;
        case AfterMiddlePage:
            return written == 16;
        case DuringLastPage:
            return state == UpdateFwHelper::WritePage && rig.pageAddresses().size() == 32;
        case BeforeStart:
            return state == UpdateFwHelper::StartApplication;
        }
        return false;
    }

private slots:
    void secondUpdateCompletes_data()
    {
        QTest::addColumn<int>("cut");
        QTest::addColumn<QString>("firstEnd");
        const QString timeout = QStringLiteral("An update problem has occurred. Error 0x100");
        QTest::newRow("after reset") << int(AfterReset) << QStringLiteral("Device was not connected");
        QTest::newRow("after identification") << int(AfterIdentification) << timeout;
        QTest::newRow("after page 1") << int(AfterPage1) << timeout;
        QTest::newRow("after a middle page") << int(AfterMiddlePage) << timeout;
        QTest::newRow("during the last page") << int(DuringLastPage) << timeout;
        QTest::newRow("before start") << int(BeforeStart) << timeout;
    }

    void secondUpdateCompletes()
    {
        QFETCH(int, cut);
        QFETCH(QString, firstEnd);
        FlashRig rig(SimulatorConfig {});
        const QByteArray image = TestImages::plainImage(8192, 0x5A, 0xC3, 31);
        QVERIFY(TestImages::writeFile(rig.imagePath(), image));
        QVERIFY(rig.connect());
        QSignalSpy found(rig.fw, &UpdateFwHelper::bootloaderFound);

        rig.app.startFirmwareUpdate(rig.imagePath());
        QVERIFY(rig.tickUntil([&] { return reached(rig, Cut(cut)); }, 400));
        rig.controller.setPowered(false);
        QVERIFY(rig.tickUntil([&] { return !rig.finished.isEmpty(); }, 220));
        QCOMPARE(rig.finished.first().at(0).toBool(), false);
        QVERIFY(rig.shown(firstEnd));
        QVERIFY(rig.controller.isInBootloader());

        rig.controller.setPowered(true);
        QVERIFY(rig.tickUntil([&] { return !found.isEmpty(); }, 3 * UpdateFwHelper::PROBE_AFTER_TICKS));
        QVERIFY(rig.tickUntil([&] { return rig.app.deviceState() == DEVICE_BOOT_CONNECTED; }, 5));

        rig.app.startFirmwareUpdate(rig.imagePath());
        QVERIFY(rig.tickUntil([&] { return rig.finished.size() == 2; }, 400));
        QCOMPARE(rig.finished.last().at(0).toBool(), true);
        QCOMPARE(rig.lastMessage(), QStringLiteral("Firmware update successful"));
        QCOMPARE(rig.controller.bootloader().flash().left(image.size()), image);
        QVERIFY(!rig.controller.isInBootloader());
        QVERIFY(rig.tickUntil([&] { return rig.app.deviceState() == DEVICE_CONNECTED; }, 40));
    }
};

QTEST_GUILESS_MAIN(TestInterruptedUpdate)
#include "tst_interruptedupdate.moc"
