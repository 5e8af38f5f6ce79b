#pragma once

#include <QByteArray>

#include <deque>

// The receive side of the host's serial line: bytes become readable at their release
// time. With pacing on, every byte occupies the line for its real transfer time
// (40 us at 250000 baud 8N1), in whichever direction it travels.
class LineScheduler
{
public:
    void setPacing(bool on, int bytesPerSecond);
    bool isPacing() const { return m_pacing; }

    // The time at which a byte that may start at readyUs has crossed the line.
    qint64 occupyLine(qint64 readyUs);
    // Queues a byte for the host, readable from releaseUs on.
    void push(char byte, qint64 releaseUs);
    QByteArray takeReleased(qint64 nowUs);
    bool hasReleased(qint64 nowUs) const;
    bool isEmpty() const { return m_queue.empty(); }
    // When the line next goes quiet: the release time of the last byte of the run of
    // back-to-back bytes that starts with the first release after nowUs; -1 when nothing
    // more is queued.
    qint64 endOfBurstAfter(qint64 nowUs) const;
    void clear();

private:
    struct Entry
    {
        char byte;
        qint64 releaseUs;
    };

    std::deque<Entry> m_queue; // ordered by release time, stable for equal times
    bool m_pacing = false;
    qint64 m_byteUs = 0;
    qint64 m_lineFreeUs = 0;
};
