#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "alarm/alarm_definition.h"

namespace corvelle {

inline constexpr std::size_t kProfileChannels = 12;
inline constexpr std::size_t kProfileSwitches = 12;
inline constexpr std::size_t kMaxChannelNameChars = 32;
inline constexpr std::size_t kMaxUnitChars = 16;
inline constexpr int kMaxDecimals = 6;
inline constexpr int kDefaultDecimals = 2;

// Two-point linear scaling: raw volts from low to high mean scaled values from low to high
// (either may run downwards).
struct Scaling {
    double rawLow = 0;
    double rawHigh = 1;
    double scaledLow = 0;
    double scaledHigh = 1;

    double Apply(double volts) const {
        return scaledLow + (volts - rawLow) * (scaledHigh - scaledLow) / (rawHigh - rawLow);
    }
    bool operator==(const Scaling&) const = default;
};

enum class Axis { Left, Right };

// What one analogue channel means. Without scaling it shows volts, as without a profile.
struct ChannelProfile {
    std::string name;
    std::string unit;
    std::optional<Scaling> scaling;
    int decimals = kDefaultDecimals;
    Axis axis = Axis::Left;
    ChannelAlarms alarms;
    bool operator==(const ChannelProfile&) const = default;
};

// An input or relay: its name; an input may raise an alarm.
struct SwitchProfile {
    std::string name;
    std::optional<InputAlarm> alarm;
    bool operator==(const SwitchProfile&) const = default;
};

// What one terminal's channels, inputs and relays mean, by the terminal's name as the tabs
// show it (UTF-8).
struct TerminalProfile {
    std::string terminal;
    std::string description;
    // Index i: channel AD(i+1); empty for a channel the profile leaves as it is.
    std::array<std::optional<ChannelProfile>, kProfileChannels> channels{};
    std::array<SwitchProfile, kProfileSwitches> inputs{};
    std::array<SwitchProfile, kProfileSwitches> relays{};
    // Seconds without a valid reply that raise "通信中断"; unset: three poll intervals and 10 s.
    std::optional<double> silentAfter;
    bool operator==(const TerminalProfile&) const = default;
};

// Every profile of a file, by terminal name. Shared as const while pages, sinks and writer
// threads use it; a reload makes a new one.
struct ProfileSet {
    std::map<std::string, std::shared_ptr<const TerminalProfile>, std::less<>> terminals;

    // nullptr when the terminal has none.
    std::shared_ptr<const TerminalProfile> Find(std::string_view terminal) const;
};

// Finds what a terminal's name means, by the name as received (raw bytes); the decoding that
// turns it into the text profiles are keyed by belongs to the finder.
class ProfileLookup {
  public:
    virtual ~ProfileLookup() = default;
    // nullptr: the terminal has none.
    virtual std::shared_ptr<const TerminalProfile> ProfileFor(
        std::span<const std::uint8_t> name) const = 0;
};

// What channel index (0-based) reads under profile (nullptr: none): its scaled value where the
// profile scales it, else volts. The one place scaling is applied.
double ChannelValue(const TerminalProfile* profile, std::size_t index, double volts);

// value with exactly decimals fraction digits and the unit after a space ("6.70 m"; "6.70"
// without a unit); a value that rounds to zero reads without a minus sign.
std::string ValueText(double value, int decimals, std::string_view unit);

// value rounded to decimals fraction digits, for consumers that take numbers.
double RoundedValue(double value, int decimals);

// The channels below channelCount the profile names or scales, for a log line:
// ": AD1 水位 [m], AD3 温度" (empty when there are none).
std::string ChannelSummary(const TerminalProfile& profile, std::size_t channelCount);

// The profile as consumers read it (an MQTT meta message, a row of the events file): one compact
// JSON object with name, description, channels (channel, name, unit, raw, scaled, decimals,
// axis; the channels the profile names or scales), inputs and relays (number, name; the named
// ones).
std::string MetaJson(const TerminalProfile& profile);

// text as a JSON string, quotes included; control characters escaped. TOML reads it as the
// same basic string, so the profile file is written with it too.
std::string JsonString(std::string_view text);

// Shortest text that reads back as the same double ("6.7", "10", "-0.25").
std::string NumberText(double value);

}  // namespace corvelle
