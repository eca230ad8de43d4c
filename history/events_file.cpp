#include "history/events_file.h"

#include <algorithm>
#include <charconv>

#include "record/csv_rows.h"

namespace corvelle {
namespace {

constexpr std::size_t kEventFields =
    static_cast<std::size_t>(std::count(kEventHeader.begin(), kEventHeader.end(), ',')) + 1;
constexpr std::size_t kMaxEventBytes = std::size_t{1} << 20;
constexpr int kMaxSlot = 65535;

bool ParseSlot(std::string_view text, int& slot) {
    slot = 0;
    if (text.empty()) {
        return true;
    }
    const char* const end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, slot);
    return error == std::errc{} && stop == end && slot >= 1 && slot <= kMaxSlot;
}

}  // namespace

EventsFileRead ReadEventsFile(std::istream& in, std::string_view file, ReadProblems& problems,
                              const std::function<bool(const EventRecord&)>& keep,
                              std::size_t maxEvents, std::vector<EventRecord>& events,
                              std::function<bool(std::uint64_t)> pieceRead) {
    CsvRecords records(in, {kMaxEventBytes, true}, std::move(pieceRead));
    EventsFileRead read;
    EventRecord event;
    ReadRows(records, file, problems, [&](std::span<const std::string_view> fields) {
        if (!HasFields(fields, kEventFields)) {
            return false;
        }
        const auto time = ParseRowTime(fields[0]);
        if (!time || !ParseSlot(fields[1], event.slot)) {
            return false;
        }
        event.time = *time;
        event.name = NameOfEventText(fields[2]);
        event.event = fields[3];
        event.detail = fields[4];
        if (keep(event)) {
            if (events.size() < maxEvents) {
                events.push_back(event);
            } else {
                ++read.leftOut;
            }
        }
        return true;
    });
    read.stopped = records.Stopped();
    read.failed = records.Failed();
    return read;
}

}  // namespace corvelle
