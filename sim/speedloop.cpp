#include "sim/speedloop.h"

#include <algorithm>

void SpeedLoop::setGains(int kpWord, int kiWord)
{
    m_kp = std::max(kpWord, 0) / 1024.0;
    m_ki = std::max(kiWord, 0) / 1024.0;
}

double SpeedLoop::update(double referenceRpm, double speedRpm, double fullSpeedRpm, double dt)
{
    const double error = fullSpeedRpm > 0.0 ? (referenceRpm - speedRpm) / fullSpeedRpm : 0.0;
    const double integral = m_integral + m_ki * error * dt / INTEGRAL_PERIOD_S;
    const double duty = m_kp * error + integral;
    if (duty > 1.0 || duty < -1.0)
        return std::clamp(m_kp * error + m_integral, -1.0, 1.0);
    m_integral = integral;
    return duty;
}
