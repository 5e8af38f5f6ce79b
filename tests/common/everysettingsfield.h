#pragma once

#include "wire/records.h"

#include <QByteArray>

// A settings file that names every field the import knows, each with a value inside its
// range that the simulated controller does not hold, and the words it must give: the
// settings page, --settings and the production line all write these.
namespace EverySettingsField {

inline QByteArray file()
{
    return "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<settings>"
           "<pwm_input><low_level>1100</low_level><center_level>1400</center_level><high_level>1900</high_level>"
           "<dead_zone>7</dead_zone><pwm_type>1</pwm_type><control_type>1</control_type>"
           "<speed_norm>12000</speed_norm><scale>1</scale><analog_control>1</analog_control>"
           "<digital_control>0</digital_control></pwm_input>"
           "<motion><acceleration>3500</acceleration><brake_intesity>2</brake_intesity>"
           "<brake_enable>0</brake_enable><reverse>1</reverse><hw_address>0</hw_address>"
           "<device_address>3</device_address><ttl>300</ttl><kp>1.2346</kp><kff>0.5</kff></motion>"
           "</settings>\n";
}

// The records after the file, from the records before it (bits no field names stay).
inline void apply(SET_PWM_IN_PARAMS &p, SET_MOTION_PARAMS &m)
{
    p.lowLevel = 110;
    p.centerLevel = 140;
    p.highLevel = 190;
    p.deadZone = 7;
    p.pwmType = true;
    p.controlType = true;
    p.speedNorm = 1200;
    p.scale = 100;
    p.analogControl = true;
    p.digitalControl = false;
    m.acceleration = 35;      // position 5
    m.brakeIntensity = 90;
    m.brakeEnable = false;
    m.reverseDir = true;
    m.hwAddress = false;
    m.deviceAddress = 3;
    m.timeToLeave = 6;
    m.Kp = 1264;              // 1.2346 x 1024 = 1264.2, not the 1.235 a three-decimal box shows
    m.Ki = 512;               // a Kff of 0.5 is 0.5 x 1024, below the Kff box's usual 1.0
}

} // namespace EverySettingsField
