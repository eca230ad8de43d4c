#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace corvelle {

inline constexpr std::size_t kModuleQuerySize = 18;
inline constexpr std::size_t kModuleReplySize = 1036;
// The 16-byte model text of a module reply; characters 3 and 4 name the board.
inline constexpr std::size_t kModelTextOffset = 201;
inline constexpr std::size_t kModelTextSize = 16;

// The serial server's identification request, sent as it stands.
inline constexpr std::array<std::uint8_t, kModuleQuerySize> ModuleQuery = {
    0x01, 0x00, 0x12, 0x00, 0x00, 0xFF, 0x01, 0x00, 0x01,
    0x00, 0x00, 0x04, 0x00, 0x03, 0xF4, 0x3C, 0xF1, 0x02};

struct ModuleEvaluation {
    bool valid = false;
    // 4, 6 or 12 for a listed model; 0 for any other model or an invalid reply.
    std::uint8_t channelCount = 0;
};

ModuleEvaluation EvaluateModuleReply(std::span<const std::uint8_t, kModuleReplySize> reply);

// A valid module reply carrying the given model text (padded with zero bytes, cut at 16).
// The fields no console reads are filled with a recognisable, fixed pattern.
std::array<std::uint8_t, kModuleReplySize> BuildModuleReply(std::string_view modelText);

}  // namespace corvelle
