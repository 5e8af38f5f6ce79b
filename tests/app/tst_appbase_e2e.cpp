#include "app/appbase.h"
#include "device/pinghelper.h"
#include "link/comhelper.h"
#include "link/serialportprovider.h"
#include "tests/common/runningcoordinator.h"
#include "tests/common/simprocess.h"
#include "tests/common/framedecode.h"
#include "wire/messageids.h"
#include "wire/records.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

// The whole device side as the program runs it: the coordinator in its own thread on its
// real 50 ms clock, the serial stack, and the standalone simulated controller on a
// pseudo-terminal given as the maker's adapter.
class TestAppBaseEndToEnd : public QObject
{
    Q_OBJECT

    // The duty commands of the TELEMETRY requests in a simulator's trace, in order.
    static QVector<DutyCommand> receivedDutyCommands(const QString &trace)
    {
        QVector<DutyCommand> commands;
        QFile file(trace);
        if (!file.open(QIODevice::ReadOnly))
            return commands;
        for (const QByteArray &line : file.readAll().split('\n')) {
            const int at = line.indexOf(" in  ");
            if (at < 0)
                continue;
            const VYX_Protocol::VYX_MSG msg = decodeFrame(QByteArray::fromHex(line.mid(at + 5).trimmed()));
            if (msg.msgId == VyxMsg::TELEMETRY)
                commands.append(DutyCommand::decode(msg.payloadBytes()));
        }
        return commands;
    }

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
        QObject listener; // goes first, and the samples still queued for it with it
        connect(app->pingHelper(), &PingHelper::addSample, &listener, [&samples] { ++samples; });

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

        QVERIFY(app->stopAndMoveTo(QThread::currentThread(), 10000));
        QVERIFY(!app->isTimerActive());
        coordinatorThread.quit();
        QVERIFY(coordinatorThread.wait(10000));
        delete app;
    }

    // A controller that stops answering while the motor runs: one request with control off
    // follows (no answer awaited), then the search; the controller still hears it.
    void silentControllerGetsControlOff()
    {
        QTemporaryDir dataDir;
        const QString trace = dataDir.filePath(QStringLiteral("silent.trace"));
        SimProcess sim({QStringLiteral("--silent-after"), QStringLiteral("120"), QStringLiteral("--trace"), trace});
        QVERIFY2(sim.isReady(), "kordo-sim did not start");
        SerialPortProvider provider({sim.adapterPortSpec()});
        RunningCoordinator coordinator(&provider, dataDir.path());
        AppBase *app = coordinator.app;
        coordinator.start();
        QTRY_COMPARE_WITH_TIMEOUT(app->deviceState(), DEVICE_CONNECTED, 20000);
        app->pingHelper()->startRun();
        QTRY_COMPARE_WITH_TIMEOUT(app->deviceState(), DEVICE_RUNNING, 20000);
        app->pingHelper()->setDutyCycle(30, true);
        QTRY_COMPARE_WITH_TIMEOUT(app->deviceState(), DEVICE_DISCONNECTED, 60000);

        QVector<DutyCommand> commands;
        QTRY_VERIFY_WITH_TIMEOUT((commands = receivedDutyCommands(trace), !commands.isEmpty() && !commands.last().enable),
                                 10000);
        int running = 0;
        for (const DutyCommand &command : qAsConst(commands))
            running += command.enable && command.duty == DutyCommand::dutyFromPercent(30) ? 1 : 0;
        QVERIFY(running > 0);  // the motor ran before the controller went silent
        QCOMPARE(commands.last().duty, int16_t(0));
        QVERIFY(commands[commands.size() - 2].enable); // exactly one request with control off
    }

    // The controller's port goes for 5 s while the control page is chosen, then comes back:
    // no requests pile up meanwhile, and the return gives exactly one device and one log file.
    void portGoneForFiveSecondsOnTheControlPage()
    {
        QTemporaryDir linkDir;
        const QString link = linkDir.filePath(QStringLiteral("ttyKORDO"));
        auto sim = std::make_unique<SimProcess>(QStringList(), 30000, link);
        QVERIFY2(sim->isReady(), "kordo-sim did not start");
        QTemporaryDir dataDir;
        SerialPortProvider provider({sim->adapterPortSpec()});
        RunningCoordinator coordinator(&provider, dataDir.path());
        AppBase *app = coordinator.app;
        int created = 0;
        QObject listener; // goes first: no state change reaches the counter after the test
        connect(app->device(), &Device::deviceConnectionStateChanged, &listener,
                [&created](Device_State_e state) { created += state == DEVICE_CONNECTED ? 1 : 0; });
        coordinator.start();
        QTRY_COMPARE_WITH_TIMEOUT(app->deviceState(), DEVICE_CONNECTED, 20000);
        app->setActivePage(3);
        QTRY_COMPARE_WITH_TIMEOUT(app->activity(), AppBase::ActivityControl, 10000);
        QTRY_COMPARE_WITH_TIMEOUT(coordinator.logFiles(), 1, 10000);

        sim.reset(); // unplugged
        QTRY_COMPARE_WITH_TIMEOUT(app->deviceState(), DEVICE_DISCONNECTED, 20000);
        app->setActivePage(3); // the user chooses the control page again meanwhile
        QTest::qWait(5000);
        int queued = -1;
        QMetaObject::invokeMethod(app->comHelper(), [&queued, app] { queued = app->comHelper()->queuedRequests(); },
                                  Qt::BlockingQueuedConnection);
        QCOMPARE(queued, 0);

        sim = std::make_unique<SimProcess>(QStringList(), 30000, link);
        QVERIFY2(sim->isReady(), "kordo-sim did not start again");
        QTRY_COMPARE_WITH_TIMEOUT(app->deviceState(), DEVICE_CONNECTED, 60000);
        QTRY_COMPARE_WITH_TIMEOUT(coordinator.logFiles(), 2, 10000);
        QTest::qWait(1500); // a flood of stale detections would create the device again now
        QCOMPARE(created, 2);
        QCOMPARE(coordinator.logFiles(), 2);
    }

    // A machine with a built-in port: losing the adapter ends in the choice of that port.
    // The adapter plugged in again is taken without the user: the choice closes, the device
    // is connected again and one new log file is written.
    void replugWhileThePortChoiceIsOpen()
    {
        QTemporaryDir linkDir;
        const QString link = linkDir.filePath(QStringLiteral("ttyKORDO"));
        const QString builtIn = linkDir.filePath(QStringLiteral("ttyS0"));
        QFile(builtIn).open(QIODevice::WriteOnly); // listed, never opened
        auto sim = std::make_unique<SimProcess>(QStringList(), 30000, link);
        QVERIFY2(sim->isReady(), "kordo-sim did not start");
        QTemporaryDir dataDir;
        SerialPortProvider provider({sim->adapterPortSpec(), builtIn});
        RunningCoordinator coordinator(&provider, dataDir.path());
        AppBase *app = coordinator.app;
        int choicesOffered = 0;
        int choicesClosed = 0;
        QObject listener; // goes first, and the signals still queued for it with it
        connect(app->comHelper(), &ComHelper::needPortSelectAndInform, &listener,
                [&choicesOffered](const QList<PortInfo> &ports) { choicesOffered += ports.isEmpty() ? 0 : 1; });
        connect(app->comHelper(), &ComHelper::portChoiceClosed, &listener, [&choicesClosed] { ++choicesClosed; });
        coordinator.start();
        QTRY_COMPARE_WITH_TIMEOUT(app->deviceState(), DEVICE_CONNECTED, 20000);
        QTRY_COMPARE_WITH_TIMEOUT(coordinator.logFiles(), 1, 10000);
        QCOMPARE(choicesOffered, 0);

        sim.reset(); // unplugged
        QTRY_COMPARE_WITH_TIMEOUT(choicesOffered, 1, 20000);
        QCOMPARE(app->deviceState(), DEVICE_DISCONNECTED);

        sim = std::make_unique<SimProcess>(QStringList(), 30000, link); // the user never answers
        QVERIFY2(sim->isReady(), "kordo-sim did not start again");
        QTRY_COMPARE_WITH_TIMEOUT(app->deviceState(), DEVICE_CONNECTED, 60000);
        QCOMPARE(choicesClosed, 1);
        QTRY_COMPARE_WITH_TIMEOUT(coordinator.logFiles(), 2, 10000);
        QCOMPARE(choicesOffered, 1);
    }
};

QTEST_GUILESS_MAIN(TestAppBaseEndToEnd)
#include "tst_appbase_e2e.moc"
