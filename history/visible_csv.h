#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string_view>

#include "history/profile_timeline.h"

namespace corvelle {

// Where the text of an export goes, in order, a few hundred kilobytes at a time, with the rows
// written so far; false stops the export (the file could not take it, or the operator cancelled).
using CsvSink = std::function<bool(std::string_view text, std::uint64_t rows)>;

// The rows of series whose time lies in [from, to].
std::uint64_t VisibleRows(const Series& series, RowTime from, RowTime to);

// Writes the rows of series whose time lies in [from, to], piece by piece, as CSV in the
// recorder's encoding (byte-order mark, CRLF): "时间", then for each channel "NAME(UNIT)" with
// the scaled value and "NAME 原始(V)" with the volts, or "ADk(V)" alone for a channel no profile
// touches. Empty fields stay empty. False when the sink stopped it.
bool WriteVisibleCsv(const CsvSink& sink, const Series& series,
                     std::span<const ShownChannel> channels, RowTime from, RowTime to);

}  // namespace corvelle
