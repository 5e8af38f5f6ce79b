#include "motors/payloadcipher.h"

#include "motors/motorslog.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QtEndian>

#include <algorithm>

#include <zlib.h>

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

constexpr int LENGTH_PREFIX_SIZE = 4;     // qCompress: big-endian length, then the zlib stream

// Inflates the qCompress form into at most its announced length, and that no larger than
// `limit`. Stops and fails as soon as the output would grow past it (a forged length in
// front of a stream that inflates far more), and on a broken or short stream, so no
// input makes it allocate or work beyond the limit. qUncompress would grow its buffer
// until the stream ends.
bool boundedUncompress(const QByteArray &compressed, qint64 limit, QByteArray *out)
{
    if (compressed.size() < LENGTH_PREFIX_SIZE)
        return false;
    const quint32 announced = qFromBigEndian<quint32>(compressed.constData());
    const qint64 ratioLimit = qint64(compressed.size()) * MAX_ZLIB_RATIO;
    if (qint64(announced) > std::min(limit, ratioLimit))
        return false;
    if (announced == 0 && compressed.size() == LENGTH_PREFIX_SIZE) {
        out->clear();   // qCompress writes empty data as the length alone
        return true;
    }

    QByteArray result(int(announced), Qt::Uninitialized);
    char spare = 0;     // zlib wants a valid pointer even for no room at all
    z_stream stream {};
    stream.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(compressed.constData())) + LENGTH_PREFIX_SIZE;
    stream.avail_in = uInt(compressed.size() - LENGTH_PREFIX_SIZE);
    stream.next_out = reinterpret_cast<Bytef *>(announced > 0 ? result.data() : &spare);
    stream.avail_out = uInt(announced);
    if (inflateInit(&stream) != Z_OK)
        return false;
    // One call: with the whole input and exactly the announced room, anything but the
    // end of the stream means broken, short or longer than announced.
    const int status = inflate(&stream, Z_FINISH);
    const bool complete = status == Z_STREAM_END && stream.total_out == announced;
    inflateEnd(&stream);
    if (!complete)
        return false;
    *out = result;
    return true;
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
        QByteArray uncompressed;
        if (!boundedUncompress(rest, m_maxPlainSize, &uncompressed)) {
            qCDebug(lcMotors) << "Compressed body refused: broken, or longer than" << m_maxPlainSize << "bytes.";
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
