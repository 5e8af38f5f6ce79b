#include "wire/records.h"

#include <QtTest>

namespace {

const uint8_t *bytes(const QByteArray &a)
{
    return reinterpret_cast<const uint8_t *>(a.constData());
}

// w0: Vbus 201 (25.1 V), Is 80 (10.0 A), PWM low bits 0x1DC;
// w1: PWM high bits 1 (1500 us), power 250 W, speed 0x2A00 (10.5 krpm);
// w2: temp 71 (40 C), Vs 100 (12.5 V), torque 0x3E00 (-0.5 Nm); h6 0x0148, h7 0x0100.
const QByteArray kTelemetry = QByteArray::fromHex("c9400177" "e9030015" "473200f8" "4801" "0001");

} // namespace

class TestRecords : public QObject
{
    Q_OBJECT

private slots:
    void fixedToFloat_data()
    {
        QTest::addColumn<uint>("raw");
        QTest::addColumn<int>("intBits");
        QTest::addColumn<int>("fracBits");
        QTest::addColumn<int>("decimals");
        QTest::addColumn<float>("expected");

        QTest::newRow("largest 8.3") << 0x3FFu << 8 << 3 << 1 << 127.9f;
        QTest::newRow("sign bit 8.3") << 0x400u << 8 << 3 << 1 << -128.0f;
        QTest::newRow("half rounds up") << 0x1u << 2 << 2 << 1 << 0.3f;
        QTest::newRow("negative half rounds away") << 0xFu << 2 << 2 << 1 << -0.3f;
        QTest::newRow("bits above the field ignored") << 0xFFFF0001u << 2 << 2 << 1 << 0.3f;
        QTest::newRow("torque 4.10") << 0x3E00u << 4 << 10 << 3 << -0.5f;
    }

    void fixedToFloat()
    {
        QFETCH(uint, raw);
        QFETCH(int, intBits);
        QFETCH(int, fracBits);
        QFETCH(int, decimals);
        QFETCH(float, expected);
        QCOMPARE(::fixedToFloat(raw, intBits, fracBits, decimals), expected);
    }

    void telemetryDecoding_data()
    {
        QTest::addColumn<QByteArray>("record");
        QTest::addColumn<float>("torque");
        QTest::addColumn<float>("speed");
        QTest::addColumn<float>("is");
        QTest::addColumn<float>("vbus");
        QTest::addColumn<float>("vs");
        QTest::addColumn<float>("power");
        QTest::addColumn<float>("rs");
        QTest::addColumn<float>("flux");
        QTest::addColumn<int>("temp");
        QTest::addColumn<uint>("pwm");

        // The extremes of every field: negative speed and current, saturated unsigned fields.
        TelemetryRecord extremes;
        extremes.speedRaw = 0x1F600; // -2.5 krpm in 7.10
        extremes.torqueRaw = 0x0400; // 1.0 Nm
        extremes.isRaw = 0xFF8;      // -1.0 A in 9.3
        extremes.vbusRaw = 0x3FF;    // 127.9 V
        extremes.vsRaw = 0x7FF;      // -0.125 V, shown as -0.1
        extremes.tempRaw = 0;        // -31 C
        extremes.power = 8191;
        extremes.pwmInUs = 4095;
        extremes.rsRaw = 0xFFFF;
        extremes.fluxRaw = 0x8000;   // 1.0 V/Hz

        // The PWM input takes its two high bits from w1.
        QTest::newRow("known values") << kTelemetry << -0.5f << 10500.0f << 10.0f << 25.1f << 12.5f << 250.0f
                                      << 328.0f / 32768 << 0.0078125f << 40 << 1500u;
        QTest::newRow("extremes") << extremes.pack() << 1.0f << -2500.0f << -1.0f << 127.9f << -0.1f << 8191.0f
                                  << 65535.0f / 32768 << 1.0f << -31 << 4095u;
        // w0 0x000040c9 only: Vbus 201, Is 16; the missing bytes read as zero.
        QTest::newRow("two bytes") << QByteArray::fromHex("c940") << 0.0f << 0.0f << 2.0f << 25.1f << 0.0f << 0.0f
                                   << 0.0f << 0.0f << -31 << 0u;
        QTest::newRow("no bytes") << QByteArray() << 0.0f << 0.0f << 0.0f << 0.0f << 0.0f << 0.0f << 0.0f << 0.0f
                                  << -31 << 0u;
    }

    void telemetryDecoding()
    {
        QFETCH(QByteArray, record);
        const ONLINE_QUANTS_S s = TelemetryRecord::unpack(record).toQuantities();
        QTEST(s.Torque, "torque");
        QTEST(s.Speed, "speed");
        QTEST(s.Is, "is");
        QTEST(s.Vbus, "vbus");
        QTEST(s.Vs, "vs");
        QTEST(s.Power, "power");
        QTEST(s.Rs, "rs");
        QTEST(s.Flux, "flux");
        QTEST(int(s.Temp), "temp");
        QTEST(uint(s.PWm_in_us), "pwm");
        QCOMPARE(s.EstState, uint8_t(0));
        QCOMPARE(s.CtrlState, uint8_t(0));
    }

    void telemetryEncodesBackToTheSameBytes()
    {
        QCOMPARE(TelemetryRecord::unpack(kTelemetry).pack(), kTelemetry);
        const ONLINE_QUANTS_S s = TelemetryRecord::unpack(kTelemetry).toQuantities();
        QCOMPARE(TelemetryRecord::fromQuantities(s).pack(), kTelemetry);
    }

    void telemetryEncodingSaturates()
    {
        ONLINE_QUANTS_S s;
        s.Speed = 1e6f;
        s.Is = -1e6f;
        s.Vbus = -5.0f;
        s.Temp = -100;
        s.PWm_in_us = 100000;
        const ONLINE_QUANTS_S back = TelemetryRecord::fromQuantities(s).toQuantities();
        QCOMPARE(back.Speed, 63999.0f); // 0xFFFF / 1024 krpm, 3 decimals
        QCOMPARE(back.Is, -256.0f);
        QCOMPARE(back.Vbus, 0.0f);
        QCOMPARE(back.Temp, int16_t(-31));
        QCOMPARE(back.PWm_in_us, 4095u);
    }

    void shortTelemetryReadsMissingBytesAsZero()
    {
        // Only 5 bytes belong to the record; the rest of the buffer must not be read.
        const QByteArray buffer(16, char(0xFF));
        const TelemetryRecord r = TelemetryRecord::unpack(bytes(buffer), 5);
        QCOMPARE(r.vbusRaw, uint16_t(0x3FF));
        QCOMPARE(r.pwmInUs, uint16_t(0xFFF));
        QCOMPARE(r.power, uint16_t(0x3F));
        QCOMPARE(r.speedRaw, 0u);
        QCOMPARE(r.tempRaw, uint8_t(0));
        QCOMPARE(r.rsRaw, uint16_t(0));
        QCOMPARE(r.fluxRaw, uint16_t(0));
        QCOMPARE(r.toQuantities().Temp, int16_t(-31));
    }

    void statusBlock_data()
    {
        QTest::addColumn<QByteArray>("payload");
        QTest::addColumn<int>("endIndex");
        QTest::addColumn<bool>("hasSaved");
        QTest::addColumn<int>("errorCode");

        QTest::newRow("0x1F needs 7 bytes") << QByteArray::fromHex("201f0102030405") << 7 << true << 5;
        QTest::newRow("0x1F with 6 bytes") << QByteArray::fromHex("201f01020304") << -1 << true << 0;
        QTest::newRow("saved message only") << QByteArray::fromHex("200245") << 3 << true << 0;
        QTest::newRow("bits 5-7 carry no value") << QByteArray::fromHex("20e0") << 2 << false << 0;
        QTest::newRow("no flag byte") << QByteArray::fromHex("20") << -1 << false << 0;
        QTest::newRow("empty") << QByteArray() << -1 << false << 0;
    }

    void statusBlock()
    {
        QFETCH(QByteArray, payload);
        QFETCH(int, endIndex);
        QFETCH(bool, hasSaved);
        QFETCH(int, errorCode);

        // Bytes past the answer length hold 0xAA and must not be picked up.
        const QByteArray buffer = payload + QByteArray(8, char(0xAA));
        const StatusBlock block = StatusBlock::decode(bytes(buffer), payload.size());
        QCOMPARE(block.endIndex, endIndex);
        QCOMPARE(block.values.hasSavedMsg, hasSaved);
        QCOMPARE(int(block.values.errorCode), errorCode);
        QCOMPARE(block.values.hasError, errorCode != 0);
    }

    void statusBlockEncodesValuesInBitOrder()
    {
        Poll_Answer_s values;
        values.hasError = true;
        values.errorCode = 0x07;
        values.hasIdState = true;
        values.idState = 0x41;
        values.hasSavedMsg = true;
        values.savedMsgId = 0x45;
        const QByteArray wire = StatusBlock::encode(ANSWER_OK, values);
        QCOMPARE(wire, QByteArray::fromHex("2013414507"));
        const StatusBlock back = StatusBlock::decode(wire);
        QCOMPARE(back.endIndex, 5);
        QCOMPARE(back.values.idState, uint8_t(0x41));
        QCOMPARE(back.values.savedMsgId, uint8_t(0x45));
        QVERIFY(!back.values.hasStall);
    }

    void identity_data()
    {
        QTest::addColumn<QByteArray>("payload");
        QTest::addColumn<int>("runFlag");
        QTest::addColumn<bool>("longLayout");
        QTest::addColumn<QString>("fw");
        QTest::addColumn<uint>("serial");
        QTest::addColumn<uint>("hwBuild");
        QTest::addColumn<int>("address");

        QTest::newRow("long") << QByteArray::fromHex("2000010203" "39300000" "07" "aabbcc" "03")
                              << 0 << true << "1.2.3" << 12345u << 7u << 3;
        QTest::newRow("long, running, a trailing byte")
            << QByteArray::fromHex("2001010203" "39300000" "07" "000000" "03" "ff") << 1 << true << "1.2.3"
            << 12345u << 7u << 3;
        QTest::newRow("short 13") << QByteArray::fromHex("200002" "05" "39300000" "09" "000000" "04")
                                  << 0 << false << "2.0.5" << 12345u << 9u << 4;
        QTest::newRow("short 12") << QByteArray::fromHex("200002" "05" "39300000" "09" "000000")
                                  << 0 << false << "2.0.5" << 12345u << 9u << 0xEE;
        QTest::newRow("short 8, no hardware build") << QByteArray::fromHex("2000020539300000") << 0 << false
                                                    << "2.0.5" << 12345u << 0u << 0xEE;
        QTest::newRow("short 7, serial cut") << QByteArray::fromHex("20000205393000") << 0 << false << "2.0.5" << 0u
                                             << 0u << 0xEE;
        QTest::newRow("code and run flag only") << QByteArray::fromHex("2000") << 0 << false << "0.0.0" << 0u << 0u
                                                << 0xEE;
        QTest::newRow("run flag missing") << QByteArray::fromHex("20") << int(DeviceIdentity::RUN_FLAG_MISSING)
                                          << false << "0.0.0" << 0u << 0u << 0xEE;
    }

    void identity()
    {
        QFETCH(QByteArray, payload);
        QFETCH(int, runFlag);
        QFETCH(bool, longLayout);
        QFETCH(QString, fw);
        QFETCH(uint, serial);
        QFETCH(uint, hwBuild);
        QFETCH(int, address);

        const QByteArray buffer = payload + QByteArray(16, char(0x55));
        const DeviceIdentity id = DeviceIdentity::decode(bytes(buffer), payload.size());
        QCOMPARE(id.answerCode, ANSWER_OK);
        QCOMPARE(int(id.runFlag), runFlag);
        QCOMPARE(id.longLayout, longLayout);
        QCOMPARE(QString("%1.%2.%3").arg(id.fw.fw_h).arg(id.fw.fw_m).arg(id.fw.fw_l), fw);
        QCOMPARE(id.serialNumber, serial);
        QCOMPARE(id.hwBuild, hwBuild);
        QCOMPARE(int(id.address), address);
    }

    void identityEncodesBothLayouts()
    {
        DeviceIdentity id;
        id.answerCode = ANSWER_OK;
        id.runFlag = 1;
        id.fw = { 1, 2, 3 };
        id.serialNumber = 12345;
        id.hwBuild = 7;
        id.address = 3;
        QCOMPARE(id.encodeLong(), QByteArray::fromHex("2001010203393000000700000003"));
        QCOMPARE(id.encodeShort(), QByteArray::fromHex("20010103393000000700000003"));
        QCOMPARE(id.encodeShort(7), QByteArray::fromHex("20010103393000"));
    }

    void dutyCommand_data()
    {
        QTest::addColumn<int>("percent");
        QTest::addColumn<bool>("enable");
        QTest::addColumn<QByteArray>("wire");

        QTest::newRow("full forward") << 100 << true << QByteArray::fromHex("01eb3f"); // 16363
        QTest::newRow("half") << 50 << true << QByteArray::fromHex("01f51f");          // 8181
        QTest::newRow("full reverse") << -100 << true << QByteArray::fromHex("0115c0"); // -16363
        QTest::newRow("0 %, enabled") << 0 << true << QByteArray::fromHex("010000");
        QTest::newRow("disabled") << 80 << false << QByteArray::fromHex("00");
        QTest::newRow("out of range saturates") << 1000 << true << QByteArray::fromHex("01ff7f");
        QTest::newRow("out of range, reverse") << -1000 << true << QByteArray::fromHex("010180");
    }

    void dutyCommand()
    {
        QFETCH(int, percent);
        QFETCH(bool, enable);
        QFETCH(QByteArray, wire);

        DutyCommand command;
        command.enable = enable;
        command.duty = DutyCommand::dutyFromPercent(percent);
        QCOMPARE(command.encode(), wire);
        const DutyCommand back = DutyCommand::decode(wire);
        QCOMPARE(back.enable, enable);
        QCOMPARE(back.duty, enable ? command.duty : int16_t(0));
    }

    void pwmInParams()
    {
        // Levels 1000/1500/2000 us, dead zone 15 with bits 5-7 of byte 3 set, bipolar,
        // digital and analog control, speed norm 2000, scale 1.00.
        const QByteArray wire = QByteArray::fromHex("6496c8ef8d0c6400");
        const SET_PWM_IN_PARAMS p = SET_PWM_IN_PARAMS::unpack(wire);
        QCOMPARE(p.lowLevel, uint8_t(100));
        QCOMPARE(p.centerLevel, uint8_t(150));
        QCOMPARE(p.highLevel, uint8_t(200));
        QCOMPARE(p.deadZone, uint8_t(15));
        QVERIFY(p.pwmType);
        QVERIFY(!p.controlType);
        QVERIFY(p.digitalControl);
        QVERIFY(p.analogControl);
        QCOMPARE(p.speedNorm, uint16_t(200));
        QCOMPARE(p.scale, uint8_t(100));
        QCOMPARE(p.pack(), wire); // bits 5-7 of byte 3 survive
        QVERIFY(!p.isPlausible()); // bipolar
        SET_PWM_IN_PARAMS unipolar = p;
        unipolar.pwmType = false;
        QVERIFY(unipolar.isPlausible());
        QCOMPARE(SET_PWM_IN_PARAMS().pack(), QByteArray::fromHex("6496c80f00000000"));
    }

    void motionParams_data()
    {
        QTest::addColumn<QByteArray>("wire");
        QTest::addColumn<bool>("plausible");

        // Acceleration 55, brake 70 enabled, reversed, address 5 from hardware,
        // time to leave 3 (150 ms), Kp 512, Ki -13.
        QTest::newRow("all fields") << QByteArray::fromHex("37c67b000002f3ff") << true;
        QTest::newRow("bit 27 set") << QByteArray::fromHex("37c67b080002f3ff") << false;
        QTest::newRow("acceleration 12") << QByteArray::fromHex("0cc67b000002f3ff") << false;
        QTest::newRow("brake 60") << QByteArray::fromHex("37bc7b000002f3ff") << false;
    }

    void motionParams()
    {
        QFETCH(QByteArray, wire);
        QFETCH(bool, plausible);

        const SET_MOTION_PARAMS m = SET_MOTION_PARAMS::unpack(wire);
        QCOMPARE(m.isPlausible(), plausible);
        QCOMPARE(m.pack(), wire);
        if (QByteArray(QTest::currentDataTag()) == "all fields") {
            QCOMPARE(m.acceleration, uint8_t(55));
            QCOMPARE(m.brakeIntensity, uint8_t(70));
            QVERIFY(m.brakeEnable && m.reverseDir && m.hwAddress);
            QCOMPARE(m.deviceAddress, uint8_t(5));
            QCOMPARE(m.timeToLeave, uint8_t(3));
            QCOMPARE(m.Kp, int16_t(512));
            QCOMPARE(m.Ki, int16_t(-13));
        }
    }

    void runData()
    {
        // Max current 5 A (x256), average 12.5 A (x10), ESC 70 C, motor 40 C, three free bytes.
        const QByteArray wire = QByteArray::fromHex("00d507785a010203");
        const RUN_DATA r = RUN_DATA::unpack(wire);
        QCOMPARE(r.maxCurrent, uint16_t(0x500));
        QCOMPARE(r.avgCurrent, uint16_t(125));
        QCOMPARE(r.maxTempEsc, uint8_t(120));
        QCOMPARE(r.maxTempMotor, uint8_t(90));
        QCOMPARE(r.pack(), wire);
    }

    void shortDiagnosticRecordsReadZeros()
    {
        const QByteArray buffer = QByteArray::fromHex("0100000002000000030000000400000005000000");
        const ERROR_WARN_LOG log = ERROR_WARN_LOG::unpack(bytes(buffer), 10);
        QCOMPARE(log.allErrors, 1u);
        QCOMPARE(log.allWarnings, 2u);
        QCOMPARE(log.prevErrors, 3u); // bytes 8 and 9 only
        QCOMPARE(log.lastWarnings, 0u);

        const QByteArray resistances = QByteArray::fromHex("0000803f" "00000040" "0000c03f" "cdcc4c3e");
        const RESISTANCE r = RESISTANCE::unpack(resistances);
        QCOMPARE(r.phaseA, 1.0f);
        QCOMPARE(r.phaseB, 2.0f);
        QCOMPARE(r.phaseC, 1.5f);
        QCOMPARE(r.global, 0.2f);
        QCOMPARE(r.pack(), resistances);
        QCOMPARE(RESISTANCE::unpack(bytes(resistances), 6).phaseB, 0.0f);

        QCOMPARE(unpackMotorHours(bytes(QByteArray::fromHex("cd5f01")), 3), 90061u);
        QCOMPARE(packMotorHours(90061), QByteArray::fromHex("cd5f0100"));
    }
};

QTEST_GUILESS_MAIN(TestRecords)
#include "tst_records.moc"
