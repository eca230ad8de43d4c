#include "record/csv_recorder.h"

#include <condition_variable>
#include <exception>
#include <filesystem>
#include <mutex>
#include <thread>
#include <variant>
#include <vector>

#include "record/csv_rows.h"
#include "record/utf8_path.h"

namespace corvelle {
namespace {

namespace fs = std::filesystem;

using Item = std::variant<Reading, AcquisitionEvent>;

// Room beyond the queue's capacity that only events may take: they tell what readings cannot,
// and a queue full of readings must not push them out.
constexpr std::size_t kEventReserve = 512;

}  // namespace

// Everything the writer thread uses, shared with it so that it can outlive the recorder.
struct CsvRecorder::State {
    std::string folder;
    NameDecoder decoder;
    std::shared_ptr<const RecorderClock> clock;
    CsvRecorderOptions options;
    std::function<void(const FileError&, std::uint64_t)> onFailure;
    std::function<void(const AcquisitionEvent&)> onNews;

    std::mutex mutex;
    std::condition_variable wake;
    std::vector<Item> queue;
    bool accepting = false;
    bool stopping = false;
    std::uint64_t unreportedDrops = 0;
    LocalDateTime lastDropTime;

    std::atomic<std::uint64_t> readingRows{0};
    std::atomic<std::uint64_t> eventRows{0};
    std::atomic<std::uint64_t> queueDrops{0};
    std::atomic<std::uint64_t> writerDrops{0};
    std::atomic<std::uint64_t> writerPending{0};
    std::atomic<std::size_t> openFiles{0};
    std::shared_ptr<std::atomic<bool>> finished = std::make_shared<std::atomic<bool>>(false);
    std::thread writer;

    // Queues a copy unless the queue holds limit items already.
    template <typename T>
    void Push(const T& item, std::size_t limit);
    void Run();
    std::optional<FileError> WriteUntilStopped();
    // The ReadingsDropped event to write once the queue is empty after drops.
    std::optional<AcquisitionEvent> TakeDropsIfCaughtUp();
    // Rows given up on since Start: past the queue's bound, by the writer, or left by a failure.
    std::uint64_t Dropped() const { return queueDrops.load() + writerDrops.load(); }
    void Publish(const RecordWriter& writer);
};

CsvRecorder::CsvRecorder(std::string folder, NameDecoder decoder,
                         std::shared_ptr<const RecorderClock> clock, CsvRecorderOptions options)
    : state_(std::make_shared<State>()) {
    state_->folder = std::move(folder);
    state_->decoder = std::move(decoder);
    state_->clock = std::move(clock);
    state_->options = std::move(options);
}

CsvRecorder::~CsvRecorder() {
    Stop();
    if (!state_->writer.joinable()) {
        return;
    }
    if (state_->finished->load()) {
        state_->writer.join();
    } else {
        state_->writer.detach();
    }
}

void CsvRecorder::SetFailureCallback(
    std::function<void(const FileError&, std::uint64_t)> callback) {
    state_->onFailure = std::move(callback);
}

void CsvRecorder::SetNewsCallback(std::function<void(const AcquisitionEvent&)> callback) {
    state_->onNews = std::move(callback);
}

std::optional<FileError> CsvRecorder::Start() {
    if (state_->writer.joinable()) {
        return FileError{FileFault::StillWriting, {}, state_->folder};
    }
    const fs::path root = Utf8Path(state_->folder);
    std::error_code ec;
    fs::create_directories(root, ec);
    if (ec) {
        FileError error = ErrorOf(ec);
        error.path = PathText(root);
        return error;
    }
    if (!fs::is_directory(root, ec)) {
        return FileError{FileFault::WrongKind, {}, PathText(root)};
    }
    {
        const std::lock_guard lock(state_->mutex);
        state_->queue.reserve(state_->options.queueCapacity + kEventReserve);
        state_->accepting = true;
    }
    state_->writer = std::thread([state = state_] { state->Run(); });
    return std::nullopt;
}

void CsvRecorder::Stop() {
    {
        const std::lock_guard lock(state_->mutex);
        state_->accepting = false;
        state_->stopping = true;
    }
    state_->wake.notify_one();
}

bool CsvRecorder::Finished() const {
    return state_->finished->load();
}

std::shared_ptr<const std::atomic<bool>> CsvRecorder::FinishedFlag() const {
    return state_->finished;
}

void CsvRecorder::OnReading(const Reading& reading) {
    state_->Push(reading, state_->options.queueCapacity);
}

void CsvRecorder::OnEvent(const AcquisitionEvent& event) {
    if (IsRecorded(event)) {
        state_->Push(event, state_->options.queueCapacity + kEventReserve);
    }
}

std::uint64_t CsvRecorder::ReadingRowsWritten() const {
    return state_->readingRows.load();
}

std::uint64_t CsvRecorder::EventRowsWritten() const {
    return state_->eventRows.load();
}

std::uint64_t CsvRecorder::Dropped() const {
    return state_->Dropped();
}

std::size_t CsvRecorder::OpenFiles() const {
    return state_->openFiles.load(std::memory_order_relaxed);
}

std::size_t CsvRecorder::Queued() const {
    const std::lock_guard lock(state_->mutex);
    return state_->queue.size();
}

std::uint64_t CsvRecorder::Unwritten() const {
    return Queued() + state_->writerPending.load();
}

template <typename T>
void CsvRecorder::State::Push(const T& item, std::size_t limit) {
    bool wasEmpty = false;
    {
        const std::lock_guard lock(mutex);
        if (!accepting) {
            return;
        }
        if (queue.size() >= limit) {
            ++unreportedDrops;
            lastDropTime = item.time;
            queueDrops.fetch_add(1, std::memory_order_relaxed);
            return;
        }
        wasEmpty = queue.empty();
        queue.emplace_back(item);
    }
    // The writer only waits on an empty queue.
    if (wasEmpty) {
        wake.notify_one();
    }
}

void CsvRecorder::State::Run() {
    std::optional<FileError> failure;
    try {
        failure = WriteUntilStopped();
    } catch (const std::exception& e) {
        failure = FileError{FileFault::Other, e.what(), folder};
    }
    if (failure) {
        {
            const std::lock_guard lock(mutex);
            accepting = false;
            // What the failure leaves unwritten is dropped, and counted with the other drops.
            queueDrops.fetch_add(queue.size() + writerPending.exchange(0),
                                 std::memory_order_relaxed);
            queue.clear();
        }
        if (onFailure) {
            onFailure(*failure, Dropped());
        }
    }
    finished->store(true);
    // The folder's lock goes with the last writer that holds it.
    options.keepAlive.reset();
}

void CsvRecorder::State::Publish(const RecordWriter& writer) {
    readingRows.store(writer.ReadingRows(), std::memory_order_relaxed);
    eventRows.store(writer.EventRows(), std::memory_order_relaxed);
    writerDrops.store(writer.Dropped(), std::memory_order_relaxed);
    writerPending.store(writer.Pending(), std::memory_order_relaxed);
    openFiles.store(writer.OpenFiles(), std::memory_order_relaxed);
}

std::optional<FileError> CsvRecorder::State::WriteUntilStopped() {
    if (options.predecessor) {
        const auto deadline = std::chrono::steady_clock::now() + kPredecessorWait;
        while (!options.predecessor->load()) {
            if (std::chrono::steady_clock::now() > deadline) {
                return FileError{FileFault::StillWriting, {}, folder};
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    }
    RecordWriter writer(Utf8Path(folder), decoder, *clock, options.writer, onNews);
    if (auto problem = writer.Begin(folder)) {
        return problem;
    }
    std::vector<Item> batch;
    batch.reserve(options.queueCapacity + kEventReserve);
    for (;;) {
        bool stop = false;
        {
            std::unique_lock lock(mutex);
            wake.wait_for(lock, options.writer.flushPeriod,
                          [this] { return stopping || !queue.empty(); });
            // The emptied batch goes back as the queue, so steady recording allocates no queue.
            batch.swap(queue);
            stop = stopping;
        }
        for (const Item& item : batch) {
            std::visit([&](const auto& x) { writer.Write(x); }, item);
        }
        batch.clear();
        if (const auto drops = TakeDropsIfCaughtUp()) {
            writer.Write(*drops);
        }
        // Counted before the files are touched: a disk that hangs there leaves them right.
        Publish(writer);
        auto problem = stop ? writer.Finish(queueDrops.load()) : writer.Tick();
        Publish(writer);
        if (problem || stop) {
            return problem;
        }
    }
}

std::optional<AcquisitionEvent> CsvRecorder::State::TakeDropsIfCaughtUp() {
    const std::lock_guard lock(mutex);
    if (unreportedDrops == 0 || !queue.empty()) {
        return std::nullopt;
    }
    AcquisitionEvent event;
    event.kind = EventKind::ReadingsDropped;
    event.time = lastDropTime;
    event.value = static_cast<std::int64_t>(unreportedDrops);
    unreportedDrops = 0;
    return event;
}

}  // namespace corvelle
