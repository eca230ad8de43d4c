#pragma once

// The rig of the service benchmarks: corvelled as a child process recording into a folder of
// its own, watched from outside through /proc, with simulated terminals as further children.
// Polls are counted from the service's recording: one row per accepted reply.

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <set>
#include <string>
#include <vector>

#include "bench/console/harness.h"

namespace corvelle::bench {

// CPU time of another process, from /proc/<pid>/stat.
struct ChildSample {
    double cpuSeconds = 0;
    double wallSeconds = 0;
};
ChildSample SampleChild(qint64 pid);
double ChildCpuPercent(const ChildSample& from, const ChildSample& to);
// A "Vm..." line of /proc/<pid>/status (VmRSS, VmHWM), in MB.
double StatusMb(qint64 pid, const char* field);
int ChildDescriptors(qint64 pid);

// corvelled on a free port, its log read as it comes.
class ServiceProcess {
  public:
    // Starts it with these options besides the port (0: a free one), and waits until it
    // listens.
    explicit ServiceProcess(const QStringList& options, quint16 port = 0);
    ~ServiceProcess();
    ServiceProcess(const ServiceProcess&) = delete;
    ServiceProcess& operator=(const ServiceProcess&) = delete;

    bool Listening() const { return listening_; }
    bool Running() const { return process_.state() == QProcess::Running; }
    quint16 Port() const { return port_; }
    qint64 Pid() const { return process_.processId(); }
    // Names the log reports as identified.
    const std::set<QString>& Identified() const { return identified_; }
    // SIGTERM; the exit code when it ended within timeoutMs, else -1.
    int Stop(int timeoutMs);
    // The log's last lines, to show why something went wrong.
    QString LogTail(int lines) const;
    // Lines logged so far.
    qsizetype LogLines() {
        ReadLog();
        return log_.count('\n');
    }

  private:
    void ReadLog();

    QProcess process_;
    QByteArray log_;
    std::set<QString> identified_;
    quint16 port_ = 0;
    bool listening_ = false;
};

// Terminal k: name "T<k>" and every channel at a constant 100 * k mV. Each terminal has a
// process of its own, since a process's terminals all share its wave options.
QString TerminalName(int k);
QString TerminalVolts(int k);
// Terminals first .. first + count - 1, each a process of its own, connecting to port.
void StartTerminals(Children& children, quint16 port, int first, int count);
bool AllIdentified(const ServiceProcess& service, int first, int count);

// What every scenario starts with: a terminal's reply latency measured, the service recording
// into a temporary folder, and count terminals started and identified.
struct ServiceRun {
    ServiceRun(int count, int intervalMs, const QStringList& options, int latencySamples);
    int count;
    int intervalMs;
    double latency;
    QTemporaryDir folder;
    ServiceProcess service;
    Children children;
    bool started;
};

// A window of the service's life: CPU and the recording's time column at its start.
struct Window {
    ChildSample start;
    QString from;
};
Window OpenWindow(const ServiceRun& run);

// The service's figures over a window, its polls counted from the recording once it stopped.
struct WindowResult {
    double seconds = 0;
    double cpu = 0;
    double rssMb = 0;
    double peakRssMb = 0;
    int descriptors = 0;
    // Rows per terminal within the window, and the ideal count.
    std::vector<int> polls;
    double ideal = 0;
    // Rows with another terminal's values, or in a folder of no terminal.
    int foreign = 0;
    int exitCode = -1;
};
// Takes the figures, stops the service and reads its recording.
WindowResult CloseWindow(ServiceRun& run, const Window& window);

// Prints the polls per terminal (the lowest ones when there are many); returns the lowest share
// of the ideal in percent.
double ReportPolls(const ServiceRun& run, const WindowResult& result);
// The same for any count of terminals, under its own title: polls[k - 1] is terminal k's.
double ReportPolls(const std::string& title, const std::vector<int>& polls, double seconds,
                   double ideal, int intervalMs, double latency);

// Whether the service behaved: it identified every terminal, polled each, recorded no reading
// in another terminal's file and stopped in order.
bool Behaved(const ServiceRun& run, const WindowResult& result);

}  // namespace corvelle::bench
