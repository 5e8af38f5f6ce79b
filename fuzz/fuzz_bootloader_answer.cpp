// The bootloader's answers. The first byte picks the target: one of the four answer
// decoders (a field is only ever taken from bytes the answer holds; what it is too short
// for keeps its value), or the update sequencer fed the rest byte by byte as the
// bootloader's side of an update (whatever the bootloader says, every request sent is
// well formed, and every page sent is the image's page at the address sent before it).
#include "tests/common/channelplayer.h"
#include "firmware/bootloaderprotocol.h"
#include "firmware/firmwareimage.h"
#include "firmware/updatefwhelper.h"
#include "fuzzcheck.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QtEndian>

#include <cstddef>
#include <cstdint>

using namespace Bootloader;

namespace {

constexpr uint32_t SENTINEL = 0xA5A5A5A5u;

BootloaderInfo sentinelInfo()
{
    BootloaderInfo info;
    info.version = 0xA5;
    info.PID = SENTINEL;
    info.fead3 = 0xA5;
    info.fead4 = 0xA5;
    info.Mcu = SENTINEL;
    info.Flash = int32_t(SENTINEL);
    info.uid1 = SENTINEL;
    info.uid2 = SENTINEL;
    info.uid3 = SENTINEL;
    info.aesPresent = true;
    return info;
}

uint32_t le32At(const QByteArray &data, int offset)
{
    return qFromLittleEndian<quint32>(reinterpret_cast<const uchar *>(data.constData()) + offset);
}

// Takes `field` from the answer when it holds bytes [offset, offset + 4), else the sentinel.
void checkWord(uint32_t field, const QByteArray &data, int offset)
{
    FUZZ_CHECK(field == (data.size() >= offset + 4 ? le32At(data, offset) : SENTINEL));
}

void checkGet(const QByteArray &data)
{
    BootloaderInfo info = sentinelInfo();
    CommandTable table;
    decodeGet(data, &info, &table);
    FUZZ_CHECK(info.version == (data.isEmpty() ? 0xA5 : uint8_t(data.at(0))));
    for (int i = 0; i < CommandTable::SIZE; ++i) {
        const bool listed = data.mid(1).contains(char(CommandTable::code(i)));
        // A code listed twice in the table (none is) would mark its first entry only.
        FUZZ_CHECK(table.isSupported(i) == (i == CmdGet || listed));
    }
    FUZZ_CHECK(!table.isSupported(-1) && !table.isSupported(CommandTable::SIZE));
}

void checkGetId(const QByteArray &data)
{
    BootloaderInfo info = sentinelInfo();
    decodeGetId(data, &info);
    if (data.isEmpty())
        FUZZ_CHECK(info.PID == SENTINEL);
    else
        FUZZ_CHECK(info.PID == uint8_t(data.at(0)) + (data.size() > 1 ? 256u * uint8_t(data.at(1)) : 0u));
}

void checkGetInfo(const QByteArray &data)
{
    BootloaderInfo info = sentinelInfo();
    decodeGetInfo(data, &info);
    const bool whole = data.size() >= GET_INFO_LENGTH;
    FUZZ_CHECK(info.fead3 == (whole ? uint8_t(data.at(0)) : 0xA5));
    FUZZ_CHECK(info.fead4 == (whole ? uint8_t(data.at(1)) : 0xA5));
    const QByteArray used = whole ? data : QByteArray();
    checkWord(info.Mcu, used, 2);
    checkWord(uint32_t(info.Flash), used, 6);
    checkWord(info.uid1, used, 10);
    checkWord(info.uid2, used, 14);
    checkWord(info.uid3, used, 18);
    FUZZ_CHECK(info.version == 0xA5 && info.PID == SENTINEL && info.aesPresent);
}

void checkGetSecurity(const QByteArray &data)
{
    BootloaderInfo info = sentinelInfo();
    decodeGetSecurity(data, &info);
    checkWord(info.Mcu, data, 0);
    checkWord(info.uid1, data, 4);
    checkWord(info.uid2, data, 8);
    FUZZ_CHECK(info.aesPresent == (data.size() > 12 && data.at(12) != 0));
    FUZZ_CHECK(info.uid3 == SENTINEL && info.fead3 == 0xA5 && info.Flash == int32_t(SENTINEL));
}

// An image every bootloader version takes: 600 bytes, so the last page is short. Written
// once per run, removed when the run ends.
struct ImageFile
{
    const QString path = QDir::temp().filePath(
        QStringLiteral("kordo_fuzz_bootloader_%1.bin").arg(QCoreApplication::applicationPid()));

    ImageFile()
    {
        QByteArray image(600, '\0');
        for (int i = 0; i < image.size(); ++i)
            image[i] = char(i * 7);
        QFile out(path);
        FUZZ_CHECK(out.open(QIODevice::WriteOnly | QIODevice::Truncate) && out.write(image) == image.size());
    }
    ~ImageFile() { QFile::remove(path); }
};

const QString &imagePath()
{
    static const ImageFile file;
    return file.path;
}

bool isCommandRequest(const QByteArray &request)
{
    if (request.size() != 2 || uint8_t(request.at(1)) != uint8_t(request.at(0) ^ 0xFF))
        return false;
    for (int i = 0; i < CommandTable::SIZE; ++i) {
        if (CommandTable::code(i) == uint8_t(request.at(0)))
            return true;
    }
    return false;
}

// The helper's requests as the bootloader sees them.
struct RequestChecker
{
    QByteArray image;
    int lastAddress = -1;
    int progress = 0;

    void check(const QByteArray &request)
    {
        FUZZ_CHECK(!request.isEmpty());
        if (request == syncRequest() || isCommandRequest(request))
            return;
        const uint8_t last = uint8_t(request.at(request.size() - 1));
        FUZZ_CHECK(xorOf(request.left(request.size() - 1)) == last);
        if (request.size() == 5) {
            lastAddress = int(qFromBigEndian<quint32>(reinterpret_cast<const uchar *>(request.constData())));
            FUZZ_CHECK(lastAddress % PAGE_SIZE == 0 && lastAddress < image.size());
            return;
        }
        if (request.size() == AES_BLOCK_SIZE + 1)
            return;
        FUZZ_CHECK(request.size() == PAGE_SIZE + 2 && uint8_t(request.at(0)) == PAGE_SIZE - 1);
        FUZZ_CHECK(lastAddress >= 0);
        QByteArray page = image.mid(lastAddress, PAGE_SIZE);
        page.append(QByteArray(PAGE_SIZE - page.size(), char(0xFF)));
        FUZZ_CHECK(request.mid(1, PAGE_SIZE) == page);
    }
};

void checkSequencer(const QByteArray &bootloaderBytes)
{
    QFile file(imagePath());
    FUZZ_CHECK(file.open(QIODevice::ReadOnly));
    RequestChecker checker;
    checker.image = file.readAll();
    RequestChannel requests(QStringLiteral("UpdateFwHelper"));
    ChannelPlayer line(&requests); // frames the bytes as the request line does
    UpdateFwHelper helper(&requests);
    QObject::connect(&requests, &RequestChannel::bytesSent,
                     [&checker](const QByteArray &request) { checker.check(request); });
    QObject::connect(&helper, &UpdateFwHelper::updateProgressBar, [](int value, int min, int max, const QString &) {
        FUZZ_CHECK(min <= max && value >= min && (max == 0 || value <= max));
    });
    int finished = 0;
    QObject::connect(&helper, &UpdateFwHelper::updateFinished, [&finished](bool, uint32_t) { ++finished; });
    helper.startUpdate(imagePath());
    helper.updateTick();
    line.feed(bootloaderBytes);
    helper.updateTick(); // reports a failure the bytes caused
    FUZZ_CHECK(finished <= 1);
    FUZZ_CHECK(helper.state() != UpdateFwHelper::UpdateFailed);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    const QByteArray answer(reinterpret_cast<const char *>(data + 1), int(size - 1));
    switch (data[0] % 5) {
    case 0:
        checkGet(answer);
        break;
    case 1:
        checkGetId(answer);
        break;
    case 2:
        checkGetInfo(answer);
        break;
    case 3:
        checkGetSecurity(answer);
        break;
    default:
        checkSequencer(answer);
        break;
    }
    return 0;
}
