#include "protocol/crc16.h"

#include <array>

namespace corvelle {
namespace {

constexpr std::array<std::uint16_t, 256> MakeTable() {
    std::array<std::uint16_t, 256> table{};
    for (unsigned i = 0; i < 256; ++i) {
        auto reg = static_cast<std::uint16_t>(i << 8);
        for (int bit = 0; bit < 8; ++bit) {
            reg = (reg & 0x8000U) != 0 ? static_cast<std::uint16_t>((reg << 1) ^ 0x1021U)
                                       : static_cast<std::uint16_t>(reg << 1);
        }
        table[i] = reg;
    }
    return table;
}

constexpr std::array<std::uint16_t, 256> kTable = MakeTable();
static_assert(kTable[1] == 0x1021 && kTable[255] == 0x1EF0);

}  // namespace

std::uint16_t Crc16(std::span<const std::uint8_t> bytes) {
    std::uint16_t crc = 0;
    for (const std::uint8_t b : bytes) {
        crc = static_cast<std::uint16_t>((crc << 8) ^ kTable[(crc >> 8) ^ b]);
    }
    return crc;
}

}  // namespace corvelle
