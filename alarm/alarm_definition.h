#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

// What raises an alarm, as a terminal profile defines it. Plain types without dependencies, so
// that the profile library stores them and the alarm library evaluates them.
namespace corvelle {

// Most urgent first: 紧急, 重要, 一般.
enum class AlarmPriority : std::uint8_t { Urgent, High, Low };

// Most severe first, as the alarm of a channel reports the most severe limit it is past.
enum class LimitKind : std::uint8_t { HighHigh, LowLow, High, Low };
inline constexpr std::size_t kLimitKinds = 4;

struct AlarmLimit {
    double limit = 0;
    AlarmPriority priority = AlarmPriority::High;
    bool operator==(const AlarmLimit&) const = default;
};

// The limits of one channel, in its scaled units, and how a crossing must last.
struct ChannelAlarms {
    // Index: LimitKind.
    std::array<std::optional<AlarmLimit>, kLimitKinds> limits{};
    // How far back past a limit the value must come to clear it.
    double deadband = 0;
    // How long, in seconds, a crossing must hold to raise, and its end to clear.
    double onDelay = 0;
    double offDelay = 0;

    bool Any() const {
        for (const auto& limit : limits) {
            if (limit) {
                return true;
            }
        }
        return false;
    }
    bool operator==(const ChannelAlarms&) const = default;
};

// An input whose state is an alarm.
struct InputAlarm {
    // Active while the input is on (else: while it is off).
    bool whenOn = true;
    std::string text;
    AlarmPriority priority = AlarmPriority::High;
    bool operator==(const InputAlarm&) const = default;
};

inline constexpr std::size_t kMaxAlarmTextChars = 64;

// "紧急", "重要", "一般": the profile's words and the operator's.
inline const char* PriorityText(AlarmPriority priority) {
    switch (priority) {
        case AlarmPriority::Urgent:
            return "紧急";
        case AlarmPriority::High:
            return "重要";
        case AlarmPriority::Low:
            return "一般";
    }
    return "";
}

// The profile's key of a limit: "high_high", "low_low", "high", "low".
inline const char* LimitKey(LimitKind kind) {
    switch (kind) {
        case LimitKind::HighHigh:
            return "high_high";
        case LimitKind::LowLow:
            return "low_low";
        case LimitKind::High:
            return "high";
        case LimitKind::Low:
            return "low";
    }
    return "";
}

}  // namespace corvelle
