// The line capture reader on any file: it never reads past the end, stops only at the end or
// at damage it names, and what it gives back is records a capture can hold, which written
// again read back the same, whole.
#include "fuzzcheck.h"
#include "capture/linedecoder.h"
#include "capture/pcapfile.h"

#include <QBuffer>

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    QByteArray bytes(reinterpret_cast<const char *>(data), int(size));
    QBuffer file(&bytes);
    file.open(QIODevice::ReadOnly);
    PcapReader reader;
    QString error;
    if (!reader.open(&file, &error)) {
        FUZZ_CHECK(!error.isEmpty());
        return 0;
    }
    QVector<LineCapture::Record> records;
    LineCapture::Record record;
    qint64 end = reader.position();
    while (reader.next(&record)) {
        FUZZ_CHECK(int(record.direction) <= 1 && int(record.kind) <= 3);
        FUZZ_CHECK(record.bytes.size() <= PcapFormat::SNAPSHOT_LENGTH - LineCapture::HEADER_SIZE);
        FUZZ_CHECK(record.timeUs >= 0);
        FUZZ_CHECK(reader.position() > end && reader.position() <= qint64(size));
        end = reader.position();
        FUZZ_CHECK(!LineDecoder::describe(record).isEmpty());
        if (record.bytes.size() <= LineCapture::MAX_RECORD_BYTES)
            records.append(record);
    }
    FUZZ_CHECK(!reader.next(&record)); // the end stays the end
    FUZZ_CHECK(reader.recordsRead() >= records.size());
    if (reader.damage().isEmpty()) {
        FUZZ_CHECK(reader.position() == qint64(size)); // a clean end is the file's end
    } else {
        FUZZ_CHECK(reader.damageOffset() == reader.position());
        FUZZ_CHECK(reader.damageOffset() < qint64(size));
    }

    QByteArray again = PcapWriter::toPcap(records);
    QBuffer copy(&again);
    copy.open(QIODevice::ReadOnly);
    PcapReader rereader;
    FUZZ_CHECK(rereader.open(&copy, &error));
    for (const LineCapture::Record &kept : qAsConst(records)) {
        FUZZ_CHECK(rereader.next(&record));
        FUZZ_CHECK(record.timeUs == kept.timeUs && record.direction == kept.direction && record.kind == kept.kind
                   && record.line == kept.line && record.bytes == kept.bytes);
    }
    FUZZ_CHECK(!rereader.next(&record));
    FUZZ_CHECK(rereader.damage().isEmpty() && rereader.recordsSkipped() == 0);
    return 0;
}
