// Figures for the trend chart on this machine: one poll reply at three fill levels, one full
// redraw under three drawing settings, the reset after the last point, the memory of eight full
// charts, and the CPU share of eight charts fed every 200 ms with one of them on screen.

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <memory>
#include <numbers>
#include <string>
#include <vector>

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTabWidget>
#include <QTime>
#include <QTimer>

#include "chart/ct_chart.h"

namespace {

using corvelle::CTChart;
using corvelle::kChartSeriesCount;
using Clock = std::chrono::steady_clock;

double Milliseconds(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// Drives a chart the way a device page does: the value axis grows to fit whole volts, one point
// per series per reply, and a reset once the point at x = 3000 has been appended.
class PageFeeder {
  public:
    explicit PageFeeder(CTChart& chart) : chart_(chart) { Reset(); }

    void Reply() {
        std::array<int, kChartSeriesCount> millivolts{};
        for (int k = 0; k < kChartSeriesCount; ++k) {
            const double phase = 2 * std::numbers::pi * (tick_ / 300.0) + k;
            millivolts[k] = static_cast<int>(2300 + 400 * k * 0.5 + 2000 * std::sin(phase));
        }
        ++tick_;
        for (const int mv : millivolts) {
            const int d = (mv + 500) / 1000;
            if (d + 2 > axisMaximum_) {
                axisMaximum_ = d + 1;
                chart_.SetValueAxisRange(-1.0, axisMaximum_);
            }
        }
        const std::string label =
            QTime(8, 0).addMSecs(tick_ * 200).toString("HH:mm:ss").toStdString();
        for (int k = 0; k < kChartSeriesCount; ++k) {
            chart_.Series(k).AppendPoint(pointCounter_, millivolts[k] * 0.001, label,
                                         pointCounter_);
        }
        if (++pointCounter_ > 3000) {
            Reset();
        }
    }

    void Reset() {
        for (int k = 0; k < kChartSeriesCount; ++k) {
            chart_.Series(k).Clear();
        }
        chart_.SetValueAxisRange(-1.0, 5.0);
        axisMaximum_ = 5;
        pointCounter_ = 0;
    }

    void FillTo(int points) {
        while (pointCounter_ < points) {
            Reply();
        }
    }

  private:
    CTChart& chart_;
    int pointCounter_ = 0;
    int axisMaximum_ = 5;
    long tick_ = 0;
};

// Counts the paints a chart receives, so a reply can be timed until it is on screen.
class PaintCounter : public QObject {
  public:
    explicit PaintCounter(QWidget& widget) { widget.installEventFilter(this); }
    int count = 0;

  protected:
    bool eventFilter(QObject* /*watched*/, QEvent* event) override {
        count += event->type() == QEvent::Paint ? 1 : 0;
        return false;
    }
};

void PumpUntilPainted(const PaintCounter& paints, int before) {
    const auto deadline = Clock::now() + std::chrono::seconds(2);
    while (paints.count == before && Clock::now() < deadline) {
        QApplication::processEvents(QEventLoop::AllEvents);
    }
}

long ResidentKilobytes() {
    std::ifstream statm("/proc/self/statm");
    long pages = 0;
    long resident = 0;
    statm >> pages >> resident;
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

double CpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

std::unique_ptr<CTChart> ShownChart() {
    auto chart = std::make_unique<CTChart>();
    chart->resize(chart->sizeHint());
    chart->show();
    QApplication::processEvents();
    return chart;
}

void ReplyCost() {
    std::printf("\nOne reply on a visible chart (range calls, six appends, redraw and paint)\n");
    std::printf("%-16s %14s %14s\n", "points", "median ms", "calls only us");
    constexpr int kReplies = 40;
    for (const int start : {0, 1500, 3000 - kReplies}) {
        auto chart = ShownChart();
        PageFeeder feeder(*chart);
        feeder.FillTo(start);
        PaintCounter paints(*chart);
        PumpUntilPainted(paints, paints.count);
        std::vector<double> total;
        std::vector<double> calls;
        for (int i = 0; i < kReplies; ++i) {
            const int before = paints.count;
            const auto t0 = Clock::now();
            feeder.Reply();
            const auto t1 = Clock::now();
            PumpUntilPainted(paints, before);
            total.push_back(Milliseconds(Clock::now() - t0));
            calls.push_back(Milliseconds(t1 - t0) * 1000.0);
        }
        std::printf("%5d..%-10d %14.2f %14.1f\n", start, start + kReplies, Median(total),
                    Median(calls));
    }
}

void FullRedraw() {
    std::printf("\nOne full redraw at 3000 points per series (746 x 303 px)\n");
    std::printf("%-40s %10s\n", "drawing settings", "median ms");
    struct Setting {
        const char* name;
        QCP::PlottingHints hints;
        bool antialiased;
    };
    const std::array<Setting, 3> settings{{
        {"antialiased lines", QCP::phCacheLabels, true},
        {"antialiased, fast polylines", QCP::phCacheLabels | QCP::phFastPolylines, true},
        {"aliased, fast polylines (chart default)", QCP::phCacheLabels | QCP::phFastPolylines,
         false},
    }};
    auto chart = ShownChart();
    PageFeeder feeder(*chart);
    feeder.FillTo(3000);
    for (const Setting& setting : settings) {
        chart->setPlottingHints(setting.hints);
        chart->setNotAntialiasedElements(setting.antialiased ? QCP::aeNone : QCP::aePlottables);
        chart->setAntialiasedElements(setting.antialiased ? QCP::aePlottables : QCP::aeNone);
        std::vector<double> times;
        for (int i = 0; i < 30; ++i) {
            const auto t0 = Clock::now();
            chart->replot();
            times.push_back(Milliseconds(Clock::now() - t0));
        }
        std::printf("%-40s %10.2f\n", setting.name, Median(times));
    }
}

void ResetCost() {
    std::printf("\nReset after the point at x = 3000 (six clears, range -1..5)\n");
    auto chart = ShownChart();
    PageFeeder feeder(*chart);
    std::vector<double> resets;
    std::vector<double> redraws;
    for (int i = 0; i < 20; ++i) {
        feeder.FillTo(3000);
        QApplication::processEvents();
        const auto t0 = Clock::now();
        feeder.Reset();
        const auto t1 = Clock::now();
        chart->replot();
        redraws.push_back(Milliseconds(Clock::now() - t1));
        resets.push_back(Milliseconds(t1 - t0));
    }
    std::printf("%-40s %10.3f ms\n", "reset calls", Median(resets));
    std::printf("%-40s %10.3f ms\n", "redraw of the emptied chart", Median(redraws));
}

struct EightCharts {
    QTabWidget tabs;
    std::vector<CTChart*> charts;
    std::vector<std::unique_ptr<PageFeeder>> feeders;

    EightCharts() {
        for (int i = 0; i < 8; ++i) {
            auto* chart = new CTChart;
            tabs.addTab(chart, QString::number(i + 1));
            charts.push_back(chart);
            feeders.push_back(std::make_unique<PageFeeder>(*chart));
        }
        tabs.resize(760, 340);
        tabs.show();
        QApplication::processEvents();
    }
};

void Memory() {
    std::printf("\nMemory of eight charts with 3000 points per series, each shown once\n");
    {
        // Fonts, styles and caches are loaded once per process; keep them out of the figure.
        auto warm = ShownChart();
        PageFeeder(*warm).FillTo(3000);
        warm->replot();
    }
    QApplication::processEvents();
    const long before = ResidentKilobytes();
    EightCharts eight;
    for (std::size_t i = 0; i < eight.charts.size(); ++i) {
        eight.feeders[i]->FillTo(3000);
        eight.tabs.setCurrentIndex(static_cast<int>(i));
        QApplication::processEvents();
    }
    const long total = ResidentKilobytes() - before;
    std::printf("%-40s %10ld KiB\n", "resident growth, eight charts", total);
    std::printf("%-40s %10ld KiB\n", "per chart", total / 8);
}

void EightFedCharts() {
    constexpr int kSeconds = 30;
    std::printf("\nEight charts fed one reply every 200 ms for %d s, one on screen,\n", kSeconds);
    std::printf("starting at 2850 points so the run covers the fullest charts and the reset\n");
    EightCharts eight;
    for (const auto& feeder : eight.feeders) {
        feeder->FillTo(2850);
    }
    QApplication::processEvents();

    std::vector<int> replots(eight.charts.size(), 0);
    std::vector<std::unique_ptr<QTimer>> timers;
    for (std::size_t i = 0; i < eight.charts.size(); ++i) {
        QObject::connect(eight.charts[i], &QCustomPlot::afterReplot,
                         [&replots, i] { ++replots[i]; });
        auto timer = std::make_unique<QTimer>();
        timer->setInterval(200);
        QObject::connect(timer.get(), &QTimer::timeout,
                         [feeder = eight.feeders[i].get()] { feeder->Reply(); });
        // Pages poll on their own timers, so replies do not arrive together.
        QTimer::singleShot(static_cast<int>(i) * 25, timer.get(), qOverload<>(&QTimer::start));
        timers.push_back(std::move(timer));
    }

    QEventLoop loop;
    QTimer::singleShot(kSeconds * 1000, &loop, &QEventLoop::quit);
    const double cpu0 = CpuSeconds();
    QElapsedTimer wall;
    wall.start();
    loop.exec();
    const double cpu = CpuSeconds() - cpu0;
    const double seconds = wall.elapsed() / 1000.0;

    int hiddenReplots = 0;
    for (std::size_t i = 1; i < replots.size(); ++i) {
        hiddenReplots += replots[i];
    }
    std::printf("%-40s %10.2f %%\n", "CPU share of one core", 100.0 * cpu / seconds);
    std::printf("%-40s %10d\n", "redraws of the visible chart", replots[0]);
    std::printf("%-40s %10d\n", "redraws of the seven hidden charts", hiddenReplots);
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    ReplyCost();
    FullRedraw();
    ResetCost();
    Memory();
    EightFedCharts();
    return 0;
}
