// The motor file reader: whatever it accepts, written again, reads back the same motors.
#include "fuzzcheck.h"
#include "motors/motorfile.h"
#include "motors/payloadcipher.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray text(reinterpret_cast<const char *>(data), int(size));
    PayloadCipher cipher(MotorFile::PROGRAM_KEY);
    QVector<MotorEntry> motors;
    QString error;
    if (!MotorFile::parse(text, cipher, &motors, &error)) {
        FUZZ_CHECK(!error.isEmpty());
        return 0;
    }

    QByteArray again;
    if (!MotorFile::compose(motors, cipher, &again))
        return 0; // a date the reader tolerates may not be one the writer writes
    QVector<MotorEntry> reread;
    FUZZ_CHECK(MotorFile::parse(again, cipher, &reread, &error));
    FUZZ_CHECK(reread.size() == motors.size());
    for (int i = 0; i < motors.size(); ++i) {
        FUZZ_CHECK(reread[i].name == motors[i].name);
        FUZZ_CHECK(reread[i].datetime == motors[i].datetime);
        FUZZ_CHECK(reread[i].params == motors[i].params);
    }
    return 0;
}
