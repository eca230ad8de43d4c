// Linux: the figures come from /proc/self.
#include <unistd.h>

#include <charconv>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>

#include "metrics/families.h"
#include "metrics/process_collector.h"

namespace corvelle {
namespace {

using prometheus::MetricFamily;
using prometheus::MetricType;

// /proc files are small; more than this is not a stat or stat file.
constexpr std::size_t kMostProcBytes = 8192;
// Fields after the command name, from 0: the state, which proc(5) numbers 3.
constexpr std::size_t kUserTimeField = 11;
constexpr std::size_t kSystemTimeField = 12;
constexpr std::size_t kStartTimeField = 19;
constexpr std::size_t kResidentField = 21;

std::string ReadSmall(const char* path) {
    std::ifstream file(path, std::ios::binary);
    std::string text(kMostProcBytes, '\0');
    file.read(text.data(), static_cast<std::streamsize>(text.size()));
    text.resize(static_cast<std::size_t>(file.gcount()));
    return text;
}

double Seconds(const timespec& time) {
    return static_cast<double>(time.tv_sec) + static_cast<double>(time.tv_nsec) / 1e9;
}

// Seconds since the epoch at boot, worked out once from the clocks: /proc/stat, which holds it
// too, is hidden from a service whose unit shows it only processes (ProcSubset=pid).
double BootTime() {
    static const double boot = [] {
        timespec now{};
        timespec sinceBoot{};
        ::clock_gettime(CLOCK_REALTIME, &now);
        ::clock_gettime(CLOCK_BOOTTIME, &sinceBoot);
        return Seconds(now) - Seconds(sinceBoot);
    }();
    return boot;
}

std::size_t OpenDescriptors() {
    std::error_code error;
    std::size_t count = 0;
    for (std::filesystem::directory_iterator it("/proc/self/fd", error), end; !error && it != end;
         it.increment(error)) {
        ++count;
    }
    // The iterator's own descriptor was open while it counted.
    return count > 0 ? count - 1 : 0;
}

}  // namespace

std::optional<ProcStat> ParseProcStat(std::string_view text) {
    const auto close = text.rfind(')');
    if (close == std::string_view::npos) {
        return std::nullopt;
    }
    std::string_view rest = text.substr(close + 1);
    ProcStat stat;
    std::size_t found = 0;
    for (std::size_t field = 0; field <= kResidentField; ++field) {
        const auto start = rest.find_first_not_of(' ');
        if (start == std::string_view::npos) {
            return std::nullopt;
        }
        rest.remove_prefix(start);
        const auto length = std::min(rest.find(' '), rest.size());
        const std::string_view token = rest.substr(0, length);
        rest.remove_prefix(length);
        std::uint64_t* target = field == kUserTimeField     ? &stat.userTicks
                                : field == kSystemTimeField ? &stat.systemTicks
                                : field == kStartTimeField  ? &stat.startTicks
                                : field == kResidentField   ? &stat.residentPages
                                                            : nullptr;
        if (target == nullptr) {
            continue;
        }
        const auto [end, error] =
            std::from_chars(token.data(), token.data() + token.size(), *target);
        if (error != std::errc() || end != token.data() + token.size()) {
            return std::nullopt;
        }
        ++found;
    }
    return found == 4 ? std::optional(stat) : std::nullopt;
}

std::vector<MetricFamily> ProcessCollector::Collect() const {
    std::vector<MetricFamily> families;
    const auto stat = ParseProcStat(ReadSmall("/proc/self/stat"));
    const auto ticks = static_cast<double>(::sysconf(_SC_CLK_TCK));
    if (stat && ticks > 0) {
        AddSingle(families, "process_cpu_seconds_total",
                  "Total user and system CPU time in seconds.", MetricType::Counter,
                  static_cast<double>(stat->userTicks + stat->systemTicks) / ticks);
        AddSingle(families, "process_resident_memory_bytes", "Resident memory size in bytes.",
                  MetricType::Gauge,
                  static_cast<double>(stat->residentPages) *
                      static_cast<double>(::sysconf(_SC_PAGESIZE)));
        AddSingle(families, "process_start_time_seconds",
                  "Start time of the process since the epoch in seconds.", MetricType::Gauge,
                  BootTime() + static_cast<double>(stat->startTicks) / ticks);
    }
    AddSingle(families, "process_open_fds", "Number of open file descriptors.", MetricType::Gauge,
              static_cast<double>(OpenDescriptors()));
    return families;
}

}  // namespace corvelle
