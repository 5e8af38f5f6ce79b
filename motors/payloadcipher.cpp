#include "motors/payloadcipher.h"

#include "motors/motorslog.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QtEndian>

namespace {

constexpr int HEADER_SIZE = 2;      // version, flags
constexpr int CHECKSUM_SIZE = 2;
constexpr int HASH_SIZE = 20;       // SHA-1
constexpr int RANDOM_SIZE = 1;
// zlib cannot expand data by more than about 1032:1; a qCompress header announcing
// more than this is forged and would only make qUncompress allocate in vain.
constexpr qint64 MAX_ZLIB_RATIO = 1032;

quint16 crc16(const QByteArray &data)
{
    return qChecksum(data.constData(), uint(data.size()), Qt::ChecksumIso3309);
}

QByteArray sha1(const QByteArray &data)
{
    return QCryptographicHash::hash(data, QCryptographicHash::Sha1);
}

// Seeded from the clock, as each cipher reseeds: the random byte only varies the text.
quint32 clockSeed()
{
    return quint32(QDateTime::currentMSecsSinceEpoch() & 0xFFFF);
}

bool plausibleCompressedSize(const QByteArray &compressed)
{
    if (compressed.size() < 4)
        return false;
    const quint32 announced = qFromBigEndian<quint32>(compressed.constData());
    return qint64(announced) <= qint64(compressed.size()) * MAX_ZLIB_RATIO;
}

} // namespace

PayloadCipher::PayloadCipher()
    : m_random(clockSeed())
{
}

PayloadCipher::PayloadCipher(uint64_t key)
    : m_random(clockSeed())
{
    setKey(key);
}

void PayloadCipher::setKey(uint64_t key)
{
    m_key = key;
    for (int i = 0; i < 8; ++i)
        m_keyParts[size_t(i)] = uint8_t((key >> (8 * i)) & 0xFF);
    m_hasKey = true;
}

QByteArray PayloadCipher::encryptBytes(const QByteArray &plain)
{
    return encryptBytes(plain, uint8_t(m_random.generate() & 0xFF));
}

QByteArray PayloadCipher::encryptBytes(const QString &plain)
{
    return encryptBytes(plain.toUtf8());
}

QByteArray PayloadCipher::encryptBytes(const QByteArray &plain, uint8_t randomByte)
{
    if (!hasKey()) {
        qCWarning(lcMotors) << "No key set.";
        m_lastError = CipherNoKey;
        return QByteArray();
    }

    uint8_t flags = 0;
    QByteArray payload = plain;
    if (m_compressionMode == CompressAlways) {
        payload = qCompress(plain, 9);
        flags |= FLAG_COMPRESSED;
    } else if (m_compressionMode == CompressIfSmaller) {
        const QByteArray compressed = qCompress(plain, 9);
        if (compressed.size() < plain.size()) {
            payload = compressed;
            flags |= FLAG_COMPRESSED;
        }
    }

    QByteArray integrity;
    if (m_protectionMode == IntegrityCrc16) {
        flags |= FLAG_CHECKSUM;
        integrity.resize(CHECKSUM_SIZE);
        qToBigEndian<quint16>(crc16(payload), integrity.data());
    } else if (m_protectionMode == IntegritySha1) {
        flags |= FLAG_HASH;
        integrity = sha1(payload);
    }

    QByteArray body;
    body.reserve(RANDOM_SIZE + integrity.size() + payload.size());
    body.append(char(randomByte)).append(integrity).append(payload);
    encipher(body);

    QByteArray result;
    result.reserve(HEADER_SIZE + body.size());
    result.append(char(VERSION)).append(char(flags)).append(body);
    m_lastError = CipherOk;
    return result;
}

QString PayloadCipher::encryptText(const QByteArray &plain)
{
    const QByteArray cipherData = encryptBytes(plain);
    if (cipherData.isEmpty())
        return QString();
    return QString::fromLatin1(cipherData.toBase64());
}

QString PayloadCipher::encryptText(const QString &plain)
{
    return encryptText(plain.toUtf8());
}

QByteArray PayloadCipher::decryptBytes(const QByteArray &cipherData)
{
    if (!hasKey()) {
        qCWarning(lcMotors) << "No key set.";
        m_lastError = CipherNoKey;
        return QByteArray();
    }
    // Too short to be a cipher text: reported as such, so that a caller checking the
    // error never reads the success of an earlier call.
    if (cipherData.size() < HEADER_SIZE + RANDOM_SIZE) {
        m_lastError = CipherBadVersion;
        return QByteArray();
    }
    if (uint8_t(cipherData.at(0)) != VERSION) {
        qCWarning(lcMotors) << "Invalid version or not a cyphertext.";
        m_lastError = CipherBadVersion;
        return QByteArray();
    }

    const uint8_t flags = uint8_t(cipherData.at(1));
    QByteArray body = cipherData.mid(HEADER_SIZE);
    decipher(body);
    QByteArray rest = body.mid(RANDOM_SIZE);

    if (!checkIntegrity(flags, rest)) {
        m_lastError = CipherIntegrityFailed;
        return QByteArray();
    }

    if (flags & FLAG_COMPRESSED) {
        if (!plausibleCompressedSize(rest)) {
            m_lastError = CipherDecompressFailed;
            return QByteArray();
        }
        const QByteArray uncompressed = qUncompress(rest);
        // A compressed form of empty data still announces length 0; anything else that
        // comes back empty is a zlib failure.
        if (uncompressed.isEmpty() && qFromBigEndian<quint32>(rest.constData()) != 0) {
            m_lastError = CipherDecompressFailed;
            return QByteArray();
        }
        rest = uncompressed;
    }

    m_lastError = CipherOk;
    return rest;
}

QByteArray PayloadCipher::decryptBytes(const QString &cipherText)
{
    return decryptBytes(QByteArray::fromBase64(cipherText.toLatin1()));
}

QString PayloadCipher::decryptText(const QByteArray &cipherData)
{
    return QString::fromUtf8(decryptBytes(cipherData));
}

QString PayloadCipher::decryptText(const QString &cipherText)
{
    return QString::fromUtf8(decryptBytes(cipherText));
}

void PayloadCipher::encipher(QByteArray &body) const
{
    uint8_t previous = 0;
    for (int i = 0; i < body.size(); ++i) {
        const uint8_t enciphered = uint8_t(body.at(i)) ^ m_keyParts[size_t(i % 8)] ^ previous;
        body[i] = char(enciphered);
        previous = enciphered;
    }
}

void PayloadCipher::decipher(QByteArray &body) const
{
    uint8_t previous = 0;
    for (int i = 0; i < body.size(); ++i) {
        const uint8_t enciphered = uint8_t(body.at(i));
        body[i] = char(enciphered ^ previous ^ m_keyParts[size_t(i % 8)]);
        previous = enciphered;
    }
}

// Checks and strips the integrity part. The checksum is tested before the hash, so a
// text carrying both flags is checked by its checksum only.
bool PayloadCipher::checkIntegrity(uint8_t flags, QByteArray &rest) const
{
    if (flags & FLAG_CHECKSUM) {
        if (rest.size() < CHECKSUM_SIZE)
            return false;
        const quint16 stored = qFromBigEndian<quint16>(rest.constData());
        rest.remove(0, CHECKSUM_SIZE);
        return stored == crc16(rest);
    }
    if (flags & FLAG_HASH) {
        if (rest.size() < HASH_SIZE)
            return false;
        const QByteArray stored = rest.left(HASH_SIZE);
        rest.remove(0, HASH_SIZE);
        return stored == sha1(rest);
    }
    return true;
}
