#include "capture/pcapfile.h"

#include <QCoreApplication>
#include <QtEndian>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using LineCapture::Record;

namespace {

constexpr quint32 MAGIC_MICROSECONDS = 0xA1B2C3D4;
constexpr quint32 MAGIC_NANOSECONDS = 0xA1B23C4D;
// The buffer is written out before it would pass this size (besides the recorder's flush
// each second).
constexpr int FLUSH_BEFORE_BYTES = 256 * 1024;

void putField(QByteArray &out, quint32 value)
{
    out.append(reinterpret_cast<const char *>(&value), sizeof value); // the machine's order, as the magic says
}

QString tr(const char *text)
{
    return QCoreApplication::translate("PcapReader", text);
}

} // namespace

QByteArray PcapFormat::fileHeader()
{
    QByteArray header;
    putField(header, MAGIC_MICROSECONDS);
    const quint16 version[2] = {2, 4};
    header.append(reinterpret_cast<const char *>(version), sizeof version);
    putField(header, 0); // time zone
    putField(header, 0); // accuracy
    putField(header, SNAPSHOT_LENGTH);
    putField(header, LINK_TYPE);
    return header;
}

qint64 PcapFormat::recordSize(const Record &record)
{
    return RECORD_HEADER_SIZE + LineCapture::HEADER_SIZE + std::min(record.bytes.size(), LineCapture::MAX_RECORD_BYTES);
}

void PcapFormat::appendRecord(QByteArray &out, const Record &record)
{
    const int length = std::min(record.bytes.size(), LineCapture::MAX_RECORD_BYTES);
    // Times before 1970 are no line's: they are kept at its start rather than wrapped.
    const qint64 timeUs = std::max<qint64>(record.timeUs, 0);
    putField(out, quint32(timeUs / 1000000));
    putField(out, quint32(timeUs % 1000000));
    putField(out, quint32(LineCapture::HEADER_SIZE + length));
    putField(out, quint32(LineCapture::HEADER_SIZE + length));
    const char header[LineCapture::HEADER_SIZE] = {char(LineCapture::HEADER_VERSION), char(record.direction),
                                                   char(record.kind), char(record.line)};
    out.append(header, sizeof header);
    out.append(record.bytes.constData(), length);
}

PcapWriter::~PcapWriter()
{
    close();
}

bool PcapWriter::open(const QString &fileName, QString *error)
{
    close();
    m_error.clear();
    m_buffer.clear();
    m_fileSize = 0;
    m_fd = ::open(QFile::encodeName(fileName).constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (m_fd < 0) {
        if (error)
            *error = QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    // The file header at once: an empty capture is still a capture.
    const QByteArray header = PcapFormat::fileHeader();
    if (!writeWhole(header.constData(), header.size())) {
        if (error)
            *error = m_error;
        return false;
    }
    return true;
}

void PcapWriter::fail(int error)
{
    m_error = QString::fromLocal8Bit(std::strerror(error));
    // A record written in part is taken back: the file ends at its last whole record.
    if (::ftruncate(m_fd, m_fileSize) != 0) {
        // Nothing more can be done; the reader stops at the cut record and says so.
    }
    ::close(m_fd);
    m_fd = -1;
    m_buffer.clear();
}

bool PcapWriter::writeWhole(const char *data, qint64 size)
{
    qint64 done = 0;
    while (done < size) {
        const ssize_t written = ::write(m_fd, data + done, size_t(size - done));
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0) {
            fail(written < 0 ? errno : ENOSPC);
            return false;
        }
        done += written;
    }
    m_fileSize += size;
    return true;
}

void PcapWriter::write(const Record &record)
{
    if (m_fd < 0)
        return;
    if (m_buffer.size() + PcapFormat::recordSize(record) > FLUSH_BEFORE_BYTES && !flush())
        return;
    PcapFormat::appendRecord(m_buffer, record);
}

bool PcapWriter::flush()
{
    if (m_fd < 0)
        return m_error.isEmpty();
    if (m_buffer.isEmpty())
        return true;
    const bool written = writeWhole(m_buffer.constData(), m_buffer.size());
    m_buffer.clear();
    return written;
}

void PcapWriter::close()
{
    if (m_fd < 0)
        return;
    if (flush()) {
        ::close(m_fd);
        m_fd = -1;
    }
    m_buffer.clear();
}

QByteArray PcapWriter::toPcap(const QVector<Record> &records)
{
    QByteArray bytes = PcapFormat::fileHeader();
    qint64 size = bytes.size();
    for (const Record &record : records)
        size += PcapFormat::recordSize(record);
    bytes.reserve(int(std::min<qint64>(size, 1 << 30)));
    for (const Record &record : records)
        PcapFormat::appendRecord(bytes, record);
    return bytes;
}

bool PcapReader::open(const QString &fileName, QString *error)
{
    // A FIFO or a device would hold the reader: only a regular file is opened.
    struct stat status {};
    if (::stat(QFile::encodeName(fileName).constData(), &status) == 0 && !S_ISREG(status.st_mode)) {
        *error = tr("not a regular file");
        return false;
    }
    m_file = std::make_unique<QFile>(fileName);
    if (!m_file->open(QIODevice::ReadOnly)) {
        *error = m_file->errorString();
        return false;
    }
    return open(m_file.get(), error);
}

quint32 PcapReader::field(const uchar *at) const
{
    quint32 value;
    std::memcpy(&value, at, sizeof value);
    return m_swapped ? qbswap(value) : value;
}

bool PcapReader::open(QIODevice *device, QString *error)
{
    m_device = device;
    const QByteArray header = device->read(PcapFormat::FILE_HEADER_SIZE);
    if (header.size() < PcapFormat::FILE_HEADER_SIZE) {
        *error = tr("too short for a pcap file header");
        return false;
    }
    const uchar *at = reinterpret_cast<const uchar *>(header.constData());
    quint32 magic;
    std::memcpy(&magic, at, sizeof magic);
    m_swapped = magic == qbswap(MAGIC_MICROSECONDS) || magic == qbswap(MAGIC_NANOSECONDS);
    magic = field(at);
    if (magic != MAGIC_MICROSECONDS && magic != MAGIC_NANOSECONDS) {
        *error = tr("not a pcap file (pcapng files are saved as pcap with Wireshark first)");
        return false;
    }
    m_nanoseconds = magic == MAGIC_NANOSECONDS;
    const quint32 linkType = field(at + 20) & 0x03FFFFFF; // the upper bits say other things
    if (linkType != quint32(PcapFormat::LINK_TYPE)) {
        *error = tr("link type %1, not a line capture (%2)").arg(linkType).arg(PcapFormat::LINK_TYPE);
        return false;
    }
    m_snapshotLength = field(at + 16);
    m_position = PcapFormat::FILE_HEADER_SIZE;
    return true;
}

bool PcapReader::stopDamaged(const QString &why)
{
    m_damage = why;
    m_damageOffset = m_position;
    m_done = true;
    return false;
}

bool PcapReader::next(Record *record)
{
    while (!m_done && m_device) {
        const int number = m_recordsRead + m_recordsSkipped + 1;
        uchar header[PcapFormat::RECORD_HEADER_SIZE];
        const qint64 got = m_device->read(reinterpret_cast<char *>(header), sizeof header);
        if (got == 0) {
            m_done = true;
            return false;
        }
        if (got < qint64(sizeof header))
            return stopDamaged(tr("the file ends inside the header of record %1").arg(number));
        const quint32 length = field(header + 8);
        // No record is longer than the file's own limit, nor than a line record can be.
        const quint32 limit = std::min<quint32>(std::max<quint32>(m_snapshotLength, 1), PcapFormat::SNAPSHOT_LENGTH);
        if (length > limit)
            return stopDamaged(tr("record %1 says it holds %2 bytes, more than a record can (%3)")
                                   .arg(number).arg(length).arg(limit));
        m_data.resize(int(length));
        const qint64 data = length > 0 ? m_device->read(m_data.data(), length) : 0;
        if (data < qint64(length))
            return stopDamaged(tr("the file ends inside record %1 (%2 of its %3 bytes are there)")
                                   .arg(number).arg(std::max<qint64>(data, 0)).arg(length));
        m_position += PcapFormat::RECORD_HEADER_SIZE + length;
        const quint32 seconds = field(header);
        const quint32 fraction = field(header + 4);
        const uchar *bytes = reinterpret_cast<const uchar *>(m_data.constData());
        if (length < quint32(LineCapture::HEADER_SIZE) || bytes[0] != LineCapture::HEADER_VERSION || bytes[1] > 1
            || bytes[2] > 3 || fraction >= (m_nanoseconds ? 1000000000u : 1000000u)) {
            ++m_recordsSkipped;
            continue;
        }
        record->timeUs = qint64(seconds) * 1000000 + (m_nanoseconds ? fraction / 1000 : fraction);
        record->direction = LineCapture::Direction(bytes[1]);
        record->kind = LineCapture::Kind(bytes[2]);
        record->line = bytes[3];
        record->bytes = m_data.mid(LineCapture::HEADER_SIZE);
        ++m_recordsRead;
        return true;
    }
    return false;
}

bool PcapReader::read(const QString &fileName, QVector<Record> *records, QString *error, QString *damage)
{
    PcapReader reader;
    if (!reader.open(fileName, error))
        return false;
    Record record;
    while (reader.next(&record))
        records->append(record);
    if (damage)
        *damage = reader.damage();
    return true;
}
