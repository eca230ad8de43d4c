// Figures for the history window's foundation on this machine: one terminal's day at 200 ms and
// a month at 3 s, written by the recorder's own writer, read back from the page cache to a
// complete first picture, with pandas timed on the same files as a peer; then the repaint of a
// pan or zoom over a month at 200 ms with six channels, and the memory per row.

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "bench/history/recorded_days.h"
#include "device/time_text.h"
#include "history/history_loader.h"
#include "history/record_folder.h"
#include "record/record_writer.h"
#include "record/utf8_path.h"
#include "tests/support/set_recorder_clock.h"

namespace {

namespace fs = std::filesystem;
using corvelle::History;
using corvelle::RowSelection;
using corvelle::RowTime;
using corvelle::Series;
using std::chrono::milliseconds;
using Clock = std::chrono::steady_clock;
using corvelle::bench::BenchClock;
using corvelle::bench::Days;
using corvelle::bench::LocalAt;
using corvelle::bench::Record;

constexpr int kWidth = 1920;
constexpr int kRuns = 3;
constexpr Days kLastDay = std::chrono::sys_days{std::chrono::year{2026} / 12 / 8};
constexpr int kMonthDays = 31;
// As the window: a column's rows are fetched this many columns ahead of its range.
constexpr std::size_t kFetchAhead = 8;

double Ms(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

class Stopwatch final : public corvelle::LoadObserver {
  public:
    bool Cancelled() override { return false; }
    void OnProgress(std::uint64_t, std::uint64_t) override {}
    void OnDay(const History&) override {
        if (firstDay == Clock::duration::zero()) {
            firstDay = Clock::now() - start;
        }
    }
    Clock::time_point start = Clock::now();
    Clock::duration firstDay = Clock::duration::zero();
};

// The work of one picture of view [from, to): the rows of each pixel column, and the true
// minimum and maximum, the first and the last value of each shown column, and the flags.
double Picture(const Series& series, RowTime from, RowTime to) {
    std::vector<corvelle::PixelColumn> columns;
    double sum = 0;
    for (const corvelle::Piece& piece : series.Pieces()) {
        series.Columns(piece, from, to, kWidth, columns);
        for (std::size_t kept = 0; kept < series.Selection().values.size(); ++kept) {
            for (std::size_t c = 0; c < columns.size(); ++c) {
                const auto& column = columns[c];
                if (c + kFetchAhead < columns.size()) {
                    series.Fetch(kept, columns[c + kFetchAhead].begin);
                }
                const auto range = series.Range(kept, column.begin, column.end);
                sum += range.max - range.min + series.Value(kept, column.begin) -
                       series.Value(kept, column.end - 1);
            }
        }
        if (series.Selection().flags) {
            for (std::size_t c = 0; c < columns.size(); ++c) {
                const auto& column = columns[c];
                if (c + kFetchAhead < columns.size()) {
                    series.FetchFlags(columns[c + kFetchAhead].begin);
                }
                const auto flags = series.FlagsOver(column.begin, column.end);
                sum += (flags.all ^ flags.any) ^ series.Flags(column.end - 1);
            }
        }
    }
    return sum;
}

struct LoadFigures {
    double bestMs = 0;
    double firstDayMs = 0;
    std::size_t rows = 0;
    std::size_t bytes = 0;
    std::uint64_t badRows = 0;
    std::size_t pieces = 0;
};

LoadFigures TimeLoad(const corvelle::HistoryRequest& request) {
    LoadFigures figures;
    figures.bestMs = 1e300;
    for (int run = 0; run < kRuns; ++run) {
        Stopwatch watch;
        const History history = corvelle::LoadHistory(request, watch);
        const auto extent = history.series.Extent();
        const double check = extent ? Picture(history.series, extent->first, extent->last) : 0;
        const double ms = Ms(Clock::now() - watch.start);
        if (ms < figures.bestMs) {
            figures = {ms,
                       Ms(watch.firstDay),
                       history.series.Rows(),
                       history.series.Bytes(),
                       history.problems.rows,
                       history.series.Pieces().size()};
        }
        if (std::isnan(check)) {
            std::printf("(no picture)\n");
        }
    }
    return figures;
}

std::uintmax_t SizeOf(const std::vector<fs::path>& files) {
    std::uintmax_t bytes = 0;
    for (const auto& file : files) {
        bytes += fs::file_size(file);
    }
    return bytes;
}

// pandas' best of three on the files, in seconds; negative when pandas cannot be run.
double Pandas(const std::vector<fs::path>& files) {
    // Debian's interpreter, whose pandas is python3-pandas, whatever else PATH offers.
    std::string command = "/usr/bin/python3 '" CORVELLE_PANDAS_SCRIPT "'";
    for (const auto& file : files) {
        command += " '" + file.string() + "'";
    }
    command += " 2>/dev/null";
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) {
        return -1;
    }
    std::array<char, 128> line{};
    const bool read = std::fgets(line.data(), line.size(), pipe) != nullptr;
    char* end = line.data();
    const double seconds = read ? std::strtod(line.data(), &end) : -1;
    return pclose(pipe) == 0 && end != line.data() ? seconds : -1;
}

void PrintLoad(const char* what, const LoadFigures& figures, const std::vector<fs::path>& files,
               double targetMs, std::size_t kept) {
    const double megabytes = static_cast<double>(SizeOf(files)) / 1e6;
    const double rows = static_cast<double>(figures.rows);
    const double pandas = Pandas(files);
    std::printf("%s\n", what);
    std::printf("  files                 %zu, %.1f MB, %zu rows (%llu bad), %zu pieces\n",
                files.size(), megabytes, figures.rows,
                static_cast<unsigned long long>(figures.badRows), figures.pieces);
    std::printf("  read + first picture  %.0f ms (best of %d; target <= %.0f ms), %.0f MB/s\n",
                figures.bestMs, kRuns, targetMs, megabytes / figures.bestMs * 1000);
    std::printf("  first day shown after %.0f ms\n", figures.firstDayMs);
    if (pandas >= 0) {
        std::printf(
            "  pandas.read_csv       %.0f ms (best of %d): ours is %.2f x pandas (goal <= "
            "0.5)\n",
            pandas * 1000, kRuns, figures.bestMs / (pandas * 1000));
    } else {
        std::printf("  pandas.read_csv       not available (python3-pandas)\n");
    }
    std::printf(
        "  memory                %.1f bytes per row, %.1f MB per million rows (target "
        "<= 1.5 x (8 + 4 x %zu) = %.0f bytes)\n",
        static_cast<double>(figures.bytes) / rows, static_cast<double>(figures.bytes) / rows, kept,
        1.5 * (8.0 + 4.0 * static_cast<double>(kept)));
}

void PrintRepaints(const Series& series) {
    const auto extent = *series.Extent();
    const milliseconds whole = extent.last - extent.first;
    struct Zoom {
        const char* name;
        milliseconds span;
    };
    const Zoom zooms[] = {{"month", whole},
                          {"week", std::chrono::days(7)},
                          {"day", std::chrono::days(1)},
                          {"hour", std::chrono::hours(1)},
                          {"minute", std::chrono::minutes(1)}};
    std::vector<double> all;
    double sink = 0;
    std::printf("repaint of a pan or zoom: %zu rows, 6 channels and 24 flags, %d pixels\n",
                series.Rows(), kWidth);
    for (const Zoom& zoom : zooms) {
        std::vector<double> times;
        // A zoom to the span, then pans by a tenth of it across the month.
        for (int step = 0; step <= 20; ++step) {
            const milliseconds room = whole - zoom.span;
            const RowTime from = extent.first + room * step / 20;
            const auto start = Clock::now();
            sink += Picture(series, from, from + zoom.span);
            times.push_back(Ms(Clock::now() - start));
        }
        all.insert(all.end(), times.begin(), times.end());
        std::printf("  %-6s median %.2f ms, max %.2f ms\n", zoom.name, Median(times),
                    *std::max_element(times.begin(), times.end()));
    }
    std::printf("  all    median %.2f ms, max %.2f ms (target: median <= 16 ms)%s\n", Median(all),
                *std::max_element(all.begin(), all.end()), std::isnan(sink) ? " (no picture)" : "");
    const double rows = static_cast<double>(series.Rows());
    std::printf(
        "  memory %.1f bytes per row, %.1f MB per million rows, the flag word included "
        "(target for 6 channels <= 1.5 x (8 + 4 x 6) = 48 bytes)\n",
        static_cast<double>(series.Bytes()) / rows, static_cast<double>(series.Bytes()) / rows);
}

std::string LoadAverage() {
    std::ifstream in("/proc/loadavg");
    std::string one;
    std::string five;
    in >> one >> five;
    return one.empty() ? "unknown" : one + " (1 min), " + five + " (5 min)";
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1) {
        std::fprintf(stderr, "usage: %s\n", argv[0]);
        return 2;
    }
    const fs::path root =
        fs::temp_directory_path() /
        ("bench-history-" + std::to_string(Clock::now().time_since_epoch().count()));
    fs::create_directories(root);
    std::printf("load average before: %s\n", LoadAverage().c_str());
    {
        BenchClock clock;
        clock.now = LocalAt(kLastDay - std::chrono::days(kMonthDays - 1), {});
        corvelle::RecordWriterOptions options;
        options.program = "bench_history";
        // The files stay in the page cache, as a day just recorded does.
        options.syncPeriod = std::chrono::hours(24 * 365);
        corvelle::RecordWriter writer(root, corvelle::test::NameBytes, clock, options, nullptr);
        const auto start = Clock::now();
        writer.Begin(root.string());
        Record(writer, clock, "一号泵站", 1, kLastDay, 1, milliseconds(200), false);
        Record(writer, clock, "二号泵站", 2, kLastDay - std::chrono::days(kMonthDays - 1),
               kMonthDays, milliseconds(3000), true);
        clock.now = LocalAt(kLastDay + std::chrono::days(1), {});
        writer.Finish(0);
        std::printf("recorded with the recorder's writer in %.1f s: %llu rows\n",
                    Ms(Clock::now() - start) / 1000,
                    static_cast<unsigned long long>(writer.ReadingRows()));
    }
    std::string dayFolder;
    std::string monthFolder;
    for (const auto& terminal : corvelle::ListTerminals(root)) {
        (terminal.name == "一号泵站" ? dayFolder : monthFolder) = terminal.folder;
    }
    const auto fileOf = [&](const std::string& folder, Days date) {
        return corvelle::DayFilePath(root, folder,
                                     corvelle::FormatIsoDate(LocalAt(date, milliseconds{0})));
    };
    RowSelection all;
    for (corvelle::ValueColumn k = 0; k < 12; ++k) {
        all.values.push_back(k);
    }
    all.flags = true;

    const corvelle::HistoryRequest day{root, dayFolder, kLastDay, kLastDay, all};
    PrintLoad("one day at 200 ms, 12 channels and the flags kept", TimeLoad(day),
              {fileOf(dayFolder, kLastDay)}, 1000, 13);

    const corvelle::HistoryRequest month{
        root, monthFolder, kLastDay - std::chrono::days(kMonthDays - 1), kLastDay, all};
    std::vector<fs::path> monthFiles;
    monthFiles.reserve(kMonthDays);
    for (int d = 0; d < kMonthDays; ++d) {
        monthFiles.push_back(fileOf(monthFolder, month.first + std::chrono::days(d)));
    }
    PrintLoad("31 days at 3 s, 12 channels and the flags kept, an absence a day", TimeLoad(month),
              monthFiles, 2000, 13);
    fs::remove_all(root);

    PrintRepaints(corvelle::bench::MonthAt200Ms(kLastDay, kMonthDays));
    std::printf("load average after: %s\n", LoadAverage().c_str());
    return 0;
}
