#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

#include "device/page_ports.h"

namespace corvelle {

// "%y-%m-%d %H:%M:%S": two-digit year, 24-hour time; used by the link status texts.
std::string FormatDateTime(const LocalDateTime& time);

// "%H:%M:%S": the label of every chart point.
std::string FormatTimeOfDay(const LocalDateTime& time);

// "2026-12-08": the date of a day's files.
std::string FormatIsoDate(const LocalDateTime& time);

// The date of "2026-12-08" (exactly that form), when it is a valid date.
std::optional<std::chrono::sys_days> ParseIsoDate(std::string_view text);

// "2026-12-08 10:15:30.123": a recorded row's time.
std::string FormatDateTimeMs(const LocalDateTime& time);

// "+08:00", "-03:30": an offset from UTC.
std::string FormatUtcOffset(int offsetSeconds);

// "2026-12-08T10:15:30.123+08:00": local time with its offset from UTC (ISO 8601).
std::string FormatIsoDateTime(const LocalDateTime& time);

}  // namespace corvelle
