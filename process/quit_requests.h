#pragma once

#include <atomic>
#include <cstdint>

namespace corvelle {

// The requests to quit that reach a process, from signal handlers or the system's threads:
// the first starts an orderly stop; a second one 2 s or more later forces the exit, as the stop
// must be stuck; closer ones are the same request sent twice. Safe in signal handlers.
class QuitRequests {
  public:
    enum class Outcome { First, Repeat, Force };

    explicit QuitRequests(std::int64_t forceAfterMs) : forceAfterMs_(forceAfterMs) {}

    Outcome Take(std::int64_t nowMs) {
        std::int64_t first = kNone;
        if (first_.compare_exchange_strong(first, nowMs)) {
            return Outcome::First;
        }
        return nowMs - first >= forceAfterMs_ ? Outcome::Force : Outcome::Repeat;
    }

  private:
    static constexpr std::int64_t kNone = -1;
    static_assert(std::atomic<std::int64_t>::is_always_lock_free);

    const std::int64_t forceAfterMs_;
    std::atomic<std::int64_t> first_{kNone};
};

}  // namespace corvelle
