#include "device/settingsbackupcheck.h"
#include "wire/motortotal.h"
#include "wire/records.h"

#include <QtTest>

#include <functional>

using BackupChange = std::function<void(SettingsSnapshot &)>;
Q_DECLARE_METATYPE(BackupChange)

// A backup is checked as a settings file is: each record exactly its length, each field in
// the range a file may give it; what is wrong is named. The rows the restore tables on the
// simulated controller do not reach.
class TestSettingsBackupCheck : public QObject
{
    Q_OBJECT

    // A backup a controller could hold: the records as this program writes them, and a motor.
    static SettingsSnapshot good()
    {
        SettingsSnapshot s;
        s.serialNumber = QStringLiteral("1");
        SET_PWM_IN_PARAMS pwmIn;
        pwmIn.controlType = true;
        pwmIn.digitalControl = true;
        pwmIn.speedNorm = 2000;
        pwmIn.scale = 100;
        s.pwmIn = pwmIn.pack();
        SET_MOTION_PARAMS motion;
        motion.acceleration = 50;
        motion.brakeIntensity = 70;
        motion.Kp = 205;
        motion.Ki = 102;
        s.motion = motion.pack();
        MOTOR_TOTAL motor;
        motor.Rs = 0.06f;
        motor.Ls_d = 12e-6f;
        motor.Ls_q = 13e-6f;
        motor.Flux = 0.0095f;
        motor.polePairs = 7;
        s.motor = motor.pack();
        return s;
    }

    using Change = BackupChange;

    static Change pwmIn(const std::function<void(SET_PWM_IN_PARAMS &)> &change)
    {
        return [change](SettingsSnapshot &s) {
            SET_PWM_IN_PARAMS r = SET_PWM_IN_PARAMS::unpack(s.pwmIn);
            change(r);
            s.pwmIn = r.pack();
        };
    }

    static Change motion(const std::function<void(SET_MOTION_PARAMS &)> &change)
    {
        return [change](SettingsSnapshot &s) {
            SET_MOTION_PARAMS r = SET_MOTION_PARAMS::unpack(s.motion);
            change(r);
            s.motion = r.pack();
        };
    }

private slots:
    void problems_data()
    {
        QTest::addColumn<Change>("change");
        QTest::addColumn<QString>("named"); // empty: no problem

        QTest::newRow("good") << Change([](SettingsSnapshot &) {}) << QString();
        QTest::newRow("records not read") << Change([](SettingsSnapshot &s) {
            s.pwmIn.clear();
            s.motor.clear();
        }) << QString();
        QTest::newRow("no record at all") << Change([](SettingsSnapshot &s) { s = SettingsSnapshot(); })
                                          << "holds no records";
        // The controller's own scale goes back as it was read.
        QTest::newRow("scale of the controller") << pwmIn([](SET_PWM_IN_PARAMS &r) { r.scale = 57; }) << QString();
        QTest::newRow("pwm input long") << Change([](SettingsSnapshot &s) { s.pwmIn.append('\0'); })
                                        << "PWM input record is 9 bytes long, not 8";
        QTest::newRow("motor short") << Change([](SettingsSnapshot &s) { s.motor.chop(12); })
                                     << "motor record is 16 bytes long, not 28";
        QTest::newRow("bipolar center above high")
            << pwmIn([](SET_PWM_IN_PARAMS &r) {
                   r.pwmType = true;
                   r.centerLevel = 210;
               })
            << "out of order (low_level 1000, center_level 2100, high_level 2000)";
        QTest::newRow("unipolar center left alone") << pwmIn([](SET_PWM_IN_PARAMS &r) { r.centerLevel = 210; })
                                                    << QString();
        QTest::newRow("pwm bits 23-31") << pwmIn([](SET_PWM_IN_PARAMS &r) { r.word1Rest = 3; }) << "bits 23-31 (0x3)";
        QTest::newRow("motion bits 27-31") << motion([](SET_MOTION_PARAMS &r) { r.word0Rest = 1; })
                                           << "bits 27-31 (0x1)";
        QTest::newRow("acceleration") << motion([](SET_MOTION_PARAMS &r) { r.acceleration = 200; })
                                      << "acceleration 20000 \u2192 10000";
        QTest::newRow("negative ki") << motion([](SET_MOTION_PARAMS &r) { r.Ki = -1; }) << "kff 63.999";
        QTest::newRow("motor without values") << Change([](SettingsSnapshot &s) { s.motor = MOTOR_TOTAL().pack(); })
                                              << "motor has no usable values";
    }

    void problems()
    {
        QFETCH(Change, change);
        QFETCH(QString, named);
        SettingsSnapshot backup = good();
        change(backup);
        const QString text = SettingsBackupCheck::problemText(backup);
        if (named.isEmpty())
            QVERIFY2(text.isEmpty(), qPrintable(text));
        else
            QVERIFY2(text.contains(named), qPrintable(text));
    }
};


QTEST_GUILESS_MAIN(TestSettingsBackupCheck)
#include "tst_settingsbackupcheck.moc"
