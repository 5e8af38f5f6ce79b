#pragma once

#include <QByteArray>
#include <QtGlobal>

#include <cstdint>

// One record of a line capture: a frame, the echo of the host's own bytes, a run of bytes
// that forms no frame, or bootloader bytes, with the time it crossed the port and its
// direction. In a pcap file (link type DLT_USER0) each record's data is a small header
// followed by the bytes exactly as they crossed the line.
namespace LineCapture {

enum class Direction : uint8_t {
    ToController = 0,   // written by the program
    FromController = 1, // read by the program (the controller's bytes and the line's echo)
};

enum class Kind : uint8_t {
    Frame = 0,      // one VYX frame, start to end byte (its checksum may still be wrong)
    Echo = 1,       // the host's own bytes coming back on the half-duplex line
    Bytes = 2,      // bytes that form no frame: noise, a torn or cut frame
    Bootloader = 3, // the bootloader's byte protocol, either direction
};

// The header before each record's bytes in a pcap file.
constexpr int HEADER_SIZE = 4;
constexpr uint8_t HEADER_VERSION = 1;
// header byte 0: HEADER_VERSION, 1: Direction, 2: Kind, 3: line (the port: 0 for the one port
// of the window and most commands, 0, 1, 2, ... for the ports of a production run)

// Longer runs are cut into records of at most this many bytes.
constexpr int MAX_RECORD_BYTES = 4096;

struct Record
{
    qint64 timeUs = 0; // microseconds since 1970-01-01 UTC
    Direction direction = Direction::ToController;
    Kind kind = Kind::Frame;
    QByteArray bytes;
    uint8_t line = 0;
};

inline const char *directionName(Direction direction)
{
    return direction == Direction::ToController ? "out" : "in";
}

inline const char *kindName(Kind kind)
{
    switch (kind) {
    case Kind::Frame:
        return "frame";
    case Kind::Echo:
        return "echo";
    case Kind::Bytes:
        return "bytes";
    case Kind::Bootloader:
        return "bootloader";
    }
    return "?";
}

} // namespace LineCapture
