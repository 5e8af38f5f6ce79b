#pragma once

#include <QObject>

class QSocketNotifier;
class QTimer;

// A single-shot timer with microsecond resolution. QTimer counts whole milliseconds and
// may fire a millisecond late; a paced line needs its bytes at their own time without
// spinning the event loop until then. On Linux a timerfd does it; elsewhere a precise
// QTimer rounded up to the millisecond stands in.
class PreciseTimer : public QObject
{
    Q_OBJECT

public:
    explicit PreciseTimer(QObject *parent = nullptr);
    ~PreciseTimer() override;

    void start(qint64 us);
    void stop();

signals:
    void timeout();

private:
    void expired();

    int m_fd = -1;
    QSocketNotifier *m_notifier = nullptr;
    QTimer *m_fallback = nullptr;
};
