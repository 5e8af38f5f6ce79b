#include "sim/realtimeclock.h"

#include "sim/simulatedcontroller.h"

RealTimeClock::RealTimeClock(SimulatedController *controller, QObject *parent)
    : QObject(parent)
    , m_controller(controller)
{
    m_timer.setTimerType(Qt::PreciseTimer);
    connect(&m_timer, &QTimer::timeout, this, &RealTimeClock::catchUp);
}

void RealTimeClock::start(int intervalMs)
{
    m_elapsed.start();
    m_lastUs = 0;
    m_timer.start(intervalMs);
}

void RealTimeClock::stop()
{
    m_timer.stop();
}

void RealTimeClock::catchUp()
{
    if (!m_timer.isActive() || !m_controller)
        return;
    const qint64 nowUs = m_elapsed.nsecsElapsed() / 1000;
    m_controller->advanceMicroseconds(nowUs - m_lastUs);
    m_lastUs = nowUs;
}
