#include "firmware/firmwareimage.h"

#include "firmware/firmwarelog.h"
#include "firmware/updateerror.h"

#include <QtEndian>

const QByteArray FirmwareImage::HEADER_MAGIC = QByteArrayLiteral("BOOTLD91");

namespace {

constexpr int TRAILER_SIZE = 8;
constexpr int VARIANT_OFFSET = 250;
constexpr int CHECKSUM_OFFSET = 252;

const uchar *bytesAt(const QByteArray &data, int offset)
{
    return reinterpret_cast<const uchar *>(data.constData()) + offset;
}

} // namespace

FirmwareImage::Layout FirmwareImage::layoutFor(const Bootloader::BootloaderInfo &info)
{
    if (info.version == 0x90 || (info.version == 0x91 && !info.aesPresent))
        return Layout::Plain;
    if (info.version == 0x91)
        return Layout::Encrypted;
    return Layout::Unchecked;
}

qint64 FirmwareImage::availableFlash(const Bootloader::BootloaderInfo &info)
{
    return (qint64(info.Flash) - BOOTLOADER_KIB) * 1024;
}

uint32_t FirmwareImage::plainChecksum(const QByteArray &image)
{
    if (image.size() < TRAILER_SIZE)
        return 0;
    const int trailer = image.size() - TRAILER_SIZE;
    const uint8_t k[4] = {uint8_t(image.at(trailer)), uint8_t(image.at(trailer + 1)), uint8_t(image.at(trailer + 2)),
                          uint8_t(image.at(trailer + 3))};
    uint32_t sum = (uint32_t(k[0]) << 24) + (uint32_t(k[1]) << 16) + (uint32_t(k[2]) << 8) + k[3];
    for (int i = 0; i + 4 <= trailer; i += 4) {
        const uchar *b = bytesAt(image, i);
        sum += (uint32_t(b[0] ^ k[0]) << 24) + (uint32_t(b[1] ^ k[1]) << 16) + (uint32_t(b[2] ^ k[2]) << 8)
               + uint32_t(b[3] ^ k[3]);
    }
    return ~sum;
}

uint32_t FirmwareImage::encryptedChecksum(const QByteArray &file)
{
    uint32_t sum = 0;
    for (int i = 0; i + 4 <= file.size(); i += 4) {
        if (i != CHECKSUM_OFFSET)
            sum += qFromLittleEndian<quint32>(bytesAt(file, i));
    }
    return ~sum;
}

uint32_t FirmwareImage::check(const Bootloader::BootloaderInfo &info) const
{
    switch (m_layout) {
    case Layout::Plain:
        return checkPlain(info);
    case Layout::Encrypted:
        return checkEncrypted(info);
    case Layout::Unchecked:
        break;
    }
    // Nothing to write is never right, whatever the bootloader.
    return m_file.isEmpty() ? UpdateError::Length : UpdateError::None;
}

uint32_t FirmwareImage::checkPlain(const Bootloader::BootloaderInfo &info) const
{
    const int length = m_file.size();
    // An empty file has no trailer to read.
    if (length == 0 || length % SECTOR_SIZE != 0)
        return UpdateError::Length;
    if (length > availableFlash(info))
        return UpdateError::Size;
    const uint8_t fead3 = uint8_t(m_file.at(length - 6));
    const uint8_t fead4 = uint8_t(m_file.at(length - 5));
    if (fead3 != info.fead3 || fead4 != info.fead4) {
        firmwareDebug() << "9.0 m_fead3 " << info.fead3 << " fead3 " << fead3;
        firmwareDebug() << "9.0 m_fead4 " << info.fead4 << " fead4 " << fead4;
        return UpdateError::Variant;
    }
    if (qFromBigEndian<quint32>(bytesAt(m_file, length - 4)) != plainChecksum(m_file))
        return UpdateError::Checksum;
    return UpdateError::None;
}

uint32_t FirmwareImage::checkEncrypted(const Bootloader::BootloaderInfo &info) const
{
    const int length = m_file.size();
    if (length % SECTOR_SIZE != HEADER_SIZE || length == HEADER_SIZE)
        return UpdateError::Length;
    if (length - HEADER_SIZE > availableFlash(info))
        return UpdateError::Size;
    if (!m_file.startsWith(HEADER_MAGIC))
        return UpdateError::Header;
    const uint8_t fead3 = uint8_t(m_file.at(VARIANT_OFFSET));
    const uint8_t fead4 = uint8_t(m_file.at(VARIANT_OFFSET + 1));
    if (fead3 != info.fead3 || fead4 != info.fead4) {
        firmwareDebug() << "9.1 m_fead3 " << info.fead3 << " fead3 " << fead3;
        firmwareDebug() << "9.1 m_fead4 " << info.fead4 << " fead4 " << fead4;
        return UpdateError::Variant;
    }
    if (qFromLittleEndian<quint32>(bytesAt(m_file, CHECKSUM_OFFSET)) != encryptedChecksum(m_file))
        return UpdateError::Checksum;
    return UpdateError::None;
}
