#pragma once

#include <chrono>

#include "record/record_writer.h"

namespace corvelle::test {

// A recorder clock that says whatever the test sets.
class SetRecorderClock final : public RecorderClock {
  public:
    explicit SetRecorderClock(LocalDateTime start) : now(start) {}
    LocalDateTime Now() const override { return now; }
    std::chrono::milliseconds Elapsed() const override { return elapsed; }
    LocalDateTime now;
    std::chrono::milliseconds elapsed{0};
};

}  // namespace corvelle::test
