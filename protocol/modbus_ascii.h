#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace corvelle {

inline constexpr std::uint8_t kSlaveAddress = 0x0A;
inline constexpr std::uint8_t kReadInputRegisters = 0x04;
inline constexpr std::uint8_t kWriteSingleCoil = 0x05;
inline constexpr std::size_t kRelayCount = 12;
// ':' + 14 hex characters + CR LF.
inline constexpr std::size_t kRequestFrameSize = 17;

// Smallest i with sequence[i, i + pattern.size()) == pattern, or -1. An empty pattern is
// never found. Reads nothing outside the sequence.
int FindPattern(std::span<const std::uint8_t> sequence, std::span<const std::uint8_t> pattern);

// 0..15 for '0'-'9', 'A'-'F', 'a'-'f'; 16 for every other byte.
std::uint8_t HexDigitValue(std::uint8_t c);

// Decodes hex pairs from text into out and returns how many bytes it wrote. Decoding stops
// at a lone trailing character or at the first pair holding a non-hex byte; a space is a
// non-hex byte like any other, since frames of this protocol never contain one. out may be
// the same memory as text: the write position never overtakes the read position.
std::size_t DecodeHexPairs(const std::uint8_t* text, std::size_t length, std::uint8_t* out);

// Modbus LRC: two's complement of the 8-bit sum.
std::uint8_t ComputeLrc(std::span<const std::uint8_t> bytes);

// ':' + hex of the bytes + hex of their LRC + CR LF.
std::string EncodeAsciiFrame(std::span<const std::uint8_t> bytes, bool lowerCase = false);

// The poll request for a board with 4, 6 or 12 channels (17 bytes with CR LF); empty for
// any other channel count.
std::string_view ReadInputRegistersRequest(std::uint8_t channelCount);

// The coil write that switches relay 1..12 on (FF00) or off (0000); empty outside 1..12.
std::string_view WriteSingleCoilRequest(std::size_t relay, bool on);

// Cuts the first frame out of a chunk (first ':' and the first CR LF after it, or the end
// of the chunk), decodes it and checks its LRC. Returns the decoded bytes, LRC included,
// or nothing when there is no colon, the LRC fails or fewer than two bytes decode.
std::optional<std::vector<std::uint8_t>> CutAsciiFrame(std::span<const std::uint8_t> chunk);

// Register bytes (2N) of an accepted Read Input Registers reply.
struct RegisterData {
    std::vector<std::uint8_t> bytes;
};

// The board's echo of a Write Single Coil request.
struct CoilEcho {
    std::uint16_t coil = 0;
    std::uint16_t value = 0;
};

using ModbusChunkResult = std::variant<std::monostate, RegisterData, CoilEcho>;

// The checking half of a page's chunk handling: a function 04 reply is accepted only with
// exactly channelCount + 6 registers; a function 05 frame needs coil and value; everything
// else yields monostate. The slave address is deliberately not compared.
ModbusChunkResult CheckModbusChunk(std::span<const std::uint8_t> chunk, std::uint8_t channelCount);

}  // namespace corvelle
