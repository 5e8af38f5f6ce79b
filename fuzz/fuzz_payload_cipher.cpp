// The payload cipher: any cipher text deciphers cleanly or fails with a reason, and any
// plain text enciphered in any mode deciphers back to itself.
#include "fuzzcheck.h"
#include "motors/motorfile.h"
#include "motors/payloadcipher.h"

#include <QtGlobal>

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray input(reinterpret_cast<const char *>(data), int(size));

    PayloadCipher reader(MotorFile::PROGRAM_KEY);
    const QByteArray plain = reader.decryptBytes(input);
    if (!plain.isEmpty())
        FUZZ_CHECK(reader.lastError() == PayloadCipher::CipherOk);
    else
        FUZZ_CHECK(reader.lastError() != PayloadCipher::CipherNoKey);

    if (size < 2)
        return 0;
    PayloadCipher writer(uint64_t(data[0]) * 0x0101010101010101ULL);
    writer.setCompressionMode(PayloadCipher::CompressionMode(data[1] % 3));
    writer.setIntegrityProtectionMode(PayloadCipher::IntegrityProtectionMode((data[1] / 3) % 3));
    const QByteArray message = input.mid(2);
    const QByteArray cipherText = writer.encryptBytes(message, data[1]);
    if (message.isEmpty())
        return 0;
    FUZZ_CHECK(!cipherText.isEmpty());
    FUZZ_CHECK(writer.decryptBytes(cipherText) == message);
    return 0;
}
