#pragma once

#include "capture/linerecord.h"

#include <QVector>

// The last minutes of the line in memory, bounded whatever the traffic: records older
// than the age limit are dropped, and the oldest ones make room when the byte limit would
// be passed. The records are kept packed in one buffer of at most `capacityBytes`, taken
// from the system only as far as it is written, and every whole page the oldest records
// leave is given back: the memory taken follows what the ring holds, not what it once held.
class LineRing
{
public:
    static constexpr qint64 DEFAULT_CAPACITY = 4 * 1024 * 1024;
    static constexpr qint64 DEFAULT_MAX_AGE_US = 10LL * 60 * 1000 * 1000;
    // Each record takes this many bytes beside its own.
    static constexpr int ENTRY_OVERHEAD = 16;

    explicit LineRing(qint64 capacityBytes = DEFAULT_CAPACITY, qint64 maxAgeUs = DEFAULT_MAX_AGE_US);
    ~LineRing();
    LineRing(const LineRing &) = delete;
    LineRing &operator=(const LineRing &) = delete;

    // A record longer than the whole ring is kept cut to what fits.
    void append(const LineCapture::Record &record);
    // The records no older than the age limit before `nowUs`, oldest first.
    QVector<LineCapture::Record> records(qint64 nowUs) const;

    int count() const { return m_count; }
    qint64 usedBytes() const { return m_used; }
    qint64 capacity() const { return m_capacity; }
    // The bytes of the buffer held in memory now.
    qint64 residentBytes() const;
    void clear();

private:
    void dropOldest();
    void put(qint64 at, const char *data, qint64 size);
    void get(qint64 at, char *data, qint64 size) const;
    qint64 timeAt(qint64 at) const;
    void releaseFreePages();

    qint64 m_capacity;
    qint64 m_maxAgeUs;
    char *m_buffer = nullptr; // mapped on the first record; pages are taken only once written
    qint64 m_mappedBytes = 0;
    qint64 m_head = 0;                // the oldest entry
    qint64 m_used = 0;
    int m_count = 0;
};
