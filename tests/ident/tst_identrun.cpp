#include "tests/common/framedecode.h"
#include "wire/messageids.h"
#include "device/pinghelper.h"
#include "ident/idhelper.h"
#include "link/comhelper.h"
#include "sim/simulatedcontroller.h"
#include "tests/common/simulatorprovider.h"

#include <QSignalSpy>
#include <QtTest>

// A whole identification through the real port manager and polling helper against the
// simulated controller: IdHelper's requests are framed, written and answered, the
// answers come back by the receiver name "IdHelper", and the estimator state reaches it
// through the poll answers. Time moves only when a tick moves it.
class TestIdentRun : public QObject
{
    Q_OBJECT

private slots:
    void fullIdentificationAgainstTheSimulatedController()
    {
        SimulatorConfig config;
        config.identity.blankMotor = true;   // whatever the controller reports, the run produced
        config.motor.rs = 0.05;
        config.motor.ls = 15e-6;
        config.ident.timeScale = 0.25;       // the shortest step still spans two polls
        SimulatedController controller(config);
        SimulatorProvider provider(&controller);

        ComHelper com(&provider);
        RequestChannel pingRequests(QStringLiteral("PingHelper"));
        RequestChannel idRequests(QStringLiteral("IdHelper"));
        com.requestLine()->attach(&pingRequests);
        com.requestLine()->attach(&idRequests);
        PingHelper ping(&pingRequests);
        IdHelper id(&idRequests);
        connect(&com, &ComHelper::comPortOpened, &ping, [&ping] { ping.enablePolling(true); });
        connect(&ping, &PingHelper::sendPollAnswer, &id, &IdHelper::receivePollAnswer);
        // The device model's part: announce the state to both helpers.
        const auto setDeviceState = [&](Device_State_e state) {
            ping.deviceConnectionState(state);
            id.deviceConnectionState(state);
        };
        connect(&ping, &PingHelper::device_createDevice, &id, [&] { setDeviceState(DEVICE_CONNECTED); });
        connect(&ping, &PingHelper::device_deleteDevice, &id, [&] { setDeviceState(DEVICE_DISCONNECTED); });

        QVector<VYX_Protocol::VYX_MSG> identRequests;
        connect(&controller, &SimulatedController::traffic, &id, [&](bool fromHost, const QByteArray &bytes) {
            const VYX_Protocol::VYX_MSG msg = decodeFrame(bytes);
            if (fromHost && msg.msgId != VyxMsg::GET_DEVICE_INFO && msg.msgId != VyxMsg::GET_STATUS)
                identRequests.append(msg);
        });

        const auto tick = [&] {
            controller.advance(50);
            com.handleTimeout();
            ping.handleTimeout();
            for (int i = 0; i < 5; ++i) // the port delivers by queued calls
                QCoreApplication::processEvents();
        };

        com.startPortSelection();
        com.handleTimeout(); // choose the only adapter
        com.handleTimeout(); // readiness check in its own thread
        QTRY_COMPARE_WITH_TIMEOUT(com.state(), ComHelper::PortOpen, 10000);
        for (int i = 0; i < 10 && ping.pollMode() != PingHelper::PING_CONNECTED; ++i)
            tick();
        QCOMPARE(ping.pollMode(), PingHelper::PING_CONNECTED);

        QSignalSpy steps(&id, &IdHelper::changeIdState);
        QSignalSpy finished(&id, &IdHelper::identFinished);
        QSignalSpy logs(&id, &IdHelper::writeLogMessage);
        QSignalSpy failures(&id, &IdHelper::identificationFailed);

        id.setMotorUserParams(20.0f, false, 0.0f, 6, 900.0f, 7);
        tick();
        QCOMPARE(id.state(), IdHelper::IdState::UserParamsAccepted);
        id.acceptConditions(IdHelper::ID_WIDGET_ATTENTION);
        id.acceptConditions(IdHelper::ID_WIDGET_NO_LOAD);
        id.acceptConditions(IdHelper::ID_WIDGET_STEPS);
        id.acceptAllConditions();
        tick();
        QCOMPARE(id.state(), IdHelper::IdState::Running);

        // About 25.6 s of scaled identification: 513 ticks; twice that at most.
        for (int i = 0; i < 1100 && finished.isEmpty(); ++i)
            tick();

        QCOMPARE(finished.size(), 1);
        QCOMPARE(id.state(), IdHelper::IdState::Finished);
        QVERIFY(!id.isIdentRunning());
        QCOMPARE(failures.size(), 0);

        // On the wire: the worked example's limits, the run, the result request.
        QCOMPARE(identRequests.size(), 3);
        QCOMPARE(int(identRequests[0].msgId), int(VyxMsg::SET_MOTOR_USER_PARAMS));
        QCOMPARE(identRequests[0].payloadBytes().toHex(), QByteArray("fb00560ac800070184c8800c"));
        QCOMPARE(int(identRequests[1].msgId), int(VyxMsg::IDENT_RUN));
        QCOMPARE(int(identRequests[1].length), 0);
        QCOMPARE(int(identRequests[2].msgId), int(VyxMsg::GET_MOTOR_PARAMS));

        // Each step announced once, in order, with its expected time.
        const struct { const char *name; const char *next; const char *button; uint32_t timeMs; } expected[] = {
            {"No movement", "Acceleration", "Help, motor spins", 18500},
            {"Acceleration", "Variable speed", "Help, motor does not spin", 5000 + 200 * 132},
            {"Variable speed", "Deceleration", "Help, motor does not spin", 50600},
            {"Deceleration", "Finish", "Help, motor spins", 2000},
        };
        QCOMPARE(steps.size(), 4);
        for (int i = 0; i < 4; ++i) {
            QCOMPARE(steps[i][0].toString(), QString::fromLatin1(expected[i].name));
            QCOMPARE(steps[i][1].toString(), QString::fromLatin1(expected[i].next));
            QCOMPARE(steps[i][2].toString(), QString::fromLatin1(expected[i].button));
            QCOMPARE(steps[i][5].value<uint32_t>(), expected[i].timeMs);
        }
        QCOMPARE(steps[0][3].toStringList(),
                 QStringList({"The motor is not spinning!", "The motor produces high-frequency noise"}));
        QCOMPARE(steps[3][4].toStringList(),
                 QStringList({"At the start, the motor is not spinning", "At the end, the motor is spinning"}));

        // The identified motor: the simulated motor's electrical values, the user's limits.
        const MOTOR_TOTAL motor = *id.motorParams();
        QCOMPARE(motor.Rs, 0.05f);
        QCOMPARE(motor.Ls_d, 15e-6f);
        QVERIFY(motor.Ls_q > motor.Ls_d); // the simulated motor's saliency
        QCOMPARE(motor.Flux, float(60.0 / (900.0 * 7)));
        QCOMPARE(motor.packUser().toHex(), QByteArray("fb00560ac800070184c8800c"));
        QCOMPARE(finished.size(), 1);
        QCOMPARE(finished[0][0].value<MOTOR_TOTAL>(), motor); // the wizard gets a copy

        QStringList lines;
        for (const auto &args : logs)
            lines << args.at(0).toString();
        const QString paramsHex = lines.takeLast();
        QVERIFY2(paramsHex.startsWith(QLatin1String("Motor params:cdcc4c3d")), qPrintable(paramsHex)); // Rs 0.05
        QCOMPARE(lines, QStringList({"Curr scale:0", "Volt scale:25.20", "Flux freq:132.30", "Id Curr:2.00",
                                     "Max curr:20.00", "Pole pairs:7", "Set motor user params",
                                     "User accepts its attention during ID", "User has motor without load",
                                     "User knows all steps of ID", "User accpets all conditions", "Ident run",
                                     "No moving operations", "Accelarating operations", "Stable speed operations",
                                     "Decelarating operations", "Ident finish", "Get motors params"}));
    }
};

QTEST_GUILESS_MAIN(TestIdentRun)
#include "tst_identrun.moc"
