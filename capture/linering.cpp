#include "capture/linering.h"

#include <algorithm>
#include <cstring>
#include <sys/mman.h>
#include <unistd.h>

#include <vector>

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

qint64 pageSize()
{
    static const qint64 size = ::sysconf(_SC_PAGESIZE);
    return size;
}

} // namespace

LineRing::LineRing(qint64 capacityBytes, qint64 maxAgeUs)
    : m_capacity(std::max<qint64>(capacityBytes, ENTRY_OVERHEAD + 1)), m_maxAgeUs(maxAgeUs)
{
}

LineRing::~LineRing()
{
    if (m_buffer)
        ::munmap(m_buffer, size_t(m_mappedBytes));
}

void LineRing::clear()
{
    m_head = 0;
    m_used = 0;
    m_count = 0;
    releaseFreePages();
}

qint64 LineRing::residentBytes() const
{
    if (!m_buffer)
        return 0;
    std::vector<unsigned char> pages(size_t(m_mappedBytes / pageSize()));
    if (::mincore(m_buffer, size_t(m_mappedBytes), pages.data()) != 0)
        return m_mappedBytes;
    return qint64(std::count_if(pages.begin(), pages.end(), [](unsigned char page) { return page & 1; }))
        * pageSize();
}

void LineRing::releaseFreePages()
{
    if (!m_buffer || m_used == m_capacity)
        return;
    // The free space runs from the end of the newest entry to the oldest one, perhaps round
    // the end of the buffer; the bytes past the capacity in the last page are never used.
    const qint64 page = pageSize();
    const auto release = [this, page](qint64 from, qint64 to) {
        const qint64 first = (from + page - 1) / page * page;
        const qint64 last = to == m_capacity ? m_mappedBytes : to / page * page;
        if (last > first)
            ::madvise(m_buffer + first, size_t(last - first), MADV_DONTNEED);
    };
    const qint64 freeStart = (m_head + m_used) % m_capacity;
    const qint64 freeEnd = freeStart + (m_capacity - m_used);
    if (freeEnd <= m_capacity) {
        release(freeStart, freeEnd);
    } else {
        release(freeStart, m_capacity);
        release(0, freeEnd - m_capacity);
    }
}

void LineRing::put(qint64 at, const char *data, qint64 size)
{
    at %= m_capacity;
    const qint64 first = std::min(size, m_capacity - at);
    std::memcpy(m_buffer + at, data, size_t(first));
    if (first < size)
        std::memcpy(m_buffer, data + first, size_t(size - first));
}

void LineRing::get(qint64 at, char *data, qint64 size) const
{
    at %= m_capacity;
    const qint64 first = std::min(size, m_capacity - at);
    std::memcpy(data, m_buffer + at, size_t(first));
    if (first < size)
        std::memcpy(data + first, m_buffer, size_t(size - first));
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
    if (!m_buffer) {
        const qint64 mapped = (m_capacity + pageSize() - 1) / pageSize() * pageSize();
        void *buffer = ::mmap(nullptr, size_t(mapped), PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (buffer == MAP_FAILED)
            return; // no memory for the ring: the line is not kept
        // Pages of its own size: a huge page would be given back only as a whole.
        ::madvise(buffer, size_t(mapped), MADV_NOHUGEPAGE);
        m_buffer = static_cast<char *>(buffer);
        m_mappedBytes = mapped;
    }
    const qint64 length = std::min<qint64>({qint64(record.bytes.size()), m_capacity - ENTRY_OVERHEAD, 0xFFFF});
    const qint64 headPage = m_head / pageSize();
    while (m_count > 0 && timeAt(m_head) < record.timeUs - m_maxAgeUs)
        dropOldest();
    while (m_count > 0 && m_used + ENTRY_OVERHEAD + length > m_capacity)
        dropOldest();
    if (m_count == 0)
        m_head = 0; // an empty ring starts again at its first page
    if (m_head / pageSize() != headPage)
        releaseFreePages();
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
