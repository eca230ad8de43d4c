#pragma once

#include <prometheus/collectable.h>
#include <prometheus/metric_family.h>

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

namespace corvelle {

// The fields of /proc/<pid>/stat the process figures need, in clock ticks and pages.
struct ProcStat {
    std::uint64_t userTicks = 0;
    std::uint64_t systemTicks = 0;
    // Since boot.
    std::uint64_t startTicks = 0;
    std::uint64_t residentPages = 0;
};
// Nothing when the text is not a stat line. The command name, in parentheses, may hold
// anything, spaces and parentheses included: the fields follow its last ")".
std::optional<ProcStat> ParseProcStat(std::string_view text);

// The standard process figures of this process, read from /proc/self at each scrape:
// process_cpu_seconds_total, process_resident_memory_bytes, process_open_fds and
// process_start_time_seconds.
class ProcessCollector final : public prometheus::Collectable {
  public:
    std::vector<prometheus::MetricFamily> Collect() const override;
};

}  // namespace corvelle
