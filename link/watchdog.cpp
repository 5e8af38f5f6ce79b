#include "watchdog.h"

WatchDog::WatchDog(QObject *parent) : QObject(parent) {}

void WatchDog::setLimit(uint32_t ms)
{
    m_limit = ms / TICK_MS;
    if (m_limit == 1)
        m_limit = 2;
}

void WatchDog::start()
{
    m_counter = 0;
    m_running = true;
}

void WatchDog::update()
{
    if (!m_running)
        return;
    ++m_counter;
    if (m_counter >= m_limit) {
        m_running = false;
        emit expired();
    }
}
