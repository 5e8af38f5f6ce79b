#include "capture/linerecorder.h"

#include <QMutexLocker>

#include <chrono>

using LineCapture::Direction;
using LineCapture::Kind;
using LineCapture::Record;

namespace {

// A line that echoes nothing (another adapter) must not make the awaited echo grow.
constexpr qint64 MAX_AWAITED_ECHO = 16 * 1024;

// Whether a write is exactly one frame with a good checksum.
bool isOneGoodFrame(const char *data, int size)
{
    if (size < 5 || size > VYX_Protocol::MAX_FRAME_SIZE || uint8_t(data[0]) != VYX_Protocol::FRAME_START
        || uint8_t(data[size - 1]) != VYX_Protocol::FRAME_END)
        return false;
    VYX_Protocol codec;
    VYX_Protocol::VyxRxConfig config;
    VYX_Protocol::init(config, 0, 255);
    VYX_Protocol::VYX_MSG msg;
    for (int i = 0; i < size; ++i) {
        if (codec.decodeByte(uint8_t(data[i]), msg, config))
            return i == size - 1 && msg.status == VYX_Protocol::Good;
    }
    return false;
}

} // namespace

LineRecorder::LineRecorder(qint64 ringCapacity, qint64 ringMaxAgeUs, QObject *parent)
    : QObject(parent), m_ring(ringCapacity, ringMaxAgeUs)
{
    m_flushTimer.setInterval(FLUSH_INTERVAL_MS);
    connect(&m_flushTimer, &QTimer::timeout, this, &LineRecorder::flush);
}

LineRecorder::~LineRecorder()
{
    stopCapture();
}

qint64 LineRecorder::nowUs()
{
    using namespace std::chrono;
    return duration_cast<microseconds>(system_clock::now().time_since_epoch()).count();
}

bool LineRecorder::startCapture(const QString &fileName, QString *error)
{
    QMutexLocker lock(&m_mutex);
    m_captureError.clear();
    m_failureTold = false;
    if (!m_file.open(fileName, error))
        return false;
    m_lastFlushUs = nowUs();
    lock.unlock();
    m_flushTimer.start();
    return true;
}

void LineRecorder::stopCapture()
{
    m_flushTimer.stop();
    QMutexLocker lock(&m_mutex);
    // What waits for its end (an open frame, an awaited echo) is part of the capture too;
    // held echo bytes came after what the framer holds.
    QVector<Record> pending;
    for (auto &entry : m_lines) {
        giveUpEcho(entry.second, pending);
        entry.second.framer.flush(pending);
    }
    store(pending);
    m_file.close();
    const QString failure = takeNewFailure();
    lock.unlock();
    tellFailure(failure);
}

QString LineRecorder::captureError() const
{
    QMutexLocker lock(&m_mutex);
    return m_captureError;
}

QString LineRecorder::takeNewFailure()
{
    if (m_failureTold || m_file.error().isEmpty())
        return QString();
    m_failureTold = true;
    m_captureError = m_file.error();
    return m_captureError;
}

void LineRecorder::tellFailure(const QString &reason)
{
    if (!reason.isEmpty())
        emit captureFailed(reason);
}

bool LineRecorder::isCapturing() const
{
    QMutexLocker lock(&m_mutex);
    return m_file.isOpen();
}

LineRecorder::Line &LineRecorder::lineNumbered(uint8_t number)
{
    auto it = m_lines.find(number);
    if (it == m_lines.end())
        it = m_lines.emplace(number, Line(number)).first;
    return it->second;
}

void LineRecorder::flush()
{
    QMutexLocker lock(&m_mutex);
    const qint64 now = nowUs();
    QVector<Record> pending;
    for (auto &entry : m_lines) {
        LineFramer &framer = entry.second.framer;
        if (framer.hasOpenFrame() && now - framer.openFrameTimeUs() > OPEN_FRAME_LIMIT_US)
            framer.flush(pending);
    }
    store(pending);
    if (m_file.unflushedBytes() > 0)
        m_file.flush();
    m_lastFlushUs = now;
    const QString failure = takeNewFailure();
    lock.unlock();
    tellFailure(failure);
}

void LineRecorder::store(const QVector<Record> &records)
{
    for (const Record &record : records) {
        m_ring.append(record);
        m_file.write(record);
    }
}

void LineRecorder::flushWhenDue(qint64 timeUs)
{
    // Also here, not only by the timer: a busy thread may hold the timer back.
    if (m_file.isOpen() && timeUs - m_lastFlushUs >= FLUSH_INTERVAL_MS * 1000LL) {
        m_file.flush();
        m_lastFlushUs = timeUs;
    }
}

void LineRecorder::giveUpEcho(Line &line, QVector<Record> &out)
{
    // Bytes held as a possible echo were the controller's after all.
    if (line.echoMatched > 0 && !line.echoAwaited.empty()) {
        const QByteArray held = line.echoAwaited.front().left(line.echoMatched);
        if (line.bootloader)
            out.append({line.echoTimeUs, Direction::FromController, Kind::Bootloader, held, line.number});
        else
            line.framer.feed(held.constData(), held.size(), line.echoTimeUs, out);
    }
    line.echoAwaited.clear();
    line.echoMatched = 0;
    line.echoAwaitedBytes = 0;
}

void LineRecorder::recordWrittenAt(qint64 timeUs, const char *data, qint64 size, uint8_t number)
{
    if (size <= 0)
        return;
    QMutexLocker lock(&m_mutex);
    Line &line = lineNumbered(number);
    m_scratch.clear();
    const int length = int(std::min<qint64>(size, LineCapture::MAX_RECORD_BYTES));
    // The program writes each request whole: a frame, or the bootloader's bytes. A write
    // that starts a frame and is none is a frame cut by the port.
    Kind kind = Kind::Bootloader;
    if (isOneGoodFrame(data, length))
        kind = Kind::Frame;
    else if (uint8_t(data[0]) == VYX_Protocol::FRAME_START)
        kind = Kind::Bytes;
    line.bootloader = kind == Kind::Bootloader;
    if (line.bootloader)
        line.framer.flush(m_scratch); // the firmware's frame will not end now
    for (qint64 at = 0; at < size; at += LineCapture::MAX_RECORD_BYTES) {
        const QByteArray bytes(data + at, int(std::min<qint64>(size - at, LineCapture::MAX_RECORD_BYTES)));
        m_scratch.append({timeUs, Direction::ToController, kind, bytes, number});
        if (line.echoAwaitedBytes + bytes.size() > MAX_AWAITED_ECHO)
            giveUpEcho(line, m_scratch);
        line.echoAwaited.push_back(bytes);
        line.echoAwaitedBytes += bytes.size();
    }
    store(m_scratch);
    flushWhenDue(timeUs);
    const QString failure = takeNewFailure();
    lock.unlock();
    tellFailure(failure);
}

void LineRecorder::readBytes(Line &line, qint64 timeUs, const char *data, int size, QVector<Record> &out)
{
    if (size <= 0)
        return;
    if (line.bootloader) {
        for (int at = 0; at < size; at += LineCapture::MAX_RECORD_BYTES)
            out.append({timeUs, Direction::FromController, Kind::Bootloader,
                        QByteArray(data + at, std::min(size - at, LineCapture::MAX_RECORD_BYTES)), line.number});
        return;
    }
    line.framer.feed(data, size, timeUs, out);
}

void LineRecorder::recordReadAt(qint64 timeUs, const char *data, qint64 size, uint8_t number)
{
    if (size <= 0)
        return;
    QMutexLocker lock(&m_mutex);
    Line &line = lineNumbered(number);
    m_scratch.clear();
    if (line.framer.hasOpenFrame() && timeUs - line.framer.openFrameTimeUs() > OPEN_FRAME_LIMIT_US)
        line.framer.flush(m_scratch);
    // The echo comes first on a half-duplex line; bytes that match the awaited echo are
    // held until the whole write has come back, so an answer that starts like the request
    // is not taken for its echo.
    qint64 runStart = 0;
    for (qint64 i = 0; i < size; ++i) {
        if (line.echoAwaited.empty())
            break;
        const QByteArray &awaited = line.echoAwaited.front();
        if (data[i] == awaited.at(line.echoMatched)) {
            if (line.echoMatched == 0)
                line.echoTimeUs = timeUs;
            if (++line.echoMatched == awaited.size()) {
                m_scratch.append({line.echoTimeUs, Direction::FromController, Kind::Echo, awaited, number});
                line.echoAwaitedBytes -= awaited.size();
                line.echoAwaited.pop_front();
                line.echoMatched = 0;
            }
            runStart = i + 1;
            continue;
        }
        giveUpEcho(line, m_scratch);
        runStart = i;
        break;
    }
    readBytes(line, timeUs, data + runStart, int(size - runStart), m_scratch);
    store(m_scratch);
    flushWhenDue(timeUs);
    const QString failure = takeNewFailure();
    lock.unlock();
    tellFailure(failure);
}

void LineRecorder::recordClosedAt(qint64 timeUs, uint8_t number)
{
    Q_UNUSED(timeUs)
    QMutexLocker lock(&m_mutex);
    Line &line = lineNumbered(number);
    m_scratch.clear();
    // Held echo bytes were read after what the framer holds: they go in before it ends.
    giveUpEcho(line, m_scratch);
    line.framer.flush(m_scratch);
    store(m_scratch);
    line.bootloader = false;
    const QString failure = takeNewFailure();
    lock.unlock();
    tellFailure(failure);
}

QVector<Record> LineRecorder::recentRecords(qint64 atUs) const
{
    QMutexLocker lock(&m_mutex);
    return m_ring.records(atUs < 0 ? nowUs() : atUs);
}

QByteArray LineRecorder::recentPcap(qint64 atUs) const
{
    QVector<Record> records = recentRecords(atUs);
    // The file keeps within the ring's bound, its headers included: a record takes more room
    // in the file than in the ring, so the oldest ones may have to stay out.
    qint64 size = PcapFormat::FILE_HEADER_SIZE;
    int first = records.size();
    while (first > 0 && size + PcapFormat::recordSize(records.at(first - 1)) <= m_ring.capacity())
        size += PcapFormat::recordSize(records.at(--first));
    records.remove(0, first);
    return PcapWriter::toPcap(records);
}

int LineRecorder::ringCount() const
{
    QMutexLocker lock(&m_mutex);
    return m_ring.count();
}

qint64 LineRecorder::ringUsedBytes() const
{
    QMutexLocker lock(&m_mutex);
    return m_ring.usedBytes();
}
