#pragma once

#include "wire/vyxprotocol.h"

#include <QByteArray>

// The first whole VYX frame in the bytes of one request or answer as the simulated
// controller reports them; an empty message when there is none.
inline VYX_Protocol::VYX_MSG decodeFrame(const QByteArray &frame)
{
    VYX_Protocol codec;
    VYX_Protocol::VyxRxConfig config;
    VYX_Protocol::VYX_MSG msg;
    for (char byte : frame) {
        if (codec.decodeByte(uint8_t(byte), msg, config))
            return msg;
    }
    return {};
}
