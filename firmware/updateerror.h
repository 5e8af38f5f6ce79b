#pragma once

#include <cstdint>

// Error codes of a firmware update, shown to the user as "Error 0x" and the code.
namespace UpdateError {

constexpr uint32_t None = 0;
constexpr uint32_t Length = 0x01;        // image length wrong (or empty); or a second NACK while writing
constexpr uint32_t Size = 0x02;          // image larger than the available flash
constexpr uint32_t Header = 0x04;        // encrypted image without its "BOOTLD91" header
constexpr uint32_t Variant = 0x08;       // variant bytes differ from the bootloader's
constexpr uint32_t Checksum = 0x10;      // image checksum wrong
constexpr uint32_t File = 0x20;          // image file cannot be opened
constexpr uint32_t NotOffered = 0x40;    // the bootloader does not offer a command the update needs
constexpr uint32_t Nack = 0x80;          // NACK where none is allowed
constexpr uint32_t Timeout = 0x100;      // an answer did not come in time
constexpr uint32_t ResetRefused = 0x200; // the running firmware refused the reset into the bootloader

} // namespace UpdateError
