// The firmware image checks. The first byte picks the bootloader (0x90, 0x91 plain,
// 0x91 encrypted, another version) and whether the harness pads the file to a whole
// length and seals it (variant bytes, header and checksum written by an independent
// implementation here); the second byte is the flash size in KiB. Invariants: an accepted
// image is cut into pages that cover exactly the image, each 256 bytes for a checked
// layout, at increasing addresses; a correctly sealed image that fits is accepted; one
// changed byte of a sealed image is refused.
#include "firmware/bootloaderprotocol.h"
#include "firmware/firmwareimage.h"
#include "firmware/updateerror.h"
#include "fuzzcheck.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <iterator>

using namespace Bootloader;

namespace {

constexpr uint8_t FEAD3 = 0x5A;
constexpr uint8_t FEAD4 = 0xC3;
constexpr int MAX_FILE = 64 * 1024 + FirmwareImage::HEADER_SIZE;

uint32_t bigEndianAt(const QByteArray &bytes, int offset)
{
    uint32_t word = 0;
    for (int j = 0; j < 4; ++j)
        word = (word << 8) | uint8_t(bytes.at(offset + j));
    return word;
}

uint32_t littleEndianAt(const QByteArray &bytes, int offset)
{
    uint32_t word = 0;
    for (int j = 3; j >= 0; --j)
        word = (word << 8) | uint8_t(bytes.at(offset + j));
    return word;
}

// Plain: the last 8 bytes are k0, k1, fead3, fead4 and the big-endian checksum.
void sealPlain(QByteArray &image)
{
    const int t = image.size() - 8;
    image[t + 2] = char(FEAD3);
    image[t + 3] = char(FEAD4);
    const uint32_t key = bigEndianAt(image, t);
    uint32_t sum = key;
    for (int i = 0; i < t; i += 4)
        sum += bigEndianAt(image, i) ^ key;
    const uint32_t stored = ~sum;
    for (int j = 0; j < 4; ++j)
        image[t + 4 + j] = char(stored >> (24 - 8 * j));
}

// Encrypted: "BOOTLD91", variant bytes at 250, the little-endian checksum at 252.
void sealEncrypted(QByteArray &file)
{
    file.replace(0, FirmwareImage::HEADER_MAGIC.size(), FirmwareImage::HEADER_MAGIC);
    file[250] = char(FEAD3);
    file[251] = char(FEAD4);
    uint32_t sum = 0;
    for (int i = 0; i + 4 <= file.size(); i += 4) {
        if (i != 252)
            sum += littleEndianAt(file, i);
    }
    const uint32_t stored = ~sum;
    for (int j = 0; j < 4; ++j)
        file[252 + j] = char(stored >> (8 * j));
}

// Bytes a seal does not write: changing one of them must change the checksum.
bool isCoveredContent(FirmwareImage::Layout layout, int size, int position)
{
    if (layout == FirmwareImage::Layout::Plain)
        return position < size - 8;
    return position >= FirmwareImage::HEADER_MAGIC.size() && (position < 250 || position >= 256);
}

void checkPages(const FirmwareImage &image, const QByteArray &file)
{
    const bool checked = image.layout() != FirmwareImage::Layout::Unchecked;
    QByteArray covered;
    for (int page = 0; page < image.pageCount(); ++page) {
        const QByteArray bytes = image.pageAt(page * PAGE_SIZE);
        FUZZ_CHECK(!bytes.isEmpty() && bytes.size() <= PAGE_SIZE);
        if (checked || page + 1 < image.pageCount())
            FUZZ_CHECK(bytes.size() == PAGE_SIZE);
        const QByteArray request = pageRequest(bytes);
        FUZZ_CHECK(request.size() == PAGE_SIZE + 2);
        FUZZ_CHECK(xorOf(request) == 0); // the last byte is the XOR of all before it
        covered += bytes;
    }
    FUZZ_CHECK(covered == file.mid(image.imageStart()));
    if (checked)
        FUZZ_CHECK(image.imageLength() % FirmwareImage::SECTOR_SIZE == 0);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 2)
        return 0;
    BootloaderInfo info;
    const int kind = data[0] & 3;
    const bool seal = data[0] & 4;
    info.version = kind == 0 ? 0x90 : kind == 3 ? 0x92 : 0x91;
    info.aesPresent = kind == 2;
    info.fead3 = FEAD3;
    info.fead4 = FEAD4;
    info.Flash = data[1];
    const FirmwareImage::Layout layout = FirmwareImage::layoutFor(info);
    const bool encrypted = layout == FirmwareImage::Layout::Encrypted;
    QByteArray file(reinterpret_cast<const char *>(data + 2), int(size - 2));

    const bool sealable = seal && layout != FirmwareImage::Layout::Unchecked;
    if (sealable) {
        // Padded to whole sectors (after the header), at most 64 KiB of image.
        const int start = encrypted ? FirmwareImage::HEADER_SIZE : 0;
        const int sectors = qBound(1, (int(file.size()) - start + FirmwareImage::SECTOR_SIZE - 1)
                                          / FirmwareImage::SECTOR_SIZE, 16);
        file = file.left(qMin(MAX_FILE, start + sectors * FirmwareImage::SECTOR_SIZE));
        file.append(QByteArray(start + sectors * FirmwareImage::SECTOR_SIZE - file.size(), char(0xFF)));
        encrypted ? sealEncrypted(file) : sealPlain(file);
    }

    const FirmwareImage image(file, layout);
    const uint32_t verdict = image.check(info);
    const uint32_t known[] = {UpdateError::None,    UpdateError::Length,  UpdateError::Size,
                              UpdateError::Header,  UpdateError::Variant, UpdateError::Checksum};
    FUZZ_CHECK(std::find(std::begin(known), std::end(known), verdict) != std::end(known));
    if (verdict == UpdateError::None) {
        FUZZ_CHECK(!file.isEmpty());
        checkPages(image, file);
        if (layout != FirmwareImage::Layout::Unchecked)
            FUZZ_CHECK(image.imageLength() <= FirmwareImage::availableFlash(info));
        if (encrypted)
            FUZZ_CHECK(file.startsWith(FirmwareImage::HEADER_MAGIC));
    }
    if (!sealable)
        return 0;
    const bool fits = image.imageLength() <= FirmwareImage::availableFlash(info);
    FUZZ_CHECK(verdict == (fits ? UpdateError::None : UpdateError::Size));
    if (!fits || size < 6)
        return 0;
    // One changed byte, at a position and with a difference the input chooses.
    const int position = int((uint32_t(data[2]) << 8 | data[3]) % uint32_t(file.size()));
    const char difference = char(data[4] ? data[4] : 1);
    if (!isCoveredContent(layout, int(file.size()), position))
        return 0;
    QByteArray changed = file;
    changed[position] = char(changed.at(position) ^ difference);
    FUZZ_CHECK(FirmwareImage(changed, layout).check(info) == UpdateError::Checksum);
    return 0;
}
