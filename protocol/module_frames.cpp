#include "protocol/module_frames.h"

#include <algorithm>

#include "protocol/crc16.h"

namespace corvelle {

ModuleEvaluation EvaluateModuleReply(std::span<const std::uint8_t, kModuleReplySize> reply) {
    const std::uint16_t computed = Crc16(reply.first(kModuleReplySize - 3));
    const auto stored = static_cast<std::uint16_t>(reply[1033] << 8 | reply[1034]);
    if (reply[1] != 0x04 || reply[2] != 0x0C || reply[1035] != 0x02 || computed != stored) {
        return {};
    }
    const std::uint8_t digit = reply[kModelTextOffset + 2];
    const std::uint8_t letter = reply[kModelTextOffset + 3];
    std::uint8_t count = 0;
    if (digit == '4' && letter >= 'A' && letter <= 'C') {
        count = 4;
    } else if (digit == '6' && (letter == 'A' || letter == 'B')) {
        count = 6;
    } else if (digit == '6' && letter == 'C') {
        count = 12;
    }
    return {true, count};
}

std::array<std::uint8_t, kModuleReplySize> BuildModuleReply(std::string_view modelText) {
    std::array<std::uint8_t, kModuleReplySize> reply{};
    reply[0] = 0x01;
    reply[1] = 0x04;
    reply[2] = 0x0C;
    for (std::size_t i = 3; i < kModuleReplySize - 3; ++i) {
        reply[i] = static_cast<std::uint8_t>(i * 7);
    }
    std::fill_n(reply.begin() + kModelTextOffset, kModelTextSize, 0);
    const std::size_t n = std::min(modelText.size(), kModelTextSize);
    std::copy_n(modelText.begin(), n, reply.begin() + kModelTextOffset);
    const std::uint16_t crc = Crc16(std::span(reply).first(kModuleReplySize - 3));
    reply[1033] = static_cast<std::uint8_t>(crc >> 8);
    reply[1034] = static_cast<std::uint8_t>(crc & 0xFF);
    reply[1035] = 0x02;
    return reply;
}

}  // namespace corvelle
