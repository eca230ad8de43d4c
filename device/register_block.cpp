#include "device/register_block.h"

namespace corvelle {
namespace {

std::int16_t BigEndianAt(std::span<const std::uint8_t> bytes, std::size_t reg) {
    return static_cast<std::int16_t>(bytes[2 * reg] << 8 | bytes[2 * reg + 1]);
}

std::uint16_t LowByteFirstAt(std::span<const std::uint8_t> bytes, std::size_t reg) {
    return static_cast<std::uint16_t>(bytes[2 * reg] | bytes[2 * reg + 1] << 8);
}

}  // namespace

RegisterBlock DecodeRegisterBlock(std::span<const std::uint8_t> bytes) {
    RegisterBlock block;
    const std::size_t n = bytes.size() / 2;
    block.registerCount = n;
    if (n > 0) {
        block.signalValue = BigEndianAt(bytes, 0);
    }
    if (n > 1) {
        block.relayWord = LowByteFirstAt(bytes, 1);
    }
    if (n > 2) {
        block.inputWord = LowByteFirstAt(bytes, 2);
    }
    if (n > 3) {
        block.referenceMillivolts = BigEndianAt(bytes, 3);
    }
    if (n > 4) {
        block.temperatureCentidegrees = BigEndianAt(bytes, 4);
    }
    if (n > 5) {
        block.supplyCentivolts = BigEndianAt(bytes, 5);
    }
    for (std::size_t k = 0; k < kChannelCount && kLeadingRegisters + k < n; ++k) {
        block.channelWords[k] = BigEndianAt(bytes, kLeadingRegisters + k);
    }
    return block;
}

std::array<std::uint8_t, kChannelCount> WordFlags(std::uint16_t word) {
    std::array<std::uint8_t, kChannelCount> flags{};
    for (std::size_t i = 0; i < kChannelCount; ++i) {
        flags[i] = static_cast<std::uint8_t>((word >> i) & 1U);
    }
    return flags;
}

std::array<std::int32_t, kChannelCount> ChannelMillivoltsOf(const RegisterBlock& block) {
    std::array<std::int32_t, kChannelCount> millivolts{};
    for (std::size_t k = 0; k < kChannelCount; ++k) {
        millivolts[k] = block.channelWords[k];
    }
    return millivolts;
}

std::array<float, kChannelCount> ChannelVoltsOf(const RegisterBlock& block) {
    constexpr float kVoltsPerMillivolt = 0.001F;
    std::array<float, kChannelCount> volts{};
    for (std::size_t k = 0; k < kChannelCount; ++k) {
        volts[k] = static_cast<float>(block.channelWords[k]) * kVoltsPerMillivolt;
    }
    return volts;
}

}  // namespace corvelle
