#include "wire/messageids.h"
#include "ident/idhelper.h"
#include "tests/common/channelplayer.h"
#include "motors/dbmanager.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

#include <atomic>
#include <memory>

using IdState = IdHelper::IdState;

namespace {

VYX_Protocol::VYX_MSG answerFrame(uint8_t msgId, const QByteArray &payload)
{
    VYX_Protocol::VYX_MSG msg;
    msg.msgId = msgId;
    msg.length = uint32_t(payload.size());
    std::copy(payload.begin(), payload.end(), msg.payload.begin());
    return msg;
}

Poll_Answer_s estimator(uint8_t estState, uint8_t health = 0x1)
{
    Poll_Answer_s poll;
    poll.hasIdState = true;
    poll.idState = uint8_t(estState << 4 | health);
    return poll;
}

Poll_Answer_s prediction(uint8_t code)
{
    Poll_Answer_s poll;
    poll.hasErrorPrediction = true;
    poll.errorPrediction = code;
    return poll;
}

Poll_Answer_s savedMessage(uint8_t msgId)
{
    Poll_Answer_s poll;
    poll.hasSavedMsg = true;
    poll.savedMsgId = msgId;
    return poll;
}

const QByteArray OK = QByteArray::fromHex("20");
const QByteArray REFUSED = QByteArray::fromHex("21");
// The worked example: 20 A, Kv 900, 6 cells, 7 pole pairs.
const QByteArray EXAMPLE_USER_PARAMS = QByteArray::fromHex("FB00560AC800070184C8800C");

} // namespace

class TestIdHelper : public QObject
{
    Q_OBJECT

    std::unique_ptr<RequestChannel> channel;
    std::unique_ptr<ChannelPlayer> line;
    std::unique_ptr<IdHelper> id;
    std::unique_ptr<QSignalSpy> sent;
    std::unique_ptr<QSignalSpy> logs;
    std::unique_ptr<QSignalSpy> failures;
    std::unique_ptr<QSignalSpy> steps;
    std::unique_ptr<QSignalSpy> disconnects;

    void reply(uint8_t msgId, const QByteArray &payload) { line->answer(answerFrame(msgId, payload)); }
    void lose(uint8_t msgId, RequestFailure reason = RequestFailure::NoAnswer) { QVERIFY(line->fail(msgId, reason)); }

    int sentId(int index) const { return int(sent->at(index).at(0).value<uint8_t>()); }
    int lastSentId() const { return sent->isEmpty() ? -1 : sentId(sent->size() - 1); }
    QByteArray lastSentPayload() const { return sent->last().at(1).toByteArray(); }
    QString lastLog() const { return logs->isEmpty() ? QString() : logs->last().at(0).toString(); }

    QStringList logLines() const
    {
        QStringList lines;
        for (const auto &args : *logs)
            lines << args.at(0).toString();
        return lines;
    }

    // The limits sent, or why not (told by a signal; at once in the helper's own thread).
    int sendUserParams(float maxCurrent, bool noLoadKnown, float noLoadCurrent, int cells, float kv, int polePairs)
    {
        QSignalSpy refused(id.get(), &IdHelper::userParamsRefused);
        id->setMotorUserParams(maxCurrent, noLoadKnown, noLoadCurrent, cells, kv, polePairs);
        return refused.isEmpty() ? int(IdHelper::Sent) : refused.first().at(0).toInt();
    }
    int correct()
    {
        QSignalSpy refused(id.get(), &IdHelper::userParamsRefused);
        id->correctIdentification();
        return refused.isEmpty() ? int(IdHelper::Sent) : refused.first().at(0).toInt();
    }

    void sendExampleParams()
    {
        id->deviceConnectionState(DEVICE_CONNECTED);
        QCOMPARE(sendUserParams(20.0f, false, 0.0f, 6, 900.0f, 7), int(IdHelper::Sent));
    }

    void startRun()
    {
        sendExampleParams();
        reply(VyxMsg::SET_MOTOR_USER_PARAMS, OK);
        id->acceptAllConditions();
        reply(VyxMsg::IDENT_RUN, OK);
        QCOMPARE(id->state(), IdState::Running);
    }

    // Drives a started run up to the given step state by healthy estimator reports.
    void runUpTo(IdState target)
    {
        startRun();
        const struct { uint8_t estState; IdState reached; } walk[] = {
            {1, IdState::NoMovement}, {4, IdState::Acceleration}, {5, IdState::VariableSpeed},
            {8, IdState::Deceleration}};
        for (const auto &step : walk) {
            id->receivePollAnswer(estimator(step.estState));
            QCOMPARE(id->state(), step.reached);
            if (step.reached == target)
                return;
        }
    }

    void clearSpies()
    {
        for (QSignalSpy *spy : {sent.get(), logs.get(), failures.get(), steps.get(), disconnects.get()})
            spy->clear();
    }

private slots:
    void init()
    {
        channel = std::make_unique<RequestChannel>(QStringLiteral("IdHelper"));
        line = std::make_unique<ChannelPlayer>(channel.get());
        id = std::make_unique<IdHelper>(channel.get());
        sent = std::make_unique<QSignalSpy>(channel.get(), &RequestChannel::requestSent);
        logs = std::make_unique<QSignalSpy>(id.get(), &IdHelper::writeLogMessage);
        failures = std::make_unique<QSignalSpy>(id.get(), &IdHelper::identificationFailed);
        steps = std::make_unique<QSignalSpy>(id.get(), &IdHelper::changeIdState);
        disconnects = std::make_unique<QSignalSpy>(id.get(), &IdHelper::deviceDisconnect);
    }

    void cleanup()
    {
        sent.reset();
        logs.reset();
        failures.reset();
        steps.reset();
        disconnects.reset();
        id.reset();
        line.reset();
        channel.reset();
    }

    // ---- the user's motor data become the controller's limits ----

    void userParamsOnTheWire_data()
    {
        QTest::addColumn<float>("maxCurrent");
        QTest::addColumn<bool>("noLoadKnown");
        QTest::addColumn<float>("noLoadCurrent");
        QTest::addColumn<int>("cells");
        QTest::addColumn<float>("kv");
        QTest::addColumn<int>("polePairs");
        QTest::addColumn<QByteArray>("wire");

        QTest::newRow("worked example") << 20.0f << false << 0.0f << 6 << 900.0f << 7 << EXAMPLE_USER_PARAMS;
        QTest::newRow("no-load current below max/10 sets both currents")
            << 20.0f << true << 1.5f << 6 << 900.0f << 7 << QByteArray::fromHex("FB00560AC80007018496 6009");
        QTest::newRow("no-load current above max/10 changes nothing")
            << 20.0f << true << 3.0f << 6 << 900.0f << 7 << EXAMPLE_USER_PARAMS;
        // 4 x 4.2f truncates to 167; F = 2743.9998 Hz truncates to 2743; 1.2f x 100 lies
        // just above 120 and rounds up to 121.
        QTest::newRow("single-precision truncations")
            << 12.0f << false << 0.0f << 4 << 1400.0f << 7 << QByteArray::fromHex("A700B70A7800070189799007");
        // Flux frequency 840 Hz keeps its low 8 bits (72); 50 A = 5000 keeps 12 bits (904).
        QTest::newRow("flux frequency and currents wrap")
            << 500.0f << false << 0.0f << 12 << 2000.0f << 10 << QByteArray::fromHex("F701A04188130A0148888338");
    }

    void userParamsOnTheWire()
    {
        QFETCH(float, maxCurrent);
        QFETCH(bool, noLoadKnown);
        QFETCH(float, noLoadCurrent);
        QFETCH(int, cells);
        QFETCH(float, kv);
        QFETCH(int, polePairs);
        QFETCH(QByteArray, wire);

        id->deviceConnectionState(DEVICE_CONNECTED);
        QCOMPARE(sendUserParams(maxCurrent, noLoadKnown, noLoadCurrent, cells, kv, polePairs), int(IdHelper::Sent));

        QCOMPARE(sent->size(), 1);
        QCOMPARE(lastSentId(), int(VyxMsg::SET_MOTOR_USER_PARAMS));
        QCOMPARE(lastSentPayload().toHex(), wire.toHex());
        QCOMPARE(sent->last().at(2).toBool(), false); // not a poll
        QCOMPARE(sent->last().at(3).toBool(), true);  // waits for the answer
        QCOMPARE(id->motorParams()->packUser().toHex(), wire.toHex());
        QCOMPARE(id->state(), IdState::UserParamsSent);
        QVERIFY(id->isIdentRunning());
    }

    void userParamsGoToTheDeviceLog()
    {
        sendExampleParams();
        QCOMPARE(logLines(), QStringList({"Curr scale:0", "Volt scale:25.20", "Flux freq:132.30", "Id Curr:2.00",
                                          "Max curr:20.00", "Pole pairs:7"}));
    }

    void incompleteInputOrNoDeviceSendsNothing_data()
    {
        QTest::addColumn<Device_State_e>("deviceState");
        QTest::addColumn<float>("maxCurrent");
        QTest::addColumn<bool>("noLoadKnown");
        QTest::addColumn<float>("noLoadCurrent");
        QTest::addColumn<int>("cells");
        QTest::addColumn<float>("kv");
        QTest::addColumn<int>("polePairs");
        QTest::addColumn<int>("result");

        const auto c = DEVICE_CONNECTED;
        QTest::newRow("max current 0") << c << 0.0f << false << 0.0f << 6 << 900.0f << 7 << 1;
        QTest::newRow("Kv 0") << c << 20.0f << false << 0.0f << 6 << 0.0f << 7 << 1;
        QTest::newRow("cells 0") << c << 20.0f << false << 0.0f << 0 << 900.0f << 7 << 1;
        QTest::newRow("pole pairs 0") << c << 20.0f << false << 0.0f << 6 << 900.0f << 0 << 1;
        QTest::newRow("no-load box checked with 0 A") << c << 20.0f << true << 0.0f << 6 << 900.0f << 7 << 1;
        QTest::newRow("negative Kv") << c << 20.0f << false << 0.0f << 6 << -900.0f << 7 << 1;
        QTest::newRow("disconnected") << DEVICE_DISCONNECTED << 20.0f << false << 0.0f << 6 << 900.0f << 7 << 2;
        QTest::newRow("running") << DEVICE_RUNNING << 20.0f << false << 0.0f << 6 << 900.0f << 7 << 2;
        QTest::newRow("disconnected beats zero") << DEVICE_DISCONNECTED << 0.0f << false << 0.0f << 6 << 900.0f << 7
                                                 << 2;
    }

    void incompleteInputOrNoDeviceSendsNothing()
    {
        QFETCH(Device_State_e, deviceState);
        QFETCH(float, maxCurrent);
        QFETCH(bool, noLoadKnown);
        QFETCH(float, noLoadCurrent);
        QFETCH(int, cells);
        QFETCH(float, kv);
        QFETCH(int, polePairs);
        QFETCH(int, result);

        id->deviceConnectionState(deviceState);
        QCOMPARE(sendUserParams(maxCurrent, noLoadKnown, noLoadCurrent, cells, kv, polePairs), result);
        QCOMPARE(sent->size(), 0);
        QCOMPARE(logs->size(), 0);
        QCOMPARE(id->state(), IdState::Idle);
        QVERIFY(!id->isIdentRunning());
    }

    // ---- the run follows the estimator ----

    void estimatorStatesOutOfTurnAreIgnored()
    {
        startRun();
        id->receivePollAnswer(estimator(4)); // step 0 never announced
        id->receivePollAnswer(estimator(13));
        QCOMPARE(id->state(), IdState::Running);
        QCOMPARE(steps->size(), 0);

        for (uint8_t est : {1, 1, 2, 3, 8, 12, 13})
            id->receivePollAnswer(estimator(est));
        QCOMPARE(id->state(), IdState::NoMovement);
        QCOMPARE(steps->size(), 1);
        QCOMPARE(steps->at(0).at(0).toString(), QStringLiteral("No movement"));
        QCOMPARE(sent->size(), 2); // only the user params and IDENT_RUN
    }

    void unhealthyEstimatorStopsTheRun_data()
    {
        QTest::addColumn<uint8_t>("idState");
        QTest::newRow("health zero") << uint8_t(0x20);
        QTest::newRow("estimator state 0") << uint8_t(0x01);
        QTest::newRow("estimator state 14") << uint8_t(0xE1);
        QTest::newRow("estimator state 15") << uint8_t(0xF1);
    }

    void unhealthyEstimatorStopsTheRun()
    {
        QFETCH(uint8_t, idState);
        runUpTo(IdState::NoMovement);
        clearSpies();

        Poll_Answer_s poll;
        poll.hasIdState = true;
        poll.idState = idState;
        id->receivePollAnswer(poll);
        QCOMPARE(lastSentId(), int(VyxMsg::IDENT_STOP));
        QCOMPARE(id->state(), IdState::StopRequested);
        QCOMPARE(int(id->lastError()), 4);
        QCOMPARE(lastLog(), QStringLiteral("Ident error4"));

        reply(VyxMsg::IDENT_STOP, OK);
        QCOMPARE(id->state(), IdState::Failed);
        QCOMPARE(failures->size(), 1);
        QVERIFY(!failures->last().at(0).toBool()); // no prediction: a repeat, not a correction
        QCOMPARE(lastLog(), QStringLiteral("Ident stop"));

        // The controller keeps reporting the broken estimator: nothing restarts.
        id->receivePollAnswer(poll);
        QCOMPARE(sent->size(), 1);
        QVERIFY(!id->isIdentRunning());
    }

    // ---- refusals ----

    void refusedRequestsFailTheRun_data()
    {
        QTest::addColumn<int>("refusedId");
        QTest::addColumn<int>("error");
        QTest::addColumn<int>("errorPages");
        QTest::addColumn<int>("followUpId");

        QTest::newRow("user params refused") << int(VyxMsg::SET_MOTOR_USER_PARAMS) << 1 << 0
                                             << int(VyxMsg::IDENT_ERROR);
        QTest::newRow("run refused: the page stays") << int(VyxMsg::IDENT_RUN) << 3 << 0 << -1;
        QTest::newRow("stop refused") << int(VyxMsg::IDENT_STOP) << 2 << 1 << -1;
    }

    void refusedRequestsFailTheRun()
    {
        QFETCH(int, refusedId);
        QFETCH(int, error);
        QFETCH(int, errorPages);
        QFETCH(int, followUpId);

        sendExampleParams();
        if (refusedId != VyxMsg::SET_MOTOR_USER_PARAMS) {
            reply(VyxMsg::SET_MOTOR_USER_PARAMS, OK);
            id->acceptAllConditions();
        }
        if (refusedId == VyxMsg::IDENT_STOP) {
            reply(VyxMsg::IDENT_RUN, OK);
            id->stopIdentification();
        }
        QCOMPARE(lastSentId(), refusedId);
        clearSpies();

        reply(uint8_t(refusedId), REFUSED);
        QCOMPARE(int(id->lastError()), error);
        QCOMPARE(lastLog(), QStringLiteral("Ident error%1").arg(error));
        QCOMPARE(failures->size(), errorPages);
        QCOMPARE(lastSentId(), followUpId);
        if (followUpId < 0) {
            QCOMPARE(id->state(), IdState::Failed);
            QVERIFY(!id->isIdentRunning());
            return;
        }
        // The controller's error information ends the run on the error page.
        QCOMPARE(id->state(), IdState::ErrorInfoRequested);
        reply(VyxMsg::IDENT_ERROR, QByteArray::fromHex("5a"));
        QCOMPARE(id->state(), IdState::Failed);
        QCOMPARE(int(id->identErrorInfo()), 0x5a);
        QCOMPARE(failures->size(), 1);
        QVERIFY(!failures->last().at(0).toBool()); // no prediction: a repeat, not a correction
    }

    // ---- predicted errors and the correction ----

    void predictedErrorAndCorrection_data()
    {
        QTest::addColumn<uint8_t>("code");
        QTest::addColumn<int>("firstResCurrent");
        QTest::addColumn<int>("firstFlux");
        QTest::addColumn<int>("secondResCurrent");
        QTest::addColumn<int>("secondFlux");

        QTest::newRow("code 4 raises the resistance current") << uint8_t(4) << 300 << 132 << 450 << 132;
        QTest::newRow("code 7 adds 20 Hz to the flux frequency") << uint8_t(7) << 200 << 152 << 200 << 172;
        QTest::newRow("other codes change nothing") << uint8_t(5) << 200 << 132 << 200 << 132;
    }

    void predictedErrorAndCorrection()
    {
        QFETCH(uint8_t, code);
        QFETCH(int, firstResCurrent);
        QFETCH(int, firstFlux);
        QFETCH(int, secondResCurrent);
        QFETCH(int, secondFlux);

        QSignalSpy shown(id.get(), &IdHelper::showPredictError);
        runUpTo(IdState::Acceleration);
        id->receivePollAnswer(prediction(code));
        id->receivePollAnswer(prediction(code)); // every poll repeats it
        QCOMPARE(shown.size(), 1);
        QVERIFY(id->hasPredictedError());
        QCOMPARE(id->state(), IdState::Acceleration); // the run goes on
        id->stopIdentification();
        reply(VyxMsg::IDENT_STOP, OK);
        QCOMPARE(failures->size(), 1);
        QVERIFY(failures->last().at(0).toBool()); // predicted: a correction may succeed
        clearSpies();

        const auto correctAndCheck = [&](int resCurrent, int flux) {
            QCOMPARE(correct(), int(IdHelper::Sent));
            QCOMPARE(lastSentId(), int(VyxMsg::SET_MOTOR_USER_PARAMS));
            MOTOR_TOTAL sentLimits;
            QVERIFY(sentLimits.unpackUser(lastSentPayload()));
            QCOMPARE(int(sentLimits.resCurrent), resCurrent);
            QCOMPARE(int(sentLimits.indCurrent), 200);
            QCOMPARE(int(sentLimits.fluxFrequency), flux);
            QCOMPARE(id->state(), IdState::UserParamsSent);
        };
        correctAndCheck(firstResCurrent, firstFlux);
        correctAndCheck(secondResCurrent, secondFlux);

        reply(VyxMsg::SET_MOTOR_USER_PARAMS, OK);
        id->acceptAllConditions();
        QCOMPARE(lastSentId(), int(VyxMsg::IDENT_RUN));
        QVERIFY(!id->hasPredictedError());
        QCOMPARE(id->predictedErrorCode(), 0);

        // The corrected flux frequency sets the acceleration step's time.
        reply(VyxMsg::IDENT_RUN, OK);
        id->receivePollAnswer(estimator(1));
        id->receivePollAnswer(estimator(4));
        QCOMPARE(steps->last().at(5).value<uint32_t>(), uint32_t(5000 + 200 * secondFlux));
    }

    // Every poll repeats the prediction: each prediction is announced once, a different
    // one in the same run again.
    void eachPredictionAnnouncedOnce_data()
    {
        QTest::addColumn<QList<int>>("codes");
        QTest::addColumn<int>("announced");
        QTest::addColumn<int>("lastCode");
        QTest::newRow("one, repeated") << QList<int>({4, 4, 4}) << 1 << 4;
        QTest::newRow("a second, different one") << QList<int>({4, 4, 7, 7}) << 2 << 7;
        QTest::newRow("back to the first") << QList<int>({4, 7, 4}) << 3 << 4;
    }

    void eachPredictionAnnouncedOnce()
    {
        QFETCH(QList<int>, codes);
        QFETCH(int, announced);
        QFETCH(int, lastCode);
        QSignalSpy shown(id.get(), &IdHelper::showPredictError);
        runUpTo(IdState::NoMovement);
        for (int code : codes)
            id->receivePollAnswer(prediction(uint8_t(code)));
        QCOMPARE(shown.size(), announced);
        QCOMPARE(id->predictedErrorCode(), lastCode);
    }

    void correctionNeedsTheDevice()
    {
        runUpTo(IdState::NoMovement);
        id->receivePollAnswer(prediction(4));
        id->deviceConnectionState(DEVICE_DISCONNECTED);
        clearSpies();
        QCOMPARE(correct(), int(IdHelper::DeviceNotConnected));
        QCOMPARE(sent->size(), 0);
    }

    // ---- connection loss and lost answers ----

    void disconnectMidRunBreaksTheRun()
    {
        runUpTo(IdState::VariableSpeed);
        clearSpies();
        id->deviceConnectionState(DEVICE_DISCONNECTED);
        QCOMPARE(id->state(), IdState::Failed);
        QCOMPARE(int(id->lastError()), 7);
        QVERIFY(!failures->isEmpty());
        QVERIFY(!failures->last().at(0).toBool());
        QCOMPARE(lastLog(), QStringLiteral("Ident is broken"));
        QVERIFY(!id->isIdentRunning());

        // A reconnection while nothing runs changes nothing.
        id->deviceConnectionState(DEVICE_CONNECTED);
        id->deviceConnectionState(DEVICE_DISCONNECTED);
        QCOMPARE(failures->size(), 1);
    }

    void disconnectMidRunStillTellsTheControllerToStop()
    {
        runUpTo(IdState::Acceleration);
        clearSpies();
        id->deviceConnectionState(DEVICE_DISCONNECTED);
        QCOMPARE(sent->size(), 1);
        QCOMPARE(lastSentId(), int(VyxMsg::IDENT_STOP));
        QCOMPARE(sent->last().at(3).toBool(), false); // nobody waits for the answer
        QCOMPARE(id->state(), IdState::Failed);
        // Its answer, if it comes, changes nothing.
        reply(VyxMsg::IDENT_STOP, OK);
        QCOMPARE(failures->size(), 1);
    }

    // ---- the wizard left ----

    void cancelStopsARunAndDropsLimitsWithoutARun_data()
    {
        QTest::addColumn<int>("reached");     // -1: limits sent, not answered; 0: accepted; else a run state
        QTest::addColumn<bool>("stopSent");
        QTest::addColumn<int>("stateAfter");
        QTest::newRow("limits sent") << -1 << false << int(IdState::Idle);
        QTest::newRow("limits accepted") << 0 << false << int(IdState::Idle);
        QTest::newRow("run requested") << int(IdState::RunRequested) << true << int(IdState::StopRequested);
        QTest::newRow("no movement") << int(IdState::NoMovement) << true << int(IdState::StopRequested);
        QTest::newRow("deceleration") << int(IdState::Deceleration) << true << int(IdState::StopRequested);
    }

    void cancelStopsARunAndDropsLimitsWithoutARun()
    {
        QFETCH(int, reached);
        QFETCH(bool, stopSent);
        QFETCH(int, stateAfter);
        if (reached == -1) {
            sendExampleParams();
        } else if (reached == 0) {
            sendExampleParams();
            reply(VyxMsg::SET_MOTOR_USER_PARAMS, OK);
        } else if (reached == int(IdState::RunRequested)) {
            sendExampleParams();
            reply(VyxMsg::SET_MOTOR_USER_PARAMS, OK);
            id->acceptAllConditions();
        } else {
            runUpTo(IdState(reached));
        }
        clearSpies();
        id->cancelIdentification();
        QCOMPARE(int(id->state()), stateAfter);
        QCOMPARE(sent->size(), stopSent ? 1 : 0);
        if (stopSent) {
            QCOMPARE(lastSentId(), int(VyxMsg::IDENT_STOP));
            id->cancelIdentification(); // a second time: the stop is on its way already
            QCOMPARE(sent->size(), 1);
            return;
        }
        QVERIFY(!id->isIdentRunning());
        // The late answer to the dropped limits leaves the sequencer idle.
        if (reached == -1) {
            reply(VyxMsg::SET_MOTOR_USER_PARAMS, OK);
            QCOMPARE(id->state(), IdState::Idle);
            QVERIFY(!id->isIdentRunning());
        }
    }

    // A storage confirmation during a run must not let the page go with the motor turning.
    void storedMotorConfirmationDoesNotEndARun()
    {
        runUpTo(IdState::VariableSpeed);
        id->receivePollAnswer(savedMessage(VyxMsg::SET_MOTOR_IDENT_PARAMS));
        QCOMPARE(id->state(), IdState::VariableSpeed);
        QVERIFY(id->isIdentRunning());
        id->stopIdentification();
        id->receivePollAnswer(savedMessage(VyxMsg::SET_MOTOR_IDENT_PARAMS));
        QCOMPARE(id->state(), IdState::StopRequested);
        reply(VyxMsg::IDENT_STOP, OK);
        QCOMPARE(id->state(), IdState::Failed);
        // Once the motor is stopped the confirmation does what it always did.
        id->receivePollAnswer(savedMessage(VyxMsg::SET_MOTOR_IDENT_PARAMS));
        QCOMPARE(id->state(), IdState::Idle);
    }

    // While the motor may spin, a lost answer first stops it; the stop's own loss then
    // drops the device. Either way the sequencer ends in Failed on the error page.
    void lostAnswerDuringARunStopsTheMotorFirst_data()
    {
        QTest::addColumn<QString>("howLost");
        QTest::newRow("loss reported by the port manager") << QStringLiteral("watchdog");
        QTest::newRow("dropped behind another lost request") << QStringLiteral("dropped");
        QTest::newRow("answer neither accepts nor refuses") << QStringLiteral("unreadable");
    }

    void lostAnswerDuringARunStopsTheMotorFirst()
    {
        QFETCH(QString, howLost);
        sendExampleParams();
        reply(VyxMsg::SET_MOTOR_USER_PARAMS, OK);
        id->acceptAllConditions();
        clearSpies();

        if (howLost == QLatin1String("watchdog")) {
            lose(VyxMsg::IDENT_RUN);
        } else if (howLost == QLatin1String("dropped")) {
            lose(VyxMsg::IDENT_RUN, RequestFailure::Dropped);
        } else {
            reply(VyxMsg::IDENT_RUN, QByteArray());
        }
        QCOMPARE(lastSentId(), int(VyxMsg::IDENT_STOP));
        QCOMPARE(id->state(), IdState::StopRequested);
        QCOMPARE(disconnects->size(), 0);

        lose(VyxMsg::IDENT_STOP);
        QCOMPARE(disconnects->size(), 1);
        QCOMPARE(id->state(), IdState::Failed);
        QVERIFY(!failures->isEmpty());
        QVERIFY(!failures->last().at(0).toBool());
        QVERIFY(!id->isIdentRunning());
        QCOMPARE(sent->size(), 1);
    }

    void lostAnswerWhileNothingSpinsFails_data()
    {
        QTest::addColumn<QString>("stage");
        QTest::newRow("user params") << QStringLiteral("userParams");
        QTest::newRow("identified parameters") << QStringLiteral("motorParams");
        QTest::newRow("identified parameters too short") << QStringLiteral("shortMotorParams");
    }

    void lostAnswerWhileNothingSpinsFails()
    {
        QFETCH(QString, stage);
        QSignalSpy finished(id.get(), &IdHelper::identFinished);
        if (stage == QLatin1String("userParams")) {
            sendExampleParams();
            clearSpies();
            lose(VyxMsg::SET_MOTOR_USER_PARAMS);
        } else {
            runUpTo(IdState::Deceleration);
            id->receivePollAnswer(estimator(12));
            QCOMPARE(lastSentId(), int(VyxMsg::GET_MOTOR_PARAMS));
            clearSpies();
            if (stage == QLatin1String("motorParams"))
                lose(VyxMsg::GET_MOTOR_PARAMS);
            else
                reply(VyxMsg::GET_MOTOR_PARAMS, QByteArray(15, '\x01'));
        }
        QCOMPARE(id->state(), IdState::Failed);
        QVERIFY(!failures->isEmpty());
        QVERIFY(!failures->last().at(0).toBool());
        QCOMPARE(sent->size(), 0);
        QCOMPARE(disconnects->size(), 0);
        QCOMPARE(finished.size(), 0);
        QCOMPARE(id->motorParams()->packIdent(), QByteArray(16, '\0'));
    }

    void otherReceiversAreIgnored()
    {
        startRun();
        clearSpies();
        RequestChannel other(QStringLiteral("PingHelper"));
        emit other.failed(1, RequestFailure::NoAnswer);
        emit other.answered(2, answerFrame(VyxMsg::IDENT_STOP, OK));
        emit channel->failed(ChannelPlayer::unknownTicket(), RequestFailure::NoAnswer);
        reply(VyxMsg::IDENT_STOP, OK); // no IDENT_STOP is outstanding
        QCOMPARE(id->state(), IdState::Running);
        QCOMPARE(failures->size() + logs->size() + sent->size() + disconnects->size(), 0);
    }

    // ---- a stored motor back into the controller ----

    void storedMotorSendsBothHalves()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        DbManager db(nullptr, dir.path());
        MOTOR_TOTAL stored;
        stored.Rs = 0.042f;
        stored.Ls_d = 1.5e-5f;
        stored.Ls_q = 1.75e-5f;
        stored.Flux = 0.0021f;
        stored.voltage_scale = 251;
        stored.maxFrequency = 2646;
        stored.maxMotorCurrent = 200;
        stored.polePairs = 7;
        stored.resCurrent = 150;
        QVERIFY(db.saveMotor(QStringLiteral("Quad 2207"), QStringLiteral("2026-01-02 03:04:05"), &stored));
        // As the database gives it back: validData 3, indCurrent = resCurrent, flux = F / 20.
        const QByteArray userHalf = QByteArray::fromHex("FB00560AC80007038496 6009");

        MOTOR_TOTAL read;
        QVERIFY(db.getMotorParams(QStringLiteral("Quad 2207"), &read));

        RequestChannel requests(QStringLiteral("IdHelper"));
        ChannelPlayer player(&requests);
        IdHelper helper(&requests);
        QSignalSpy helperSent(&requests, &RequestChannel::requestSent);
        QSignalSpy helperLogs(&helper, &IdHelper::writeLogMessage);
        QSignalSpy paramsUpdate(&helper, &IdHelper::updateMotorParams);
        QSignalSpy hoursUpdate(&helper, &IdHelper::updateMotorHours);
        QSignalSpy answered(&helper, &IdHelper::storedMotorAnswered);

        helper.setStoredMotor(read); // no device yet: told at once, nothing sent
        QCOMPARE(answered.size(), 1);
        QCOMPARE(answered[0][0].toBool(), false);
        QCOMPARE(answered[0][1].toBool(), false);
        QCOMPARE(helperSent.size(), 0);
        helper.deviceConnectionState(DEVICE_CONNECTED);

        helper.setStoredMotor(read);
        QCOMPARE(helperSent.size(), 2);
        QCOMPARE(int(helperSent[0][0].value<uint8_t>()), int(VyxMsg::SET_MOTOR_IDENT_PARAMS));
        QCOMPARE(helperSent[0][1].toByteArray().toHex(), stored.packIdent().toHex());
        QCOMPARE(int(helperSent[1][0].value<uint8_t>()), int(VyxMsg::SET_MOTOR_USER_PARAMS));
        QCOMPARE(helperSent[1][1].toByteArray().toHex(), userHalf.toHex());
        QCOMPARE(paramsUpdate.size(), 1);
        QCOMPARE(hoursUpdate.size(), 1);
        QCOMPARE(helper.state(), IdState::StoredMotorSent);

        // The controller confirms storing through a poll before the user half is answered;
        // the late answer must not put the sequencer into a running state.
        player.answer(answerFrame(VyxMsg::SET_MOTOR_IDENT_PARAMS, OK));
        helper.receivePollAnswer(savedMessage(VyxMsg::SET_MOTOR_IDENT_PARAMS));
        QCOMPARE(helper.state(), IdState::Idle);
        player.answer(answerFrame(VyxMsg::SET_MOTOR_USER_PARAMS, OK));
        QCOMPARE(helper.state(), IdState::Idle);
        QVERIFY(!helper.isIdentRunning());
        QCOMPARE(helperLogs.size(), 2);
        QCOMPARE(helperLogs[0][0].toString(), QStringLiteral("Set motor ident params in total params"));
        QCOMPARE(helperLogs[1][0].toString(), QStringLiteral("Set motor user params in total params"));
        QCOMPARE(answered.size(), 2);
        QCOMPARE(answered[1][0].toBool(), true);
    }

    // ---- threads ----

    void callsFromTheGuiThreadRunInTheHelpersThread()
    {
        QThread coordinator;
        RequestChannel requests(QStringLiteral("IdHelper"));
        auto *helper = new IdHelper(&requests);
        helper->moveToThread(&coordinator);
        connect(&coordinator, &QThread::finished, helper, &QObject::deleteLater);
        std::atomic<QThread *> sendingThread {nullptr};
        std::atomic<int> sends {0};
        connect(
            &requests, &RequestChannel::requestSent, helper,
            [&](uint8_t, QByteArray, bool, bool, RequestTicket, uint32_t) {
                sendingThread = QThread::currentThread();
                ++sends;
            },
            Qt::DirectConnection);
        coordinator.start();

        QMetaObject::invokeMethod(
            helper, [helper] { helper->deviceConnectionState(DEVICE_CONNECTED); }, Qt::BlockingQueuedConnection);
        helper->setMotorUserParams(20.0f, false, 0.0f, 6, 900.0f, 7);
        helper->acceptConditions(IdHelper::ID_WIDGET_ATTENTION);
        helper->acceptAllConditions();
        QTRY_COMPARE_WITH_TIMEOUT(sends.load(), 2, 5000);
        QCOMPARE(sendingThread.load(), &coordinator);
        QVERIFY(helper->isIdentRunning());

        coordinator.quit();
        QVERIFY(coordinator.wait(5000));
    }
};

QTEST_GUILESS_MAIN(TestIdHelper)
#include "tst_idhelper.moc"
