#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "device/acquisition_sink.h"
#include "record/platform/record_file.h"

namespace corvelle {

// The files of a recording folder: each terminal's day files in a folder of its own, named
// FolderName(...)/YYYY-MM-DD.csv, and the events of a day in events-YYYY-MM-DD.csv.
inline constexpr std::string_view kEventsFilePrefix = "events-";
std::filesystem::path DayFilePath(const std::filesystem::path& root, std::string_view folder,
                                  std::string_view date);
std::filesystem::path EventsFilePath(const std::filesystem::path& root, std::string_view date);
// The date of a file named prefix + "YYYY-MM-DD.csv" ("" for the day files).
std::optional<std::chrono::sys_days> DateOfFile(std::string_view fileName, std::string_view prefix);

// A device name's raw bytes as UTF-8 text, exactly as the tabs show it.
using NameDecoder = std::function<std::string(std::span<const std::uint8_t>)>;

// Time as the writer needs it: local time for the rows it writes itself and for the day, and a
// monotonic count for its retries and periods.
class RecorderClock : public Clock {
  public:
    virtual std::chrono::milliseconds Elapsed() const = 0;
};

// The system's clocks.
class SystemRecorderClock final : public RecorderClock {
  public:
    LocalDateTime Now() const override;
    std::chrono::milliseconds Elapsed() const override;
};

struct RecordWriterOptions {
    // Who records, for the start mark: "corvelled 1.0.0.1".
    std::string program;
    // Day files dated before today minus this many days are removed; 0 keeps everything.
    int keepDays = 0;
    // How often rows go to their files, the identity of the files is checked, and a file that
    // cannot be written is tried again.
    std::chrono::milliseconds flushPeriod{1000};
    // How long a file may fail before its terminal's rows are given up on and it is reported,
    // and how often it is tried after that.
    std::chrono::milliseconds failAfter{60000};
    std::chrono::milliseconds retryFailedPeriod{30000};
    // Written files reach the disk itself at least this often, and when closed.
    std::chrono::milliseconds syncPeriod{60000};
    // Below this the recording stops; below the warning (or a day of writing at the current
    // rate, whichever is more) it warns once.
    std::uint64_t stopBelowBytes = std::uint64_t{64} << 20;
    std::uint64_t warnBelowBytes = std::uint64_t{1} << 30;
    // Rows of one file held while it is tried again; later ones are dropped and counted.
    std::size_t maxHeldRows = 2000;
};

// Everything that lands in the recording folder, on one thread and without waiting: the rows of
// each terminal's day file and of the events file, the start and stop marks, a row cut short by
// a crash ended, files replaced underneath followed to what their path names now, the rows of a
// file that cannot be written held for a while and then given up on for that file alone,
// regular syncs, the free space watched and old files removed. Only a problem of the folder
// itself (gone, not writable, the disk full) ends the whole recording: the calls then return it.
class RecordWriter {
  public:
    // In each terminal's folder: the terminal's name as the tabs show it (UTF-8, one line).
    static constexpr const char* kNameFile = ".name";

    // news hears every event the writer writes on its own account.
    RecordWriter(std::filesystem::path root, NameDecoder decoder, const RecorderClock& clock,
                 RecordWriterOptions options, std::function<void(const AcquisitionEvent&)> news);
    ~RecordWriter();
    RecordWriter(const RecordWriter&) = delete;
    RecordWriter& operator=(const RecordWriter&) = delete;

    // The start mark (folderText: the folder as the operator gave it), then old files removed.
    std::optional<FileError> Begin(const std::string& folderText);
    std::optional<FileError> Write(const Reading& reading);
    std::optional<FileError> Write(const AcquisitionEvent& event);
    // Does what is due by now: rows to their files, retries, syncs, the free space, midnight.
    std::optional<FileError> Tick();
    // The last rows and the stop mark (droppedElsewhere: rows that never reached the writer),
    // everything synced and closed. A problem of any file is returned: nothing may be lost
    // without a word at the end.
    std::optional<FileError> Finish(std::uint64_t droppedElsewhere);

    std::uint64_t ReadingRows() const { return readingRows_; }
    std::uint64_t EventRows() const { return eventRows_; }
    // Rows given up on: files that could not be written.
    std::uint64_t Dropped() const { return dropped_; }
    // Rows accepted and not yet in their files.
    std::uint64_t Pending() const;

  private:
    struct Chunk {
        std::string date;
        std::string text;
        std::uint64_t rows = 0;
    };
    enum class Health { Ok, Retrying, Failed };
    struct Stream;
    struct Name {
        std::string text;
        std::string folder;
    };

    const Name& NameOf(const std::vector<std::uint8_t>& raw);
    Stream& StreamOf(const std::string& folder);
    void Queue(Stream& stream, const std::string& date, const std::string& row);
    // Notes in the events file the profile the reading is written under, when it is new there.
    void NoteProfile(Stream& stream, const Reading& reading, const std::string& date);
    std::optional<FileError> WriteOwn(AcquisitionEvent event);
    // Writes a stream's chunks; the error of the first that fails.
    std::optional<FileError> Flush(Stream& stream, bool checkIdentity);
    std::optional<FileError> Open(Stream& stream, const std::string& date);
    std::optional<FileError> Close(Stream& stream);
    // The whole recording's problem, if this error (or the folder's state) is one.
    std::optional<FileError> WholeProblem(const FileError& error) const;
    std::optional<FileError> FlushAll(bool final);
    std::optional<FileError> WatchSpace();
    void SyncAll();
    void RemoveOld();
    void CloseLeastRecentlyUsed();
    std::filesystem::path FileOf(const Stream& stream, const std::string& date) const;

    const std::filesystem::path root_;
    const NameDecoder decoder_;
    const RecorderClock& clock_;
    const RecordWriterOptions options_;
    const std::function<void(const AcquisitionEvent&)> news_;

    std::map<std::string, std::unique_ptr<Stream>> streams_;
    std::map<std::string, Name, std::less<>> names_;
    std::string today_;
    std::chrono::milliseconds nextFlush_{0};
    std::chrono::milliseconds nextSync_{0};
    std::uint64_t bytes_ = 0;
    std::uint64_t bytesAtLastSync_ = 0;
    std::chrono::milliseconds lastSyncAt_{0};
    std::uint64_t bytesPerDay_ = 0;
    bool spaceWarned_ = false;
    std::size_t openFiles_ = 0;
    std::uint64_t uses_ = 0;
    std::uint64_t readingRows_ = 0;
    std::uint64_t eventRows_ = 0;
    std::uint64_t dropped_ = 0;
};

}  // namespace corvelle
