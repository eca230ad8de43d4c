#include "record/csv_recorder.h"

#include <cstdio>
#include <exception>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <system_error>

#include "device/time_text.h"
#include "record/csv_rows.h"
#include "record/day_files.h"
#include "record/safe_name.h"

namespace corvelle {
namespace {

namespace fs = std::filesystem;

// Names repeat, so each is decoded once; a stream of new ones from hostile peers only empties
// the cache now and then.
constexpr std::size_t kMaxCachedNames = 256;

// Turns queued items into rows of the day files, on the writer thread.
class RowWriter {
  public:
    RowWriter(const fs::path& root, const NameDecoder& decoder) : files_(root), decoder_(decoder) {}

    std::optional<std::string> Write(const Reading& reading) {
        const std::string date = FormatIsoDate(reading.time);
        return files_.Append(NameOf(reading.name).folder, date + ".csv", date, kReadingHeader,
                             ReadingRow(reading));
    }

    std::optional<std::string> Write(const AcquisitionEvent& event) {
        const auto row = EventRow(event, event.name.empty() ? "" : NameOf(event.name).text);
        if (!row) {
            return std::nullopt;
        }
        const std::string date = FormatIsoDate(event.time);
        return files_.Append("", "events-" + date + ".csv", date, kEventHeader, *row);
    }

    DayFiles& Files() { return files_; }

  private:
    struct Name {
        std::string text;
        std::string folder;
    };

    const Name& NameOf(const std::vector<std::uint8_t>& raw) {
        const std::string_view key(reinterpret_cast<const char*>(raw.data()), raw.size());
        if (const auto it = names_.find(key); it != names_.end()) {
            return it->second;
        }
        if (names_.size() >= kMaxCachedNames) {
            names_.clear();
        }
        std::string text = decoder_(raw);
        std::string folder = SafeName(raw, text);
        return names_.emplace(key, Name{std::move(text), std::move(folder)}).first->second;
    }

    DayFiles files_;
    const NameDecoder& decoder_;
    // Keyed by the raw bytes.
    std::map<std::string, Name, std::less<>> names_;
};

// Permissions alone do not tell: read-only media, quotas and ACLs also refuse files. The probe
// gets a name of its own, so that no file of the folder is overwritten and no pipe left under
// that name can block the start.
bool CanWriteIn(const fs::path& root) {
    std::random_device random;
    for (int attempt = 0; attempt < 8; ++attempt) {
        char name[32];
        std::snprintf(name, sizeof name, ".write-probe-%08x%08x", random(), random());
        const fs::path probe = root / name;
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

}  // namespace

CsvRecorder::CsvRecorder(std::string folder, NameDecoder decoder, CsvRecorderOptions options)
    : folder_(std::move(folder)), decoder_(std::move(decoder)), options_(options) {}

CsvRecorder::~CsvRecorder() {
    Stop();
    if (writer_.joinable()) {
        writer_.join();
    }
}

void CsvRecorder::SetFailureCallback(std::function<void(const std::string& reason)> callback) {
    onFailure_ = std::move(callback);
}

std::optional<std::string> CsvRecorder::Start() {
    if (writer_.joinable()) {
        return "recording already started";
    }
    const fs::path root = Utf8Path(folder_);
    std::error_code ec;
    fs::create_directories(root, ec);
    if (ec) {
        return PathText(root) + ": " + ec.message();
    }
    if (!fs::is_directory(root, ec)) {
        return PathText(root) + ": not a folder";
    }
    if (!CanWriteIn(root)) {
        return PathText(root) + ": cannot write files here";
    }
    {
        const std::lock_guard lock(mutex_);
        queue_.reserve(options_.queueCapacity);
        accepting_ = true;
    }
    writer_ = std::thread(&CsvRecorder::Run, this);
    return std::nullopt;
}

void CsvRecorder::Stop() {
    {
        const std::lock_guard lock(mutex_);
        accepting_ = false;
        stopping_ = true;
    }
    wake_.notify_one();
}

bool CsvRecorder::Finished() const {
    return finished_.load();
}

void CsvRecorder::OnReading(const Reading& reading) {
    Push(reading);
}

void CsvRecorder::OnEvent(const AcquisitionEvent& event) {
    if (IsRecorded(event.kind)) {
        Push(event);
    }
}

template <typename T>
void CsvRecorder::Push(const T& item) {
    bool wasEmpty = false;
    {
        const std::lock_guard lock(mutex_);
        if (!accepting_) {
            return;
        }
        if (queue_.size() >= options_.queueCapacity) {
            ++unreportedDrops_;
            lastDropTime_ = item.time;
            dropped_.fetch_add(1, std::memory_order_relaxed);
            return;
        }
        wasEmpty = queue_.empty();
        queue_.emplace_back(item);
    }
    // The writer only waits on an empty queue.
    if (wasEmpty) {
        wake_.notify_one();
    }
}

std::uint64_t CsvRecorder::ReadingRowsWritten() const {
    return readingRows_.load();
}

std::uint64_t CsvRecorder::EventRowsWritten() const {
    return eventRows_.load();
}

std::uint64_t CsvRecorder::Dropped() const {
    return dropped_.load();
}

std::size_t CsvRecorder::Queued() const {
    const std::lock_guard lock(mutex_);
    return queue_.size();
}

void CsvRecorder::Run() {
    std::optional<std::string> failure;
    try {
        failure = WriteUntilStopped();
    } catch (const std::exception& e) {
        failure = std::string("recording stopped: ") + e.what();
    }
    if (failure) {
        {
            const std::lock_guard lock(mutex_);
            accepting_ = false;
            queue_.clear();
        }
        if (onFailure_) {
            onFailure_(*failure);
        }
    }
    finished_.store(true);
}

std::optional<std::string> CsvRecorder::WriteUntilStopped() {
    RowWriter writer(Utf8Path(folder_), decoder_);
    std::vector<Item> batch;
    batch.reserve(options_.queueCapacity);
    auto nextFlush = std::chrono::steady_clock::now() + options_.flushPeriod;
    for (;;) {
        bool stopping = false;
        {
            std::unique_lock lock(mutex_);
            wake_.wait_until(lock, nextFlush, [this] { return stopping_ || !queue_.empty(); });
            // The emptied batch goes back as the queue, so steady recording allocates no queue.
            batch.swap(queue_);
            stopping = stopping_;
        }
        for (const Item& item : batch) {
            if (auto error = std::visit([&](const auto& x) { return writer.Write(x); }, item)) {
                return error;
            }
            (std::holds_alternative<Reading>(item) ? readingRows_ : eventRows_)
                .fetch_add(1, std::memory_order_relaxed);
        }
        batch.clear();
        if (const auto drops = TakeDropsIfCaughtUp()) {
            if (auto error = writer.Write(*drops)) {
                return error;
            }
            eventRows_.fetch_add(1, std::memory_order_relaxed);
        }
        if (stopping) {
            return writer.Files().CloseAll();
        }
        if (const auto now = std::chrono::steady_clock::now(); now >= nextFlush) {
            if (auto error = writer.Files().FlushAndCheck()) {
                return error;
            }
            nextFlush = now + options_.flushPeriod;
        }
    }
}

std::optional<AcquisitionEvent> CsvRecorder::TakeDropsIfCaughtUp() {
    const std::lock_guard lock(mutex_);
    if (unreportedDrops_ == 0 || !queue_.empty()) {
        return std::nullopt;
    }
    AcquisitionEvent event;
    event.kind = EventKind::ReadingsDropped;
    event.time = lastDropTime_;
    event.value = static_cast<std::int64_t>(unreportedDrops_);
    unreportedDrops_ = 0;
    return event;
}

}  // namespace corvelle
