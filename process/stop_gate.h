#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace corvelle {

// Holds one thread until another says the stop has finished, or for a while at most.
class StopGate {
  public:
    void Open() {
        {
            const std::lock_guard lock(mutex_);
            open_ = true;
        }
        changed_.notify_all();
    }
    // Whether it was opened within limit.
    bool Wait(std::chrono::milliseconds limit) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, limit, [this] { return open_; });
    }

  private:
    std::mutex mutex_;
    std::condition_variable changed_;
    bool open_ = false;
};

}  // namespace corvelle
