#pragma once

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

#include <ctime>
#include <functional>

// What the benchmarks share: the calling thread's CPU time and a bounded wait that keeps
// the event loop running.
namespace BenchSupport {

inline double threadCpuSeconds()
{
    timespec ts {};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

// Runs the event loop until the condition holds or the time is up. It polls: not for the
// stretch being measured.
inline bool waitFor(const std::function<bool()> &condition, int timeoutMs)
{
    QElapsedTimer timer;
    timer.start();
    while (!condition()) {
        if (timer.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::msleep(1);
    }
    return true;
}

} // namespace BenchSupport
