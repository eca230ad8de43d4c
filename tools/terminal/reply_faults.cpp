#include "tools/terminal/reply_faults.h"

#include <array>
#include <string_view>

#include "protocol/modbus_ascii.h"

namespace corvelle::sim {
namespace {

// None of these is a colon, so the console's search for the frame start skips them.
constexpr std::array<char, 6> kNoise = {'\xFF', '\x00', '\x5A', '\xA5', '\r', '\n'};

constexpr bool Every(int k, std::uint64_t n) {
    return k > 0 && n % static_cast<std::uint64_t>(k) == 0;
}

}  // namespace

ReplyShaper::ReplyShaper(const Faults& faults) : faults_(faults) {}

std::optional<std::string> ReplyShaper::Shape(std::span<const std::uint8_t> reply) {
    ++count_;
    if (Every(faults_.dropEveryReply, count_)) {
        return std::nullopt;
    }
    std::string frame = EncodeAsciiFrame(reply, faults_.lowerCaseHex);
    if (Every(faults_.corruptLrcEvery, count_)) {
        // The LRC is the last hex pair before CR LF; off by one is the subtlest fault.
        const auto wrong = static_cast<std::uint8_t>(ComputeLrc(reply) + 1);
        const std::string_view digits =
            faults_.lowerCaseHex ? "0123456789abcdef" : "0123456789ABCDEF";
        frame[frame.size() - 4] = digits[wrong >> 4U];
        frame[frame.size() - 3] = digits[wrong & 0x0FU];
    }
    std::string noise;
    for (int i = 0; i < faults_.noiseBytes; ++i) {
        noise.push_back(kNoise[static_cast<std::size_t>(i) % kNoise.size()]);
    }
    return noise + frame;
}

std::vector<std::uint8_t> BreakRegistrationCrc(std::vector<std::uint8_t> packet) {
    // The CRC sits just before the two trailer bytes.
    if (packet.size() >= 4) {
        packet[packet.size() - 3] ^= 0xFFU;
    }
    return packet;
}

}  // namespace corvelle::sim
