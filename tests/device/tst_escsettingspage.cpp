#include "tests/common/windowrig.h"

#include "tests/common/everysettingsfield.h"
#include "tests/common/settingswords.h"

#include "device/settingsmodel.h"
#include "device/settingsrecords.h"
#include "device/ui/escsettingspage.h"
#include "sim/simulatedfirmware.h"
#include "wire/messageids.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QLabel>
#include <QSignalSpy>
#include <QRegularExpression>
#include <QSlider>
#include <QSpinBox>
#include <QTextBrowser>
#include <QtTest>

#include <functional>

// The ESC settings page on the simulated controller: filling, edits through the quiet
// period, the two indicators, diagnostics and the settings file.
class TestEscSettingsPage : public QObject
{
    Q_OBJECT

    // The values of every editable widget, to see what an operation changed.
    static QVariantMap widgetValues(const WindowRig &rig)
    {
        QVariantMap values;
        for (QSpinBox *box : rig.window->findChildren<QSpinBox *>())
            values[box->objectName()] = box->value();
        for (QDoubleSpinBox *box : rig.window->findChildren<QDoubleSpinBox *>())
            values[box->objectName()] = box->value();
        for (QComboBox *box : rig.window->findChildren<QComboBox *>())
            values[box->objectName()] = box->currentIndex();
        for (QSlider *slider : rig.window->findChildren<QSlider *>())
            values[slider->objectName()] = slider->value();
        for (QCheckBox *box : rig.window->findChildren<QCheckBox *>()) {
            if (!box->objectName().startsWith(QLatin1String("checkBoxSend")))
                values[box->objectName()] = box->isChecked();
        }
        values[QStringLiteral("hwAddress")] = rig.find<QSpinBox>("spinBoxIndexDevice")->isReadOnly();
        return values;
    }

    static int writes(const QSignalSpy &spy, uint8_t msgId)
    {
        int count = 0;
        for (const QList<QVariant> &call : spy) {
            if (call.value(0).value<uint8_t>() == msgId)
                ++count;
        }
        return count;
    }

    QTemporaryDir m_files;

    QString writeFile(const QString &name, const QByteArray &content)
    {
        const QString path = m_files.filePath(name);
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(content) != content.size())
            return QString();
        return path;
    }

    // A connected rig on the settings page with nothing left to send.
    static bool ready(WindowRig &rig)
    {
        if (!rig.connectDevice())
            return false;
        rig.showPage("toolButtonEscParams");
        return rig.settle();
    }

    static void import(WindowRig &rig, const QString &path)
    {
        rig.dialogs.openAnswer = path;
        rig.find<QAbstractButton>("toolButtonImportParams")->click();
    }


    // Records whose words lie outside what the widgets can show or send: gains beyond
    // the spin boxes' ranges, a scale that release builds never send, an acceleration and
    // a brake intensity between slider positions, and bits no widget knows.
    static SET_PWM_IN_PARAMS unusualPwmIn()
    {
        SET_PWM_IN_PARAMS p;
        p.lowLevel = 95;
        p.centerLevel = 151;
        p.highLevel = 205;
        p.deadZone = 17;
        p.byte3Rest = 5;
        p.pwmType = false;
        p.controlType = true;
        p.digitalControl = true;
        p.analogControl = false;
        p.speedNorm = 4000;
        p.scale = 57;
        p.word1Rest = 3;
        return p;
    }
    static SET_MOTION_PARAMS unusualMotion()
    {
        SET_MOTION_PARAMS m;
        m.acceleration = 13;
        m.brakeIntensity = 33;
        m.brakeEnable = true;
        m.reverseDir = false;
        m.deviceAddress = 5;
        m.hwAddress = false;
        m.timeToLeave = 63;
        m.word0Rest = 9;
        m.Kp = -5;  // 63.99 read as unsigned: beyond the Kp box
        m.Ki = 13;  // 0.0127: below the Kff box
        return m;
    }

    // The first record written with this message id, if any.
    static bool written(const QSignalSpy &spy, uint8_t msgId, QByteArray *payload)
    {
        for (const QList<QVariant> &call : spy) {
            if (call.value(0).value<uint8_t>() == msgId) {
                *payload = call.value(1).toByteArray();
                return true;
            }
        }
        return false;
    }

    // One edit of one settings widget and what it may change in the records.
    struct EditRow
    {
        const char *widget;
        std::function<void(WindowRig &)> edit;
        std::function<void(SET_PWM_IN_PARAMS &)> pwmIn;    // null: no PWM input write
        std::function<void(SET_MOTION_PARAMS &)> motion;   // null: no motion write
    };
    static QVector<EditRow> editRows()
    {
        const auto spin = [](const char *name, int v) {
            return [=](WindowRig &rig) { rig.find<QSpinBox>(name)->setValue(v); };
        };
        const auto dspin = [](const char *name, double v) {
            return [=](WindowRig &rig) { rig.find<QDoubleSpinBox>(name)->setValue(v); };
        };
        const auto check = [](const char *name, bool on) {
            return [=](WindowRig &rig) { rig.find<QCheckBox>(name)->setChecked(on); };
        };
        const uint8_t enteredScale = QLibraryInfo::isDebugBuild() ? 80 : 100;
        return {
            {"spinBoxPwmLow", spin("spinBoxPwmLow", 1100), [](SET_PWM_IN_PARAMS &p) { p.lowLevel = 110; }, nullptr},
            {"spinBoxPwmCenter", spin("spinBoxPwmCenter", 1400), [](SET_PWM_IN_PARAMS &p) { p.centerLevel = 140; },
             nullptr},
            {"spinBoxPwmHigh", spin("spinBoxPwmHigh", 1900), [](SET_PWM_IN_PARAMS &p) { p.highLevel = 190; }, nullptr},
            {"spinBoxPwmDeadZone", spin("spinBoxPwmDeadZone", 20), [](SET_PWM_IN_PARAMS &p) { p.deadZone = 20; },
             nullptr},
            {"comboBoxPwmType", [](WindowRig &rig) { rig.find<QComboBox>("comboBoxPwmType")->setCurrentIndex(1); },
             [](SET_PWM_IN_PARAMS &p) { p.pwmType = true; }, nullptr},
            // Choosing the control type also sets the gain box (Ki 0 for "Voltage").
            {"comboBoxControlType",
             [](WindowRig &rig) { rig.find<QComboBox>("comboBoxControlType")->setCurrentIndex(0); },
             [](SET_PWM_IN_PARAMS &p) { p.controlType = false; }, [](SET_MOTION_PARAMS &m) { m.Ki = 0; }},
            // The analog input takes over when the digital one is switched off.
            {"checkBoxDigitalControl", check("checkBoxDigitalControl", false),
             [](SET_PWM_IN_PARAMS &p) {
                 p.digitalControl = false;
                 p.analogControl = true;
             },
             nullptr},
            {"checkBoxAnalogControl", check("checkBoxAnalogControl", true),
             [](SET_PWM_IN_PARAMS &p) { p.analogControl = true; }, nullptr},
            {"spinBoxSpeedNorm", spin("spinBoxSpeedNorm", 20000), [](SET_PWM_IN_PARAMS &p) { p.speedNorm = 2000; },
             nullptr},
            {"doubleSpinBoxScale", dspin("doubleSpinBoxScale", 0.8),
             [=](SET_PWM_IN_PARAMS &p) { p.scale = enteredScale; }, nullptr},
            {"horizontalSliderAcceleration",
             [](WindowRig &rig) { rig.find<QSlider>("horizontalSliderAcceleration")->setValue(4); }, nullptr,
             [](SET_MOTION_PARAMS &m) { m.acceleration = 30; }},
            {"horizontalSliderBreak",
             [](WindowRig &rig) {
                 QSlider *slider = rig.find<QSlider>("horizontalSliderBreak");
                 slider->setValue(slider->value() == 2 ? 1 : 2);
             },
             nullptr, nullptr /* set by the test from the position chosen */},
            {"checkBoxBreak", check("checkBoxBreak", false), nullptr,
             [](SET_MOTION_PARAMS &m) { m.brakeEnable = false; }},
            {"checkBoxReverseDir", check("checkBoxReverseDir", true), nullptr,
             [](SET_MOTION_PARAMS &m) { m.reverseDir = true; }},
            {"spinBoxIndexDevice", spin("spinBoxIndexDevice", 3), nullptr,
             [](SET_MOTION_PARAMS &m) { m.deviceAddress = 3; }},
            {"spinBoxTimeToLeave", spin("spinBoxTimeToLeave", 500), nullptr,
             [](SET_MOTION_PARAMS &m) { m.timeToLeave = 10; }},
            {"doubleSpinBoxKp", dspin("doubleSpinBoxKp", 2.5), nullptr, [](SET_MOTION_PARAMS &m) { m.Kp = 2560; }},
            {"doubleSpinBoxKi_Kff", dspin("doubleSpinBoxKi_Kff", 1.5), nullptr,
             [](SET_MOTION_PARAMS &m) { m.Ki = 1536; }},
        };
    }

    // One settings file and the words it must give over the simulated controller's records.
    struct ImportRow
    {
        const char *name;
        QByteArray file;
        std::function<void(SET_PWM_IN_PARAMS &, SET_MOTION_PARAMS &)> expect;
        QStringList limited;    // tags of the values not held as the file gives them
    };
    static QVector<ImportRow> importRows()
    {
        const auto settings = [](const char *groups) {
            return QByteArray("<settings>") + groups + QByteArray("</settings>");
        };
        const bool scaleSent = SettingsModel::scaleIsSent();
        return {
            {"every field", EverySettingsField::file(), EverySettingsField::apply, {}},
            {"kff 0.5 below the Kff box", settings("<motion><kff>0.5</kff></motion>"),
             [](SET_PWM_IN_PARAMS &, SET_MOTION_PARAMS &m) { m.Ki = 512; }, {}},
            {"kff 3.0 above the Kff box", settings("<motion><kff>3.0</kff></motion>"),
             [](SET_PWM_IN_PARAMS &, SET_MOTION_PARAMS &m) { m.Ki = 3072; }, {}},
            {"ki 0.0123", settings("<motion><ki>0.0123</ki></motion>"),
             [](SET_PWM_IN_PARAMS &, SET_MOTION_PARAMS &m) { m.Ki = 13; }, {}},
            {"kp 40 beyond the signed word", settings("<motion><kp>40</kp></motion>"),
             [](SET_PWM_IN_PARAMS &, SET_MOTION_PARAMS &m) { m.Kp = 32767; }, {"kp"}},
            {"kp -1", settings("<motion><kp>-1</kp></motion>"),
             [](SET_PWM_IN_PARAMS &, SET_MOTION_PARAMS &m) { m.Kp = 0; }, {"kp"}},
            // The gain means Ki or Kff by the control type: a new type starts from its own.
            {"control type changed, no gain", settings("<pwm_input><control_type>0</control_type></pwm_input>"),
             [](SET_PWM_IN_PARAMS &p, SET_MOTION_PARAMS &m) {
                 p.controlType = false;
                 m.Ki = 0;
             },
             {}},
            {"control type changed with its gain",
             settings("<pwm_input><control_type>0</control_type></pwm_input><motion><ki>2</ki></motion>"),
             [](SET_PWM_IN_PARAMS &p, SET_MOTION_PARAMS &m) {
                 p.controlType = false;
                 m.Ki = 2048;
             },
             {}},
            // The controller has only the digital input on: one of the two stays enabled.
            {"digital input off", settings("<pwm_input><digital_control>0</digital_control></pwm_input>"),
             [](SET_PWM_IN_PARAMS &p, SET_MOTION_PARAMS &) {
                 p.digitalControl = false;
                 p.analogControl = true;
             },
             {"analog_control"}},
            {"both inputs off",
             settings("<pwm_input><analog_control>0</analog_control><digital_control>0</digital_control></pwm_input>"),
             [](SET_PWM_IN_PARAMS &p, SET_MOTION_PARAMS &) {
                 p.digitalControl = false;
                 p.analogControl = true;
             },
             {"analog_control"}},
            // Release builds of the Qt library send the scale 1.00 whatever the file says.
            {"scale 0.57", settings("<pwm_input><scale>0.57</scale></pwm_input>"),
             [=](SET_PWM_IN_PARAMS &p, SET_MOTION_PARAMS &) { p.scale = scaleSent ? 57 : 100; },
             scaleSent ? QStringList() : QStringList {"scale"}},
            {"acceleration 500", settings("<motion><acceleration>500</acceleration></motion>"),
             [](SET_PWM_IN_PARAMS &, SET_MOTION_PARAMS &m) { m.acceleration = 10; }, {"acceleration"}},
            {"brake position 5", settings("<motion><brake_intesity>5</brake_intesity></motion>"),
             [](SET_PWM_IN_PARAMS &, SET_MOTION_PARAMS &m) { m.brakeIntensity = 90; }, {"brake_intesity"}},
            {"ttl 5000", settings("<motion><ttl>5000</ttl></motion>"),
             [](SET_PWM_IN_PARAMS &, SET_MOTION_PARAMS &m) { m.timeToLeave = 63; }, {"ttl"}},
            {"address 12", settings("<motion><hw_address>0</hw_address><device_address>12</device_address></motion>"),
             [](SET_PWM_IN_PARAMS &, SET_MOTION_PARAMS &m) {
                 m.hwAddress = false;
                 m.deviceAddress = 7;
             },
             {"device_address"}},
            // A hardware address is kept: the file's address is not applied (and said so).
            {"address from hardware", settings("<motion><hw_address>1</hw_address><device_address>5</device_address></motion>"),
             [](SET_PWM_IN_PARAMS &, SET_MOTION_PARAMS &m) { m.hwAddress = true; }, {}},
            {"pwm type 9", settings("<pwm_input><pwm_type>9</pwm_type></pwm_input>"),
             [](SET_PWM_IN_PARAMS &p, SET_MOTION_PARAMS &) { p.pwmType = true; }, {"pwm_type"}},
            {"dead zone 40", settings("<pwm_input><dead_zone>40</dead_zone></pwm_input>"),
             [](SET_PWM_IN_PARAMS &p, SET_MOTION_PARAMS &) { p.deadZone = 31; }, {"dead_zone"}},
            {"speed norm 50000", settings("<pwm_input><speed_norm>50000</speed_norm></pwm_input>"),
             [](SET_PWM_IN_PARAMS &p, SET_MOTION_PARAMS &) { p.speedNorm = 4095; }, {"speed_norm"}},
            {"levels beyond a byte",
             settings("<pwm_input><low_level>-10</low_level><center_level>1505</center_level>"
                      "<high_level>3000</high_level></pwm_input>"),
             [](SET_PWM_IN_PARAMS &p, SET_MOTION_PARAMS &) {
                 p.lowLevel = 0;
                 p.centerLevel = 150;
                 p.highLevel = 255;
             },
             {"low_level", "high_level"}},
        };
    }

    static QStringList tagsOf(const QStringList &reports)
    {
        QStringList tags;
        for (const QString &report : reports)
            tags << report.section(QLatin1Char(' '), 0, 0);
        return tags;
    }

private slots:
    void fillingFromTheDeviceWritesNothing()
    {
        WindowRig rig;
        QVERIFY(ready(rig));
        const SET_MOTION_PARAMS stored = rig.controller().firmware().motionParams();
        QCOMPARE(rig.find<QSpinBox>("spinBoxTimeToLeave")->value(), stored.timeToLeave * 50);

        QSignalSpy sent(rig.params()->requests(), &RequestChannel::requestSent);
        SET_MOTION_PARAMS other = stored;
        other.timeToLeave = 12;
        other.reverseDir = !stored.reverseDir;
        other.acceleration = 60;
        other.Kp = 2048;
        emit rig.device()->ui_fillMotionParams(&other, false);
        SET_PWM_IN_PARAMS pwm = rig.device()->pwmInParams();
        pwm.deadZone = 9;
        emit rig.device()->ui_fillPwmInParams(&pwm, false);
        QCOMPARE(rig.find<QCheckBox>("checkBoxSendMotion")->checkState(), Qt::Checked);
        QCOMPARE(rig.find<QCheckBox>("checkBoxSendPwmInput")->checkState(), Qt::Checked);
        QCOMPARE(rig.find<QSpinBox>("spinBoxTimeToLeave")->value(), 600);
        QCOMPARE(rig.find<QCheckBox>("checkBoxReverseDir")->isChecked(), other.reverseDir);
        QCOMPARE(rig.find<QSlider>("horizontalSliderAcceleration")->value(), 10);
        QCOMPARE(rig.find<QSpinBox>("spinBoxAcceleration")->value(), 6000);
        QCOMPARE(rig.find<QDoubleSpinBox>("doubleSpinBoxKp")->value(), 2.0);
        QCOMPARE(rig.find<QSpinBox>("spinBoxPwmDeadZone")->value(), 9);
        rig.tick(40);
        QCOMPARE(writes(sent, 0x45), 0);
        QCOMPARE(writes(sent, 0x47), 0);
        QVERIFY(!rig.params()->isSending());
    }

    void oneEditReachesTheControllerOnceAfterTheQuietPeriod()
    {
        WindowRig rig;
        QVERIFY(ready(rig));
        QSignalSpy sent(rig.params()->requests(), &RequestChannel::requestSent);
        QCheckBox *indicator = rig.find<QCheckBox>("checkBoxSendMotion");

        rig.find<QSpinBox>("spinBoxTimeToLeave")->setValue(400);
        QCOMPARE(indicator->checkState(), Qt::Unchecked);
        QCoreApplication::processEvents(); // the edit reaches the exchange
        rig.tick(15);
        QCOMPARE(writes(sent, 0x45), 0); // still quiet
        rig.tick(1);
        QCOMPARE(writes(sent, 0x45), 1);
        QVERIFY(rig.tickUntil([&] { return indicator->checkState() == Qt::Checked; }));
        QCOMPARE(rig.find<QCheckBox>("checkBoxSendPwmInput")->checkState(), Qt::PartiallyChecked);
        rig.tick(40);
        QCOMPARE(writes(sent, 0x45), 1);
        QCOMPARE(rig.controller().firmware().motionParams().timeToLeave, uint8_t(8));
        QCOMPARE(rig.device()->motionParams().timeToLeave, uint8_t(8));
    }

    void editsWithinTheQuietPeriodAreSentAsOne()
    {
        WindowRig rig;
        QVERIFY(ready(rig));
        QSignalSpy sent(rig.params()->requests(), &RequestChannel::requestSent);
        QDoubleSpinBox *kp = rig.find<QDoubleSpinBox>("doubleSpinBoxKp");
        for (int i = 1; i <= 5; ++i) {
            kp->setValue(0.5 * i);
            rig.tick(10);
        }
        QCOMPARE(writes(sent, 0x45), 0);
        QVERIFY(rig.settle());
        QCOMPARE(writes(sent, 0x45), 1);
        QCOMPARE(rig.controller().firmware().motionParams().Kp, int16_t(2560));
    }

    void digitalAndAnalogControlNeverBothOff()
    {
        WindowRig rig;
        QVERIFY(ready(rig));
        QCheckBox *digital = rig.find<QCheckBox>("checkBoxDigitalControl");
        QCheckBox *analog = rig.find<QCheckBox>("checkBoxAnalogControl");
        digital->setChecked(true);
        analog->setChecked(false);
        QVERIFY(digital->isChecked());
        digital->setChecked(false);
        QVERIFY(analog->isChecked());
        QVERIFY(rig.settle());
        QVERIFY(rig.controller().firmware().pwmInParams().analogControl);
        QVERIFY(!rig.controller().firmware().pwmInParams().digitalControl);
    }

    void diagnosticsAreShown()
    {
        WindowRig rig;
        QVERIFY(ready(rig));
        rig.find<QAbstractButton>("pushButtonGetRes")->click();
        rig.find<QAbstractButton>("pushButtonGetData")->click();
        QTextBrowser *res = rig.find<QTextBrowser>("textBrowserRes");
        QTextBrowser *data = rig.find<QTextBrowser>("textBrowserLastData");
        QVERIFY(rig.tickUntil([&] { return !res->toPlainText().isEmpty() && !data->toPlainText().isEmpty(); }));
        QVERIFY(res->toPlainText().startsWith(QLatin1String("Phase A")));
        QVERIFY(data->toPlainText().contains(QLatin1String("Max temp ESC")));

        emit rig.device()->ui_emptyParams();
        QVERIFY(res->toPlainText().isEmpty());
        QVERIFY(data->toPlainText().isEmpty());
    }

    void exportThenImportRestoresTheExportedFields()
    {
        WindowRig rig;
        QVERIFY(ready(rig));
        QSpinBox *deadZone = rig.find<QSpinBox>("spinBoxPwmDeadZone");
        QSpinBox *address = rig.find<QSpinBox>("spinBoxIndexDevice");
        QSpinBox *ttl = rig.find<QSpinBox>("spinBoxTimeToLeave");
        QSpinBox *low = rig.find<QSpinBox>("spinBoxPwmLow");
        QDoubleSpinBox *kp = rig.find<QDoubleSpinBox>("doubleSpinBoxKp");
        QDoubleSpinBox *kff = rig.find<QDoubleSpinBox>("doubleSpinBoxKi_Kff");
        QCheckBox *reverse = rig.find<QCheckBox>("checkBoxReverseDir");
        QCheckBox *digital = rig.find<QCheckBox>("checkBoxDigitalControl");
        deadZone->setValue(11);
        address->setValue(3);
        ttl->setValue(700);
        kp->setValue(1.234);
        kff->setValue(1.75);
        reverse->setChecked(true);
        QVERIFY(rig.settle());
        const QVariantMap exported = widgetValues(rig);

        const QString path = m_files.filePath(QStringLiteral("settings.xml"));
        rig.dialogs.saveAnswer = path;
        rig.find<QAbstractButton>("toolButtonExportParams")->click();
        QCOMPARE(rig.dialogs.messages.size(), 1);
        QCOMPARE(rig.dialogs.messages[0].title, QStringLiteral("Done"));
        QVERIFY(rig.dialogs.messages[0].text.contains(
            QStringLiteral(">Settings are exported to %1.</font>").arg(QDir::toNativeSeparators(path))));
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const ImportedSettings written = SettingsDocument::parse(file.readAll());
        QVERIFY(written.hasMotor); // the controller's motor, as the database names it
        QCOMPARE(written.motor.name, rig.device()->motorName());
        QCOMPARE(written.motor.params.Rs, rig.device()->motorParams().Rs);
        QCOMPARE(written.motor.params.polePairs, rig.device()->motorParams().polePairs);

        // Change the exported fields and two that the file does not carry.
        deadZone->setValue(20);
        address->setValue(6);
        ttl->setValue(100);
        kp->setValue(3.0);
        kff->setValue(1.1);
        reverse->setChecked(false);
        low->setValue(1100);
        digital->setChecked(!digital->isChecked());
        QVERIFY(rig.settle());
        const QVariantMap changed = widgetValues(rig);

        import(rig, path);
        QVariantMap expected = exported;
        expected[QStringLiteral("spinBoxPwmLow")] = changed[QStringLiteral("spinBoxPwmLow")];
        expected[QStringLiteral("checkBoxDigitalControl")] = changed[QStringLiteral("checkBoxDigitalControl")];
        expected[QStringLiteral("checkBoxAnalogControl")] = changed[QStringLiteral("checkBoxAnalogControl")];
        QCOMPARE(widgetValues(rig), expected);
        QCOMPARE(rig.dialogs.messages.size(), 1);

        // Imported values go to the controller like edits.
        QVERIFY(rig.settle());
        QCOMPARE(rig.controller().firmware().motionParams().timeToLeave, uint8_t(14));
        QCOMPARE(rig.controller().firmware().pwmInParams().deadZone, uint8_t(11));
    }

    // In speed control the Kff box runs from 1.0 to 2.0; the controller's 0.1 widens it,
    // and the file keeps both gain words as read.
    void exportKeepsTheGainsAsRead()
    {
        WindowRig rig;
        QVERIFY(ready(rig));
        const SET_MOTION_PARAMS held = rig.controller().firmware().motionParams();
        QCOMPARE(int(held.Ki), 102);
        QCOMPARE(rig.find<QDoubleSpinBox>("doubleSpinBoxKi_Kff")->value(), 0.0996);

        const QString path = m_files.filePath(QStringLiteral("gains.xml"));
        rig.dialogs.saveAnswer = path;
        rig.find<QAbstractButton>("toolButtonExportParams")->click();
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QMap<int, double> written;
        for (const SettingsValue &value : SettingsDocument::parse(file.readAll()).values)
            written[value.field] = value.value;
        QCOMPARE(qRound(written.value(SettingsValue::KiKff) * 1024), int(held.Ki));
        QCOMPARE(qRound(written.value(SettingsValue::Kp) * 1024), int(held.Kp));
    }

    // A gain read outside its box's usual range is shown as read, and nothing is written
    // until the user changes it; the next value inside the range brings the range back.
    void gainsAreShownAsRead_data()
    {
        QTest::addColumn<QString>("box");
        QTest::addColumn<int>("kp");
        QTest::addColumn<int>("ki");
        QTest::addColumn<QString>("shown");
        QTest::addColumn<bool>("beyondTheWord"); // the step leaves what the signed word holds
        QTest::newRow("Kff below 1.0") << "doubleSpinBoxKi_Kff" << 512 << 102 << "0.0996" << false;
        QTest::newRow("Kff far below") << "doubleSpinBoxKi_Kff" << 512 << 13 << "0.0127" << false;
        QTest::newRow("Kff above 2.0") << "doubleSpinBoxKi_Kff" << 512 << 2100 << "2.0508" << false;
        // A negative word read as unsigned: a step from it is limited to the largest gain
        // (a step to 63.994 would send a negative gain), shown and said.
        QTest::newRow("Kp above 31.999") << "doubleSpinBoxKp" << -5 << 1280 << "63.9951" << true;
    }
    void gainsAreShownAsRead()
    {
        QFETCH(QString, box);
        QFETCH(int, kp);
        QFETCH(int, ki);
        QFETCH(QString, shown);
        QFETCH(bool, beyondTheWord);
        WindowRig rig;
        QVERIFY(ready(rig));
        QDoubleSpinBox *gain = rig.window->findChild<QDoubleSpinBox *>(box);
        QVERIFY(gain);
        SET_MOTION_PARAMS motion = rig.controller().firmware().motionParams();
        motion.Kp = 1024;
        motion.Ki = 1280;
        emit rig.device()->ui_fillMotionParams(&motion, false);
        const double usualMinimum = gain->minimum();
        const double usualMaximum = gain->maximum();
        const int usualDecimals = gain->decimals();
        motion.Kp = int16_t(kp);
        motion.Ki = int16_t(ki);
        QSignalSpy sent(rig.params()->requests(), &RequestChannel::requestSent);
        emit rig.device()->ui_fillMotionParams(&motion, false);
        QCOMPARE(gain->text(), shown);
        QVERIFY(gain->toolTip().contains(shown));

        // Focus in and out is no edit.
        gain->setFocus();
        rig.find<QWidget>("spinBoxTimeToLeave")->setFocus();
        rig.tick(20);
        QByteArray payload;
        QVERIFY(!written(sent, 0x45, &payload));

        // A step is the user's value, from the value shown; the other gain stays as read.
        const bool down = gain->value() == gain->maximum();
        down ? gain->stepDown() : gain->stepUp();
        QVERIFY(rig.tickUntil([&] { return written(sent, 0x45, &payload); }));
        SET_MOTION_PARAMS expected = motion;
        const int stepWord = qRound(gain->singleStep() * 1024) * (down ? -1 : 1);
        int16_t &word = box == QLatin1String("doubleSpinBoxKp") ? expected.Kp : expected.Ki;
        word = beyondTheWord ? int16_t(32767) : int16_t(uint16_t(int(uint16_t(word)) + stepWord));
        QCOMPARE(payload.toHex(), expected.pack().toHex());
        QCOMPARE(qRound(gain->value() * 1024), int(uint16_t(word)));
        const QString info = rig.find<QLabel>("labelInfo")->text();
        QCOMPARE(info.contains(QLatin1String("limited")), beyondTheWord);

        // A value inside the usual range brings the range back.
        motion.Kp = 1024;
        motion.Ki = 1280;
        emit rig.device()->ui_fillMotionParams(&motion, false);
        QCOMPARE(gain->minimum(), usualMinimum);
        QCOMPARE(gain->maximum(), usualMaximum);
        QCOMPARE(gain->decimals(), usualDecimals);
        QVERIFY(!gain->toolTip().contains(shown));
    }

    // The page shows every field's word as the settings model reads it, which the settings
    // file, --decode and the dissector are held to as well (tst_settingsfieldviews). A brake
    // intensity of no slider position leaves the slider where it was: not compared.
    void everyFieldShowsItsWordAsTheModelReadsIt()
    {
        WindowRig rig;
        QVERIFY(ready(rig));
        const auto shown = [&rig](SettingsValue::Field field) -> double {
            const auto spin = [&rig](const char *name) { return double(rig.find<QSpinBox>(name)->value()); };
            const auto check = [&rig](const char *name) { return rig.find<QCheckBox>(name)->isChecked() ? 1.0 : 0.0; };
            switch (field) {
            case SettingsValue::LowLevel: return spin("spinBoxPwmLow");
            case SettingsValue::CenterLevel: return spin("spinBoxPwmCenter");
            case SettingsValue::HighLevel: return spin("spinBoxPwmHigh");
            case SettingsValue::DeadZone: return spin("spinBoxPwmDeadZone");
            case SettingsValue::PwmType: return rig.find<QComboBox>("comboBoxPwmType")->currentIndex();
            case SettingsValue::ControlType: return rig.find<QComboBox>("comboBoxControlType")->currentIndex();
            case SettingsValue::SpeedNorm: return spin("spinBoxSpeedNorm");
            case SettingsValue::Scale: return rig.find<QDoubleSpinBox>("doubleSpinBoxScale")->value();
            case SettingsValue::AnalogControl: return check("checkBoxAnalogControl");
            case SettingsValue::DigitalControl: return check("checkBoxDigitalControl");
            case SettingsValue::Acceleration: return spin("spinBoxAcceleration");
            case SettingsValue::BrakeIntensity: return rig.find<QSlider>("horizontalSliderBreak")->value();
            case SettingsValue::BrakeEnable: return check("checkBoxBreak");
            case SettingsValue::Reverse: return check("checkBoxReverseDir");
            case SettingsValue::HwAddress: return rig.find<QSpinBox>("spinBoxIndexDevice")->isReadOnly() ? 1 : 0;
            case SettingsValue::DeviceAddress: return spin("spinBoxIndexDevice");
            case SettingsValue::TimeToLeave: return spin("spinBoxTimeToLeave");
            case SettingsValue::Kp: return rig.find<QDoubleSpinBox>("doubleSpinBoxKp")->value();
            case SettingsValue::KiKff: return rig.find<QDoubleSpinBox>("doubleSpinBoxKi_Kff")->value();
            }
            return qQNaN();
        };
        for (SettingsValue::Field field : SettingsModel::fields()) {
            for (uint16_t word : SettingsWords::WORDS) {
                SET_PWM_IN_PARAMS pwmIn;
                SET_MOTION_PARAMS motion;
                SettingsWords::set(field, word, pwmIn, motion);
                pwmIn = SET_PWM_IN_PARAMS::unpack(pwmIn.pack());
                motion = SET_MOTION_PARAMS::unpack(motion.pack());
                const double expected = SettingsModel::fieldValue(field, pwmIn, motion);
                if (field == SettingsValue::BrakeIntensity && expected < 0)
                    continue;
                emit rig.device()->ui_fillPwmInParams(&pwmIn, false);
                emit rig.device()->ui_fillMotionParams(&motion, false);
                const double value = shown(field);
                QVERIFY2(qAbs(value - expected) < SettingsWords::SAME_WORD,
                         qPrintable(QStringLiteral("%1 word 0x%2: the page shows %3, the model reads %4")
                                        .arg(SettingsModel::tag(field))
                                        .arg(word, 4, 16, QLatin1Char('0'))
                                        .arg(value)
                                        .arg(expected)));
            }
        }
    }

    // A name typed without a suffix gets ".xml" (the import dialog shows only those), and
    // the next import opens in the folder exported to.
    void exportAddsTheSuffixAndImportOpensWhereItSaved()
    {
        WindowRig rig;
        QVERIFY(ready(rig));
        const QString folder = m_files.filePath(QStringLiteral("exports"));
        QVERIFY(QDir().mkpath(folder));
        rig.dialogs.saveAnswer = folder + QStringLiteral("/esc12345");
        rig.find<QAbstractButton>("toolButtonExportParams")->click();
        QVERIFY(QFileInfo(rig.dialogs.fileDialogStart).fileName().startsWith(QLatin1String("kordo-settings-")));
        QVERIFY(QFile::exists(folder + QStringLiteral("/esc12345.xml")));
        QVERIFY(!QFile::exists(folder + QStringLiteral("/esc12345")));
        QCOMPARE(rig.dialogs.messages.size(), 1);
        QVERIFY(rig.dialogs.messages[0].text.contains(QDir::toNativeSeparators(folder + QStringLiteral("/esc12345.xml"))));

        rig.dialogs.openAnswer.clear();
        rig.find<QAbstractButton>("toolButtonImportParams")->click();
        QCOMPARE(rig.dialogs.fileDialogStart, folder);
        QCOMPARE(rig.window->settings().settingsDirectory(), folder);
        // The next export suggests its name in that folder too.
        rig.dialogs.saveAnswer.clear();
        rig.find<QAbstractButton>("toolButtonExportParams")->click();
        QCOMPARE(QFileInfo(rig.dialogs.fileDialogStart).absolutePath(), folder);
    }

    void exportBeforeTheRecordsAreReadSaysSo()
    {
        WindowRig rig;
        QVERIFY(ready(rig));
        emit rig.device()->ui_emptyParams();
        const QString path = m_files.filePath(QStringLiteral("unread.xml"));
        rig.dialogs.saveAnswer = path;
        rig.find<QAbstractButton>("toolButtonExportParams")->click();
        QCOMPARE(rig.dialogs.fileDialogs, 0);
        QCOMPARE(rig.dialogs.messages.size(), 1);
        QVERIFY(rig.dialogs.messages[0].text.contains(QLatin1String("nothing to export")));
        QVERIFY(!QFile::exists(path));
    }

    void exportThatCannotBeWrittenSaysSo()
    {
        WindowRig rig;
        QVERIFY(ready(rig));
        const QString path = m_files.filePath(QStringLiteral("no-such-dir/settings.xml"));
        rig.dialogs.saveAnswer = path;
        rig.find<QAbstractButton>("toolButtonExportParams")->click();
        QCOMPARE(rig.dialogs.messages.size(), 1);
        QCOMPARE(rig.dialogs.messages[0].icon, UserDialogs::Icon::Critical);
        QVERIFY(rig.dialogs.messages[0].text.contains(QLatin1String("File saving failed!")));
        QVERIFY(!QFile::exists(path));

        rig.dialogs.saveAnswer.clear(); // cancelled: nothing at all
        rig.find<QAbstractButton>("toolButtonExportParams")->click();
        QCOMPARE(rig.dialogs.messages.size(), 1);
    }

    void filesWithoutSettingsChangeNothing_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::newRow("config root") << QByteArray("<config><motion><ttl>1000</ttl></motion></config>");
        QTest::newRow("not xml") << QByteArray("ttl = 1000");
        QTest::newRow("cut off") << QByteArray("<settings><motion><ttl>1000</ttl></motion>");
        QTest::newRow("entities")
            << QByteArray("<!DOCTYPE settings [<!ENTITY t \"1000\">]><settings><motion><ttl>&t;</ttl></motion></settings>");
        QTest::newRow("too large") << "<settings><motion><ttl>1000</ttl></motion>" + QByteArray(2 << 20, ' ')
                                          + "</settings>";
    }
    void filesWithoutSettingsChangeNothing()
    {
        QFETCH(QByteArray, content);
        WindowRig rig;
        QVERIFY(ready(rig));
        const QVariantMap before = widgetValues(rig);
        import(rig, writeFile(QStringLiteral("bad.xml"), content));
        QCOMPARE(rig.dialogs.messages.size(), 1);
        QCOMPARE(rig.dialogs.messages[0].icon, UserDialogs::Icon::Warning);
        QCOMPARE(rig.dialogs.messages[0].title, QStringLiteral("Content"));
        QVERIFY(rig.dialogs.messages[0].text.contains(QLatin1String("File not contain settings!")));
        QCOMPARE(widgetValues(rig), before);
        QVERIFY(!rig.params()->isSending());
    }

    void missingFileCannotBeOpened()
    {
        WindowRig rig;
        QVERIFY(ready(rig));
        import(rig, m_files.filePath(QStringLiteral("absent.xml")));
        QCOMPARE(rig.dialogs.messages.size(), 1);
        QCOMPARE(rig.dialogs.messages[0].icon, UserDialogs::Icon::Critical);
        QVERIFY(rig.dialogs.messages[0].text.contains(QLatin1String("File opening failed!")));
    }

    void accelerationValueMovesTheSlider()
    {
        WindowRig rig;
        QVERIFY(ready(rig));
        import(rig, writeFile(QStringLiteral("acc.xml"),
                              "<settings><motion><acceleration>3500</acceleration></motion></settings>"));
        QCOMPARE(rig.find<QSlider>("horizontalSliderAcceleration")->value(), 5);
        QCOMPARE(rig.find<QSpinBox>("spinBoxAcceleration")->value(), 3500);
        QVERIFY(rig.dialogs.messages.isEmpty());
    }

    void outOfRangeValuesAreLimitedAndReported()
    {
        WindowRig rig;
        QVERIFY(ready(rig));
        const int deadZoneBefore = rig.find<QSpinBox>("spinBoxPwmDeadZone")->value();
        QVERIFY(deadZoneBefore != 0); // read from the controller
        import(rig, writeFile(QStringLiteral("range.xml"),
                              "<settings><motion><ttl>99999</ttl><kp>40</kp><acceleration>-5</acceleration>"
                              "<device_address>12</device_address></motion>"
                              "<pwm_input><pwm_type>9</pwm_type><dead_zone>x</dead_zone></pwm_input></settings>"));
        QCOMPARE(rig.find<QSpinBox>("spinBoxTimeToLeave")->value(), 3150);
        QCOMPARE(rig.find<QDoubleSpinBox>("doubleSpinBoxKp")->value(), 31.999);
        QCOMPARE(rig.find<QSlider>("horizontalSliderAcceleration")->value(), 0);
        QCOMPARE(rig.find<QSpinBox>("spinBoxIndexDevice")->value(), 7);
        QCOMPARE(rig.find<QComboBox>("comboBoxPwmType")->currentIndex(), 1);
        // Text that is not a number is not applied, and named in a message box.
        QCOMPARE(rig.find<QSpinBox>("spinBoxPwmDeadZone")->value(), deadZoneBefore);
        const QString info = rig.find<QLabel>("labelInfo")->text();
        for (const char *tag : {"ttl 99999", "kp 40", "acceleration -5", "device_address 12", "pwm_type 9"})
            QVERIFY2(info.contains(QLatin1String(tag)), qPrintable(info));
        QVERIFY(!info.contains(QLatin1String("dead_zone")));
        QCOMPARE(rig.dialogs.messages.size(), 1);
        QVERIFY2(rig.dialogs.messages[0].text.contains(QLatin1String("dead_zone \"x\"")),
                 qPrintable(rig.dialogs.messages[0].text));
    }

    // One settings file, three ways to the controller: the page's import, the file laid over
    // the records as --settings does, and the values a production run refuses before any
    // port. Each gives the same words, the words the row names.
    void everyFieldGivesTheSameWordsOnEveryPath_data()
    {
        QTest::addColumn<int>("row");
        const QVector<ImportRow> rows = importRows();
        for (int i = 0; i < rows.size(); ++i)
            QTest::newRow(rows[i].name) << i;
    }
    void everyFieldGivesTheSameWordsOnEveryPath()
    {
        QFETCH(int, row);
        const ImportRow given = importRows().at(row);
        WindowRig rig;
        QVERIFY(ready(rig));
        const SET_PWM_IN_PARAMS pwmInBefore = rig.controller().firmware().pwmInParams();
        QCOMPARE(rig.device()->pwmInParams().pack(), pwmInBefore.pack());
        // A Kff of 1.25, inside the Kff box's usual range, as after a change of control type.
        SET_MOTION_PARAMS motionBefore = rig.controller().firmware().motionParams();
        motionBefore.Ki = 1280;
        emit rig.device()->ui_fillMotionParams(&motionBefore, false);
        SET_PWM_IN_PARAMS pwmInExpected = pwmInBefore;
        SET_MOTION_PARAMS motionExpected = motionBefore;
        given.expect(pwmInExpected, motionExpected);

        // The file path of --settings and of the production line's ports.
        const ImportedSettings parsed = SettingsDocument::parse(given.file);
        QCOMPARE(parsed.status, ImportedSettings::Status::Ok);
        QVERIFY(parsed.refused.isEmpty());
        const SettingsRecords records = SettingsRecords::apply(parsed.values, pwmInBefore, motionBefore);
        QCOMPARE(records.pwmIn.pack().toHex(), pwmInExpected.pack().toHex());
        QCOMPARE(records.motion.pack().toHex(), motionExpected.pack().toHex());
        QCOMPARE(tagsOf(records.limited), given.limited);
        // A production run refuses a value out of range before it touches any controller.
        for (const QString &tag : tagsOf(SettingsModel::outOfRange(parsed.values)))
            QVERIFY2(given.limited.contains(tag), qPrintable(tag));

        // The page's import: the same words reach the controller, and every limit is said.
        QSignalSpy sent(rig.params()->requests(), &RequestChannel::requestSent);
        QSignalSpy refused(rig.params(), &ParamsHelper::recordRefused);
        import(rig, writeFile(QStringLiteral("row.xml"), given.file));
        QVERIFY(rig.settle());
        QByteArray payload;
        if (pwmInExpected.pack() != pwmInBefore.pack())
            QVERIFY(written(sent, VyxMsg::WRITE_PWM_IN_PARAMS, &payload));
        if (written(sent, VyxMsg::WRITE_PWM_IN_PARAMS, &payload))
            QCOMPARE(payload.toHex(), pwmInExpected.pack().toHex());
        if (motionExpected.pack() != motionBefore.pack())
            QVERIFY(written(sent, VyxMsg::WRITE_MOTION_PARAMS, &payload));
        if (written(sent, VyxMsg::WRITE_MOTION_PARAMS, &payload))
            QCOMPARE(payload.toHex(), motionExpected.pack().toHex());
        // Stored as written, unless the controller refuses a record it finds implausible (a dead
        // zone of 31).
        const auto refusedId = [&](uint8_t msgId) {
            return std::any_of(refused.begin(), refused.end(),
                               [&](const QList<QVariant> &call) { return call.value(0).value<uint8_t>() == msgId; });
        };
        if (written(sent, VyxMsg::WRITE_PWM_IN_PARAMS, &payload) && !refusedId(VyxMsg::WRITE_PWM_IN_PARAMS))
            QCOMPARE(rig.controller().firmware().pwmInParams().pack().toHex(), pwmInExpected.pack().toHex());
        if (written(sent, VyxMsg::WRITE_MOTION_PARAMS, &payload) && !refusedId(VyxMsg::WRITE_MOTION_PARAMS))
            QCOMPARE(rig.controller().firmware().motionParams().pack().toHex(), motionExpected.pack().toHex());
        const QString info = rig.find<QLabel>("labelInfo")->text();
        for (const QString &tag : given.limited)
            QVERIFY2(info.contains(tag), qPrintable(info));
        if (given.limited.isEmpty())
            QVERIFY2(!info.contains(QLatin1String("limited")), qPrintable(info));
        for (const QString &tag : records.skipped)
            QVERIFY2(info.contains(QLatin1String("Not applied")) && info.contains(tag), qPrintable(info));
        // What would change is asked first; a file the controller already holds says so.
        const bool unchanged = pwmInExpected.pack() == pwmInBefore.pack() && motionExpected.pack() == motionBefore.pack();
        QCOMPARE(rig.dialogs.buttonsOffers.size(), unchanged ? 0 : 1);
        QCOMPARE(rig.dialogs.messages.size(), unchanged ? 1 : 0);
    }

    // Before an import writes, the page shows each field that would change (controller now,
    // file) and writes only when the user agrees; a file the controller already holds says
    // so and writes nothing.
    void importAsksBeforeItWrites_data()
    {
        QTest::addColumn<QByteArray>("file");       // empty: the controller's own export
        QTest::addColumn<bool>("agree");
        QTest::addColumn<QStringList>("changed");    // the fields shown, in order
        QTest::addColumn<QString>("shownRow");       // one row of the question, as shown
        QTest::addColumn<QString>("limited");        // a limit the question names
        const QByteArray ttl("<settings><motion><ttl>300</ttl></motion></settings>");
        const QString ttlRow("<tr><td>ttl</td><td align=\"right\">500</td><td align=\"right\">300</td></tr>");
        QTest::newRow("no change") << QByteArray() << true << QStringList() << QString() << QString();
        QTest::newRow("one field") << ttl << true << QStringList {"ttl"} << ttlRow << QString();
        QTest::newRow("one field, declined") << ttl << false << QStringList {"ttl"} << ttlRow << QString();
        // The control type is shown again: the Kff box keeps the controller's 0.0996.
        QTest::newRow("one PWM input field")
            << QByteArray("<settings><pwm_input><dead_zone>12</dead_zone></pwm_input></settings>") << true
            << QStringList {"dead_zone"}
            << QString("<tr><td>dead_zone</td><td align=\"right\">10</td><td align=\"right\">12</td></tr>")
            << QString();
        QTest::newRow("every field")
            << EverySettingsField::file() << true
            << QStringList {"low_level", "center_level", "high_level", "dead_zone", "pwm_type", "speed_norm",
                            "analog_control", "digital_control", "acceleration", "brake_intesity", "brake_enable",
                            "reverse", "device_address", "ttl", "kp", "kff"}
            << QString("<tr><td>kff</td><td align=\"right\">0.0996</td><td align=\"right\">0.5000</td></tr>")
            << QString();
        QTest::newRow("a field out of range")
            << QByteArray("<settings><motion><kp>40</kp></motion></settings>") << true << QStringList {"kp"}
            << QString("<tr><td>kp</td><td align=\"right\">0.2002</td><td align=\"right\">31.9990</td></tr>")
            << QString("kp 40 \u2192 31.999");
    }
    void importAsksBeforeItWrites()
    {
        QFETCH(QByteArray, file);
        QFETCH(bool, agree);
        QFETCH(QStringList, changed);
        QFETCH(QString, shownRow);
        QFETCH(QString, limited);
        WindowRig rig;
        QVERIFY(ready(rig));
        if (file.isEmpty())
            file = SettingsDocument::compose(SettingsRecords::exported(rig.device()->pwmInParams(),
                                                                       rig.device()->motionParams()));
        const QVariantMap before = widgetValues(rig);
        const SET_MOTION_PARAMS motionAfter =
            SettingsRecords::apply(SettingsDocument::parse(file).values, rig.device()->pwmInParams(),
                                   rig.device()->motionParams())
                .motion;
        rig.dialogs.buttonsAnswerAccept = agree;
        QSignalSpy sent(rig.params()->requests(), &RequestChannel::requestSent);
        import(rig, writeFile(QStringLiteral("diff.xml"), file));

        if (changed.isEmpty()) {
            QCOMPARE(rig.dialogs.buttonsOffers.size(), 0);
            QCOMPARE(rig.dialogs.messages.size(), 1);
            QVERIFY(rig.dialogs.messages[0].text.contains(QLatin1String("nothing was written")));
        } else {
            QCOMPARE(rig.dialogs.buttonsOffers.size(), 1);
            const QString question = rig.dialogs.buttonsOffers[0].text;
            QStringList shown;
            const QRegularExpression field(QStringLiteral("<tr><td>([a-z_]+)</td>"));
            for (auto it = field.globalMatch(question); it.hasNext();)
                shown << it.next().captured(1);
            QCOMPARE(shown, changed);
            QVERIFY2(question.contains(shownRow), qPrintable(question));
            QCOMPARE(question.contains(QLatin1String("limited")), !limited.isEmpty());
            if (!limited.isEmpty())
                QVERIFY2(question.contains(limited), qPrintable(question));
            QVERIFY(rig.dialogs.messages.isEmpty());
        }
        rig.tick(40);
        const bool writes = agree && !changed.isEmpty();
        QCOMPARE(this->writes(sent, 0x45) + this->writes(sent, 0x47) > 0, writes);
        if (!writes)
            QCOMPARE(widgetValues(rig), before);
        else // the page shows what it wrote
            QCOMPARE(qRound(rig.find<QDoubleSpinBox>("doubleSpinBoxKi_Kff")->value() * 1024), int(motionAfter.Ki));
    }

    void importedMotorIsHandedOn()
    {
        WindowRig rig;
        QVERIFY(ready(rig));
        QSignalSpy motors(rig.window->escSettingsPage(), &EscSettingsPage::motorImported);
        import(rig, writeFile(QStringLiteral("motor.xml"),
                              "<settings><motor><name>Outrunner</name><params><rs>0.05</rs><pole_pairs>7</pole_pairs>"
                              "</params></motor></settings>"));
        QCOMPARE(motors.size(), 1);
        const auto motor = motors[0][0].value<ImportedMotor>();
        QCOMPARE(motor.name, QStringLiteral("Outrunner"));
        QVERIFY(motor.hasParams);
        QCOMPARE(motor.params.Rs, 0.05f);
        QCOMPARE(motor.params.polePairs, uint8_t(7));
    }

    // A widget's range never rewrites what the controller holds: one edit changes its own
    // field, every other word goes back with the controller's own bits.
    void anEditKeepsEveryOtherWordAsRead_data()
    {
        QTest::addColumn<int>("row");
        const QVector<EditRow> rows = editRows();
        for (int i = 0; i < rows.size(); ++i)
            QTest::newRow(rows[i].widget) << i;
    }
    void anEditKeepsEveryOtherWordAsRead()
    {
        QFETCH(int, row);
        EditRow edit = editRows().at(row);
        WindowRig rig;
        QVERIFY(ready(rig));
        SET_PWM_IN_PARAMS pwmIn = unusualPwmIn();
        SET_MOTION_PARAMS motion = unusualMotion();
        emit rig.device()->ui_fillPwmInParams(&pwmIn, false);
        emit rig.device()->ui_fillMotionParams(&motion, false);
        if (QLatin1String(edit.widget) == QLatin1String("horizontalSliderBreak")) {
            const int position = rig.find<QSlider>("horizontalSliderBreak")->value() == 2 ? 1 : 2;
            edit.motion = [=](SET_MOTION_PARAMS &m) { m.brakeIntensity = ParamsHelper::BRAKE_INTENSITY[size_t(position)]; };
        }

        QSignalSpy sent(rig.params()->requests(), &RequestChannel::requestSent);
        edit.edit(rig);
        QByteArray payload;
        QVERIFY(rig.tickUntil([&] {
            return (!edit.pwmIn || written(sent, 0x47, &payload)) && (!edit.motion || written(sent, 0x45, &payload));
        }));
        rig.tick(40); // nothing else follows

        if (edit.pwmIn) {
            SET_PWM_IN_PARAMS expected = unusualPwmIn();
            edit.pwmIn(expected);
            QVERIFY(written(sent, 0x47, &payload));
            QCOMPARE(payload.toHex(), expected.pack().toHex());
        } else {
            QVERIFY(!written(sent, 0x47, &payload));
        }
        if (edit.motion) {
            SET_MOTION_PARAMS expected = unusualMotion();
            edit.motion(expected);
            QVERIFY(written(sent, 0x45, &payload));
            QCOMPARE(payload.toHex(), expected.pack().toHex());
        } else {
            QVERIFY(!written(sent, 0x45, &payload));
        }
    }

    // The write-back forced when the page is shown sends exactly what was read.
    void forcedWriteBackSendsWhatWasRead()
    {
        WindowRig rig;
        QVERIFY(ready(rig));
        QSignalSpy sent(rig.params()->requests(), &RequestChannel::requestSent);
        SET_PWM_IN_PARAMS pwmIn = unusualPwmIn();
        SET_MOTION_PARAMS motion = unusualMotion();
        emit rig.device()->ui_fillPwmInParams(&pwmIn, true);
        emit rig.device()->ui_fillMotionParams(&motion, true);
        QByteArray pwmPayload;
        QByteArray motionPayload;
        QVERIFY(rig.tickUntil([&] { return written(sent, 0x47, &pwmPayload) && written(sent, 0x45, &motionPayload); }));
        QCOMPARE(pwmPayload.toHex(), pwmIn.pack().toHex());
        QCOMPARE(motionPayload.toHex(), motion.pack().toHex());
    }

    void controlTypeSetsTheGainWidget()
    {
        WindowRig rig;
        QVERIFY(ready(rig));
        QComboBox *control = rig.find<QComboBox>("comboBoxControlType");
        QDoubleSpinBox *gain = rig.find<QDoubleSpinBox>("doubleSpinBoxKi_Kff");
        control->setCurrentIndex(1);
        control->setCurrentIndex(0);
        QCOMPARE(rig.find<QLabel>("labelCtrl_Ki_Kff")->text(), QStringLiteral("Controller Ki"));
        QCOMPARE(gain->decimals(), 3);
        QCOMPARE(gain->maximum(), 65.535);
        QCOMPARE(gain->value(), 0.0);
        QVERIFY(!rig.find<QWidget>("spinBoxSpeedNorm")->isEnabled());
        control->setCurrentIndex(1);
        QCOMPARE(rig.find<QLabel>("labelCtrl_Ki_Kff")->text(), QStringLiteral("Controller Kff"));
        QCOMPARE(gain->decimals(), 2);
        QCOMPARE(gain->minimum(), 1.0);
        QCOMPARE(gain->value(), 1.25);
        QVERIFY(rig.find<QWidget>("spinBoxSpeedNorm")->isEnabled());
    }

    // A device whose records are not read yet: the fields hold defaults, and an edit made
    // on them is not written (it would replace the controller's values with the defaults).
    void noEditIsWrittenFromValuesNotRead()
    {
        WindowRig rig;
        QVERIFY(ready(rig));
        rig.device()->createDevice(4242, 1, 2, 3, 4, 1); // a new device: its reads only start now
        QVERIFY(!rig.device()->hasRead(Device::READ_MOTION));
        QVERIFY(!rig.device()->hasRead(Device::READ_PWM_IN));
        QSignalSpy sent(rig.params()->requests(), &RequestChannel::requestSent);
        rig.find<QSpinBox>("spinBoxTimeToLeave")->setValue(400);
        QCoreApplication::processEvents();
        rig.tick(40);
        QVERIFY(rig.device()->hasRead(Device::READ_MOTION));
        QCOMPARE(writes(sent, 0x45), 0);
        QVERIFY(rig.controller().firmware().motionParams().timeToLeave != 8);
    }
};

QTEST_MAIN(TestEscSettingsPage)
#include "tst_escsettingspage.moc"
