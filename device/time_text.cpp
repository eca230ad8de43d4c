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

std::optional<std::chrono::sys_days> ParseIsoDate(std::string_view text) {
    if (text.size() != 10 || text[4] != '-' || text[7] != '-') {
        return std::nullopt;
    }
    int parts[3] = {0, 0, 0};
    const std::size_t starts[3] = {0, 5, 8};
    const std::size_t lengths[3] = {4, 2, 2};
    for (int i = 0; i < 3; ++i) {
        for (std::size_t k = 0; k < lengths[i]; ++k) {
            const char c = text[starts[i] + k];
            if (c < '0' || c > '9') {
                return std::nullopt;
            }
            parts[i] = parts[i] * 10 + (c - '0');
        }
    }
    const std::chrono::year_month_day date{std::chrono::year(parts[0]),
                                           std::chrono::month(static_cast<unsigned>(parts[1])),
                                           std::chrono::day(static_cast<unsigned>(parts[2]))};
    if (!date.ok()) {
        return std::nullopt;
    }
    return std::chrono::sys_days(date);
}

std::string FormatDateTimeMs(const LocalDateTime& time) {
    std::array<char, 64> text{};
    std::snprintf(text.data(), text.size(), "%s %s.%03d", FormatIsoDate(time).c_str(),
                  FormatTimeOfDay(time).c_str(), time.millisecond);
    return text.data();
}

std::string FormatUtcOffset(int offsetSeconds) {
    const int offsetMinutes = std::abs(offsetSeconds) / 60;
    std::array<char, 16> text{};
    std::snprintf(text.data(), text.size(), "%c%02d:%02d", offsetSeconds < 0 ? '-' : '+',
                  offsetMinutes / 60, offsetMinutes % 60);
    return text.data();
}

std::string FormatIsoDateTime(const LocalDateTime& time) {
    std::array<char, 64> text{};
    std::snprintf(text.data(), text.size(), "%sT%s.%03d", FormatIsoDate(time).c_str(),
                  FormatTimeOfDay(time).c_str(), time.millisecond);
    return text.data() + FormatUtcOffset(time.utcOffsetSeconds);
}

}  // namespace corvelle
