// Throughput of the CSV recorder and the size of its files: a run of eight terminals polled
// every 200 ms (24 hours unless --hours says otherwise), pushed through a CsvRecorder into a
// temporary folder as fast as the writer takes it.

#include <array>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <numbers>
#include <string>
#include <thread>
#include <vector>

#include "record/csv_recorder.h"
#include "tests/support/set_recorder_clock.h"

namespace {

namespace fs = std::filesystem;
using corvelle::CsvRecorder;
using corvelle::LocalDateTime;
using corvelle::Reading;
using Clock = std::chrono::steady_clock;

constexpr int kTerminals = 8;
constexpr int kIntervalMs = 200;
constexpr std::int64_t kMsPerDay = 86'400'000;

// The names terminals register with, as UTF-8; the bench decoder passes them through.
constexpr std::array<const char*, kTerminals> kNames = {
    "1号泵站", "2号泵站", "进水口", "沉淀池A", "沉淀池B", "Pump-House 6", "加药间", "出水口"};

LocalDateTime TimeAt(std::int64_t ms) {
    using namespace std::chrono;
    const year_month_day date{sys_days{year{2026} / December / 8} + days{ms / kMsPerDay}};
    const std::int64_t inDay = ms % kMsPerDay;
    return {static_cast<int>(date.year()),
            static_cast<int>(static_cast<unsigned>(date.month())),
            static_cast<int>(static_cast<unsigned>(date.day())),
            static_cast<int>(inDay / 3'600'000),
            static_cast<int>(inDay / 60'000 % 60),
            static_cast<int>(inDay / 1000 % 60),
            static_cast<int>(inDay % 1000),
            8 * 3600};
}

// Slow waves with a little noise on the channels, a drifting temperature and supply, inputs
// that change now and then and relays switched every few minutes.
Reading Make(int terminal, std::int64_t tick, std::uint32_t& noise) {
    Reading reading;
    reading.time = TimeAt(tick * kIntervalMs);
    reading.slot = terminal + 1;
    const char* name = kNames[static_cast<std::size_t>(terminal)];
    reading.name.assign(name, name + std::strlen(name));
    reading.channelCount = 12;
    const double t = static_cast<double>(tick);
    for (std::size_t k = 0; k < reading.channelMillivolts.size(); ++k) {
        noise = noise * 1664525U + 1013904223U;
        const double phase = 2 * std::numbers::pi * t / (300.0 + 37.0 * static_cast<double>(k));
        reading.channelMillivolts[k] = static_cast<std::int32_t>(
            2500 + 1500 * static_cast<double>(k % 4) + 1800 * std::sin(phase + terminal) +
            static_cast<double>(noise >> 28) - 8);
        reading.inputs[k] = static_cast<std::uint8_t>(((tick / (600 + 50 * k)) + k) % 2);
        reading.relays[k] = static_cast<std::uint8_t>((tick / 1500 + k + terminal) % 3 == 0);
    }
    reading.temperatureCentidegrees =
        static_cast<std::int16_t>(2300 + 300 * std::sin(2 * std::numbers::pi * t / 432000));
    reading.referenceMillivolts = static_cast<std::int16_t>(2500 + (noise >> 30));
    reading.supplyCentivolts = static_cast<std::int16_t>(1200 + 5 * std::sin(t / 900));
    reading.signalValue = static_cast<std::int16_t>(20 + (tick / 50) % 11);
    return reading;
}

std::uintmax_t FolderBytes(const fs::path& folder) {
    std::uintmax_t bytes = 0;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
        if (entry.is_regular_file()) {
            bytes += entry.file_size();
        }
    }
    return bytes;
}

}  // namespace

int main(int argc, char** argv) {
    double hours = 24;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--hours") == 0 && i + 1 < argc) {
            hours = std::stod(argv[++i]);
        } else {
            std::fprintf(stderr, "usage: %s [--hours H]\n", argv[0]);
            return 2;
        }
    }
    const auto ticks = static_cast<std::int64_t>(hours * 3600 * 1000 / kIntervalMs);
    const fs::path folder =
        fs::temp_directory_path() /
        ("bench-record-" + std::to_string(Clock::now().time_since_epoch().count()));
    const corvelle::CsvRecorderOptions options;
    std::uint64_t waits = 0;
    double seconds = 0;
    std::uint64_t rows = 0;
    std::uint64_t dropped = 0;
    {
        CsvRecorder recorder(folder.string(), corvelle::test::NameBytes,
                             std::make_shared<corvelle::SystemRecorderClock>(), options);
        if (const auto error = recorder.Start()) {
            std::fprintf(stderr, "cannot record: %s\n", corvelle::EnglishText(*error).c_str());
            return 1;
        }
        std::uint32_t noise = 1;
        const auto start = Clock::now();
        for (std::int64_t tick = 0; tick < ticks; ++tick) {
            for (int terminal = 0; terminal < kTerminals; ++terminal) {
                const Reading reading = Make(terminal, tick, noise);
                while (recorder.Queued() >= options.queueCapacity) {
                    ++waits;
                    std::this_thread::sleep_for(std::chrono::microseconds(50));
                }
                recorder.OnReading(reading);
            }
        }
        recorder.Stop();
        while (!recorder.Finished()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        seconds = std::chrono::duration<double>(Clock::now() - start).count();
        rows = recorder.ReadingRowsWritten();
        dropped = recorder.Dropped();
    }
    const std::uintmax_t bytes = FolderBytes(folder);
    fs::remove_all(folder);
    const double perRow = rows > 0 ? static_cast<double>(bytes) / static_cast<double>(rows) : 0;
    const double rowsPerDay200 = kTerminals * 86400.0 * 1000 / kIntervalMs;
    const double rowsPerDay3000 = kTerminals * 86400.0 * 1000 / 3000;
    std::printf("hours recorded          %.2f (%d terminals x 12 channels, every %d ms)\n", hours,
                kTerminals, kIntervalMs);
    std::printf("rows written            %llu (dropped %llu, producer waited %llu times)\n",
                static_cast<unsigned long long>(rows), static_cast<unsigned long long>(dropped),
                static_cast<unsigned long long>(waits));
    std::printf("time                    %.2f s\n", seconds);
    std::printf("rows per second         %.0f\n", static_cast<double>(rows) / seconds);
    std::printf("bytes per row           %.1f\n", perRow);
    std::printf("total bytes             %llu (%.1f MB)\n", static_cast<unsigned long long>(bytes),
                static_cast<double>(bytes) / 1e6);
    std::printf("per day, 8 x 200 ms     %.1f MB (%.0f rows)\n", rowsPerDay200 * perRow / 1e6,
                rowsPerDay200);
    std::printf("per day, 8 x 3000 ms    %.1f MB (%.0f rows)\n", rowsPerDay3000 * perRow / 1e6,
                rowsPerDay3000);
    return 0;
}
