// The history's row readers on any bytes, read as a day file and as an events file, and the rows
// appended to a series (twice, for the joins between days) and drawn: whatever the bytes, the
// readers account for every line, the pieces cover the rows in order without going back in time,
// and every pixel column holds the true minimum and maximum of its rows.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "history/day_file.h"
#include "history/events_file.h"
#include "history/series.h"

namespace {

using namespace corvelle;

void Check(bool holds) {
    if (!holds) {
        std::abort();
    }
}

void CheckDrawing(const Series& series, int width) {
    const auto extent = series.Extent();
    if (!extent) {
        return;
    }
    std::vector<PixelColumn> columns;
    std::size_t previousEnd = 0;
    for (const Piece& piece : series.Pieces()) {
        Check(piece.begin == previousEnd && piece.begin < piece.end);
        previousEnd = piece.end;
        for (std::size_t row = piece.begin + 1; row < piece.end; ++row) {
            Check(series.Time(row - 1) <= series.Time(row));
        }
        series.Columns(piece, extent->first, extent->last + std::chrono::milliseconds(1), width,
                       columns);
        std::size_t covered = 0;
        for (const PixelColumn& column : columns) {
            Check(column.x >= 0 && column.x < width && column.begin < column.end);
            covered += column.end - column.begin;
            ValueRange brute;
            FlagRange flags;
            for (std::size_t row = column.begin; row < column.end; ++row) {
                brute.Add(series.Value(0, row));
                flags.Add(series.Flags(row));
            }
            const ValueRange range = series.Range(0, column.begin, column.end);
            Check(range.Empty() == brute.Empty());
            Check(range.Empty() || (range.min == brute.min && range.max == brute.max));
            const FlagRange fast = series.FlagsOver(column.begin, column.end);
            Check(fast.all == flags.all && fast.any == flags.any);
        }
        Check(covered == piece.end - piece.begin);
    }
    Check(previousEnd == series.Rows());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    const auto lines = static_cast<std::uint64_t>(std::count(bytes.begin(), bytes.end(), '\n') +
                                                  std::count(bytes.begin(), bytes.end(), '\r')) +
                       1;
    const RowSelection selection{{0, kSignalColumn}, true};

    ReadProblems dayProblems;
    std::istringstream dayIn(bytes);
    const DayFileRead day = ReadDayFile(dayIn, selection, "day", dayProblems);
    Check(day.block->Rows() + dayProblems.rows <= lines && dayProblems.firstLine <= lines);

    ReadProblems eventProblems;
    std::istringstream eventsIn(bytes);
    std::vector<EventRecord> events;
    ReadEventsFile(
        eventsIn, "events", eventProblems, [](const EventRecord&) { return true; }, 64, events);
    Check(events.size() <= 64 && eventProblems.firstLine <= lines);

    std::vector<RowTime> absences;
    absences.reserve(events.size());
    for (const EventRecord& event : events) {
        absences.push_back(event.time);
    }
    Series series(selection);
    series.Append(day.block, absences);
    series.Append(day.block, absences);
    CheckDrawing(series, 1 + static_cast<int>(size % 97));
    return 0;
}
