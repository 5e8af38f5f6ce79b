#include "simhost.h"

#include "wire/records.h"
#include "wire/motortotal.h"
#include "sim/simulatedcontroller.h"

#include <QRandomGenerator>
#include <QSignalSpy>
#include <QtTest>

#include <cmath>

namespace {

const QByteArray kDetection = QByteArray::fromHex("1aee22ef1f");

SimulatorConfig runningConfig()
{
    SimulatorConfig config;
    config.identity.startRunning = true;
    return config;
}

QByteArray dutyPayload(int percent)
{
    DutyCommand command;
    command.enable = true;
    command.duty = DutyCommand::dutyFromPercent(percent);
    return command.encode();
}

ONLINE_QUANTS_S telemetryOf(const QByteArray &answer)
{
    const StatusBlock block = StatusBlock::decode(answer);
    if (!block.isValid())
        return {};
    return TelemetryRecord::unpack(answer.mid(block.endIndex)).toQuantities();
}

// Estimator states seen while polling every 50 ms until the walk ends (or 10000 polls).
QVector<uint8_t> walkStates(SimulatedController &controller, SimHost &host, QVector<uint8_t> *health = nullptr)
{
    QVector<uint8_t> states;
    for (int i = 0; i < 10000; ++i) {
        controller.advance(50);
        const StatusBlock block = StatusBlock::decode(host.ask(VyxMsg::GET_STATUS));
        if (!block.values.hasIdState)
            break;
        const uint8_t state = block.values.idState >> 4;
        if (states.isEmpty() || states.last() != state) {
            states.append(state);
            if (health)
                health->append(block.values.idState & 0x0F);
        }
        if (state == IdentRun::FINISHED_STATE || (block.values.idState & 0x0F) == 0)
            break;
    }
    return states;
}

} // namespace

class TestSimulatedController : public QObject
{
    Q_OBJECT

private slots:
    void identityLongLayoutFixture()
    {
        SimulatedController controller;
        controller.receiveFromHost(kDetection);
        // Echo, then: address 01, id 22, OK, idle, fw 1.2.3, serial 12345, hw 2,
        // three free bytes, address 1, checksum 4A.
        QCOMPARE(controller.takeOutput(),
                 kDetection + QByteArray::fromHex("1a0122" "20000102033930000002000000014a" "1f"));
    }

    void identityShortLayoutOption()
    {
        SimulatorConfig config;
        config.identity.shortLayoutLength = 7;
        SimulatedController controller(config);
        SimHost host(controller);
        const QByteArray answer = host.ask(VyxMsg::GET_DEVICE_INFO);
        QCOMPARE(answer, QByteArray::fromHex("20000103393000"));
        const DeviceIdentity id = DeviceIdentity::decode(answer);
        QCOMPARE(id.serialNumber, 0u);
        QCOMPARE(id.address, NO_DEVICE_ADDRESS);
    }

    void statusBlockWithAllFlagsFixture()
    {
        SimulatorConfig config;
        config.ident.timeScale = 0.01;     // each no-movement state lasts 61.67 ms
        config.ident.predictedErrorCode = 4; // predicted while the resistance is measured (state 2)
        SimulatedController controller(config);
        SimHost host(controller);

        QCOMPARE(host.ask(VyxMsg::IDENT_RUN), QByteArray::fromHex("20"));
        controller.advance(70);
        SET_MOTION_PARAMS motion = controller.firmware().motionParams();
        motion.acceleration = 60;
        QCOMPARE(host.ask(VyxMsg::WRITE_MOTION_PARAMS, motion.pack()), QByteArray::fromHex("20"));
        controller.advance(60); // stored; the estimator is in state 3 now
        controller.firmware().injectStall();
        controller.firmware().injectError(3);

        const QByteArray request = SimHost::frame(VyxMsg::GET_STATUS);
        controller.receiveFromHost(request);
        // 20 1F, then idState 0x31, savedMsgId 0x45, prediction 4, stall 1, error 3;
        // the flag byte 0x1F goes out stuffed, checksum 1E.
        QCOMPARE(controller.takeOutput(), request + QByteArray::fromHex("1a0123" "201d7f3145040103" "1e1f"));
    }

    void telemetryCarriesAKnownSampleBitExactly()
    {
        const QByteArray record = QByteArray::fromHex("c9400177" "e9030015" "473200f8" "4801" "0001");
        SimulatedController controller(runningConfig());
        controller.firmware().setTelemetryOverride(TelemetryRecord::unpack(record).toQuantities());
        SimHost host(controller);

        const QByteArray answer = host.ask(VyxMsg::TELEMETRY, QByteArray::fromHex("00"));
        QCOMPARE(answer, QByteArray::fromHex("2000") + record);
        const ONLINE_QUANTS_S s = telemetryOf(answer);
        QCOMPARE(s.Speed, 10500.0f);
        QCOMPARE(s.Vbus, 25.1f);
        QCOMPARE(s.Torque, -0.5f);
        QCOMPARE(s.PWm_in_us, 1500u);
    }

    void idleTelemetryShowsTheConfiguredMotor()
    {
        SimulatedController controller(runningConfig());
        SimHost host(controller);
        controller.advance(100);
        const ONLINE_QUANTS_S s = telemetryOf(host.ask(VyxMsg::TELEMETRY, QByteArray::fromHex("00")));
        QCOMPARE(s.Speed, 0.0f);
        QCOMPARE(s.Is, 0.0f);
        QCOMPARE(s.Vbus, 23.8f); // 6 cells x 3.95 V = 23.7 V, in 1/8 V steps
        QCOMPARE(s.Temp, int16_t(25));
        QCOMPARE(s.PWm_in_us, 1000u);
        QVERIFY(std::abs(s.Rs - 0.060f) <= 1.0f / 32768);
        QVERIFY(std::abs(s.Flux - 60.0f / (900 * 7)) <= 1.0f / 32768);
    }

    void telemetryRefusedOutsideControlMode()
    {
        SimulatedController controller;
        SimHost host(controller);
        QCOMPARE(host.ask(VyxMsg::TELEMETRY, QByteArray::fromHex("00")), QByteArray::fromHex("2100"));
        QCOMPARE(host.ask(VyxMsg::START_RUN), QByteArray::fromHex("20"));
        QCOMPARE(DeviceIdentity::decode(host.ask(VyxMsg::GET_DEVICE_INFO)).runFlag, uint8_t(1));
        QCOMPARE(host.ask(VyxMsg::TELEMETRY, QByteArray::fromHex("00")).size(), 2 + TelemetryRecord::WIRE_SIZE);
    }

    void speedFollowsTheDutyWithALag()
    {
        SimulatedController controller(runningConfig());
        SimHost host(controller);
        // Voltage control: the duty command drives the motor directly.
        SET_PWM_IN_PARAMS voltageControl = controller.firmware().pwmInParams();
        voltageControl.controlType = false;
        QCOMPARE(host.ask(VyxMsg::WRITE_PWM_IN_PARAMS, voltageControl.pack()), QByteArray::fromHex("20"));
        QVector<float> speeds;
        ONLINE_QUANTS_S last;
        for (int tick = 0; tick < 80; ++tick) { // 4 s of telemetry every 50 ms at 50 % duty
            last = telemetryOf(host.ask(VyxMsg::TELEMETRY, dutyPayload(50)));
            speeds.append(last.Speed);
            controller.advance(50);
        }
        for (int i = 1; i < speeds.size(); ++i)
            QVERIFY2(speeds[i] >= speeds[i - 1], "speed rises monotonically towards its target");
        // Kv x duty x loaded voltage x propeller factor: 900 x 0.5 x ~23.6 x 0.85.
        QVERIFY2(last.Speed > 8800 && last.Speed < 9100, qPrintable(QString::number(last.Speed)));
        // One time constant (0.25 s) after the step: about 63 %.
        const float atTau = speeds[5] / last.Speed;
        QVERIFY2(atTau > 0.55f && atTau < 0.72f, qPrintable(QString::number(atTau)));
        QVERIFY(last.Is > 1.0f && last.Is < 30.0f);
        QVERIFY(last.Vbus < 23.7f);   // the pack sags under load
        QVERIFY(last.Power > 30.0f);
        QVERIFY(last.Temp > 25);      // warming up
        QVERIFY(std::abs(last.Vs - 0.5f * last.Vbus) < 0.2f);

        // No more commands: after the time to leave (500 ms) the motor runs down.
        controller.advance(3000);
        QVERIFY(telemetryOf(host.ask(VyxMsg::TELEMETRY, QByteArray::fromHex("00"))).Speed < 500.0f);
        QVERIFY(controller.firmware().motorSeconds() >= 12345 + 3);
    }

    // Speed control: the duty command is the speed reference (100 % = the loaded full
    // speed), held by the speed loop with the motion record's gains.
    void speedLoopHoldsTheReferenceWithTheStoredGains_data()
    {
        QTest::addColumn<int>("kpWord");
        QTest::addColumn<int>("kiWord");
        QTest::addColumn<float>("lowest");
        QTest::addColumn<float>("highest");
        const float reference = 0.5f * 900.0f * 6 * 3.95f * 0.85f;
        QTest::newRow("default gains reach the reference") << 205 << 102 << reference - 20 << reference + 20;
        QTest::newRow("proportional only stays below it") << 512 << 0 << 0.2f * reference << 0.5f * reference;
        QTest::newRow("no gains, no drive") << 0 << 0 << 0.0f << 1.0f;
    }

    void speedLoopHoldsTheReferenceWithTheStoredGains()
    {
        QFETCH(int, kpWord);
        QFETCH(int, kiWord);
        QFETCH(float, lowest);
        QFETCH(float, highest);
        SimulatedController controller(runningConfig());
        SimHost host(controller);
        SET_MOTION_PARAMS motion = controller.firmware().motionParams();
        motion.Kp = int16_t(kpWord);
        motion.Ki = int16_t(kiWord);
        QCOMPARE(host.ask(VyxMsg::WRITE_MOTION_PARAMS, motion.pack()), QByteArray::fromHex("20"));
        ONLINE_QUANTS_S last;
        for (int tick = 0; tick < 100; ++tick) { // 5 s at 50 %
            last = telemetryOf(host.ask(VyxMsg::TELEMETRY, dutyPayload(50)));
            controller.advance(50);
        }
        QVERIFY2(last.Speed >= lowest && last.Speed <= highest, qPrintable(QString::number(double(last.Speed))));
        // Control off: the loop lets go and the motor runs down.
        host.ask(VyxMsg::TELEMETRY, QByteArray::fromHex("00"));
        QCOMPARE(controller.firmware().motor().duty(), 0.0);
    }

    void stallReportLastsUntilControlIsSwitchedOff()
    {
        SimulatorConfig config = runningConfig();
        config.faults.stallAfterMs = 500;
        SimulatedController controller(config);
        SimHost host(controller);
        for (int tick = 0; tick < 10; ++tick) {
            host.ask(VyxMsg::TELEMETRY, dutyPayload(30));
            controller.advance(50);
        }
        controller.advance(100);
        for (int repeat = 0; repeat < 2; ++repeat) {
            const QByteArray answer = host.ask(VyxMsg::TELEMETRY, dutyPayload(30));
            QCOMPARE(answer.left(3), QByteArray::fromHex("200801"));
            QCOMPARE(telemetryOf(answer).Speed, 0.0f);
        }
        QCOMPARE(host.ask(VyxMsg::TELEMETRY, QByteArray::fromHex("00")).left(2), QByteArray::fromHex("2000"));
    }

    void writeThenConfirm_data()
    {
        QTest::addColumn<int>("writeId");
        QTest::addColumn<int>("readId");
        QTest::addColumn<QByteArray>("record");
        QTest::addColumn<bool>("accepted");

        SET_MOTION_PARAMS motion;
        motion.acceleration = 75;
        motion.brakeIntensity = 90;
        motion.Kp = 700;
        SET_MOTION_PARAMS badMotion = motion;
        badMotion.word0Rest = 1;
        SET_PWM_IN_PARAMS pwm;
        pwm.pwmType = true; // bipolar is a valid setting
        SET_PWM_IN_PARAMS badPwm;
        badPwm.lowLevel = 50;
        MOTOR_TOTAL motor;
        motor.Rs = 0.1f;
        motor.Ls_d = 2e-5f;
        motor.Ls_q = 2.2e-5f;
        motor.Flux = 0.01f;
        MOTOR_TOTAL badMotor = motor;
        badMotor.Rs = std::nanf("");

        QTest::newRow("motion") << 0x45 << 0x44 << motion.pack() << true;
        QTest::newRow("motion, bit 27 set") << 0x45 << 0x44 << badMotion.pack() << false;
        QTest::newRow("motion, short") << 0x45 << 0x44 << motion.pack().left(7) << false;
        QTest::newRow("pwm input") << 0x47 << 0x46 << pwm.pack() << true;
        QTest::newRow("pwm input, low level 500 us") << 0x47 << 0x46 << badPwm.pack() << false;
        QTest::newRow("motor ident") << 0x41 << 0x40 << motor.packIdent() << true;
        QTest::newRow("motor ident, NaN") << 0x41 << 0x40 << badMotor.packIdent() << false;
    }

    void writeThenConfirm()
    {
        QFETCH(int, writeId);
        QFETCH(int, readId);
        QFETCH(QByteArray, record);
        QFETCH(bool, accepted);

        SimulatedController controller;
        SimHost host(controller);
        const QByteArray before = host.ask(uint8_t(readId));
        QCOMPARE(host.ask(uint8_t(writeId), record), QByteArray(1, char(accepted ? ANSWER_OK : ANSWER_REFUSED)));
        QCOMPARE(host.ask(VyxMsg::GET_STATUS), QByteArray::fromHex("2000")); // still storing
        controller.advance(60);
        const QByteArray confirmation = accepted ? QByteArray::fromHex("2002") + char(writeId) : QByteArray::fromHex("2000");
        QCOMPARE(host.ask(VyxMsg::GET_STATUS), confirmation);
        QCOMPARE(host.ask(VyxMsg::GET_STATUS), QByteArray::fromHex("2000")); // reported once
        QCOMPARE(host.ask(uint8_t(readId)), accepted ? record : before);
    }

    void identificationWalksTheEstimatorStates()
    {
        SimulatorConfig config;
        config.ident.timeScale = 0.03; // the shortest step (deceleration) lasts 60 ms
        SimulatedController controller(config);
        SimHost host(controller);

        QCOMPARE(host.ask(VyxMsg::SET_MOTOR_USER_PARAMS, QByteArray(12, '\0')), QByteArray::fromHex("21"));
        QCOMPARE(host.ask(VyxMsg::IDENT_ERROR), QByteArray::fromHex("01"));
        // 20 A, Kv 900, 6 cells, 7 pole pairs: flux frequency 132 Hz.
        QCOMPARE(host.ask(VyxMsg::SET_MOTOR_USER_PARAMS, QByteArray::fromHex("fb00560ac800070184c8800c")),
                 QByteArray::fromHex("20"));
        QCOMPARE(host.ask(VyxMsg::IDENT_RUN), QByteArray::fromHex("20"));
        QCOMPARE(host.ask(VyxMsg::START_RUN), QByteArray::fromHex("21"));

        QVector<uint8_t> health;
        const qint64 startMs = controller.nowMs();
        const QVector<uint8_t> states = walkStates(controller, host, &health);
        QCOMPARE(states, (QVector<uint8_t> { 1, 2, 3, 4, 5, 6, 7, 9, 10, 11, 8, 12 }));
        QVERIFY(!health.contains(0));
        // (18500 + 5000 + 200 x 132 + 50600 + 2000) ms x 0.03, polled every 50 ms.
        const qint64 tookMs = controller.nowMs() - startMs;
        QVERIFY2(tookMs >= 3075 && tookMs <= 3125, qPrintable(QString::number(tookMs)));

        MOTOR_TOTAL result;
        QVERIFY(result.unpackIdent(host.ask(VyxMsg::GET_MOTOR_PARAMS)));
        QCOMPARE(result.Rs, 0.060f);
        QCOMPARE(result.Ls_d, 12e-6f);
        QCOMPARE(result.Ls_q, float(12e-6 * 1.05));
        QCOMPARE(result.Flux, float(60.0 / (900 * 7)));
        QVERIFY(!StatusBlock::decode(host.ask(VyxMsg::GET_STATUS)).values.hasIdState);
    }

    void identificationStopAndFailure()
    {
        SimulatorConfig config;
        config.ident.timeScale = 0.01;
        config.ident.failAtState = 4;
        SimulatedController controller(config);
        SimHost host(controller);

        QCOMPARE(host.ask(VyxMsg::IDENT_STOP), QByteArray::fromHex("21")); // nothing runs
        QCOMPARE(host.ask(VyxMsg::IDENT_RUN), QByteArray::fromHex("20"));
        controller.advance(100);
        QCOMPARE(host.ask(VyxMsg::IDENT_STOP), QByteArray::fromHex("20"));
        QCOMPARE(host.ask(VyxMsg::IDENT_ERROR), QByteArray::fromHex("02"));
        QCOMPARE(host.ask(VyxMsg::GET_STATUS), QByteArray::fromHex("2000"));

        QCOMPARE(host.ask(VyxMsg::IDENT_RUN), QByteArray::fromHex("20"));
        QVector<uint8_t> health;
        QCOMPARE(walkStates(controller, host, &health), (QVector<uint8_t> { 1, 2, 3, 4 }));
        QCOMPARE(health.last(), uint8_t(0));
        QCOMPARE(host.ask(VyxMsg::IDENT_ERROR), QByteArray::fromHex("03"));
        QCOMPARE(host.ask(VyxMsg::IDENT_STOP), QByteArray::fromHex("20"));
    }

    void predictedErrorClearedByCorrection_data()
    {
        QTest::addColumn<int>("code");
        QTest::addColumn<QByteArray>("correction");
        const QByteArray user = QByteArray::fromHex("fb00560ac800070184c8800c");
        QByteArray moreCurrent = user;
        moreCurrent[9] = char(0x2C); // resCurrent 200 -> 300
        moreCurrent[10] = char(0x81);
        QByteArray moreFlux = user;
        moreFlux[8] = char(132 + 20);
        QTest::newRow("resistance current") << 4 << moreCurrent;
        QTest::newRow("flux frequency") << 7 << moreFlux;
    }

    void predictedErrorClearedByCorrection()
    {
        QFETCH(int, code);
        QFETCH(QByteArray, correction);
        SimulatorConfig config;
        config.ident.timeScale = 0.01;
        config.ident.predictedErrorCode = code;
        SimulatedController controller(config);
        SimHost host(controller);
        const QByteArray user = QByteArray::fromHex("fb00560ac800070184c8800c");

        const auto predictionSeen = [&] {
            for (int i = 0; i < 100; ++i) {
                controller.advance(50);
                const StatusBlock block = StatusBlock::decode(host.ask(VyxMsg::GET_STATUS));
                if (block.values.hasErrorPrediction)
                    return int(block.values.errorPrediction);
                if ((block.values.idState >> 4) >= 5)
                    return 0; // past the acceleration: no prediction any more
            }
            return 0;
        };
        QCOMPARE(host.ask(VyxMsg::SET_MOTOR_USER_PARAMS, user), QByteArray::fromHex("20"));
        QCOMPARE(host.ask(VyxMsg::IDENT_RUN), QByteArray::fromHex("20"));
        QCOMPARE(predictionSeen(), code);
        // The same limits again: the prediction comes back.
        QCOMPARE(host.ask(VyxMsg::SET_MOTOR_USER_PARAMS, user), QByteArray::fromHex("20"));
        QCOMPARE(host.ask(VyxMsg::IDENT_RUN), QByteArray::fromHex("20"));
        QCOMPARE(predictionSeen(), code);
        QCOMPARE(host.ask(VyxMsg::SET_MOTOR_USER_PARAMS, correction), QByteArray::fromHex("20"));
        QCOMPARE(host.ask(VyxMsg::IDENT_RUN), QByteArray::fromHex("20"));
        QCOMPARE(predictionSeen(), 0);
    }

    void diagnosticRecords()
    {
        SimulatedController controller(runningConfig());
        SimHost host(controller);
        for (int tick = 0; tick < 40; ++tick) {
            host.ask(VyxMsg::TELEMETRY, dutyPayload(80));
            controller.advance(50);
        }
        const RUN_DATA run = RUN_DATA::unpack(host.ask(VyxMsg::GET_RUN_DATA));
        QVERIFY(run.maxCurrent > 0 && run.avgCurrent > 0 && run.maxTempEsc > 75);
        const RESISTANCE r = RESISTANCE::unpack(host.ask(VyxMsg::GET_RESISTANCES));
        QVERIFY(std::abs(r.global - 0.06f) < 0.01f);
        QVERIFY(r.phaseA != r.phaseB);

        QVERIFY(ERROR_WARN_LOG::unpack(host.ask(VyxMsg::GET_ERROR_LOG)).allErrors != 0);
        QCOMPARE(host.ask(VyxMsg::CLEAR_ERROR_LOG), QByteArray::fromHex("20"));
        QCOMPARE(host.ask(VyxMsg::GET_ERROR_LOG), QByteArray(ERROR_WARN_LOG::WIRE_SIZE, '\0'));
        QCOMPARE(unpackMotorHours(reinterpret_cast<const uint8_t *>(host.ask(VyxMsg::GET_MOTOR_HOURS).constData()), 4),
                 controller.firmware().motorSeconds());
    }

    void resetIntoTheBootloader()
    {
        SimulatedController running(runningConfig());
        QCOMPARE(SimHost(running).ask(VyxMsg::FIRMWARE_UPDATE_ENTRY), QByteArray::fromHex("21"));

        SimulatedController controller;
        SimHost host(controller);
        QCOMPARE(host.ask(VyxMsg::FIRMWARE_UPDATE_ENTRY), QByteArray::fromHex("20"));
        QVERIFY(controller.isInBootloader());
        QCOMPARE(host.send(kDetection), QByteArray()); // frames are not understood now
        QVERIFY(host.echoOk());
        QCOMPARE(host.send(QByteArray::fromHex("f00f")), QByteArray::fromHex("79"));
    }

    void framesForOtherAddressesAreIgnored()
    {
        SimulatedController controller;
        SimHost host(controller);
        QCOMPARE(host.exchange(VyxMsg::GET_STATUS, {}, 0x05).size(), 0);
        QCOMPARE(host.exchange(VyxMsg::GET_STATUS, {}, 0x01).size(), 1);
        QCOMPARE(host.exchange(VyxMsg::GET_STATUS, {}, 0xEE).size(), 1);
    }

    void answerDelay()
    {
        SimulatorConfig config;
        config.faults.answerDelayMs = 30;
        SimulatedController controller(config);
        controller.receiveFromHost(kDetection);
        QCOMPARE(controller.takeOutput(), kDetection);
        controller.advance(29);
        QVERIFY(!controller.hasOutput());
        controller.advance(1);
        QCOMPARE(SimHost::decode(controller.takeOutput()).size(), 1);
    }

    void pacedAtTheLineRate()
    {
        SimulatorConfig config;
        config.faults.paceOutput = true;
        SimulatedController controller(config);
        controller.receiveFromHost(kDetection); // 5 bytes, then an answer of 19
        QVERIFY(!controller.hasOutput());
        controller.advanceMicroseconds(199);
        QCOMPARE(controller.takeOutput().size(), 4);
        controller.advanceMicroseconds(1);
        QCOMPARE(controller.takeOutput(), QByteArray::fromHex("1f"));
        controller.advanceMicroseconds(759); // 40 us per byte
        QCOMPARE(controller.takeOutput().size(), 18);
        controller.advanceMicroseconds(1);
        QCOMPARE(controller.takeOutput(), QByteArray::fromHex("1f"));
    }

    // A real-time clock sleeps through a run of back-to-back bytes and wakes when the line
    // goes quiet: first at the request's last byte, then at the answer's.
    void nextEventIsTheEndOfTheLinesRun_data()
    {
        QTest::addColumn<int>("answerDelayMs");
        QTest::addColumn<qint64>("answerEndUs");
        QTest::newRow("answer right after the request") << 0 << qint64(200 + 19 * 40);
        QTest::newRow("answer after a pause") << 1 << qint64(200 + 1000 + 19 * 40);
    }

    void nextEventIsTheEndOfTheLinesRun()
    {
        QFETCH(int, answerDelayMs);
        QFETCH(qint64, answerEndUs);
        SimulatorConfig config;
        config.faults.paceOutput = true;
        config.faults.answerDelayMs = answerDelayMs;
        SimulatedController controller(config);
        QCOMPARE(controller.nextEventUs(), qint64(-1));
        controller.receiveFromHost(kDetection); // 5 bytes at 40 us each
        QCOMPARE(controller.nextEventUs(), qint64(200));
        controller.advanceMicroseconds(200);
        QCOMPARE(controller.nextEventUs(), answerEndUs);
        controller.advanceMicroseconds(answerEndUs - 200);
        QCOMPARE(controller.takeOutput().size(), kDetection.size() + 19); // the echo, then the answer
        QCOMPARE(controller.nextEventUs(), qint64(-1));
    }

    void droppedAnswersAreSeededAndRepeatable()
    {
        SimulatorConfig config;
        config.faults.dropFraction = 0.3;
        config.faults.seed = 7;
        const auto pattern = [&config] {
            SimulatedController controller(config);
            SimHost host(controller);
            QString answered;
            for (int i = 0; i < 200; ++i)
                answered += host.exchange(VyxMsg::GET_STATUS).isEmpty() ? '-' : 'x';
            return answered;
        };
        const QString first = pattern();
        QCOMPARE(pattern(), first);
        const int dropped = first.count('-');
        QVERIFY2(dropped > 35 && dropped < 85, qPrintable(QString::number(dropped)));
    }

    void corruptedAnswersFailTheirChecksum()
    {
        SimulatorConfig config;
        config.faults.corruptFraction = 1.0;
        SimulatedController controller(config);
        SimHost host(controller);
        for (uint8_t id : { uint8_t(VyxMsg::GET_DEVICE_INFO), uint8_t(VyxMsg::GET_STATUS), uint8_t(VyxMsg::GET_MOTOR_PARAMS) }) {
            const QList<VYX_Protocol::VYX_MSG> frames = host.exchange(id);
            QCOMPARE(frames.size(), 1);
            QCOMPARE(frames.first().status, uint8_t(VYX_Protocol::ChecksumError));
            QCOMPARE(frames.first().msgId, id);
        }
    }

    // The spoiling faults: every answer carries the next id, or a payload one byte off, or
    // comes after stray bytes; the unterminated answer is a start byte and N bytes, once.
    void spoiltAnswers()
    {
        const QByteArray good = [] {
            SimulatedController controller {SimulatorConfig()};
            return SimHost(controller).ask(VyxMsg::GET_DEVICE_INFO);
        }();
        QVERIFY(!good.isEmpty());

        SimulatorConfig config;
        config.faults.wrongIdFraction = 1.0;
        SimulatedController wrongId(config);
        QList<VYX_Protocol::VYX_MSG> frames = SimHost(wrongId).exchange(VyxMsg::GET_DEVICE_INFO);
        QCOMPARE(frames.size(), 1);
        QCOMPARE(frames.first().msgId, uint8_t(VyxMsg::GET_DEVICE_INFO + 1));

        config = SimulatorConfig();
        config.faults.wrongLengthFraction = 1.0;
        SimulatedController wrongLength(config);
        SimHost lengthHost(wrongLength);
        for (int i = 0; i < 10; ++i) {
            frames = lengthHost.exchange(VyxMsg::GET_DEVICE_INFO);
            QCOMPARE(frames.size(), 1);
            QCOMPARE(qAbs(frames.first().payloadBytes().size() - good.size()), 1);
        }

        config = SimulatorConfig();
        config.faults.garbageFraction = 1.0;
        SimulatedController garbage(config);
        SimHost garbageHost(garbage);
        const QByteArray answer = garbageHost.send(SimHost::frame(VyxMsg::GET_DEVICE_INFO));
        const QByteArray frame = SimHost::frame(VyxMsg::GET_DEVICE_INFO, good, 1);
        QVERIFY2(answer.size() > frame.size() && answer.size() <= frame.size() + 8, answer.toHex().constData());

        config = SimulatorConfig();
        config.faults.unterminatedAnswer[VyxMsg::GET_STATUS] = 1000;
        SimulatedController endless(config);
        SimHost endlessHost(endless);
        const QByteArray first = endlessHost.send(SimHost::frame(VyxMsg::GET_STATUS));
        QCOMPARE(first.size(), 1001);
        QCOMPARE(uint8_t(first.at(0)), VYX_Protocol::FRAME_START);
        QVERIFY(!first.contains(char(VYX_Protocol::FRAME_END)));
        QVERIFY(!endlessHost.ask(VyxMsg::GET_STATUS).isEmpty());
    }

    void silentAfterFrames()
    {
        SimulatorConfig config;
        config.faults.silentAfterFrames = 3;
        SimulatedController controller(config);
        SimHost host(controller);
        int answered = 0;
        for (int i = 0; i < 6; ++i)
            answered += host.exchange(VyxMsg::GET_STATUS).size();
        QCOMPARE(answered, 3);
        QVERIFY(host.echoOk()); // the line still echoes
    }

    // A replayed capture: each request gets the next recorded answer of its id, byte for
    // byte as recorded (a bad checksum too), whatever the address; a request with none left
    // is unanswered and reported once per id. Answers are counted per id.
    void replayAnswersInRecordedOrderById()
    {
        SimulatedController controller;
        SimHost host(controller);
        const QByteArray status1 = VYX_Protocol().encode(5, VyxMsg::GET_STATUS, QByteArray("\x20\x00", 2));
        const QByteArray status2 = VYX_Protocol().encode(5, VyxMsg::GET_STATUS, QByteArray("\x20\x02\x45", 3));
        QByteArray hours = VYX_Protocol().encode(5, VyxMsg::GET_MOTOR_HOURS, packMotorHours(99));
        hours[hours.size() - 2] = char(hours.at(hours.size() - 2) ^ 0x01); // recorded with a bad checksum
        std::map<uint8_t, std::deque<QByteArray>> answers;
        answers[VyxMsg::GET_STATUS] = {status1, status2};
        answers[VyxMsg::GET_MOTOR_HOURS] = {hours};
        controller.setReplay(answers);
        QVector<uint8_t> missing;
        connect(&controller, &SimulatedController::replayMissing, this, [&missing](uint8_t id) { missing << id; });

        QCOMPARE(host.send(SimHost::frame(VyxMsg::GET_MOTOR_HOURS, {}, 0x01)), hours);
        QCOMPARE(host.send(SimHost::frame(VyxMsg::GET_STATUS)), status1);
        QCOMPARE(host.send(SimHost::frame(VyxMsg::GET_STATUS, {}, 0x03)), status2);
        QCOMPARE(host.send(SimHost::frame(VyxMsg::GET_STATUS)), QByteArray());
        QCOMPARE(host.send(SimHost::frame(VyxMsg::GET_STATUS)), QByteArray());
        QCOMPARE(host.send(SimHost::frame(VyxMsg::GET_DEVICE_INFO)), QByteArray());
        QVERIFY(host.echoOk());
        QCOMPARE(missing, (QVector<uint8_t> {VyxMsg::GET_STATUS, VyxMsg::GET_DEVICE_INFO}));
        QCOMPARE(controller.requestsReceived(VyxMsg::GET_STATUS), 4);
        QCOMPARE(controller.answerCounts().at(VyxMsg::GET_STATUS), 2);
        QCOMPARE(controller.answerCounts().at(VyxMsg::GET_MOTOR_HOURS), 1);
        QCOMPARE(controller.answerCounts().count(VyxMsg::GET_DEVICE_INFO), size_t(0));
    }

    // Named faults fire exactly as configured, and every request is counted by its id
    // whether or not it was answered. Each row sends `script` (message ids in order) and
    // gives, per request, '+' answered with ANSWER_OK/data, 'r' refused, '-' no answer.
    void namedFaults_data()
    {
        QTest::addColumn<int>("kind"); // 0 drop first, 1 refuse next, 2 silent after
        QTest::addColumn<int>("msgId");
        QTest::addColumn<int>("times");
        QTest::addColumn<QList<int>>("script");
        QTest::addColumn<QString>("outcome");

        const int hours = VyxMsg::GET_MOTOR_HOURS;
        const int status = VyxMsg::GET_STATUS;
        const int info = VyxMsg::GET_DEVICE_INFO;
        QTest::newRow("drop the first 2 answers to 0x48")
            << 0 << hours << 2 << QList<int> {hours, status, hours, hours, hours} << "-+-++";
        QTest::newRow("refuse the next write of 0x45")
            << 1 << int(VyxMsg::WRITE_MOTION_PARAMS) << 1
            << QList<int> {int(VyxMsg::WRITE_MOTION_PARAMS), int(VyxMsg::WRITE_MOTION_PARAMS)} << "r+";
        QTest::newRow("silent after 0x22") << 2 << info << 1 << QList<int> {status, info, status, info} << "++--";
    }

    void namedFaults()
    {
        QFETCH(int, kind);
        QFETCH(int, msgId);
        QFETCH(int, times);
        QFETCH(QList<int>, script);
        QFETCH(QString, outcome);
        SimulatorConfig config;
        if (kind == 0)
            config.faults.dropFirstAnswers[uint8_t(msgId)] = times;
        else if (kind == 1)
            config.faults.refuseNext[uint8_t(msgId)] = times;
        else
            config.faults.silentAfterMessage = msgId;
        SimulatedController controller(config);
        SimHost host(controller);
        SET_MOTION_PARAMS motion;
        motion.acceleration = 75;
        motion.brakeIntensity = 90;
        QString seen;
        std::map<uint8_t, int> sent;
        for (int id : script) {
            const QByteArray payload = id == VyxMsg::WRITE_MOTION_PARAMS ? motion.pack() : QByteArray();
            const QList<VYX_Protocol::VYX_MSG> frames = host.exchange(uint8_t(id), payload);
            ++sent[uint8_t(id)];
            if (frames.isEmpty())
                seen += '-';
            else
                seen += frames.first().payloadBytes().startsWith(char(ANSWER_REFUSED)) ? 'r' : '+';
            controller.advance(60); // a write is stored before the next request
        }
        QCOMPARE(seen, outcome);
        for (const auto &idAndCount : sent)
            QCOMPARE(controller.requestsReceived(idAndCount.first), idAndCount.second);
        if (kind == 1) // the write after the refused one was applied
            QCOMPARE(host.ask(VyxMsg::GET_MOTION_PARAMS), motion.pack());
    }

    void refusedWriteChangesNothing()
    {
        SimulatorConfig config;
        config.faults.refuseNext[VyxMsg::WRITE_MOTION_PARAMS] = 1;
        SimulatedController controller(config);
        SimHost host(controller);
        const QByteArray before = host.ask(VyxMsg::GET_MOTION_PARAMS);
        SET_MOTION_PARAMS motion;
        motion.acceleration = 75;
        motion.brakeIntensity = 90;
        QCOMPARE(host.ask(VyxMsg::WRITE_MOTION_PARAMS, motion.pack()), QByteArray(1, char(ANSWER_REFUSED)));
        controller.advance(60);
        QCOMPARE(host.ask(VyxMsg::GET_STATUS), QByteArray::fromHex("2000")); // nothing to confirm
        QCOMPARE(host.ask(VyxMsg::GET_MOTION_PARAMS), before);
    }

    void vanishes()
    {
        SimulatorConfig config;
        config.faults.vanishAfterMs = 100;
        SimulatedController controller(config);
        QSignalSpy spy(&controller, &SimulatedController::vanished);
        controller.advance(99);
        QCOMPARE(spy.count(), 0);
        controller.advance(5);
        QCOMPARE(spy.count(), 1);
        controller.receiveFromHost(kDetection);
        QVERIFY(!controller.hasOutput());
    }

    void badFramesAreNeverAnswered()
    {
        SimulatedController controller;
        SimHost host(controller);
        QRandomGenerator random(42);
        for (int i = 0; i < 300; ++i) {
            QByteArray request = SimHost::frame(uint8_t(0x20 + random.bounded(0x60)),
                                                QByteArray(random.bounded(8), char(random.bounded(256))));
            // Spoil the checksum: change the byte before the end (re-stuffing not needed
            // as long as the new value is no special byte).
            const int at = request.size() - 2;
            uint8_t spoilt = uint8_t(request[at]) ^ 0x40;
            if (VYX_Protocol::needsStuffing(spoilt) || uint8_t(request[at - 1]) == VYX_Protocol::FRAME_ESCAPE)
                continue;
            request[at] = char(spoilt);
            QCOMPARE(host.send(request), QByteArray());
            QVERIFY(host.echoOk());
        }
    }

    void arbitraryBytesInEveryState_data()
    {
        QTest::addColumn<bool>("bootloader");
        QTest::addColumn<bool>("running");
        QTest::addColumn<QByteArray>("prefix");
        QTest::newRow("idle") << false << false << QByteArray();
        QTest::newRow("running") << false << true << QByteArray();
        QTest::newRow("bootloader before sync") << true << false << QByteArray();
        QTest::newRow("bootloader in a page") << true << false << QByteArray::fromHex("f00f31ce0000000000ff0102");
    }

    void arbitraryBytesInEveryState()
    {
        QFETCH(bool, bootloader);
        QFETCH(bool, running);
        QFETCH(QByteArray, prefix);
        SimulatorConfig config;
        config.bootloader.startInBootloader = bootloader;
        config.identity.startRunning = running;
        SimulatedController controller(config);
        controller.receiveFromHost(prefix);
        controller.takeOutput();

        QRandomGenerator random(1234);
        QByteArray garbage;
        for (int i = 0; i < 20000; ++i) {
            garbage.append(char(random.bounded(256)));
            if (i % 97 == 0) {
                controller.receiveFromHost(garbage);
                controller.advance(random.bounded(3));
                garbage.clear();
            }
        }
        controller.takeOutput();
        // The controller still understands a good request afterwards.
        controller.advance(1500); // lets an unfinished bootloader request time out
        SimHost host(controller);
        if (controller.isInBootloader()) {
            host.send(QByteArray::fromHex("1a1f")); // ends whatever frame the noise opened
            QVERIFY(host.send(QByteArray::fromHex("f00f")).endsWith(char(0x79)));
        } else {
            host.send(QByteArray::fromHex("1a1f"));
            QCOMPARE(DeviceIdentity::decode(host.ask(VyxMsg::GET_DEVICE_INFO)).serialNumber, 12345u);
        }
    }
};

QTEST_GUILESS_MAIN(TestSimulatedController)
#include "tst_simulatedcontroller.moc"
