#pragma once

#include <cstdint>

// Answer codes: payload byte 0 of most answers.
constexpr uint8_t ANSWER_OK = 0x20;      // accepted / data follows
constexpr uint8_t ANSWER_REFUSED = 0x21; // refused / not ready

// The device bus address that means "no address known".
constexpr uint8_t NO_DEVICE_ADDRESS = 0xEE;

// Message ids of the controller's message catalogue (the byte after the address in a
// VYX frame). The controller answers every request with a frame of the same id.
namespace VyxMsg {
enum Id : uint8_t {
    GET_DEVICE_INFO = 0x22,
    GET_STATUS = 0x23,
    GET_ERROR_LOG = 0x25,
    CLEAR_ERROR_LOG = 0x26,
    GET_RUN_DATA = 0x27,
    SET_MOTOR_USER_PARAMS = 0x30,
    GET_MOTOR_USER_PARAMS = 0x31,
    IDENT_RUN = 0x32,
    IDENT_STOP = 0x33,
    START_RUN = 0x35,
    IDENT_ERROR = 0x36,
    GET_MOTOR_PARAMS = 0x40,
    SET_MOTOR_IDENT_PARAMS = 0x41,
    GET_MOTION_PARAMS = 0x44,
    WRITE_MOTION_PARAMS = 0x45,
    GET_PWM_IN_PARAMS = 0x46,
    WRITE_PWM_IN_PARAMS = 0x47,
    GET_MOTOR_HOURS = 0x48,
    GET_RESISTANCES = 0x49,
    TELEMETRY = 0x70,
    FIRMWARE_UPDATE_ENTRY = 0x80, // reset into the bootloader
};
} // namespace VyxMsg
