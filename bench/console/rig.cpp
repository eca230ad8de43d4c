#include "bench/console/rig.h"

#include <malloc.h>
#include <sys/resource.h>
#include <time.h>
#include <unistd.h>

#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <numbers>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "bench/console/x_server.h"
#include "device/ui/device_page_dlg.h"
#include "protocol/modbus_ascii.h"

namespace corvelle::bench {
namespace {

double Seconds(const timeval& t) {
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
}

template <typename Widget>
Widget& Control(QWidget& window, const char* name) {
    auto* widget = window.findChild<Widget*>(QString::fromLatin1(name));
    if (widget == nullptr) {
        std::fprintf(stderr, "control %s not found\n", name);
        std::abort();
    }
    return *widget;
}

}  // namespace

qint64 ThreadCpuNs() {
    // The scheduler's own count, to the nanosecond; getrusage may advance in whole ticks.
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return qint64{now.tv_sec} * 1000000000 + now.tv_nsec;
}

ProcessSample SampleProcess() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const auto now = std::chrono::steady_clock::now().time_since_epoch();
    return {Seconds(usage.ru_utime) + Seconds(usage.ru_stime),
            std::chrono::duration<double>(now).count(), XServerCpuSeconds()};
}

double CpuPercent(const ProcessSample& from, const ProcessSample& to) {
    const double wall = to.wallSeconds - from.wallSeconds;
    return wall > 0 ? 100.0 * (to.cpuSeconds - from.cpuSeconds) / wall : 0.0;
}

double XServerCpuPercent(const ProcessSample& from, const ProcessSample& to) {
    const double wall = to.wallSeconds - from.wallSeconds;
    return wall > 0 ? 100.0 * (to.xServerCpuSeconds - from.xServerCpuSeconds) / wall : 0.0;
}

void XServerRow(Table& table, double percent) {
    if (RunningOnX()) {
        table.Row({"X server CPU, not counted above (% of one core)", Fixed(percent, 2)});
    }
}

std::string XServerFigure(double percent) {
    return RunningOnX() ? " x_server_cpu=" + Fixed(percent, 2) + "%" : std::string();
}

double CurrentRssMb() {
    std::ifstream statm("/proc/self/statm");
    long pages = 0;
    long resident = 0;
    statm >> pages >> resident;
    return static_cast<double>(resident) * static_cast<double>(sysconf(_SC_PAGESIZE)) / 1048576.0;
}

double PeakRssMb() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    // The kernel's high-water mark trails the current size by a little.
    return std::max(static_cast<double>(usage.ru_maxrss) / 1024.0, CurrentRssMb());
}

double HeapInUseMb() {
    const struct mallinfo2 info = mallinfo2();
    return static_cast<double>(info.uordblks + info.hblkhd) / 1048576.0;
}

int OpenDescriptors() {
    std::error_code error;
    const auto entries = std::filesystem::directory_iterator("/proc/self/fd", error);
    // The iterator holds one descriptor of its own.
    return static_cast<int>(std::distance(begin(entries), end(entries))) - 1;
}

std::uint64_t SetDescriptorLimit(std::uint64_t soft) {
    rlimit limit{};
    getrlimit(RLIMIT_NOFILE, &limit);
    const std::uint64_t previous = limit.rlim_cur;
    limit.rlim_cur = std::min<rlim_t>(soft, limit.rlim_max);
    setrlimit(RLIMIT_NOFILE, &limit);
    return previous;
}

StallMeter::StallMeter() {
    timer_.setTimerType(Qt::PreciseTimer);
    QObject::connect(&timer_, &QTimer::timeout, &timer_, [this] {
        const qint64 now = clock_.nsecsElapsed();
        const qint64 cpu = ThreadCpuNs();
        const qint64 late = now - lastNs_ - qint64{kPeriodMs} * 1000000;
        if (late > maxLateNs_) {
            maxLateNs_ = late;
            busyAtMaxNs_ = cpu - lastCpuNs_;
        }
        lastNs_ = now;
        lastCpuNs_ = cpu;
    });
    clock_.start();
}

void StallMeter::Start() {
    lastNs_ = clock_.nsecsElapsed();
    lastCpuNs_ = ThreadCpuNs();
    maxLateNs_ = 0;
    busyAtMaxNs_ = 0;
    timer_.start(kPeriodMs);
}

void StallMeter::Stop() {
    timer_.stop();
}

WindowFigures MeasureWindow(StallMeter& stall, int seconds) {
    const int halfMs = seconds * 500;
    stall.Start();
    RunFor(halfMs);
    stall.Stop();
    const ProcessSample quiet = SampleProcess();
    RunFor(halfMs);
    return {CpuPercent(quiet, SampleProcess()), stall.MaxMs(), stall.BusyAtMaxMs()};
}

Alternation AlternateWindows(StallMeter& stall, int seconds, int rounds,
                             const std::function<void(bool on)>& set) {
    Alternation figures;
    for (int round = 0; round < rounds; ++round) {
        for (const bool on : {false, true}) {
            set(on);
            const WindowFigures window = MeasureWindow(stall, seconds);
            WindowFigures& figure = on ? figures.with : figures.without;
            figure.cpu += window.cpu / rounds;
            if (window.stall > figure.stall) {
                figure.stall = window.stall;
                figure.stallBusy = window.stallBusy;
            }
        }
    }
    return figures;
}

void ComparisonRows(Table& table, const std::string& activity, const WindowFigures& without,
                    const WindowFigures& with, double addedTarget) {
    const double added = with.cpu - without.cpu;
    table.Row({"console CPU, not " + activity + " (% of one core)", Fixed(without.cpu, 2), "", ""});
    table.Row({"console CPU, " + activity + " (% of one core)", Fixed(with.cpu, 2), "", ""});
    table.Row({"added by " + activity + " (% of one core)", Fixed(added, 2),
               "<= " + Fixed(addedTarget, 1), Verdict(added <= addedTarget)});
    table.Row({"largest stall without " + activity + " (ms)", Fixed(without.stall, 2), "<= 50",
               Verdict(without.stall <= 50)});
    table.Row({"largest stall with " + activity + " (ms)", Fixed(with.stall, 2), "<= 50",
               Verdict(with.stall <= 50)});
    table.Row({"  UI thread CPU time in that gap (ms)", Fixed(with.stallBusy, 2), "", ""});
}

std::vector<std::uint8_t> PollReplyFrame(int tick) {
    std::vector<std::uint8_t> bytes = {kSlaveAddress, kReadInputRegisters, 36};
    const auto put = [&](int value) {
        bytes.push_back(static_cast<std::uint8_t>((value >> 8) & 0xFF));
        bytes.push_back(static_cast<std::uint8_t>(value & 0xFF));
    };
    for (const int value : {tick & 0x7FFF, 0, 0, 2500, 2500, 1205}) {
        put(value);
    }
    for (int k = 0; k < 12; ++k) {
        put(static_cast<int>(2500 + 2000 * std::sin(2 * std::numbers::pi * tick / 300.0 + k)));
    }
    const std::string text = EncodeAsciiFrame(bytes);
    return {text.begin(), text.end()};
}

QByteArray FleetName(int k) {
    return "B" + QByteArray::number(k);
}

QString FleetChannelText(int k) {
    return QStringLiteral("%1V").arg(1.111 * k, 0, 'f', 3);
}

QStringList FleetArguments(int k, quint16 port) {
    return {QStringLiteral("--port"),     QString::number(port),
            QStringLiteral("--name"),     QString::fromLatin1(FleetName(k)),
            QStringLiteral("--wave"),     QStringLiteral("all:const:%1").arg(1111 * k),
            QStringLiteral("--retry-ms"), QStringLiteral("200")};
}

Console::Console() {
    window_.show();
    if (!QTest::qWaitForWindowExposed(&window_)) {
        std::fprintf(stderr, "the console window was never exposed\n");
    }
}

quint16 Console::Prepare(int intervalMs) {
    port_ = FreePort();
    auto& portEdit = Control<QLineEdit>(window_, "ctl1005");
    portEdit.selectAll();
    QTest::keyClicks(&portEdit, QString::number(port_));
    // Typed digit by digit the interval would be clamped at each step; pasted it changes once.
    Control<QLineEdit>(window_, "ctl1007").setText(QString::number(intervalMs));
    QTest::mouseClick(&Control<QPushButton>(window_, "button1009"), Qt::LeftButton);
    return port_;
}

quint16 Console::StartListening(int intervalMs) {
    Prepare(intervalMs);
    ToggleListening();
    return port_;
}

void Console::ToggleListening() {
    QTest::mouseClick(&Control<QPushButton>(window_, "button1006"), Qt::LeftButton);
}

int Console::SlotOf(const QByteArray& name) {
    const std::vector<std::uint8_t> wire(name.begin(), name.end());
    for (std::size_t slot = 0; slot < kSlotCount; ++slot) {
        if (Tables().deviceNames[slot] == wire) {
            return static_cast<int>(slot);
        }
    }
    return -1;
}

PageWatch::PageWatch(Console& console, const std::map<QByteArray, QString>& expected) {
    // As the rows carry them, so that checking a row converts nothing in the measured process.
    auto shared = std::make_shared<std::map<QByteArray, std::string>>();
    for (const auto& [name, value] : expected) {
        shared->emplace(name, value.toStdString());
    }
    for (int slot = 0; slot < static_cast<int>(kSlotCount); ++slot) {
        CDevicePageDlg& page = console.Window().TabHost().PageDlg(slot);
        // The rows as last set, read without making a hidden page write them into its list:
        // like itemChanged, only a value whose text changed counts.
        auto seen = std::make_shared<std::vector<std::string>>();
        QObject::connect(
            &page, &CDevicePageDlg::valueRowsSet, &page,
            [this, &console, shared, seen, slot](std::span<const ValueRow> rows) {
                const auto& name = console.Tables().deviceNames[static_cast<std::size_t>(slot)];
                const auto it = shared->find(QByteArray(reinterpret_cast<const char*>(name.data()),
                                                        static_cast<qsizetype>(name.size())));
                seen->resize(std::max(seen->size(), rows.size()));
                for (std::size_t row = 0; row < rows.size(); ++row) {
                    const ValueRow& shown = rows[row];
                    if (shown.value.empty() || shown.value == (*seen)[row]) {
                        continue;
                    }
                    (*seen)[row] = shown.value;
                    if (shown.label == "信号") {
                        ++replies_[static_cast<std::size_t>(slot)];
                    } else if (shown.label.starts_with("AD") && it != shared->end() &&
                               shown.value != it->second) {
                        ++misrouted_;
                    }
                }
            });
    }
}

std::map<QByteArray, QString> FleetExpectations(int count) {
    std::map<QByteArray, QString> expected;
    for (int k = 1; k <= count; ++k) {
        expected[FleetName(k)] = FleetChannelText(k);
    }
    return expected;
}

bool StartFleet(Children& children, Console& console, const PageWatch& watch, quint16 port,
                int count, const QStringList& extra, int timeoutMs) {
    for (int k = 1; k <= count; ++k) {
        children.StartSim(FleetArguments(k, port) + extra);
    }
    return RunUntil(
        [&] {
            for (int k = 1; k <= count; ++k) {
                const int slot = console.SlotOf(FleetName(k));
                if (slot < 0 || watch.Replies(slot) == 0) {
                    return false;
                }
            }
            return true;
        },
        timeoutMs);
}

PollWindow OpenPollWindow(const PageWatch& watch, double intervalMs, double latencyMs) {
    return {watch.AllReplies(), SampleProcess(), intervalMs, latencyMs};
}

double ReportPolls(Console& console, const PageWatch& watch, const PollWindow& window, int count,
                   const std::string& what) {
    const double seconds = SampleProcess().wallSeconds - window.start.wallSeconds;
    const double ideal = seconds * 1000.0 / (window.intervalMs + window.latencyMs);
    Table table("Polls per terminal, " + what + " (ideal = " + Fixed(seconds, 1) + " s / (" +
                    Fixed(window.intervalMs, 0) + " ms + " + Fixed(window.latencyMs, 2) +
                    " ms reply latency))",
                {"terminal", "slot", "polls", "ideal", "share"});
    double lowest = 1e9;
    for (int k = 1; k <= count; ++k) {
        const int slot = console.SlotOf(FleetName(k));
        const int polls =
            slot < 0 ? 0 : watch.Replies(slot) - window.before.at(static_cast<std::size_t>(slot));
        const double share = 100.0 * polls / ideal;
        lowest = std::min(lowest, share);
        table.Row({FleetName(k).toStdString(), std::to_string(slot + 1), std::to_string(polls),
                   Fixed(ideal, 1), Fixed(share, 1) + " %"});
    }
    return lowest;
}

FleetRun::FleetRun(int count, int intervalMs, int latencySamples)
    : latency(MeasureReplyLatencyMs(latencySamples)),
      port(console.StartListening(intervalMs)),
      watch(console, FleetExpectations(count)),
      started(StartFleet(children, console, watch, port, count, {}, 20000)) {}

WatchedWindow WatchWindow(FleetRun& run, int count, int intervalMs, int ms,
                          const std::string& what) {
    const PollWindow window = OpenPollWindow(run.watch, intervalMs, run.latency);
    run.stall.Start();
    RunFor(ms);
    run.stall.Stop();
    return {run.stall.MaxMs(), run.stall.BusyAtMaxMs(),
            ReportPolls(run.console, run.watch, window, count, what)};
}

}  // namespace corvelle::bench
