#include "app/appbase.h"
#include "device/pinghelper.h"
#include "link/comhelper.h"
#include "link/serialportprovider.h"
#include "tests/common/simprocess.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

// The whole device side as the program runs it: the coordinator in its own thread on its
// real 50 ms clock, the serial stack, and the standalone simulated controller on a
// pseudo-terminal given as the maker's adapter.
class TestAppBaseEndToEnd : public QObject
{
    Q_OBJECT

private slots:
    void findsTheDeviceReadsItAndStreamsTelemetry()
    {
        SimProcess sim;
        QVERIFY2(sim.isReady(), "kordo-sim did not start");
        QTemporaryDir dataDir;
        SerialPortProvider provider({sim.adapterPortSpec()});

        QThread coordinatorThread;
        auto *app = new AppBase(&provider, DataDirectory::resolve(dataDir.path(), {}, {}));
        Device *device = app->device(); // stays in this thread, as it does beside the window
        QSignalSpy pwmIn(device, &Device::ui_fillPwmInParams);
        QSignalSpy motion(device, &Device::ui_fillMotionParams);
        QSignalSpy hours(device, &Device::ui_fillMotorHours);
        QSignalSpy motorName(device, &Device::ui_fillMotorName);
        int samples = 0;
        connect(app->pingHelper(), &PingHelper::addSample, this, [&samples] { ++samples; });

        app->moveToThread(&coordinatorThread);
        coordinatorThread.start();
        QMetaObject::invokeMethod(app, &AppBase::startClock, Qt::QueuedConnection);
        QMetaObject::invokeMethod(app->comHelper(), &ComHelper::startPortSelection, Qt::QueuedConnection);

        QTRY_COMPARE_WITH_TIMEOUT(app->deviceState(), DEVICE_CONNECTED, 20000);
        QTRY_VERIFY_WITH_TIMEOUT(!pwmIn.isEmpty() && !motion.isEmpty() && !hours.isEmpty() && !motorName.isEmpty(),
                                 20000);
        QCOMPARE(device->serialNumber(), 12345u);
        QCOMPARE(hours.last().at(0).value<uint32_t>(), 12345u);

        app->pingHelper()->startRun(); // posts itself into the coordinator thread
        QTRY_COMPARE_WITH_TIMEOUT(app->deviceState(), DEVICE_RUNNING, 20000);
        QTRY_VERIFY_WITH_TIMEOUT(samples >= 20, 30000); // one second of telemetry

        QMetaObject::invokeMethod(app, &AppBase::stopTimer, Qt::BlockingQueuedConnection);
        QVERIFY(!app->isTimerActive());
        coordinatorThread.quit();
        QVERIFY(coordinatorThread.wait(10000));
        delete app;
    }
};

QTEST_GUILESS_MAIN(TestAppBaseEndToEnd)
#include "tst_appbase_e2e.moc"
