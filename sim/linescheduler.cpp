#include "sim/linescheduler.h"

#include <algorithm>

void LineScheduler::setPacing(bool on, int bytesPerSecond)
{
    m_pacing = on && bytesPerSecond > 0;
    m_byteUs = m_pacing ? std::max<qint64>(1, 1000000 / bytesPerSecond) : 0;
}

qint64 LineScheduler::occupyLine(qint64 readyUs)
{
    if (!m_pacing)
        return readyUs;
    m_lineFreeUs = std::max(readyUs, m_lineFreeUs) + m_byteUs;
    return m_lineFreeUs;
}

void LineScheduler::push(char byte, qint64 releaseUs)
{
    const auto at = std::upper_bound(m_queue.begin(), m_queue.end(), releaseUs,
                                     [](qint64 time, const Entry &e) { return time < e.releaseUs; });
    m_queue.insert(at, { byte, releaseUs });
}

QByteArray LineScheduler::takeReleased(qint64 nowUs)
{
    QByteArray out;
    while (!m_queue.empty() && m_queue.front().releaseUs <= nowUs) {
        out.append(m_queue.front().byte);
        m_queue.pop_front();
    }
    return out;
}

bool LineScheduler::hasReleased(qint64 nowUs) const
{
    return !m_queue.empty() && m_queue.front().releaseUs <= nowUs;
}

qint64 LineScheduler::endOfBurstAfter(qint64 nowUs) const
{
    auto it = std::upper_bound(m_queue.begin(), m_queue.end(), nowUs,
                               [](qint64 time, const Entry &e) { return time < e.releaseUs; });
    if (it == m_queue.end())
        return -1;
    qint64 end = it->releaseUs;
    for (++it; it != m_queue.end() && it->releaseUs <= end + m_byteUs; ++it)
        end = it->releaseUs;
    return end;
}

void LineScheduler::clear()
{
    m_queue.clear();
}
