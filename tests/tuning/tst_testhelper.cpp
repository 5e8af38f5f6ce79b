#include "device/device.h"
#include "tuning/testhelper.h"

#include <QSignalSpy>
#include <QtTest>

namespace {

// The duty commands the helper sent: (percent, enable).
QList<QPair<int, bool>> duties(const QSignalSpy &spy)
{
    QList<QPair<int, bool>> out;
    for (const QList<QVariant> &args : spy)
        out.append({int(args.at(0).value<int16_t>()), args.at(1).toBool()});
    return out;
}

QPair<uint32_t, uint32_t> gains(const QList<QVariant> &args)
{
    return {args.at(0).value<uint32_t>(), args.at(1).value<uint32_t>()};
}

Test_Evalute_s proposal(uint16_t ki, int32_t kiDelta, uint16_t stepLen = 20)
{
    Test_Evalute_s e;
    e.Kp = 500;
    e.Ki = ki;
    e.kiDelta = kiDelta;
    e.stepLen = stepLen;
    return e;
}

} // namespace

// The sequencer driven tick by tick; the device model's and the parameter exchange's
// answers are played by the test.
class TestTestHelper : public QObject
{
    Q_OBJECT

    // A running device whose controller holds Kp 0.5 and Ki 0.0127 (words 512, 13).
    void prepare(TestHelper &helper)
    {
        helper.deviceConnectionState(DEVICE_RUNNING);
        helper.setControllerParams(512, 13);
    }

    // Confirms the written gains and plays the plan up to the analysis.
    void playTrial(TestHelper &helper)
    {
        helper.motionParamsSaved(SET_MOTION_PARAMS());
        QCOMPARE(helper.phase(), TestHelper::PHASE_STEPS);
        for (int tick = 0; tick < 2000 && helper.phase() == TestHelper::PHASE_STEPS; ++tick)
            helper.handleTimeout();
        QCOMPARE(helper.phase(), TestHelper::PHASE_ANALYSIS);
    }

private slots:
    // The analysis thread's queued connections find their argument types by these names.
    void crossThreadTypesAreRegistered()
    {
        TestHelper helper;
        for (const char *name : {"Test_Data_s", "QVector<Test_Data_s>", "Test_Evalute_s", "int8_t", "uint32_t",
                                 "SET_MOTION_PARAMS", "Device_State_e"})
            QVERIFY2(QMetaType::type(name) != QMetaType::UnknownType, name);
    }

    void gainsAreTakenToTheNearestThousandth_data()
    {
        QTest::addColumn<uint32_t>("wire");
        QTest::addColumn<int>("thousandths");
        QTest::newRow("1.0") << 1024u << 1000;
        QTest::newRow("0.5") << 512u << 500;
        QTest::newRow("13 restores as 13") << 13u << 13;
        QTest::newRow("102 (the first trial's 0.1)") << 102u << 100;
    }

    void gainsAreTakenToTheNearestThousandth()
    {
        QFETCH(uint32_t, wire);
        QFETCH(int, thousandths);
        TestHelper helper;
        helper.setControllerParams(wire, wire);
        QCOMPARE(int(helper.evaluation().Kp), thousandths);
        QCOMPARE(int(helper.evaluation().Ki), thousandths);
    }

    void planTimingAndTheRecording()
    {
        TestHelper helper;
        prepare(helper);
        QSignalSpy gainWrites(&helper, &TestHelper::updateControllerParams);
        QSignalSpy duty(&helper, &TestHelper::setDutyCycle);
        QSignalSpy analysis(&helper, &TestHelper::calculateControllerParams);

        helper.startTuning();
        QCOMPARE(helper.phase(), TestHelper::PHASE_START);
        QCOMPARE(gainWrites.size(), 1);
        QCOMPARE(gains(gainWrites[0]), qMakePair(500u, 100u)); // present Kp, Ki 0.100
        QCOMPARE(duty.size(), 0);

        // Samples before the steps start are not recorded.
        QVector<ONLINE_QUANTS_S> telemetry(1);
        helper.telemetryUpdated(&telemetry);
        QCOMPARE(helper.sampleCount(), 0);

        helper.motionParamsSaved(SET_MOTION_PARAMS());
        QCOMPARE(helper.runState(), TestHelper::RUN_STEPPING);
        QCOMPARE(duties(duty), (QList<QPair<int, bool>>{{0, true}}));

        // Each duty command with the tick it was given on; one sample per tick.
        QList<QPair<int, int>> commands; // (tick, percent)
        int tick = 0;
        while (helper.phase() == TestHelper::PHASE_STEPS && tick < 1000) {
            ++tick;
            const int before = duty.size();
            helper.handleTimeout();
            if (duty.size() > before)
                commands.append({tick, int(duty.last().at(0).value<int16_t>())});
            telemetry.last().Speed = float(tick);
            helper.telemetryUpdated(&telemetry);
        }
        QCOMPARE(commands, (QList<QPair<int, int>>{{5, 0}, {10, 10}, {60, 50}, {110, 90}, {160, 10}, {210, 30},
                                                   {260, 0}}));
        QCOMPARE(duties(duty).last(), qMakePair(0, false)); // the motor stops for the analysis
        QCOMPARE(helper.phase(), TestHelper::PHASE_ANALYSIS);
        QCOMPARE(helper.runState(), TestHelper::RUN_IDLE);

        QCOMPARE(analysis.size(), 1);
        const auto samples = analysis[0][0].value<QVector<Test_Data_s>>();
        QCOMPARE(samples.size(), 259); // the tick that ends the plan records nothing
        QCOMPARE(samples[8].Duty_Cycle, int16_t(0));
        QCOMPARE(samples[9].Duty_Cycle, int16_t(10)); // recorded after the tick's command
        QCOMPARE(samples[9].Speed, 10.0f);
        QCOMPARE(samples[258].Duty_Cycle, int16_t(30));
        const auto record = analysis[0][1].value<Test_Evalute_s>();
        QCOMPARE(int(record.Kp), 500);
        QCOMPARE(int(record.stepLen), 50);

        // The analysis runs in its own thread; this recording has one sample per tick and
        // a speed that never settles, so the run fails.
        QSignalSpy finished(&helper, &TestHelper::testFinished);
        QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 1, 10000);
        QCOMPARE(helper.phase(), TestHelper::PHASE_FAILED);
    }

    void planStepsFollowTheProposedLength_data()
    {
        QTest::addColumn<int>("stepLen");
        QTest::addColumn<int>("played");
        QTest::newRow("initial") << 50 << 50;
        QTest::newRow("shorter") << 24 << 24;
        QTest::newRow("too short to settle in") << 4 << int(TestHelper::MIN_STEP_TICKS);
        QTest::newRow("none at all") << 0 << int(TestHelper::MIN_STEP_TICKS);
    }

    void planStepsFollowTheProposedLength()
    {
        QFETCH(int, stepLen);
        QFETCH(int, played);
        const QVector<TestStep> plan = TestHelper::buildPlan(uint16_t(stepLen));
        QCOMPARE(plan.size(), 7);
        const int duties[] = {0, 10, 50, 90, 10, 30, 0};
        for (int i = 0; i < plan.size(); ++i)
            QCOMPARE(int(plan[i].dutyCycle), duties[i]);
        QCOMPARE(int(plan.first().durationTicks), 5);
        for (int i = 1; i < 6; ++i)
            QCOMPARE(int(plan[i].durationTicks), played);
        QCOMPARE(int(plan.last().durationTicks), 0);
    }

    // Four trials: each kept with the gains it ran with, then the choice; the untried
    // fifth proposal is not written.
    void trialBookkeepingAndTheChoice()
    {
        TestHelper helper;
        prepare(helper);
        QSignalSpy gainWrites(&helper, &TestHelper::updateControllerParams);
        QSignalSpy choose(&helper, &TestHelper::chooseController);
        QSignalSpy finished(&helper, &TestHelper::testFinished);
        QSignalSpy analysis(&helper, &TestHelper::calculateControllerParams);

        helper.startTuning();
        helper.setControllerParams(512, 102); // the device model reports the written gains
        playTrial(helper);
        helper.handleControllerParams(proposal(90, -10), 3, 0.2f); // only falling steps ring
        QCOMPARE(helper.phase(), TestHelper::PHASE_NEXT_TRIAL);
        QCOMPARE(int(helper.evaluation().kiDelta), -10);
        QCOMPARE(int(helper.evaluation().trialCount), 1);
        QCOMPARE(gains(gainWrites.last()), qMakePair(500u, 90u));

        playTrial(helper);
        QCOMPARE(helper.plan()[1].durationTicks, uint16_t(20)); // the proposed step length
        QCOMPARE(int(analysis.last()[1].value<Test_Evalute_s>().kiDelta), -10);
        helper.handleControllerParams(proposal(80, -10), 1, 0.1f);
        QCOMPARE(gains(gainWrites.last()), qMakePair(500u, 80u));
        playTrial(helper);
        helper.handleControllerParams(proposal(120, 40), 1, 0.15f);
        playTrial(helper);
        QCOMPARE(finished.size(), 0);
        const int writesBefore = gainWrites.size();
        helper.handleControllerParams(proposal(108, -12), 33, 0.3f); // non-linear response

        QCOMPARE(gainWrites.size(), writesBefore);
        QCOMPARE(helper.phase(), TestHelper::PHASE_IDLE);
        QCOMPARE(finished.size(), 1);
        QCOMPARE(choose.size(), 1);
        QCOMPARE(choose[0][0].toBool(), true); // a non-linear response: no fitting propeller

        const QVector<TrialResult> trials = helper.trials();
        QCOMPARE(trials.size(), 5);
        const int ranWith[] = {13, 100, 90, 80, 120};
        const float errors[] = {0.0f, 0.2f, 0.1f, 0.15f, 0.3f};
        for (int i = 0; i < trials.size(); ++i) {
            QCOMPARE(int(trials[i].Ki), ranWith[i]);
            QCOMPARE(int(trials[i].Kp), 500);
            QCOMPARE(trials[i].error, errors[i]);
            QCOMPARE(int(trials[i].excluded), i == 0 ? 1 : 0);
        }
        QCOMPARE(TestHelper::bestTrial(trials), 2);

        helper.choiseController(1);
        QCOMPARE(gains(gainWrites.last()), qMakePair(500u, 90u));
        helper.choiseController(0);
        QCOMPARE(gains(gainWrites.last()), qMakePair(500u, 13u));
        helper.choiseController(5);
        QCOMPARE(gainWrites.size(), writesBefore + 2);
    }

    // The gains before tuning go back to the controller as the very words it held.
    void defaultChoiceRestoresTheWordsBeforeTuning()
    {
        TestHelper helper;
        RequestChannel requests(QStringLiteral("Device"));
        Device device(&requests);
        connect(&device, &Device::setControllerParams, &helper, &TestHelper::setControllerParams);
        connect(&helper, &TestHelper::updateControllerParams, &device, &Device::updateControllerParams);
        QSignalSpy written(&device, &Device::setMotionParamsDirectly);
        helper.deviceConnectionState(DEVICE_RUNNING);
        SET_MOTION_PARAMS before;
        before.acceleration = 50;
        before.Kp = 700;
        before.Ki = 13;
        device.setMotionParams(before);

        helper.startTuning();
        device.setMotionParams(written.last().at(0).value<SET_MOTION_PARAMS>());
        playTrial(helper);
        helper.handleControllerParams(proposal(300, 200), -1, 0.0f);
        helper.choiseController(0);
        const auto restored = written.last().at(0).value<SET_MOTION_PARAMS>();
        QCOMPARE(restored.Kp, int16_t(700));
        QCOMPARE(restored.Ki, int16_t(13));
    }

    void noChoiceWhenEveryTrialIsExcluded()
    {
        QVector<TrialResult> trials {{0.0f, 500, 13, 1}};
        QCOMPARE(TestHelper::bestTrial(trials), -1);
        trials.append({0.5f, 500, 100, 0});
        trials.append({0.5f, 500, 90, 0});
        QCOMPARE(TestHelper::bestTrial(trials), 1); // the first on ties
    }

    void verdictsEndOrContinueTheRun_data()
    {
        QTest::addColumn<int>("result");
        QTest::addColumn<int>("phase");
        QTest::addColumn<QString>("message");
        QTest::newRow("success") << 0 << int(TestHelper::PHASE_IDLE) << QStringLiteral("Controller tuning was succesful");
        QTest::newRow("failure") << -1 << int(TestHelper::PHASE_FAILED) << QStringLiteral("Controller tuning was failed");
        QTest::newRow("failure, non-linear") << -11 << int(TestHelper::PHASE_FAILED)
                                             << QStringLiteral("Controller tuning was failed");
        QTest::newRow("try again") << 1 << int(TestHelper::PHASE_NEXT_TRIAL) << QString();
        QTest::newRow("try again, non-linear") << 11 << int(TestHelper::PHASE_NEXT_TRIAL) << QString();
    }

    void verdictsEndOrContinueTheRun()
    {
        QFETCH(int, result);
        QFETCH(int, phase);
        QFETCH(QString, message);
        TestHelper helper;
        prepare(helper);
        helper.startTuning();
        playTrial(helper);
        QSignalSpy texts(&helper, &TestHelper::sendTextForMsgBox);
        QSignalSpy finished(&helper, &TestHelper::testFinished);
        QSignalSpy gainWrites(&helper, &TestHelper::updateControllerParams);
        helper.handleControllerParams(proposal(90, -10), int8_t(result), 0.1f);
        QCOMPARE(int(helper.phase()), phase);
        if (message.isEmpty()) {
            QCOMPARE(texts.size(), 0);
            QCOMPARE(finished.size(), 0);
            QCOMPARE(gainWrites.size(), 1);
        } else {
            QCOMPARE(texts.size(), 1);
            QCOMPARE(texts[0][0].toString(), message);
            QCOMPARE(texts[0][1].toBool(), true);
            QCOMPARE(finished.size(), 1);
            QCOMPARE(gainWrites.size(), 0);
        }
    }

    // Every way out of a running test stops the motor; none starts another trial.
    void interruptionsStopTheMotor_data()
    {
        QTest::addColumn<QString>("how");
        QTest::addColumn<int>("phase");
        QTest::addColumn<QStringList>("texts");
        QTest::addColumn<QList<uint32_t>>("gainWrite"); // Kp, Ki; empty: none
        QTest::newRow("lost connection") << QStringLiteral("disconnect") << int(TestHelper::PHASE_FAILED)
                                         << QStringList {"Tuning fail", "Tuning fail"} << QList<uint32_t>();
        QTest::newRow("device left running mode") << QStringLiteral("connected") << int(TestHelper::PHASE_FAILED)
                                                   << QStringList {"Tuning fail", "Tuning fail"} << QList<uint32_t>();
        QTest::newRow("stalled motor in the first trial") << QStringLiteral("stall") << int(TestHelper::PHASE_IDLE)
                                                          << QStringList() << QList<uint32_t> {500, 200};
        QTest::newRow("controller error") << QStringLiteral("error") << int(TestHelper::PHASE_IDLE) << QStringList()
                                          << QList<uint32_t>();
        QTest::newRow("control signal lost") << QStringLiteral("signal") << int(TestHelper::PHASE_FAILED)
                                             << QStringList() << QList<uint32_t>();
        QTest::newRow("stop button") << QStringLiteral("stop") << int(TestHelper::PHASE_IDLE)
                                     << QStringList {"Tuning stop"} << QList<uint32_t>();
    }

    void interruptionsStopTheMotor()
    {
        QFETCH(QString, how);
        QFETCH(int, phase);
        QFETCH(QStringList, texts);
        QFETCH(QList<uint32_t>, gainWrite);

        TestHelper helper;
        prepare(helper);
        helper.startTuning();
        helper.setControllerParams(512, 102);
        helper.motionParamsSaved(SET_MOTION_PARAMS());
        for (int tick = 0; tick < 70; ++tick) // into the 50 % step
            helper.handleTimeout();
        QCOMPARE(helper.dutyCycle(), int16_t(50));

        QSignalSpy duty(&helper, &TestHelper::setDutyCycle);
        QSignalSpy shown(&helper, &TestHelper::sendTextForMsgBox);
        QSignalSpy finished(&helper, &TestHelper::testFinished);
        QSignalSpy gainWrites(&helper, &TestHelper::updateControllerParams);
        if (how == "disconnect")
            helper.deviceConnectionState(DEVICE_DISCONNECTED);
        else if (how == "connected")
            helper.deviceConnectionState(DEVICE_CONNECTED);
        else if (how == "stall")
            helper.resetControl(QStringLiteral("Stalled motor"), 1);
        else if (how == "error")
            helper.resetControl(QStringLiteral("Error occured"), 4);
        else if (how == "signal")
            helper.resetControl(QStringLiteral("Control signal lost"), 2);
        else
            helper.stopTuning();

        QCOMPARE(int(helper.phase()), phase);
        QVERIFY(!helper.isTuningRunning());
        QCOMPARE(duties(duty), (QList<QPair<int, bool>>{{0, false}}));
        QStringList shownTexts;
        for (const auto &args : shown)
            shownTexts << args.at(0).toString();
        QCOMPARE(shownTexts, texts);
        QCOMPARE(finished.size(), how == "stop" ? 0 : 1);
        QCOMPARE(gainWrites.size(), gainWrite.isEmpty() ? 0 : 1);
        if (!gainWrite.isEmpty())
            QCOMPARE(gains(gainWrites[0]), qMakePair(gainWrite[0], gainWrite[1]));

        // The plan does not go on, and a later confirmation of motion parameters (an
        // edit on the settings page) does not start the motor again.
        for (int tick = 0; tick < 300; ++tick)
            helper.handleTimeout();
        helper.motionParamsSaved(SET_MOTION_PARAMS());
        QCOMPARE(duties(duty), (QList<QPair<int, bool>>{{0, false}}));
        QCOMPARE(helper.runState() == TestHelper::RUN_STEPPING, false);
    }

    void resultOfAnAnalysisAfterStopStartsNoTrial()
    {
        TestHelper helper;
        prepare(helper);
        helper.startTuning();
        playTrial(helper);
        helper.stopTuning();
        QSignalSpy gainWrites(&helper, &TestHelper::updateControllerParams);
        QSignalSpy duty(&helper, &TestHelper::setDutyCycle);
        helper.handleControllerParams(proposal(90, -10), 1, 0.1f);
        QCOMPARE(gainWrites.size(), 0);
        QCOMPARE(helper.phase(), TestHelper::PHASE_IDLE);
        helper.motionParamsSaved(SET_MOTION_PARAMS());
        QCOMPARE(duty.size(), 0);
    }

    void unconfirmedGainsEndTheRun()
    {
        TestHelper helper;
        prepare(helper);
        QSignalSpy shown(&helper, &TestHelper::sendTextForMsgBox);
        QSignalSpy finished(&helper, &TestHelper::testFinished);
        QSignalSpy duty(&helper, &TestHelper::setDutyCycle);
        helper.startTuning();
        for (uint32_t tick = 0; tick < TestHelper::CONFIRMATION_TICKS; ++tick)
            helper.handleTimeout();
        QCOMPARE(helper.phase(), TestHelper::PHASE_START);
        helper.handleTimeout();
        QCOMPARE(helper.phase(), TestHelper::PHASE_FAILED);
        QCOMPARE(finished.size(), 1);
        QCOMPARE(shown.last().at(0).toString(), QStringLiteral("Controller tuning was failed"));
        // The write's confirmation, arriving late, starts nothing.
        helper.motionParamsSaved(SET_MOTION_PARAMS());
        QCOMPARE(duties(duty), (QList<QPair<int, bool>>{{0, false}}));
    }

    void tuningNeedsARunningMotor()
    {
        TestHelper helper;
        helper.deviceConnectionState(DEVICE_CONNECTED);
        helper.setControllerParams(512, 13);
        QSignalSpy gainWrites(&helper, &TestHelper::updateControllerParams);
        QSignalSpy shown(&helper, &TestHelper::sendTextForMsgBox);
        helper.startTuning();
        QCOMPARE(gainWrites.size(), 0);
        QCOMPARE(helper.phase(), TestHelper::PHASE_IDLE);
        QCOMPARE(shown.size(), 1);

        // Running, but the device stops running before the gains are confirmed.
        helper.deviceConnectionState(DEVICE_RUNNING);
        helper.startTuning();
        QCOMPARE(gainWrites.size(), 1);
        helper.startTuning(); // a second press changes nothing
        QCOMPARE(gainWrites.size(), 1);
        QCOMPARE(helper.trials().size(), 1);
    }

    void callsFromAnotherThreadRunInTheHelpersThread()
    {
        TestHelper helper;
        prepare(helper);
        QSignalSpy gainWrites(&helper, &TestHelper::updateControllerParams);
        QThread gui;
        QObject caller;
        caller.moveToThread(&gui);
        gui.start();
        QMetaObject::invokeMethod(&caller, [&helper] { helper.startTuning(); }, Qt::BlockingQueuedConnection);
        gui.quit();
        gui.wait();
        QCOMPARE(gainWrites.size(), 0); // posted, not run in the caller's thread
        QTRY_COMPARE(gainWrites.size(), 1);
        QCOMPARE(helper.phase(), TestHelper::PHASE_START);
    }
};

QTEST_GUILESS_MAIN(TestTestHelper)
#include "tst_testhelper.moc"
