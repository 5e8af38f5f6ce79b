#include "device/settingsdocument.h"

#include <QCoreApplication>
#include <QDomDocument>
#include <QStringList>
#include <QHash>
#include <QXmlStreamReader>

#include <cmath>
#include <limits>

namespace {

const QString ROOT = QStringLiteral("settings");
const QString PWM_INPUT = QStringLiteral("pwm_input");
const QString MOTION = QStringLiteral("motion");
const QString MOTOR = QStringLiteral("motor");
const QString MOTOR_NAME = QStringLiteral("name");
const QString MOTOR_PARAMS = QStringLiteral("params");
constexpr int MAX_SHOWN_TEXT = 40;     // of a refused value, in the message

struct FieldSpec
{
    SettingsValue::Field field;
    bool isDouble;
};

const QHash<QString, FieldSpec> &pwmInputFields()
{
    static const QHash<QString, FieldSpec> fields {
        {QStringLiteral("low_level"), {SettingsValue::LowLevel, false}},
        {QStringLiteral("center_level"), {SettingsValue::CenterLevel, false}},
        {QStringLiteral("high_level"), {SettingsValue::HighLevel, false}},
        {QStringLiteral("dead_zone"), {SettingsValue::DeadZone, false}},
        {QStringLiteral("pwm_type"), {SettingsValue::PwmType, false}},
        {QStringLiteral("control_type"), {SettingsValue::ControlType, false}},
        {QStringLiteral("speed_norm"), {SettingsValue::SpeedNorm, false}},
        {QStringLiteral("scale"), {SettingsValue::Scale, true}},
        {QStringLiteral("analog_control"), {SettingsValue::AnalogControl, false}},
        {QStringLiteral("digital_control"), {SettingsValue::DigitalControl, false}},
    };
    return fields;
}

const QHash<QString, FieldSpec> &motionFields()
{
    static const QHash<QString, FieldSpec> fields {
        {QStringLiteral("acceleration"), {SettingsValue::Acceleration, false}},
        {QStringLiteral("brake_intesity"), {SettingsValue::BrakeIntensity, false}},
        {QStringLiteral("brake_enable"), {SettingsValue::BrakeEnable, false}},
        {QStringLiteral("reverse"), {SettingsValue::Reverse, false}},
        {QStringLiteral("hw_address"), {SettingsValue::HwAddress, false}},
        {QStringLiteral("device_address"), {SettingsValue::DeviceAddress, false}},
        {QStringLiteral("ttl"), {SettingsValue::TimeToLeave, false}},
        {QStringLiteral("kp"), {SettingsValue::Kp, true}},
        {QStringLiteral("ki"), {SettingsValue::KiKff, true}},
        {QStringLiteral("kff"), {SettingsValue::KiKff, true}},
    };
    return fields;
}

// A value of the file, or nothing when its text is not a finite number of the field's
// kind (a double; for integer fields a whole number within int).
bool parseNumber(const QString &text, bool isDouble, double *value)
{
    bool ok = false;
    const QString trimmed = text.trimmed();
    if (isDouble) {
        const double parsed = trimmed.toDouble(&ok);
        if (!ok || !std::isfinite(parsed))
            return false;
        *value = parsed;
        return true;
    }
    const int parsed = trimmed.toInt(&ok);
    if (!ok)
        return false;
    *value = parsed;
    return true;
}

bool parseFloat(const QString &text, float *value)
{
    bool ok = false;
    const float parsed = text.trimmed().toFloat(&ok);
    if (!ok || !std::isfinite(parsed))
        return false;
    *value = parsed;
    return true;
}

// Unsigned field of the motor record: larger values are limited to what the field holds;
// text that is not a whole number from 0 up is refused.
template <typename T>
bool parseUnsigned(const QString &text, T *value, unsigned maximum = std::numeric_limits<T>::max())
{
    bool ok = false;
    const long long parsed = text.trimmed().toLongLong(&ok);
    if (!ok || parsed < 0)
        return false;
    *value = T(qMin<unsigned long long>(static_cast<unsigned long long>(parsed), maximum));
    return true;
}

QString leafText(QXmlStreamReader &xml)
{
    return xml.readElementText(QXmlStreamReader::SkipChildElements);
}

void readGroup(QXmlStreamReader &xml, const QHash<QString, FieldSpec> &fields, ImportedSettings &result)
{
    while (xml.readNextStartElement()) {
        const QString tag = xml.name().toString();
        const auto it = fields.constFind(tag);
        if (it == fields.constEnd()) {
            xml.skipCurrentElement();
            continue;
        }
        const QString text = leafText(xml);
        double value = 0;
        if (parseNumber(text, it->isDouble, &value))
            result.values.append({it->field, value, tag});
        else
            result.refused.append({tag, text});
    }
}

void readMotorParams(QXmlStreamReader &xml, MOTOR_TOTAL &motor, QVector<RefusedValue> &refused)
{
    while (xml.readNextStartElement()) {
        const QString tag = xml.name().toString();
        bool known = true;
        bool parsed = false;
        QString text;
        if (tag == QLatin1String("rs"))
            parsed = parseFloat(text = leafText(xml), &motor.Rs);
        else if (tag == QLatin1String("ls_d"))
            parsed = parseFloat(text = leafText(xml), &motor.Ls_d);
        else if (tag == QLatin1String("ls_q"))
            parsed = parseFloat(text = leafText(xml), &motor.Ls_q);
        else if (tag == QLatin1String("flux"))
            parsed = parseFloat(text = leafText(xml), &motor.Flux);
        else if (tag == QLatin1String("max_i"))
            parsed = parseUnsigned<uint16_t>(text = leafText(xml), &motor.maxMotorCurrent);
        else if (tag == QLatin1String("max_v"))
            parsed = parseUnsigned<uint16_t>(text = leafText(xml), &motor.voltage_scale);
        else if (tag == QLatin1String("max_f"))
            parsed = parseUnsigned<uint16_t>(text = leafText(xml), &motor.maxFrequency);
        else if (tag == QLatin1String("id_res"))
            parsed = parseUnsigned<uint16_t>(text = leafText(xml), &motor.resCurrent, MOTOR_TOTAL::CURRENT_MASK);
        else if (tag == QLatin1String("pole_pairs"))
            parsed = parseUnsigned<uint8_t>(text = leafText(xml), &motor.polePairs);
        else
            known = false;
        if (!known)
            xml.skipCurrentElement();
        else if (!parsed)
            refused.append({tag, text});    // the field stays 0
    }
}

void readMotor(QXmlStreamReader &xml, ImportedSettings &result)
{
    ImportedMotor motor;
    while (xml.readNextStartElement()) {
        if (xml.name() == MOTOR_NAME) {
            motor.name = leafText(xml);
        } else if (xml.name() == MOTOR_PARAMS) {
            motor.hasParams = true;
            readMotorParams(xml, motor.params, result.refused);
        } else {
            xml.skipCurrentElement();
        }
    }
    if (!motor.name.isEmpty()) {
        result.hasMotor = true;
        result.motor = motor;
    }
}

void readSettings(QXmlStreamReader &xml, ImportedSettings &result)
{
    while (xml.readNextStartElement()) {
        if (xml.name() == PWM_INPUT)
            readGroup(xml, pwmInputFields(), result);
        else if (xml.name() == MOTION)
            readGroup(xml, motionFields(), result);
        else if (xml.name() == MOTOR)
            readMotor(xml, result);
        else
            xml.skipCurrentElement();
    }
}

void appendLeaf(QDomDocument &doc, QDomElement &parent, const QString &tag, const QString &text)
{
    QDomElement element = doc.createElement(tag);
    element.appendChild(doc.createTextNode(text));
    parent.appendChild(element);
}

QString real(double value)
{
    return QString::number(value, 'g', 6);
}

} // namespace

QByteArray SettingsDocument::compose(const EscSettingsSnapshot &s)
{
    QDomDocument doc;
    doc.appendChild(doc.createProcessingInstruction(QStringLiteral("xml"),
                                                    QStringLiteral("version=\"1.0\" encoding=\"utf-8\"")));
    QDomElement root = doc.createElement(ROOT);
    doc.appendChild(root);

    QDomElement pwm = doc.createElement(PWM_INPUT);
    appendLeaf(doc, pwm, QStringLiteral("dead_zone"), QString::number(s.deadZone));
    appendLeaf(doc, pwm, QStringLiteral("pwm_type"), QString::number(s.pwmType));
    appendLeaf(doc, pwm, QStringLiteral("control_type"), QString::number(s.controlType));
    appendLeaf(doc, pwm, QStringLiteral("speed_norm"), QString::number(s.speedNorm));
    root.appendChild(pwm);

    QDomElement motion = doc.createElement(MOTION);
    appendLeaf(doc, motion, QStringLiteral("reverse"), QString::number(s.reverse ? 1 : 0));
    appendLeaf(doc, motion, QStringLiteral("device_address"), QString::number(s.deviceAddress));
    appendLeaf(doc, motion, QStringLiteral("hw_address"), QString::number(s.hwAddress ? 1 : 0));
    appendLeaf(doc, motion, QStringLiteral("ttl"), QString::number(s.timeToLeave));
    appendLeaf(doc, motion, QStringLiteral("kp"), real(s.kp));
    appendLeaf(doc, motion, QStringLiteral("kff"), real(s.kff));
    root.appendChild(motion);

    QDomElement motor = doc.createElement(MOTOR);
    appendLeaf(doc, motor, MOTOR_NAME, s.motorName);
    QDomElement params = doc.createElement(MOTOR_PARAMS);
    appendLeaf(doc, params, QStringLiteral("rs"), real(double(s.motor.Rs)));
    appendLeaf(doc, params, QStringLiteral("ls_q"), real(double(s.motor.Ls_q)));
    appendLeaf(doc, params, QStringLiteral("ls_d"), real(double(s.motor.Ls_d)));
    appendLeaf(doc, params, QStringLiteral("flux"), real(double(s.motor.Flux)));
    appendLeaf(doc, params, QStringLiteral("max_i"), QString::number(s.motor.maxMotorCurrent));
    appendLeaf(doc, params, QStringLiteral("max_v"), QString::number(s.motor.voltage_scale));
    appendLeaf(doc, params, QStringLiteral("max_f"), QString::number(s.motor.maxFrequency));
    appendLeaf(doc, params, QStringLiteral("id_res"), QString::number(s.motor.resCurrent));
    appendLeaf(doc, params, QStringLiteral("pole_pairs"), QString::number(s.motor.polePairs));
    motor.appendChild(params);
    root.appendChild(motor);

    return doc.toByteArray(1);
}

ImportedSettings SettingsDocument::parse(const QByteArray &text)
{
    ImportedSettings result;
    if (text.size() > MAX_FILE_SIZE)
        return result;

    QXmlStreamReader xml(text);
    bool foreignRoot = false;
    bool sawRoot = false;
    while (!xml.atEnd()) {
        const QXmlStreamReader::TokenType token = xml.readNext();
        if (token == QXmlStreamReader::DTD)
            return {}; // entity declarations: refused rather than expanded
        if (token != QXmlStreamReader::StartElement)
            continue;
        sawRoot = true;
        if (xml.name() == ROOT)
            readSettings(xml, result);
        else {
            foreignRoot = true;
            xml.skipCurrentElement();
        }
    }
    if (xml.hasError() || !sawRoot || foreignRoot)
        return {};
    result.status = ImportedSettings::Status::Ok;
    return result;
}

QString SettingsDocument::refusedValuesText(const QVector<RefusedValue> &refused)
{
    QStringList items;
    for (const RefusedValue &value : refused)
        items << QStringLiteral("%1 \"%2\"").arg(value.tag, value.text.trimmed().left(MAX_SHOWN_TEXT));
    return QCoreApplication::translate("SettingsDocument",
                                       "These values of the settings file are not numbers the program can use "
                                       "and were not applied: %1")
        .arg(items.join(QStringLiteral(", ")));
}
