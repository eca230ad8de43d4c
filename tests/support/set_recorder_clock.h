#pragma once

#include <chrono>
#include <cstdint>
#include <span>
#include <string>

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

// A terminal's name as its own bytes, for the recorder's folder names: the names tests and
// benchmarks give are UTF-8 already.
inline std::string NameBytes(std::span<const std::uint8_t> raw) {
    return {raw.begin(), raw.end()};
}

}  // namespace corvelle::test
