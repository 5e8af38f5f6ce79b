#include "app/appbase.h"
#include "device/device.h"
#include "device/paramshelper.h"
#include "link/comhelper.h"
#include "link/portprovider.h"
#include "motors/dbmanager.h"
#include "sim/simulatedcontroller.h"
#include "tests/common/simulatorprovider.h"
#include "wire/messageids.h"

#include <QSignalSpy>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QtTest>

#include <map>

namespace {

enum class Action { None, ClearErrorLog, WriteMotion };

// What a row expects the controller to have received of one message id: exactly `count`
// requests, or at least `count` when `atLeast` (repeats the program may add).
struct Received
{
    int msgId;
    int count;
    bool atLeast;
};

} // namespace

Q_DECLARE_METATYPE(Action)
Q_DECLARE_METATYPE(SimulatorConfig)
Q_DECLARE_METATYPE(QVector<Received>)

// The real coordinator with all its helpers against the simulated controller, each row
// with one named fault: the program reaches a sound device state, and the controller
// counts exactly the requests the program sent. Time moves only with the ticks.
class TestAppBaseSimFaults : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dataDir;

    struct Rig
    {
        explicit Rig(const SimulatorConfig &config, const QString &dataDir)
            : controller(config)
            , provider(&controller)
            , app(&provider, DataDirectory::resolve(dataDir, QString(), QString()))
        {
        }

        void tick()
        {
            controller.advance(AppBase::TICK_MS);
            app.handleTimeout();
            for (int i = 0; i < 5; ++i) // the port delivers by queued calls
                QCoreApplication::processEvents();
        }

        bool tickUntil(const std::function<bool()> &done, int ticks)
        {
            for (int i = 0; i < ticks && !done(); ++i)
                tick();
            return done();
        }

        SimulatedController controller;
        SimulatorProvider provider;
        AppBase app;
    };

private slots:
    void namedFaultsThroughTheCoordinator_data()
    {
        QTest::addColumn<SimulatorConfig>("config");
        QTest::addColumn<Action>("action");
        QTest::addColumn<int>("deviceState");
        QTest::addColumn<QVector<Received>>("received");
        QTest::addColumn<QString>("message");

        const int connected = DEVICE_CONNECTED;
        const int disconnected = DEVICE_DISCONNECTED;

        SimulatorConfig dropDetection;
        dropDetection.faults.dropFirstAnswers[VyxMsg::GET_DEVICE_INFO] = 2;
        QTest::newRow("first 2 identity answers dropped: detection asks again")
            << dropDetection << Action::None << connected
            << QVector<Received> {{VyxMsg::GET_DEVICE_INFO, 3, true}, {VyxMsg::GET_MOTOR_HOURS, 1, false}}
            << QString();

        SimulatorConfig refuseClear;
        refuseClear.faults.refuseNext[VyxMsg::CLEAR_ERROR_LOG] = 1;
        QTest::newRow("clearing the error log refused: said, and the log read again")
            << refuseClear << Action::ClearErrorLog << connected
            << QVector<Received> {{VyxMsg::CLEAR_ERROR_LOG, 1, false}, {VyxMsg::GET_ERROR_LOG, 1, false}}
            << QStringLiteral("Problem with clearing of error log");

        SimulatorConfig refuseMotion;
        refuseMotion.faults.refuseNext[VyxMsg::WRITE_MOTION_PARAMS] = 1;
        QTest::newRow("motion write refused: sent once, not confirmed")
            << refuseMotion << Action::WriteMotion << connected
            << QVector<Received> {{VyxMsg::WRITE_MOTION_PARAMS, 1, false}, {VyxMsg::GET_MOTION_PARAMS, 1, false}}
            << QString();

        SimulatorConfig silent;
        silent.faults.silentAfterMessage = VyxMsg::GET_MOTOR_HOURS;
        QTest::newRow("silent after the motor hours: the device is lost and searched for")
            << silent << Action::None << disconnected
            << QVector<Received> {{VyxMsg::GET_MOTOR_HOURS, 1, false}, {VyxMsg::GET_DEVICE_INFO, 2, true}}
            << QString();
    }

    void namedFaultsThroughTheCoordinator()
    {
        QFETCH(SimulatorConfig, config);
        QFETCH(Action, action);
        QFETCH(int, deviceState);
        QFETCH(QVector<Received>, received);
        QFETCH(QString, message);

        Rig rig(config, m_dataDir.path());
        QSignalSpy texts(&rig.app, &AppBase::sendTextForInfo);
        QSignalSpy states(rig.app.device(), &Device::deviceConnectionStateChanged);
        rig.app.comHelper()->startPortSelection();
        // The port's readiness is checked in a thread of its own: real time, bounded.
        QTRY_VERIFY_WITH_TIMEOUT((rig.tick(), rig.app.activity() == AppBase::ActivityDevice), 10000);
        // Connected, and the stored records read (the motor hours come last).
        QVERIFY(rig.tickUntil([&] { return rig.controller.requestsReceived(VyxMsg::GET_MOTOR_HOURS) > 0; }, 200));
        QVERIFY(rig.tickUntil([&] { return rig.app.deviceState() == DEVICE_CONNECTED; }, 20));
        QVERIFY(rig.tickUntil([&] { return !rig.app.device()->isReadBatchRunning(); }, 40));

        const QByteArray motionBefore = rig.controller.firmware().motionParams().pack();
        if (action == Action::ClearErrorLog) {
            rig.app.paramsHelper()->clearErrorLog();
        } else if (action == Action::WriteMotion) {
            rig.app.setActivePage(1); // the settings page: edits are written after a quiet period
            rig.app.paramsHelper()->setMotionParams(3500, 90, true, false, 1, false, 300, 0.5f, 0.25f);
        }
        for (int i = 0; i < 120; ++i) // 6 s: room for retries, timeouts and confirmations
            rig.tick();

        QCOMPARE(int(rig.app.deviceState()), deviceState);
        QCOMPARE(int(rig.app.device()->state()), deviceState);
        for (const Received &r : received) {
            const int count = rig.controller.requestsReceived(uint8_t(r.msgId));
            const QString what = QStringLiteral("message 0x%1: %2").arg(r.msgId, 2, 16, QLatin1Char('0')).arg(count);
            if (r.atLeast)
                QVERIFY2(count >= r.count, qPrintable(what));
            else
                QVERIFY2(count == r.count, qPrintable(what));
        }
        if (action == Action::WriteMotion) {
            // The refused record did not reach the controller, and the program does not
            // take it as sent.
            QCOMPARE(rig.controller.firmware().motionParams().pack(), motionBefore);
            QCOMPARE(rig.app.paramsHelper()->sendState(), ParamsHelper::PARAMS_IDLE);
        }
        if (!message.isEmpty()) {
            QStringList shown;
            for (const QList<QVariant> &text : texts)
                shown << text.at(0).toString();
            QVERIFY2(shown.contains(message), qPrintable(shown.join(QStringLiteral(" | "))));
        }
        // One connection: a dropped identity answer does not make the device twice.
        QVERIFY(states.count() >= 1);
        QCOMPARE(states.at(0).at(0).value<Device_State_e>(), DEVICE_CONNECTED);
    }

    // Another program holds the motor database while the controller connects: the motor
    // is not stored silently (the user is told), and it is stored once the lock is gone.
    void lockedDatabaseStoresTheMotorOnceFree()
    {
        QTemporaryDir dataDir;
        Rig rig(SimulatorConfig(), dataDir.path());
        QSignalSpy texts(&rig.app, &AppBase::sendTextForInfo);
        const QString connection = QStringLiteral("other program");
        {
            QSqlDatabase other = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connection);
            other.setDatabaseName(rig.app.dbManager()->databaseFilePath());
            QVERIFY(other.open());
            QVERIFY(QSqlQuery(other).exec(QStringLiteral("BEGIN IMMEDIATE")));
        }

        rig.app.comHelper()->startPortSelection();
        QTRY_VERIFY_WITH_TIMEOUT((rig.tick(), rig.app.activity() == AppBase::ActivityDevice), 10000);
        QVERIFY(rig.tickUntil([&] { return rig.controller.requestsReceived(VyxMsg::GET_MOTOR_HOURS) > 0; }, 200));
        QVERIFY(rig.tickUntil([&] { return !rig.app.device()->isReadBatchRunning(); }, 40));
        for (int i = 0; i < 5; ++i)
            rig.tick();
        QVERIFY(rig.app.device()->motorName().isEmpty());
        QStringList shown;
        for (const QList<QVariant> &text : texts)
            shown << text.at(0).toString();
        QVERIFY2(shown.filter(QStringLiteral("The motor was not stored")).size() == 1,
                 qPrintable(shown.join(QStringLiteral(" | "))));

        {
            QSqlDatabase other = QSqlDatabase::database(connection);
            QVERIFY(QSqlQuery(other).exec(QStringLiteral("ROLLBACK")));
            other.close();
        }
        QSqlDatabase::removeDatabase(connection);
        // The database retries by itself (real time), then the device model looks again.
        QTRY_COMPARE_WITH_TIMEOUT((rig.tick(), rig.app.device()->motorName()), QStringLiteral("Unknown motor 1"),
                                  15000);
        QCOMPARE(rig.app.deviceState(), DEVICE_CONNECTED);
        QStringList names, dates;
        QVERIFY(rig.app.motorLibrary()->motorList(&names, &dates));
        QCOMPARE(names, QStringList {QStringLiteral("Unknown motor 1")});
    }
};

QTEST_GUILESS_MAIN(TestAppBaseSimFaults)
#include "tst_appbase_simfaults.moc"
