#include "device/time_text.h"

#include <array>
#include <cstdio>

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

}  // namespace corvelle
