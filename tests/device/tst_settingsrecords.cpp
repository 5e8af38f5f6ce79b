#include "device/settingsrecords.h"

#include <QtTest>

// A settings file laid over the controller's records without the settings page: the fields
// it names change as the page would pack them, the others keep the controller's values.
class TestSettingsRecords : public QObject
{
    Q_OBJECT

    static SettingsValue value(SettingsValue::Field field, double v, const char *tag)
    {
        return {field, v, QString::fromLatin1(tag)};
    }

    static SET_PWM_IN_PARAMS controllerPwmIn()
    {
        return SET_PWM_IN_PARAMS::unpack(QByteArray::fromHex("6496c80f49060000"));
    }

    static SET_MOTION_PARAMS controllerMotion()
    {
        return SET_MOTION_PARAMS::unpack(QByteArray::fromHex("1446c2000004cd00"));
    }

private slots:
    void onlyNamedFieldsChange()
    {
        const SET_PWM_IN_PARAMS pwmIn = controllerPwmIn();
        const SET_MOTION_PARAMS motion = controllerMotion();
        const SettingsRecords r = SettingsRecords::apply(
            {value(SettingsValue::DeadZone, 7, "dead_zone"), value(SettingsValue::SpeedNorm, 12345, "speed_norm"),
             value(SettingsValue::TimeToLeave, 175, "ttl"), value(SettingsValue::Kp, 0.5, "kp"),
             value(SettingsValue::KiKff, 0.0123, "kff"), value(SettingsValue::BrakeIntensity, 1, "brake_intesity"),
             value(SettingsValue::Acceleration, 3500, "acceleration")},
            pwmIn, motion);
        QVERIFY(r.pwmInChanged && r.motionChanged);
        QVERIFY(r.limited.isEmpty());
        QCOMPARE(int(r.pwmIn.deadZone), 7);
        QCOMPARE(int(r.pwmIn.speedNorm), 1234);
        QCOMPARE(int(r.pwmIn.lowLevel), int(pwmIn.lowLevel));
        QCOMPARE(r.pwmIn.pwmType, pwmIn.pwmType);
        QCOMPARE(int(r.pwmIn.byte3Rest), int(pwmIn.byte3Rest));
        QCOMPARE(int(r.motion.timeToLeave), 3);
        QCOMPARE(int(r.motion.Kp), 512);
        QCOMPARE(int(r.motion.Ki), 13);
        QCOMPARE(int(r.motion.brakeIntensity), 70);
        QCOMPARE(int(r.motion.acceleration), 5 * 5 + 10);
        QCOMPARE(r.motion.reverseDir, motion.reverseDir);
        QCOMPARE(int(r.motion.deviceAddress), int(motion.deviceAddress));
    }

    void exportedFileGivesBackTheSameWords_data()
    {
        QTest::addColumn<QByteArray>("pwmIn");
        QTest::addColumn<QByteArray>("motion");
        QTest::newRow("a controller as delivered") << QByteArray::fromHex("6496c80f49060000")
                                                   << QByteArray::fromHex("1446c2000004cd00");
        SET_PWM_IN_PARAMS pwmIn;
        pwmIn.deadZone = 31;
        pwmIn.pwmType = true;
        pwmIn.speedNorm = 4095;
        SET_MOTION_PARAMS motion;
        motion.reverseDir = true;
        motion.deviceAddress = 7;
        motion.timeToLeave = 63;
        motion.Kp = 32767;
        motion.Ki = 1;
        QTest::newRow("every field at its end") << pwmIn.pack() << motion.pack();
        motion.Kp = 13;
        motion.Ki = 102;
        QTest::newRow("gains no three decimals can show") << pwmIn.pack() << motion.pack();
    }

    // Export and import again over other records: every exported field comes back as it was.
    void exportedFileGivesBackTheSameWords()
    {
        QFETCH(QByteArray, pwmIn);
        QFETCH(QByteArray, motion);
        const SET_PWM_IN_PARAMS heldPwmIn = SET_PWM_IN_PARAMS::unpack(pwmIn);
        const SET_MOTION_PARAMS heldMotion = SET_MOTION_PARAMS::unpack(motion);
        const QByteArray file = SettingsDocument::compose(SettingsRecords::exported(heldPwmIn, heldMotion));
        const ImportedSettings parsed = SettingsDocument::parse(file);
        QCOMPARE(parsed.status, ImportedSettings::Status::Ok);
        const SettingsRecords back = SettingsRecords::apply(parsed.values, SET_PWM_IN_PARAMS(), SET_MOTION_PARAMS());
        QVERIFY2(back.limited.isEmpty(), qPrintable(back.limited.join(QLatin1String(", "))));
        QCOMPARE(int(back.pwmIn.deadZone), int(heldPwmIn.deadZone));
        QCOMPARE(back.pwmIn.pwmType, heldPwmIn.pwmType);
        QCOMPARE(back.pwmIn.controlType, heldPwmIn.controlType);
        QCOMPARE(int(back.pwmIn.speedNorm), int(heldPwmIn.speedNorm));
        QCOMPARE(back.motion.reverseDir, heldMotion.reverseDir);
        QCOMPARE(back.motion.hwAddress, heldMotion.hwAddress);
        QCOMPARE(int(back.motion.deviceAddress), int(heldMotion.deviceAddress));
        QCOMPARE(int(back.motion.timeToLeave), int(heldMotion.timeToLeave));
        QCOMPARE(int(back.motion.Kp), int(heldMotion.Kp));
        QCOMPARE(int(back.motion.Ki), int(heldMotion.Ki));
    }

    void outOfRangeIsLimitedAndTold_data()
    {
        QTest::addColumn<int>("field");
        QTest::addColumn<double>("given");
        QTest::addColumn<QByteArray>("expected"); // the record as packed, hex
        QTest::newRow("dead zone 40 -> 31") << int(SettingsValue::DeadZone) << 40.0 << QByteArray("6496c81f49060000");
        QTest::newRow("ttl 5000 -> 3150") << int(SettingsValue::TimeToLeave) << 5000.0 << QByteArray("1446e2070004cd00");
        QTest::newRow("kp -1 -> 0") << int(SettingsValue::Kp) << -1.0 << QByteArray("1446c2000000cd00");
    }

    void outOfRangeIsLimitedAndTold()
    {
        QFETCH(int, field);
        QFETCH(double, given);
        QFETCH(QByteArray, expected);
        const SettingsRecords r = SettingsRecords::apply({value(SettingsValue::Field(field), given, "x")},
                                                         controllerPwmIn(), controllerMotion());
        QCOMPARE(r.limited.size(), 1);
        const QByteArray packed = (r.pwmInChanged ? r.pwmIn.pack() : r.motion.pack()).toHex();
        QCOMPARE(packed, expected);
    }

    // Each field set from a value its word holds reads back as that value, and changes
    // nothing but its own bits.
    void everyFieldReadsBackAsSet_data()
    {
        QTest::addColumn<int>("field");
        QTest::addColumn<double>("value");
        const QVector<double> values {1100, 1400, 1900, 7, 0, 1, 12340, 1.0, 0, 1, 3500, 2, 1, 1, 1, 6, 3100,
                                      1.2353515625, 31.9990234375};
        const QVector<SettingsValue::Field> fields = SettingsModel::fields();
        QCOMPARE(fields.size(), values.size());
        for (int i = 0; i < fields.size(); ++i)
            QTest::newRow(qPrintable(SettingsModel::tag(fields[i]))) << int(fields[i]) << values[i];
    }
    void everyFieldReadsBackAsSet()
    {
        QFETCH(int, field);
        QFETCH(double, value);
        const auto f = SettingsValue::Field(field);
        double used = 0;
        QVERIFY(SettingsModel::limit(f, value, &used));
        SET_PWM_IN_PARAMS pwmIn = controllerPwmIn();
        SET_MOTION_PARAMS motion = controllerMotion();
        SettingsModel::setField(f, value, pwmIn, motion);
        QCOMPARE(SettingsModel::fieldValue(f, pwmIn, motion), value);
        const QVector<SettingsModel::FieldChange> changed =
            SettingsModel::changes(controllerPwmIn(), controllerMotion(), pwmIn, motion);
        QCOMPARE(changed.size(), 1);
        QCOMPARE(int(changed[0].field), field);
        QCOMPARE(changed[0].file, value);
    }

    // The diff names the gain as the controller will use it: Ki under voltage control.
    void changedGainIsNamedByTheControlType_data()
    {
        QTest::addColumn<bool>("speedControl");
        QTest::addColumn<QString>("tag");
        QTest::newRow("voltage") << false << "ki";
        QTest::newRow("speed") << true << "kff";
    }
    void changedGainIsNamedByTheControlType()
    {
        QFETCH(bool, speedControl);
        QFETCH(QString, tag);
        SET_PWM_IN_PARAMS pwmIn = controllerPwmIn();
        pwmIn.controlType = speedControl;
        SET_MOTION_PARAMS motion = controllerMotion();
        motion.Ki = 512;
        const QVector<SettingsModel::FieldChange> changed =
            SettingsModel::changes(pwmIn, controllerMotion(), pwmIn, motion);
        QCOMPARE(changed.size(), 1);
        QCOMPARE(changed[0].tag, tag);
        QCOMPARE(changed[0].now, 205 / 1024.0);
        QCOMPARE(changed[0].file, 0.5);
    }

    // The page keeps a hardware address as it is; so does the file laid over the record.
    void hardwareAddressKeepsTheAddress()
    {
        const QVector<SettingsValue> values {value(SettingsValue::HwAddress, 1, "hw_address"),
                                             value(SettingsValue::DeviceAddress, 5, "device_address")};
        const SettingsRecords r = SettingsRecords::apply(values, controllerPwmIn(), controllerMotion());
        QVERIFY(r.motion.hwAddress);
        QCOMPARE(int(r.motion.deviceAddress), int(controllerMotion().deviceAddress));
        QVERIFY(!r.pwmInChanged);
        QCOMPARE(r.skipped, QStringList {"device_address"}); // told, not passed over in silence
    }
};

QTEST_GUILESS_MAIN(TestSettingsRecords)
#include "tst_settingsrecords.moc"
