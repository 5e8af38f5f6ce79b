// The line recorder on any traffic, and the text of any record: the input is cut into
// writes and reads (each run's length and direction from one byte before it). Every byte
// written and read is in exactly one record, in order, whatever the bytes; every record
// reads as a line of text.
#include "fuzzcheck.h"
#include "capture/linedecoder.h"
#include "capture/linerecorder.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    LineRecorder recorder;
    QByteArray written;
    QByteArray read;
    qint64 time = 1765400000000000LL;
    size_t at = 0;
    while (at < size) {
        const uint8_t control = data[at++];
        const size_t length = std::min<size_t>(control & 0x7F, size - at);
        const char *bytes = reinterpret_cast<const char *>(data + at);
        if (control & 0x80) {
            recorder.recordReadAt(time, bytes, qint64(length), 0);
            read.append(bytes, int(length));
        } else {
            recorder.recordWrittenAt(time, bytes, qint64(length), 0);
            written.append(bytes, int(length));
        }
        at += length;
        time += 700; // sometimes past the open-frame limit, mostly not
        if ((control & 0x7F) == 0x7F)
            time += LineRecorder::OPEN_FRAME_LIMIT_US;
    }
    recorder.recordClosedAt(time, 0);

    QByteArray recordedOut;
    QByteArray recordedIn;
    for (const LineCapture::Record &record : recorder.recentRecords(time)) {
        FUZZ_CHECK(!record.bytes.isEmpty() && record.bytes.size() <= LineCapture::MAX_RECORD_BYTES);
        FUZZ_CHECK(record.line == 0);
        (record.direction == LineCapture::Direction::ToController ? recordedOut : recordedIn) += record.bytes;
        FUZZ_CHECK(!LineDecoder::describe(record).isEmpty());
    }
    FUZZ_CHECK(recordedOut == written);
    FUZZ_CHECK(recordedIn == read);

    // Any bytes as one frame's payload, in both directions and for every message id.
    const QByteArray payload(reinterpret_cast<const char *>(data), int(std::min<size_t>(size, 40)));
    for (int id = 0; id < 256; ++id) {
        LineDecoder::describeFields(LineCapture::Direction::ToController, uint8_t(id), payload);
        LineDecoder::describeFields(LineCapture::Direction::FromController, uint8_t(id), payload);
    }
    return 0;
}
