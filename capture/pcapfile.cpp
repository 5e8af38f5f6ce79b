#include "capture/pcapfile.h"

#include <QFile>

#include <pcap/pcap.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

using LineCapture::Record;

namespace {

// A record's data is at most its header and MAX_RECORD_BYTES of line bytes.
constexpr int SNAPSHOT_LENGTH = 65535;
// A written record never waits in the buffer past a flush that the buffer forces on its
// own: the writer flushes before this many bytes are pending, so the file always ends at
// a record's end after a crash.
constexpr size_t FILE_BUFFER_BYTES = 1024 * 1024;
constexpr qint64 FLUSH_BEFORE_BYTES = 256 * 1024;

} // namespace

PcapWriter::~PcapWriter()
{
    close();
    std::free(m_memory);
}

bool PcapWriter::start(FILE *file, QString *error)
{
    if (!file) {
        if (error)
            *error = QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    m_pcap = pcap_open_dead_with_tstamp_precision(DLT_USER0, SNAPSHOT_LENGTH, PCAP_TSTAMP_PRECISION_MICRO);
    if (m_pcap)
        m_dumper = pcap_dump_fopen(m_pcap, file);
    if (!m_dumper) {
        if (error)
            *error = m_pcap ? QString::fromLocal8Bit(pcap_geterr(m_pcap)) : QStringLiteral("libpcap");
        std::fclose(file);
        if (m_pcap)
            pcap_close(m_pcap);
        m_pcap = nullptr;
        return false;
    }
    m_unflushed = 0;
    return true;
}

bool PcapWriter::open(const QString &fileName, QString *error)
{
    close();
    FILE *file = std::fopen(QFile::encodeName(fileName).constData(), "wb");
    if (file)
        std::setvbuf(file, nullptr, _IOFBF, FILE_BUFFER_BYTES);
    if (!start(file, error))
        return false;
    flush(); // the file header at once: an empty capture is still a capture
    return true;
}

bool PcapWriter::openInMemory(QString *error)
{
    close();
    std::free(m_memory);
    m_memory = nullptr;
    m_memorySize = 0;
    return start(open_memstream(&m_memory, &m_memorySize), error);
}

void PcapWriter::write(const Record &record)
{
    if (!m_dumper)
        return;
    unsigned char data[LineCapture::HEADER_SIZE + LineCapture::MAX_RECORD_BYTES];
    const int length = std::min(int(record.bytes.size()), LineCapture::MAX_RECORD_BYTES);
    data[0] = LineCapture::HEADER_VERSION;
    data[1] = uint8_t(record.direction);
    data[2] = uint8_t(record.kind);
    data[3] = record.line;
    std::memcpy(data + LineCapture::HEADER_SIZE, record.bytes.constData(), size_t(length));
    pcap_pkthdr header {};
    header.ts.tv_sec = time_t(record.timeUs / 1000000);
    header.ts.tv_usec = suseconds_t(record.timeUs % 1000000);
    header.caplen = bpf_u_int32(LineCapture::HEADER_SIZE + length);
    header.len = header.caplen;
    if (m_unflushed + 16 + header.caplen > FLUSH_BEFORE_BYTES)
        flush();
    pcap_dump(reinterpret_cast<u_char *>(m_dumper), &header, data);
    m_unflushed += 16 + header.caplen;
}

void PcapWriter::flush()
{
    if (!m_dumper)
        return;
    pcap_dump_flush(m_dumper);
    m_unflushed = 0;
}

void PcapWriter::close()
{
    if (!m_dumper)
        return;
    pcap_dump_close(m_dumper); // closes the file too
    pcap_close(m_pcap);
    m_dumper = nullptr;
    m_pcap = nullptr;
    m_unflushed = 0;
    if (m_memory) {
        m_bytes = QByteArray(m_memory, int(m_memorySize));
        std::free(m_memory);
        m_memory = nullptr;
        m_memorySize = 0;
    }
}

QByteArray PcapWriter::takeBytes()
{
    QByteArray bytes;
    bytes.swap(m_bytes);
    return bytes;
}

QByteArray PcapWriter::toPcap(const QVector<Record> &records)
{
    PcapWriter writer;
    if (!writer.openInMemory(nullptr))
        return QByteArray();
    for (const Record &record : records)
        writer.write(record);
    writer.close();
    return writer.takeBytes();
}

bool PcapReader::read(const QString &fileName, QVector<Record> *records, QString *error)
{
    // A FIFO or a device would hold the reader: only a regular file is opened.
    struct stat status {};
    if (::stat(QFile::encodeName(fileName).constData(), &status) == 0 && !S_ISREG(status.st_mode)) {
        *error = QStringLiteral("not a regular file");
        return false;
    }
    char pcapError[PCAP_ERRBUF_SIZE] = {};
    pcap_t *pcap = pcap_open_offline_with_tstamp_precision(QFile::encodeName(fileName).constData(),
                                                           PCAP_TSTAMP_PRECISION_MICRO, pcapError);
    if (!pcap) {
        *error = QString::fromLocal8Bit(pcapError);
        return false;
    }
    if (pcap_datalink(pcap) != DLT_USER0) {
        *error = QStringLiteral("link type %1, not a line capture (%2)").arg(pcap_datalink(pcap)).arg(DLT_USER0);
        pcap_close(pcap);
        return false;
    }
    pcap_pkthdr *header = nullptr;
    const u_char *data = nullptr;
    int result;
    while ((result = pcap_next_ex(pcap, &header, &data)) == 1) {
        if (header->caplen < bpf_u_int32(LineCapture::HEADER_SIZE) || data[0] != LineCapture::HEADER_VERSION
            || data[1] > 1 || data[2] > 3)
            continue;
        Record record;
        record.timeUs = qint64(header->ts.tv_sec) * 1000000 + header->ts.tv_usec;
        record.direction = LineCapture::Direction(data[1]);
        record.kind = LineCapture::Kind(data[2]);
        record.line = data[3];
        record.bytes = QByteArray(reinterpret_cast<const char *>(data) + LineCapture::HEADER_SIZE,
                                  int(header->caplen) - LineCapture::HEADER_SIZE);
        records->append(record);
    }
    // A file cut short (a crash while writing) still gives the records before the cut.
    pcap_close(pcap);
    return true;
}
