#include "capture/linedecoder.h"

#include "device/settingsmodel.h"
#include "wire/motortotal.h"
#include "wire/records.h"
#include "wire/vyxprotocol.h"

#include <QDateTime>
#include <QStringList>

using LineCapture::Direction;
using LineCapture::Kind;
using LineCapture::Record;

namespace {

struct MessageName
{
    uint8_t id;
    const char *name;
};

const MessageName MESSAGE_NAMES[] = {
    {VyxMsg::GET_DEVICE_INFO, "GET_DEVICE_INFO"},
    {VyxMsg::GET_STATUS, "GET_STATUS"},
    {VyxMsg::GET_ERROR_LOG, "GET_ERROR_LOG"},
    {VyxMsg::CLEAR_ERROR_LOG, "CLEAR_ERROR_LOG"},
    {VyxMsg::GET_RUN_DATA, "GET_RUN_DATA"},
    {VyxMsg::SET_MOTOR_USER_PARAMS, "SET_MOTOR_USER_PARAMS"},
    {VyxMsg::GET_MOTOR_USER_PARAMS, "GET_MOTOR_USER_PARAMS"},
    {VyxMsg::IDENT_RUN, "IDENT_RUN"},
    {VyxMsg::IDENT_STOP, "IDENT_STOP"},
    {VyxMsg::START_RUN, "START_RUN"},
    {VyxMsg::IDENT_ERROR, "IDENT_ERROR"},
    {VyxMsg::GET_MOTOR_PARAMS, "GET_MOTOR_PARAMS"},
    {VyxMsg::SET_MOTOR_IDENT_PARAMS, "SET_MOTOR_IDENT_PARAMS"},
    {VyxMsg::GET_MOTION_PARAMS, "GET_MOTION_PARAMS"},
    {VyxMsg::WRITE_MOTION_PARAMS, "WRITE_MOTION_PARAMS"},
    {VyxMsg::GET_PWM_IN_PARAMS, "GET_PWM_IN_PARAMS"},
    {VyxMsg::WRITE_PWM_IN_PARAMS, "WRITE_PWM_IN_PARAMS"},
    {VyxMsg::GET_MOTOR_HOURS, "GET_MOTOR_HOURS"},
    {VyxMsg::GET_RESISTANCES, "GET_RESISTANCES"},
    {VyxMsg::TELEMETRY, "TELEMETRY"},
    {VyxMsg::FIRMWARE_UPDATE_ENTRY, "FIRMWARE_UPDATE_ENTRY"},
};

QString hex(uint32_t value, int digits = 2)
{
    return QStringLiteral("0x") + QString::number(value, 16).rightJustified(digits, QLatin1Char('0')).toUpper();
}

QString number(double value)
{
    return QString::number(value, 'g', 6);
}

QString answerCode(uint8_t code)
{
    if (code == ANSWER_OK)
        return QStringLiteral("answer OK");
    if (code == ANSWER_REFUSED)
        return QStringLiteral("answer REFUSED");
    return QStringLiteral("answer %1").arg(hex(code));
}

QString statusFields(const StatusBlock &status)
{
    QStringList fields {answerCode(status.answerCode), QStringLiteral("flags %1").arg(hex(status.flags))};
    if (!status.isValid())
        return fields.join(QLatin1Char(' ')) + QStringLiteral(" (status block cut short)");
    const Poll_Answer_s &v = status.values;
    if (v.hasIdState)
        fields << QStringLiteral("idState %1").arg(hex(v.idState));
    if (v.hasSavedMsg)
        fields << QStringLiteral("savedMsgId %1").arg(hex(v.savedMsgId));
    if (v.hasErrorPrediction)
        fields << QStringLiteral("errorPrediction %1").arg(v.errorPrediction);
    if (v.hasStall)
        fields << QStringLiteral("stallCode %1").arg(v.stallCode);
    if (v.hasError)
        fields << QStringLiteral("errorCode %1").arg(v.errorCode);
    return fields.join(QLatin1Char(' '));
}

QString telemetryFields(const ONLINE_QUANTS_S &s)
{
    return QStringLiteral("Torque %1 Nm, Speed %2 rpm, Is %3 A, Vbus %4 V, Vs %5 V, Power %6 W, Rs %7 Ohm, "
                          "Flux %8 V/Hz, Temp %9 C, PWm_in_us %10")
        .arg(number(s.Torque), number(s.Speed), number(s.Is), number(s.Vbus), number(s.Vs), number(s.Power),
             number(s.Rs), number(s.Flux))
        .arg(s.Temp)
        .arg(s.PWm_in_us);
}

// A settings record's fields by their settings-file names, in the file's units, converted
// by the settings model: --decode shows what the settings page and an export show.
QString settingsFields(const SET_PWM_IN_PARAMS &pwmIn, const SET_MOTION_PARAMS &motion, bool pwmInRecord)
{
    QStringList fields;
    for (SettingsValue::Field field : SettingsModel::fields()) {
        if (SettingsModel::isPwmInField(field) != pwmInRecord)
            continue;
        QString text = QStringLiteral("%1 %2").arg(SettingsModel::tag(field),
                                                    number(SettingsModel::fieldValue(field, pwmIn, motion)));
        if (field == SettingsValue::BrakeIntensity) // the position; the intensity for one of no position
            text += QStringLiteral(" (intensity %1)").arg(motion.brakeIntensity);
        fields << text;
    }
    return fields.join(QStringLiteral(", "));
}

QString pwmInFields(const SET_PWM_IN_PARAMS &p)
{
    return settingsFields(p, SET_MOTION_PARAMS(), true);
}

QString motionFields(const SET_MOTION_PARAMS &m)
{
    return settingsFields(SET_PWM_IN_PARAMS(), m, false);
}

QString motorIdentFields(const QByteArray &payload)
{
    MOTOR_TOTAL m;
    if (!m.unpackIdent(payload))
        return QStringLiteral("(motor parameters cut short)");
    return QStringLiteral("Rs %1 Ohm, Ls_d %2 H, Ls_q %3 H, Flux %4")
        .arg(number(m.Rs), number(m.Ls_d), number(m.Ls_q), number(m.Flux));
}

QString motorUserFields(const QByteArray &payload)
{
    MOTOR_TOTAL m;
    if (!m.unpackUser(payload))
        return QStringLiteral("(motor user parameters cut short)");
    return QStringLiteral("voltage_scale %1, maxFrequency %2, maxMotorCurrent %3, polePairs %4, validData %5, "
                          "fluxFrequency %6, resCurrent %7, indCurrent %8")
        .arg(m.voltage_scale)
        .arg(m.maxFrequency)
        .arg(m.maxMotorCurrent)
        .arg(m.polePairs)
        .arg(m.validData)
        .arg(m.fluxFrequency)
        .arg(m.resCurrent)
        .arg(m.indCurrent);
}

QString answerOnly(const QByteArray &payload)
{
    return payload.isEmpty() ? QStringLiteral("(no answer code)") : answerCode(uint8_t(payload.at(0)));
}

const uint8_t *dataOf(const QByteArray &bytes)
{
    return reinterpret_cast<const uint8_t *>(bytes.constData());
}

} // namespace

QString LineDecoder::messageName(uint8_t msgId)
{
    for (const MessageName &name : MESSAGE_NAMES) {
        if (name.id == msgId)
            return QString::fromLatin1(name.name);
    }
    return hex(msgId);
}

QString LineDecoder::describeFields(Direction direction, uint8_t msgId, const QByteArray &payload)
{
    const bool request = direction == Direction::ToController;
    const int length = payload.size();
    switch (msgId) {
    case VyxMsg::GET_DEVICE_INFO: {
        if (request)
            return QString();
        const DeviceIdentity id = DeviceIdentity::decode(payload);
        if (id.answerCode != ANSWER_OK)
            return answerOnly(payload);
        return QStringLiteral("%1 run %2 serial %3 firmware %4.%5.%6 hardware %7 address %8 (%9 layout)")
            .arg(answerCode(id.answerCode))
            .arg(id.runFlag)
            .arg(id.serialNumber)
            .arg(id.fw.fw_h)
            .arg(id.fw.fw_m)
            .arg(id.fw.fw_l)
            .arg(id.hwBuild)
            .arg(hex(id.address), id.longLayout ? QStringLiteral("long") : QStringLiteral("short"));
    }
    case VyxMsg::GET_STATUS:
        return request ? QString() : statusFields(StatusBlock::decode(payload));
    case VyxMsg::TELEMETRY: {
        if (request) {
            const DutyCommand duty = DutyCommand::decode(payload);
            return duty.enable ? QStringLiteral("control on, duty %1").arg(duty.duty) : QStringLiteral("control off");
        }
        const StatusBlock status = StatusBlock::decode(payload);
        if (!status.isValid() || status.answerCode != ANSWER_OK)
            return statusFields(status);
        const TelemetryRecord record =
            TelemetryRecord::unpack(dataOf(payload) + status.endIndex, length - status.endIndex);
        return statusFields(status) + QStringLiteral(", ") + telemetryFields(record.toQuantities());
    }
    case VyxMsg::GET_ERROR_LOG: {
        if (request)
            return QString();
        const ERROR_WARN_LOG log = ERROR_WARN_LOG::unpack(payload);
        return QStringLiteral("allErrors %1 allWarnings %2 prevErrors %3 prevWarnings %4 lastErrors %5 lastWarnings %6")
            .arg(hex(log.allErrors, 4), hex(log.allWarnings, 4), hex(log.prevErrors, 4), hex(log.prevWarnings, 4),
                 hex(log.lastErrors, 4), hex(log.lastWarnings, 4));
    }
    case VyxMsg::GET_RUN_DATA: {
        if (request)
            return QString();
        const RUN_DATA run = RUN_DATA::unpack(payload);
        return QStringLiteral("maxCurrent %1 A, avgCurrent %2 A, maxTempEsc %3 C, maxTempMotor %4 C")
            .arg(number(run.maxCurrent / 256.0), number(run.avgCurrent / 10.0))
            .arg(int(run.maxTempEsc) - 50)
            .arg(int(run.maxTempMotor) - 50);
    }
    case VyxMsg::GET_RESISTANCES: {
        if (request)
            return QString();
        const RESISTANCE r = RESISTANCE::unpack(payload);
        return QStringLiteral("phaseA %1 Ohm, phaseB %2 Ohm, phaseC %3 Ohm, global %4 Ohm")
            .arg(number(r.phaseA), number(r.phaseB), number(r.phaseC), number(r.global));
    }
    case VyxMsg::GET_MOTOR_HOURS:
        return request ? QString() : QStringLiteral("motor hours %1").arg(unpackMotorHours(dataOf(payload), length));
    case VyxMsg::GET_PWM_IN_PARAMS:
        return request ? QString() : pwmInFields(SET_PWM_IN_PARAMS::unpack(payload));
    case VyxMsg::WRITE_PWM_IN_PARAMS:
        return request ? pwmInFields(SET_PWM_IN_PARAMS::unpack(payload)) : answerOnly(payload);
    case VyxMsg::GET_MOTION_PARAMS:
        return request ? QString() : motionFields(SET_MOTION_PARAMS::unpack(payload));
    case VyxMsg::WRITE_MOTION_PARAMS:
        return request ? motionFields(SET_MOTION_PARAMS::unpack(payload)) : answerOnly(payload);
    case VyxMsg::GET_MOTOR_PARAMS:
        return request ? QString() : motorIdentFields(payload);
    case VyxMsg::SET_MOTOR_IDENT_PARAMS:
        return request ? motorIdentFields(payload) : answerOnly(payload);
    case VyxMsg::GET_MOTOR_USER_PARAMS:
        return request ? QString() : motorUserFields(payload);
    case VyxMsg::SET_MOTOR_USER_PARAMS:
        return request ? motorUserFields(payload) : answerOnly(payload);
    case VyxMsg::IDENT_ERROR:
        return request || payload.isEmpty() ? QString()
                                            : QStringLiteral("identification error %1").arg(uint8_t(payload.at(0)));
    default:
        if (request)
            return payload.isEmpty() ? QString() : QStringLiteral("payload %1").arg(QString::fromLatin1(payload.toHex(' ')));
        return answerOnly(payload);
    }
}

QString LineDecoder::describe(const Record &record)
{
    // Whole seconds rounded down, so that a time before 1970 keeps positive microseconds.
    const qint64 seconds = record.timeUs >= 0 ? record.timeUs / 1000000 : -((-record.timeUs + 999999) / 1000000);
    const QString time = QDateTime::fromSecsSinceEpoch(seconds, Qt::UTC).toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"))
        + QStringLiteral(".%1").arg(record.timeUs - seconds * 1000000, 6, 10, QLatin1Char('0'));
    // The line is named only where a capture holds several (a production run).
    const QString timeAndLine = record.line ? QStringLiteral("%1 line %2").arg(time).arg(record.line) : time;
    const QString head = QStringLiteral("%1 %2 %3").arg(
        timeAndLine, QString::fromLatin1(LineCapture::directionName(record.direction)).leftJustified(3),
        QString::fromLatin1(LineCapture::kindName(record.kind)));
    const QString bytesText = QStringLiteral("%1 %2 bytes: %3").arg(head).arg(record.bytes.size()).arg(
        QString::fromLatin1(record.bytes.toHex(' ')));
    if (record.kind != Kind::Frame && record.kind != Kind::Echo)
        return bytesText;
    VYX_Protocol codec;
    VYX_Protocol::VyxRxConfig config;
    VYX_Protocol::init(config, 0, 255);
    VYX_Protocol::VYX_MSG msg;
    bool complete = false;
    for (char c : record.bytes)
        complete = codec.decodeByte(uint8_t(c), msg, config);
    if (record.kind == Kind::Echo) // the program's own request coming back
        return complete ? QStringLiteral("%1 %2 (%3)").arg(head, messageName(msg.msgId), hex(msg.msgId)) : bytesText;
    if (!complete)
        return QStringLiteral("%1 (no whole frame): %2").arg(head, QString::fromLatin1(record.bytes.toHex(' ')));
    QString line = QStringLiteral("%1 %2 (%3) addr %4").arg(head, messageName(msg.msgId), hex(msg.msgId), hex(msg.address));
    if (msg.status & VYX_Protocol::ChecksumError)
        line += QStringLiteral(" BAD CHECKSUM %1").arg(hex(msg.checksum));
    if (msg.status & VYX_Protocol::PayloadOverflow)
        line += QStringLiteral(" payload longer than %1 bytes").arg(VYX_Protocol::MAX_MSG_PAYLOAD);
    const QString fields = describeFields(record.direction, msg.msgId, msg.payloadBytes());
    return fields.isEmpty() ? line : line + QLatin1Char(' ') + fields;
}
