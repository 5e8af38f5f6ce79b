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
    return m_silenced || m_silencedByMessage
        || (m_config.silentAfterFrames >= 0 && m_answered >= m_config.silentAfterFrames);
}

void FaultInjector::countAnswerTo(uint8_t msgId)
{
    ++m_answered;
    if (m_config.silentAfterMessage == int(msgId))
        m_silencedByMessage = true;
}

namespace {

bool consume(std::map<uint8_t, int> &counts, uint8_t msgId)
{
    const auto it = counts.find(msgId);
    if (it == counts.end() || it->second <= 0)
        return false;
    --it->second;
    return true;
}

} // namespace

bool FaultInjector::dropAnswerTo(uint8_t msgId)
{
    return consume(m_config.dropFirstAnswers, msgId);
}

bool FaultInjector::refuseRequest(uint8_t msgId)
{
    return consume(m_config.refuseNext, msgId);
}

bool FaultInjector::storeOtherKp()
{
    if (m_config.storeOtherKp <= 0)
        return false;
    --m_config.storeOtherKp;
    return true;
}

QByteArray FaultInjector::strayBytes()
{
    if (!chance(m_config.garbageFraction))
        return QByteArray();
    QByteArray bytes(1 + int(m_random.bounded(8u)), '\0');
    for (char &c : bytes)
        c = char(m_random.bounded(256u));
    return bytes;
}

bool FaultInjector::wrongId()
{
    return chance(m_config.wrongIdFraction);
}

int FaultInjector::lengthChange()
{
    if (!chance(m_config.wrongLengthFraction))
        return 0;
    return m_random.bounded(2u) == 0 ? -1 : 1;
}

int FaultInjector::unterminatedAnswerBytes(uint8_t msgId)
{
    const auto it = m_config.unterminatedAnswer.find(msgId);
    if (it == m_config.unterminatedAnswer.end())
        return 0;
    const int bytes = it->second;
    m_config.unterminatedAnswer.erase(it);
    return bytes;
}

bool FaultInjector::hasVanished(qint64 nowUs) const
{
    return m_config.vanishAfterMs >= 0 && nowUs >= qint64(m_config.vanishAfterMs) * 1000;
}
