#pragma once

// The test rig of the console benchmarks: the real console in this process, started the way an
// operator starts it, simulated terminals and misbehaving peers in child processes, and the
// meters that watch the console from inside its own event loop.

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/main_dlg.h"
#include "device/slot_tables.h"

namespace corvelle::bench {

// Command line shared by every scenario.
struct Options {
    bool smoke = false;
    // Overrides of the scenario's own length and crowd size; 0 keeps the default.
    int seconds = 0;
    int crowd = 0;
};

// CPU time and memory of this process.
struct ProcessSample {
    double cpuSeconds = 0;
    double wallSeconds = 0;
};
ProcessSample SampleProcess();
double CpuPercent(const ProcessSample& from, const ProcessSample& to);
double CurrentRssMb();
double PeakRssMb();
// Bytes the allocator has handed out and not got back.
double HeapInUseMb();
int OpenDescriptors();
// Raises the soft descriptor limit to the hard one.
void RaiseDescriptorLimit();
// Sets the soft descriptor limit; returns the previous one.
std::uint64_t SetDescriptorLimit(std::uint64_t soft);

// Runs the event loop until done() holds or timeoutMs passes; checks every 2 ms.
bool RunUntil(const std::function<bool()>& done, int timeoutMs);
void RunFor(int ms);

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

// Child processes, ended together when the object goes.
class Children {
  public:
    ~Children();
    Children() = default;
    Children(const Children&) = delete;
    Children& operator=(const Children&) = delete;

    // A simulated terminal process with output discarded.
    QProcess& StartSim(const QStringList& arguments);
    // The misbehaving-peer helper; it reads commands from its input, one per line.
    QProcess& StartPeers(quint16 port);
    void StopAll();

  private:
    std::vector<std::unique_ptr<QProcess>> processes_;
};

QString SimPath();

// One line of the peer helper's answers, waited for by its first word.
std::optional<QString> PeerCommand(QProcess& peers, const QString& command, int timeoutMs);
// The value of "key=value" in a helper's answer, or -1.
double PeerField(const QString& line, const QString& key);

// The reply latency of a simulated terminal alone: a plain socket plays the console and times
// poll requests. Median, in milliseconds.
double MeasureReplyLatencyMs(int samples);

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
    PageWatch(Console& console, std::map<QByteArray, QString> expected);
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

// A plain text table, printed as it grows.
class Table {
  public:
    Table(const std::string& title, const std::vector<std::string>& headings);
    void Row(const std::vector<std::string>& cells);

  private:
    std::vector<std::size_t> widths_;
};

std::string Fixed(double value, int decimals);
// "met" or "MISSED", for a figure against its target.
std::string Verdict(bool met);
// The last line of every scenario; returns the exit code (0 when correctness held).
int Summary(const std::string& scenario, bool correct, const std::string& figures);

}  // namespace corvelle::bench
