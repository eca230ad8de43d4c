#include "device/time_text.h"

#include <array>
#include <cstdio>
#include <cstdlib>

namespace corvelle {

std::string FormatDateTime(const LocalDateTime& time) {
    std::array<char, 64> text{};
    std::snprintf(text.data(), text.size(), "%02d-%02d-%02d %s", time.year % 100, time.month,
                  time.day, FormatTimeOfDay(time).c_str());
    return text.data();
}

std::string FormatTimeOfDay(const LocalDateTime& time) {
    std::array<char, 32> text{};
    std::snprintf(text.data(), text.size(), "%02d:%02d:%02d", time.hour, time.minute, time.second);
    return text.data();
}

std::string FormatIsoDate(const LocalDateTime& time) {
    std::array<char, 32> text{};
    std::snprintf(text.data(), text.size(), "%04d-%02d-%02d", time.year, time.month, time.day);
    return text.data();
}

std::string FormatDateTimeMs(const LocalDateTime& time) {
    std::array<char, 64> text{};
    std::snprintf(text.data(), text.size(), "%s %s.%03d", FormatIsoDate(time).c_str(),
                  FormatTimeOfDay(time).c_str(), time.millisecond);
    return text.data();
}

std::string FormatIsoDateTime(const LocalDateTime& time) {
    const int offsetMinutes = std::abs(time.utcOffsetSeconds) / 60;
    std::array<char, 64> text{};
    std::snprintf(text.data(), text.size(), "%sT%s.%03d%c%02d:%02d", FormatIsoDate(time).c_str(),
                  FormatTimeOfDay(time).c_str(), time.millisecond,
                  time.utcOffsetSeconds < 0 ? '-' : '+', offsetMinutes / 60, offsetMinutes % 60);
    return text.data();
}

}  // namespace corvelle
