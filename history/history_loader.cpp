#include "history/history_loader.h"

#include <algorithm>
#include <array>
#include <fstream>
#include <optional>

#include "device/time_text.h"
#include "history/day_file.h"
#include "history/record_folder.h"
#include "record/csv_rows.h"
#include "record/record_writer.h"
#include "record/utf8_path.h"

namespace corvelle {
namespace {

namespace fs = std::filesystem;

// Events that part the rows before them from the rows after them: those that end a stretch of
// rows (the rows of their very millisecond came before them) and those that begin one (the rows
// of their millisecond came after them).
constexpr std::array kEndsRows = {EventKind::Detached, EventKind::RecordingStopped,
                                  EventKind::TerminalRecordingFailed, EventKind::ReadingsDropped};
constexpr std::array kBeginsRows = {EventKind::Registered, EventKind::RecordingStarted};

// The time of an absence the event marks (see Series::Append), if it marks one.
std::optional<RowTime> AbsenceOf(const EventRecord& event) {
    const auto is = [&](EventKind kind) { return event.event == EventName(kind); };
    if (std::any_of(kEndsRows.begin(), kEndsRows.end(), is)) {
        return event.time + std::chrono::milliseconds(1);
    }
    if (std::any_of(kBeginsRows.begin(), kBeginsRows.end(), is)) {
        return event.time;
    }
    return std::nullopt;
}

std::string IsoDate(std::chrono::sys_days date) {
    const std::chrono::year_month_day day(date);
    return FormatIsoDate({static_cast<int>(day.year()),
                          static_cast<int>(static_cast<unsigned>(day.month())),
                          static_cast<int>(static_cast<unsigned>(day.day()))});
}

struct DayFiles {
    std::chrono::sys_days date;
    bool hasDay = false;
    bool hasEvents = false;
};

// Reads one file with read, which gets the stream and the progress hook; false when cancelled.
template <class Read>
bool ReadFile(const fs::path& path, const std::string& shown, std::uint64_t& done,
              std::uint64_t total, History& history, LoadObserver& observer, Read read) {
    if (observer.Cancelled()) {
        return false;
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        history.unreadable.push_back(shown);
        return true;
    }
    const std::uint64_t before = done;
    const auto [stopped, failed] = read(in, [&](std::uint64_t bytes) {
        done = before + bytes;
        observer.OnProgress(done, std::max(total, done));
        return !observer.Cancelled();
    });
    if (failed) {
        history.unreadable.push_back(shown);
    }
    return !stopped;
}

}  // namespace

History LoadHistory(const HistoryRequest& request, LoadObserver& observer) {
    History history;
    history.name = TerminalName(request.root, request.folder);
    history.series = Series(request.selection);

    std::vector<DayFiles> dates;
    for (const auto date :
         DatesIn(ListDays(request.root, request.folder), request.first, request.last)) {
        dates.push_back({date, true, false});
    }
    for (const auto date : DatesIn(ListEventDays(request.root), request.first, request.last)) {
        const auto at = std::lower_bound(dates.begin(), dates.end(), date,
                                         [](const DayFiles& d, auto x) { return d.date < x; });
        if (at != dates.end() && at->date == date) {
            at->hasEvents = true;
        } else {
            dates.insert(at, {date, false, true});
        }
    }
    history.days = dates.size();

    std::uint64_t total = 0;
    const auto add = [&total](bool has, const fs::path& path) {
        std::error_code ec;
        const std::uintmax_t size = has ? fs::file_size(path, ec) : 0;
        total += ec ? 0 : size;
    };
    for (const DayFiles& day : dates) {
        const std::string iso = IsoDate(day.date);
        add(day.hasDay, DayFilePath(request.root, request.folder, iso));
        add(day.hasEvents, EventsFilePath(request.root, iso));
    }
    std::uint64_t done = 0;
    observer.OnProgress(0, total);

    const auto concerns = [&](const EventRecord& event) {
        return event.name.empty() || event.name == history.name;
    };
    for (const DayFiles& day : dates) {
        const std::string iso = IsoDate(day.date);
        // A load cancelled within a date ends with the dates before it.
        const std::size_t eventsBefore = history.events.size();
        const std::uint64_t leftOutBefore = history.eventsLeftOut;
        const ReadProblems problemsBefore = history.problems;
        const std::size_t unreadableBefore = history.unreadable.size();
        const auto cancel = [&] {
            history.events.resize(eventsBefore);
            history.eventsLeftOut = leftOutBefore;
            history.problems = problemsBefore;
            history.unreadable.resize(unreadableBefore);
            history.cancelled = true;
            return history;
        };
        if (day.hasEvents) {
            const std::string shown = PathText(EventsFilePath({}, iso));
            const bool whole = ReadFile(EventsFilePath(request.root, iso), shown, done, total,
                                        history, observer, [&](std::istream& in, auto progress) {
                                            const auto read = ReadEventsFile(
                                                in, shown, history.problems, concerns,
                                                History::kMaxEvents, history.events, progress);
                                            history.eventsLeftOut += read.leftOut;
                                            return std::pair(read.stopped, read.failed);
                                        });
            if (!whole) {
                return cancel();
            }
        }
        std::vector<RowTime> absences;
        for (std::size_t i = eventsBefore; i < history.events.size(); ++i) {
            if (const auto absence = AbsenceOf(history.events[i])) {
                absences.push_back(*absence);
            }
        }
        std::shared_ptr<const DayBlock> block;
        if (day.hasDay) {
            const std::string shown = PathText(DayFilePath({}, request.folder, iso));
            const bool whole =
                ReadFile(DayFilePath(request.root, request.folder, iso), shown, done, total,
                         history, observer, [&](std::istream& in, auto progress) {
                             auto read = ReadDayFile(in, request.selection, shown, history.problems,
                                                     progress);
                             block = std::move(read.block);
                             return std::pair(read.stopped, read.failed);
                         });
            if (!whole) {
                return cancel();
            }
        }
        history.series.Append(std::move(block), absences);
        ++history.daysRead;
        observer.OnDay(history);
    }
    return history;
}

}  // namespace corvelle
