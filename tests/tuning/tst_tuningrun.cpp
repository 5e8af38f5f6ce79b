#include "app/appbase.h"
#include "app/demoportprovider.h"
#include "device/pinghelper.h"
#include "link/comhelper.h"
#include "sim/simulatedcontroller.h"
#include "tests/common/pagechange.h"
#include "steptestrecorder.h"
#include "tests/sim/simhost.h"
#include "tuning/stepresponseanalysis.h"
#include "tuning/testhelper.h"

#include <QDeadlineTimer>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

namespace {

// The coordinator against the simulated controller, holding soft gains (Kp 0.2,
// Ki 0.0127: a step never settles), driven tick by tick.
struct Rig
{
    explicit Rig(const SimulatorConfig &config)
        : provider({}, config), controller(*provider.controller()),
          app(&provider, DataDirectory::resolve(dataDir.path(), QString(), QString()))
    {
        provider.setRealTime(false);
        SET_MOTION_PARAMS soft = controller.firmware().motionParams();
        soft.Kp = 205;
        soft.Ki = 13;
        controller.firmware().handle(VyxMsg::WRITE_MOTION_PARAMS, soft.pack());
        QObject::connect(&controller, &SimulatedController::traffic, &app,
                         [this](bool fromHost, const QByteArray &bytes) {
                             for (const VYX_Protocol::VYX_MSG &msg : SimHost::decode(bytes)) {
                                 if (fromHost && msg.msgId == VyxMsg::WRITE_MOTION_PARAMS)
                                     gainWrites.append(SET_MOTION_PARAMS::unpack(msg.payloadBytes()));
                             }
                         });
    }

    void tick()
    {
        controller.advance(50);
        app.handleTimeout();
        for (int i = 0; i < 5; ++i) // the port delivers by queued calls
            QCoreApplication::processEvents();
    }

    // Finds the controller, switches it into running mode and reads its records.
    bool connectAndRun()
    {
        // The port's readiness is checked in its own thread: the controller's clock waits.
        app.comHelper()->startPortSelection();
        QDeadlineTimer deadline(10000);
        while (!app.comHelper()->isConnected() && !deadline.hasExpired()) {
            app.handleTimeout();
            QTest::qWait(5);
        }
        for (int i = 0; i < 20 && app.deviceState() != DEVICE_CONNECTED; ++i)
            tick();
        app.pingHelper()->startRun();
        for (int i = 0; i < 40 && (app.deviceState() != DEVICE_RUNNING || app.device()->isReadBatchRunning()); ++i)
            tick();
        return app.deviceState() == DEVICE_RUNNING && !app.device()->isReadBatchRunning();
    }

    QTemporaryDir dataDir;
    DemoPortProvider provider;
    SimulatedController &controller;
    AppBase app;
    QVector<SET_MOTION_PARAMS> gainWrites;
};

} // namespace

// Step tests against the simulated controller's speed loop, and one whole tuning run
// through the coordinator, tick by tick.
class TestTuningRun : public QObject
{
    Q_OBJECT

private slots:
    // The analysis tells the speed loop's gains apart: too soft to settle within a step,
    // good, and ringing.
    void stepResponsesOfTheSimulatedSpeedLoop_data()
    {
        QTest::addColumn<int>("kp"); // thousandths
        QTest::addColumn<int>("ki");
        QTest::addColumn<int>("verdict"); // result modulo 10
        QTest::newRow("too soft") << 200 << 13 << -1;
        QTest::newRow("good") << 200 << 100 << 0;
        QTest::newRow("good with a stronger Kp") << 1000 << 200 << 0;
        QTest::newRow("ringing") << 1000 << 400 << 1;
        QTest::newRow("ringing hard") << 500 << 800 << 1;
    }

    void stepResponsesOfTheSimulatedSpeedLoop()
    {
        QFETCH(int, kp);
        QFETCH(int, ki);
        QFETCH(int, verdict);
        SimulatorConfig config;
        config.identity.startRunning = true;
        SimulatedFirmware firmware(config);
        const SET_MOTION_PARAMS motion = motionWithGains(firmware, uint16_t(kp), uint16_t(ki));
        QCOMPARE(firmware.handle(VyxMsg::WRITE_MOTION_PARAMS, motion.pack()).payload, QByteArray(1, char(ANSWER_OK)));

        Test_Evalute_s evaluation;
        evaluation.Kp = uint16_t(kp);
        evaluation.Ki = uint16_t(ki);
        const TuningVerdict result = StepResponseAnalysis::evaluate(recordStepTest(firmware, 50), evaluation);
        QCOMPARE(result.result % 10, verdict);
        if (verdict == 0)
            QCOMPARE(int(result.evaluation.Ki), ki);
        if (verdict == 1)
            QVERIFY2(result.evaluation.Ki < ki, "a ringing loop gets a smaller Ki");
    }

    // From soft gains to a verdict of 0: the first trial's gains are written, confirmed,
    // the plan is played on the spinning motor, the analysis runs in its thread and the
    // run ends with the motor stopped.
    void wholeRunFromSoftGainsToSuccess()
    {
        SimulatorConfig config;
        Rig rig(config);
        TestHelper *tuning = rig.app.testHelper();
        QSignalSpy info(&rig.app, &AppBase::sendTextForInfo);
        QSignalSpy finished(tuning, &TestHelper::testFinished);
        QSignalSpy analyses(tuning, &TestHelper::calculateControllerParams);
        QVERIFY(rig.connectAndRun());
        QCOMPARE(int(tuning->evaluation().Kp), 200);
        QCOMPARE(int(tuning->evaluation().Ki), 13);

        rig.app.setActivePage(3); // the control page
        QCOMPARE(pageChangeAnswer(rig.app, 2), QStringLiteral("allowed"));
        tuning->startTuning();
        // While the test gains are written the motor is off, yet the page must not be left.
        QCOMPARE(tuning->phase(), TestHelper::PHASE_START);
        QVERIFY(!rig.app.pingHelper()->isDutyEnabled());
        QCOMPARE(pageChangeAnswer(rig.app, 2), QStringLiteral("refused"));
        QVERIFY(info.contains({QStringLiteral("Please disable control first"), true}));
        // One trial: 0.5 s at 0 % and five steps of 2.5 s; the analysis takes its own time.
        for (int i = 0; i < 2000 && finished.isEmpty(); ++i)
            rig.tick();
        QCOMPARE(finished.size(), 1);

        QCOMPARE(analyses.size(), 1);
        const auto samples = analyses[0][0].value<QVector<Test_Data_s>>();
        QVERIFY2(samples.size() >= 250, qPrintable(QString::number(samples.size())));
        QCOMPARE(tuning->phase(), TestHelper::PHASE_IDLE);
        QVERIFY(info.contains({QStringLiteral("Controller tuning was succesful"), true}));

        // The first trial's gains went to the controller once, and stayed there.
        QCOMPARE(rig.gainWrites.size(), 1);
        QCOMPARE(rig.gainWrites[0].Kp, int16_t(205));
        QCOMPARE(rig.gainWrites[0].Ki, int16_t(102));
        QCOMPARE(rig.controller.firmware().motionParams().Ki, int16_t(102));
        QCOMPARE(rig.app.device()->motionParams().Ki, int16_t(102));

        // The motor is stopped and control is off.
        QVERIFY(!rig.app.pingHelper()->isDutyEnabled());
        QCOMPARE(pageChangeAnswer(rig.app, 2), QStringLiteral("allowed"));
        rig.tick();
        QCOMPARE(rig.controller.firmware().motor().duty(), 0.0);
    }

    // The adapter is pulled out in the middle of the steps: the run fails and the duty
    // command is withdrawn.
    void lostConnectionDuringTheStepsStopsTheMotor()
    {
        SimulatorConfig config;
        config.faults.vanishAfterMs = 8000; // the run starts after about 2 s
        Rig rig(config);
        TestHelper *tuning = rig.app.testHelper();
        QSignalSpy info(&rig.app, &AppBase::sendTextForInfo);
        QSignalSpy finished(tuning, &TestHelper::testFinished);
        QVERIFY(rig.connectAndRun());
        tuning->startTuning();
        for (int i = 0; i < 60 && tuning->phase() != TestHelper::PHASE_STEPS; ++i)
            rig.tick();
        QCOMPARE(tuning->phase(), TestHelper::PHASE_STEPS);
        QVERIFY(rig.app.pingHelper()->isDutyEnabled());

        for (int i = 0; i < 400 && finished.isEmpty(); ++i)
            rig.tick();
        QVERIFY(rig.controller.hasVanished());
        QCOMPARE(finished.size(), 1);
        QCOMPARE(tuning->phase(), TestHelper::PHASE_FAILED);
        QVERIFY(info.contains({QStringLiteral("Tuning fail"), false}));
        QVERIFY(!rig.app.pingHelper()->isDutyEnabled());
    }
};

QTEST_GUILESS_MAIN(TestTuningRun)
#include "tst_tuningrun.moc"
