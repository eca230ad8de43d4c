#pragma once

#include <chrono>
#include <optional>
#include <string_view>

#include "device/page_ports.h"

namespace corvelle {

// A row's time as the files hold it: local wall-clock time, without a zone, to the millisecond.
using RowTime = std::chrono::local_time<std::chrono::milliseconds>;

// The time of "2026-12-08 10:15:30.123", as the recorder writes it, and of what spreadsheets
// make of it when they save a file again: "/" between the parts of the date, month, day and hour
// without a leading zero, "T" for the space, the fraction or the seconds left out, a fraction of
// any length (cut to milliseconds). Nothing else: no zone, no spaces around it.
std::optional<RowTime> ParseRowTime(std::string_view text);

// The calendar and clock fields of a row time, for the recorder's formats (device/time_text.h):
// FormatDateTimeMs(LocalDateTimeOf(t)) is the time as a day file holds it. No offset from UTC:
// the files hold none.
LocalDateTime LocalDateTimeOf(RowTime time);

// Midnight at the start of a date.
inline RowTime StartOf(std::chrono::sys_days date) {
    return RowTime(date.time_since_epoch());
}

}  // namespace corvelle
