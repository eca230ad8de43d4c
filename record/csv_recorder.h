#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <thread>
#include <variant>
#include <vector>

#include "device/acquisition_sink.h"

namespace corvelle {

// A device name's raw bytes as UTF-8 text, exactly as the tabs show it.
using NameDecoder = std::function<std::string(std::span<const std::uint8_t>)>;

struct CsvRecorderOptions {
    // About one minute of rows for eight terminals polled every 200 ms. The batch the writer
    // has in hand can hold as many again, so memory stays within twice this.
    std::size_t queueCapacity = 2400;
    // The longest a written row waits in memory before it reaches its file.
    std::chrono::milliseconds flushPeriod{1000};
};

// Records every reading into FOLDER/<name folder>/<YYYY-MM-DD>.csv, one file per terminal name
// and day, and the events into FOLDER/events-<YYYY-MM-DD>.csv. The caller's thread only queues
// a copy; a writer thread of its own formats, decodes names and writes. Items that find the
// queue full are dropped, and counted in the events file once writing has caught up.
class CsvRecorder final : public AcquisitionSink {
  public:
    // folder is UTF-8.
    CsvRecorder(std::string folder, NameDecoder decoder, CsvRecorderOptions options = {});
    // Stops and waits for the writer to finish.
    ~CsvRecorder() override;
    CsvRecorder(const CsvRecorder&) = delete;
    CsvRecorder& operator=(const CsvRecorder&) = delete;

    // Called at most once, on the writer thread, when writing fails; recording has then
    // stopped. Set it before Start.
    void SetFailureCallback(std::function<void(const std::string& reason)> callback);

    // Creates the folder when missing, makes sure files can be written in it and starts the
    // writer. On failure returns a short reason for the operator, and nothing runs.
    std::optional<std::string> Start();
    // Asks the writer to write what is queued, close the files and end; returns at once.
    // Readings and events that come later are ignored.
    void Stop();
    // Whether the writer, once started, has ended: after Stop or a write failure.
    bool Finished() const;

    void OnReading(const Reading& reading) override;
    void OnEvent(const AcquisitionEvent& event) override;

    std::uint64_t ReadingRowsWritten() const;
    std::uint64_t EventRowsWritten() const;
    // Readings and events dropped on a full queue since Start.
    std::uint64_t Dropped() const;
    // Readings and events waiting for the writer.
    std::size_t Queued() const;

  private:
    using Item = std::variant<Reading, AcquisitionEvent>;

    template <typename T>
    void Push(const T& item);
    void Run();
    // Writes until stopped; the reason when writing failed.
    std::optional<std::string> WriteUntilStopped();
    // The ReadingsDropped event to write once the queue is empty after drops.
    std::optional<AcquisitionEvent> TakeDropsIfCaughtUp();

    const std::string folder_;
    const NameDecoder decoder_;
    const CsvRecorderOptions options_;
    std::function<void(const std::string&)> onFailure_;

    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::vector<Item> queue_;
    bool accepting_ = false;
    bool stopping_ = false;
    std::uint64_t unreportedDrops_ = 0;
    LocalDateTime lastDropTime_;

    std::atomic<std::uint64_t> readingRows_{0};
    std::atomic<std::uint64_t> eventRows_{0};
    std::atomic<std::uint64_t> dropped_{0};
    std::atomic<bool> finished_{false};
    std::thread writer_;
};

}  // namespace corvelle
