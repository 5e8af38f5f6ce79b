#include "device/settingsdocument.h"

#include <QtTest>

#include <cmath>

Q_DECLARE_METATYPE(SettingsValue::Field)

// The settings file: what an export writes, what an import takes from a file, and that
// hostile files cost nothing but a refusal.
class TestSettingsDocument : public QObject
{
    Q_OBJECT

    static EscSettingsSnapshot sample()
    {
        EscSettingsSnapshot s;
        s.deadZone = 12;
        s.pwmType = 1;
        s.controlType = 1;
        s.speedNorm = 4500;
        s.reverse = true;
        s.deviceAddress = 5;
        s.hwAddress = false;
        s.timeToLeave = 250;
        s.kp = 0.123456789;
        s.kff = 1.25;
        s.motorName = QStringLiteral("Motor <A & B>");
        s.motor.Rs = 0.0625f;
        s.motor.Ls_d = 1.2e-5f;
        s.motor.Ls_q = 1.5e-5f;
        s.motor.Flux = 0.004f;
        s.motor.maxMotorCurrent = 300;
        s.motor.voltage_scale = 2500;
        s.motor.maxFrequency = 1200;
        s.motor.resCurrent = 450;
        s.motor.polePairs = 7;
        return s;
    }

    static double valueOf(const ImportedSettings &settings, SettingsValue::Field field)
    {
        for (const SettingsValue &v : settings.values) {
            if (v.field == field)
                return v.value;
        }
        return NAN;
    }

private slots:
    void exportWritesTheListedElementsInOrder()
    {
        const QByteArray text = SettingsDocument::compose(sample());
        QVERIFY(text.startsWith("<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<settings>\n <pwm_input>\n  <dead_zone>12</dead_zone>"));
        const QStringList order {"dead_zone", "pwm_type", "control_type", "speed_norm", "reverse", "device_address",
                                 "hw_address", "ttl", "kp", "kff", "name", "rs", "ls_q", "ls_d", "flux", "max_i",
                                 "max_v", "max_f", "id_res", "pole_pairs"};
        int at = 0;
        for (const QString &tag : order) {
            const int next = text.indexOf(QStringLiteral("<%1>").arg(tag).toUtf8(), at);
            QVERIFY2(next > at, qPrintable(tag));
            at = next;
        }
        // Never written, though an import accepts them.
        for (const char *tag : {"low_level", "acceleration", "brake_enable", "<ki>", "scale"})
            QVERIFY2(!text.contains(tag), tag);
        QVERIFY(text.contains("<kp>0.123457</kp>"));           // 6 significant digits
        QVERIFY(text.contains("<name>Motor &lt;A &amp; B></name>"));
        QVERIFY(text.contains("<ls_d>1.2e-05</ls_d>"));
    }

    void importReadsWhatExportWrote()
    {
        const EscSettingsSnapshot s = sample();
        const ImportedSettings imported = SettingsDocument::parse(SettingsDocument::compose(s));
        QCOMPARE(imported.status, ImportedSettings::Status::Ok);
        QCOMPARE(valueOf(imported, SettingsValue::DeadZone), 12.0);
        QCOMPARE(valueOf(imported, SettingsValue::PwmType), 1.0);
        QCOMPARE(valueOf(imported, SettingsValue::ControlType), 1.0);
        QCOMPARE(valueOf(imported, SettingsValue::SpeedNorm), 4500.0);
        QCOMPARE(valueOf(imported, SettingsValue::Reverse), 1.0);
        QCOMPARE(valueOf(imported, SettingsValue::DeviceAddress), 5.0);
        QCOMPARE(valueOf(imported, SettingsValue::HwAddress), 0.0);
        QCOMPARE(valueOf(imported, SettingsValue::TimeToLeave), 250.0);
        QCOMPARE(valueOf(imported, SettingsValue::Kp), 0.123457);
        QCOMPARE(valueOf(imported, SettingsValue::KiKff), 1.25);
        QVERIFY(imported.hasMotor);
        QCOMPARE(imported.motor.name, s.motorName);
        QVERIFY(imported.motor.hasParams);
        MOTOR_TOTAL expected = s.motor;
        QCOMPARE(imported.motor.params, expected);
    }

    void importKeepsTheFileOrderAndKnownTags()
    {
        const QByteArray text = R"(<settings>
            <motion><kff>1.5</kff><unknown>7</unknown><acceleration>3500</acceleration><ki>1.1</ki></motion>
            <pwm_input><low_level>1100</low_level><digital_control>1</digital_control></pwm_input>
            <extra><dead_zone>3</dead_zone></extra>
        </settings>)";
        const ImportedSettings imported = SettingsDocument::parse(text);
        QCOMPARE(imported.status, ImportedSettings::Status::Ok);
        QVector<SettingsValue::Field> fields;
        for (const SettingsValue &v : imported.values)
            fields << v.field;
        QCOMPARE(fields, (QVector<SettingsValue::Field> {SettingsValue::KiKff, SettingsValue::Acceleration,
                                                         SettingsValue::KiKff, SettingsValue::LowLevel,
                                                         SettingsValue::DigitalControl}));
        QCOMPARE(imported.values[1].value, 3500.0);
        QVERIFY(!imported.hasMotor);
    }

    void usableValuesAreRead_data()
    {
        QTest::addColumn<QByteArray>("element");
        QTest::addColumn<SettingsValue::Field>("field");
        QTest::addColumn<double>("value");
        QTest::newRow("huge double") << QByteArray("<motion><kp>1e308</kp></motion>") << SettingsValue::Kp << 1e308;
        QTest::newRow("negative") << QByteArray("<motion><device_address>-3</device_address></motion>")
                                  << SettingsValue::DeviceAddress << -3.0;
        QTest::newRow("blanks around") << QByteArray("<motion><ttl> 300 </ttl></motion>")
                                       << SettingsValue::TimeToLeave << 300.0;
    }
    void usableValuesAreRead()
    {
        QFETCH(QByteArray, element);
        QFETCH(SettingsValue::Field, field);
        QFETCH(double, value);
        const ImportedSettings imported = SettingsDocument::parse("<settings>" + element + "</settings>");
        QCOMPARE(imported.status, ImportedSettings::Status::Ok);
        QCOMPARE(imported.values.size(), 1);
        QCOMPARE(imported.values[0].field, field);
        QCOMPARE(imported.values[0].value, value);
        QVERIFY(imported.refused.isEmpty());
    }

    // A value that is not a number of its field's kind is not applied as 0: it is refused,
    // and the message names the field and the text.
    void unusableValuesAreRefusedByName_data()
    {
        QTest::addColumn<QByteArray>("element");
        QTest::addColumn<QString>("tag");
        QTest::addColumn<QString>("text");
        QTest::newRow("word") << QByteArray("<motion><ttl>many</ttl></motion>") << "ttl" << "many";
        QTest::newRow("fraction for an integer") << QByteArray("<motion><ttl>1.5</ttl></motion>") << "ttl" << "1.5";
        QTest::newRow("beyond int") << QByteArray("<pwm_input><dead_zone>2147483648</dead_zone></pwm_input>")
                                    << "dead_zone" << "2147483648";
        QTest::newRow("not a number") << QByteArray("<motion><kp>nan</kp></motion>") << "kp" << "nan";
        QTest::newRow("infinite") << QByteArray("<motion><kff>inf</kff></motion>") << "kff" << "inf";
        QTest::newRow("empty") << QByteArray("<motion><kp></kp></motion>") << "kp" << "";
        QTest::newRow("motor value") << QByteArray("<motor><name>M</name><params><rs>nan</rs></params></motor>")
                                     << "rs" << "nan";
    }
    void unusableValuesAreRefusedByName()
    {
        QFETCH(QByteArray, element);
        QFETCH(QString, tag);
        QFETCH(QString, text);
        const ImportedSettings imported = SettingsDocument::parse("<settings>" + element + "</settings>");
        QCOMPARE(imported.status, ImportedSettings::Status::Ok);
        QVERIFY(imported.values.isEmpty());
        QCOMPARE(imported.refused.size(), 1);
        QCOMPARE(imported.refused[0].tag, tag);
        QCOMPARE(imported.refused[0].text, text);
        const QString message = SettingsDocument::refusedValuesText(imported.refused);
        QVERIFY2(message.contains(QStringLiteral("%1 \"%2\"").arg(tag, text)), qPrintable(message));
    }

    void motorWithoutNameIsIgnored()
    {
        const ImportedSettings noName = SettingsDocument::parse(
            "<settings><motor><params><rs>1</rs></params></motor></settings>");
        QVERIFY(!noName.hasMotor);
        const ImportedSettings nameOnly = SettingsDocument::parse("<settings><motor><name>X</name></motor></settings>");
        QVERIFY(nameOnly.hasMotor);
        QVERIFY(!nameOnly.motor.hasParams);
        QCOMPARE(nameOnly.motor.name, QStringLiteral("X"));
    }

    void motorFieldsAreLimitedToTheirWidth()
    {
        const ImportedSettings imported = SettingsDocument::parse(
            "<settings><motor><name>M</name><params><max_i>70000</max_i><id_res>5000</id_res>"
            "<pole_pairs>300</pole_pairs><max_v>-1</max_v><rs>x</rs></params></motor></settings>");
        QVERIFY(imported.hasMotor);
        QCOMPARE(imported.motor.params.maxMotorCurrent, uint16_t(65535));
        QCOMPARE(imported.motor.params.resCurrent, uint16_t(4095));
        QCOMPARE(imported.motor.params.polePairs, uint8_t(255));
        QCOMPARE(imported.motor.params.voltage_scale, uint16_t(0));
        QCOMPARE(imported.motor.params.Rs, 0.0f);
        QCOMPARE(imported.refused.size(), 2);   // max_v -1 and rs x stay 0, and are named
        QCOMPARE(imported.refused[0].tag, QStringLiteral("max_v"));
        QCOMPARE(imported.refused[1].tag, QStringLiteral("rs"));
    }

    void filesWithoutSettingsAreRefused_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::newRow("empty") << QByteArray();
        QTest::newRow("not xml") << QByteArray("dead_zone=5");
        QTest::newRow("other root") << QByteArray("<config><pwm_input><dead_zone>5</dead_zone></pwm_input></config>");
        QTest::newRow("cut off") << QByteArray("<settings><pwm_input><dead_zone>5</dead_zone></pwm_input>");
        QTest::newRow("garbage after the root") << QByteArray("<settings><motion><ttl>100</ttl></motion></settings><x/>");
        QTest::newRow("entity declarations")
            << QByteArray("<!DOCTYPE settings [<!ENTITY a \"1\">]><settings><motion><ttl>&a;</ttl></motion></settings>");
        QTest::newRow("external entity")
            << QByteArray("<!DOCTYPE s [<!ENTITY e SYSTEM \"file:///etc/passwd\">]><settings><motor><name>&e;</name></motor></settings>");
        QTest::newRow("undeclared entity") << QByteArray("<settings><motion><ttl>&a;</ttl></motion></settings>");
    }
    void filesWithoutSettingsAreRefused()
    {
        QFETCH(QByteArray, text);
        const ImportedSettings imported = SettingsDocument::parse(text);
        QCOMPARE(imported.status, ImportedSettings::Status::NotSettings);
        QVERIFY(imported.values.isEmpty());
        QVERIFY(!imported.hasMotor);
    }

    void billionLaughsIsRefusedAtOnce()
    {
        QByteArray text = "<?xml version=\"1.0\"?><!DOCTYPE lolz [<!ENTITY lol \"lol\">";
        for (int i = 1; i < 10; ++i)
            text += QStringLiteral("<!ENTITY lol%1 \"%2\">").arg(i).arg(QString("&lol%1;").arg(i - 1).repeated(10)).toUtf8();
        text.replace("&lol0;", "&lol;");
        text += "]><settings><motor><name>&lol9;</name></motor></settings>";
        QCOMPARE(SettingsDocument::parse(text).status, ImportedSettings::Status::NotSettings);
    }

    void deepNestingIsWalkedWithoutRecursion()
    {
        const int depth = 100000;
        QByteArray text = "<settings><pwm_input><dead_zone>7</dead_zone></pwm_input><x>";
        text += QByteArray("<a>").repeated(depth) + QByteArray("</a>").repeated(depth);
        text += "</x><motion><ttl>200</ttl></motion></settings>";
        QVERIFY(text.size() <= SettingsDocument::MAX_FILE_SIZE);
        const ImportedSettings imported = SettingsDocument::parse(text);
        QCOMPARE(imported.status, ImportedSettings::Status::Ok);
        QCOMPARE(valueOf(imported, SettingsValue::DeadZone), 7.0);
        QCOMPARE(valueOf(imported, SettingsValue::TimeToLeave), 200.0);

        QByteArray nested = "<settings><motion>" + QByteArray("<ttl>").repeated(50000) + "1"
                            + QByteArray("</ttl>").repeated(50000) + "</motion></settings>";
        const ImportedSettings leaf = SettingsDocument::parse(nested);
        QCOMPARE(leaf.status, ImportedSettings::Status::Ok);
        // The number lies in the skipped children: the element holds no number, and is refused.
        QVERIFY(leaf.values.isEmpty());
        QCOMPARE(leaf.refused.size(), 1);
        QCOMPARE(leaf.refused[0].tag, QStringLiteral("ttl"));
    }

    void oversizedFileIsRefusedUnread()
    {
        QByteArray text = "<settings><motor><name>" + QByteArray(int(SettingsDocument::MAX_FILE_SIZE), 'a')
                          + "</name></motor></settings>";
        QCOMPARE(SettingsDocument::parse(text).status, ImportedSettings::Status::NotSettings);
    }
};

QTEST_GUILESS_MAIN(TestSettingsDocument)
#include "tst_settingsdocument.moc"
