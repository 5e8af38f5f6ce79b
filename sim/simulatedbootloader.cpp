#include "sim/simulatedbootloader.h"

#include "sim/simlog.h"

#include <algorithm>

namespace {

constexpr int ADDRESS_REQUEST_SIZE = 5;   // 4 address bytes, most significant first, and their XOR
constexpr int AES_BLOCK_REQUEST_SIZE = 17; // 16 block bytes and their XOR
constexpr int MAX_FLASH_KIB = 16 * 1024;

uint8_t xorOf(const QByteArray &bytes, int from, int count)
{
    uint8_t x = 0;
    for (int i = from; i < from + count; ++i)
        x ^= uint8_t(bytes.at(i));
    return x;
}

void appendLe32(QByteArray &out, uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        out.append(char((value >> (8 * i)) & 0xFF));
}

// ACK, N (count - 1), the data bytes, ACK.
QByteArray dataAnswer(const QByteArray &data)
{
    QByteArray out;
    out.append(char(SimulatedBootloader::ACK));
    out.append(char(data.size() - 1));
    out.append(data);
    out.append(char(SimulatedBootloader::ACK));
    return out;
}

QByteArray single(uint8_t byte)
{
    return QByteArray(1, char(byte));
}

} // namespace

SimulatedBootloader::SimulatedBootloader(const BootloaderConfig &config, const FaultConfig &faults)
    : m_config(config)
    , m_faults(faults)
    , m_nacksLeft(std::max(faults.nackPageTimes, 0))
    , m_startNacksLeft(std::max(faults.nackStartTimes, 0))
{
    const int appKiB = std::clamp(config.flashKiB - BOOTLOADER_KIB, 0, MAX_FLASH_KIB);
    m_flash = QByteArray(appKiB * 1024, char(0xFF));
}

void SimulatedBootloader::restart()
{
    expect(Expect::Sync, 0);
    m_startRequested = false;
    m_aesReady = false;
    m_pagesAtRestart = m_pagesWritten;
}

void SimulatedBootloader::expect(Expect what, int length)
{
    m_expect = what;
    m_request.clear();
    m_requestLength = length;
}

QByteArray SimulatedBootloader::commandList() const
{
    QByteArray list = QByteArray::fromHex("00020921");
    if (m_config.version == 0x91 && m_config.aes)
        return list + QByteArray::fromHex("a0a1a4");
    list.append(char(WRITE_PAGE));
    if (m_config.version == 0x91)
        list.append(char(GET_SECURITY));
    return list;
}

qint64 SimulatedBootloader::takeBusyUs()
{
    const qint64 busy = m_busyUs;
    m_busyUs = 0;
    return busy;
}

bool SimulatedBootloader::supports(uint8_t command) const
{
    return command == GET || commandList().contains(char(command));
}

QByteArray SimulatedBootloader::feed(uint8_t byte, qint64 nowUs)
{
    // A request left incomplete (the host gave up in the middle) is forgotten, so that
    // a later sync is not taken for page data.
    if (!m_request.isEmpty() && nowUs - m_lastByteUs > qint64(m_config.interByteTimeoutMs) * 1000) {
        qCDebug(lcSim) << "SIM: bootloader dropped an incomplete request of" << m_request.size() << "bytes";
        expect(m_expect == Expect::Sync ? Expect::Sync : Expect::Command, 2);
    }
    m_lastByteUs = nowUs;

    if (m_expect == Expect::Sync) {
        if (!m_request.isEmpty() && byte == SYNC_2) {
            expect(Expect::Command, 2);
            return single(ACK);
        }
        m_request = byte == SYNC_1 ? single(SYNC_1) : QByteArray();
        return {};
    }

    m_request.append(char(byte));
    if (m_expect == Expect::Page && m_request.size() == 1)
        m_requestLength = uint8_t(m_request.at(0)) + 3; // N, N + 1 data bytes, checksum
    if (m_request.size() < m_requestLength)
        return {};

    switch (m_expect) {
    case Expect::Command: {
        const uint8_t command = uint8_t(m_request.at(0));
        const uint8_t complement = uint8_t(m_request.at(1));
        expect(Expect::Command, 2);
        if (uint8_t(command ^ complement) != 0xFF)
            return single(NACK);
        if (command == SYNC_1)
            return single(ACK); // a repeated sync
        return handleCommand(command);
    }
    case Expect::Address:
        return handleAddress();
    case Expect::Page:
        return handlePage();
    case Expect::AesBlock:
        return handleAesBlock();
    case Expect::Sync:
        break;
    }
    return {};
}

QByteArray SimulatedBootloader::handleCommand(uint8_t command)
{
    if (!supports(command))
        return single(NACK);
    switch (command) {
    case GET:
        return dataAnswer(single(m_config.version) + commandList());
    case GET_ID: {
        QByteArray id;
        id.append(char(m_config.productId & 0xFF));
        id.append(char(m_config.productId >> 8));
        return dataAnswer(id);
    }
    case GET_INFO: {
        QByteArray info;
        info.append(char(m_config.fead3));
        info.append(char(m_config.fead4));
        appendLe32(info, m_config.mcu);
        appendLe32(info, uint32_t(m_config.flashKiB));
        appendLe32(info, m_config.uid1);
        appendLe32(info, m_config.uid2);
        appendLe32(info, m_config.uid3);
        return dataAnswer(info);
    }
    case GET_SECURITY: {
        QByteArray security;
        appendLe32(security, m_config.mcu);
        appendLe32(security, m_config.uid1);
        appendLe32(security, m_config.uid2);
        security.append(char(m_config.aes ? 1 : 0));
        return dataAnswer(security);
    }
    case GO:
        if (m_startNacksLeft > 0) {
            --m_startNacksLeft;
            return single(NACK);
        }
        m_startRequested = true;
        return single(ACK);
    case AES_BEGIN:
        expect(Expect::AesBlock, AES_BLOCK_REQUEST_SIZE);
        return single(ACK);
    case WRITE_AES_PAGE:
        if (!m_aesReady)
            return single(NACK); // no key block announced
        [[fallthrough]];
    case WRITE_PAGE:
        expect(Expect::Address, ADDRESS_REQUEST_SIZE);
        return single(ACK);
    default:
        return single(NACK);
    }
}

QByteArray SimulatedBootloader::handleAddress()
{
    const QByteArray request = m_request;
    expect(Expect::Command, 2);
    if (xorOf(request, 0, 4) != uint8_t(request.at(4)))
        return single(NACK);
    uint32_t address = 0;
    for (int i = 0; i < 4; ++i)
        address = (address << 8) | uint8_t(request.at(i));
    if (address >= uint32_t(m_flash.size()))
        return single(NACK);
    m_address = address;
    expect(Expect::Page, 1);
    return single(ACK);
}

QByteArray SimulatedBootloader::handlePage()
{
    const QByteArray request = m_request;
    expect(Expect::Command, 2);
    const int dataLength = request.size() - 2;
    if (xorOf(request, 0, dataLength + 1) != uint8_t(request.at(request.size() - 1))) {
        qCDebug(lcSim) << "SIM: bootloader page checksum wrong at" << m_address;
        return single(NACK);
    }
    if (qint64(m_address) + dataLength > m_flash.size())
        return single(NACK);
    if (m_faults.nackPage >= 0 && m_address / PAGE_SIZE == uint32_t(m_faults.nackPage) && m_nacksLeft > 0) {
        --m_nacksLeft;
        return single(NACK);
    }
    m_flash.replace(int(m_address), dataLength, request.mid(1, dataLength));
    ++m_pagesWritten;
    m_busyUs = m_config.pageWriteUs;
    return single(ACK);
}

QByteArray SimulatedBootloader::handleAesBlock()
{
    const QByteArray request = m_request;
    expect(Expect::Command, 2);
    if (xorOf(request, 0, 16) != uint8_t(request.at(16)))
        return single(NACK);
    m_aesReady = true;
    return single(ACK);
}
