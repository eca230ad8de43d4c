// Registration packets: when the first input byte is odd the packet's CRC is repaired
// before parsing, so the fuzzer reaches the name handling as well as the rejections.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "protocol/crc16.h"
#include "protocol/registration.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    std::vector<std::uint8_t> packet(data + 1, data + size);
    if ((data[0] & 1U) != 0 && packet.size() >= 6) {
        packet[0] = 0x55;
        packet[1] = 0xAA;
        const std::size_t n = packet[2] << 8 | packet[3];
        if (n + 7 <= packet.size()) {
            const std::uint16_t crc = corvelle::Crc16(std::span(packet).first(n + 4));
            packet[n + 4] = static_cast<std::uint8_t>(crc >> 8);
            packet[n + 5] = static_cast<std::uint8_t>(crc & 0xFF);
        }
    }
    const auto name = corvelle::ParseRegistration(packet);
    if (name && name->size() + 7 > packet.size()) {
        std::abort();
    }
    const auto status = corvelle::ParseRegistrationReply(packet);
    if (status && packet.size() < corvelle::kRegistrationReplySize) {
        std::abort();
    }
    return 0;
}
