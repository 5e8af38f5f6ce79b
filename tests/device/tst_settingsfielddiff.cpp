#include "device/settingsfielddiff.h"

#include <QtTest>

// The fields in which two pairs of settings records differ, named by their settings-file
// tags and shown in the file's units; bits no field shows are never hidden.
class TestSettingsFieldDiff : public QObject
{
    Q_OBJECT

private slots:
    void between_data()
    {
        QTest::addColumn<int>("change");
        QTest::addColumn<QStringList>("expected"); // "tag before after"
        QTest::newRow("nothing") << 0 << QStringList {};
        QTest::newRow("time to leave") << 1 << QStringList {"ttl 500 1000"};
        QTest::newRow("levels and gain") << 2 << QStringList {"low_level 1000 1100", "kp 0.200195 0.299805"};
        QTest::newRow("brake position") << 3 << QStringList {"brake_intesity 1 2"};
        QTest::newRow("bits no field shows") << 4
                                             << QStringList {"pwm_input (other bits) 6496c8af03000000 6496c8ef03000000"};
        QTest::newRow("every motion field")
            << 5
            << QStringList {"acceleration 5000 5500", "brake_intesity 1 0", "brake_enable 1 0", "reverse 0 1",
                            "hw_address 0 1", "device_address 1 2", "ttl 500 550", "kp 0.200195 0.201172",
                            "kff 0.0996094 0.100586"};
    }

    void between()
    {
        QFETCH(int, change);
        QFETCH(QStringList, expected);
        SET_PWM_IN_PARAMS pwm;
        pwm.deadZone = 15;
        pwm.pwmType = true;
        pwm.controlType = true;
        pwm.byte3Rest = 5;
        SET_MOTION_PARAMS motion;
        motion.acceleration = 50;
        motion.brakeIntensity = 70;
        motion.brakeEnable = true;
        motion.deviceAddress = 1;
        motion.timeToLeave = 10;
        motion.Kp = 205;
        motion.Ki = 102;
        SET_PWM_IN_PARAMS pwm2 = pwm;
        SET_MOTION_PARAMS motion2 = motion;
        switch (change) {
        case 1:
            motion2.timeToLeave = 20;
            break;
        case 2:
            pwm2.lowLevel = 110;
            motion2.Kp = 307;
            break;
        case 3:
            motion2.brakeIntensity = 90;
            break;
        case 4:
            pwm2.byte3Rest = 7;
            break;
        case 5:
            motion2.acceleration = 55;
            motion2.brakeIntensity = 50;
            motion2.brakeEnable = false;
            motion2.reverseDir = true;
            motion2.hwAddress = true;
            motion2.deviceAddress = 2;
            motion2.timeToLeave = 11;
            motion2.Kp = 206;
            motion2.Ki = 103;
            break;
        default:
            break;
        }
        QStringList got;
        for (const SettingsFieldChange &c : SettingsFieldDiff::between(pwm, motion, pwm2, motion2))
            got << QStringLiteral("%1 %2 %3").arg(c.tag, c.before, c.after);
        QCOMPARE(got, expected);
    }
};

QTEST_GUILESS_MAIN(TestSettingsFieldDiff)
#include "tst_settingsfielddiff.moc"
