#pragma once

#include <QByteArray>
#include <QRandomGenerator>
#include <QString>

#include <array>
#include <cstdint>

// A small symmetric cipher with a 64-bit key. It hides records from casual reading
// and detects damage; it makes no claim of cryptographic strength.
//
// Cipher text: version 0x03, flags (0x01 compressed, 0x02 CRC-16, 0x04 SHA-1), body.
// Body before enciphering: random byte, integrity (CRC-16 big-endian / SHA-1 / none),
// payload (plain text, or qCompress level 9 of it). Every body byte is XORed with key
// part (i mod 8) and with the previous enciphered byte.
// Text form: standard base64 with padding.
//
// A plain value class, created on the stack for each export or import.
class PayloadCipher
{
public:
    enum CompressionMode { CompressIfSmaller = 0, CompressAlways = 1, CompressNever = 2 };
    enum IntegrityProtectionMode { IntegrityNone = 0, IntegrityCrc16 = 1, IntegritySha1 = 2 };
    enum Error {
        CipherOk = 0,
        CipherNoKey = 1,
        CipherBadVersion = 2,
        CipherIntegrityFailed = 3,
        CipherDecompressFailed = 4,     // the integrity check passed, yet zlib refused the body
    };

    static constexpr uint8_t VERSION = 0x03;
    static constexpr uint8_t FLAG_COMPRESSED = 0x01;
    static constexpr uint8_t FLAG_CHECKSUM = 0x02;
    static constexpr uint8_t FLAG_HASH = 0x04;

    PayloadCipher();                        // no key: every operation fails with CipherNoKey
    explicit PayloadCipher(uint64_t key);   // any value, 0 included, is a valid key

    void setKey(uint64_t key);
    uint64_t key() const { return m_key; }

    void setCompressionMode(CompressionMode mode) { m_compressionMode = mode; }
    CompressionMode compressionMode() const { return m_compressionMode; }
    void setIntegrityProtectionMode(IntegrityProtectionMode mode) { m_protectionMode = mode; }
    IntegrityProtectionMode integrityProtectionMode() const { return m_protectionMode; }

    // Cipher text, or empty on error.
    QByteArray encryptBytes(const QByteArray &plain);
    QByteArray encryptBytes(const QString &plain);          // the string as UTF-8
    // The same with a given random byte instead of a drawn one: a reproducible cipher text.
    QByteArray encryptBytes(const QByteArray &plain, uint8_t randomByte);
    // Base64 text form, or empty when the cipher text is empty.
    QString encryptText(const QByteArray &plain);
    QString encryptText(const QString &plain);

    // Plain text, or empty on error (see lastError()).
    QByteArray decryptBytes(const QByteArray &cipherData);
    QByteArray decryptBytes(const QString &cipherText);     // base64 text form
    QString decryptText(const QByteArray &cipherData);      // plain text as UTF-8
    QString decryptText(const QString &cipherText);

    Error lastError() const { return m_lastError; }

    // Longest plain text a compressed body may inflate to; a body announcing or
    // inflating to more is refused (CipherDecompressFailed) without inflating the rest.
    void setMaxPlainSize(qint64 bytes) { m_maxPlainSize = bytes; }
    qint64 maxPlainSize() const { return m_maxPlainSize; }
    static constexpr qint64 DEFAULT_MAX_PLAIN_SIZE = 16 * 1024 * 1024;

private:
    bool hasKey() const { return m_hasKey; }
    void encipher(QByteArray &body) const;
    void decipher(QByteArray &body) const;
    bool checkIntegrity(uint8_t flags, QByteArray &rest) const;

    uint64_t m_key = 0;
    std::array<uint8_t, 8> m_keyParts {};
    bool m_hasKey = false;
    CompressionMode m_compressionMode = CompressIfSmaller;
    IntegrityProtectionMode m_protectionMode = IntegrityCrc16;
    Error m_lastError = CipherOk;
    qint64 m_maxPlainSize = DEFAULT_MAX_PLAIN_SIZE;
    QRandomGenerator m_random;
};
