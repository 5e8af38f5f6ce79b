#include "device/pinghelper.h"
#include "devicetestsupport.h"
#include "tests/common/channelplayer.h"

#include <QtTest>

namespace {

// w0: Vbus 201 (25.1 V), Is 80 (10.0 A), PWM low bits 0x1DC; w1: PWM high bits 1
// (1500 us), power 250 W, speed 0x2A00 (10.5 krpm); w2: temp 71 (40 C), Vs 100 (12.5 V),
// torque 0x3E00 (-0.5 Nm); h6 0x0148, h7 0x0100.
const char *const KNOWN_RECORD = "c9400177e9030015473200f848010001";

QByteArray identity(uint8_t runFlag, uint32_t serialNumber = 0)
{
    DeviceIdentity id;
    id.answerCode = ANSWER_OK;
    id.runFlag = runFlag;
    id.serialNumber = serialNumber;
    return id.encodeLong();
}

QByteArray statusBlock(const Poll_Answer_s &values, uint8_t code = ANSWER_OK)
{
    return StatusBlock::encode(code, values);
}

} // namespace

class TestPingHelper : public QObject
{
    Q_OBJECT

    RequestChannel *channel = nullptr;
    ChannelPlayer *line = nullptr;
    PingHelper *ping = nullptr;
    QSignalSpy *sent = nullptr;

    void tick(int times = 1)
    {
        for (int i = 0; i < times; ++i)
            ping->handleTimeout();
    }

    void feed(const VYX_Protocol::VYX_MSG &msg) { line->answer(msg); }
    // The newest request with this id gets no answer; with none sent, one the helper is
    // made to await, as the loss of a request dropped from the queue is told.
    void lose(uint8_t msgId)
    {
        if (line->fail(msgId))
            return;
        const RequestTicket ticket = ChannelPlayer::unknownTicket();
        ping->m_open.insert(ticket, msgId);
        emit channel->failed(ticket, RequestFailure::NoAnswer);
    }

    void connectIdleDevice()
    {
        ping->enablePolling(true);
        feed(answer(VyxMsg::GET_DEVICE_INFO, identity(0)));
        QCOMPARE(ping->pollMode(), PingHelper::PING_CONNECTED);
        sent->clear();
    }

    void enterTelemetryMode()
    {
        ping->enablePolling(true);
        feed(answer(VyxMsg::GET_DEVICE_INFO, identity(1)));
        QCOMPARE(ping->pollMode(), PingHelper::PING_TELEMETRY);
        sent->clear();
    }

private slots:
    void init()
    {
        channel = new RequestChannel(QStringLiteral("PingHelper"));
        line = new ChannelPlayer(channel);
        ping = new PingHelper(channel);
        sent = new QSignalSpy(channel, &RequestChannel::requestSent);
    }

    void cleanup()
    {
        delete sent;
        delete ping;
        delete line;
        delete channel;
    }

    void searchSendsDeviceInfoEverySecondTick()
    {
        ping->enablePolling(true);

        tick();
        QCOMPARE(sent->count(), 0);
        tick();
        const QVector<SentRequest> first = takeRequests(*sent);
        QCOMPARE(first.size(), 1);
        QCOMPARE(first[0].msgId, uint8_t(VyxMsg::GET_DEVICE_INFO));
        QVERIFY(first[0].payload.isEmpty());
        QVERIFY(first[0].pingType);
        QVERIFY(!first[0].waitForAnswer); // a silent port is no lost request

        tick(6);
        QCOMPARE(sent->count(), 3);
    }

    void refusedIdentityRestartsTheSearch()
    {
        ping->enablePolling(true);
        tick();
        feed(answer(VyxMsg::GET_DEVICE_INFO, "21"));
        QCOMPARE(ping->pollMode(), PingHelper::PING_SEARCH_RESTART);
        tick(); // back to searching, counter 1
        QCOMPARE(ping->pollMode(), PingHelper::PING_SEARCH);
        QCOMPARE(sent->count(), 0);
        tick();
        QCOMPARE(idsOf(takeRequests(*sent)), QVector<uint8_t>{VyxMsg::GET_DEVICE_INFO});
    }

    // The identity's decoding is the record's (tst_records); here: every field reaches the
    // device model, and contact is kept from then on.
    void identityCreatesTheDevice()
    {
        QSignalSpy created(ping, &PingHelper::device_createDevice);
        ping->enablePolling(true);
        // code, run flag, fw 1.2.3, serial 0x12345678, hw 7, three bytes not read, address 5
        feed(answer(VyxMsg::GET_DEVICE_INFO, QByteArray::fromHex("2000010203785634120700000005")));

        QCOMPARE(created.count(), 1);
        const QList<QVariant> args = created.takeFirst();
        QCOMPARE(args.at(0).toUInt(), 0x12345678u);
        QCOMPARE(args.at(1).toInt(), 1);
        QCOMPARE(args.at(2).toInt(), 2);
        QCOMPARE(args.at(3).toInt(), 3);
        QCOMPARE(args.at(4).toUInt(), 7u);
        QCOMPARE(args.at(5).toInt(), 5);
        QCOMPARE(ping->pollMode(), PingHelper::PING_CONNECTED);

        // Contact is kept with a status request every fourth tick, waiting for its answer.
        sent->clear();
        tick(3);
        QCOMPARE(sent->count(), 0);
        tick();
        const QVector<SentRequest> status = takeRequests(*sent);
        QCOMPARE(idsOf(status), QVector<uint8_t>{VyxMsg::GET_STATUS});
        QVERIFY(status[0].pingType && status[0].waitForAnswer);
    }

    void runningDeviceGoesStraightToTelemetry()
    {
        enterTelemetryMode();
        feed(answer(VyxMsg::TELEMETRY, statusBlock({}) + QByteArray::fromHex(KNOWN_RECORD)));
        QCOMPARE(ping->samples().size(), 1);

        QSignalSpy run(ping, &PingHelper::device_runDevice);
        QSignalSpy changeFile(ping, &PingHelper::changeFile);
        ping->enablePolling(true);
        DeviceIdentity id;
        id.answerCode = ANSWER_OK;
        id.runFlag = 1;
        id.fw = {2, 5, 9};
        id.serialNumber = 4242;
        id.hwBuild = 3;
        id.address = 6;
        feed(answer(VyxMsg::GET_DEVICE_INFO, id.encodeLong()));

        QCOMPARE(run.count(), 1);
        const QList<QVariant> args = run.takeFirst();
        QCOMPARE(args.at(0).toBool(), false); // the call carries the identity
        QCOMPARE(args.at(1).toUInt(), 4242u);
        QCOMPARE(args.at(2).toInt(), 2);
        QCOMPARE(args.at(3).toInt(), 5);
        QCOMPARE(args.at(4).toInt(), 9);
        QCOMPARE(args.at(5).toUInt(), 3u);
        QCOMPARE(args.at(6).toInt(), 6);
        QCOMPARE(changeFile.count(), 1);
        QVERIFY(ping->samples().isEmpty());

        tick();
        // Telemetry requests carry their own, shorter answer limit.
        QCOMPARE(sent->count(), 1);
        QCOMPARE(sent->at(0).at(5).toUInt(), PingHelper::TELEMETRY_ANSWER_LIMIT_MS);
        const QVector<SentRequest> telemetry = takeRequests(*sent);
        QCOMPARE(idsOf(telemetry), QVector<uint8_t>{VyxMsg::TELEMETRY});
        QCOMPARE(telemetry[0].payload, QByteArray::fromHex("00"));
        QVERIFY(telemetry[0].pingType && telemetry[0].waitForAnswer);
        tick();
        QCOMPARE(sent->count(), 1); // every tick
    }

    void statusAnswerIsForwarded()
    {
        connectIdleDevice();
        QSignalSpy poll(ping, &PingHelper::sendPollAnswer);
        Poll_Answer_s saved;
        saved.hasSavedMsg = true;
        saved.savedMsgId = VyxMsg::WRITE_MOTION_PARAMS;

        feed(answer(VyxMsg::GET_STATUS, statusBlock(saved, ANSWER_REFUSED)));
        QCOMPARE(poll.count(), 0);
        feed(answer(VyxMsg::GET_STATUS, statusBlock(saved)));
        QCOMPARE(poll.count(), 1);
        const Poll_Answer_s got = poll.at(0).at(0).value<Poll_Answer_s>();
        QVERIFY(got.hasSavedMsg);
        QCOMPARE(got.savedMsgId, uint8_t(VyxMsg::WRITE_MOTION_PARAMS));
        QVERIFY(!got.hasIdState && !got.hasStall && !got.hasError);
    }

    // The record's decoding is tested with the record (tst_records); here: the record is
    // found after the status block, within the answer's length, and a refused or cut
    // answer gives a zero sample.
    void telemetryAnswerToSample_data()
    {
        QTest::addColumn<QByteArray>("payload");
        QTest::addColumn<QByteArray>("record"); // the bytes decoded; null: a zero sample

        const QByteArray known = QByteArray::fromHex(KNOWN_RECORD);
        Poll_Answer_s progress;
        progress.hasIdState = true;
        progress.idState = 0x31;
        progress.hasErrorPrediction = true;

        QTest::newRow("plain block") << statusBlock({}) + known << known;
        QTest::newRow("record after two value bytes") << statusBlock(progress) + known << known;
        QTest::newRow("record of two bytes") << QByteArray::fromHex("2000c940") << QByteArray::fromHex("c940");
        QTest::newRow("no record at all") << QByteArray::fromHex("2000") << QByteArray("");
        QTest::newRow("refused: zeros") << statusBlock({}, ANSWER_REFUSED) + known << QByteArray();
        QTest::newRow("block cut short: zeros") << QByteArray::fromHex("2003") << QByteArray();
    }

    void telemetryAnswerToSample()
    {
        QFETCH(QByteArray, payload);
        QFETCH(QByteArray, record);
        enterTelemetryMode();
        QSignalSpy updated(ping, &PingHelper::on_telemetryUpdated);
        QSignalSpy recorded(ping, &PingHelper::addSample);

        // Bytes past the answer's length must not be read as part of the record.
        feed(answer(VyxMsg::TELEMETRY, payload + QByteArray(16, char(0x5A)), payload.size()));

        QCOMPARE(updated.count(), 1);
        const QVector<ONLINE_QUANTS_S> *published = updated.at(0).at(0).value<QVector<ONLINE_QUANTS_S> *>();
        QCOMPARE(published, &ping->samples());
        QCOMPARE(ping->samples().size(), 1);
        QCOMPARE(recorded.count(), 1);
        const ONLINE_QUANTS_S s = recorded.at(0).at(0).value<ONLINE_QUANTS_S>();
        const ONLINE_QUANTS_S expected = record.isNull() ? ONLINE_QUANTS_S() : TelemetryRecord::unpack(record).toQuantities();
        QCOMPARE(s.Torque, expected.Torque);
        QCOMPARE(s.Speed, expected.Speed);
        QCOMPARE(s.Is, expected.Is);
        QCOMPARE(s.Vbus, expected.Vbus);
        QCOMPARE(s.Vs, expected.Vs);
        QCOMPARE(s.Power, expected.Power);
        QCOMPARE(s.Rs, expected.Rs);
        QCOMPARE(s.Flux, expected.Flux);
        QCOMPARE(s.Temp, expected.Temp);
        QCOMPARE(s.PWm_in_us, expected.PWm_in_us);
        QCOMPARE(ping->samples().last().Speed, s.Speed); // the recorder gets the appended sample
    }

    void unknownAnswerCodeRepeatsTheLastSample()
    {
        enterTelemetryMode();
        feed(answer(VyxMsg::TELEMETRY, statusBlock({}) + QByteArray::fromHex(KNOWN_RECORD)));
        feed(answer(VyxMsg::TELEMETRY, "5500"));
        QCOMPARE(ping->samples().size(), 2);
        QCOMPARE(ping->samples().at(1).Vbus, 25.1f);
    }

    void stallAndErrorComeBeforePollAnswerAndSample()
    {
        enterTelemetryMode();
        QStringList events;
        connect(ping, &PingHelper::resetControl, this,
                [&](const QString &msg, uint8_t code) { events << QStringLiteral("%1/%2").arg(msg).arg(code); });
        connect(ping, &PingHelper::sendPollAnswer, this, [&](Poll_Answer_s p) {
            events << QStringLiteral("poll stall %1 error %2").arg(p.stallCode).arg(p.errorCode);
        });
        connect(ping, &PingHelper::addSample, this, [&](ONLINE_QUANTS_S s) {
            events << QStringLiteral("sample %1").arg(double(s.Vbus));
        });

        feed(answer(VyxMsg::TELEMETRY, QByteArray::fromHex("20180204") + QByteArray::fromHex(KNOWN_RECORD)));

        const QStringList expected = {QStringLiteral("Stalled motor/1"), QStringLiteral("Error occured/4"),
                                      QStringLiteral("poll stall 2 error 4"), QStringLiteral("sample 25.1")};
        QCOMPARE(events, expected);
    }

    void telemetryLossesTolerated()
    {
        enterTelemetryMode();
        QSignalSpy deleted(ping, &PingHelper::device_deleteDevice);
        for (int i = 0; i < 3; ++i)
            lose(VyxMsg::TELEMETRY);
        QCOMPARE(deleted.count(), 0);
        QCOMPARE(ping->pollMode(), PingHelper::PING_TELEMETRY);

        feed(answer(VyxMsg::TELEMETRY, statusBlock({}) + QByteArray::fromHex(KNOWN_RECORD))); // count reset
        for (int i = 0; i < 3; ++i)
            lose(VyxMsg::TELEMETRY);
        QCOMPARE(deleted.count(), 0);
        QCOMPARE(sent->count(), 0); // the next tick sends, not the loss

        ping->setDutyCycle(30, true);
        lose(VyxMsg::TELEMETRY);
        QCOMPARE(deleted.count(), 1);
        QCOMPARE(ping->pollMode(), PingHelper::PING_SEARCH);
        // One last command with control off, for a controller that still hears, before the
        // search; its answer is not awaited.
        const QVector<SentRequest> last = takeRequests(*sent);
        QCOMPARE(last.size(), 1);
        QCOMPARE(last[0].msgId, VyxMsg::TELEMETRY);
        QCOMPARE(last[0].payload.toHex(), QByteArray("00"));
        QVERIFY(!last[0].waitForAnswer);
    }

    // Only a telemetry request that went out and got no answer is lost (L); one dropped
    // from the queue behind a lost request (D), or replaced (R), was never heard by the
    // controller and counts for nothing, nor resets the count. The fourth loss in a row ends
    // the connection.
    void onlyWrittenTelemetryRequestsAreLost_data()
    {
        QTest::addColumn<QString>("outcomes");
        QTest::addColumn<bool>("ended");
        QTest::newRow("dropped ones only") << "DDDDDDDD" << false;
        QTest::newRow("three lost, each with a dropped one behind") << "LDLDLD" << false;
        QTest::newRow("the fourth lost among dropped ones") << "LDLDLDL" << true;
        QTest::newRow("replaced ones between losses") << "LRLRLR" << false;
        QTest::newRow("four lost") << "LLLL" << true;
        QTest::newRow("four cut by the port") << "CCCC" << true;
    }

    void onlyWrittenTelemetryRequestsAreLost()
    {
        QFETCH(QString, outcomes);
        QFETCH(bool, ended);
        enterTelemetryMode();
        QSignalSpy deleted(ping, &PingHelper::device_deleteDevice);
        for (const QChar outcome : outcomes) {
            tick();
            const RequestFailure reason = outcome == QLatin1Char('L')   ? RequestFailure::NoAnswer
                                          : outcome == QLatin1Char('C') ? RequestFailure::WriteCut
                                          : outcome == QLatin1Char('R') ? RequestFailure::Replaced
                                                                        : RequestFailure::Dropped;
            QVERIFY(line->fail(VyxMsg::TELEMETRY, reason));
        }
        QCOMPARE(deleted.count(), ended ? 1 : 0);
        QCOMPARE(ping->pollMode(), ended ? PingHelper::PING_SEARCH : PingHelper::PING_TELEMETRY);
    }

    void dutyCommand_data()
    {
        QTest::addColumn<int>("percent");
        QTest::addColumn<bool>("enable");
        QTest::addColumn<QByteArray>("payload");

        // The encoding is the record's (tst_records); here: sign and enable bit travel
        // through the helper to the next request.
        QTest::newRow("-100 %") << -100 << true << QByteArray::fromHex("0115c0");
        QTest::newRow("100 %") << 100 << true << QByteArray::fromHex("01eb3f");
        QTest::newRow("disabled") << 77 << false << QByteArray::fromHex("00");
    }

    void dutyCommand()
    {
        QFETCH(int, percent);
        QFETCH(bool, enable);
        QFETCH(QByteArray, payload);
        enterTelemetryMode();

        ping->setDutyCycle(int16_t(percent), enable);
        QCOMPARE(ping->isDutyEnabled(), enable);
        tick();
        const QVector<SentRequest> requests = takeRequests(*sent);
        QCOMPARE(requests.size(), 1);
        QCOMPARE(requests[0].payload.toHex(), payload.toHex());
    }

    void controlIsDroppedWhenControlIsTakenAway_data()
    {
        QTest::addColumn<QString>("event");
        QTest::newRow("stall report") << "stall";
        QTest::newRow("error report") << "error";
        QTest::newRow("fourth lost telemetry") << "lost";
        QTest::newRow("port closed") << "port";
        QTest::newRow("device disconnected") << "disconnected";
    }

    // The next request already stops the motor, before the control page has heard of it;
    // a device found again starts with control off.
    void controlIsDroppedWhenControlIsTakenAway()
    {
        QFETCH(QString, event);
        enterTelemetryMode();
        ping->setDutyCycle(60, true);
        if (event == QLatin1String("stall"))
            feed(answer(VyxMsg::TELEMETRY, QByteArray::fromHex("200802") + QByteArray::fromHex(KNOWN_RECORD)));
        else if (event == QLatin1String("error"))
            feed(answer(VyxMsg::TELEMETRY, QByteArray::fromHex("201003") + QByteArray::fromHex(KNOWN_RECORD)));
        else if (event == QLatin1String("lost"))
            for (int i = 0; i < 4; ++i)
                lose(VyxMsg::TELEMETRY);
        else if (event == QLatin1String("port"))
            ping->enablePolling(false);
        else
            ping->deviceConnectionState(DEVICE_DISCONNECTED);
        QVERIFY(!ping->isDutyEnabled());

        enterTelemetryMode();
        tick();
        QCOMPARE(takeRequests(*sent).last().payload, QByteArray::fromHex("00"));
    }

    void samplesAreNumberedFromTheRunStartAndTheVectorStaysBounded()
    {
        enterTelemetryMode();
        QSignalSpy copies(ping, &PingHelper::telemetrySample);
        const int total = 2 * PingHelper::SAMPLES_KEPT + 5;
        for (int i = 0; i < total; ++i)
            feed(answer(VyxMsg::TELEMETRY, statusBlock({}) + QByteArray::fromHex(KNOWN_RECORD)));
        QCOMPARE(copies.count(), total);
        QCOMPARE(copies.last().at(1).value<uint32_t>(), uint32_t(total));
        QCOMPARE(copies.last().at(0).value<ONLINE_QUANTS_S>().Vbus, 25.1f);
        QVERIFY(ping->samples().size() >= PingHelper::SAMPLES_KEPT);
        QVERIFY(ping->samples().size() < 2 * PingHelper::SAMPLES_KEPT);

        enterTelemetryMode(); // a new run counts from 1 again
        feed(answer(VyxMsg::TELEMETRY, statusBlock({}) + QByteArray::fromHex(KNOWN_RECORD)));
        QCOMPARE(copies.last().at(1).value<uint32_t>(), 1u);
        QCOMPARE(ping->samples().size(), 1);
    }

    void lostStatusIsResentOnceThenContactIsLost()
    {
        connectIdleDevice();
        QSignalSpy deleted(ping, &PingHelper::device_deleteDevice);
        tick(2);

        lose(VyxMsg::GET_STATUS);
        QCOMPARE(idsOf(takeRequests(*sent)), QVector<uint8_t>{VyxMsg::GET_STATUS});
        tick(3); // the periodic count restarted with the resend
        QCOMPARE(sent->count(), 0);
        feed(answer(VyxMsg::GET_STATUS, "2000")); // an answer clears the count

        lose(VyxMsg::GET_STATUS);
        QCOMPARE(deleted.count(), 0);
        lose(VyxMsg::GET_STATUS);
        QCOMPARE(deleted.count(), 1);
        QCOMPARE(ping->pollMode(), PingHelper::PING_SEARCH);
    }

    void startRunEntersTelemetryKeepingTheIdentity()
    {
        connectIdleDevice();
        QSignalSpy run(ping, &PingHelper::device_runDevice);
        QSignalSpy changeFile(ping, &PingHelper::changeFile);

        ping->startRun();
        const QVector<SentRequest> start = takeRequests(*sent);
        QCOMPARE(idsOf(start), QVector<uint8_t>{VyxMsg::START_RUN});
        QVERIFY(start[0].pingType && start[0].waitForAnswer);
        tick(8);
        QCOMPARE(sent->count(), 0); // waiting for the answer

        lose(VyxMsg::START_RUN);
        QCOMPARE(idsOf(takeRequests(*sent)), QVector<uint8_t>{VyxMsg::START_RUN});
        feed(answer(VyxMsg::START_RUN, "20"));

        QCOMPARE(run.count(), 1);
        const QList<QVariant> args = run.takeFirst();
        QCOMPARE(args.at(0).toBool(), true);
        QCOMPARE(args.at(1).toUInt(), 0u);
        QCOMPARE(args.at(6).toInt(), int(NO_DEVICE_ADDRESS));
        QCOMPARE(changeFile.count(), 1);
        QCOMPARE(ping->pollMode(), PingHelper::PING_TELEMETRY);

        feed(answer(VyxMsg::START_RUN, "20")); // no longer waiting for it
        QCOMPARE(run.count(), 0);
    }

    void startRunLostTwiceLosesContact()
    {
        connectIdleDevice();
        QSignalSpy deleted(ping, &PingHelper::device_deleteDevice);
        ping->startRun();
        lose(VyxMsg::START_RUN);
        lose(VyxMsg::START_RUN);
        QCOMPARE(deleted.count(), 1);
        QCOMPARE(ping->pollMode(), PingHelper::PING_SEARCH);
    }

    void closingThePortDropsAKnownDevice()
    {
        QSignalSpy deleted(ping, &PingHelper::device_deleteDevice);
        ping->enablePolling(true);
        ping->enablePolling(false);
        QCOMPARE(deleted.count(), 0); // nothing was known

        connectIdleDevice();
        ping->enablePolling(false);
        QCOMPARE(deleted.count(), 1);
        QCOMPARE(ping->pollMode(), PingHelper::PING_OFF);
        tick(8);
        QCOMPARE(sent->count(), 0);
    }

    void deviceStateSteersPolling()
    {
        connectIdleDevice();
        ping->deviceConnectionState(DEVICE_BOOT_STARTED);
        QCOMPARE(ping->pollMode(), PingHelper::PING_OFF);
        tick(8);
        QCOMPARE(sent->count(), 0);

        ping->deviceConnectionState(DEVICE_CONNECTED);
        QCOMPARE(ping->pollMode(), PingHelper::PING_OFF);
        ping->deviceConnectionState(DEVICE_DISCONNECTED); // the port is still open
        QCOMPARE(ping->pollMode(), PingHelper::PING_SEARCH);
    }

    // Without a port the device is dropped and nothing is polled until the port opens again:
    // detection requests would pile up in the port manager and flood the controller later.
    void noPollingWhileThePortIsClosed()
    {
        connectIdleDevice();
        ping->enablePolling(false);
        ping->deviceConnectionState(DEVICE_DISCONNECTED); // the device model's answer to the drop
        QCOMPARE(ping->pollMode(), PingHelper::PING_OFF);
        tick(100);
        QCOMPARE(sent->count(), 0);
        lose(VyxMsg::GET_STATUS); // a request dropped as the port went
        QCOMPARE(sent->count(), 0);

        ping->enablePolling(true);
        tick(2);
        QCOMPARE(idsOf(takeRequests(*sent)), QVector<uint8_t>{VyxMsg::GET_DEVICE_INFO});
    }

    // A controller that stalled answers the identity requests it missed all at once. Once the
    // device is known, an identity of the same controller changes nothing; another one is new.
    void staleIdentityOfTheKnownDevice_data()
    {
        QTest::addColumn<bool>("running");
        QTest::addColumn<uint8_t>("staleRunFlag");
        QTest::addColumn<uint32_t>("serial");
        QTest::addColumn<int>("created");
        QTest::addColumn<int>("run");
        QTest::newRow("idle device, same controller") << false << uint8_t(0) << 777u << 0 << 0;
        QTest::newRow("idle device, same controller now running") << false << uint8_t(1) << 777u << 0 << 0;
        QTest::newRow("running device, same controller idle") << true << uint8_t(0) << 777u << 0 << 0;
        QTest::newRow("idle device, another controller") << false << uint8_t(0) << 778u << 1 << 0;
        QTest::newRow("running device, another running controller") << true << uint8_t(1) << 778u << 0 << 1;
    }

    void staleIdentityOfTheKnownDevice()
    {
        QFETCH(bool, running);
        QFETCH(uint8_t, staleRunFlag);
        QFETCH(uint32_t, serial);
        ping->enablePolling(true);
        feed(answer(VyxMsg::GET_DEVICE_INFO, identity(running ? 1 : 0, 777)));
        const PingHelper::PollMode mode = ping->pollMode();
        QSignalSpy created(ping, &PingHelper::device_createDevice);
        QSignalSpy run(ping, &PingHelper::device_runDevice);
        QSignalSpy changeFile(ping, &PingHelper::changeFile);
        for (int i = 0; i < 40; ++i)
            feed(answer(VyxMsg::GET_DEVICE_INFO, identity(staleRunFlag, serial)));
        QTEST(int(created.count()), "created");
        QTEST(int(run.count()), "run");
        QCOMPARE(changeFile.count(), run.count());
        if (created.isEmpty() && run.isEmpty())
            QCOMPARE(ping->pollMode(), mode);
    }

    // Answers and failures on other requesters' channels never reach this helper; failures
    // of tickets it does not hold change nothing.
    void otherRequestersOutcomesAreNotSeen()
    {
        connectIdleDevice();
        QSignalSpy poll(ping, &PingHelper::sendPollAnswer);
        QSignalSpy deleted(ping, &PingHelper::device_deleteDevice);
        RequestChannel other(QStringLiteral("ParamsHelper"));
        emit other.answered(1, answer(VyxMsg::GET_STATUS, "2000"));
        emit other.answered(2, answer(VyxMsg::GET_DEVICE_INFO, "2100"));
        for (int i = 0; i < 3; ++i) {
            emit other.failed(RequestTicket(3 + i), RequestFailure::NoAnswer);
            emit channel->failed(ChannelPlayer::unknownTicket(), RequestFailure::NoAnswer);
        }
        QCOMPARE(poll.count(), 0);
        QCOMPARE(deleted.count(), 0);
        QCOMPARE(ping->pollMode(), PingHelper::PING_CONNECTED);
    }

    // Answers that are too short, too long or unexpected never make the helper read past
    // what arrived: they are handled as the protocol says, with missing bytes as zero.
    void badInput_data()
    {
        QTest::addColumn<int>("msgId");
        QTest::addColumn<QByteArray>("payload");
        QTest::addColumn<int>("claimedLength");
        QTest::addColumn<int>("pollAnswers");
        QTest::addColumn<int>("resets");
        QTest::addColumn<int>("samples");
        QTest::addColumn<int>("mode");

        const int connected = PingHelper::PING_CONNECTED;
        const int restart = PingHelper::PING_SEARCH_RESTART;
        QTest::newRow("empty status") << 0x23 << QByteArray() << -1 << 0 << 0 << 0 << connected;
        QTest::newRow("status without flag byte") << 0x23 << QByteArray::fromHex("20") << -1 << 0 << 0 << 0
                                                  << connected;
        QTest::newRow("status claims five values, has one")
            << 0x23 << QByteArray::fromHex("201f01") << -1 << 0 << 2 << 0 << connected;
        QTest::newRow("status with flags 5-7 only") << 0x23 << QByteArray::fromHex("20e0") << -1 << 1 << 0 << 0
                                                    << connected;
        QTest::newRow("telemetry claims a value it lacks") << 0x70 << QByteArray::fromHex("2002") << -1 << 0 << 0
                                                           << 1 << connected;
        QTest::newRow("empty telemetry") << 0x70 << QByteArray() << -1 << 0 << 0 << 1 << connected;
        QTest::newRow("telemetry longer than the buffer")
            << 0x70 << QByteArray::fromHex("2000") + QByteArray::fromHex(KNOWN_RECORD) << 200 << 1 << 0 << 1
            << connected;
        QTest::newRow("empty identity") << 0x22 << QByteArray() << -1 << 0 << 0 << 0 << connected;
        QTest::newRow("identity code only") << 0x22 << QByteArray::fromHex("20") << -1 << 0 << 0 << 0
                                            << connected;
        QTest::newRow("identity with run flag 7") << 0x22 << QByteArray::fromHex("200701020378563412")
                                                  << -1 << 0 << 0 << 0 << connected;
        QTest::newRow("identity refused, nothing else") << 0x22 << QByteArray::fromHex("21") << -1 << 0 << 0 << 0
                                                        << restart;
        QTest::newRow("empty start-run answer") << 0x35 << QByteArray() << -1 << 0 << 0 << 0 << connected;
        QTest::newRow("unknown id") << 0x99 << QByteArray::fromHex("2001") << -1 << 0 << 0 << 0 << connected;
        QTest::newRow("unknown id, length beyond the buffer")
            << 0x47 << QByteArray::fromHex("20") << 1000 << 0 << 0 << 0 << connected;
    }

    void badInput()
    {
        QFETCH(int, msgId);
        QFETCH(QByteArray, payload);
        QFETCH(int, claimedLength);
        connectIdleDevice();
        QSignalSpy poll(ping, &PingHelper::sendPollAnswer);
        QSignalSpy resets(ping, &PingHelper::resetControl);
        QSignalSpy created(ping, &PingHelper::device_createDevice);

        feed(answer(uint8_t(msgId), payload, claimedLength));

        QTEST(poll.count(), "pollAnswers");
        QTEST(resets.count(), "resets");
        QTEST(int(ping->samples().size()), "samples");
        QTEST(int(ping->pollMode()), "mode");
        QCOMPARE(created.count(), 0);
    }
};

QTEST_GUILESS_MAIN(TestPingHelper)
#include "tst_pinghelper.moc"
