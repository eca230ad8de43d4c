#pragma once

#include <cstdint>
#include <span>

namespace corvelle {

// CRC-16/XMODEM (poly 0x1021, init 0, no reflection, no final XOR), table driven.
// Every frame stores it big-endian, so running it over data + stored CRC yields 0.
std::uint16_t Crc16(std::span<const std::uint8_t> bytes);

}  // namespace corvelle
