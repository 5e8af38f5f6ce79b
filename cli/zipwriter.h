#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QVector>

// A zip archive built in memory and written in one go: each entry deflated (zlib, through
// qCompress) or stored when deflating does not make it smaller. No zip64: an archive and
// each entry stay below 4 GiB, which addEntry refuses beyond.
class ZipWriter
{
public:
    // The time stamp of every entry, local time (zip keeps two-second resolution).
    explicit ZipWriter(const QDateTime &timeStamp = QDateTime::currentDateTime());

    // name: a relative path with "/" separators, stored as UTF-8.
    bool addEntry(const QString &name, const QByteArray &data);
    int entryCount() const { return m_entries.size(); }

    QByteArray archive() const;
    // Written atomically; on failure error tells why.
    bool write(const QString &fileName, QString *error) const;

    static quint32 crc32(const QByteArray &data);

private:
    struct Entry
    {
        QByteArray name;
        QByteArray body;   // as stored in the archive
        quint32 crc = 0;
        quint32 size = 0;  // uncompressed
        quint16 method = 0;
    };

    void putSharedFields(QByteArray &out, const Entry &e) const;

    quint16 m_dosTime = 0;
    quint16 m_dosDate = 0;
    QVector<Entry> m_entries;
};
