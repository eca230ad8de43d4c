#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <istream>
#include <string>
#include <string_view>
#include <vector>

#include "history/csv_records.h"
#include "history/row_time.h"

namespace corvelle {

// A row of an events file, as generic as the file itself, so that kinds of events added to the
// recorder need no change here.
struct EventRecord {
    RowTime time;
    // 1-based; 0 when the row names none.
    int slot = 0;
    // The terminal's name as the tabs show it, the apostrophe against formulas taken off; empty
    // for events of the whole recording.
    std::string name;
    // "注册", "已连接", "已断开", "开始记录", "停止记录", ... (EventName in record/csv_rows.h).
    std::string event;
    std::string detail;
};

struct EventsFileRead {
    // Rows kept would have gone past maxEvents.
    std::uint64_t leftOut = 0;
    // As in DayFileRead.
    bool stopped = false;
    bool failed = false;
};

// Reads an events file (时间,槽位,名称,事件,详情) and appends the rows keep accepts to events,
// until events holds maxEvents. Quoted fields may hold commas, quotes and line ends; a record may
// be up to a megabyte long (a profile in the details). It tolerates what ReadDayFile does; a row is
// bad when it has another number of fields, a time that cannot be read, or a slot other than empty
// or a number from 1 to 65535.
EventsFileRead ReadEventsFile(std::istream& in, std::string_view file, ReadProblems& problems,
                              const std::function<bool(const EventRecord&)>& keep,
                              std::size_t maxEvents, std::vector<EventRecord>& events,
                              std::function<bool(std::uint64_t)> pieceRead = nullptr);

}  // namespace corvelle
