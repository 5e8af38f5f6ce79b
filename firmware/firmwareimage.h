#pragma once

#include "firmware/bootloaderprotocol.h"

#include <QByteArray>

#include <cstdint>

// A firmware image file checked against what the bootloader reported, cut into pages.
//
// Plain image (bootloader 0x90, or 0x91 without encryption): the flash image itself, a
// whole number of 4096-byte sectors, ending in a trailer of two key bytes, the variant
// bytes and a checksum (most significant byte first). Encrypted image (0x91 with
// encryption): a 256-byte header ("BOOTLD91", the key block, the variant bytes at 250,
// a little-endian checksum at 252), then the encrypted flash image. Other bootloader
// versions take the file as it is.
class FirmwareImage
{
public:
    enum class Layout { Plain, Encrypted, Unchecked };

    static constexpr int SECTOR_SIZE = 4096;
    static constexpr int HEADER_SIZE = 256;
    static constexpr int BOOTLOADER_KIB = 16;
    static const QByteArray HEADER_MAGIC; // "BOOTLD91"

    static Layout layoutFor(const Bootloader::BootloaderInfo &info);
    // Application flash the bootloader leaves free, in bytes.
    static qint64 availableFlash(const Bootloader::BootloaderInfo &info);

    // The checksums as stored in the image (computed from everything else).
    static uint32_t plainChecksum(const QByteArray &image);
    static uint32_t encryptedChecksum(const QByteArray &file);

    FirmwareImage() = default;
    FirmwareImage(const QByteArray &file, Layout layout) : m_file(file), m_layout(layout) {}

    // 0 when the image may be written, else the error code (UpdateError).
    uint32_t check(const Bootloader::BootloaderInfo &info) const;

    Layout layout() const { return m_layout; }
    qint64 fileSize() const { return m_file.size(); }
    // Where the pages start in the file, and how many bytes they cover.
    int imageStart() const { return m_layout == Layout::Encrypted ? HEADER_SIZE : 0; }
    int imageLength() const { return int(m_file.size()) - imageStart(); }
    int pageCount() const { return (imageLength() + Bootloader::PAGE_SIZE - 1) / Bootloader::PAGE_SIZE; }
    // The 256 bytes written at image offset `position` (the last page may be shorter).
    QByteArray pageAt(int position) const { return m_file.mid(imageStart() + position, Bootloader::PAGE_SIZE); }
    QByteArray aesBlock() const { return m_file.mid(Bootloader::AES_BLOCK_OFFSET, Bootloader::AES_BLOCK_SIZE); }

private:
    uint32_t checkPlain(const Bootloader::BootloaderInfo &info) const;
    uint32_t checkEncrypted(const Bootloader::BootloaderInfo &info) const;

    QByteArray m_file;
    Layout m_layout = Layout::Unchecked;
};
