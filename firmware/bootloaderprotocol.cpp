#include "firmware/bootloaderprotocol.h"

#include <QtEndian>

namespace Bootloader {

namespace {

constexpr std::array<uint8_t, CommandTable::SIZE> CODES = {0x00, 0x01, 0x02, 0x09, 0x11, 0x21, 0x31, 0x43, 0x44,
                                                           0x63, 0x73, 0x82, 0x92, 0xA0, 0xA1, 0xA2, 0xA3, 0xA4};

uint32_t le32(const QByteArray &data, int offset)
{
    return qFromLittleEndian<quint32>(reinterpret_cast<const uchar *>(data.constData()) + offset);
}

bool has(const QByteArray &data, int offset, int size)
{
    return data.size() >= offset + size;
}

} // namespace

void CommandTable::reset()
{
    m_supported.fill(false);
    m_supported[CmdGet] = true;
}

uint8_t CommandTable::code(int index)
{
    return index >= 0 && index < SIZE ? CODES[size_t(index)] : 0;
}

bool CommandTable::isSupported(int index) const
{
    return index >= 0 && index < SIZE && m_supported[size_t(index)];
}

void CommandTable::markListed(const QByteArray &codes)
{
    for (char c : codes) {
        for (size_t i = 0; i < CODES.size(); ++i) {
            if (CODES[i] == uint8_t(c)) {
                m_supported[i] = true;
                break;
            }
        }
    }
}

void decodeGet(const QByteArray &data, BootloaderInfo *info, CommandTable *commands)
{
    if (data.isEmpty())
        return;
    info->version = uint8_t(data.at(0));
    commands->markListed(data.mid(1));
}

void decodeGetId(const QByteArray &data, BootloaderInfo *info)
{
    if (data.isEmpty())
        return;
    info->PID = uint8_t(data.at(0));
    if (data.size() > 1)
        info->PID += 256u * uint8_t(data.at(1));
}

void decodeGetInfo(const QByteArray &data, BootloaderInfo *info)
{
    if (!has(data, 0, GET_INFO_LENGTH))
        return;
    info->fead3 = uint8_t(data.at(0));
    info->fead4 = uint8_t(data.at(1));
    info->Mcu = le32(data, 2);
    info->Flash = int32_t(le32(data, 6));
    info->uid1 = le32(data, 10);
    info->uid2 = le32(data, 14);
    info->uid3 = le32(data, 18);
}

void decodeGetSecurity(const QByteArray &data, BootloaderInfo *info)
{
    if (has(data, 0, 4))
        info->Mcu = le32(data, 0);
    if (has(data, 4, 4))
        info->uid1 = le32(data, 4);
    if (has(data, 8, 4))
        info->uid2 = le32(data, 8);
    info->aesPresent = has(data, 12, 1) && data.at(12) != 0;
}

uint8_t xorOf(const QByteArray &bytes)
{
    uint8_t x = 0;
    for (char c : bytes)
        x ^= uint8_t(c);
    return x;
}

QByteArray syncRequest()
{
    return QByteArray::fromHex("f00f");
}

QByteArray commandRequest(uint8_t code)
{
    QByteArray request;
    request.append(char(code));
    request.append(char(code ^ 0xFF));
    return request;
}

QByteArray addressRequest(uint32_t address)
{
    QByteArray request;
    for (int shift = 24; shift >= 0; shift -= 8)
        request.append(char((address >> shift) & 0xFF));
    request.append(char(xorOf(request)));
    return request;
}

QByteArray pageRequest(const QByteArray &page)
{
    QByteArray request(1, char(PAGE_SIZE - 1));
    request.append(page.left(PAGE_SIZE));
    request.append(QByteArray(1 + PAGE_SIZE - request.size(), char(0xFF)));
    request.append(char(xorOf(request)));
    return request;
}

QByteArray aesBlockRequest(const QByteArray &block)
{
    QByteArray request = block.left(AES_BLOCK_SIZE);
    request.append(QByteArray(AES_BLOCK_SIZE - request.size(), '\0'));
    request.append(char(xorOf(request)));
    return request;
}

} // namespace Bootloader
