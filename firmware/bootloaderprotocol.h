#pragma once

#include <QByteArray>

#include <array>
#include <cstdint>

// The bootloader's raw byte protocol: acknowledgement bytes, the command table with what
// the bootloader offers, the bytes of every request and the decoding of its answers.
namespace Bootloader {

constexpr uint8_t ACK = 0x79;
constexpr uint8_t NACK = 0x1F;
constexpr int PAGE_SIZE = 256;
constexpr int AES_BLOCK_OFFSET = 8;  // in an encrypted image file
constexpr int AES_BLOCK_SIZE = 16;

// Indexes into the command table.
enum CommandIndex : int {
    CmdGet = 0,
    CmdGetId = 2,
    CmdGetInfo = 3,
    CmdStart = 5,
    CmdWritePage = 6,
    CmdAesBegin = 13,
    CmdWriteAesPage = 14,
    CmdGetSecurity = 17,
};

// The 18 commands in their fixed order; only GET is offered until the GET answer lists more.
class CommandTable
{
public:
    static constexpr int SIZE = 18;

    CommandTable() { reset(); }
    void reset();
    static uint8_t code(int index);
    bool isSupported(int index) const;
    // The GET answer's command codes: the first entry of each listed code is marked.
    void markListed(const QByteArray &codes);

private:
    std::array<bool, SIZE> m_supported {};
};

// What the bootloader reports about itself.
struct BootloaderInfo
{
    uint8_t version = 0;
    uint32_t PID = 0;
    uint8_t fead3 = 0;
    uint8_t fead4 = 0;
    uint32_t Mcu = 0;
    int32_t Flash = 0; // KiB
    uint32_t uid1 = 0;
    uint32_t uid2 = 0;
    uint32_t uid3 = 0;
    bool aesPresent = false;
};

// Answer decoders; `data` is the answer without its count byte and acknowledgements.
// Fields an answer is too short for keep their values.
void decodeGet(const QByteArray &data, BootloaderInfo *info, CommandTable *commands);
void decodeGetId(const QByteArray &data, BootloaderInfo *info);
void decodeGetInfo(const QByteArray &data, BootloaderInfo *info);
void decodeGetSecurity(const QByteArray &data, BootloaderInfo *info);
constexpr int GET_INFO_LENGTH = 22; // whatever its count byte says

// Requests.
QByteArray syncRequest();
QByteArray commandRequest(uint8_t code);
QByteArray addressRequest(uint32_t address);
// 0xFF, the page, the XOR of both; a page shorter than 256 bytes is filled with 0xFF.
QByteArray pageRequest(const QByteArray &page);
// The 16 bytes and their XOR.
QByteArray aesBlockRequest(const QByteArray &block);

uint8_t xorOf(const QByteArray &bytes);

} // namespace Bootloader
