#include "cli/zipwriter.h"

#include "recording/wholefile.h"

#include <QCoreApplication>
#include <QtEndian>

#include <array>

namespace {

constexpr quint16 METHOD_STORED = 0;
constexpr quint16 METHOD_DEFLATED = 8;
constexpr quint16 VERSION_NEEDED = 20;      // 2.0: deflate
constexpr quint16 FLAG_UTF8_NAMES = 0x0800;
constexpr quint16 MADE_BY_UNIX = (3 << 8) | VERSION_NEEDED;
constexpr quint32 UNIX_FILE_ATTRIBUTES = quint32(0100644) << 16; // a regular file, rw-r--r--

void put16(QByteArray &out, quint16 value)
{
    char bytes[2];
    qToLittleEndian(value, bytes);
    out.append(bytes, 2);
}

void put32(QByteArray &out, quint32 value)
{
    char bytes[4];
    qToLittleEndian(value, bytes);
    out.append(bytes, 4);
}

// qCompress gives a 4-byte length, a 2-byte zlib header, the raw deflate stream and a
// 4-byte Adler-32 trailer; zip wants the raw stream only.
QByteArray rawDeflate(const QByteArray &data)
{
    const QByteArray zlib = qCompress(data, 9);
    if (zlib.size() < 10)
        return QByteArray();
    return zlib.mid(6, zlib.size() - 10);
}

const std::array<quint32, 256> &crcTable()
{
    static const std::array<quint32, 256> table = [] {
        std::array<quint32, 256> t {};
        for (quint32 n = 0; n < 256; ++n) {
            quint32 c = n;
            for (int k = 0; k < 8; ++k)
                c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[n] = c;
        }
        return t;
    }();
    return table;
}

} // namespace

ZipWriter::ZipWriter(const QDateTime &timeStamp)
{
    const QDate date = timeStamp.date();
    const QTime time = timeStamp.time();
    // The format starts in 1980.
    if (date.isValid() && date.year() >= 1980) {
        m_dosDate = quint16(((date.year() - 1980) << 9) | (date.month() << 5) | date.day());
        m_dosTime = quint16((time.hour() << 11) | (time.minute() << 5) | (time.second() / 2));
    } else {
        m_dosDate = quint16((1 << 5) | 1);
    }
}

quint32 ZipWriter::crc32(const QByteArray &data)
{
    const auto &table = crcTable();
    quint32 c = 0xFFFFFFFFu;
    for (const char byte : data)
        c = table[(c ^ quint8(byte)) & 0xFF] ^ (c >> 8);
    return c ^ 0xFFFFFFFFu;
}

bool ZipWriter::addEntry(const QString &name, const QByteArray &data)
{
    Entry entry;
    entry.name = name.toUtf8();
    // A QByteArray holds less than 2 GiB, so sizes and offsets always fit the format's
    // 32-bit fields; only the 16-bit name length and entry count can overflow.
    if (entry.name.isEmpty() || entry.name.size() > 0xFFFF || m_entries.size() >= 0xFFFF)
        return false;
    entry.crc = crc32(data);
    entry.size = quint32(data.size());
    const QByteArray deflated = rawDeflate(data);
    if (!deflated.isEmpty() && deflated.size() < data.size()) {
        entry.body = deflated;
        entry.method = METHOD_DEFLATED;
    } else {
        entry.body = data;
        entry.method = METHOD_STORED;
    }
    m_entries.append(entry);
    return true;
}

// The fields the local header and the central directory record share, in the same order.
void ZipWriter::putSharedFields(QByteArray &out, const Entry &e) const
{
    put16(out, VERSION_NEEDED);
    put16(out, FLAG_UTF8_NAMES);
    put16(out, e.method);
    put16(out, m_dosTime);
    put16(out, m_dosDate);
    put32(out, e.crc);
    put32(out, quint32(e.body.size()));
    put32(out, e.size);
    put16(out, quint16(e.name.size()));
    put16(out, 0); // no extra field
}

QByteArray ZipWriter::archive() const
{
    QByteArray out;
    QByteArray directory;
    for (const Entry &e : m_entries) {
        const quint32 offset = quint32(out.size());
        put32(out, 0x04034b50);
        putSharedFields(out, e);
        out.append(e.name);
        out.append(e.body);

        put32(directory, 0x02014b50);
        put16(directory, MADE_BY_UNIX); // names are taken as they are, not as a DOS code page
        putSharedFields(directory, e);
        put16(directory, 0); // comment
        put16(directory, 0); // disk
        put16(directory, 0); // internal attributes
        put32(directory, UNIX_FILE_ATTRIBUTES);
        put32(directory, offset);
        directory.append(e.name);
    }
    const quint32 directoryOffset = quint32(out.size());
    out.append(directory);
    put32(out, 0x06054b50);
    put16(out, 0); // this disk
    put16(out, 0); // disk of the directory
    put16(out, quint16(m_entries.size()));
    put16(out, quint16(m_entries.size()));
    put32(out, quint32(directory.size()));
    put32(out, directoryOffset);
    put16(out, 0); // comment
    return out;
}

bool ZipWriter::write(const QString &fileName, QString *error) const
{
    QString problem;
    if (WholeFile::write(fileName, archive(), &problem))
        return true;
    if (error)
        *error = problem;
    return false;
}
