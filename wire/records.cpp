#include "wire/records.h"

#include "wire/vyxprotocol.h"

#include <QObject> // Qt::CheckState metatype needs the Qt meta-object
#include <QtGlobal>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

namespace {

// Little-endian value of `width` bytes at `offset`; bytes past `length` read as zero.
uint32_t readLe(const uint8_t *data, int length, int offset, int width)
{
    uint32_t value = 0;
    for (int i = 0; i < width; ++i) {
        const int at = offset + i;
        if (data && at >= 0 && at < length)
            value |= uint32_t(data[at]) << (8 * i);
    }
    return value;
}

uint8_t byteAt(const uint8_t *data, int length, int offset)
{
    return uint8_t(readLe(data, length, offset, 1));
}

void appendLe(QByteArray &out, uint32_t value, int width)
{
    for (int i = 0; i < width; ++i)
        out.append(char((value >> (8 * i)) & 0xFF));
}

constexpr uint32_t mask(int bits)
{
    return bits >= 32 ? 0xFFFFFFFFu : (1u << bits) - 1u;
}

uint32_t field(uint32_t word, int firstBit, int bits)
{
    return (word >> firstBit) & mask(bits);
}

uint32_t put(uint32_t value, int firstBit, int bits)
{
    return (value & mask(bits)) << firstBit;
}

float floatFromBits(uint32_t bits)
{
    float value;
    static_assert(sizeof(value) == sizeof(bits), "IEEE 754 single expected");
    std::memcpy(&value, &bits, sizeof(value));
    return value;
}

uint32_t bitsFromFloat(float value)
{
    uint32_t bits;
    std::memcpy(&bits, &value, sizeof(bits));
    return bits;
}

const uint8_t *bytesOf(const QByteArray &bytes)
{
    return reinterpret_cast<const uint8_t *>(bytes.constData());
}

// Rounds to the nearest integer and saturates to [low, high]; NaN gives low.
long clampRound(double value, long low, long high)
{
    if (!(value >= double(low)))
        return low;
    if (value >= double(high))
        return high;
    return std::lround(value);
}

} // namespace

// ---------------------------------------------------------------------------------

DeviceIdentity DeviceIdentity::decode(const uint8_t *data, int length)
{
    if (!data)
        length = 0;
    DeviceIdentity id;
    id.answerCode = byteAt(data, length, 0);
    id.runFlag = length >= 2 ? data[1] : RUN_FLAG_MISSING;
    if (length >= LONG_LAYOUT_SIZE) {
        id.longLayout = true;
        id.fw = { data[2], data[3], data[4] };
        id.serialNumber = readLe(data, length, 5, 4);
        id.hwBuild = data[9];
        id.hasHwBuild = true;
        id.address = data[13];
        id.hasAddress = true;
        return id;
    }
    id.fw = { byteAt(data, length, 2), 0, byteAt(data, length, 3) };
    if (length >= 8)
        id.serialNumber = readLe(data, length, 4, 4);
    if (length >= 12) {
        id.hwBuild = data[8];
        id.hasHwBuild = true;
    }
    if (length == SHORT_LAYOUT_MAX) {
        id.address = data[12];
        id.hasAddress = true;
    }
    return id;
}

DeviceIdentity DeviceIdentity::decode(const QByteArray &payload)
{
    return decode(bytesOf(payload), payload.size());
}

QByteArray DeviceIdentity::encodeLong() const
{
    QByteArray out;
    out.append(char(answerCode));
    out.append(char(runFlag));
    out.append(char(fw.fw_h));
    out.append(char(fw.fw_m));
    out.append(char(fw.fw_l));
    appendLe(out, serialNumber, 4);
    out.append(char(hwBuild & 0xFF));
    out.append(QByteArray(3, '\0')); // bytes 10..12 carry nothing the program reads
    out.append(char(address));
    return out;
}

QByteArray DeviceIdentity::encodeShort(int length) const
{
    QByteArray out;
    out.append(char(answerCode));
    out.append(char(runFlag));
    out.append(char(fw.fw_h));
    out.append(char(fw.fw_l));
    appendLe(out, serialNumber, 4);
    out.append(char(hwBuild & 0xFF));
    out.append(QByteArray(3, '\0'));
    out.append(char(address));
    return out.left(std::clamp(length, 0, int(SHORT_LAYOUT_MAX)));
}

// ---------------------------------------------------------------------------------

StatusBlock StatusBlock::decode(const uint8_t *data, int length)
{
    if (!data)
        length = 0;
    StatusBlock block;
    block.answerCode = byteAt(data, length, 0);
    if (length < 2)
        return block;
    block.flags = data[1];

    struct Pair { bool *present; uint8_t *value; };
    Poll_Answer_s &v = block.values;
    const Pair pairs[] = {
        { &v.hasIdState, &v.idState },
        { &v.hasSavedMsg, &v.savedMsgId },
        { &v.hasErrorPrediction, &v.errorPrediction },
        { &v.hasStall, &v.stallCode },
        { &v.hasError, &v.errorCode },
    };
    int index = 2;
    for (int bit = 0; bit < 5; ++bit) {
        if (!(block.flags & (1u << bit)))
            continue;
        if (index < length) {
            *pairs[bit].present = true;
            *pairs[bit].value = data[index];
        }
        ++index;
    }
    if (length >= index)
        block.endIndex = index;
    return block;
}

StatusBlock StatusBlock::decode(const QByteArray &payload)
{
    return decode(bytesOf(payload), payload.size());
}

QByteArray StatusBlock::encode(uint8_t answerCode, const Poll_Answer_s &values)
{
    const std::pair<bool, uint8_t> pairs[] = {
        { values.hasIdState, values.idState },
        { values.hasSavedMsg, values.savedMsgId },
        { values.hasErrorPrediction, values.errorPrediction },
        { values.hasStall, values.stallCode },
        { values.hasError, values.errorCode },
    };
    QByteArray out;
    out.append(char(answerCode));
    uint8_t flags = 0;
    QByteArray valueBytes;
    for (int bit = 0; bit < 5; ++bit) {
        if (pairs[bit].first) {
            flags |= uint8_t(1u << bit);
            valueBytes.append(char(pairs[bit].second));
        }
    }
    out.append(char(flags));
    out.append(valueBytes);
    return out;
}

// ---------------------------------------------------------------------------------

int16_t DutyCommand::dutyFromPercent(int percent)
{
    // The product is formed in double so that 100 % gives 16363 (the float product
    // would round up to 16364 before the truncation).
    const double value = double(percent) * double(DUTY_SCALE);
    const double limit = std::numeric_limits<int16_t>::max();
    return int16_t(std::clamp(value, -limit, limit));
}

QByteArray DutyCommand::encode() const
{
    QByteArray out;
    out.append(char(enable ? 1 : 0));
    if (enable)
        appendLe(out, uint16_t(duty), 2);
    return out;
}

DutyCommand DutyCommand::decode(const uint8_t *data, int length)
{
    if (!data)
        length = 0;
    DutyCommand command;
    command.enable = byteAt(data, length, 0) != 0;
    if (command.enable)
        command.duty = int16_t(uint16_t(readLe(data, length, 1, 2)));
    return command;
}

DutyCommand DutyCommand::decode(const QByteArray &payload)
{
    return decode(bytesOf(payload), payload.size());
}

// ---------------------------------------------------------------------------------

float fixedToFloat(uint32_t raw, int intBits, int fracBits, int decimals)
{
    const int bits = intBits + fracBits;
    if (bits <= 0 || bits > 32 || fracBits < 0 || intBits < 0)
        return 0.0f;
    int64_t value = raw & mask(bits);
    if (value & (int64_t(1) << (bits - 1)))
        value -= int64_t(1) << bits;
    const float x = float(value) / float(int64_t(1) << fracBits);
    float scale = 1.0f;
    for (int i = 0; i < std::clamp(decimals, 0, 9); ++i)
        scale *= 10.0f;
    return std::round(x * scale) / scale; // std::round: half away from zero
}

uint32_t floatToFixed(double value, int intBits, int fracBits)
{
    const int bits = intBits + fracBits;
    if (bits <= 1 || bits > 31 || fracBits < 0 || intBits < 0)
        return 0;
    const long high = (1L << (bits - 1)) - 1;
    const long raw = clampRound(value * double(1L << fracBits), -high - 1, high);
    return uint32_t(raw) & mask(bits);
}

QByteArray TelemetryRecord::pack() const
{
    const uint32_t w0 = put(vbusRaw, 0, 10) | put(isRaw, 10, 12) | put(pwmInUs, 22, 10);
    const uint32_t w1 = put(uint32_t(pwmInUs) >> 10, 0, 2) | put(power, 2, 13) | put(speedRaw, 15, 17);
    const uint32_t w2 = put(tempRaw, 0, 7) | put(vsRaw, 7, 11) | put(torqueRaw, 18, 14);
    QByteArray out;
    appendLe(out, w0, 4);
    appendLe(out, w1, 4);
    appendLe(out, w2, 4);
    appendLe(out, rsRaw, 2);
    appendLe(out, fluxRaw, 2);
    return out;
}

TelemetryRecord TelemetryRecord::unpack(const uint8_t *data, int length)
{
    const uint32_t w0 = readLe(data, length, 0, 4);
    const uint32_t w1 = readLe(data, length, 4, 4);
    const uint32_t w2 = readLe(data, length, 8, 4);
    TelemetryRecord r;
    r.vbusRaw = uint16_t(field(w0, 0, 10));
    r.isRaw = uint16_t(field(w0, 10, 12));
    r.pwmInUs = uint16_t(field(w0, 22, 10) | (field(w1, 0, 2) << 10));
    r.power = uint16_t(field(w1, 2, 13));
    r.speedRaw = field(w1, 15, 17);
    r.tempRaw = uint8_t(field(w2, 0, 7));
    r.vsRaw = uint16_t(field(w2, 7, 11));
    r.torqueRaw = uint16_t(field(w2, 18, 14));
    r.rsRaw = uint16_t(readLe(data, length, 12, 2));
    r.fluxRaw = uint16_t(readLe(data, length, 14, 2));
    return r;
}

TelemetryRecord TelemetryRecord::unpack(const QByteArray &bytes)
{
    return unpack(bytesOf(bytes), bytes.size());
}

void TelemetryRecord::decodeInto(ONLINE_QUANTS_S &sample) const
{
    sample.Torque = fixedToFloat(torqueRaw, 4, 10, 3);
    sample.Speed = fixedToFloat(speedRaw, 7, 10, 3) * 1000.0f;
    sample.Is = fixedToFloat(isRaw, 9, 3, 1);
    sample.Vbus = fixedToFloat(vbusRaw, 8, 3, 1);
    sample.Vs = fixedToFloat(vsRaw, 8, 3, 1);
    sample.Power = float(power);
    sample.Rs = float(rsRaw) / 32768.0f;
    sample.Flux = float(fluxRaw) / 32768.0f;
    sample.Temp = int16_t(int(tempRaw) - 31);
    sample.PWm_in_us = pwmInUs;
}

ONLINE_QUANTS_S TelemetryRecord::toQuantities() const
{
    ONLINE_QUANTS_S sample;
    decodeInto(sample);
    return sample;
}

TelemetryRecord TelemetryRecord::fromQuantities(const ONLINE_QUANTS_S &s)
{
    TelemetryRecord r;
    r.torqueRaw = uint16_t(floatToFixed(s.Torque, 4, 10));
    r.speedRaw = floatToFixed(double(s.Speed) / 1000.0, 7, 10);
    r.isRaw = uint16_t(floatToFixed(s.Is, 9, 3));
    r.vbusRaw = uint16_t(clampRound(double(s.Vbus) * 8.0, 0, 1023)); // 10 bits, never negative
    r.vsRaw = uint16_t(floatToFixed(s.Vs, 8, 3));
    r.power = uint16_t(clampRound(s.Power, 0, 8191));
    r.rsRaw = uint16_t(clampRound(double(s.Rs) * 32768.0, 0, 65535));
    r.fluxRaw = uint16_t(clampRound(double(s.Flux) * 32768.0, 0, 65535));
    r.tempRaw = uint8_t(std::clamp(int(s.Temp) + 31, 0, 127));
    r.pwmInUs = uint16_t(std::min<uint32_t>(s.PWm_in_us, 4095));
    return r;
}

// ---------------------------------------------------------------------------------

QByteArray SET_PWM_IN_PARAMS::pack() const
{
    QByteArray out;
    out.append(char(lowLevel));
    out.append(char(centerLevel));
    out.append(char(highLevel));
    out.append(char(put(deadZone, 0, 5) | put(byte3Rest, 5, 3)));
    const uint32_t word = put(pwmType, 0, 1) | put(controlType, 1, 1) | put(digitalControl, 2, 1)
        | put(analogControl, 3, 1) | put(speedNorm, 4, 12) | put(scale, 16, 7) | put(word1Rest, 23, 9);
    appendLe(out, word, 4);
    return out;
}

SET_PWM_IN_PARAMS SET_PWM_IN_PARAMS::unpack(const uint8_t *data, int length)
{
    SET_PWM_IN_PARAMS p;
    p.lowLevel = byteAt(data, length, 0);
    p.centerLevel = byteAt(data, length, 1);
    p.highLevel = byteAt(data, length, 2);
    const uint8_t byte3 = byteAt(data, length, 3);
    p.deadZone = uint8_t(field(byte3, 0, 5));
    p.byte3Rest = uint8_t(field(byte3, 5, 3));
    const uint32_t word = readLe(data, length, 4, 4);
    p.pwmType = field(word, 0, 1);
    p.controlType = field(word, 1, 1);
    p.digitalControl = field(word, 2, 1);
    p.analogControl = field(word, 3, 1);
    p.speedNorm = uint16_t(field(word, 4, 12));
    p.scale = uint8_t(field(word, 16, 7));
    p.word1Rest = uint16_t(field(word, 23, 9));
    return p;
}

SET_PWM_IN_PARAMS SET_PWM_IN_PARAMS::unpack(const QByteArray &bytes)
{
    return unpack(bytesOf(bytes), bytes.size());
}

bool SET_PWM_IN_PARAMS::isPlausible() const
{
    const auto within = [](int tenths, int low, int high) { return tenths * 10 >= low && tenths * 10 <= high; };
    return within(lowLevel, 800, 1200) && within(centerLevel, 1200, 1800) && within(highLevel, 1800, 2200)
        && within(deadZone, 50, 200) && !pwmType;
}

uint32_t SET_MOTION_PARAMS::word0() const
{
    return put(acceleration, 0, 8) | put(brakeIntensity, 8, 7) | put(brakeEnable, 15, 1) | put(reverseDir, 16, 1)
        | put(deviceAddress, 17, 3) | put(hwAddress, 20, 1) | put(timeToLeave, 21, 6) | put(word0Rest, 27, 5);
}

QByteArray SET_MOTION_PARAMS::pack() const
{
    QByteArray out;
    appendLe(out, word0(), 4);
    appendLe(out, uint16_t(Kp), 2);
    appendLe(out, uint16_t(Ki), 2);
    return out;
}

SET_MOTION_PARAMS SET_MOTION_PARAMS::unpack(const uint8_t *data, int length)
{
    const uint32_t word = readLe(data, length, 0, 4);
    SET_MOTION_PARAMS m;
    m.acceleration = uint8_t(field(word, 0, 8));
    m.brakeIntensity = uint8_t(field(word, 8, 7));
    m.brakeEnable = field(word, 15, 1);
    m.reverseDir = field(word, 16, 1);
    m.deviceAddress = uint8_t(field(word, 17, 3));
    m.hwAddress = field(word, 20, 1);
    m.timeToLeave = uint8_t(field(word, 21, 6));
    m.word0Rest = uint8_t(field(word, 27, 5));
    m.Kp = int16_t(uint16_t(readLe(data, length, 4, 2)));
    m.Ki = int16_t(uint16_t(readLe(data, length, 6, 2)));
    return m;
}

SET_MOTION_PARAMS SET_MOTION_PARAMS::unpack(const QByteArray &bytes)
{
    return unpack(bytesOf(bytes), bytes.size());
}

bool SET_MOTION_PARAMS::isPlausible() const
{
    const bool accelerationOk = acceleration >= 10 && acceleration <= 100 && acceleration % 5 == 0;
    const bool brakeOk = brakeIntensity == 50 || brakeIntensity == 70 || brakeIntensity == 90;
    return accelerationOk && brakeOk && word0Rest == 0;
}

// ---------------------------------------------------------------------------------

QByteArray ERROR_WARN_LOG::pack() const
{
    QByteArray out;
    for (uint32_t word : { allErrors, allWarnings, prevErrors, prevWarnings, lastErrors, lastWarnings })
        appendLe(out, word, 4);
    return out;
}

ERROR_WARN_LOG ERROR_WARN_LOG::unpack(const uint8_t *data, int length)
{
    ERROR_WARN_LOG log;
    uint32_t *words[] = { &log.allErrors, &log.allWarnings, &log.prevErrors,
                          &log.prevWarnings, &log.lastErrors, &log.lastWarnings };
    for (int i = 0; i < 6; ++i)
        *words[i] = readLe(data, length, 4 * i, 4);
    return log;
}

ERROR_WARN_LOG ERROR_WARN_LOG::unpack(const QByteArray &bytes)
{
    return unpack(bytesOf(bytes), bytes.size());
}

QByteArray RUN_DATA::pack() const
{
    QByteArray out;
    appendLe(out, put(maxCurrent, 0, 12) | put(avgCurrent, 12, 12) | put(maxTempEsc, 24, 8), 4);
    out.append(char(maxTempMotor));
    for (uint8_t b : rest)
        out.append(char(b));
    return out;
}

RUN_DATA RUN_DATA::unpack(const uint8_t *data, int length)
{
    const uint32_t word = readLe(data, length, 0, 4);
    RUN_DATA run;
    run.maxCurrent = uint16_t(field(word, 0, 12));
    run.avgCurrent = uint16_t(field(word, 12, 12));
    run.maxTempEsc = uint8_t(field(word, 24, 8));
    run.maxTempMotor = byteAt(data, length, 4);
    for (int i = 0; i < 3; ++i)
        run.rest[size_t(i)] = byteAt(data, length, 5 + i);
    return run;
}

RUN_DATA RUN_DATA::unpack(const QByteArray &bytes)
{
    return unpack(bytesOf(bytes), bytes.size());
}

QByteArray RESISTANCE::pack() const
{
    QByteArray out;
    for (float value : { phaseA, phaseB, phaseC, global })
        appendLe(out, bitsFromFloat(value), 4);
    return out;
}

RESISTANCE RESISTANCE::unpack(const uint8_t *data, int length)
{
    RESISTANCE r;
    r.phaseA = floatFromBits(readLe(data, length, 0, 4));
    r.phaseB = floatFromBits(readLe(data, length, 4, 4));
    r.phaseC = floatFromBits(readLe(data, length, 8, 4));
    r.global = floatFromBits(readLe(data, length, 12, 4));
    return r;
}

RESISTANCE RESISTANCE::unpack(const QByteArray &bytes)
{
    return unpack(bytesOf(bytes), bytes.size());
}

QByteArray packMotorHours(uint32_t hours)
{
    QByteArray out;
    appendLe(out, hours, 4);
    return out;
}

uint32_t unpackMotorHours(const uint8_t *data, int length)
{
    return readLe(data, length, 0, 4);
}

// ---------------------------------------------------------------------------------

const std::array<const char *, 16> ERROR_NAMES = {
    QT_TRANSLATE_NOOP("DeviceRecords", "Hw"),
    QT_TRANSLATE_NOOP("DeviceRecords", "Eeprom"),
    QT_TRANSLATE_NOOP("DeviceRecords", "Undervoltage"),
    QT_TRANSLATE_NOOP("DeviceRecords", "Overvoltage"),
    QT_TRANSLATE_NOOP("DeviceRecords", "Time"),
    QT_TRANSLATE_NOOP("DeviceRecords", "Params"),
    QT_TRANSLATE_NOOP("DeviceRecords", "Wrong Rs"),
    QT_TRANSLATE_NOOP("DeviceRecords", "Watchdog"),
    QT_TRANSLATE_NOOP("DeviceRecords", "Valid data"),
    QT_TRANSLATE_NOOP("DeviceRecords", "Overtemp ESC"),
    QT_TRANSLATE_NOOP("DeviceRecords", "Phase A"),
    QT_TRANSLATE_NOOP("DeviceRecords", "Phase B"),
    QT_TRANSLATE_NOOP("DeviceRecords", "Phase C"),
    QT_TRANSLATE_NOOP("DeviceRecords", "DRV"),
    QT_TRANSLATE_NOOP("DeviceRecords", "Signal diff"),
    QT_TRANSLATE_NOOP("DeviceRecords", "DRV setup"),
};

const std::array<const char *, 3> WARNING_NAMES = {
    QT_TRANSLATE_NOOP("DeviceRecords", "Overtemp ESC"),
    QT_TRANSLATE_NOOP("DeviceRecords", "Demagnetization"),
    QT_TRANSLATE_NOOP("DeviceRecords", "Motor stop"),
};

const std::array<const char *, 11> QUANTITY_NAMES = {
    QT_TRANSLATE_NOOP("DeviceRecords", "None"),
    QT_TRANSLATE_NOOP("DeviceRecords", "Torque"),
    QT_TRANSLATE_NOOP("DeviceRecords", "Speed"),
    QT_TRANSLATE_NOOP("DeviceRecords", "I"),
    QT_TRANSLATE_NOOP("DeviceRecords", "V-Dc"),
    QT_TRANSLATE_NOOP("DeviceRecords", "V"),
    QT_TRANSLATE_NOOP("DeviceRecords", "Power"),
    QT_TRANSLATE_NOOP("DeviceRecords", "Pwm"),
    QT_TRANSLATE_NOOP("DeviceRecords", "Rs"),
    QT_TRANSLATE_NOOP("DeviceRecords", "Flux"),
    QT_TRANSLATE_NOOP("DeviceRecords", "Temp"),
};

const std::array<const char *, 11> QUANTITY_UNITS = {
    "", "Nm", "rpm", "A", "V", "V", "W", "us", "Ohm", "V/Hz", "\u00B0C",
};

double quantityValue(const ONLINE_QUANTS_S &s, int quantityIndex)
{
    switch (quantityIndex) {
    case 1: return s.Torque;
    case 2: return s.Speed;
    case 3: return s.Is;
    case 4: return s.Vbus;
    case 5: return s.Vs;
    case 6: return s.Power;
    case 7: return s.PWm_in_us;
    case 8: return s.Rs;
    case 9: return s.Flux;
    case 10: return s.Temp;
    default: return 0.0;
    }
}

void registerDeviceRecordMetaTypes()
{
    // Once, whichever thread comes first (several coordinators start at once).
    static const bool registered = [] {
        qRegisterMetaType<Device_State_e>("Device_State_e");
        qRegisterMetaType<Device_FW_s>("Device_FW_s");
        qRegisterMetaType<Poll_Answer_s>("Poll_Answer_s");
        qRegisterMetaType<ONLINE_QUANTS_S>("ONLINE_QUANTS_S");
        qRegisterMetaType<SET_PWM_IN_PARAMS>("SET_PWM_IN_PARAMS");
        qRegisterMetaType<SET_MOTION_PARAMS>("SET_MOTION_PARAMS");
        qRegisterMetaType<ERROR_WARN_LOG>("ERROR_WARN_LOG");
        qRegisterMetaType<RUN_DATA>("RUN_DATA");
        qRegisterMetaType<RESISTANCE>("RESISTANCE");
        qRegisterMetaType<SET_PWM_IN_PARAMS *>("SET_PWM_IN_PARAMS*");
        qRegisterMetaType<SET_MOTION_PARAMS *>("SET_MOTION_PARAMS*");
        qRegisterMetaType<QVector<ONLINE_QUANTS_S> *>("QVector<ONLINE_QUANTS_S>*");
        // Fixed-width integers and the check state travel in queued device signals under
        // these names.
        qRegisterMetaType<uint8_t>("uint8_t");
        qRegisterMetaType<int16_t>("int16_t");
        qRegisterMetaType<uint16_t>("uint16_t");
        qRegisterMetaType<uint32_t>("uint32_t");
        qRegisterMetaType<Qt::CheckState>("Qt::CheckState");
        // Answers reach the device objects in both threads.
        qRegisterMetaType<VYX_Protocol::VYX_MSG>("VYX_Protocol::VYX_MSG");
        return true;
    }();
    Q_UNUSED(registered)
}
