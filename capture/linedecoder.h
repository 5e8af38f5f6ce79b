#pragma once

#include "capture/linerecord.h"

#include <QString>

// A line record as one line of text: time, direction, kind and, for a frame, the message
// id by name and the fields of its record, read with the program's own record decoders.
namespace LineDecoder {

// "GET_STATUS", or "0x5A" for an id outside the catalogue.
QString messageName(uint8_t msgId);

// e.g. "2026-12-11 10:15:02.123456 in  frame GET_STATUS (0x23) addr 0x01 answer OK flags 0x00";
// a record of another line than 0 has "line N" after the time.
QString describe(const LineCapture::Record &record);

// The fields of a frame's payload as text (no time, direction or id).
QString describeFields(LineCapture::Direction direction, uint8_t msgId, const QByteArray &payload);

} // namespace LineDecoder
