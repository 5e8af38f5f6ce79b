#include "sim/identrun.h"

#include <algorithm>
#include <cmath>

namespace {

// Step times of the identification as the host's wizard expects them, in ms.
constexpr int NO_MOVEMENT_MS = 18500;
constexpr int ACCELERATION_BASE_MS = 5000;
constexpr int ACCELERATION_MS_PER_HZ = 200;
constexpr int VARIABLE_SPEED_MS = 50600;
constexpr int DECELERATION_MS = 2000;

// Where a predicted error shows up: a too small resistance current is seen while the
// resistance is measured, a too low flux frequency when the motor starts to turn.
constexpr uint8_t RESISTANCE_STATE = 2;
constexpr uint8_t ACCELERATION_STATE = 4;

} // namespace

IdentRun::IdentRun(const IdentConfig &config)
    : m_config(config)
{
    if (!(m_config.timeScale > 0.0) || !std::isfinite(m_config.timeScale))
        m_config.timeScale = 1.0;
}

void IdentRun::start(uint8_t fluxFrequencyHz, int predictedErrorCode)
{
    const auto scaled = [this](double ms) { return qint64(std::llround(ms * 1000.0 * m_config.timeScale)); };
    m_steps.clear();
    for (uint8_t state : { 1, 2, 3 })
        m_steps.append({ state, scaled(NO_MOVEMENT_MS / 3.0) });
    m_steps.append({ 4, scaled(ACCELERATION_BASE_MS + ACCELERATION_MS_PER_HZ * double(fluxFrequencyHz)) });
    for (uint8_t state : { 5, 6, 7, 9, 10, 11 })
        m_steps.append({ state, scaled(VARIABLE_SPEED_MS / 6.0) });
    m_steps.append({ 8, scaled(DECELERATION_MS) });

    m_predictedErrorCode = predictedErrorCode;
    m_predictionRaised = false;
    m_phase = Phase::Walking;
    enterStep(0);
}

void IdentRun::stop()
{
    m_phase = Phase::Idle;
    m_predictionRaised = false;
}

void IdentRun::clearReport()
{
    if (m_phase != Phase::Walking)
        m_phase = Phase::Idle;
}

void IdentRun::enterStep(int index)
{
    m_stepIndex = index;
    m_elapsedInStepUs = 0;
    if (index >= m_steps.size()) {
        m_phase = Phase::Finished;
        return;
    }
    const uint8_t state = m_steps[index].state;
    if (m_config.failAtState == state) {
        m_phase = Phase::Failed;
        return;
    }
    if ((m_predictedErrorCode == 4 && state == RESISTANCE_STATE)
        || (m_predictedErrorCode == 7 && state == ACCELERATION_STATE))
        m_predictionRaised = true;
}

void IdentRun::advance(qint64 us)
{
    while (m_phase == Phase::Walking && us > 0) {
        const qint64 left = m_steps[m_stepIndex].durationUs - m_elapsedInStepUs;
        if (us < left) {
            m_elapsedInStepUs += us;
            return;
        }
        us -= std::max<qint64>(left, 0);
        enterStep(m_stepIndex + 1);
    }
}

uint8_t IdentRun::estimatorState() const
{
    switch (m_phase) {
    case Phase::Idle:
        return 0;
    case Phase::Finished:
        return FINISHED_STATE;
    case Phase::Walking:
    case Phase::Failed:
        break;
    }
    return m_steps[std::min(m_stepIndex, int(m_steps.size()) - 1)].state;
}

uint8_t IdentRun::statusByte() const
{
    const uint8_t health = m_phase == Phase::Failed ? 0 : HEALTHY;
    return uint8_t((estimatorState() << 4) | health);
}
