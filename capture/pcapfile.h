#pragma once

#include "capture/linerecord.h"

#include <QFile>
#include <QString>
#include <QVector>

#include <memory>

// The pcap format of line captures: link type DLT_USER0 (147), microsecond time stamps, each
// record's data the LineCapture header and the line's bytes.
namespace PcapFormat {
constexpr int FILE_HEADER_SIZE = 24;
constexpr int RECORD_HEADER_SIZE = 16;
constexpr int LINK_TYPE = 147; // DLT_USER0
// A record's data is at most its header and MAX_RECORD_BYTES of line bytes; a file may say
// its records are up to this long.
constexpr int SNAPSHOT_LENGTH = 65535;

QByteArray fileHeader();
// The bytes a record takes in the file (header and data).
qint64 recordSize(const LineCapture::Record &record);
void appendRecord(QByteArray &out, const LineCapture::Record &record);
} // namespace PcapFormat

// Line records into a capture file. The records wait in the writer's own buffer and go to
// the file whole: the file ends at a record's end after every write, so a kill at any moment
// leaves a capture that reads to its end. A failed write is kept as the writer's error, the
// file cut back to its last whole record, and nothing more is written.
class PcapWriter
{
public:
    PcapWriter() = default;
    ~PcapWriter();
    PcapWriter(const PcapWriter &) = delete;
    PcapWriter &operator=(const PcapWriter &) = delete;

    // Creates (or replaces) the file and writes its header; false with a reason when it cannot.
    bool open(const QString &fileName, QString *error);
    bool isOpen() const { return m_fd >= 0; }

    void write(const LineCapture::Record &record);
    // Everything written so far reaches the file; false when it failed (now or before).
    bool flush();
    void close();
    // Bytes written and not yet flushed.
    qint64 unflushedBytes() const { return m_buffer.size(); }
    // Why the file could not be written on, empty while it can.
    QString error() const { return m_error; }
    // The file's size: its header and the whole records written to it.
    qint64 fileSize() const { return m_fileSize; }

    static QByteArray toPcap(const QVector<LineCapture::Record> &records);

private:
    bool writeWhole(const char *data, qint64 size);
    void fail(int error);

    int m_fd = -1;
    QByteArray m_buffer;
    qint64 m_fileSize = 0;
    QString m_error;
};

// Reads a line capture record by record, holding one record at a time. Reading stops at the
// file's end or where the file is damaged (a record cut short, a length no record can have),
// and says where and why; records of a form it does not know are skipped and counted.
class PcapReader
{
public:
    PcapReader() = default;

    // A regular file; false with a reason when it cannot be read or is no line capture.
    bool open(const QString &fileName, QString *error);
    // Any readable device (not owned).
    bool open(QIODevice *device, QString *error);

    // The next record; false at the end of the capture or where it is damaged.
    bool next(LineCapture::Record *record);

    // Why reading stopped before the end; empty at a clean end.
    QString damage() const { return m_damage; }
    // The byte where the damage begins.
    qint64 damageOffset() const { return m_damageOffset; }
    int recordsRead() const { return m_recordsRead; }
    int recordsSkipped() const { return m_recordsSkipped; }
    // The byte after the last record read (or skipped).
    qint64 position() const { return m_position; }
    qint64 size() const { return m_device ? m_device->size() : 0; }

    // The records of a whole capture (small files, tests); false with a reason when the file
    // is no line capture. A damaged capture gives the records before the damage, and the
    // damage in `damage` when asked for.
    static bool read(const QString &fileName, QVector<LineCapture::Record> *records, QString *error,
                     QString *damage = nullptr);

private:
    bool stopDamaged(const QString &why);
    quint32 field(const uchar *at) const;

    std::unique_ptr<QFile> m_file;
    QIODevice *m_device = nullptr;
    bool m_swapped = false;
    bool m_nanoseconds = false;
    quint32 m_snapshotLength = 0;
    qint64 m_position = 0;
    QString m_damage;
    qint64 m_damageOffset = -1;
    int m_recordsRead = 0;
    int m_recordsSkipped = 0;
    bool m_done = false;
    QByteArray m_data;
};
