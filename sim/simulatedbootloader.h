#pragma once

#include "sim/simconfig.h"

#include <QByteArray>

#include <cstdint>

// The controller's bootloader: the raw byte protocol of the firmware update (sync
// F0 0F, commands as code and complement, ACK 0x79 / NACK 0x1F) and a flash that the
// page writes land in. Fed one received byte at a time; returns what it answers.
class SimulatedBootloader
{
public:
    static constexpr uint8_t ACK = 0x79;
    static constexpr uint8_t NACK = 0x1F;
    static constexpr uint8_t SYNC_1 = 0xF0;
    static constexpr uint8_t SYNC_2 = 0x0F;
    static constexpr int BOOTLOADER_KIB = 16; // the lowest part of the flash is the bootloader's
    static constexpr int PAGE_SIZE = 256;

    enum Command : uint8_t {
        GET = 0x00,
        GET_ID = 0x02,
        GET_INFO = 0x09,
        GO = 0x21,
        WRITE_PAGE = 0x31,
        AES_BEGIN = 0xA0,
        WRITE_AES_PAGE = 0xA1,
        GET_SECURITY = 0xA4,
    };

    SimulatedBootloader(const BootloaderConfig &config, const FaultConfig &faults);

    // Entered after a reset: waits for the sync again; the flash keeps its content.
    void restart();
    QByteArray feed(uint8_t byte, qint64 nowUs);
    // True once GO has been acknowledged: the application is to start.
    bool startRequested() const { return m_startRequested; }

    // The application area as written so far (erased bytes read 0xFF).
    const QByteArray &flash() const { return m_flash; }
    int pagesWritten() const { return m_pagesWritten; }
    // A page was written since the last reset: the application that starts is a new one.
    bool wroteSinceRestart() const { return m_pagesWritten != m_pagesAtRestart; }
    QByteArray commandList() const;
    // Time the last request keeps the bootloader busy before it answers (a page write).
    qint64 takeBusyUs();

private:
    enum class Expect { Sync, Command, Address, Page, AesBlock };

    QByteArray handleCommand(uint8_t command);
    QByteArray handleAddress();
    QByteArray handlePage();
    QByteArray handleAesBlock();
    bool supports(uint8_t command) const;
    void expect(Expect what, int length);

    BootloaderConfig m_config;
    FaultConfig m_faults;
    QByteArray m_flash;
    Expect m_expect = Expect::Sync;
    QByteArray m_request;
    int m_requestLength = 0;   // bytes of the request being collected (0: open ended)
    uint32_t m_address = 0;
    bool m_aesReady = false;
    bool m_startRequested = false;
    qint64 m_lastByteUs = 0;
    int m_pagesWritten = 0;
    int m_pagesAtRestart = 0;
    int m_nacksLeft = 0;
    int m_startNacksLeft = 0;
    qint64 m_busyUs = 0;
};
