#pragma once

#include <QTimer>
#include <functional>

#include "device/page_ports.h"

namespace corvelle {

// A page's poll timer on the Qt event loop.
class QtOneShotTimer final : public OneShotTimer {
  public:
    explicit QtOneShotTimer(std::function<void()> onTimeout);
    void Start(std::uint32_t milliseconds) override;
    void Stop() override;
    bool IsActive() const { return timer_.isActive(); }
    int IntervalMs() const { return timer_.interval(); }

  private:
    QTimer timer_;
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
