#include "app/appbase.h"
#include "cli/flashcommand.h"
#include "device/paramshelper.h"
#include "device/pinghelper.h"
#include "link/comhelper.h"
#include "tests/common/fakeport.h"
#include "tests/common/pagechange.h"
#include "tests/firmware/firmwareimages.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <thread>

// The coordinator driven tick by tick in the test's thread, on a fake port.
class TestAppBase : public QObject
{
    Q_OBJECT

    QTemporaryDir dataDir;
    FakeProvider provider;

    DataDirectory dataDirectory() const
    {
        return DataDirectory::resolve(dataDir.path(), QString(), QString());
    }

    void tickUntilPortOpen(AppBase &app)
    {
        QTRY_VERIFY_WITH_TIMEOUT((app.handleTimeout(), app.activity() == AppBase::ActivityDevice), 10000);
    }

private slots:
    void init()
    {
        provider.ports = {{QStringLiteral("ttyUSB0"), QStringLiteral("/dev/ttyUSB0"), QStringLiteral("AE01"), {}}};
        provider.ready = true;
        provider.problem.clear();
    }

    // The port goes while a device is known, and the control page (then the firmware page)
    // is chosen: nothing is polled or queued, and the controller coming back gets one
    // detection request at a time, not a flood.
    void nothingPilesUpWhileThePortIsGone()
    {
        QTemporaryDir ownDataDir; // its device log stays out of the other tests' way
        AppBase app(&provider, DataDirectory::resolve(ownDataDir.path(), QString(), QString()));
        app.comHelper()->startPortSelection();
        tickUntilPortOpen(app);
        app.handleTimeout();
        app.handleTimeout(); // the first detection request
        DeviceIdentity id;
        id.answerCode = ANSWER_OK;
        id.runFlag = 0;
        id.serialNumber = 12345;
        provider.lastPort->answer(VYX_Protocol().encode(0xEE, VyxMsg::GET_DEVICE_INFO, id.encodeLong()));
        QCOMPARE(app.deviceState(), DEVICE_CONNECTED);

        const PortInfo adapter = provider.ports.first();
        provider.ports.clear(); // unplugged: the port reports its loss, the list follows
        provider.lastPort->vanish();
        app.handleTimeout();
        app.handleTimeout();
        QCOMPARE(app.deviceState(), DEVICE_DISCONNECTED);
        app.setActivePage(3);
        for (int i = 0; i < 50; ++i)
            app.handleTimeout();
        app.setActivePage(4);
        for (int i = 0; i < 50; ++i)
            app.handleTimeout();
        QCOMPARE(app.activity(), AppBase::ActivityNoPort);
        QCOMPARE(app.pingHelper()->pollMode(), PingHelper::PING_OFF);
        QCOMPARE(app.comHelper()->queuedRequests(), 0);

        provider.ports = {adapter};
        tickUntilPortOpen(app);
        for (int i = 0; i < 6; ++i)
            app.handleTimeout();
        // Detection requests at their own pace (one every second tick), none left over.
        QVERIFY(!provider.lastPort->writes.isEmpty());
        QVERIFY(provider.lastPort->writes.size() <= 4);
        for (const QByteArray &request : qAsConst(provider.lastPort->writes))
            QCOMPARE(uint8_t(request.at(2)), VyxMsg::GET_DEVICE_INFO);
    }

    // A settings write queued behind a status poll whose answer is lost: the write is
    // dropped with the poll, its sender is told, sends it again, and it is confirmed.
    void writeBehindALostPollStillGoesOut()
    {
        QTemporaryDir ownDataDir;
        AppBase app(&provider, DataDirectory::resolve(ownDataDir.path(), QString(), QString()));
        app.comHelper()->startPortSelection();
        tickUntilPortOpen(app);
        app.handleTimeout();
        app.handleTimeout(); // the first detection request
        FakePort *line = provider.lastPort;
        const auto lastId = [line] { return uint8_t(line->writes.last().at(2)); };
        const auto answerLast = [line, &lastId](const QByteArray &payload) {
            line->answer(VYX_Protocol().encode(0xEE, lastId(), payload));
        };
        DeviceIdentity id;
        id.answerCode = ANSWER_OK;
        id.runFlag = 0;
        answerLast(id.encodeLong());
        for (int read = 0; read < 5; ++read)
            answerLast(QByteArray(16, '\0'));
        QVERIFY(!app.device()->isReadBatchRunning());

        // Until a status poll is in flight; then the write queues behind it.
        for (int tick = 0; tick < 8 && lastId() != VyxMsg::GET_STATUS; ++tick)
            app.handleTimeout();
        QCOMPARE(lastId(), VyxMsg::GET_STATUS);
        app.paramsHelper()->setMotionParamsDirectly(SET_MOTION_PARAMS());
        QCOMPARE(app.comHelper()->queuedRequests(), 1);

        app.handleTimeout();
        app.handleTimeout(); // the poll is lost; it goes again, the write follows it
        QCOMPARE(lastId(), VyxMsg::GET_STATUS);
        QCOMPARE(app.comHelper()->queuedRequests(), 1);
        answerLast(QByteArray::fromHex("20"));
        QCOMPARE(lastId(), VyxMsg::WRITE_MOTION_PARAMS);
        answerLast(QByteArray::fromHex("20"));
        QCOMPARE(app.paramsHelper()->sendState(), ParamsHelper::PARAMS_ACCEPTED);

        Poll_Answer_s stored;
        stored.hasSavedMsg = true;
        stored.savedMsgId = VyxMsg::WRITE_MOTION_PARAMS;
        for (int tick = 0; tick < 8 && lastId() != VyxMsg::GET_STATUS; ++tick)
            app.handleTimeout();
        answerLast(StatusBlock::encode(ANSWER_OK, stored));
        QVERIFY(!app.paramsHelper()->isSending());
        QCOMPARE(pageChangeAnswer(app, 1), QStringLiteral("allowed"));
    }

    // The page choice arrives from the GUI thread between the port loss and the next tick.
    // It must not hide the loss: that tick restarts the port search.
    void pageChoiceCannotUndoAPortLoss()
    {
        AppBase app(&provider, dataDirectory());
        app.comPortOpened();
        app.comPortClosed(); // as the port manager reports it, inside a tick
        std::thread gui([&app] { app.setActivePage(3); });
        gui.join();
        app.handleTimeout();
        QCOMPARE(app.comHelper()->state(), ComHelper::PortChoose);
        QCoreApplication::processEvents(); // the page choice, now in the coordinator's thread
        QCOMPARE(app.activity(), AppBase::ActivityNoPort); // no port: no page activity yet
    }

    void portProblemReachesTheInfoLineOnce()
    {
        provider.ready = false;
        provider.problem = QStringLiteral("Port ttyUSB0 cannot be opened: no permission to use it");
        AppBase app(&provider, dataDirectory());
        QSignalSpy info(&app, &AppBase::sendTextForInfo);
        app.comHelper()->startPortSelection();
        QTRY_VERIFY_WITH_TIMEOUT((app.handleTimeout(), !info.isEmpty()), 10000);
        for (int i = 0; i < 3; ++i) { // more failed attempts
            app.handleTimeout();
            app.handleTimeout();
            QTRY_COMPARE_WITH_TIMEOUT(app.comHelper()->state(), ComHelper::PortChoose, 10000);
        }
        QCOMPARE(info.size(), 1);
        QCOMPARE(info[0][0].toString(), provider.problem);
        QCOMPARE(info[0][1].toBool(), false); // info line
    }

    void stopWaitsForTheCoordinatorThread()
    {
        QThread coordinatorThread;
        auto *app = new AppBase(&provider, dataDirectory());
        app->moveToThread(&coordinatorThread);
        coordinatorThread.start();
        QMetaObject::invokeMethod(app, &AppBase::startClock, Qt::QueuedConnection);
        QTRY_VERIFY_WITH_TIMEOUT(app->isTimerActive(), 10000);

        QVERIFY(app->stopAndMoveTo(QThread::currentThread(), 10000));
        QVERIFY(!app->isTimerActive());
        QCOMPARE(app->thread(), QThread::currentThread());
        coordinatorThread.quit();
        QVERIFY(coordinatorThread.wait(10000));
        delete app;
    }

    void stopGivesUpAtItsDeadline()
    {
        QThread coordinatorThread;
        auto *app = new AppBase(&provider, dataDirectory());
        app->moveToThread(&coordinatorThread);
        coordinatorThread.start();
        // A step that keeps the coordinator thread busy past the deadline.
        QMetaObject::invokeMethod(app, [] { QThread::msleep(1000); }, Qt::QueuedConnection);
        QVERIFY(!app->stopAndMoveTo(QThread::currentThread(), 50));
        // The stop still happens once the thread gets to it.
        QTRY_COMPARE_WITH_TIMEOUT(app->thread(), QThread::currentThread(), 10000);
        coordinatorThread.quit();
        QVERIFY(coordinatorThread.wait(10000));
        delete app;
    }

    void activityFollowsThePort()
    {
        AppBase app(&provider, dataDirectory());
        QCOMPARE(app.activity(), AppBase::ActivityNoPort);
        QSignalSpy update(&app, &AppBase::on_updateProcess);
        app.comHelper()->startPortSelection();
        tickUntilPortOpen(app);
        QCOMPARE(update.size(), 1);

        QSignalSpy closed(app.comHelper(), &ComHelper::comPortClosed);
        provider.ports.clear(); // unplugged: the port reports its loss, the list follows
        provider.lastPort->vanish();
        app.handleTimeout();
        app.handleTimeout();
        // The port closes and the selection restarts within the same tick.
        QCOMPARE(closed.size(), 1);
        QCOMPARE(app.activity(), AppBase::ActivityNoPort);
        QCOMPARE(app.comHelper()->state(), ComHelper::PortChoose);
        QSignalSpy ask(app.comHelper(), &ComHelper::needPortSelectAndInform);
        app.handleTimeout();
        QCOMPARE(ask.size(), 1);
        QVERIFY(ask[0][0].value<QList<PortInfo>>().isEmpty());
    }

    void pageChoiceSetsTheActivity_data()
    {
        QTest::addColumn<int>("deviceState");
        QTest::addColumn<int>("page");
        QTest::addColumn<int>("activity");
        QTest::addColumn<bool>("askToRun");

        const int disconnected = DEVICE_DISCONNECTED;
        const int connected = DEVICE_CONNECTED;
        const int running = DEVICE_RUNNING;
        QTest::newRow("settings without device") << disconnected << 1 << int(AppBase::ActivityDevice) << false;
        QTest::newRow("settings") << connected << 1 << int(AppBase::ActivityParams) << false;
        QTest::newRow("motor") << connected << 2 << int(AppBase::ActivityIdent) << false;
        QTest::newRow("welcome") << connected << 0 << int(AppBase::ActivityDevice) << false;
        QTest::newRow("control, idle device") << connected << 3 << int(AppBase::ActivityControl) << true;
        QTest::newRow("control, running device") << running << 3 << int(AppBase::ActivityControl) << false;
        QTest::newRow("firmware without device") << disconnected << 4 << int(AppBase::ActivityFirmware) << false;
        QTest::newRow("unknown page") << connected << 9 << int(AppBase::ActivityDevice) << false;
    }

    void pageChoiceSetsTheActivity()
    {
        QFETCH(int, deviceState);
        QFETCH(int, page);
        QFETCH(int, activity);
        QFETCH(bool, askToRun);

        AppBase app(&provider, dataDirectory());
        app.comPortOpened();
        app.deviceStateChanged(Device_State_e(deviceState));
        QSignalSpy toRun(&app, &AppBase::on_deviceToRun);
        app.setActivePage(uint8_t(page));
        QCOMPARE(int(app.activity()), activity);
        QCOMPARE(toRun.size(), askToRun ? 1 : 0);
        // Nothing under way: the window may show the page; a page it does not have is refused.
        QCOMPARE(pageChangeAnswer(app, page),
                 page <= int(AppBase::Work::Firmware) ? QStringLiteral("allowed") : QStringLiteral("refused"));
    }

    // A headless job names its work, not a page of the window.
    void workWithoutAPage()
    {
        AppBase app(&provider, dataDirectory());
        app.comPortOpened();
        app.deviceStateChanged(DEVICE_CONNECTED);
        app.setWork(AppBase::Work::Settings);
        QCOMPARE(app.activity(), AppBase::ActivityParams);
        app.setWork(AppBase::Work::Firmware);
        QCOMPARE(app.activity(), AppBase::ActivityFirmware);
    }

    void connectionWritesTheDeviceLog()
    {
        AppBase app(&provider, dataDirectory());
        QSignalSpy create(&app, &AppBase::createLogFile);
        QSignalSpy info(&app, &AppBase::sendTextForInfo);
        // The polling helper announces the device; the device model reports it connected.
        emit app.pingHelper()->device_createDevice(12345, 1, 2, 3, 7, 0xEE);
        QCOMPARE(app.deviceState(), DEVICE_CONNECTED);
        app.deviceStateChanged(DEVICE_CONNECTED); // reconnection without a disconnect
        QCOMPARE(create.size(), 2);
        QCOMPARE(create[0][0].toString(), app.logDirectory());
        QCOMPARE(create[0][1].toString(), QStringLiteral("1ah5"));

        // The log worker answers from its own thread: a new file per connection, each
        // opened with the connection line.
        const auto logTexts = [&] {
            QByteArrayList texts;
            const QDir dir(app.logDirectory());
            for (const QString &name : dir.entryList({QStringLiteral("1ah5_*.log")}, QDir::Files, QDir::Name)) {
                QFile log(dir.filePath(name));
                texts << (log.open(QIODevice::ReadOnly) ? log.readAll() : QByteArray());
            }
            return texts;
        };
        QTRY_COMPARE_WITH_TIMEOUT(logTexts().size(), 2, 10000);
        QTRY_VERIFY_WITH_TIMEOUT(logTexts().join().count("M Connected device 12345") == 2, 10000);
        QCOMPARE(info.size(), 0);
    }

    // A controller that answered and is gone stops control with an alarm; the end of the
    // bootloader (a firmware update's resets, its success too) closes the log without one.
    void disconnectionStopsControlAndClosesTheLog_data()
    {
        QTest::addColumn<QVector<int>>("statesBefore");
        QTest::addColumn<bool>("alarm");
        QTest::newRow("connected") << QVector<int> {DEVICE_CONNECTED} << true;
        QTest::newRow("running") << QVector<int> {DEVICE_CONNECTED, DEVICE_RUNNING} << true;
        QTest::newRow("update: bootloader found")
            << QVector<int> {DEVICE_CONNECTED, DEVICE_BOOT_STARTED, DEVICE_BOOT_CONNECTED} << false;
        QTest::newRow("update: bootloader not found") << QVector<int> {DEVICE_CONNECTED, DEVICE_BOOT_STARTED} << false;
    }

    void disconnectionStopsControlAndClosesTheLog()
    {
        QFETCH(QVector<int>, statesBefore);
        QFETCH(bool, alarm);
        AppBase app(&provider, dataDirectory());
        QSignalSpy close(&app, &AppBase::closeLogFile);
        QSignalSpy reset(&app, &AppBase::resetControl);
        QSignalSpy lost(&app, &AppBase::on_deviceDisconnected);
        for (int state : qAsConst(statesBefore))
            app.deviceStateChanged(Device_State_e(state));
        const int closedBefore = close.size();
        app.deviceStateChanged(DEVICE_DISCONNECTED);
        QCOMPARE(close.size(), closedBefore + 1);
        QCOMPARE(reset.size(), alarm ? 1 : 0);
        if (alarm) {
            QCOMPARE(reset[0][0].toString(), QStringLiteral("Control signal lost"));
            QCOMPARE(int(reset[0][1].value<uint8_t>()), 2);
        }
        QCOMPARE(lost.size(), 1);
    }

    // The only adapter of the maker present is not the port the user named: the headless
    // update opens the named port, never the adapter the port manager would take by itself.
    void flashWorksOnTheNamedPortOnly()
    {
        struct RecordingProvider : FakeProvider
        {
            QStringList created;
            QIODevice *createPort(const QString &name, QObject *parent) override
            {
                created << name;
                // The first port opened decides the test: the command's own loop ends here.
                QTimer::singleShot(0, [] { QCoreApplication::exit(1); });
                return FakeProvider::createPort(name, parent);
            }
        } ports;
        ports.ports = {{QStringLiteral("ttyUSB0"), QStringLiteral("/dev/ttyUSB0"), QStringLiteral("AE01"), {}},
                       {QStringLiteral("pts-7"), QStringLiteral("/dev/pts/7"), QString(), {}}};
        QTemporaryFile image;
        QVERIFY(image.open());
        image.write(TestImages::plainImage(8192)); // a sound image: a bad one opens no port at all
        image.flush();
        QString output;
        QTextStream out(&output);
        QTextStream err(&output);
        FlashCommand(&ports, dataDirectory(), {QStringLiteral("pts-7")}, out, err).run(image.fileName());
        QCOMPARE(ports.created, QStringList {QStringLiteral("pts-7")});
    }

    void userMessages_data()
    {
        QTest::addColumn<int>("logState");
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("isMsgBox");
        QTest::newRow("log not created") << 1 << QStringLiteral("Log file is not created") << true;
        QTest::newRow("log not written") << 2 << QStringLiteral("Data is not written to log file!") << false;
    }

    void userMessages()
    {
        QFETCH(int, logState);
        QFETCH(QString, text);
        QFETCH(bool, isMsgBox);
        AppBase app(&provider, dataDirectory());
        QSignalSpy info(&app, &AppBase::sendTextForInfo);
        app.logFileState(uint8_t(logState));
        app.setError(0x1F);
        QCOMPARE(info.size(), 2);
        QCOMPARE(info[0][0].toString(), text);
        QCOMPARE(info[0][1].toBool(), isMsgBox);
        QCOMPARE(info[1][0].toString(), QStringLiteral("Error: 0x1f\nCould not be read from the device: PWM input "
                                                       "settings, motion settings, motor parameters, motor data, motor hours"));
        QCOMPARE(info[1][1].toBool(), true);
    }

    void failedReadNamesTheRecord_data()
    {
        QTest::addColumn<uint>("failedMask");
        QTest::addColumn<QString>("text");
        QTest::newRow("PWM input") << 0x01u << "Error: 0x1\nCould not be read from the device: PWM input settings";
        QTest::newRow("motor hours") << 0x10u << "Error: 0x10\nCould not be read from the device: motor hours";
        QTest::newRow("motor record") << 0x0Cu
                                      << "Error: 0xc\nCould not be read from the device: motor parameters, motor data";
    }

    void failedReadNamesTheRecord()
    {
        QFETCH(uint, failedMask);
        AppBase app(&provider, dataDirectory());
        QSignalSpy info(&app, &AppBase::sendTextForInfo);
        emit app.device()->setError(failedMask);
        QCOMPARE(info.size(), 1);
        QTEST(info[0][0].toString(), "text");
        QVERIFY(info[0][1].toBool());
    }
};

QTEST_GUILESS_MAIN(TestAppBase)
#include "tst_appbase.moc"
