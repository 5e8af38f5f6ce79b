#pragma once

// The telemetry sample the recorder receives.
// Temporary stand-in until the device records header is available; it mirrors the
// field order of the device's ONLINE_QUANTS_S and is replaced by an include of it.

#include <QMetaType>

#include <cstdint>

struct ONLINE_QUANTS_S
{
    uint8_t EstState = 0;
    uint8_t CtrlState = 0;
    float Torque = 0;
    float Speed = 0;
    float Is = 0;
    float Vbus = 0;
    float Vs = 0;
    float Power = 0;
    float Rs = 0;
    float Flux = 0;
    int16_t Temp = 0;
    uint32_t PWm_in_us = 0;
};
Q_DECLARE_METATYPE(ONLINE_QUANTS_S)
