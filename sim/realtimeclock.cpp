#include "sim/realtimeclock.h"

#include "sim/simulatedcontroller.h"

#include <algorithm>

namespace {

constexpr qint64 ADAPTER_LATENCY_US = 1000;

} // namespace

RealTimeClock::RealTimeClock(SimulatedController *controller, QObject *parent)
    : QObject(parent)
    , m_controller(controller)
{
    m_timer.setTimerType(Qt::PreciseTimer);
    connect(&m_timer, &QTimer::timeout, this, &RealTimeClock::catchUp);
    connect(&m_nextEvent, &PreciseTimer::timeout, this, &RealTimeClock::catchUp);
}

void RealTimeClock::start(int intervalMs)
{
    m_elapsed.start();
    m_lastUs = 0;
    m_intervalMs = intervalMs;
    m_timer.start(intervalMs);
}

void RealTimeClock::stop()
{
    m_timer.stop();
    m_nextEvent.stop();
}

void RealTimeClock::catchUp()
{
    if (!m_timer.isActive() || !m_controller)
        return;
    const qint64 nowUs = m_elapsed.nsecsElapsed() / 1000;
    m_controller->advanceMicroseconds(nowUs - m_lastUs);
    m_lastUs = nowUs;
    scheduleNext();
}

void RealTimeClock::scheduleNext()
{
    if (!m_timer.isActive() || !m_controller)
        return;
    const qint64 next = m_controller->nextEventUs();
    if (next < 0)
        return;
    // A USB serial adapter hands over what it has received at least every millisecond
    // (its latency timer at the lowest): a long run reaches the host in slices.
    const qint64 waitUs = std::min<qint64>(next - m_controller->nowUs(), ADAPTER_LATENCY_US);
    if (waitUs >= qint64(m_intervalMs) * 1000)
        return; // the step comes first
    m_nextEvent.start(waitUs);
}
