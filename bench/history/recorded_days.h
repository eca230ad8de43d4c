#pragma once

// Recorded days for the history benchmarks: terminals polled over days through the recorder's
// own writer, and a month of 200 ms rows made in memory.

#include <chrono>
#include <cstdint>
#include <string>

#include "history/series.h"
#include "record/record_writer.h"

namespace corvelle::bench {

using Days = std::chrono::sys_days;

// The writer's clock, set by the recording loop.
class BenchClock final : public RecorderClock {
  public:
    LocalDateTime Now() const override { return now; }
    std::chrono::milliseconds Elapsed() const override { return elapsed; }
    LocalDateTime now;
    std::chrono::milliseconds elapsed{0};
};

LocalDateTime LocalAt(Days day, std::chrono::milliseconds inDay);

// Records a terminal polled every interval over days, through the recorder's writer. With
// absences the terminal leaves for ten minutes at 10:00 each day, with the events of that.
void Record(RecordWriter& writer, BenchClock& clock, const std::string& name, int slot, Days first,
            int days, std::chrono::milliseconds interval, bool absences);

// Days of 200 ms rows up to lastDay with six channels and the flags, made in memory: what a pan
// or zoom repaints from.
Series MonthAt200Ms(Days lastDay, int days);

}  // namespace corvelle::bench
