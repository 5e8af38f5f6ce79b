#pragma once

// Firmware image files for the tests, built the way the maker's tools build them.

#include <QByteArray>
#include <QFile>
#include <QRandomGenerator>
#include <QString>

#include <cstdint>

namespace TestImages {

inline QByteArray randomBytes(int size, quint32 seed)
{
    QRandomGenerator random(seed);
    QByteArray bytes(size, '\0');
    for (char &c : bytes)
        c = char(random.bounded(256));
    return bytes;
}

// Plain image: the last 8 bytes are k0, k1, fead3, fead4 and the checksum, big-endian.
inline QByteArray plainImage(int size, uint8_t fead3 = 0x5A, uint8_t fead4 = 0xC3, quint32 seed = 7)
{
    QByteArray image = randomBytes(size, seed);
    if (size < 8)
        return image;
    const int t = size - 8;
    image[t + 2] = char(fead3);
    image[t + 3] = char(fead4);
    const uint8_t k[4] = {uint8_t(image[t]), uint8_t(image[t + 1]), fead3, fead4};
    uint32_t sum = (uint32_t(k[0]) << 24) | (uint32_t(k[1]) << 16) | (uint32_t(k[2]) << 8) | k[3];
    for (int i = 0; i < t; i += 4) {
        uint32_t word = 0;
        for (int j = 0; j < 4; ++j)
            word = (word << 8) | uint8_t(uint8_t(image[i + j]) ^ k[j]);
        sum += word;
    }
    const uint32_t stored = ~sum;
    for (int j = 0; j < 4; ++j)
        image[t + 4 + j] = char(stored >> (24 - 8 * j));
    return image;
}

// Encrypted image: "BOOTLD91", the key block, variant bytes at 250, little-endian
// checksum at 252, then the (here random) encrypted flash image.
inline QByteArray encryptedImage(int size, uint8_t fead3 = 0x5A, uint8_t fead4 = 0xC3, quint32 seed = 9)
{
    QByteArray file = randomBytes(size, seed);
    file.replace(0, 8, QByteArrayLiteral("BOOTLD91"));
    file[250] = char(fead3);
    file[251] = char(fead4);
    uint32_t sum = 0;
    for (int i = 0; i + 4 <= size; i += 4) {
        if (i == 252)
            continue;
        sum += uint32_t(uint8_t(file[i])) | uint32_t(uint8_t(file[i + 1])) << 8 | uint32_t(uint8_t(file[i + 2])) << 16
               | uint32_t(uint8_t(file[i + 3])) << 24;
    }
    const uint32_t stored = ~sum;
    for (int j = 0; j < 4; ++j)
        file[252 + j] = char(stored >> (8 * j));
    return file;
}

inline bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size();
}

} // namespace TestImages
