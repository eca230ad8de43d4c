#pragma once

#include <atomic>
#include <functional>
#include <thread>

#include <QObject>

#include "history/history_loader.h"

namespace corvelle {

// One load of a history on a thread of its own, reporting on the UI thread: its progress, what
// was read after each day, and the end. Deleting it cancels the load and waits for the thread,
// which looks for that after each megabyte at most; nothing it reported is delivered afterwards.
class HistoryLoad final : public QObject, private LoadObserver {
  public:
    struct Handlers {
        // Thousandths of the bytes to read.
        std::function<void(int)> progress;
        std::function<void(History)> day;
        std::function<void(History)> done;
    };

    HistoryLoad(HistoryRequest request, Handlers handlers, QObject* parent = nullptr);
    ~HistoryLoad() override;
    HistoryLoad(const HistoryLoad&) = delete;
    HistoryLoad& operator=(const HistoryLoad&) = delete;

    // The load ends with the days read so far, and says so through done.
    void Cancel() { cancelled_ = true; }

  private:
    bool Cancelled() override { return cancelled_; }
    void OnProgress(std::uint64_t bytesRead, std::uint64_t bytesTotal) override;
    void OnDay(const History& soFar) override;

    Handlers handlers_;
    std::atomic<bool> cancelled_ = false;
    int permille_ = -1;  // the last reported, on the loading thread
    std::thread thread_;
};

}  // namespace corvelle
