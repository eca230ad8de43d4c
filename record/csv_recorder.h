#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "device/acquisition_sink.h"
#include "record/record_writer.h"

namespace corvelle {

struct CsvRecorderOptions {
    // About one minute of rows for eight terminals polled every 200 ms. The batch the writer
    // has in hand can hold as many again, so memory stays within twice this.
    std::size_t queueCapacity = 2400;
    RecordWriterOptions writer;
    // Kept until the writer has finished, even when the recorder goes first (the folder's lock).
    std::shared_ptr<const void> keepAlive;
    // Set once an earlier writer into the same folder has finished; this one writes nothing
    // before, and gives up when that takes longer than kPredecessorWait.
    std::shared_ptr<const std::atomic<bool>> predecessor;
};

// Records every reading into FOLDER/<name folder>/<YYYY-MM-DD>.csv, one file per terminal name
// and day, and the events into FOLDER/events-<YYYY-MM-DD>.csv (see RecordWriter). The caller's
// thread only queues a copy; a writer thread of its own does the rest. Items that find the
// queue full are dropped, and counted in the events file once writing has caught up.
class CsvRecorder final : public AcquisitionSink {
  public:
    static constexpr std::chrono::milliseconds kPredecessorWait{5000};

    // folder is UTF-8.
    CsvRecorder(std::string folder, NameDecoder decoder, std::shared_ptr<const RecorderClock> clock,
                CsvRecorderOptions options = {});
    // Stops. Waits for the writer only when it has finished; a writer held up by its disk is
    // left to finish on its own.
    ~CsvRecorder() override;
    CsvRecorder(const CsvRecorder&) = delete;
    CsvRecorder& operator=(const CsvRecorder&) = delete;

    // Called on the writer thread, at most once, before it ends: the whole recording failed, or
    // something could not be written when it stopped. dropped counts the rows given up on since
    // Start, those the failure leaves unwritten included. Set it before Start.
    void SetFailureCallback(
        std::function<void(const FileError& error, std::uint64_t dropped)> callback);
    // Called on the writer thread with every event the writer writes on its own account. Set it
    // before Start.
    void SetNewsCallback(std::function<void(const AcquisitionEvent& event)> callback);

    // Creates the folder when missing, makes sure files can be written in it and starts the
    // writer. On failure returns what is wrong, and nothing runs.
    std::optional<FileError> Start();
    // Asks the writer to write what is queued, mark the stop, close the files and end; returns
    // at once. Readings and events that come later are ignored.
    void Stop();
    // Whether the writer, once started, has ended: after Stop or a failure.
    bool Finished() const;
    // The same, for whoever must wait for this writer.
    std::shared_ptr<const std::atomic<bool>> FinishedFlag() const;

    void OnReading(const Reading& reading) override;
    void OnEvent(const AcquisitionEvent& event) override;

    std::uint64_t ReadingRowsWritten() const;
    std::uint64_t EventRowsWritten() const;
    // Rows dropped since Start: on a full queue, or given up on for a file that failed.
    std::uint64_t Dropped() const;
    // Files the writer holds open, as of its last pass.
    std::size_t OpenFiles() const;
    // Readings and events waiting for the writer.
    std::size_t Queued() const;
    // Rows accepted but not in their files yet: queued or in the writer's hands.
    std::uint64_t Unwritten() const;

  private:
    struct State;

    std::shared_ptr<State> state_;
};

}  // namespace corvelle
