#include "protocol/registration.h"

#include <algorithm>

#include "protocol/crc16.h"

namespace corvelle {
namespace {

constexpr std::uint8_t kHead0 = 0x55;
constexpr std::uint8_t kHead1 = 0xAA;

constexpr std::array<std::array<std::uint8_t, kRegistrationReplySize>, 3> kReplies = {{
    {0x55, 0xAA, 0x00, 0x01, 0x00, 0x87, 0x89, 0xAA, 0x55},
    {0x55, 0xAA, 0x00, 0x01, 0x01, 0x97, 0xA8, 0xAA, 0x55},
    {0x55, 0xAA, 0x00, 0x01, 0x02, 0xA7, 0xCB, 0xAA, 0x55},
}};

}  // namespace

std::optional<std::vector<std::uint8_t>> ParseRegistration(std::span<const std::uint8_t> bytes) {
    const std::size_t count = bytes.size();
    if (count < 2 || bytes[0] != kHead0 || bytes[1] != kHead1) {
        return std::nullopt;
    }
    const std::size_t n = count > 4 ? static_cast<std::size_t>(bytes[2] << 8 | bytes[3]) : 0;
    if (count <= n + 6) {
        return std::nullopt;
    }
    if (Crc16(bytes.first(n + 6)) != 0) {
        return std::nullopt;
    }
    const auto name = bytes.subspan(4, n);
    const auto end = std::find(name.begin(), name.end(), std::uint8_t{0});
    return std::vector<std::uint8_t>(name.begin(), end);
}

std::span<const std::uint8_t, kRegistrationReplySize> RegistrationReply(RegistrationStatus status) {
    return kReplies[static_cast<std::size_t>(status)];
}

std::vector<std::uint8_t> BuildRegistrationPacket(std::span<const std::uint8_t> name) {
    const std::size_t n = std::min(name.size(), kMaxRegistrationName);
    std::vector<std::uint8_t> packet;
    packet.reserve(n + 8);
    packet.push_back(kHead0);
    packet.push_back(kHead1);
    packet.push_back(static_cast<std::uint8_t>(n >> 8));
    packet.push_back(static_cast<std::uint8_t>(n & 0xFF));
    packet.insert(packet.end(), name.begin(), name.begin() + static_cast<std::ptrdiff_t>(n));
    const std::uint16_t crc = Crc16(packet);
    packet.push_back(static_cast<std::uint8_t>(crc >> 8));
    packet.push_back(static_cast<std::uint8_t>(crc & 0xFF));
    packet.push_back(kHead1);
    packet.push_back(kHead0);
    return packet;
}

std::optional<std::uint8_t> ParseRegistrationReply(std::span<const std::uint8_t> bytes) {
    if (bytes.size() < kRegistrationReplySize || bytes[0] != kHead0 || bytes[1] != kHead1 ||
        bytes[2] != 0x00 || bytes[3] != 0x01 || Crc16(bytes.first(7)) != 0) {
        return std::nullopt;
    }
    return bytes[4];
}

}  // namespace corvelle
