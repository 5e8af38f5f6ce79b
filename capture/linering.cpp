#include "capture/linering.h"

#include <algorithm>
#include <cstring>

using LineCapture::Record;

namespace {

// Entry: time (8 bytes), direction, kind, length (2 bytes), line, in the machine's order, then
// the bytes.
struct EntryHeader
{
    qint64 timeUs;
    uint8_t direction;
    uint8_t kind;
    uint16_t length;
    uint8_t line;
};
static_assert(sizeof(EntryHeader) == LineRing::ENTRY_OVERHEAD, "packed entry header");

} // namespace

LineRing::LineRing(qint64 capacityBytes, qint64 maxAgeUs)
    : m_capacity(std::max<qint64>(capacityBytes, ENTRY_OVERHEAD + 1)), m_maxAgeUs(maxAgeUs)
{
}

void LineRing::clear()
{
    m_head = 0;
    m_used = 0;
    m_count = 0;
}

void LineRing::put(qint64 at, const char *data, qint64 size)
{
    at %= m_capacity;
    const qint64 first = std::min(size, m_capacity - at);
    std::memcpy(m_buffer.get() + at, data, size_t(first));
    if (first < size)
        std::memcpy(m_buffer.get(), data + first, size_t(size - first));
}

void LineRing::get(qint64 at, char *data, qint64 size) const
{
    at %= m_capacity;
    const qint64 first = std::min(size, m_capacity - at);
    std::memcpy(data, m_buffer.get() + at, size_t(first));
    if (first < size)
        std::memcpy(data + first, m_buffer.get(), size_t(size - first));
}

qint64 LineRing::timeAt(qint64 at) const
{
    EntryHeader header;
    get(at, reinterpret_cast<char *>(&header), sizeof header);
    return header.timeUs;
}

void LineRing::dropOldest()
{
    EntryHeader header;
    get(m_head, reinterpret_cast<char *>(&header), sizeof header);
    const qint64 size = ENTRY_OVERHEAD + header.length;
    m_head = (m_head + size) % m_capacity;
    m_used -= size;
    --m_count;
}

void LineRing::append(const Record &record)
{
    if (!m_buffer)
        m_buffer.reset(new char[size_t(m_capacity)]);
    const qint64 length = std::min<qint64>({qint64(record.bytes.size()), m_capacity - ENTRY_OVERHEAD, 0xFFFF});
    while (m_count > 0 && timeAt(m_head) < record.timeUs - m_maxAgeUs)
        dropOldest();
    while (m_count > 0 && m_used + ENTRY_OVERHEAD + length > m_capacity)
        dropOldest();
    const EntryHeader header {record.timeUs, uint8_t(record.direction), uint8_t(record.kind), uint16_t(length),
                              record.line};
    const qint64 tail = m_head + m_used;
    put(tail, reinterpret_cast<const char *>(&header), sizeof header);
    put(tail + ENTRY_OVERHEAD, record.bytes.constData(), length);
    m_used += ENTRY_OVERHEAD + length;
    ++m_count;
}

QVector<Record> LineRing::records(qint64 nowUs) const
{
    QVector<Record> out;
    out.reserve(m_count);
    qint64 at = m_head;
    for (int i = 0; i < m_count; ++i) {
        EntryHeader header;
        get(at, reinterpret_cast<char *>(&header), sizeof header);
        if (header.timeUs >= nowUs - m_maxAgeUs) {
            Record record;
            record.timeUs = header.timeUs;
            record.direction = LineCapture::Direction(header.direction);
            record.kind = LineCapture::Kind(header.kind);
            record.line = header.line;
            record.bytes.resize(header.length);
            get(at + ENTRY_OVERHEAD, record.bytes.data(), header.length);
            out.append(record);
        }
        at = (at + ENTRY_OVERHEAD + header.length) % m_capacity;
    }
    return out;
}
