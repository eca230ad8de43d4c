#pragma once

#include <QtGlobal>
#include <cstdint>
#include <functional>
#include <memory>

#include "device/page_ports.h"

namespace corvelle {

class PollTimerGroup;

// A page's poll timer on the Qt event loop. The poll timers of a thread share one precise timer:
// when one expires, the others due within a twentieth of their period expire with it, so that
// the terminals whose cycles lie close together are polled in one wake-up of the event loop
// instead of one each. A timer never expires late for it, and early by at most that twentieth
// (Qt's coarse timers allow as much either way); terminals polled together reply together and
// stay together.
class QtOneShotTimer final : public OneShotTimer {
  public:
    explicit QtOneShotTimer(std::function<void()> onTimeout);
    ~QtOneShotTimer() override;
    QtOneShotTimer(const QtOneShotTimer&) = delete;
    QtOneShotTimer& operator=(const QtOneShotTimer&) = delete;

    void Start(std::uint32_t milliseconds) override;
    void Stop() override;
    bool IsActive() const { return active_; }
    int IntervalMs() const { return static_cast<int>(interval_); }

  private:
    friend class PollTimerGroup;

    std::function<void()> onTimeout_;
    std::shared_ptr<PollTimerGroup> group_;
    std::int64_t due_ = 0;       // monotonic milliseconds
    std::int64_t earliest_ = 0;  // when it may expire with another
    std::uint32_t interval_ = 0;
    std::uint64_t changes_ = 0;  // starts and stops so far
    bool active_ = false;
};

// Local date and time from the system clock.
class LocalClock final : public Clock {
  public:
    LocalDateTime Now() const override;

  private:
    // The local time of the UTC second last asked for: within a second only the milliseconds
    // move, so the zone rules are consulted once a second instead of on every reading.
    mutable qint64 second_ = -1;
    mutable LocalDateTime atSecond_;
};

}  // namespace corvelle
