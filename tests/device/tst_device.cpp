#include "device/device.h"
#include "devicetestsupport.h"
#include "tests/common/channelplayer.h"

#include <QLibraryInfo>
#include <QtTest>

namespace {

const QVector<uint8_t> ALL_READS = {VyxMsg::GET_PWM_IN_PARAMS, VyxMsg::GET_MOTION_PARAMS, VyxMsg::GET_MOTOR_PARAMS,
                                    VyxMsg::GET_MOTOR_USER_PARAMS, VyxMsg::GET_MOTOR_HOURS};

SET_PWM_IN_PARAMS plausiblePwmIn()
{
    SET_PWM_IN_PARAMS p;
    p.lowLevel = 95;
    p.centerLevel = 152;
    p.highLevel = 205;
    p.deadZone = 12;
    p.digitalControl = true;
    p.speedNorm = 1234;
    p.scale = 100;
    return p;
}

SET_MOTION_PARAMS motionWithGains(int16_t kp, int16_t ki)
{
    SET_MOTION_PARAMS m;
    m.acceleration = 55;
    m.brakeIntensity = 70;
    m.brakeEnable = true;
    m.deviceAddress = 3;
    m.hwAddress = true;
    m.Kp = kp;
    m.Ki = ki;
    return m;
}

MOTOR_TOTAL knownMotor()
{
    MOTOR_TOTAL m;
    m.Rs = 0.125f;
    m.Ls_d = 0.0005f;
    m.Ls_q = 0.0006f;
    m.Flux = 0.01f;
    m.voltage_scale = 120;
    m.maxFrequency = 800;
    m.maxMotorCurrent = 30;
    m.polePairs = 7;
    m.validData = 1;
    m.fluxFrequency = 20;
    m.resCurrent = 300;
    m.indCurrent = 400;
    return m;
}

} // namespace

class TestDevice : public QObject
{
    Q_OBJECT

    RequestChannel *channel = nullptr;
    ChannelPlayer *line = nullptr;
    Device *device = nullptr;
    QSignalSpy *sent = nullptr;
    QStringList events;

    void feed(const VYX_Protocol::VYX_MSG &msg) { line->answer(msg); }
    // The newest read with this id gets no answer (nothing when none is open).
    void lose(uint8_t msgId) { line->fail(msgId); }
    // Failures on another requester's channel.
    void othersLose(RequestTicket ticket)
    {
        RequestChannel other(QStringLiteral("PingHelper"));
        emit other.failed(ticket, RequestFailure::NoAnswer);
    }

    void create(uint8_t address = 5)
    {
        device->createDevice(777, 1, 2, 3, 9, address);
        sent->clear();
        events.clear();
    }

    void answerEverything()
    {
        feed(answer(VyxMsg::GET_PWM_IN_PARAMS, plausiblePwmIn().pack()));
        feed(answer(VyxMsg::GET_MOTION_PARAMS, motionWithGains(1024, -512).pack()));
        feed(answer(VyxMsg::GET_MOTOR_PARAMS, knownMotor().packIdent()));
        feed(answer(VyxMsg::GET_MOTOR_USER_PARAMS, knownMotor().packUser()));
        feed(answer(VyxMsg::GET_MOTOR_HOURS, packMotorHours(4321)));
    }

private slots:
    void init()
    {
        channel = new RequestChannel(QStringLiteral("Device"));
        line = new ChannelPlayer(channel);
        device = new Device(channel);
        sent = new QSignalSpy(channel, &RequestChannel::requestSent);
        events.clear();
        // The order in which the device model announces things matters to its receivers.
        connect(device, &Device::setDeviceAddress, this,
                [this](uint8_t a) { events << QStringLiteral("address %1").arg(a); });
        connect(device, &Device::deviceConnectionStateChanged, this,
                [this](Device_State_e s) { events << QStringLiteral("state %1").arg(s); });
        connect(device, &Device::on_connectionChanged, this, [this](uint32_t shown, Device_State_e s, Device_FW_s fw) {
            events << QStringLiteral("shown %1 state %2 fw %3.%4.%5").arg(shown).arg(s).arg(fw.fw_h).arg(fw.fw_m).arg(fw.fw_l);
        });
        connect(device, &Device::ui_fillMotorName, this,
                [this](const QString &name) { events << QStringLiteral("name '%1'").arg(name); });
        connect(device, &Device::ui_emptyParams, this, [this] { events << QStringLiteral("empty"); });
    }

    void cleanup()
    {
        delete sent;
        delete device;
        delete line;
        delete channel;
    }

    void createAnnouncesAndReadsInOrder()
    {
        device->createDevice(777, 1, 2, 3, 9, 5);

        const QStringList announced = {QStringLiteral("address 5"), QStringLiteral("state 1"),
                                       QStringLiteral("shown 5 state 1 fw 1.2.3")};
        QCOMPARE(events, announced);
        const QVector<SentRequest> reads = takeRequests(*sent);
        QCOMPARE(idsOf(reads), ALL_READS);
        for (const SentRequest &r : reads) {
            QVERIFY(r.payload.isEmpty());
            QVERIFY(!r.pingType);
            QVERIFY(r.waitForAnswer);
        }
        QCOMPARE(device->serialNumber(), 777u);
        QCOMPARE(device->hwBuild(), 9u);
        QCOMPARE(device->pendingReads(), uint16_t(Device::READ_ALL));
    }

    void readBatchRecordsReachTheModel()
    {
        create();
        QSignalSpy gains(device, &Device::setControllerParams);
        QSignalSpy error(device, &Device::setError);
        QSignalSpy hours(device, &Device::ui_fillMotorHours);
        QSignalSpy userParams(device, &Device::ui_changeUserMotorParams);
        QVector<bool> pwmForced;
        connect(device, &Device::ui_fillPwmInParams, this, [&](SET_PWM_IN_PARAMS *p, bool forced) {
            QCOMPARE(p->pack(), plausiblePwmIn().pack()); // read during the call
            pwmForced << forced;
        });
        QVector<SET_MOTION_PARAMS> shownMotion;
        connect(device, &Device::ui_fillMotionParams, this,
                [&](SET_MOTION_PARAMS *m, bool) { shownMotion << *m; });
        QVector<QByteArray> lookedUp;
        connect(device, &Device::db_findMotor, this, [&](MOTOR_TOTAL *motor, const QString &name) {
            lookedUp << motor->pack();
            return name.isEmpty() ? QStringLiteral("Motor A") : QString();
        });

        answerEverything();

        QCOMPARE(device->pwmInParams().pack(), plausiblePwmIn().pack());
        QCOMPARE(pwmForced, QVector<bool>{!QLibraryInfo::isDebugBuild()});
        QCOMPARE(device->motionParams().pack(), motionWithGains(1024, -512).pack());
        QCOMPARE(shownMotion.size(), 1);
        QCOMPARE(gains.count(), 1);
        QCOMPARE(gains.at(0).at(0).toUInt(), 1024u);
        QCOMPARE(gains.at(0).at(1).toUInt(), 65024u); // the 16-bit word, unsigned
        QVERIFY(device->motorParams() == knownMotor());
        QCOMPARE(userParams.count(), 1);
        QCOMPARE(hours.count(), 1);
        QCOMPARE(hours.at(0).at(0).toUInt(), 4321u);
        QCOMPARE(lookedUp, QVector<QByteArray>{knownMotor().pack()});
        QCOMPARE(device->motorName(), QStringLiteral("Motor A"));
        QVERIFY(events.contains(QStringLiteral("name 'Motor A'")));
        QVERIFY(device->isDigitalControl());
        QVERIFY(device->isHwAddress());

        // Each read went out once; the finished batch asks nothing more and reports nothing.
        QCOMPARE(sent->count(), 0);
        QVERIFY(!device->isReadBatchRunning());
        QCOMPARE(error.count(), 0);
    }

    void deleteDeviceEndsTheBatch()
    {
        create();
        feed(answer(VyxMsg::GET_PWM_IN_PARAMS, plausiblePwmIn().pack()));

        device->deleteDevice();
        const QStringList expected = {QStringLiteral("address 238"), QStringLiteral("state 0"),
                                      QStringLiteral("shown 0 state 0 fw 0.0.0"), QStringLiteral("name ''"),
                                      QStringLiteral("empty")};
        QCOMPARE(events, expected);
        QCOMPARE(device->pendingReads(), uint16_t(0));

        // Nobody answers now: losses do not bring the reads back.
        QSignalSpy error(device, &Device::setError);
        lose(VyxMsg::GET_MOTION_PARAMS);
        lose(VyxMsg::GET_MOTION_PARAMS);
        othersLose(1);
        QCOMPARE(sent->count(), 0);
        QCOMPARE(error.count(), 0);
    }

    void readMissedTwiceIsGivenUp()
    {
        create();
        QSignalSpy error(device, &Device::setError);
        int lookups = 0;
        connect(device, &Device::db_findMotor, this, [&lookups] { ++lookups; });
        feed(answer(VyxMsg::GET_PWM_IN_PARAMS, plausiblePwmIn().pack()));
        feed(answer(VyxMsg::GET_MOTION_PARAMS, motionWithGains(0, 0).pack()));

        // Each lost (or dropped) read is reported on its own and asked again once.
        lose(VyxMsg::GET_MOTOR_PARAMS);
        QCOMPARE(idsOf(takeRequests(*sent)), QVector<uint8_t>{VyxMsg::GET_MOTOR_PARAMS});
        lose(VyxMsg::GET_MOTOR_PARAMS);
        QCOMPARE(sent->count(), 0);
        QCOMPARE(device->failedReads(), uint16_t(Device::READ_MOTOR_PARAMS));
        QCOMPARE(error.count(), 0);

        feed(answer(VyxMsg::GET_MOTOR_USER_PARAMS, knownMotor().packUser()));
        feed(answer(VyxMsg::GET_MOTOR_HOURS, packMotorHours(5)));
        QCOMPARE(error.count(), 1);
        QCOMPARE(error.at(0).at(0).toUInt(), uint(Device::READ_MOTOR_PARAMS));
        QVERIFY(!device->isReadBatchRunning());
        // Half a motor record is not looked up (it would be stored as a new motor).
        QCOMPARE(lookups, 0);
        QVERIFY(events.contains(QStringLiteral("name ''")));
    }

    // A read dropped from the queue behind another request's loss never went out: it is
    // asked again without counting as missed. The first PWM input read is lost, the reads
    // behind it dropped; then the first motor-hours read written is lost too: each is asked
    // again and answered, nothing is given up.
    void droppedReadIsAskedAgainWithoutAMiss()
    {
        create();
        QSignalSpy error(device, &Device::setError);
        QSignalSpy finished(device, &Device::readBatchFinished);
        lose(VyxMsg::GET_PWM_IN_PARAMS);
        for (const uint8_t id : {VyxMsg::GET_MOTION_PARAMS, VyxMsg::GET_MOTOR_PARAMS, VyxMsg::GET_MOTOR_USER_PARAMS,
                                 VyxMsg::GET_MOTOR_HOURS})
            QVERIFY(line->fail(id, RequestFailure::Dropped));
        QCOMPARE(idsOf(takeRequests(*sent)), ALL_READS);
        feed(answer(VyxMsg::GET_PWM_IN_PARAMS, plausiblePwmIn().pack()));
        feed(answer(VyxMsg::GET_MOTION_PARAMS, motionWithGains(0, 0).pack()));
        feed(answer(VyxMsg::GET_MOTOR_PARAMS, knownMotor().packIdent()));
        feed(answer(VyxMsg::GET_MOTOR_USER_PARAMS, knownMotor().packUser()));
        lose(VyxMsg::GET_MOTOR_HOURS);
        QCOMPARE(idsOf(takeRequests(*sent)).count(VyxMsg::GET_MOTOR_HOURS), 1);
        QCOMPARE(device->failedReads(), uint16_t(0));
        feed(answer(VyxMsg::GET_MOTOR_HOURS, packMotorHours(5)));
        QCOMPARE(finished.count(), 1);
        QCOMPARE(error.count(), 0);
        QCOMPARE(device->failedReads(), uint16_t(0));
    }

    void silentDeviceGivesEverythingUp()
    {
        create();
        QSignalSpy error(device, &Device::setError);
        for (const uint8_t id : ALL_READS) {
            lose(id);
            lose(id);
        }
        QCOMPARE(error.count(), 1);
        QCOMPARE(error.at(0).at(0).toUInt(), uint(Device::READ_ALL));
        sent->clear();
        lose(VyxMsg::GET_MOTOR_HOURS); // the batch is over
        QCOMPARE(sent->count(), 0);
        QCOMPARE(error.count(), 1);
    }

    void lossOfAnotherRequesterChangesNothing()
    {
        create();
        feed(answer(VyxMsg::GET_PWM_IN_PARAMS, plausiblePwmIn().pack()));
        // The reads dropped with it are reported to this model one by one, on its own channel.
        for (const ChannelPlayer::Open &read : qAsConst(line->open))
            othersLose(read.ticket);
        QCOMPARE(sent->count(), 0);
        QCOMPARE(device->failedReads(), uint16_t(0));
        QCOMPARE(device->pendingReads(), uint16_t(0x1E));
    }

    // A controller that answers one read with a frame of another id: that read counts as
    // missing, is asked once more and then given up with the error; the batch ends, and
    // the record is not taken as read, so no page edits from its defaults.
    void foreignAnswerCountsAsMissing_data()
    {
        QTest::addColumn<int>("foreignId");
        QTest::addColumn<int>("badRead");
        QTest::newRow("status in place of the PWM input") << int(VyxMsg::GET_STATUS) << int(VyxMsg::GET_PWM_IN_PARAMS);
        QTest::newRow("write answer in place of the motion record")
            << int(VyxMsg::WRITE_PWM_IN_PARAMS) << int(VyxMsg::GET_MOTION_PARAMS);
        QTest::newRow("identity in place of the motor hours") << int(VyxMsg::GET_DEVICE_INFO) << int(VyxMsg::GET_MOTOR_HOURS);
    }

    void foreignAnswerCountsAsMissing()
    {
        QFETCH(int, foreignId);
        QFETCH(int, badRead);
        device->createDevice(777, 1, 2, 3, 9, 5);
        QSignalSpy error(device, &Device::setError);
        const QMap<int, QByteArray> goodAnswers = {
            {VyxMsg::GET_PWM_IN_PARAMS, plausiblePwmIn().pack()},
            {VyxMsg::GET_MOTION_PARAMS, motionWithGains(1024, 512).pack()},
            {VyxMsg::GET_MOTOR_PARAMS, knownMotor().packIdent()},
            {VyxMsg::GET_MOTOR_USER_PARAMS, knownMotor().packUser()},
            {VyxMsg::GET_MOTOR_HOURS, packMotorHours(5)},
        };
        // The port manager answers the requests in the order they were sent.
        QVector<uint8_t> asked;
        for (int round = 0; round < 10 && !sent->isEmpty(); ++round) {
            for (const uint8_t id : idsOf(takeRequests(*sent))) {
                asked << id;
                feed(id == badRead ? answer(uint8_t(foreignId), "20") : answer(id, goodAnswers.value(id)));
            }
        }
        QCOMPARE(asked.count(uint8_t(badRead)), 2); // asked, then once more
        QCOMPARE(asked.size(), 6);
        QVERIFY(!device->isReadBatchRunning());
        QCOMPARE(error.size(), 1);
        const uint16_t badBit = badRead == VyxMsg::GET_PWM_IN_PARAMS ? Device::READ_PWM_IN
                                : badRead == VyxMsg::GET_MOTION_PARAMS ? Device::READ_MOTION
                                                                         : Device::READ_MOTOR_HOURS;
        QCOMPARE(error[0][0].toUInt(), uint(badBit));
        QCOMPARE(device->hasRead(Device::READ_PWM_IN), badBit != Device::READ_PWM_IN);
        QCOMPARE(device->hasRead(Device::READ_MOTION), badBit != Device::READ_MOTION);
    }

    void recordNamesSayWhatWasNotRead()
    {
        QCOMPARE(Device::recordNames(0x0A), (QStringList{QStringLiteral("motion settings"), QStringLiteral("motor data")}));
        QCOMPARE(Device::recordNames(Device::READ_ALL).size(), 5);
        QVERIFY(Device::recordNames(0).isEmpty());
    }

    void runDeviceKeepsOrTakesTheIdentity()
    {
        create(5);
        device->runDevice(true, 0, 0, 0, 0, 0, NO_DEVICE_ADDRESS);
        const QStringList kept = {QStringLiteral("address 5"), QStringLiteral("state 2"),
                                  QStringLiteral("shown 5 state 2 fw 1.2.3")};
        QCOMPARE(events, kept);
        QCOMPARE(device->serialNumber(), 777u);
        QCOMPARE(idsOf(takeRequests(*sent)), ALL_READS);

        events.clear();
        device->runDevice(false, 888, 4, 5, 6, 2, 1);
        const QStringList taken = {QStringLiteral("address 1"), QStringLiteral("state 2"),
                                   QStringLiteral("shown 1 state 2 fw 4.5.6")};
        QCOMPARE(events, taken);
        QCOMPARE(device->serialNumber(), 888u);
        QCOMPARE(idsOf(takeRequests(*sent)), ALL_READS);
    }

    void createResetsTheSettingsRecords()
    {
        create();
        answerEverything();
        create();
        QCOMPARE(device->pwmInParams().pack(), SET_PWM_IN_PARAMS().pack());
        QCOMPARE(device->motionParams().pack(), SET_MOTION_PARAMS().pack());
        QVERIFY(device->motorName().isEmpty());
    }

    void bootloaderStates_data()
    {
        QTest::addColumn<bool>("connected");
        QTest::addColumn<bool>("knownDevice");
        QTest::addColumn<QString>("shown");

        QTest::newRow("started, known") << false << true << QStringLiteral("shown 5 state 3 fw 0.0.0");
        QTest::newRow("started, unknown") << false << false << QStringLiteral("shown 0 state 3 fw 0.0.0");
        QTest::newRow("connected, known") << true << true << QStringLiteral("shown 5 state 4 fw 0.0.0");
    }

    void bootloaderStates()
    {
        QFETCH(bool, connected);
        QFETCH(bool, knownDevice);
        QFETCH(QString, shown);
        create(5);
        if (connected)
            device->bootloaderConnected(knownDevice);
        else
            device->bootloaderRun(knownDevice);
        QCOMPARE(events.at(0), QStringLiteral("address 238"));
        QCOMPARE(events.at(2), shown);
        QCOMPARE(device->deviceAddress(), uint8_t(5));
        // The bootloader answers no reads: they are neither resent nor reported.
        QSignalSpy error(device, &Device::setError);
        lose(VyxMsg::GET_PWM_IN_PARAMS);
        lose(VyxMsg::GET_PWM_IN_PARAMS);
        QCOMPARE(sent->count(), 0);
        QCOMPARE(error.count(), 0);
    }

    void partialReadsJoinTheBatch()
    {
        device->updateMotorHours(); // no device
        QCOMPARE(sent->count(), 0);

        create();
        answerEverything();
        device->updateMotorParams();
        QCOMPARE(idsOf(takeRequests(*sent)),
                 (QVector<uint8_t>{VyxMsg::GET_MOTOR_PARAMS, VyxMsg::GET_MOTOR_USER_PARAMS}));
        device->updateMotorHours(); // joins the running batch
        QCOMPARE(idsOf(takeRequests(*sent)), QVector<uint8_t>{VyxMsg::GET_MOTOR_HOURS});
        QCOMPARE(device->pendingReads(), uint16_t(0x1C));
    }

    void gainsFromTuningAreWrittenAtOnce()
    {
        create();
        QSignalSpy direct(device, &Device::setMotionParamsDirectly);
        QSignalSpy shown(device, &Device::ui_fillMotionParams);
        device->updateControllerParams(1000, 500);

        QCOMPARE(device->motionParams().Kp, int16_t(1024));
        QCOMPARE(device->motionParams().Ki, int16_t(512));
        QCOMPARE(shown.count(), 1);
        QCOMPARE(direct.count(), 1);
        const SET_MOTION_PARAMS written = direct.at(0).at(0).value<SET_MOTION_PARAMS>();
        QCOMPARE(written.Kp, int16_t(1024));
        QCOMPARE(written.Ki, int16_t(512));

        device->updateControllerParams(100000, 0); // beyond the 16-bit word
        QCOMPARE(device->motionParams().Kp, int16_t(32767));
    }

    void confirmedRecordsAreTakenByValue()
    {
        QSignalSpy gains(device, &Device::setControllerParams);
        device->setMotionParams(motionWithGains(-1, 300));
        QCOMPARE(device->motionParams().pack(), motionWithGains(-1, 300).pack());
        QCOMPARE(gains.at(0).at(0).toUInt(), 65535u);
        QCOMPARE(gains.at(0).at(1).toUInt(), 300u);

        device->setPwmInParams(plausiblePwmIn());
        QCOMPARE(device->pwmInParams().pack(), plausiblePwmIn().pack());
    }

    void addressFromTheParameterExchange()
    {
        create(5);
        device->updateDeviceAddress(3);
        const QStringList expected = {QStringLiteral("address 3"), QStringLiteral("shown 3 state 1 fw 1.2.3")};
        QCOMPARE(events, expected);
        QCOMPARE(device->commandedAddress(), uint8_t(3));
    }

    void answersForOthersOrUnknownIdsChangeNothingStored()
    {
        create();
        const QByteArray before = device->motionParams().pack();
        RequestChannel other(QStringLiteral("ParamsHelper"));
        emit other.answered(line->open.at(1).ticket, answer(VyxMsg::GET_MOTION_PARAMS, motionWithGains(9, 9).pack()));
        QCOMPARE(sent->count(), 0);
        feed(answer(VyxMsg::WRITE_PWM_IN_PARAMS, "20"));
        feed(answer(0xFF, "2020202020"));
        QCOMPARE(device->motionParams().pack(), before);
        QCOMPARE(device->pendingReads(), uint16_t(Device::READ_ALL));
        QVERIFY(!device->hasRead(Device::READ_PWM_IN));
        QVERIFY(!device->hasRead(Device::READ_MOTION));
        // They took the place of the first two reads' answers: those are asked again.
        QCOMPARE(idsOf(takeRequests(*sent)), ALL_READS.mid(0, 2));
    }

    // Queued connections between the threads find their argument types by these names.
    void crossThreadTypesAreRegistered_data()
    {
        QTest::addColumn<QByteArray>("typeName");
        for (const char *name : {"Device_State_e", "Device_FW_s", "Poll_Answer_s", "ONLINE_QUANTS_S",
                                 "SET_PWM_IN_PARAMS", "SET_MOTION_PARAMS", "ERROR_WARN_LOG", "RUN_DATA", "RESISTANCE",
                                 "VYX_Protocol::VYX_MSG", "uint8_t", "int16_t", "uint32_t", "Qt::CheckState"})
            QTest::newRow(name) << QByteArray(name);
    }

    void crossThreadTypesAreRegistered()
    {
        QFETCH(QByteArray, typeName);
        QVERIFY(QMetaType::type(typeName.constData()) != QMetaType::UnknownType);
    }

    // Short answers are read with their missing bytes as zero, never past the payload;
    // an answer that claims more than the frame buffer holds is cut to the buffer.
    void shortAnswers_data()
    {
        QTest::addColumn<int>("msgId");
        QTest::addColumn<QByteArray>("payload");
        QTest::addColumn<int>("claimedLength");
        QTest::addColumn<QByteArray>("stored");

        QTest::newRow("motion, 3 bytes") << 0x44 << QByteArray::fromHex("0a3280") << -1
                                         << QByteArray::fromHex("0a32800000000000");
        QTest::newRow("motion, empty") << 0x44 << QByteArray() << -1 << QByteArray(8, '\0');
        QTest::newRow("pwm in, 5 bytes") << 0x46 << QByteArray::fromHex("6496c80f01") << -1
                                         << QByteArray::fromHex("6496c80f01000000");
        QTest::newRow("pwm in, claims 250") << 0x46 << QByteArray::fromHex("6496c80f01") << 250
                                            << QByteArray::fromHex("6496c80f01000000");
        QTest::newRow("hours, 2 bytes") << 0x48 << QByteArray::fromHex("3412") << -1 << QByteArray::fromHex("34120000");
        QTest::newRow("motor params, 4 bytes") << 0x40 << QByteArray::fromHex("0000803e") << -1
                                               << QByteArray::fromHex("0000803e") + QByteArray(24, '\0');
        QTest::newRow("user params, empty") << 0x31 << QByteArray() << -1 << QByteArray(28, '\0');
    }

    void shortAnswers()
    {
        QFETCH(int, msgId);
        QFETCH(QByteArray, payload);
        QFETCH(int, claimedLength);
        QFETCH(QByteArray, stored);
        create();
        int lookups = 0;
        connect(device, &Device::db_findMotor, this, [&lookups] { ++lookups; });

        feed(answer(uint8_t(msgId), payload, claimedLength));

        QByteArray actual;
        switch (msgId) {
        case 0x44: actual = device->motionParams().pack(); break;
        case 0x46: actual = device->pwmInParams().pack(); break;
        case 0x48: actual = packMotorHours(device->motorHours()); break;
        default: actual = device->motorParams().pack(); break;
        }
        QCOMPARE(actual.toHex(), stored.toHex());
        QCOMPARE(lookups, 0); // no complete motor record was read
    }
};

QTEST_GUILESS_MAIN(TestDevice)
#include "tst_device.moc"
