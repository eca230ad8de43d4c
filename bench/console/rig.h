#pragma once

// The test rig of the console benchmarks: the real console in this process, started the way an
// operator starts it, simulated terminals and misbehaving peers in child processes, and the
// meters that watch the console from inside its own event loop.

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "app/main_dlg.h"
#include "bench/console/harness.h"
#include "device/slot_tables.h"

namespace corvelle::bench {

// CPU time and memory of this process, and under X the X server's CPU time beside it.
struct ProcessSample {
    double cpuSeconds = 0;
    double wallSeconds = 0;
    double xServerCpuSeconds = 0;
};
ProcessSample SampleProcess();
double CpuPercent(const ProcessSample& from, const ProcessSample& to);
double XServerCpuPercent(const ProcessSample& from, const ProcessSample& to);
// Under X, a row and a summary figure (" x_server_cpu=N%") of the X server's CPU beside the
// console's, not counted in it; nothing offscreen.
void XServerRow(Table& table, double percent);
std::string XServerFigure(double percent);
// CPU time of the calling thread.
qint64 ThreadCpuNs();
double CurrentRssMb();
double PeakRssMb();
// Bytes the allocator has handed out and not got back.
double HeapInUseMb();
int OpenDescriptors();
// Sets the soft descriptor limit; returns the previous one.
std::uint64_t SetDescriptorLimit(std::uint64_t soft);

// How late a precise heartbeat fires: the longest time the event loop was busy elsewhere or
// the process was not running. Its own wake-ups cost CPU time, so CPU is measured while it is
// stopped.
class StallMeter {
  public:
    static constexpr int kPeriodMs = 5;
    StallMeter();
    // Starts afresh: the largest lateness so far is forgotten.
    void Start();
    void Stop();
    double MaxMs() const { return maxLateNs_ / 1e6; }
    // CPU time the UI thread used during the largest lateness: close to MaxMs() when the
    // console itself was busy, close to 0 when the machine gave the time to others.
    double BusyAtMaxMs() const { return busyAtMaxNs_ / 1e6; }

  private:
    QTimer timer_;
    QElapsedTimer clock_;
    qint64 lastNs_ = 0;
    qint64 lastCpuNs_ = 0;
    qint64 maxLateNs_ = 0;
    qint64 busyAtMaxNs_ = 0;
};

// A window of the console's life: the largest stall over its first half with the heartbeat
// running, CPU over the second without it.
struct WindowFigures {
    double cpu = 0;
    double stall = 0;
    double stallBusy = 0;
};
WindowFigures MeasureWindow(StallMeter& stall, int seconds);
// Windows alternating between an activity off and on (set(false), set(true)), rounds pairs of
// them, so that a drift in the machine's load falls on both: CPU averaged, the largest stalls.
struct Alternation {
    WindowFigures without;
    WindowFigures with;
};
Alternation AlternateWindows(StallMeter& stall, int seconds, int rounds,
                             const std::function<void(bool on)>& set);
// The rows comparing a window without an activity ("recording") and one with it: CPU in each,
// what the activity added against addedTarget (% of one core), and the largest stalls.
void ComparisonRows(Table& table, const std::string& activity, const WindowFigures& without,
                    const WindowFigures& with, double addedTarget);

// A 12-channel poll reply (function 04, 18 registers) with channels moving with tick.
std::vector<std::uint8_t> PollReplyFrame(int tick);

// Terminal k of a steady fleet: ASCII name "Bk" and all twelve channels at a constant
// 1111 * k mV, so that every page shows a value that belongs to one terminal only.
QByteArray FleetName(int k);
QString FleetChannelText(int k);
QStringList FleetArguments(int k, quint16 port);

// The console window as an operator drives it.
class Console {
  public:
    Console();
    CMainDlg& Window() { return window_; }
    SlotTables& Tables() { return window_.Tables(); }
    DeviceTabHost& Host() { return window_.TabHost().Host(); }
    // Types a free port and the interval and presses "设置"; returns the port.
    quint16 Prepare(int intervalMs);
    // Prepare, then the listen button.
    quint16 StartListening(int intervalMs);
    // Presses the listen button again.
    void ToggleListening();
    bool Listening() { return Host().IsListening(); }
    int SlotOf(const QByteArray& name);

  private:
    CMainDlg window_;
    quint16 port_ = 0;
};

// Watches every page's value list: counts accepted replies (the signal register moves with
// every read) and catches a channel value that belongs to another terminal.
class PageWatch {
  public:
    // expected: channel text by device name; pages of other names are only counted.
    PageWatch(Console& console, const std::map<QByteArray, QString>& expected);
    int Replies(int slot) const { return replies_.at(static_cast<std::size_t>(slot)); }
    std::array<int, kSlotCount> AllReplies() const { return replies_; }
    int Misrouted() const { return misrouted_; }

  private:
    std::array<int, kSlotCount> replies_{};
    int misrouted_ = 0;
};

// The fleet's expected channel texts, and its terminals started as separate processes
// (extra arguments appended). Waits until every one is polled; false after timeoutMs.
std::map<QByteArray, QString> FleetExpectations(int count);
bool StartFleet(Children& children, Console& console, const PageWatch& watch, quint16 port,
                int count, const QStringList& extra, int timeoutMs);

// The start most scenarios share: a terminal's reply latency measured, the console listening
// at intervalMs with every page watched, and a fleet of count terminals started and polled.
struct FleetRun {
    FleetRun(int count, int intervalMs, int latencySamples);
    double latency;
    Console console;
    StallMeter stall;
    quint16 port;
    PageWatch watch;
    Children children;
    bool started;
};

// The poll rate of a steady fleet: ideal = seconds / (interval + reply latency).
struct PollWindow {
    std::array<int, kSlotCount> before{};
    ProcessSample start;
    double intervalMs = 200;
    double latencyMs = 0;
};
PollWindow OpenPollWindow(const PageWatch& watch, double intervalMs, double latencyMs);
// One row per fleet terminal under the heading what; returns the lowest share of the ideal in
// percent (0 when a terminal has no slot).
double ReportPolls(Console& console, const PageWatch& watch, const PollWindow& window, int count,
                   const std::string& what);

// A window of ms with the heartbeat running: the largest stall, and the lowest polls / ideal of
// the fleet's count terminals, reported under what.
struct WatchedWindow {
    double stall = 0;
    double stallBusy = 0;
    double lowestPolls = 0;
};
WatchedWindow WatchWindow(FleetRun& run, int count, int intervalMs, int ms,
                          const std::string& what);

}  // namespace corvelle::bench
