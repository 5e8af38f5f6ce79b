#pragma once

#include "capture/linerecord.h"

#include <QString>
#include <QVector>

#include <cstdio>

typedef struct pcap pcap_t;
typedef struct pcap_dumper pcap_dumper_t;

// Line records as a pcap file through libpcap: link type DLT_USER0, microsecond time
// stamps, each record's data the LineCapture header and the line's bytes.
class PcapWriter
{
public:
    PcapWriter() = default;
    ~PcapWriter();
    PcapWriter(const PcapWriter &) = delete;
    PcapWriter &operator=(const PcapWriter &) = delete;

    // Creates (or replaces) the file; false with a reason when it cannot.
    bool open(const QString &fileName, QString *error);
    // Into memory; the bytes come from takeBytes() after close().
    bool openInMemory(QString *error);
    bool isOpen() const { return m_dumper != nullptr; }

    void write(const LineCapture::Record &record);
    // Everything written so far reaches the file, ending at a record's end.
    void flush();
    void close();
    // Bytes written and not yet flushed.
    qint64 unflushedBytes() const { return m_unflushed; }

    QByteArray takeBytes();

    static QByteArray toPcap(const QVector<LineCapture::Record> &records);

private:
    bool start(FILE *file, QString *error);

    pcap_t *m_pcap = nullptr;
    pcap_dumper_t *m_dumper = nullptr;
    char *m_memory = nullptr; // open_memstream's buffer
    size_t m_memorySize = 0;
    QByteArray m_bytes;
    qint64 m_unflushed = 0;
};

namespace PcapReader {
// The records of a line capture; false with a reason when the file is no such capture.
// Records of an unknown header version are skipped.
bool read(const QString &fileName, QVector<LineCapture::Record> *records, QString *error);
} // namespace PcapReader
