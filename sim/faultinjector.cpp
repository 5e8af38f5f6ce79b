#include "sim/faultinjector.h"

FaultInjector::FaultInjector(const FaultConfig &config)
    : m_config(config)
    , m_random(config.seed)
{
}

qint64 FaultInjector::answerDelayUs() const
{
    return m_config.answerDelayMs > 0 ? qint64(m_config.answerDelayMs) * 1000 : 0;
}

bool FaultInjector::chance(double fraction)
{
    if (!(fraction > 0.0))
        return false;
    return m_random.generateDouble() < fraction;
}

bool FaultInjector::dropAnswer()
{
    return chance(m_config.dropFraction);
}

bool FaultInjector::corruptAnswer()
{
    return chance(m_config.corruptFraction);
}

bool FaultInjector::isSilent() const
{
    return m_config.silentAfterFrames >= 0 && m_answered >= m_config.silentAfterFrames;
}

bool FaultInjector::hasVanished(qint64 nowUs) const
{
    return m_config.vanishAfterMs >= 0 && nowUs >= qint64(m_config.vanishAfterMs) * 1000;
}
