#include "record/record_writer.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <fstream>
#include <random>
#include <system_error>

#include "device/time_text.h"
#include "names/terminal_names.h"
#include "record/csv_rows.h"
#include "record/utf8_path.h"

namespace corvelle {
namespace {

namespace fs = std::filesystem;
using std::chrono::milliseconds;

// Room for the service's 256 slots and the events, so that no row has to reopen its file, yet
// with the connections well below the usual limit of 1024 descriptors; a stream of new names
// only makes the least recently used file close.
constexpr std::size_t kMaxOpenFiles = 320;
// Names repeat, so each is decoded once; a stream of new ones from hostile peers only empties
// the cache now and then.
constexpr std::size_t kMaxCachedNames = 256;
constexpr std::size_t kReadBlock = std::size_t{64} << 10;
constexpr std::string_view kCsvSuffix = ".csv";

// What must go in front of the next row of an existing file: nothing when its last row is
// whole. A crash or power loss can cut a row anywhere: in a quoted field (only the events file
// has them) the quote is closed first, and a cut between CR and LF only needs the LF.
std::string RepairOf(const fs::path& path, bool quoted) {
    std::ifstream in(path, std::ios::binary);
    bool insideQuotes = false;
    char last = '\n';
    if (quoted) {
        std::array<char, kReadBlock> block{};
        while (in.read(block.data(), block.size()) || in.gcount() > 0) {
            const auto count = static_cast<std::size_t>(in.gcount());
            insideQuotes ^= (std::count(block.begin(), block.begin() + count, '"') % 2) != 0;
            last = block[count - 1];
        }
    } else if (in.seekg(-1, std::ios::end)) {
        in.get(last);
    }
    if (insideQuotes) {
        return "\"\r\n";
    }
    if (last == '\r') {
        return "\n";
    }
    return last == '\n' ? "" : std::string(kLineEnd);
}

// Permissions alone do not tell: read-only media, quotas and ACLs also refuse files. The probe
// gets a name of its own, so that no file of the folder is replaced.
bool CanWriteIn(const fs::path& root) {
    std::random_device random;
    for (int attempt = 0; attempt < 8; ++attempt) {
        std::array<char, 32> name{};
        std::snprintf(name.data(), name.size(), ".write-probe-%08x%08x", random(), random());
        const fs::path probe = root / name.data();
        std::error_code ec;
        if (fs::exists(fs::symlink_status(probe, ec))) {
            continue;
        }
        std::ofstream(probe, std::ios::binary) << '\n';
        const bool written = fs::file_size(probe, ec) == 1 && !ec;
        fs::remove(probe, ec);
        return written && !ec;
    }
    return false;
}

// Whole rows in text.
std::uint64_t RowsIn(std::string_view text) {
    std::uint64_t rows = 0;
    for (std::size_t at = text.find(kLineEnd); at != std::string_view::npos;
         at = text.find(kLineEnd, at + kLineEnd.size())) {
        ++rows;
    }
    return rows;
}

}  // namespace

fs::path DayFilePath(const fs::path& root, std::string_view folder, std::string_view date) {
    return root / Utf8Path(folder) / Utf8Path(std::string(date).append(kCsvSuffix));
}

fs::path EventsFilePath(const fs::path& root, std::string_view date) {
    return root / Utf8Path(std::string(kEventsFilePrefix).append(date).append(kCsvSuffix));
}

std::optional<std::chrono::sys_days> DateOfFile(std::string_view fileName,
                                                std::string_view prefix) {
    if (fileName.size() < prefix.size() + kCsvSuffix.size() || !fileName.starts_with(prefix) ||
        !fileName.ends_with(kCsvSuffix)) {
        return std::nullopt;
    }
    return ParseIsoDate(
        fileName.substr(prefix.size(), fileName.size() - prefix.size() - kCsvSuffix.size()));
}

LocalDateTime SystemRecorderClock::Now() const {
    return LocalNow();
}

std::chrono::milliseconds SystemRecorderClock::Elapsed() const {
    return std::chrono::duration_cast<milliseconds>(
        std::chrono::steady_clock::now().time_since_epoch());
}

struct RecordWriter::Stream {
    // "": the events file.
    std::string folder;
    // The terminal, for the events about its file.
    std::vector<std::uint8_t> rawName;
    int slot = 0;
    std::string shownName;
    std::deque<Chunk> chunks;
    // The profile the terminal's rows were last noted under in the events file, and the day.
    std::shared_ptr<const TerminalProfile> profile;
    std::string profileDate;

    std::unique_ptr<AppendFile> file;
    std::string fileDate;
    fs::path path;
    std::optional<FileIdentity> identity;
    bool unsynced = false;
    std::uint64_t lastUse = 0;

    Health health = Health::Ok;
    milliseconds since{0};
    milliseconds nextTry{0};
    std::uint64_t droppedSinceFailure = 0;
    // The date of the last row given up on, which a retry opens.
    std::string wantedDate;

    bool IsEvents() const { return folder.empty(); }
    std::uint64_t PendingRows() const {
        std::uint64_t rows = 0;
        for (const Chunk& chunk : chunks) {
            rows += chunk.rows;
        }
        return rows;
    }
};

RecordWriter::RecordWriter(fs::path root, NameDecoder decoder, const RecorderClock& clock,
                           RecordWriterOptions options,
                           std::function<void(const AcquisitionEvent&)> news)
    : root_(std::move(root)),
      decoder_(std::move(decoder)),
      clock_(clock),
      options_(std::move(options)),
      news_(std::move(news)) {}

RecordWriter::~RecordWriter() = default;

std::uint64_t RecordWriter::Pending() const {
    std::uint64_t rows = 0;
    for (const auto& [folder, stream] : streams_) {
        rows += stream->PendingRows();
    }
    return rows;
}

const RecordWriter::Name& RecordWriter::NameOf(const std::vector<std::uint8_t>& raw) {
    const std::string_view key(reinterpret_cast<const char*>(raw.data()), raw.size());
    if (const auto it = names_.find(key); it != names_.end()) {
        return it->second;
    }
    if (names_.size() >= kMaxCachedNames) {
        names_.clear();
    }
    std::string text = decoder_(raw);
    std::string folder = FolderName(raw, text);
    return names_.emplace(key, Name{std::move(text), std::move(folder)}).first->second;
}

RecordWriter::Stream& RecordWriter::StreamOf(const std::string& folder) {
    auto& stream = streams_[folder];
    if (!stream) {
        stream = std::make_unique<Stream>();
        stream->folder = folder;
    }
    return *stream;
}

void RecordWriter::Queue(Stream& stream, const std::string& date, const std::string& row) {
    if (stream.health == Health::Failed ||
        (stream.health == Health::Retrying && stream.PendingRows() >= options_.maxHeldRows)) {
        ++dropped_;
        ++stream.droppedSinceFailure;
        stream.wantedDate = date;
        return;
    }
    if (stream.chunks.empty() || stream.chunks.back().date != date) {
        stream.chunks.push_back({date, {}, 0});
    }
    Chunk& chunk = stream.chunks.back();
    chunk.text.append(row).append(kLineEnd);
    ++chunk.rows;
}

std::optional<FileError> RecordWriter::Write(const Reading& reading) {
    const Name& name = NameOf(reading.name);
    Stream& stream = StreamOf(name.folder);
    if (stream.rawName != reading.name) {
        stream.rawName = reading.name;
        stream.shownName = name.text;
    }
    stream.slot = reading.slot;
    const std::string date = FormatIsoDate(reading.time);
    NoteProfile(stream, reading, date);
    Queue(stream, date, ReadingRow(reading));
    return std::nullopt;
}

void RecordWriter::NoteProfile(Stream& stream, const Reading& reading, const std::string& date) {
    // The files hold raw volts; the events file says what they meant, so that any later reader
    // can scale every day it keeps.
    const auto& now = reading.profile;
    const bool same = now == stream.profile || (now && stream.profile && *now == *stream.profile);
    if (same && (!now || date == stream.profileDate)) {
        return;
    }
    stream.profile = now;
    stream.profileDate = date;
    AcquisitionEvent event;
    event.time = reading.time;
    event.kind = EventKind::ProfileInForce;
    event.slot = reading.slot;
    event.name = reading.name;
    TerminalProfile none;
    none.terminal = stream.shownName;
    event.detail = MetaJson(now ? *now : none);
    static_cast<void>(Write(event));
}

std::optional<FileError> RecordWriter::Write(const AcquisitionEvent& event) {
    const auto row =
        EventRow(event, event.name.empty() ? "" : NameOf(event.name).text, options_.program);
    if (row) {
        Queue(StreamOf(""), FormatIsoDate(event.time), *row);
    }
    return std::nullopt;
}

std::optional<FileError> RecordWriter::WriteOwn(AcquisitionEvent event) {
    event.time = clock_.Now();
    if (news_) {
        news_(event);
    }
    return Write(event);
}

fs::path RecordWriter::FileOf(const Stream& stream, const std::string& date) const {
    return stream.IsEvents() ? EventsFilePath(root_, date)
                             : DayFilePath(root_, stream.folder, date);
}

std::optional<FileError> RecordWriter::Open(Stream& stream, const std::string& date) {
    if (!stream.IsEvents()) {
        const fs::path folder = root_ / Utf8Path(stream.folder);
        std::error_code ec;
        fs::create_directory(folder, ec);
        if (ec) {
            FileError error = ErrorOf(ec);
            error.path = PathText(folder);
            return error;
        }
        // The folder's name is a safe form of the terminal's; readers find the name itself here.
        const fs::path nameFile = folder / kNameFile;
        if (!fs::exists(nameFile, ec)) {
            std::ofstream(nameFile, std::ios::binary) << stream.shownName << '\n';
        }
    }
    const fs::path path = FileOf(stream, date);
    auto opened = AppendFile::Open(path);
    if (auto* error = std::get_if<FileError>(&opened)) {
        error->path = PathText(path);
        return std::move(*error);
    }
    auto file = std::get<std::unique_ptr<AppendFile>>(std::move(opened));
    const std::string start = file->InitialSize() == 0
                                  ? std::string(kByteOrderMark)
                                        .append(stream.IsEvents() ? kEventHeader : kReadingHeader)
                                        .append(kLineEnd)
                                  : RepairOf(path, stream.IsEvents());
    std::size_t written = 0;
    if (auto error = file->Write(start, written)) {
        error->path = PathText(path);
        return error;
    }
    stream.identity = file->Identity();
    stream.file = std::move(file);
    stream.fileDate = date;
    stream.path = path;
    stream.unsynced = true;
    ++openFiles_;
    CloseLeastRecentlyUsed();
    return std::nullopt;
}

std::optional<FileError> RecordWriter::Close(Stream& stream) {
    if (!stream.file) {
        return std::nullopt;
    }
    std::optional<FileError> error;
    if (stream.unsynced) {
        error = stream.file->Sync();
        if (error) {
            error->path = PathText(stream.path);
        }
    }
    stream.file.reset();
    stream.unsynced = false;
    --openFiles_;
    return error;
}

void RecordWriter::CloseLeastRecentlyUsed() {
    if (openFiles_ <= kMaxOpenFiles) {
        return;
    }
    Stream* oldest = nullptr;
    for (const auto& [folder, stream] : streams_) {
        if (stream->file && stream->chunks.empty() &&
            (oldest == nullptr || stream->lastUse < oldest->lastUse)) {
            oldest = stream.get();
        }
    }
    if (oldest != nullptr) {
        Close(*oldest);
    }
}

std::optional<FileError> RecordWriter::Flush(Stream& stream, bool checkIdentity) {
    // An editor's save or a sync tool replaces the file by renaming another over it, and rows
    // written after that would go to a file nobody sees any more.
    if (checkIdentity && stream.file) {
        const auto now = IdentityOf(stream.path);
        if (!now || now != stream.identity) {
            const std::string path = PathText(stream.path);
            Close(stream);
            AcquisitionEvent event;
            event.kind = EventKind::RecordingFileReopened;
            event.slot = stream.slot;
            event.name = stream.rawName;
            event.detail = path;
            WriteOwn(std::move(event));
        }
    }
    stream.lastUse = ++uses_;
    while (!stream.chunks.empty()) {
        Chunk& chunk = stream.chunks.front();
        if (!stream.file || stream.fileDate != chunk.date) {
            Close(stream);
            if (auto error = Open(stream, chunk.date)) {
                return error;
            }
        }
        std::size_t written = 0;
        auto error = stream.file->Write(chunk.text, written);
        bytes_ += written;
        stream.unsynced = true;
        // A row cut by a failure goes on where it stopped when the same file can be written again.
        const std::uint64_t rows =
            error ? RowsIn(std::string_view(chunk.text).substr(0, written)) : chunk.rows;
        (stream.IsEvents() ? eventRows_ : readingRows_) += rows;
        if (error) {
            chunk.text.erase(0, written);
            chunk.rows -= rows;
            error->path = PathText(stream.path);
            return error;
        }
        stream.chunks.pop_front();
    }
    return std::nullopt;
}

std::optional<FileError> RecordWriter::WholeProblem(const FileError& error) const {
    if (error.fault == FileFault::DiskFull || error.fault == FileFault::SpaceLow) {
        return error;
    }
    std::error_code ec;
    if (!fs::is_directory(root_, ec)) {
        return FileError{FileFault::FolderRemoved, {}, PathText(root_)};
    }
    if (!CanWriteIn(root_)) {
        return FileError{FileFault::NoPermission, error.systemText, PathText(root_)};
    }
    return std::nullopt;
}

std::optional<FileError> RecordWriter::FlushAll(bool final) {
    const milliseconds now = clock_.Elapsed();
    std::vector<Stream*> due;
    for (const auto& [folder, stream] : streams_) {
        if (final || stream->health == Health::Ok || now >= stream->nextTry) {
            due.push_back(stream.get());
        }
    }
    // The events file last: the others may add rows to it.
    std::stable_partition(due.begin(), due.end(), [](const Stream* s) { return !s->IsEvents(); });
    std::optional<FileError> firstFinal;
    for (Stream* stream : due) {
        if (!final && stream->chunks.empty() && stream->health == Health::Failed &&
            !stream->wantedDate.empty()) {
            // Rows were given up on since it failed: try whether their file can be written now.
            stream->chunks.push_back({stream->wantedDate, {}, 0});
        }
        if (stream->chunks.empty()) {
            continue;
        }
        auto error = Flush(*stream, !final);
        if (!error) {
            if (stream->health == Health::Failed) {
                AcquisitionEvent event;
                event.kind = EventKind::TerminalRecordingResumed;
                event.slot = stream->slot;
                event.name = stream->rawName;
                event.detail = PathText(stream->path);
                event.value = static_cast<std::int64_t>(stream->droppedSinceFailure);
                WriteOwn(std::move(event));
            }
            stream->health = Health::Ok;
            stream->droppedSinceFailure = 0;
            stream->wantedDate.clear();
            continue;
        }
        if (auto whole = WholeProblem(*error)) {
            return whole;
        }
        Close(*stream);
        const bool giveUp = final || (stream->health == Health::Retrying &&
                                      now - stream->since >= options_.failAfter);
        if (stream->health == Health::Ok) {
            stream->health = Health::Retrying;
            stream->since = now;
        }
        if (giveUp && stream->health != Health::Failed) {
            stream->health = Health::Failed;
            const std::uint64_t rows = stream->PendingRows();
            dropped_ += rows;
            stream->droppedSinceFailure += rows;
            stream->wantedDate = stream->chunks.back().date;
            stream->chunks.clear();
            AcquisitionEvent event;
            event.kind = EventKind::TerminalRecordingFailed;
            event.slot = stream->slot;
            event.name = stream->rawName;
            event.detail = error->path;
            event.error = *error;
            WriteOwn(std::move(event));
        } else if (stream->health == Health::Failed) {
            stream->chunks.clear();
        }
        stream->nextTry = now + (stream->health == Health::Failed ? options_.retryFailedPeriod
                                                                  : options_.flushPeriod);
        if (final && !firstFinal) {
            firstFinal = std::move(error);
        }
    }
    return firstFinal;
}

std::optional<FileError> RecordWriter::WatchSpace() {
    std::error_code ec;
    if (!fs::is_directory(root_, ec)) {
        return FileError{FileFault::FolderRemoved, {}, PathText(root_)};
    }
    const fs::space_info space = fs::space(root_, ec);
    if (ec) {
        return std::nullopt;
    }
    if (space.available < options_.stopBelowBytes) {
        return FileError{FileFault::SpaceLow, {}, PathText(root_)};
    }
    if (!spaceWarned_ && space.available < std::max(options_.warnBelowBytes, bytesPerDay_)) {
        spaceWarned_ = true;
        AcquisitionEvent event;
        event.kind = EventKind::RecordingSpaceLow;
        event.value = static_cast<std::int64_t>(space.available);
        event.detail = PathText(root_);
        WriteOwn(std::move(event));
    }
    return std::nullopt;
}

void RecordWriter::SyncAll() {
    for (const auto& [folder, stream] : streams_) {
        if (stream->file && stream->unsynced) {
            // A failing sync shows again as a failing write or close of the same file.
            stream->file->Sync();
            stream->unsynced = false;
        }
    }
    const milliseconds now = clock_.Elapsed();
    if (now > lastSyncAt_) {
        const auto window = static_cast<std::uint64_t>((now - lastSyncAt_).count());
        bytesPerDay_ = (bytes_ - bytesAtLastSync_) * 86'400'000ULL / window;
    }
    lastSyncAt_ = now;
    bytesAtLastSync_ = bytes_;
    nextSync_ = now + options_.syncPeriod;
}

void RecordWriter::RemoveOld() {
    const auto today = ParseIsoDate(today_);
    if (options_.keepDays <= 0 || !today) {
        return;
    }
    const std::chrono::sys_days cutoff = *today - std::chrono::days(options_.keepDays);
    const auto old = [&](std::string_view name, std::string_view prefix) {
        const auto date = DateOfFile(name, prefix);
        return date && *date < cutoff;
    };
    std::vector<std::pair<fs::path, std::string>> removals;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(root_, ec)) {
        const std::string name = PathText(entry.path().filename());
        if (entry.is_regular_file(ec) && !entry.is_symlink(ec) && old(name, kEventsFilePrefix)) {
            removals.emplace_back(entry.path(), name);
        } else if (entry.is_directory(ec) && !entry.is_symlink(ec)) {
            for (const auto& file : fs::directory_iterator(entry.path(), ec)) {
                const std::string fileName = PathText(file.path().filename());
                if (file.is_regular_file(ec) && !file.is_symlink(ec) && old(fileName, "")) {
                    removals.emplace_back(file.path(),
                                          std::string(name).append("/").append(fileName));
                }
            }
        }
    }
    for (const auto& [path, shown] : removals) {
        if (fs::remove(path, ec)) {
            AcquisitionEvent event;
            event.kind = EventKind::RecordingFileRemoved;
            event.detail = shown;
            WriteOwn(std::move(event));
        }
    }
}

std::optional<FileError> RecordWriter::Begin(const std::string& folderText) {
    today_ = FormatIsoDate(clock_.Now());
    lastSyncAt_ = clock_.Elapsed();
    nextSync_ = lastSyncAt_ + options_.syncPeriod;
    AcquisitionEvent event;
    event.kind = EventKind::RecordingStarted;
    event.detail = folderText;
    WriteOwn(std::move(event));
    RemoveOld();
    return WatchSpace();
}

std::optional<FileError> RecordWriter::Tick() {
    const milliseconds now = clock_.Elapsed();
    if (const std::string today = FormatIsoDate(clock_.Now()); today != today_) {
        today_ = today;
        RemoveOld();
    }
    if (now < nextFlush_) {
        return std::nullopt;
    }
    nextFlush_ = now + options_.flushPeriod;
    if (auto problem = WatchSpace()) {
        return problem;
    }
    if (auto problem = FlushAll(false)) {
        return problem;
    }
    if (now >= nextSync_) {
        SyncAll();
    }
    return std::nullopt;
}

std::optional<FileError> RecordWriter::Finish(std::uint64_t droppedElsewhere) {
    auto problem = FlushAll(true);
    if (problem && WholeProblem(*problem)) {
        return problem;
    }
    AcquisitionEvent event;
    event.kind = EventKind::RecordingStopped;
    event.value = static_cast<std::int64_t>(readingRows_ + eventRows_);
    event.detail = std::to_string(dropped_ + droppedElsewhere);
    WriteOwn(std::move(event));
    auto last = FlushAll(true);
    for (const auto& [folder, stream] : streams_) {
        auto closed = Close(*stream);
        if (!last) {
            last = std::move(closed);
        }
    }
    return problem ? problem : last;
}

}  // namespace corvelle
