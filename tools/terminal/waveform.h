#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace corvelle::sim {

inline constexpr std::size_t kChannelCount = 12;

enum class WaveKind : std::uint8_t { Sine, Ramp, Constant, Noise };

// One analogue channel's signal in millivolts. Sine swings offset ± amplitude; ramp rises
// from offset - amplitude to offset + amplitude once per period; noise is uniform in
// offset ± amplitude; constant is the offset.
struct Waveform {
    WaveKind kind = WaveKind::Sine;
    int offsetMv = 0;
    int amplitudeMv = 1000;
    int periodMs = 20000;

    bool operator==(const Waveform&) const = default;
};

using ChannelWaves = std::array<Waveform, kChannelCount>;

// Sines of 1 V, 2 V, ... 12 V amplitude, so every channel is told apart on a chart.
ChannelWaves DefaultWaves();

// The reading of channel 0..11 at a time since power-up. Channels are spread evenly in
// phase so that equal waveforms do not overlap; noise is a pure function of seed, channel
// and time. Clamped to the 16-bit register range.
std::int16_t SampleWave(const Waveform& wave, std::size_t channel, std::int64_t nowMs,
                        std::uint64_t seed);

// Applies "CH:KIND[:OFFSET[:AMPLITUDE[:PERIOD]]]" to waves: CH is 1..12 or "all", KIND
// sine|ramp|const|noise, OFFSET and AMPLITUDE in mV, PERIOD in ms. Fields left out keep
// the channel's current values. Returns false and leaves waves alone on a malformed shape.
bool ApplyWaveOption(std::string_view shape, ChannelWaves& waves);

}  // namespace corvelle::sim
