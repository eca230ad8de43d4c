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
    LocalDateTime t;
    char separator = 0;
    char again = 0;
    char other = 0;
    if (!Digits(text, at, 4, 4, t.year) || !Skip(text, at, "-/", separator) ||
        !Digits(text, at, 1, 2, t.month) || !Skip(text, at, "-/", again) || again != separator ||
        !Digits(text, at, 1, 2, t.day) || !Skip(text, at, " T", other) ||
        !Digits(text, at, 1, 2, t.hour) || !Skip(text, at, ":", other) ||
        !Digits(text, at, 2, 2, t.minute)) {
        return std::nullopt;
    }
    if (Skip(text, at, ":", other)) {
        if (!Digits(text, at, 2, 2, t.second)) {
            return std::nullopt;
        }
        if (Skip(text, at, ".", other)) {
            const std::size_t start = at;
            int digit = 0;
            for (int scale = 100; at < text.size() && Digits(text, at, 1, 1, digit); scale /= 10) {
                t.millisecond += digit * scale;
            }
            if (at == start) {
                return std::nullopt;
            }
        }
    }
    using namespace std::chrono;
    const year_month_day date{year(t.year), month(static_cast<unsigned>(t.month)),
                              day(static_cast<unsigned>(t.day))};
    if (at != text.size() || !date.ok() || t.hour > 23 || t.minute > 59 || t.second > 59) {
        return std::nullopt;
    }
    return RowTime(local_days(date).time_since_epoch()) + hours(t.hour) + minutes(t.minute) +
           seconds(t.second) + milliseconds(t.millisecond);
}

LocalDateTime LocalDateTimeOf(RowTime time) {
    using namespace std::chrono;
    const auto date = floor<days>(time);
    const year_month_day calendar(date);
    const hh_mm_ss clock(time - date);
    return {static_cast<int>(calendar.year()),
            static_cast<int>(static_cast<unsigned>(calendar.month())),
            static_cast<int>(static_cast<unsigned>(calendar.day())),
            static_cast<int>(clock.hours().count()),
            static_cast<int>(clock.minutes().count()),
            static_cast<int>(clock.seconds().count()),
            static_cast<int>(clock.subseconds().count()),
            0};
}

}  // namespace corvelle
