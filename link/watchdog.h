#pragma once

#include <QObject>

#include <cstdint>

// Counts coordinator ticks since a request was written; owns no timer of its own.
class WatchDog : public QObject
{
    Q_OBJECT

public:
    static constexpr uint32_t TICK_MS = 50;

    explicit WatchDog(QObject *parent = nullptr);

    // Limit in ticks: ms / 50, where exactly one tick becomes two (the write may fall
    // just before a tick) and under 50 ms becomes 0, which expires at the first tick.
    void setLimit(uint32_t ms);
    uint32_t limit() const { return m_limit; }

    void start();
    void stop() { m_running = false; }
    bool isRunning() const { return m_running; }

public slots:
    void update();

signals:
    void expired();

private:
    uint32_t m_counter = 0;
    uint32_t m_limit = 2;
    bool m_running = false;
};
