#include "app/appbase.h"
#include "device/pinghelper.h"
#include "link/comhelper.h"
#include "tests/common/fakeport.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

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
        provider.ports.clear(); // unplugged
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
        QVERIFY(!app.isActivityBusy());
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

    void disconnectionStopsControlAndClosesTheLog()
    {
        AppBase app(&provider, dataDirectory());
        QSignalSpy close(&app, &AppBase::closeLogFile);
        QSignalSpy reset(&app, &AppBase::resetControl);
        QSignalSpy lost(&app, &AppBase::on_deviceDisconnected);
        app.deviceStateChanged(DEVICE_CONNECTED);
        app.deviceStateChanged(DEVICE_DISCONNECTED);
        QCOMPARE(close.size(), 1);
        QCOMPARE(reset.size(), 1);
        QCOMPARE(reset[0][0].toString(), QStringLiteral("Control signal lost"));
        QCOMPARE(int(reset[0][1].value<uint8_t>()), 2);
        QCOMPARE(lost.size(), 1);
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
        QCOMPARE(info[1][0].toString(), QStringLiteral("Error: 0x1f"));
        QCOMPARE(info[1][1].toBool(), true);
    }
};

QTEST_GUILESS_MAIN(TestAppBase)
#include "tst_appbase.moc"
