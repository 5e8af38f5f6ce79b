#include "sim/precisetimer.h"

#include <QSocketNotifier>
#include <QTimer>

#include <algorithm>

#ifdef Q_OS_LINUX
#include <sys/timerfd.h>
#include <unistd.h>
#endif

PreciseTimer::PreciseTimer(QObject *parent)
    : QObject(parent)
{
#ifdef Q_OS_LINUX
    m_fd = timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
    if (m_fd >= 0) {
        m_notifier = new QSocketNotifier(m_fd, QSocketNotifier::Read, this);
        connect(m_notifier, &QSocketNotifier::activated, this, &PreciseTimer::expired);
        return;
    }
#endif
    m_fallback = new QTimer(this);
    m_fallback->setTimerType(Qt::PreciseTimer);
    m_fallback->setSingleShot(true);
    connect(m_fallback, &QTimer::timeout, this, &PreciseTimer::timeout);
}

PreciseTimer::~PreciseTimer()
{
#ifdef Q_OS_LINUX
    delete m_notifier;
    if (m_fd >= 0)
        ::close(m_fd);
#endif
}

void PreciseTimer::start(qint64 us)
{
    us = std::max<qint64>(1, us); // a zero time would disarm the timerfd
    if (m_fallback) {
        m_fallback->start(int((us + 999) / 1000));
        return;
    }
#ifdef Q_OS_LINUX
    itimerspec spec {};
    spec.it_value.tv_sec = time_t(us / 1000000);
    spec.it_value.tv_nsec = long(us % 1000000) * 1000;
    timerfd_settime(m_fd, 0, &spec, nullptr);
#endif
}

void PreciseTimer::stop()
{
    if (m_fallback) {
        m_fallback->stop();
        return;
    }
#ifdef Q_OS_LINUX
    const itimerspec disarm {};
    timerfd_settime(m_fd, 0, &disarm, nullptr);
#endif
}

void PreciseTimer::expired()
{
#ifdef Q_OS_LINUX
    quint64 expirations = 0;
    if (::read(m_fd, &expirations, sizeof(expirations)) != sizeof(expirations))
        return; // disarmed or re-armed since the notifier fired
#endif
    emit timeout();
}
