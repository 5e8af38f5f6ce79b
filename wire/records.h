#pragma once

// The records exchanged with the controller and between the device objects.
// Wire records are packed and unpacked explicitly little-endian. Every unpack reads
// only the bytes that lie within the given length; missing bytes read as zero, so a
// short answer can never make a reader run past the payload. Bits that the program
// does not interpret are kept, so pack(unpack(bytes)) gives the same bytes back.

#include "wire/messageids.h"

#include <QByteArray>
#include <QMetaType>
#include <QVector>

#include <array>
#include <cstdint>

// ---------------------------------------------------------------------------------
// Connection state and identity

enum Device_State_e {
    DEVICE_DISCONNECTED = 0,
    DEVICE_CONNECTED = 1,
    DEVICE_RUNNING = 2,
    DEVICE_BOOT_STARTED = 3,
    DEVICE_BOOT_CONNECTED = 4,
};

struct Device_FW_s
{
    uint8_t fw_h = 0; // major
    uint8_t fw_m = 0; // middle
    uint8_t fw_l = 0; // minor
};

// Answer of GET_DEVICE_INFO. Two layouts exist, told apart by the answer length.
struct DeviceIdentity
{
    static constexpr int LONG_LAYOUT_SIZE = 14;  // a long answer has at least this many bytes
    static constexpr int SHORT_LAYOUT_MAX = 13;
    static constexpr uint8_t RUN_FLAG_MISSING = 0xFF; // not 0 or 1: the answer is ignored

    uint8_t answerCode = 0;
    uint8_t runFlag = RUN_FLAG_MISSING; // 0 idle, 1 already running, others ignored
    Device_FW_s fw;
    uint32_t serialNumber = 0;
    uint32_t hwBuild = 0;                 // one byte is used
    uint8_t address = NO_DEVICE_ADDRESS;
    bool longLayout = false;              // false: fw_m is not carried
    bool hasHwBuild = false;              // the answer carried the hardware build byte
    bool hasAddress = false;              // the answer carried the address byte

    static DeviceIdentity decode(const uint8_t *data, int length);
    static DeviceIdentity decode(const QByteArray &payload);

    // Answer payloads, for the controller side: code, run flag and the identity block.
    QByteArray encodeLong() const;
    // length 2..13: the short layout cut to that many bytes.
    QByteArray encodeShort(int length = SHORT_LAYOUT_MAX) const;
};

// ---------------------------------------------------------------------------------
// Status block (answers of GET_STATUS and TELEMETRY)

// One value byte follows the flag byte for each set flag bit 0..4, in bit order.
enum StatusFlag : uint8_t {
    STATUS_ID_STATE = 0x01,
    STATUS_SAVED_MSG = 0x02,
    STATUS_ERROR_PREDICTION = 0x04,
    STATUS_STALL = 0x08,
    STATUS_ERROR = 0x10,
};

struct Poll_Answer_s
{
    bool hasIdState = false;
    uint8_t idState = 0;         // upper nibble estimator state, lower nibble health
    bool hasSavedMsg = false;
    uint8_t savedMsgId = 0;      // 0x41, 0x45 or 0x47
    bool hasErrorPrediction = false;
    uint8_t errorPrediction = 0;
    bool hasStall = false;
    uint8_t stallCode = 0;
    bool hasError = false;
    uint8_t errorCode = 0;
};
static_assert(sizeof(Poll_Answer_s) == 10, "Poll_Answer_s is five pairs of bool and byte");

struct StatusBlock
{
    uint8_t answerCode = 0;
    uint8_t flags = 0;      // as received, bits 5..7 included (they carry no value)
    Poll_Answer_s values;   // only the pairs whose value byte lies within the answer
    int endIndex = -1;      // index just past the last value byte; -1: answer too short

    bool isValid() const { return endIndex >= 0; }

    static StatusBlock decode(const uint8_t *data, int length);
    static StatusBlock decode(const QByteArray &payload);
    // Flag bits follow the presence flags of values.
    static QByteArray encode(uint8_t answerCode, const Poll_Answer_s &values);
};

// ---------------------------------------------------------------------------------
// Telemetry

// Request payload of TELEMETRY: enable byte, then (when enabled) the signed duty value.
struct DutyCommand
{
    // percent x 163.64 (single-precision constant) gives the wire value; 100 % = 16363.
    static constexpr float DUTY_SCALE = 163.64f;
    static constexpr int16_t FULL_SCALE = 16363;

    bool enable = false;
    int16_t duty = 0;

    static int16_t dutyFromPercent(int percent);
    QByteArray encode() const;
    static DutyCommand decode(const uint8_t *data, int length);
    static DutyCommand decode(const QByteArray &payload);
};

// One telemetry sample, as the program uses it.
struct ONLINE_QUANTS_S
{
    uint8_t EstState = 0;
    uint8_t CtrlState = 0;
    float Torque = 0;   // Nm
    float Speed = 0;    // rpm
    float Is = 0;       // A
    float Vbus = 0;     // V
    float Vs = 0;       // V
    float Power = 0;    // W
    float Rs = 0;       // Ohm
    float Flux = 0;     // V/Hz
    int16_t Temp = 0;   // degrees C
    uint32_t PWm_in_us = 0;
};

// Signed fixed point to float: sign-extend from intBits + fracBits bits, scale, round
// half away from zero to the given number of decimals.
float fixedToFloat(uint32_t raw, int intBits, int fracBits, int decimals);
// The inverse for the controller side: rounds to the nearest step and saturates to the
// signed range of the format; returns the raw value masked to intBits + fracBits bits.
uint32_t floatToFixed(double value, int intBits, int fracBits);

// The 16-byte telemetry record that follows the status block of a TELEMETRY answer:
// words w0, w1, w2 (32 bit) and h6, h7 (16 bit), the fields packed as raw bit fields.
struct TelemetryRecord
{
    static constexpr int WIRE_SIZE = 16;

    uint16_t vbusRaw = 0;    // w0 bits 0..9,   8.3 fixed point, never negative
    uint16_t isRaw = 0;      // w0 bits 10..21, 9.3 fixed point
    uint16_t pwmInUs = 0;    // w0 bits 22..31 (low 10 bits) and w1 bits 0..1 (high 2 bits)
    uint16_t power = 0;      // w1 bits 2..14, W
    uint32_t speedRaw = 0;   // w1 bits 15..31, 7.10 fixed point, krpm
    uint8_t tempRaw = 0;     // w2 bits 0..6, degrees C + 31
    uint16_t vsRaw = 0;      // w2 bits 7..17, 8.3 fixed point
    uint16_t torqueRaw = 0;  // w2 bits 18..31, 4.10 fixed point
    uint16_t rsRaw = 0;      // h6, Ohm x 32768
    uint16_t fluxRaw = 0;    // h7, V/Hz x 32768

    QByteArray pack() const;
    // A record shorter than 16 bytes is read with its missing bytes as zero.
    static TelemetryRecord unpack(const uint8_t *data, int length);
    static TelemetryRecord unpack(const QByteArray &bytes);

    // Fills every field of sample except EstState and CtrlState.
    void decodeInto(ONLINE_QUANTS_S &sample) const;
    ONLINE_QUANTS_S toQuantities() const;
    // For the controller side: the nearest representable record, values saturated.
    static TelemetryRecord fromQuantities(const ONLINE_QUANTS_S &sample);
};

// ---------------------------------------------------------------------------------
// Stored settings

struct SET_PWM_IN_PARAMS
{
    static constexpr int WIRE_SIZE = 8;

    uint8_t lowLevel = 100;      // us / 10
    uint8_t centerLevel = 150;   // us / 10
    uint8_t highLevel = 200;     // us / 10
    uint8_t deadZone = 15;       // byte 3 bits 0..4
    uint8_t byte3Rest = 0;       // byte 3 bits 5..7 (as a value 0..7), kept unchanged
    bool pwmType = false;        // 0 "Unipolar", 1 "Bipolar"
    bool controlType = false;    // 0 "Voltage", 1 "Speed"
    bool digitalControl = false;
    bool analogControl = false;
    uint16_t speedNorm = 0;      // speed normalisation / 10, 12 bits
    uint8_t scale = 0;           // scale x 100, 7 bits
    uint16_t word1Rest = 0;      // bits 23..31 of the second word (as a value), 0 normally

    QByteArray pack() const;
    static SET_PWM_IN_PARAMS unpack(const uint8_t *data, int length);
    static SET_PWM_IN_PARAMS unpack(const QByteArray &bytes);
    bool isPlausible() const;
};

struct SET_MOTION_PARAMS
{
    static constexpr int WIRE_SIZE = 8;

    uint8_t acceleration = 10;   // slider position x 5 + 10
    uint8_t brakeIntensity = 10; // 7 bits: 50, 70 or 90
    bool brakeEnable = false;
    bool reverseDir = false;
    uint8_t deviceAddress = 0;   // 3 bits
    bool hwAddress = false;      // address taken from hardware
    uint8_t timeToLeave = 0;     // ms / 50, 6 bits
    uint8_t word0Rest = 0;       // bits 27..31 (as a value), 0 normally
    int16_t Kp = 0;              // gain x 1024
    int16_t Ki = 0;              // gain x 1024

    uint32_t word0() const;      // bytes 0..3 as one little-endian word
    QByteArray pack() const;
    static SET_MOTION_PARAMS unpack(const uint8_t *data, int length);
    static SET_MOTION_PARAMS unpack(const QByteArray &bytes);
    bool isPlausible() const;
};

// ---------------------------------------------------------------------------------
// Diagnostics

struct ERROR_WARN_LOG
{
    static constexpr int WIRE_SIZE = 24;

    uint32_t allErrors = 0;
    uint32_t allWarnings = 0;
    uint32_t prevErrors = 0;
    uint32_t prevWarnings = 0;
    uint32_t lastErrors = 0;
    uint32_t lastWarnings = 0;

    QByteArray pack() const;
    static ERROR_WARN_LOG unpack(const uint8_t *data, int length);
    static ERROR_WARN_LOG unpack(const QByteArray &bytes);
};

struct RUN_DATA
{
    static constexpr int WIRE_SIZE = 8;

    uint16_t maxCurrent = 0;     // A x 256, 12 bits
    uint16_t avgCurrent = 0;     // A x 10, 12 bits
    uint8_t maxTempEsc = 0;      // degrees C + 50
    uint8_t maxTempMotor = 0;    // degrees C + 50
    std::array<uint8_t, 3> rest {}; // bytes 5..7, not interpreted

    QByteArray pack() const;
    static RUN_DATA unpack(const uint8_t *data, int length);
    static RUN_DATA unpack(const QByteArray &bytes);
};

struct RESISTANCE
{
    static constexpr int WIRE_SIZE = 16;

    float phaseA = 0; // Ohm
    float phaseB = 0;
    float phaseC = 0;
    float global = 0;

    QByteArray pack() const;
    static RESISTANCE unpack(const uint8_t *data, int length);
    static RESISTANCE unpack(const QByteArray &bytes);
};

// Answer of GET_MOTOR_HOURS: an unsigned 32-bit count.
QByteArray packMotorHours(uint32_t hours);
uint32_t unpackMotorHours(const uint8_t *data, int length);

// ---------------------------------------------------------------------------------
// Shared name tables. The texts are marked for translation in this context:
// QCoreApplication::translate(RECORD_NAMES_CONTEXT, ERROR_NAMES[bit]).

#define RECORD_NAMES_CONTEXT "DeviceRecords"

extern const std::array<const char *, 16> ERROR_NAMES;
extern const std::array<const char *, 3> WARNING_NAMES;
extern const std::array<const char *, 11> QUANTITY_NAMES;
extern const std::array<const char *, 11> QUANTITY_UNITS;

// The sample field that a quantity index (0..10) selects; 0 for "None" and unknown indexes.
double quantityValue(const ONLINE_QUANTS_S &sample, int quantityIndex);

// Registers every record that crosses threads under its own name.
void registerDeviceRecordMetaTypes();

Q_DECLARE_METATYPE(Device_State_e)
Q_DECLARE_METATYPE(Device_FW_s)
Q_DECLARE_METATYPE(Poll_Answer_s)
Q_DECLARE_METATYPE(ONLINE_QUANTS_S)
Q_DECLARE_METATYPE(SET_PWM_IN_PARAMS)
Q_DECLARE_METATYPE(SET_MOTION_PARAMS)
Q_DECLARE_METATYPE(ERROR_WARN_LOG)
Q_DECLARE_METATYPE(RUN_DATA)
Q_DECLARE_METATYPE(RESISTANCE)
Q_DECLARE_METATYPE(SET_PWM_IN_PARAMS *)
Q_DECLARE_METATYPE(SET_MOTION_PARAMS *)
Q_DECLARE_METATYPE(QVector<ONLINE_QUANTS_S> *)
