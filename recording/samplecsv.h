#pragma once

#include "wire/records.h"

#include <QByteArray>

// Text of the telemetry sample files: comma-separated, one sample per line.
namespace SampleCsv {

// First line of every sample file (the space before the line feed is part of it).
QByteArray header();

// Arrival time in ms since the epoch, Speed, Torque, Is, Vs, Power ('g', 6 digits), Temp.
QByteArray line(qint64 arrivalMs, const ONLINE_QUANTS_S &sample);

} // namespace SampleCsv
