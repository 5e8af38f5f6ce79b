#include "ident/motoruserlimits.h"

#include <cmath>
#include <limits>

namespace {

bool isPositive(float value)
{
    return std::isfinite(value) && value > 0.0f;
}

// Truncation toward zero into the width of a wire field, keeping the low bits as the
// controller's integer conversion does. The clamp keeps the float-to-integer conversion
// defined for any input (a huge Kv must not be undefined behaviour).
uint32_t truncatedLowBits(double value, uint32_t mask)
{
    if (!(value > 0.0))
        return 0;
    const double limit = double(std::numeric_limits<uint32_t>::max());
    const uint32_t whole = value >= limit ? std::numeric_limits<uint32_t>::max() : uint32_t(value);
    return whole & mask;
}

uint32_t roundedUpLowBits(double value, uint32_t mask)
{
    return truncatedLowBits(std::ceil(value), mask);
}

QString twoDecimals(double value)
{
    return QString::number(value, 'f', 2);
}

} // namespace

bool MotorUserInput::isComplete() const
{
    return isPositive(maxCurrent) && isPositive(kv) && lipoCells > 0 && polePairs > 0
        && (!noLoadKnown || isPositive(noLoadCurrent));
}

MotorUserLimits MotorUserLimits::compute(const MotorUserInput &input)
{
    MotorUserLimits out;
    out.maxCurrent = input.maxCurrent;
    out.polePairs = input.polePairs;

    out.identCurrent = input.maxCurrent / ID_DIVISOR;
    if (input.noLoadKnown && out.identCurrent > input.noLoadCurrent)
        out.identCurrent = input.noLoadCurrent;

    out.voltage = double(input.lipoCells) * double(CELL_VOLTAGE);
    out.maxFrequency = float(double(input.kv) * out.voltage / 60.0 * double(input.polePairs));
    out.fluxFrequency = double(out.maxFrequency) / double(FLUX_DIVISOR);

    MOTOR_TOTAL &r = out.record;
    r.voltage_scale = uint16_t(truncatedLowBits(out.voltage * 10.0, 0xFFFF));
    r.maxFrequency = uint16_t(truncatedLowBits(double(out.maxFrequency), 0xFFFF));
    r.maxMotorCurrent = uint16_t(truncatedLowBits(double(input.maxCurrent) * 10.0, 0xFFFF));
    r.polePairs = uint8_t(input.polePairs & 0xFF);
    r.validData = VALID_COMPUTED;
    r.fluxFrequency = uint8_t(truncatedLowBits(out.fluxFrequency, 0xFF));
    r.resCurrent = uint16_t(roundedUpLowBits(double(out.identCurrent) * 100.0, MOTOR_TOTAL::CURRENT_MASK));
    r.indCurrent = r.resCurrent;
    return out;
}

MotorUserInput MotorUserLimits::heldInput(const MOTOR_TOTAL &record)
{
    MotorUserInput input;
    input.maxCurrent = record.maxMotorCurrent / 10.0f;
    input.polePairs = record.polePairs;
    const double voltage = record.voltage_scale / 10.0;
    input.lipoCells = int(std::lround(voltage / double(CELL_VOLTAGE)));
    const double cellVoltage = double(input.lipoCells) * double(CELL_VOLTAGE);
    if (input.lipoCells <= 0 || input.polePairs <= 0 || record.maxFrequency == 0)
        return input;
    // The maximum frequency was truncated: of the whole Kv values that give it, the largest
    // is the one entered (the truncation only ever lowered it).
    const double perKv = cellVoltage / 60.0 * input.polePairs;
    const double lowest = std::floor(double(record.maxFrequency) / perKv);
    MotorUserInput candidate = input;
    for (double kv = lowest + std::ceil(1.0 / perKv) + 1.0; kv >= lowest && kv > 0.0; kv -= 1.0) {
        candidate.kv = float(kv);
        if (compute(candidate).record.maxFrequency == record.maxFrequency) {
            input.kv = candidate.kv;
            break;
        }
    }
    return input;
}

QStringList MotorUserLimits::logLines() const
{
    return {
        QStringLiteral("Curr scale:") + QStringLiteral("0"),
        QStringLiteral("Volt scale:") + twoDecimals(voltage),
        QStringLiteral("Flux freq:") + twoDecimals(fluxFrequency),
        QStringLiteral("Id Curr:") + twoDecimals(double(identCurrent)),
        QStringLiteral("Max curr:") + twoDecimals(double(maxCurrent)),
        QStringLiteral("Pole pairs:") + QString::number(polePairs),
    };
}
