#pragma once

#include <cstdint>
#include <ostream>
#include <span>

#include "history/profile_timeline.h"

namespace corvelle {

// Writes the rows of series whose time lies in [from, to], piece by piece, as CSV in the
// recorder's encoding (byte-order mark, CRLF): "时间", then for each channel "NAME(UNIT)" with
// the scaled value and "NAME 原始(V)" with the volts, or "ADk(V)" alone for a channel no profile
// touches. Empty fields stay empty. Returns the rows written.
std::uint64_t WriteVisibleCsv(std::ostream& out, const Series& series,
                              std::span<const ShownChannel> channels, RowTime from, RowTime to);

}  // namespace corvelle
