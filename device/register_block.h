#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace corvelle {

inline constexpr std::size_t kChannelCount = 12;
// Registers 0..5 come before the channels: signal, relays, inputs, reference, temperature,
// supply.
inline constexpr std::size_t kLeadingRegisters = 6;

// The input registers of one accepted poll reply. Registers the reply did not carry stay 0.
struct RegisterBlock {
    // N: how many whole registers the reply carried.
    std::size_t registerCount = 0;
    std::int16_t signalValue = 0;
    // Bit i: relay i+1 on. Taken low byte first, unlike every other register.
    std::uint16_t relayWord = 0;
    // Bit i: optocoupler input i+1 active. Low byte first as well.
    std::uint16_t inputWord = 0;
    std::int16_t referenceMillivolts = 0;
    std::int16_t temperatureCentidegrees = 0;
    std::int16_t supplyCentivolts = 0;
    std::array<std::int16_t, kChannelCount> channelWords{};

    bool HasRelayWord() const { return registerCount > 1; }
    bool HasInputWord() const { return registerCount > 2; }
};

// Register bytes (two per register, an odd last byte ignored) into a fresh block.
RegisterBlock DecodeRegisterBlock(std::span<const std::uint8_t> bytes);

// Bits 0..11 of a relay or input word as 0/1 flags; bits 12..15 carry nothing.
std::array<std::uint8_t, kChannelCount> WordFlags(std::uint16_t word);

std::array<std::int32_t, kChannelCount> ChannelMillivoltsOf(const RegisterBlock& block);

// Single precision on purpose: the chart has always been fed these exact float values.
std::array<float, kChannelCount> ChannelVoltsOf(const RegisterBlock& block);

}  // namespace corvelle
