#pragma once

#include "sim/precisetimer.h"

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

class SimulatedController;

// Moves a simulated controller's clock along with real time (demo mode, kordo-sim).
// Tests leave it off and advance the controller themselves.
class RealTimeClock : public QObject
{
    Q_OBJECT

public:
    explicit RealTimeClock(SimulatedController *controller, QObject *parent = nullptr);

    void start(int intervalMs = 10);
    void stop();
    bool isActive() const { return m_timer.isActive(); }
    // Brings the controller up to the present, e.g. before handing it received bytes.
    void catchUp();
    // Wakes up when the controller's line next goes quiet, if that comes before the next
    // step: answers leave at their own time, not at the step's (the flashing benchmark
    // measures the program's turnaround, not the clock's), and a busy line costs one
    // wake-up per burst, not one per byte.
    void scheduleNext();

private:
    SimulatedController *m_controller;
    QTimer m_timer;
    PreciseTimer m_nextEvent;
    int m_intervalMs = 10;
    QElapsedTimer m_elapsed;
    qint64 m_lastUs = 0;
};
