#include "device/paramshelper.h"
#include "device/settingsmodel.h"
#include "devicetestsupport.h"
#include "tests/common/channelplayer.h"

#include <QtTest>

#include <cmath>
#include <thread>

namespace {

Poll_Answer_s savedMsg(uint8_t msgId)
{
    Poll_Answer_s p;
    p.hasSavedMsg = true;
    p.savedMsgId = msgId;
    return p;
}

using CheckStates = QPair<Qt::CheckState, Qt::CheckState>;

} // namespace

class TestParamsHelper : public QObject
{
    Q_OBJECT

    RequestChannel *channel = nullptr;
    ChannelPlayer *line = nullptr;
    ParamsHelper *params = nullptr;
    QSignalSpy *sent = nullptr;
    QSignalSpy *texts = nullptr;
    QVector<CheckStates> checkBoxes;

    void tick(int times = 1)
    {
        for (int i = 0; i < times; ++i)
            params->tick();
    }

    void feed(const VYX_Protocol::VYX_MSG &msg) { line->answer(msg); }
    void lose(uint8_t msgId) { QVERIFY(line->fail(msgId)); }

    // Speed ramp 6 (40), brake 1 (70) enabled, address 5, time to leave 175 ms, Kp 0.5, Ki 0.0123.
    void editMotion(uint16_t acceleration = 6)
    {
        params->setMotionParams(acceleration, 1, true, false, 5, false, 175, 0.5f, 0.0123f);
    }

    void editPwmIn() { params->setPwmInParams(1000, 1500, 2000, 15, false, true, true, false, 5000, 1.0); }

    // Edits, then the quiet period until the write goes out; returns the write.
    SentRequest sendAfterQuietPeriod(bool motion)
    {
        motion ? editMotion() : editPwmIn();
        tick(16);
        const QVector<SentRequest> requests = takeRequests(*sent);
        return requests.value(0);
    }

private slots:
    void init()
    {
        channel = new RequestChannel(QStringLiteral("ParamsHelper"));
        line = new ChannelPlayer(channel);
        params = new ParamsHelper(channel);
        sent = new QSignalSpy(channel, &RequestChannel::requestSent);
        texts = new QSignalSpy(params, &ParamsHelper::sendTextForMsgBox);
        checkBoxes.clear();
        connect(params, &ParamsHelper::updateCheckBox, this,
                [this](Qt::CheckState pwmIn, Qt::CheckState motion) { checkBoxes << CheckStates(pwmIn, motion); });
        params->deviceConnectionState(DEVICE_CONNECTED);
    }

    void cleanup()
    {
        delete texts;
        delete sent;
        delete params;
        delete line;
        delete channel;
    }

    void motionEditSentOnceAfterTheLastOfASeries()
    {
        // An edit every 10 ticks (0.5 s) for 5 s: nothing goes out meanwhile.
        for (int i = 0; i < 10; ++i) {
            editMotion(uint16_t(i));
            tick(10);
        }
        editMotion(7);
        QCOMPARE(sent->count(), 0);
        QVERIFY(params->isSending());

        tick(15);
        QCOMPARE(sent->count(), 0);
        tick(); // the 16th tick after the last edit
        const QVector<SentRequest> writes = takeRequests(*sent);
        QCOMPARE(writes.size(), 1);
        QCOMPARE(writes[0].msgId, uint8_t(VyxMsg::WRITE_MOTION_PARAMS));
        QVERIFY(!writes[0].pingType);
        QVERIFY(writes[0].waitForAnswer);
        const SET_MOTION_PARAMS written = SET_MOTION_PARAMS::unpack(writes[0].payload);
        QCOMPARE(written.acceleration, uint8_t(45)); // the last edit
        tick(40);
        QCOMPARE(sent->count(), 0);
        QCOMPARE(params->sendState(), ParamsHelper::PARAMS_SENDING_MOTION);
    }

    void motionWriteConfirmedThroughTheStatusBlock()
    {
        QSignalSpy address(params, &ParamsHelper::updateDeviceAddress);
        QSignalSpy handedOn(params, &ParamsHelper::device_setMotionParams);
        const SentRequest write = sendAfterQuietPeriod(true);

        feed(answer(VyxMsg::WRITE_MOTION_PARAMS, "20"));
        QCOMPARE(params->sendState(), ParamsHelper::PARAMS_ACCEPTED);
        QCOMPARE(address.count(), 1);
        QCOMPARE(address.at(0).at(0).toUInt(), 5u);
        QCOMPARE(handedOn.count(), 0); // accepted is not yet stored
        QVERIFY(params->isSending());

        params->receivePollAnswer(savedMsg(VyxMsg::WRITE_MOTION_PARAMS));
        QCOMPARE(params->sendState(), ParamsHelper::PARAMS_IDLE);
        QCOMPARE(checkBoxes, QVector<CheckStates>{CheckStates(Qt::PartiallyChecked, Qt::Checked)});
        QCOMPARE(handedOn.count(), 1);
        QCOMPARE(handedOn.at(0).at(0).value<SET_MOTION_PARAMS>().pack(), write.payload);
        QVERIFY(!params->isSending());

        params->receivePollAnswer(savedMsg(VyxMsg::WRITE_MOTION_PARAMS)); // repeated: nothing new
        QCOMPARE(handedOn.count(), 1);
    }

    void motionPacking_data()
    {
        QTest::addColumn<int>("acceleration");
        QTest::addColumn<int>("brake");
        QTest::addColumn<bool>("brakeEnable");
        QTest::addColumn<bool>("reverse");
        QTest::addColumn<int>("address");
        QTest::addColumn<bool>("hwAddress");
        QTest::addColumn<int>("timeToLeave");
        QTest::addColumn<float>("kp");
        QTest::addColumn<float>("ki");
        QTest::addColumn<QByteArray>("payload");

        // word 0x006AC614: 20, brake 70, enabled, address 5, 175 ms -> 3; Kp 512, Ki 13
        QTest::newRow("brake 1, 175 ms, small gains")
            << 2 << 1 << true << false << 5 << false << 175 << 0.5f << 0.0123f << QByteArray::fromHex("14c66a0000020d00");
        // word 0x07FF5A64: 100, brake 90, reversed, address 7, from hardware, 63 x 50 ms; Kp -1024
        QTest::newRow("every bit set") << 18 << 2 << false << true << 7 << true << 3150 << -1.0f << 0.0f
                                       << QByteArray::fromHex("645aff0700fc0000");
        // Out-of-range input is kept within its field: brake index 7 -> 90, address 9 -> 1,
        // 5000 ms -> 36 (6 bits), gains saturate.
        QTest::newRow("out of range") << 0 << 7 << false << false << 9 << false << 5000 << 100.0f << -100.0f
                                      << QByteArray::fromHex("0a5a8204ff7f0080");
    }

    void motionPacking()
    {
        QFETCH(int, acceleration);
        QFETCH(int, brake);
        QFETCH(bool, brakeEnable);
        QFETCH(bool, reverse);
        QFETCH(int, address);
        QFETCH(bool, hwAddress);
        QFETCH(int, timeToLeave);
        QFETCH(float, kp);
        QFETCH(float, ki);
        QFETCH(QByteArray, payload);

        params->setMotionParams(uint16_t(acceleration), uint16_t(brake), brakeEnable, reverse, uint8_t(address),
                                hwAddress, uint16_t(timeToLeave), kp, ki);
        tick(16);
        const QVector<SentRequest> writes = takeRequests(*sent);
        QCOMPARE(writes.size(), 1);
        QCOMPARE(writes[0].payload.toHex(), payload.toHex());
    }

    void pwmInPacking()
    {
        params->setPwmInParams(1000, 1500, 2000, 15, true, false, true, false, 12340, 0.57);
        tick(16);
        const QVector<SentRequest> writes = takeRequests(*sent);
        QCOMPARE(writes.size(), 1);
        QCOMPARE(writes[0].msgId, uint8_t(VyxMsg::WRITE_PWM_IN_PARAMS));
        // 100, 150, 200, dead zone 15; word: bipolar, digital, speed norm 1234, then the scale
        // byte (its bytes for both kinds of Qt library: scaleBytes below).
        QCOMPARE(writes[0].payload.left(6).toHex(), QByteArray("6496c80f254d"));
        QCOMPARE(int(uint8_t(writes[0].payload.at(6))), int(SettingsModel::scaleField(0.57)));
        QCOMPARE(int(uint8_t(writes[0].payload.at(7))), 0);
    }

    // The scale byte: x 100 in 7 bits with a debug Qt library, 1.00 whatever was entered
    // with a release one.
    void scaleBytes_data()
    {
        QTest::addColumn<double>("scale");
        QTest::addColumn<bool>("sent");
        QTest::addColumn<int>("byte");
        QTest::newRow("0.57") << 0.57 << true << 57;
        QTest::newRow("0.57, release Qt") << 0.57 << false << 100;
        QTest::newRow("1.27, the largest") << 1.27 << true << 127;
        QTest::newRow("2.0 beyond 7 bits") << 2.0 << true << 127;
        QTest::newRow("0.005 rounds up") << 0.005 << true << 1;
        QTest::newRow("0") << 0.0 << true << 0;
        QTest::newRow("negative") << -1.0 << true << 0;
        QTest::newRow("not a number") << std::nan("") << true << 0;
        QTest::newRow("not a number, release Qt") << std::nan("") << false << 100;
    }
    void scaleBytes()
    {
        QFETCH(double, scale);
        QFETCH(bool, sent);
        QFETCH(int, byte);
        QCOMPARE(int(SettingsModel::scaleField(scale, sent)), byte);
    }

    // An edit made while the write is in flight: the address announced when the controller
    // accepts is the written record's, not the edit's.
    void announcedAddressIsTheWrittenRecords()
    {
        QSignalSpy address(params, &ParamsHelper::updateDeviceAddress);
        sendAfterQuietPeriod(true); // address 5
        params->setMotionParams(6, 1, true, false, 2, false, 175, 0.5f, 0.0123f);
        feed(answer(VyxMsg::WRITE_MOTION_PARAMS, "20"));
        QCOMPARE(address.count(), 1);
        QCOMPARE(address.at(0).at(0).toUInt(), 5u);
    }

    void pwmInWriteConfirmedThroughAStatusAnswer()
    {
        QSignalSpy handedOn(params, &ParamsHelper::device_setPwmInParams);
        const SentRequest write = sendAfterQuietPeriod(false);
        feed(answer(VyxMsg::WRITE_PWM_IN_PARAMS, "20"));
        QCOMPARE(params->sendState(), ParamsHelper::PARAMS_ACCEPTED);

        params->receivePollAnswer(savedMsg(VyxMsg::WRITE_PWM_IN_PARAMS)); // relayed from a status poll
        QCOMPARE(params->sendState(), ParamsHelper::PARAMS_IDLE);
        QCOMPARE(checkBoxes, QVector<CheckStates>{CheckStates(Qt::Checked, Qt::PartiallyChecked)});
        QCOMPARE(handedOn.count(), 1);
        QCOMPARE(handedOn.at(0).at(0).value<SET_PWM_IN_PARAMS>().pack(), write.payload);
    }

    void refusedWrite_data()
    {
        QTest::addColumn<bool>("motion");
        QTest::addColumn<QByteArray>("answerPayload");
        QTest::newRow("motion refused") << true << QByteArray::fromHex("21");
        QTest::newRow("pwm in refused") << false << QByteArray::fromHex("21");
        QTest::newRow("motion, empty answer") << true << QByteArray();
        QTest::newRow("pwm in, unknown code") << false << QByteArray::fromHex("7f");
    }

    void refusedWrite()
    {
        QFETCH(bool, motion);
        QFETCH(QByteArray, answerPayload);
        QSignalSpy motionHandedOn(params, &ParamsHelper::device_setMotionParams);
        QSignalSpy pwmHandedOn(params, &ParamsHelper::device_setPwmInParams);
        QSignalSpy address(params, &ParamsHelper::updateDeviceAddress);
        const uint8_t id = motion ? VyxMsg::WRITE_MOTION_PARAMS : VyxMsg::WRITE_PWM_IN_PARAMS;
        QCOMPARE(sendAfterQuietPeriod(motion).msgId, id);

        feed(answer(id, answerPayload));
        QCOMPARE(params->sendState(), ParamsHelper::PARAMS_IDLE);
        QVERIFY(!params->isSending());
        // A stray confirmation does not hand on a record the device never stored.
        params->receivePollAnswer(savedMsg(id));
        QCOMPARE(motionHandedOn.count() + pwmHandedOn.count(), 0);
        QCOMPARE(address.count(), 0);
        QVERIFY(checkBoxes.isEmpty());
        QCOMPARE(texts->count(), 0);
        tick(40);
        QCOMPARE(sent->count(), 0); // no retry
    }

    // A write that got no answer, or was dropped from the queue behind another requester's
    // lost request (the same report), is sent once more; lost again, it is released with a
    // message, and the record that waited behind it goes out.
    void lostWriteIsResentOnceThenReleased_data()
    {
        QTest::addColumn<bool>("motion");
        QTest::addColumn<bool>("droppedFirst");
        QTest::newRow("motion write") << true << false;
        QTest::newRow("PWM input write") << false << false;
        QTest::newRow("motion write dropped unwritten first") << true << true;
        QTest::newRow("PWM input write dropped unwritten first") << false << true;
    }

    void lostWriteIsResentOnceThenReleased()
    {
        QFETCH(bool, motion);
        QFETCH(bool, droppedFirst);
        const SentRequest write = sendAfterQuietPeriod(motion);
        motion ? editPwmIn() : editMotion();
        tick(20); // the other record waits behind the write in flight
        QCOMPARE(sent->count(), 0);

        // Dropped from the queue behind another request's loss, the write never reached the
        // controller: it goes out again without using up its one resend.
        if (droppedFirst) {
            QVERIFY(line->fail(write.msgId, RequestFailure::Dropped));
            QCOMPARE(idsOf(takeRequests(*sent)), QVector<uint8_t>{write.msgId});
            QVERIFY(params->isSending());
            QCOMPARE(texts->count(), 0);
        }

        lose(write.msgId);
        const QVector<SentRequest> resent = takeRequests(*sent);
        QCOMPARE(idsOf(resent), QVector<uint8_t>{write.msgId});
        QCOMPARE(resent[0].payload, write.payload);
        QVERIFY(params->isSending());
        QCOMPARE(texts->count(), 0);

        lose(write.msgId);
        QCOMPARE(sent->count(), 0);
        QCOMPARE(params->sendState(), ParamsHelper::PARAMS_IDLE);
        QCOMPARE(texts->count(), 1);
        QCOMPARE(texts->at(0).at(0).toString(), QStringLiteral("Device did not confirm the settings"));
        QCOMPARE(texts->at(0).at(1).toBool(), false); // info line

        tick(); // the waiting record goes out at once
        QCOMPARE(idsOf(takeRequests(*sent)),
                 QVector<uint8_t>{motion ? VyxMsg::WRITE_PWM_IN_PARAMS : VyxMsg::WRITE_MOTION_PARAMS});
        // A late confirmation of the released write no longer hands it on as stored.
        QSignalSpy motionHandedOn(params, &ParamsHelper::device_setMotionParams);
        QSignalSpy pwmInHandedOn(params, &ParamsHelper::device_setPwmInParams);
        params->receivePollAnswer(savedMsg(write.msgId));
        QCOMPARE(motionHandedOn.count() + pwmInHandedOn.count(), 0);
    }

    void lostDiagnosticLeavesTheWriteAlone()
    {
        sendAfterQuietPeriod(true);
        params->requestErrorLog();
        sent->clear();
        lose(VyxMsg::GET_ERROR_LOG);
        QCOMPARE(params->sendState(), ParamsHelper::PARAMS_SENDING_MOTION);
        tick();
        QCOMPARE(texts->count(), 0);
        QCOMPARE(sent->count(), 0);
    }

    void lostDiagnosticAloneRecovers()
    {
        params->requestErrorLog();
        sent->clear();
        lose(VyxMsg::GET_ERROR_LOG);
        QCOMPARE(params->sendState(), ParamsHelper::PARAMS_TIMEOUT);
        tick();
        QCOMPARE(params->sendState(), ParamsHelper::PARAMS_IDLE);
        QCOMPARE(texts->count(), 0);
    }

    void timeoutReleasedByADeviceAnnouncement()
    {
        params->requestRunData();
        lose(VyxMsg::GET_RUN_DATA);
        QVERIFY(!line->fail(VyxMsg::GET_RUN_DATA)); // told once
        QCOMPARE(params->sendState(), ParamsHelper::PARAMS_TIMEOUT);
        params->deviceConnectionState(DEVICE_RUNNING);
        QCOMPARE(params->sendState(), ParamsHelper::PARAMS_IDLE);
    }

    void confirmationReleasesTheOtherRecord()
    {
        QSignalSpy handedOn(params, &ParamsHelper::device_setMotionParams);
        sendAfterQuietPeriod(true);
        feed(answer(VyxMsg::WRITE_MOTION_PARAMS, "20"));
        editPwmIn();
        tick(30);
        QCOMPARE(sent->count(), 0); // held while the motion record is unconfirmed

        params->receivePollAnswer(savedMsg(VyxMsg::WRITE_MOTION_PARAMS));
        QCOMPARE(handedOn.count(), 1);
        tick();
        QCOMPARE(idsOf(takeRequests(*sent)), QVector<uint8_t>{VyxMsg::WRITE_PWM_IN_PARAMS});
    }

    void unconfirmedWriteIsGivenUp()
    {
        QSignalSpy handedOn(params, &ParamsHelper::device_setMotionParams);
        sendAfterQuietPeriod(true);
        feed(answer(VyxMsg::WRITE_MOTION_PARAMS, "20"));
        tick(ParamsHelper::CONFIRMATION_TICKS - 1);
        QVERIFY(params->isSending());
        QCOMPARE(texts->count(), 0);
        tick();
        QCOMPARE(params->sendState(), ParamsHelper::PARAMS_IDLE);
        QVERIFY(!params->isSending());
        QCOMPARE(texts->count(), 1);
        QCOMPARE(texts->at(0).at(0).toString(), QStringLiteral("Device did not confirm the settings"));
        // A late confirmation no longer hands the record on as stored.
        params->receivePollAnswer(savedMsg(VyxMsg::WRITE_MOTION_PARAMS));
        QCOMPARE(handedOn.count(), 0);
    }

    // A confirmation that came late, but in time: the next write has the whole window again.
    void eachWriteWaitsTheWholeConfirmationWindow_data()
    {
        QTest::addColumn<bool>("motion");
        QTest::newRow("motion write") << true;
        QTest::newRow("PWM input write") << false;
    }
    void eachWriteWaitsTheWholeConfirmationWindow()
    {
        QFETCH(bool, motion);
        const uint8_t msgId = motion ? VyxMsg::WRITE_MOTION_PARAMS : VyxMsg::WRITE_PWM_IN_PARAMS;
        for (int write = 0; write < 2; ++write) {
            sendAfterQuietPeriod(motion);
            feed(answer(msgId, "20"));
            tick(ParamsHelper::CONFIRMATION_TICKS - 1);
            QCOMPARE(params->sendState(), ParamsHelper::PARAMS_ACCEPTED);
            QCOMPARE(texts->count(), 0);
            if (write == 0)
                params->receivePollAnswer(savedMsg(msgId));
        }
        tick();
        QCOMPARE(params->sendState(), ParamsHelper::PARAMS_IDLE);
        QCOMPARE(texts->count(), 1);
    }

    void bothPendingPwmInGoesFirst()
    {
        editMotion();
        editPwmIn();
        tick(16);
        QCOMPARE(idsOf(takeRequests(*sent)), QVector<uint8_t>{VyxMsg::WRITE_PWM_IN_PARAMS});
        feed(answer(VyxMsg::WRITE_PWM_IN_PARAMS, "20"));
        params->receivePollAnswer(savedMsg(VyxMsg::WRITE_PWM_IN_PARAMS));
        tick();
        QCOMPARE(idsOf(takeRequests(*sent)), QVector<uint8_t>{VyxMsg::WRITE_MOTION_PARAMS});
    }

    void gainsFromTuningGoOutAtOnce()
    {
        QSignalSpy handedOn(params, &ParamsHelper::device_setMotionParams);
        SET_MOTION_PARAMS gains;
        gains.Kp = 1024;
        gains.Ki = 512;
        params->setMotionParamsDirectly(gains);
        const QVector<SentRequest> writes = takeRequests(*sent);
        QCOMPARE(idsOf(writes), QVector<uint8_t>{VyxMsg::WRITE_MOTION_PARAMS});
        QCOMPARE(writes[0].payload, gains.pack());
        QCOMPARE(params->sendState(), ParamsHelper::PARAMS_SENDING_MOTION);

        feed(answer(VyxMsg::WRITE_MOTION_PARAMS, "20"));
        params->receivePollAnswer(savedMsg(VyxMsg::WRITE_MOTION_PARAMS));
        QCOMPARE(handedOn.count(), 1);
        QCOMPARE(handedOn.at(0).at(0).value<SET_MOTION_PARAMS>().Kp, int16_t(1024));
    }

    void withoutDeviceNothingIsSent()
    {
        params->deviceConnectionState(DEVICE_DISCONNECTED);
        QCOMPARE(checkBoxes, QVector<CheckStates>{CheckStates(Qt::Unchecked, Qt::Unchecked)});
        editMotion();
        editPwmIn();
        params->setMotionParamsDirectly(SET_MOTION_PARAMS());
        tick(40);
        QCOMPARE(sent->count(), 0);
        QVERIFY(!params->isSending());

        params->requestErrorLog();
        params->clearErrorLog();
        params->requestRunData();
        params->requestResistances();
        QCOMPARE(sent->count(), 0);
        QCOMPARE(texts->count(), 4);
        for (const QList<QVariant> &args : qAsConst(*texts)) {
            QCOMPARE(args.at(0).toString(), QStringLiteral("Device is not connected"));
            QCOMPARE(args.at(1).toBool(), true);
        }
    }

    void disconnectAbandonsAWriteInFlight()
    {
        sendAfterQuietPeriod(true);
        feed(answer(VyxMsg::WRITE_MOTION_PARAMS, "20"));
        params->deviceConnectionState(DEVICE_DISCONNECTED);
        QCOMPARE(params->sendState(), ParamsHelper::PARAMS_IDLE);
        QCOMPARE(checkBoxes.last(), CheckStates(Qt::Unchecked, Qt::Unchecked));
        QVERIFY(!params->isSending());
    }

    void diagnosticRequests()
    {
        params->requestErrorLog();
        params->clearErrorLog();
        params->requestRunData();
        params->requestResistances();
        const QVector<SentRequest> requests = takeRequests(*sent);
        QCOMPARE(idsOf(requests), (QVector<uint8_t>{VyxMsg::GET_ERROR_LOG, VyxMsg::CLEAR_ERROR_LOG,
                                                     VyxMsg::GET_RUN_DATA, VyxMsg::GET_RESISTANCES}));
        for (const SentRequest &r : requests) {
            QVERIFY(r.payload.isEmpty());
            QVERIFY(r.pingType && r.waitForAnswer);
        }
    }

    void clearingTheErrorLog_data()
    {
        QTest::addColumn<QByteArray>("answerPayload");
        QTest::addColumn<QString>("message");
        QTest::newRow("cleared") << QByteArray::fromHex("20") << QStringLiteral("Error log was cleared");
        QTest::newRow("refused") << QByteArray::fromHex("21") << QStringLiteral("Problem with clearing of error log");
        QTest::newRow("empty answer") << QByteArray() << QStringLiteral("Problem with clearing of error log");
    }

    void clearingTheErrorLog()
    {
        QFETCH(QByteArray, answerPayload);
        QFETCH(QString, message);
        feed(answer(VyxMsg::CLEAR_ERROR_LOG, answerPayload));
        QCOMPARE(texts->count(), 1);
        QCOMPARE(texts->at(0).at(0).toString(), message);
        QCOMPARE(texts->at(0).at(1).toBool(), true);
        QCOMPARE(idsOf(takeRequests(*sent)), QVector<uint8_t>{VyxMsg::GET_ERROR_LOG}); // read again
    }

    // Diagnostic answers of any length: missing bytes read as zero, never past the payload.
    void diagnosticAnswers_data()
    {
        QTest::addColumn<int>("msgId");
        QTest::addColumn<QByteArray>("payload");
        QTest::addColumn<int>("claimedLength");
        QTest::addColumn<QByteArray>("stored");

        ERROR_WARN_LOG log;
        log.allErrors = 0x8001;
        log.lastErrors = 0x40;
        log.lastWarnings = 0x5;
        RUN_DATA run;
        run.maxCurrent = 0xABC;
        run.avgCurrent = 0x123;
        run.maxTempEsc = 90;
        run.maxTempMotor = 70;
        RESISTANCE res;
        res.phaseA = 0.1f;
        res.global = 0.125f;

        QTest::newRow("error log") << 0x25 << log.pack() << -1 << log.pack();
        QTest::newRow("error log, 6 bytes") << 0x25 << log.pack().left(6) << -1
                                            << log.pack().left(6) + QByteArray(18, '\0');
        QTest::newRow("run data") << 0x27 << run.pack() << -1 << run.pack();
        QTest::newRow("run data, empty") << 0x27 << QByteArray() << -1 << QByteArray(8, '\0');
        QTest::newRow("resistances") << 0x49 << res.pack() << -1 << res.pack();
        QTest::newRow("resistances, 5 bytes") << 0x49 << res.pack().left(5) << -1
                                              << res.pack().left(5) + QByteArray(11, '\0');
        QTest::newRow("resistances, claims 255") << 0x49 << res.pack() << 255 << res.pack();
    }

    void diagnosticAnswers()
    {
        QFETCH(int, msgId);
        QFETCH(QByteArray, payload);
        QFETCH(int, claimedLength);
        QFETCH(QByteArray, stored);
        QSignalSpy errors(params, &ParamsHelper::fillErrors);
        QSignalSpy data(params, &ParamsHelper::fillData);
        QSignalSpy resistances(params, &ParamsHelper::fillResistances);

        feed(answer(uint8_t(msgId), payload, claimedLength));

        QByteArray shown;
        if (msgId == VyxMsg::GET_ERROR_LOG && errors.count() == 1)
            shown = errors.at(0).at(0).value<ERROR_WARN_LOG>().pack();
        else if (msgId == VyxMsg::GET_RUN_DATA && data.count() == 1)
            shown = data.at(0).at(0).value<RUN_DATA>().pack();
        else if (resistances.count() == 1)
            shown = resistances.at(0).at(0).value<RESISTANCE>().pack();
        QCOMPARE(errors.count() + data.count() + resistances.count(), 1);
        QCOMPARE(shown.toHex(), stored.toHex());
    }

    // Outcomes on other requesters' channels never reach the helper; an answer with a
    // foreign id in the place of the write's is no answer: the write is sent again.
    void answersForOthersAreIgnored()
    {
        const SentRequest write = sendAfterQuietPeriod(true);
        RequestChannel other(QStringLiteral("PingHelper"));
        emit other.answered(line->open.first().ticket, answer(VyxMsg::WRITE_MOTION_PARAMS, "20"));
        emit other.answered(line->open.first().ticket, answer(VyxMsg::GET_STATUS, "45"));
        emit other.failed(line->open.first().ticket, RequestFailure::NoAnswer);
        QCOMPARE(sent->count(), 0);
        feed(answer(0x99, "2020"));
        QCOMPARE(params->sendState(), ParamsHelper::PARAMS_SENDING_MOTION);
        QVERIFY(checkBoxes.isEmpty());
        QCOMPARE(idsOf(takeRequests(*sent)), QVector<uint8_t>{write.msgId});
    }

    // The settings page calls from the GUI thread: the edit is carried out in the helper's
    // own thread, never concurrently with its tick.
    void editFromAnotherThreadRunsInTheHelpersThread()
    {
        std::thread gui([this] { editMotion(); });
        gui.join();
        QVERIFY(!params->isSending()); // not applied in the calling thread

        QCoreApplication::sendPostedEvents(params);
        QVERIFY(params->isSending());
        tick(16);
        QCOMPARE(idsOf(takeRequests(*sent)), QVector<uint8_t>{VyxMsg::WRITE_MOTION_PARAMS});
    }
};

QTEST_GUILESS_MAIN(TestParamsHelper)
#include "tst_paramshelper.moc"
