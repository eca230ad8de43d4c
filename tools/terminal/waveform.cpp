#include "tools/terminal/waveform.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>
#include <numbers>
#include <optional>
#include <vector>

namespace corvelle::sim {
namespace {

// SplitMix64 finaliser: cheap, well mixed, and needs no generator state.
std::uint64_t Mix(std::uint64_t x) {
    x += 0x9E3779B97F4A7C15ULL;
    x = (x ^ (x >> 30U)) * 0xBF58476D1CE4E5B9ULL;
    x = (x ^ (x >> 27U)) * 0x94D049BB133111EBULL;
    return x ^ (x >> 31U);
}

std::int16_t Clamp16(double value) {
    const double clamped =
        std::clamp(std::round(value), double{std::numeric_limits<std::int16_t>::min()},
                   double{std::numeric_limits<std::int16_t>::max()});
    return static_cast<std::int16_t>(clamped);
}

std::optional<int> ParseInt(std::string_view text) {
    int value = 0;
    const auto* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (text.empty() || ec != std::errc{} || ptr != end) {
        return std::nullopt;
    }
    return value;
}

std::optional<WaveKind> ParseKind(std::string_view text) {
    if (text == "sine") {
        return WaveKind::Sine;
    }
    if (text == "ramp") {
        return WaveKind::Ramp;
    }
    if (text == "const") {
        return WaveKind::Constant;
    }
    if (text == "noise") {
        return WaveKind::Noise;
    }
    return std::nullopt;
}

std::vector<std::string_view> SplitFields(std::string_view shape) {
    std::vector<std::string_view> fields;
    std::size_t start = 0;
    while (true) {
        const std::size_t colon = shape.find(':', start);
        fields.push_back(shape.substr(start, colon - start));
        if (colon == std::string_view::npos) {
            return fields;
        }
        start = colon + 1;
    }
}

}  // namespace

ChannelWaves DefaultWaves() {
    ChannelWaves waves{};
    for (std::size_t k = 0; k < kChannelCount; ++k) {
        waves[k].amplitudeMv = 1000 * static_cast<int>(k + 1);
    }
    return waves;
}

std::int16_t SampleWave(const Waveform& wave, std::size_t channel, std::int64_t nowMs,
                        std::uint64_t seed) {
    const std::int64_t period = std::max(wave.periodMs, 1);
    const std::int64_t shifted = nowMs + period * static_cast<std::int64_t>(channel) /
                                             static_cast<std::int64_t>(kChannelCount);
    const double phase = static_cast<double>(shifted % period) / static_cast<double>(period);
    const double offset = wave.offsetMv;
    const double amplitude = wave.amplitudeMv;
    switch (wave.kind) {
        case WaveKind::Sine:
            return Clamp16(offset + amplitude * std::sin(2.0 * std::numbers::pi * phase));
        case WaveKind::Ramp:
            return Clamp16(offset - amplitude + 2.0 * amplitude * phase);
        case WaveKind::Noise: {
            const std::uint64_t h =
                Mix(seed ^ Mix(channel ^ Mix(static_cast<std::uint64_t>(nowMs))));
            const double unit = static_cast<double>(h >> 11U) * 0x1.0p-53;
            return Clamp16(offset - amplitude + 2.0 * amplitude * unit);
        }
        case WaveKind::Constant:
            break;
    }
    return Clamp16(offset);
}

bool ApplyWaveOption(std::string_view shape, ChannelWaves& waves) {
    const std::vector<std::string_view> fields = SplitFields(shape);
    if (fields.size() < 2 || fields.size() > 5) {
        return false;
    }
    std::size_t first = 0;
    std::size_t last = kChannelCount;
    if (fields[0] != "all") {
        const auto channel = ParseInt(fields[0]);
        if (!channel || *channel < 1 || *channel > static_cast<int>(kChannelCount)) {
            return false;
        }
        first = static_cast<std::size_t>(*channel - 1);
        last = first + 1;
    }
    const auto kind = ParseKind(fields[1]);
    if (!kind) {
        return false;
    }
    std::array<std::optional<int>, 3> numbers{};
    for (std::size_t i = 2; i < fields.size(); ++i) {
        numbers[i - 2] = ParseInt(fields[i]);
        if (!numbers[i - 2]) {
            return false;
        }
    }
    const auto& [offset, amplitude, period] = numbers;
    if ((amplitude && *amplitude < 0) || (period && *period <= 0)) {
        return false;
    }
    for (std::size_t k = first; k < last; ++k) {
        Waveform& wave = waves[k];
        wave.kind = *kind;
        wave.offsetMv = offset.value_or(wave.offsetMv);
        wave.amplitudeMv = amplitude.value_or(wave.amplitudeMv);
        wave.periodMs = period.value_or(wave.periodMs);
    }
    return true;
}

}  // namespace corvelle::sim
