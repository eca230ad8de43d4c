// The history window: a week of one terminal recorded through the recorder's writer every 3 s,
// away ten minutes a day, with a profile in the events files (changed on the fourth day),
// loaded in the window and pictured; then the repaint of a pan or zoom over a month of 200 ms
// rows with six channels, two inputs and a relay, from the call until the picture is on screen
// (the backing store's flush has returned), and the memory per row.
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QTest>
#include <algorithm>
#include <ctime>
#include <filesystem>
#include <fstream>

#include "bench/console/scenarios.h"
#include "bench/console/x_server.h"
#include "bench/history/recorded_days.h"
#include "device/time_text.h"
#include "history/ui/history_window.h"
#include "record/csv_rows.h"
#include "tests/support/set_recorder_clock.h"

namespace corvelle::bench {
namespace {

namespace fs = std::filesystem;
using std::chrono::milliseconds;

constexpr Days kLastDay = std::chrono::sys_days{std::chrono::year{2026} / 12 / 8};
constexpr int kWeek = 7;
constexpr int kMonth = 31;
constexpr QSize kWindowSize{1400, 900};
const std::string kTerminal = "一号泵站";

TerminalProfile WeekProfile(bool changed) {
    TerminalProfile profile;
    profile.terminal = kTerminal;
    profile.channels[0] =
        ChannelProfile{"液位", "m", Scaling{-6, 0, 0, changed ? 15.0 : 12.0}, 2, Axis::Left, {}};
    profile.channels[1] = ChannelProfile{"流量", "m³/h", Scaling{0, 5, 0, 200}, 1, Axis::Right, {}};
    profile.inputs[0].name = "门禁";
    profile.inputs[1].name = "急停";
    profile.relays[0].name = "水泵";
    return profile;
}

// The week as the recorder writes it, the profile at the start of each day.
fs::path RecordWeek() {
    fs::path root = fs::temp_directory_path() /
                    ("bench-history-week-" + std::to_string(QDateTime::currentMSecsSinceEpoch()));
    fs::create_directories(root);
    const Days first = kLastDay - std::chrono::days(kWeek - 1);
    BenchClock clock;
    clock.now = LocalAt(first, {});
    RecordWriter writer(root, corvelle::test::NameBytes, clock, {}, nullptr);
    writer.Begin(root.string());
    Record(writer, clock, kTerminal, 1, first, kWeek, milliseconds(3000), true);
    clock.now = LocalAt(kLastDay + std::chrono::days(1), {});
    writer.Finish(0);
    for (int day = 0; day < kWeek; ++day) {
        const LocalDateTime at = LocalAt(first + std::chrono::days(day), milliseconds(0));
        std::ofstream(root / ("events-" + FormatIsoDate(at) + ".csv"),
                      std::ios::app | std::ios::binary)
            << FormatDateTimeMs(at) << ",1," << CsvField(kTerminal) << ","
            << "终端配置," << CsvField(MetaJson(WeekProfile(day >= 3))) << kLineEnd;
    }
    return root;
}

}  // namespace

int RunHistory(const Options& options) {
    bool correct = true;
    // The week, loaded as the operator would and pictured.
    const fs::path root = RecordWeek();
    auto* week = new HistoryWindow(QString::fromStdString(root.string()));
    week->resize(kWindowSize);
    week->show();
    correct = week->SelectTerminal(QString::fromStdString(kTerminal)) && correct;
    const QDate last(2026, 12, 8);
    week->SetDates(last.addDays(1 - kWeek), last);
    week->SetShown({0, 1, 2, 3}, {1, 2}, {1});
    QElapsedTimer loadClock;
    loadClock.start();
    week->Load();
    correct = QTest::qWaitFor([&] { return !week->Loading(); }, 60000) && correct;
    const double loadMs = Ms(loadClock);
    week->Chart().replot();
    const QString picture = QDir::temp().filePath(
        RunningOnX() ? QStringLiteral("history-week-x.png") : QStringLiteral("history-week.png"));
    week->grab().save(picture);
    const std::size_t weekRows = week->Chart().View()->history.series.Rows();
    correct = weekRows == static_cast<std::size_t>(kWeek) * (28800 - 200) && correct;
    std::printf("week: %zu rows loaded and shown in %.0f ms; picture %s\n", weekRows, loadMs,
                picture.toLocal8Bit().constData());
    week->close();
    fs::remove_all(root);

    // The month in memory, drawn in a window of the same size.
    const int days = options.smoke ? 1 : kMonth;
    History month;
    month.name = kTerminal;
    month.series = MonthAt200Ms(kLastDay, days);
    const double rows = static_cast<double>(month.series.Rows());
    const double bytesPerRow = static_cast<double>(month.series.Bytes()) / rows;
    auto* window = new HistoryWindow;
    window->resize(kWindowSize);
    window->show();
    HistoryChart& chart = window->Chart();
    chart.SetView(HistoryView::Make(std::move(month), {1, 2}, {1}), false);
    chart.replot();
    QTest::qWait(50);
    const double first = AxisTime(chart.VisibleFrom());
    const double whole = AxisTime(chart.VisibleTo()) - first;
    struct Zoom {
        const char* name;
        double seconds;
    };
    const Zoom zooms[] = {{"month", whole},
                          {"week", 7 * 86400.0},
                          {"day", 86400.0},
                          {"hour", 3600.0},
                          {"minute", 60.0}};
    std::vector<double> all;
    std::vector<double> wholeRange;
    Table table("Repaint of a pan or zoom, " + std::to_string(static_cast<std::size_t>(rows)) +
                    " rows, 6 channels, 2 inputs, 1 relay",
                {"zoom", "median ms", "worst ms", "median CPU ms"});
    for (const Zoom& zoom : zooms) {
        const double span = std::min(zoom.seconds, whole);
        std::vector<double> times;
        std::vector<double> cpuTimes;
        // A zoom to the span, then pans by a twentieth of the rest across the rows.
        for (int step = 0; step <= 20; ++step) {
            const double from = first + (whole - span) * step / 20;
            QElapsedTimer clock;
            clock.start();
            const std::clock_t cpu = std::clock();
            chart.xAxis->setRange(from, from + span);
            chart.replot(QCustomPlot::rpImmediateRefresh);
            times.push_back(Ms(clock));
            cpuTimes.push_back(1000.0 * static_cast<double>(std::clock() - cpu) / CLOCKS_PER_SEC);
            if (step == 7) {
                // What a change to the drawing is held against: the same pixels.
                chart.grab().save(QDir::temp().filePath(
                    QStringLiteral("history-zoom-%1%2.png")
                        .arg(QLatin1String(zoom.name),
                             RunningOnX() ? QStringLiteral("-x") : QString())));
            }
        }
        table.Row({zoom.name, Fixed(MedianAndWorstOf(times).median, 2),
                   Fixed(MedianAndWorstOf(times).worst, 2),
                   Fixed(MedianAndWorstOf(cpuTimes).median, 2)});
        all.insert(all.end(), times.begin(), times.end());
        if (zoom.seconds >= whole) {
            wholeRange = times;
        }
    }
    const MedianAndWorst spread = MedianAndWorstOf(all);
    const double median = spread.median;
    std::printf("repaint median %.2f ms over all zooms (target <= 16 ms): %s\n", median,
                Verdict(median <= 16).c_str());
    std::printf(
        "memory %.1f bytes per row, %.1f MB per million rows (target for 6 channels "
        "<= 1.5 x (8 + 4 x 6) = 48 bytes)\n",
        bytesPerRow, bytesPerRow);
    window->close();
    return Summary("history", correct,
                   "load_week=" + Fixed(loadMs, 0) + "ms repaint_median=" + Fixed(median, 2) +
                       "ms repaint_worst=" + Fixed(spread.worst, 2) +
                       "ms whole_range_median=" + Fixed(MedianAndWorstOf(wholeRange).median, 2) +
                       "ms bytes_per_row=" + Fixed(bytesPerRow, 1));
}

}  // namespace corvelle::bench
