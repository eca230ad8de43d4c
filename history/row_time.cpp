#include "history/row_time.h"

namespace corvelle {
namespace {

// Reads minDigits to maxDigits decimal digits at text[at], moving at past them.
bool Digits(std::string_view text, std::size_t& at, std::size_t minDigits, std::size_t maxDigits,
            int& value) {
    value = 0;
    std::size_t count = 0;
    while (at < text.size() && count < maxDigits && text[at] >= '0' && text[at] <= '9') {
        value = value * 10 + (text[at] - '0');
        ++at;
        ++count;
    }
    return count >= minDigits;
}

bool Skip(std::string_view text, std::size_t& at, std::string_view oneOf, char& which) {
    if (at >= text.size() || oneOf.find(text[at]) == std::string_view::npos) {
        return false;
    }
    which = text[at++];
    return true;
}

}  // namespace

std::optional<RowTime> ParseRowTime(std::string_view text) {
    std::size_t at = 0;
    int year = 0;
    int month = 0;
    int day = 0;
    int hour = 0;
    int minute = 0;
    int second = 0;
    int millisecond = 0;
    char separator = 0;
    char again = 0;
    char other = 0;
    if (!Digits(text, at, 4, 4, year) || !Skip(text, at, "-/", separator) ||
        !Digits(text, at, 1, 2, month) || !Skip(text, at, "-/", again) || again != separator ||
        !Digits(text, at, 1, 2, day) || !Skip(text, at, " T", other) ||
        !Digits(text, at, 1, 2, hour) || !Skip(text, at, ":", other) ||
        !Digits(text, at, 2, 2, minute)) {
        return std::nullopt;
    }
    if (Skip(text, at, ":", other)) {
        if (!Digits(text, at, 2, 2, second)) {
            return std::nullopt;
        }
        if (Skip(text, at, ".", other)) {
            const std::size_t start = at;
            int digit = 0;
            for (int scale = 100; at < text.size() && Digits(text, at, 1, 1, digit); scale /= 10) {
                millisecond += digit * scale;
            }
            if (at == start) {
                return std::nullopt;
            }
        }
    }
    using namespace std::chrono;
    const year_month_day date{std::chrono::year(year),
                              std::chrono::month(static_cast<unsigned>(month)),
                              std::chrono::day(static_cast<unsigned>(day))};
    if (at != text.size() || !date.ok() || hour > 23 || minute > 59 || second > 59) {
        return std::nullopt;
    }
    return RowTime(local_days(date).time_since_epoch()) + hours(hour) + minutes(minute) +
           seconds(second) + milliseconds(millisecond);
}

}  // namespace corvelle
