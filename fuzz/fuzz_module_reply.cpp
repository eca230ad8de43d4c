// Module replies: the input is laid into a 1036-byte frame; when the first input byte is
// odd the frame's CRC and trailer are repaired so that the model table is reached.
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "protocol/crc16.h"
#include "protocol/module_frames.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    std::array<std::uint8_t, corvelle::kModuleReplySize> reply{};
    std::copy_n(data + 1, std::min(size - 1, reply.size()), reply.begin());
    if ((data[0] & 1U) != 0) {
        reply[1] = 0x04;
        reply[2] = 0x0C;
        const std::uint16_t crc = corvelle::Crc16(std::span(reply).first(1033));
        reply[1033] = static_cast<std::uint8_t>(crc >> 8);
        reply[1034] = static_cast<std::uint8_t>(crc & 0xFF);
        reply[1035] = 0x02;
    }
    const auto result = corvelle::EvaluateModuleReply(reply);
    const auto count = result.channelCount;
    if ((!result.valid && count != 0) || (count != 0 && count != 4 && count != 6 && count != 12)) {
        std::abort();
    }
    return 0;
}
