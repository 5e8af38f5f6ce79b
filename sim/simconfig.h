#pragma once

#include <QtGlobal>

#include <cstdint>
#include <map>

// Everything the simulated controller can be set up with. The defaults make a
// plausible small ESC: a 6-cell pack driving a 900 Kv motor with 7 pole pairs.

struct MotorConfig
{
    double kv = 900.0;            // rpm per volt
    int cells = 6;                // LiPo cells in series
    int polePairs = 7;
    double rs = 0.060;            // phase resistance, Ohm
    double ls = 12e-6;            // phase inductance, H
    double maxCurrent = 30.0;     // A
    double noLoadCurrent = 0.6;   // A
    double cellVoltage = 3.95;    // resting voltage of one cell, V
    double ambientC = 25.0;
    uint16_t pwmInUs = 1000;      // pulse width seen on the PWM input (receiver at idle)
};

struct IdentityConfig
{
    uint32_t serialNumber = 12345;
    uint8_t fwMajor = 1;
    uint8_t fwMiddle = 2;
    uint8_t fwMinor = 3;
    uint8_t hwBuild = 2;
    uint8_t address = 1;          // bus address; 0..7 is also the motion record's address
    int shortLayoutLength = 0;    // 0: long identity layout; 2..13: short layout of that length
    bool startRunning = false;    // already in control/telemetry mode at power-up
    uint32_t motorSeconds = 12345; // motor hours counter at power-up
    bool blankMotor = false;      // no motor stored yet (all motor parameters zero)
};

struct IdentConfig
{
    double timeScale = 1.0;       // 0.1 runs the identification ten times faster
    int predictedErrorCode = 0;   // 0 none, 4 (resistance current) or 7 (flux frequency)
    int failAtState = 0;          // estimator state (1..11) whose step goes bad; 0 none
};

struct BootloaderConfig
{
    bool startInBootloader = false;
    uint8_t version = 0x91;       // 0x90, 0x91, or another (0x92: images taken as they are)
    bool aes = false;             // 0x91 only: encrypted images, commands 0xA0/0xA1
    uint16_t productId = 0x0413;
    uint8_t fead3 = 0x5A;         // variant bytes an image must match
    uint8_t fead4 = 0xC3;
    uint32_t mcu = 0x10016438;
    int32_t flashKiB = 64;        // reported flash size; the lowest 16 KiB hold the bootloader
    uint32_t uid1 = 0x00430031;
    uint32_t uid2 = 0x3437510B;
    uint32_t uid3 = 0x30383830;
    int interByteTimeoutMs = 1000; // a request left incomplete this long is dropped
    int pageWriteUs = 0;          // time to write one page into the flash before the ACK
    bool newVersionAfterUpdate = false; // the application started by the bootloader reports
                                        // its minor version one higher (a new firmware)
    bool settingsChangeOnUpdate = false; // the application started by the bootloader comes with
                                         // other settings: Kp 0.3 and a time to leave of 1 s
    uint32_t serialAfterUpdate = 0;      // not 0: the application started by the bootloader reports
                                         // this serial number (another controller's identity)
};

struct FaultConfig
{
    quint32 seed = 1;
    int answerDelayMs = 0;
    int identityAfterMs = 0;       // identity requests stay unanswered this long after the first one since power-up or a start
    double dropFraction = 0.0;     // answers left out, 0..1
    double corruptFraction = 0.0;  // answer frames sent with a wrong checksum, 0..1
    int silentAfterFrames = -1;    // stop answering after this many answered frames
    int nackPage = -1;             // page index (address / 256) whose data is refused
    int nackPageTimes = 1;         // how many times that page is refused
    int nackStartTimes = 0;        // how many times the start command (GO) is refused
    int vanishAfterMs = -1;        // the port disappears after this time
    bool paceOutput = false;       // bytes take their real time on the line
    int stallAfterMs = -1;         // stall report after this time
    int errorAfterMs = -1;         // device error report after this time
    uint8_t errorCode = 3;         // error bit + 1 ("Undervoltage")

    // Named, repeatable faults by message id, beside the random fractions above.
    std::map<uint8_t, int> dropFirstAnswers;   // leave out the first N answers to message X
    std::map<uint8_t, int> refuseNext;         // answer the next N requests of X with ANSWER_REFUSED, unapplied
    int silentAfterMessage = -1;               // answer message X once more, then nothing at all
    int storeOtherKp = 0;                      // the next N motion writes are accepted and confirmed,
                                               // but stored with Kp one step (1/1024) higher

    // Spoilt answer frames, beside the dropped and corrupted ones.
    double garbageFraction = 0.0;     // answer frames preceded by 1..8 stray bytes, 0..1
    double wrongIdFraction = 0.0;     // answer frames carrying the id of the next message, 0..1
    double wrongLengthFraction = 0.0; // answer payloads one byte short or one byte long, 0..1
    std::map<uint8_t, int> unterminatedAnswer; // the next answer to X is a frame start and N bytes, no end
};

struct SimulatorConfig
{
    MotorConfig motor;
    IdentityConfig identity;
    IdentConfig ident;
    BootloaderConfig bootloader;
    FaultConfig faults;
};

// The serial line: 250000 baud, 8N1, so 10 bit times per byte.
constexpr int LINE_BYTES_PER_SECOND = 25000;
