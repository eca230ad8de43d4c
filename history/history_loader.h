#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "history/csv_records.h"
#include "history/events_file.h"
#include "history/series.h"

namespace corvelle {

struct HistoryRequest {
    // The recording folder.
    std::filesystem::path root;
    // The terminal's folder in it (TerminalFolder::folder).
    std::string folder;
    // The dates to read, both included.
    std::chrono::sys_days first;
    std::chrono::sys_days last;
    RowSelection selection;
};

// What a load read. Copies share the rows, so handing one to another thread costs little.
struct History {
    // The terminal's name (TerminalName).
    std::string name;
    Series series;
    // The events of this terminal and of the whole recording (those that name no terminal):
    // registrations, "已连接", "已断开", recording started and stopped, and every other kind,
    // day by day in file order; at most kMaxEvents, the rest counted in eventsLeftOut.
    std::vector<EventRecord> events;
    std::uint64_t eventsLeftOut = 0;
    // Rows of the day and events files that could not be read.
    ReadProblems problems;
    // Files that could not be opened, or not read to their end (as ReadProblems names them).
    std::vector<std::string> unreadable;
    // Dates with a day or events file in the range, and how many of them have been read.
    std::size_t days = 0;
    std::size_t daysRead = 0;
    // Ended early by LoadObserver::Cancelled: holds the whole days read before.
    bool cancelled = false;

    static constexpr std::size_t kMaxEvents = 100000;
};

// How a load reports to whoever waits for it; called on the loading thread.
class LoadObserver {
  public:
    virtual ~LoadObserver() = default;
    // Asked before each file and after each piece read (a megabyte at most): true ends the load.
    virtual bool Cancelled() = 0;
    // Bytes read so far of all the files of the load, and their size at the start.
    virtual void OnProgress(std::uint64_t bytesRead, std::uint64_t bytesTotal) = 0;
    // After each date, first of all after the first: everything read so far, for the call's
    // length; a copy to keep is cheap.
    virtual void OnDay(const History& soFar) = 0;
};

// Reads a terminal's day files and the events files of the dates in the request, date by date,
// into one series: the events of the terminal's absences (a new registration, "已断开", the
// recording starting, stopping, failing or dropping rows) split its line. Runs on the calling
// thread, so run it on one of its own; it only reads the folder, and several loads may run at
// once. A folder without files in the range gives an empty history.
History LoadHistory(const HistoryRequest& request, LoadObserver& observer);

}  // namespace corvelle
