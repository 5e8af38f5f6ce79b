#pragma once

#include <QMetaType>

#include <cstdint>

// One request on the line to the controller is named by its ticket: a number unique in the
// program's run, handed out when the request is sent. 0 names no request.
using RequestTicket = quint64;

// Why a request ended without its answer. Every request ends exactly once: answered, or
// failed with one of these, told to the requester that owns it and to no one else.
enum class RequestFailure : uint8_t {
    NoAnswer = 1,         // no answer within the request's answer limit
    Dropped = 2,          // still queued when an earlier request got no answer
    PortClosed = 3,       // the port closed or vanished before the answer came
    NoPort = 4,           // no open port when it was sent
    WriteCut = 5,         // the port took only part of it: it can never be answered
    ProtocolSwitched = 7, // still queued when the line switched between frames and bootloader bytes
    TooLong = 8,          // its payload does not fit into a frame
    Replaced = 9,         // a repeated poll expecting no answer: it takes the place of its copy still queued
};

// The line itself ended with the device connection: the port is gone, or the line was given
// to the bootloader (or back). The device model's new state follows and releases whatever
// the requester still waited for; such a request is not resent.
inline bool endsWithTheConnection(RequestFailure reason)
{
    return reason == RequestFailure::PortClosed || reason == RequestFailure::NoPort
           || reason == RequestFailure::ProtocolSwitched;
}

// The request went out (whole, or cut short by the port) and no answer came: a loss. Every
// other failure ended a request that never went out (dropped or cleared from the queue,
// replaced, too long) or ended with the connection.
inline bool wasWrittenAndLost(RequestFailure reason)
{
    return reason == RequestFailure::NoAnswer || reason == RequestFailure::WriteCut;
}

// The failure's name for debug lines.
const char *requestFailureName(RequestFailure reason);

Q_DECLARE_METATYPE(RequestFailure)
