#pragma once

#include "device/settingsdocument.h"
#include "wire/records.h"

#include <cstdint>

// The words every reader of a settings field is tried with, and a record whose one field
// holds such a word.
namespace SettingsWords {

constexpr uint16_t WORDS[] = {0, 1, 0x7FFF, 0x8000, 0xFFFF};

// The smallest step of any field is 1/1024 (a gain); less than half of it tells two words apart.
constexpr double SAME_WORD = 0.4 / 1024;

// The field's bits hold the low bits of `word`; the other fields keep their defaults.
inline void set(SettingsValue::Field field, uint16_t word, SET_PWM_IN_PARAMS &p, SET_MOTION_PARAMS &m)
{
    switch (field) {
    case SettingsValue::LowLevel: p.lowLevel = uint8_t(word); break;
    case SettingsValue::CenterLevel: p.centerLevel = uint8_t(word); break;
    case SettingsValue::HighLevel: p.highLevel = uint8_t(word); break;
    case SettingsValue::DeadZone: p.deadZone = uint8_t(word & 0x1F); break;
    case SettingsValue::PwmType: p.pwmType = word & 1; break;
    case SettingsValue::ControlType: p.controlType = word & 1; break;
    case SettingsValue::SpeedNorm: p.speedNorm = uint16_t(word & 0x0FFF); break;
    case SettingsValue::Scale: p.scale = uint8_t(word & 0x7F); break;
    case SettingsValue::AnalogControl: p.analogControl = word & 1; break;
    case SettingsValue::DigitalControl: p.digitalControl = word & 1; break;
    case SettingsValue::Acceleration: m.acceleration = uint8_t(word); break;
    case SettingsValue::BrakeIntensity: m.brakeIntensity = uint8_t(word & 0x7F); break;
    case SettingsValue::BrakeEnable: m.brakeEnable = word & 1; break;
    case SettingsValue::Reverse: m.reverseDir = word & 1; break;
    case SettingsValue::HwAddress: m.hwAddress = word & 1; break;
    case SettingsValue::DeviceAddress: m.deviceAddress = uint8_t(word & 0x07); break;
    case SettingsValue::TimeToLeave: m.timeToLeave = uint8_t(word & 0x3F); break;
    case SettingsValue::Kp: m.Kp = int16_t(word); break;
    case SettingsValue::KiKff: m.Ki = int16_t(word); break;
    }
}

} // namespace SettingsWords
