#include "sim/motormodel.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr double PI = 3.14159265358979323846;
constexpr double RPM_TO_RAD_S = 2.0 * PI / 60.0;
constexpr double LOADED_SPEED_FRACTION = 0.85; // a propeller keeps the speed below no-load
constexpr double SPEED_TIME_CONSTANT_S = 0.25;
constexpr double FULL_LOAD_CURRENT_FRACTION = 0.6; // steady current at full duty / max current
constexpr double ACCELERATION_CURRENT_FRACTION = 0.5; // extra current of a full step from rest
constexpr double BATTERY_OHM_PER_CELL = 0.008;
constexpr double SWITCHING_LOSS_W = 0.3;
constexpr double ESC_LOSS_FRACTION = 0.04;
constexpr double ESC_KELVIN_PER_WATT = 2.0;
constexpr double ESC_THERMAL_TIME_S = 20.0;
constexpr double MOTOR_IRON_LOSS_FRACTION = 0.05;
constexpr double MOTOR_KELVIN_PER_WATT = 1.0;
constexpr double MOTOR_THERMAL_TIME_S = 40.0;
constexpr double COPPER_TEMPERATURE_COEFFICIENT = 0.0039;
constexpr double SPINNING_RPM = 50.0;
constexpr qint64 STEP_US = 1000;

double approach(double value, double target, double dt, double timeConstant)
{
    return value + (target - value) * (1.0 - std::exp(-dt / timeConstant));
}

} // namespace

MotorModel::MotorModel(const MotorConfig &config)
    : m_config(config)
{
    m_config.kv = std::max(config.kv, 1.0);
    m_config.cells = std::max(config.cells, 1);
    m_config.polePairs = std::max(config.polePairs, 1);
    m_config.maxCurrent = std::max(config.maxCurrent, 1.0);
    m_config.rs = std::max(config.rs, 1e-4);

    m_restVoltage = m_config.cells * m_config.cellVoltage;
    m_batteryResistance = m_config.cells * BATTERY_OHM_PER_CELL;
    m_fullSpeedRadS = std::max(m_config.kv * m_restVoltage * LOADED_SPEED_FRACTION * RPM_TO_RAD_S, 1.0);
    const double kt = torqueConstant();
    // Chosen so that full duty draws FULL_LOAD_CURRENT_FRACTION of the maximum current
    // and a full step from rest needs ACCELERATION_CURRENT_FRACTION more at its start.
    m_loadCoefficient = kt * FULL_LOAD_CURRENT_FRACTION * m_config.maxCurrent / (m_fullSpeedRadS * m_fullSpeedRadS);
    m_inertia = ACCELERATION_CURRENT_FRACTION * m_config.maxCurrent * kt * SPEED_TIME_CONSTANT_S / m_fullSpeedRadS;

    m_vbus = m_restVoltage;
    m_escTempC = m_motorTempC = m_config.ambientC;
    m_maxEscTempC = m_maxMotorTempC = m_config.ambientC;
}

void MotorModel::setDuty(double duty)
{
    m_duty = std::isfinite(duty) ? std::clamp(duty, -1.0, 1.0) : 0.0;
}

void MotorModel::setStalled(bool stalled)
{
    m_stalled = stalled;
}

bool MotorModel::isSpinning() const
{
    return std::abs(m_speedRpm) > SPINNING_RPM;
}

double MotorModel::fullSpeedRpm() const
{
    return m_fullSpeedRadS / RPM_TO_RAD_S;
}

double MotorModel::torqueConstant() const
{
    return 60.0 / (2.0 * PI * m_config.kv);
}

double MotorModel::resistanceNow() const
{
    return m_config.rs * (1.0 + COPPER_TEMPERATURE_COEFFICIENT * (m_motorTempC - 25.0));
}

double MotorModel::fluxVoltPerHz() const
{
    // Back-EMF (V) = rpm / Kv, electrical frequency (Hz) = rpm * pole pairs / 60.
    return 60.0 / (m_config.kv * m_config.polePairs);
}

double MotorModel::averageCurrent() const
{
    return m_spinningSeconds > 0.0 ? m_currentTimeIntegral / m_spinningSeconds : 0.0;
}

void MotorModel::advance(qint64 us)
{
    while (us > 0) {
        const qint64 stepUs = std::min(us, STEP_US);
        step(double(stepUs) * 1e-6);
        us -= stepUs;
    }
}

void MotorModel::step(double dt)
{
    const double duty = m_stalled ? 0.0 : m_duty;
    const double kt = torqueConstant();
    const double oldOmega = m_speedRpm * RPM_TO_RAD_S;

    if (m_stalled) {
        m_speedRpm = 0.0;
    } else {
        const double target = m_config.kv * duty * m_vbus * LOADED_SPEED_FRACTION;
        m_speedRpm = approach(m_speedRpm, target, dt, SPEED_TIME_CONSTANT_S);
    }
    const double omega = m_speedRpm * RPM_TO_RAD_S;
    const double acceleration = (omega - oldOmega) / dt;

    double loadTorque = m_loadCoefficient * omega * std::abs(omega);
    if (std::abs(m_speedRpm) > SPINNING_RPM)
        loadTorque += std::copysign(kt * m_config.noLoadCurrent, omega);
    m_iq = m_stalled ? 0.0 : (loadTorque + m_inertia * acceleration) / kt;
    m_iq = std::clamp(m_iq, -1.5 * m_config.maxCurrent, 1.5 * m_config.maxCurrent);

    const double copperLoss = 1.5 * m_iq * m_iq * resistanceNow();
    const double mechanicalPower = kt * m_iq * omega;
    const double switchingLoss = duty != 0.0 ? SWITCHING_LOSS_W : 0.0;
    m_electricalPower = mechanicalPower + copperLoss + switchingLoss;
    m_busCurrent = m_vbus > 1.0 ? m_electricalPower / m_vbus : 0.0;
    m_vbus = std::max(0.0, m_restVoltage - m_busCurrent * m_batteryResistance);

    const double escTarget = m_config.ambientC
        + ESC_KELVIN_PER_WATT * (ESC_LOSS_FRACTION * std::abs(m_electricalPower) + switchingLoss);
    const double motorTarget = m_config.ambientC
        + MOTOR_KELVIN_PER_WATT * (copperLoss + MOTOR_IRON_LOSS_FRACTION * std::abs(mechanicalPower));
    m_escTempC = approach(m_escTempC, escTarget, dt, ESC_THERMAL_TIME_S);
    m_motorTempC = approach(m_motorTempC, motorTarget, dt, MOTOR_THERMAL_TIME_S);

    m_maxAbsCurrent = std::max(m_maxAbsCurrent, std::abs(m_iq));
    m_maxEscTempC = std::max(m_maxEscTempC, m_escTempC);
    m_maxMotorTempC = std::max(m_maxMotorTempC, m_motorTempC);
    if (isSpinning()) {
        m_currentTimeIntegral += std::abs(m_iq) * dt;
        m_spinningSeconds += dt;
    }
}

ONLINE_QUANTS_S MotorModel::sample() const
{
    ONLINE_QUANTS_S s;
    s.Torque = float(torqueConstant() * m_iq);
    s.Speed = float(m_speedRpm);
    s.Is = float(m_iq);
    s.Vbus = float(m_vbus);
    s.Vs = float(std::abs(m_stalled ? 0.0 : m_duty) * m_vbus);
    s.Power = float(std::max(0.0, m_electricalPower));
    s.Rs = float(resistanceNow());
    s.Flux = float(fluxVoltPerHz());
    s.Temp = int16_t(std::lround(m_escTempC));
    s.PWm_in_us = m_config.pwmInUs;
    return s;
}
