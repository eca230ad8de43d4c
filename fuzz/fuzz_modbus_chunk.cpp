// Received chunks on the Modbus path: the first input byte picks the page's channel count,
// the rest is the chunk (at most 1035 bytes, as the page routes them).
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <variant>

#include "protocol/modbus_ascii.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0 || size - 1 > 1035) {
        return 0;
    }
    static constexpr std::array<std::uint8_t, 4> kCounts = {0, 4, 6, 12};
    const std::uint8_t channels = kCounts[data[0] % kCounts.size()];
    const auto result = corvelle::CheckModbusChunk({data + 1, size - 1}, channels);
    if (const auto* regs = std::get_if<corvelle::RegisterData>(&result)) {
        if (regs->bytes.size() != std::size_t{2} * (channels + 6U)) {
            std::abort();
        }
    }
    return 0;
}
