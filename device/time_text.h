#pragma once

#include <string>

#include "device/page_ports.h"

namespace corvelle {

// "%y-%m-%d %H:%M:%S": two-digit year, 24-hour time; used by the link status texts.
std::string FormatDateTime(const LocalDateTime& time);

// "%H:%M:%S": the label of every chart point.
std::string FormatTimeOfDay(const LocalDateTime& time);

}  // namespace corvelle
