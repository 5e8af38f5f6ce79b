#include "sim/realtimeclock.h"

#include "sim/simulatedcontroller.h"

#include <algorithm>

RealTimeClock::RealTimeClock(SimulatedController *controller, QObject *parent)
    : QObject(parent)
    , m_controller(controller)
{
    m_timer.setTimerType(Qt::PreciseTimer);
    connect(&m_timer, &QTimer::timeout, this, &RealTimeClock::catchUp);
    m_nextEvent.setTimerType(Qt::PreciseTimer);
    m_nextEvent.setSingleShot(true);
    connect(&m_nextEvent, &QTimer::timeout, this, &RealTimeClock::catchUp);
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
    const qint64 waitUs = next - m_controller->nowUs();
    if (waitUs >= qint64(m_intervalMs) * 1000)
        return; // the step comes first
    // A timer fires up to a millisecond late: wake a millisecond early and go through
    // the event loop (timeout 0) for the rest.
    m_nextEvent.start(int(std::max<qint64>(0, waitUs / 1000 - 1)));
}
