#pragma once

// What the console and the service benchmarks share: the command line, waits on the event
// loop, child processes (simulated terminals, misbehaving peers), the reply latency of a
// terminal, the recording files, and the printed tables.

#include <QElapsedTimer>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace corvelle::bench {

// Command line shared by every scenario.
struct Options {
    bool smoke = false;
    // Overrides of the scenario's own length and crowd size; 0 keeps the default.
    int seconds = 0;
    int crowd = 0;
};

using Scenarios = std::map<std::string, std::function<int(const Options&)>>;
// Runs the scenario the command line names with its options; usage on standard error and 2 when
// it names none of them.
int RunScenario(int argc, char** argv, const char* program, const Scenarios& scenarios);

// A TCP port nobody listens on at the moment.
quint16 FreePort();
// Raises the soft descriptor limit to the hard one.
void RaiseDescriptorLimit();

// Runs the event loop until done() holds or timeoutMs passes; checks every 2 ms.
bool RunUntil(const std::function<bool()>& done, int timeoutMs);
void RunFor(int ms);

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
    // The MQTT subscriber helper, likewise driven by commands (see bench_subscriber).
    QProcess& StartSubscriber(quint16 port, const QString& clientId, const QString& filter);
    // The delaying proxy in front of targetPort, likewise (see bench_delay_proxy).
    QProcess& StartDelayProxy(quint16 targetPort, int delayMs);
    void StopAll();

  private:
    QProcess& StartHelper(const QString& program, const QStringList& arguments);

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

// The reading rows of one terminal in a recording: every day file of DIR/<folder>.
struct RecordedRows {
    // Rows whose time lies within the bounds.
    int inWindow = 0;
    // Rows, whatever their time, with a channel other than the terminal's own value.
    int foreign = 0;
};
// The folder of a terminal with an ASCII name in a recording folder.
QString RecordingFolderOf(const QString& asciiName);
// channelText: every AD column as the files write it ("1.111"). from and to bound the rows'
// time column ("yyyy-MM-dd HH:mm:ss.zzz", as the files write it), empty for no bound.
RecordedRows ReadRecordedRows(const QString& folder, const QString& channelText,
                              const QString& from = {}, const QString& to = {});
// The local time now as the recording's time column writes it.
QString RecordingTimeNow();

// A plain text table, printed as it grows.
class Table {
  public:
    Table(const std::string& title, const std::vector<std::string>& headings);
    void Row(const std::vector<std::string>& cells);

  private:
    std::vector<std::size_t> widths_;
};

std::string Fixed(double value, int decimals);
// Milliseconds since clock started.
double Ms(const QElapsedTimer& clock);
// The median and the worst of some times.
struct MedianAndWorst {
    double median = 0;
    double worst = 0;
};
MedianAndWorst MedianAndWorstOf(std::vector<double> values);
// "met" or "MISSED", for a figure against its target.
std::string Verdict(bool met);
// The last line of every scenario; returns the exit code (0 when correctness held).
int Summary(const std::string& scenario, bool correct, const std::string& figures);
// The figures of the last Summary printed.
const std::string& LastSummaryFigures();

}  // namespace corvelle::bench
