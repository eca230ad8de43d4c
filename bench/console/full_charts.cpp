// Eight pages with full trend charts: switching pages, and one reply on a hidden and on the
// visible page, measured from the call into the page until its drawing is on screen: the
// backing store's flush has returned, which under X is when its request went to the server.
// Before that, the CPU share of a whole chart fill at the poll interval, fed through the
// bench's own clock. The real-time fill with terminals is RunFill.
#include <QCoreApplication>
#include <QEvent>
#include <QFont>
#include <QFontMetrics>
#include <QPainter>
#include <QPolygonF>
#include <QStringList>
#include <QTabBar>
#include <QTabWidget>
#include <QTableWidget>
#include <QTest>
#include <QWidget>
#include <algorithm>
#include <array>
#include <cmath>
#include <optional>
#include <utility>
#include <vector>

#include "bench/console/scenarios.h"
#include "chart/chart_look.h"
#include "chart/ct_chart.h"
#include "device/ui/device_page_dlg.h"
#include "protocol/module_frames.h"

namespace corvelle::bench {
namespace {

// Points a full chart holds between replies: the reply that appends the 3001st point restarts it.
constexpr int kFullPoints = TrendChartDriver::kLastPointX;
constexpr int kMeasuredReplies = 100;

// Counts paint events of a widget.
class PaintCounter : public QObject {
  public:
    explicit PaintCounter(QWidget& widget) { widget.installEventFilter(this); }
    int Count() const { return count_; }

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        count_ += event->type() == QEvent::Paint ? 1 : 0;
        return QObject::eventFilter(watched, event);
    }

  private:
    int count_ = 0;
};

struct FillShares {
    double whole = 0;       // percent of a core over the whole fill, the restart included
    double lastMinute = 0;  // percent of a core in the minute before the restart
    double xServer = 0;     // the X server's share over the whole fill, under X
    int chartPaints = 0;    // of the shown page
    int listPaints = 0;
    int rounds = 0;
};

// Every page gets one reply per round, as in kIntervalMs of console time, the first shown; a
// round starts as soon as the previous one is drawn, so ten minutes of console time pass in
// seconds. The shares are the process CPU time over the console time the rounds stand for.
// Each page's channels move as a terminal's would, one step of the wave per reply. The pages
// hold their first point already, so their value lists have all their rows and have been laid
// out: posted events alone do not run the list's delayed layout, which holds back its repaints.
FillShares FeedWholeFill(CDeviceTabDlg& host, const PaintCounter& chart, const PaintCounter& list) {
    const int rounds = kFullPoints + 1 - host.PageDlg(0).Page().Chart().PointCounter();
    constexpr int kMinuteRounds = 60 * 1000 / kIntervalMs;
    const int chartBefore = chart.Count();
    const int listBefore = list.Count();
    const ProcessSample start = SampleProcess();
    ProcessSample minuteStart = start;
    ProcessSample minuteEnd = start;
    for (int round = 1; round <= rounds; ++round) {
        if (round == rounds - kMinuteRounds) {
            minuteStart = SampleProcess();
        } else if (round == rounds) {
            minuteEnd = SampleProcess();  // the last round restarts every chart
        }
        for (int slot = 0; slot < static_cast<int>(kSlotCount); ++slot) {
            host.PageDlg(slot).Page().OnDeviceData(PollReplyFrame(round + slot * 37));
            QCoreApplication::sendPostedEvents();
        }
    }
    const ProcessSample end = SampleProcess();
    const double seconds = rounds * kIntervalMs / 1000.0;
    return {100.0 * (end.cpuSeconds - start.cpuSeconds) / seconds,
            100.0 * (minuteEnd.cpuSeconds - minuteStart.cpuSeconds) / 60.0,
            100.0 * (end.xServerCpuSeconds - start.xServerCpuSeconds) / seconds,
            chart.Count() - chartBefore,
            list.Count() - listBefore,
            rounds};
}

// The real-time start of a fill: every page's chart fed through the page to start points, then
// the eight terminals of moving channels in one simulator process (so that the console's event
// loop watches one child, not eight). True once every page has been polled past start.
bool StartMovingFleet(Console& console, quint16 port, int start, Children& sims) {
    CDeviceTabDlg& host = console.Window().TabHost();
    const auto counter = [&](int slot) { return host.PageDlg(slot).Page().Chart().PointCounter(); };
    for (int slot = 0; slot < static_cast<int>(kSlotCount); ++slot) {
        DevicePage& page = host.PageDlg(slot).Page();
        page.OnDeviceData(BuildModuleReply("CV6C-SIM"));
        while (counter(slot) < start) {
            page.OnDeviceData(PollReplyFrame(counter(slot)));
        }
    }
    sims.StartSim({QStringLiteral("--port"), QString::number(port), QStringLiteral("--terminals"),
                   QString::number(kFleet), QStringLiteral("--name"), QStringLiteral("B"),
                   QStringLiteral("--retry-ms"), QStringLiteral("200")});
    return RunUntil(
        [&] {
            for (int slot = 0; slot < static_cast<int>(kSlotCount); ++slot) {
                if (counter(slot) == start) {
                    return false;
                }
            }
            return true;
        },
        20000);
}

}  // namespace

int RunFullCharts(const Options& options) {
    Console console;
    console.StartListening(kIntervalMs);
    CDeviceTabDlg& host = console.Window().TabHost();
    const double rssEmpty = CurrentRssMb();
    std::array<std::unique_ptr<PaintCounter>, kSlotCount> paints;
    int tick = 0;
    for (int slot = 0; slot < static_cast<int>(kSlotCount); ++slot) {
        CDevicePageDlg& page = host.PageDlg(slot);
        paints[static_cast<std::size_t>(slot)] = std::make_unique<PaintCounter>(page.Chart());
        page.Page().OnDeviceData(BuildModuleReply("CV6C-SIM"));
        page.Page().OnDeviceData(PollReplyFrame(slot * 37));
    }
    RunFor(200);
    const PaintCounter shownList(*host.PageDlg(0).ValueList().viewport());
    const FillShares fill = FeedWholeFill(host, *paints[0], shownList);
    for (int slot = 0; slot < static_cast<int>(kSlotCount); ++slot) {
        CDevicePageDlg& page = host.PageDlg(slot);
        while (page.Page().Chart().PointCounter() < kFullPoints - kMeasuredReplies) {
            page.Page().OnDeviceData(PollReplyFrame(++tick));
        }
    }
    RunFor(200);

    // One reply, then whatever it queued (the chart's replot, the repaint) until drawn; the
    // UI thread's own CPU time beside it, which other programs on the machine do not stretch.
    double handledCpuMs = 0;
    const auto handle = [&](int slot) {
        QElapsedTimer clock;
        const qint64 cpuBefore = ThreadCpuNs();
        clock.start();
        host.PageDlg(slot).Page().OnDeviceData(PollReplyFrame(++tick));
        QCoreApplication::sendPostedEvents();
        const double ms = Ms(clock);
        handledCpuMs = static_cast<double>(ThreadCpuNs() - cpuBefore) / 1e6;
        return ms;
    };
    std::vector<double> visible;
    std::vector<double> visibleCpu;
    visible.reserve(kMeasuredReplies);
    const int visiblePaintsBefore = paints[0]->Count();
    for (int i = 0; i < kMeasuredReplies; ++i) {
        visible.push_back(handle(0));
        visibleCpu.push_back(handledCpuMs);
    }
    const int visiblePaints = paints[0]->Count() - visiblePaintsBefore;
    std::vector<double> hidden;
    for (int slot = 1; slot < static_cast<int>(kSlotCount); ++slot) {
        for (int i = 0; i < kMeasuredReplies; ++i) {
            hidden.push_back(handle(slot));
        }
    }
    bool full = true;
    for (int slot = 0; slot < static_cast<int>(kSlotCount); ++slot) {
        const CTChart& chart = host.PageDlg(slot).Chart();
        for (int k = 0; k < kChartSeriesCount; ++k) {
            full = full && chart.graph(k)->dataCount() == kFullPoints;
        }
    }
    const double rssFull = CurrentRssMb();

    QTabBar& bar = *host.Tabs().tabBar();
    std::vector<double> switches;
    int switchPaints = 0;
    for (int round = 0; round < (options.smoke ? 1 : 5); ++round) {
        for (const int slot : {1, 2, 3, 4, 5, 6, 7, 0}) {
            const int paintsBefore = paints[static_cast<std::size_t>(slot)]->Count();
            QElapsedTimer clock;
            clock.start();
            QTest::mouseClick(&bar, Qt::LeftButton, {}, bar.tabRect(slot).center());
            QCoreApplication::sendPostedEvents();
            switches.push_back(Ms(clock));
            switchPaints += paints[static_cast<std::size_t>(slot)]->Count() > paintsBefore;
        }
    }
    // The reply that restarts a full chart, hidden (page 1) and visible (page 0).
    const double restartHidden = handle(1);
    const double restartVisible = handle(0);

    const MedianAndWorst visibleSpread = MedianAndWorstOf(visible);
    const MedianAndWorst visibleCpuSpread = MedianAndWorstOf(visibleCpu);
    const MedianAndWorst hiddenSpread = MedianAndWorstOf(hidden);
    const MedianAndWorst switchSpread = MedianAndWorstOf(switches);
    Table fillTable("Whole fill: 8 pages x 12 channels, one reply each per " +
                        std::to_string(kIntervalMs) + " ms of bench time, the first shown",
                    {"figure", "measured", "target", "verdict"});
    fillTable.Row({"CPU over the whole fill (% of a core)", Fixed(fill.whole, 2), "<= 1",
                   Verdict(fill.whole <= 1.0)});
    fillTable.Row({"CPU, last minute before the restart (%)", Fixed(fill.lastMinute, 2), "<= 1.5",
                   Verdict(fill.lastMinute <= 1.5)});
    XServerRow(fillTable, fill.xServer);
    fillTable.Row({"shown chart painted in rounds",
                   std::to_string(fill.chartPaints) + " / " + std::to_string(fill.rounds), "", ""});
    fillTable.Row({"shown value list painted in rounds",
                   std::to_string(fill.listPaints) + " / " + std::to_string(fill.rounds), "", ""});

    Table table("Full charts: 8 pages x 6 series x " + std::to_string(kFullPoints) + " points",
                {"figure", "median", "worst", "target", "verdict"});
    table.Row({"switch to a page and paint it (ms)", Fixed(switchSpread.median, 2),
               Fixed(switchSpread.worst, 2), "<= 50", Verdict(switchSpread.worst <= 50)});
    table.Row({"one reply, hidden page (ms)", Fixed(hiddenSpread.median, 3),
               Fixed(hiddenSpread.worst, 3), "<= 0.5", Verdict(hiddenSpread.worst <= 0.5)});
    table.Row({"one reply, visible page, on screen (ms)", Fixed(visibleSpread.median, 2),
               Fixed(visibleSpread.worst, 2), "median <= 0.5",
               Verdict(visibleSpread.median <= 0.5)});
    table.Row({"  UI thread CPU time of it (ms)", Fixed(visibleCpuSpread.median, 3),
               Fixed(visibleCpuSpread.worst, 2), "", ""});
    table.Row({"restarting reply, hidden page (ms)", Fixed(restartHidden, 3), "", "", ""});
    table.Row({"restarting reply, visible page (ms)", Fixed(restartVisible, 2), "", "", ""});
    table.Row({"RSS with empty charts (MB)", Fixed(rssEmpty, 1), "", "", ""});
    table.Row({"RSS with full charts (MB)", Fixed(rssFull, 1), "", "", ""});
    table.Row({"peak RSS (MB)", Fixed(PeakRssMb(), 1), "", "<= 120", Verdict(PeakRssMb() <= 120)});
    table.Row({"visible replies that painted", std::to_string(visiblePaints), "", "", ""});
    table.Row({"page switches that painted",
               std::to_string(switchPaints) + " / " + std::to_string(switches.size()), "", "", ""});
    const bool correct = full && switchPaints == static_cast<int>(switches.size());
    return Summary("charts", correct,
                   "fill_cpu=" + Fixed(fill.whole, 2) + "%" + XServerFigure(fill.xServer) +
                       " last_minute_cpu=" + Fixed(fill.lastMinute, 2) +
                       "% switch=" + Fixed(switchSpread.worst, 2) +
                       "ms hidden_reply=" + Fixed(hiddenSpread.worst, 3) +
                       "ms visible_reply_median=" + Fixed(visibleSpread.median, 3) +
                       "ms visible_reply_cpu_median=" + Fixed(visibleCpuSpread.median, 3) +
                       "ms visible_reply=" + Fixed(visibleSpread.worst, 2) +
                       "ms rss_full=" + Fixed(rssFull, 1) + "MB");
}

// Eight terminals with the simulator's moving channels, polled every 200 ms in real time, while
// the shown page's chart fills from its first point to its restart (about ten minutes), or
// over the last --seconds of a fill: the pages are then fed the points before that first. The
// console's CPU over that span, the X server's beside it under X, and every terminal's polls
// counted from its chart's points.
int RunFill(const Options& options) {
    const int measured = options.seconds > 0
                             ? std::min(kFullPoints, options.seconds * 1000 / kIntervalMs)
                             : (options.smoke ? 20 : kFullPoints);
    const double latency = MeasureReplyLatencyMs(options.smoke ? 20 : 100);
    Console console;
    const quint16 port = console.StartListening(kIntervalMs);
    CDeviceTabDlg& host = console.Window().TabHost();
    const auto counter = [&](int slot) { return host.PageDlg(slot).Page().Chart().PointCounter(); };
    Children sims;
    const bool started = StartMovingFleet(console, port, kFullPoints - measured, sims);

    // Points each page gained; a chart's counter runs up to kFullPoints and then starts at 0.
    std::array<int, kSlotCount> last{};
    std::array<int, kSlotCount> gained{};
    for (int slot = 0; slot < static_cast<int>(kSlotCount); ++slot) {
        last[static_cast<std::size_t>(slot)] = counter(slot);
    }
    const int shownFrom = counter(0);
    const ProcessSample from = SampleProcess();
    bool restarted = false;
    QElapsedTimer clock;
    clock.start();
    const qint64 timeoutMs = qint64{measured} * kIntervalMs * 2 + 30000;
    while (started && !restarted && clock.elapsed() < timeoutMs) {
        // Once a second: the bench's own wake-ups count in the process's CPU time.
        RunFor(1000);
        for (int slot = 0; slot < static_cast<int>(kSlotCount); ++slot) {
            const int now = counter(slot);
            int& previous = last[static_cast<std::size_t>(slot)];
            restarted = restarted || (slot == 0 && now < previous);
            gained[static_cast<std::size_t>(slot)] +=
                (now - previous + kFullPoints + 1) % (kFullPoints + 1);
            previous = now;
        }
    }
    const ProcessSample to = SampleProcess();
    const double cpu = CpuPercent(from, to);
    const double xServerCpu = XServerCpuPercent(from, to);
    const double seconds = to.wallSeconds - from.wallSeconds;
    const double ideal = seconds * 1000.0 / (kIntervalMs + latency);
    const int fewest = *std::min_element(gained.begin(), gained.end());
    const double lowest = 100.0 * fewest / ideal;
    const int points = kFullPoints + 1 - shownFrom;

    Table table("Real-time fill: " + std::to_string(kFleet) + " terminals x 12 channels at " +
                    std::to_string(kIntervalMs) + " ms, the first page shown, its chart from " +
                    std::to_string(shownFrom) + " points to the restart",
                {"figure", "measured", "target", "verdict"});
    table.Row({"console CPU (% of one core)", Fixed(cpu, 2), "<= 1", Verdict(cpu <= 1)});
    XServerRow(table, xServerCpu);
    table.Row({"span (s)", Fixed(seconds, 1), "", ""});
    table.Row({"points of the shown chart", std::to_string(points), "", ""});
    table.Row({"lowest polls / ideal (%)", Fixed(lowest, 1), ">= 98", Verdict(lowest >= 98)});
    table.Row({"peak RSS (MB)", Fixed(PeakRssMb(), 1), "<= 120", Verdict(PeakRssMb() <= 120)});
    const bool correct = started && restarted && fewest > 0;
    return Summary("fill", correct,
                   "fill_cpu=" + Fixed(cpu, 2) + "%" + XServerFigure(xServerCpu) +
                       " points=" + std::to_string(points) + " span=" + Fixed(seconds, 1) +
                       "s polls=" + Fixed(lowest, 1) + "%");
}

namespace {

// A widget that fills itself with one colour, another at each repaint: Qt's repaint and flush of
// its area and nothing else. With content it also draws, with plain QPainter calls, what a
// reply's repaint shows of the trend chart's lines and the value list: six one-pixel lines of
// four points per pixel column (a full chart's columns: first, lowest, highest and last) and
// eleven cell texts in the list's font. Two pictures of them, made beforehand so that only the
// drawing counts, alternate from repaint to repaint.
class BareSurface final : public QWidget {
  public:
    BareSurface(QWidget* parent, std::optional<QFont> cellFont)
        : QWidget(parent), cellFont_(std::move(cellFont)) {}

  protected:
    void resizeEvent(QResizeEvent*) override {
        if (!cellFont_) {
            return;
        }
        constexpr int kLines = 6;
        constexpr std::size_t kCells = 11;
        const qsizetype columns = width();
        const double middle = height() / 2.0;
        for (std::size_t picture = 0; picture < pictures_.size(); ++picture) {
            Picture& made = pictures_.at(picture);
            made.lines.assign(kLines, QPolygonF(4 * columns));
            made.texts.clear();
            for (int k = 0; k < kLines; ++k) {
                QPolygonF& line = made.lines[static_cast<std::size_t>(k)];
                for (qsizetype x = 0; x < columns; ++x) {
                    const auto at = static_cast<double>(x);
                    const double y =
                        middle + middle * 0.8 * std::sin((at + 3.0 * picture + 40.0 * k) * 0.02);
                    line[4 * x] = QPointF(at, y);
                    line[4 * x + 1] = QPointF(at, y - 3);
                    line[4 * x + 2] = QPointF(at, y + 3);
                    line[4 * x + 3] = QPointF(at, y + 1);
                }
            }
            for (std::size_t cell = 0; cell < kCells; ++cell) {
                made.texts.append(
                    QString::number(((picture * 37 + cell * 101) % 5000) / 1000.0, 'f', 3) +
                    QLatin1Char('V'));
            }
        }
    }

    void paintEvent(QPaintEvent*) override {
        light_ = !light_;
        QPainter painter(this);
        painter.fillRect(rect(), light_ ? QColor(Qt::white) : QColor(250, 250, 250));
        if (!cellFont_) {
            return;
        }
        const Picture& picture = pictures_.at(light_ ? 1 : 0);
        for (std::size_t k = 0; k < picture.lines.size(); ++k) {
            painter.setPen(QPen(ChartLineColour(static_cast<int>(k)), 0));
            painter.drawPolyline(picture.lines[k]);
        }
        painter.setFont(*cellFont_);
        painter.setPen(Qt::black);
        const int cellHeight = QFontMetrics(*cellFont_).height() + 6;
        for (int cell = 0; cell < picture.texts.size(); ++cell) {
            painter.drawText(QRect(0, cell * cellHeight, 119, cellHeight), Qt::AlignCenter,
                             picture.texts.at(cell));
        }
    }

  private:
    struct Picture {
        std::vector<QPolygonF> lines;
        QStringList texts;
    };
    std::optional<QFont> cellFont_;
    std::array<Picture, 2> pictures_;
    bool light_ = false;
};

// The process's CPU share over seconds while a top-level window of the console window's size
// holds a bare surface of the chart's size, woken every poll interval and repainted if repaint.
double BareWindowShare(QSize windowSize, QSize chartSize, int seconds, bool repaint,
                       std::optional<QFont> cellFont = std::nullopt) {
    QWidget window;
    window.resize(windowSize);
    BareSurface surface(&window, std::move(cellFont));
    surface.setGeometry(QRect(QPoint(20, window.height() / 2), chartSize));
    surface.setAttribute(Qt::WA_OpaquePaintEvent);
    window.show();
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, &surface, [&] {
        if (repaint) {
            surface.update();
        }
    });
    tick.start(kIntervalMs);
    RunFor(2000);
    const ProcessSample from = SampleProcess();
    RunFor(seconds * 1000);
    return CpuPercent(from, SampleProcess());
}

}  // namespace

// Where a 1 % budget for eight terminals at 200 ms with one page shown goes on this display:
// a bare window woken at the poll interval, the same window repainting a chart-sized surface
// each time (Qt's paint and flush path alone), and the console polling a fill of moving
// channels with its window hidden and shown, in windows alternating so that a drift in the
// machine's load falls on both. What the budget leaves the shown page's drawing follows.
int RunFloor(const Options& options) {
    const int seconds = options.seconds > 0 ? options.seconds : (options.smoke ? 2 : 30);
    const int rounds = options.smoke ? 1 : 3;
    // The console's own window and chart give the sizes, and it waits hidden and not listening.
    Console console;
    const QSize windowSize = console.Window().size();
    const QSize chartSize = console.Window().TabHost().PageDlg(0).Chart().size();
    const QFont cellFont = console.Window().TabHost().PageDlg(0).ValueList().font();
    console.Window().hide();
    const double wakeups = BareWindowShare(windowSize, chartSize, seconds, false);
    const double repaints = BareWindowShare(windowSize, chartSize, seconds, true);
    const double plain = BareWindowShare(windowSize, chartSize, seconds, true, cellFont);
    console.Window().show();
    const quint16 port = console.StartListening(kIntervalMs);
    // Two windows a round at about seconds / kIntervalMs points each, ending short of the
    // restart, where a chart holds the most points.
    const int points = (2 * rounds + 1) * seconds * 1000 / kIntervalMs + 100;
    Children sims;
    const bool started = StartMovingFleet(console, port, std::max(1, kFullPoints - points), sims);
    StallMeter stall;
    const Alternation shares = AlternateWindows(stall, seconds, rounds, [&](bool shown) {
        console.Window().setVisible(shown);
        RunFor(1000);
    });
    const double drawing = shares.with.cpu - shares.without.cpu;
    const double left = 1.0 - shares.without.cpu - (repaints - wakeups);
    // A share of one core at five replies a second, as milliseconds per reply.
    const double msPerReply = 1000.0 / 100.0 / (1000.0 / kIntervalMs);

    Table table("Where a 1 % budget goes: " + std::to_string(kFleet) + " terminals at " +
                    std::to_string(kIntervalMs) + " ms, windows of " + std::to_string(seconds) +
                    " s",
                {"figure", "measured", "target", "verdict"});
    table.Row({"bare window woken every interval (% of one core)", Fixed(wakeups, 2), "", ""});
    table.Row({"  and repainting a chart-sized surface each time", Fixed(repaints, 2), "", ""});
    table.Row({"  and drawing six lines and eleven texts on it, plain QPainter", Fixed(plain, 2),
               "", ""});
    table.Row({"console polling, window hidden", Fixed(shares.without.cpu, 2), "", ""});
    table.Row({"console polling, first page shown", Fixed(shares.with.cpu, 2), "<= 1",
               Verdict(shares.with.cpu <= 1)});
    table.Row({"the shown page's drawing (shown - hidden)", Fixed(drawing, 2), "", ""});
    table.Row({"  per reply (ms of CPU)", Fixed(drawing * msPerReply, 2), "", ""});
    table.Row({"left for it: 1 - hidden - bare repaints", Fixed(left, 2), "", ""});
    table.Row({"  per reply (ms of CPU)", Fixed(left * msPerReply, 2), "", ""});
    return Summary("floor", started,
                   "wakeups=" + Fixed(wakeups, 2) + "% repaints=" + Fixed(repaints, 2) +
                       "% plain=" + Fixed(plain, 2) + "% hidden=" + Fixed(shares.without.cpu, 2) +
                       "% shown=" + Fixed(shares.with.cpu, 2) + "% drawing=" + Fixed(drawing, 2) +
                       "% left=" + Fixed(left, 2) + "%");
}

}  // namespace corvelle::bench
