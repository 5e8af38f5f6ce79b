#pragma once

#include "motors/dbmanager.h"

#include <QByteArray>
#include <QString>
#include <QVector>

#include <cstdint>

class PayloadCipher;

// The motor file (*.ms): UTF-8 text, one line per motor, each ended by a line feed:
//   name;storing date;base64 text of the enciphered 28-byte MOTOR_TOTAL
// Fields carry no quoting, so a name or date holding ";" or a line break cannot be
// written. Pure functions: no database, no file system.
namespace MotorFile {

// Shared by every installation: files written with one key are read only with it.
constexpr uint64_t PROGRAM_KEY = 0x6B6F72646F2E6D73ULL;

// Larger files are refused unread: a real motor file holds about 80 bytes per motor.
constexpr qint64 MAX_FILE_SIZE = 16 * 1024 * 1024;

// Whether a storing date can be written as field 2.
bool isValidDate(const QString &datetime);

// The file text for these motors, or false (and no text) when a name or date cannot
// be carried by the format.
bool compose(const QVector<MotorEntry> &motors, PayloadCipher &cipher, QByteArray *text);

// Every motor of a file text, or false at the first damaged line: fewer than three
// fields, an invalid name, a field 3 that does not decipher, or fewer than 28 bytes.
// `error` tells which line and why. A compressed field 3 is inflated to at most
// MOTOR_TOTAL::SIZE bytes (the cipher's plain size limit is set to that); one that would
// inflate further is damaged.
bool parse(const QByteArray &text, PayloadCipher &cipher, QVector<MotorEntry> *motors, QString *error);

} // namespace MotorFile
