#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "device/acquisition_sink.h"

namespace corvelle {

// Every file starts with a UTF-8 byte-order mark and ends its lines with CRLF.
inline constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
inline constexpr std::string_view kLineEnd = "\r\n";

// The header lines of the day files, without line end.
inline constexpr std::string_view kReadingHeader =
    "时间,AD1,AD2,AD3,AD4,AD5,AD6,AD7,AD8,AD9,AD10,AD11,AD12,温度(℃),基准(V),电源(V),信号,光耦,"
    "继电器";
inline constexpr std::string_view kEventHeader = "时间,槽位,名称,事件,详情";

// text as one CSV field: quoted, with inner quotes doubled, when it holds a comma, a quote, CR
// or LF.
std::string CsvField(std::string_view text);

// The name column of the events file for a terminal name: a spreadsheet would run a name such
// as "=cmd|..." as a formula, so such a name gets a leading apostrophe, as spreadsheets
// themselves mark typed text. Not yet quoted as a CSV field.
std::string EventNameText(std::string_view name);

// The terminal name behind a name column of the events file (unquoted): EventNameText undone.
std::string_view NameOfEventText(std::string_view text);

// One reading as a line of its terminal's day file, without line end.
std::string ReadingRow(const Reading& reading);

// Connections and refused registrations are left out of the events file: anyone who reaches
// the port can make any number of them.
bool IsRecorded(const AcquisitionEvent& event);

// The events file's name of an event kind ("已断开"); empty for the kinds not recorded.
std::string_view EventName(EventKind kind);

// One event as a line of the events file, without line end, with the slot's name as the tabs
// show it and the recording program (for the start mark); nothing for the kinds that are not
// recorded.
std::optional<std::string> EventRow(const AcquisitionEvent& event, std::string_view name,
                                    std::string_view program = {});

}  // namespace corvelle
