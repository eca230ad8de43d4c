#include "bench/service/service_rig.h"

#include <unistd.h>

#include <QDir>
#include <QRegularExpression>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <numeric>
#include <sstream>

namespace corvelle::bench {
namespace {

std::string ProcPath(qint64 pid, const char* entry) {
    return "/proc/" + std::to_string(pid) + "/" + entry;
}

double NowSeconds() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

}  // namespace

ChildSample SampleChild(qint64 pid) {
    std::ifstream stat(ProcPath(pid, "stat"));
    const std::string text((std::istreambuf_iterator<char>(stat)),
                           std::istreambuf_iterator<char>());
    // The command name in parentheses may hold spaces; the fields after it are numbered from 3,
    // user time is field 14 and system time 15.
    std::istringstream fields(text.substr(std::min(text.size(), text.rfind(')') + 1)));
    std::string field;
    double ticks = 0;
    for (int index = 3; index <= 15 && fields >> field; ++index) {
        if (index >= 14) {
            ticks += std::stod(field);
        }
    }
    return {ticks / static_cast<double>(sysconf(_SC_CLK_TCK)), NowSeconds()};
}

double ChildCpuPercent(const ChildSample& from, const ChildSample& to) {
    const double wall = to.wallSeconds - from.wallSeconds;
    return wall > 0 ? 100.0 * (to.cpuSeconds - from.cpuSeconds) / wall : 0.0;
}

double StatusMb(qint64 pid, const char* field) {
    std::ifstream status(ProcPath(pid, "status"));
    const std::string key = std::string(field) + ":";
    std::string line;
    while (std::getline(status, line)) {
        if (line.starts_with(key)) {
            return std::stod(line.substr(key.size())) / 1024.0;
        }
    }
    return 0;
}

int ChildDescriptors(qint64 pid) {
    std::error_code error;
    const auto entries = std::filesystem::directory_iterator(ProcPath(pid, "fd"), error);
    return static_cast<int>(std::distance(begin(entries), end(entries)));
}

ServiceProcess::ServiceProcess(const QStringList& options, quint16 port)
    : port_(port != 0 ? port : FreePort()) {
    QObject::connect(&process_, &QProcess::readyReadStandardError, &process_,
                     [this] { ReadLog(); });
    process_.setStandardOutputFile(QProcess::nullDevice());
    process_.start(QStringLiteral(CORVELLED_PATH),
                   QStringList{QStringLiteral("--port"), QString::number(port_)} + options);
    process_.waitForStarted();
    RunUntil([this] { return listening_ || !Running(); }, 10000);
}

ServiceProcess::~ServiceProcess() {
    if (Running()) {
        process_.kill();
        process_.waitForFinished(1000);
    }
}

void ServiceProcess::ReadLog() {
    static const QRegularExpression identified(QStringLiteral("\"([^\"]*)\" identified with"));
    const qsizetype parsed = log_.lastIndexOf('\n') + 1;
    log_ += process_.readAllStandardError();
    const qsizetype complete = log_.lastIndexOf('\n') + 1;
    for (const QByteArray& line : log_.mid(parsed, complete - parsed).split('\n')) {
        const QString text = QString::fromUtf8(line);
        listening_ = listening_ || text.contains(QStringLiteral(" listening on "));
        if (const auto match = identified.match(text); match.hasMatch()) {
            identified_.insert(match.captured(1));
        }
    }
}

int ServiceProcess::Stop(int timeoutMs) {
    process_.terminate();
    if (!process_.waitForFinished(timeoutMs)) {
        return -1;
    }
    ReadLog();
    return process_.exitStatus() == QProcess::NormalExit ? process_.exitCode() : -1;
}

QString ServiceProcess::LogTail(int lines) const {
    const QStringList all = QString::fromUtf8(log_).split(QLatin1Char('\n'));
    return all.mid(std::max<qsizetype>(0, all.size() - lines - 1)).join(QLatin1Char('\n'));
}

QString TerminalName(int k) {
    return QStringLiteral("T%1").arg(k);
}

QString TerminalVolts(int k) {
    return QString::number(0.1 * k, 'f', 3);
}

void StartTerminals(Children& children, quint16 port, int first, int count) {
    for (int k = first; k < first + count; ++k) {
        children.StartSim({QStringLiteral("--port"), QString::number(port),
                           QStringLiteral("--name"), TerminalName(k), QStringLiteral("--wave"),
                           QStringLiteral("all:const:%1").arg(100 * k),
                           QStringLiteral("--retry-ms"), QStringLiteral("200")});
    }
}

bool AllIdentified(const ServiceProcess& service, int first, int count) {
    for (int k = first; k < first + count; ++k) {
        if (!service.Identified().contains(TerminalName(k))) {
            return false;
        }
    }
    return true;
}

ServiceRun::ServiceRun(int count, int intervalMs, const QStringList& options, int latencySamples)
    : count(count),
      intervalMs(intervalMs),
      latency(MeasureReplyLatencyMs(latencySamples)),
      service(QStringList{QStringLiteral("--interval"), QString::number(intervalMs),
                          QStringLiteral("--record"), folder.path()} +
              options),
      started(false) {
    if (!service.Listening()) {
        std::printf("corvelled did not start listening:\n%s\n",
                    service.LogTail(10).toStdString().c_str());
        return;
    }
    StartTerminals(children, service.Port(), 1, count);
    started = RunUntil([this] { return AllIdentified(service, 1, this->count); }, 60000);
    if (!started) {
        std::printf("%zu of %d terminals identified within 60 s\n", service.Identified().size(),
                    count);
    }
}

Window OpenWindow(const ServiceRun& run) {
    return {SampleChild(run.service.Pid()), RecordingTimeNow()};
}

WindowResult CloseWindow(ServiceRun& run, const Window& window) {
    WindowResult result;
    const QString to = RecordingTimeNow();
    const qint64 pid = run.service.Pid();
    const ChildSample end = SampleChild(pid);
    result.seconds = end.wallSeconds - window.start.wallSeconds;
    result.cpu = ChildCpuPercent(window.start, end);
    result.rssMb = StatusMb(pid, "VmRSS");
    result.peakRssMb = StatusMb(pid, "VmHWM");
    result.descriptors = ChildDescriptors(pid);
    result.ideal = result.seconds * 1000.0 / (run.intervalMs + run.latency);
    // Stopping writes out the recording.
    result.exitCode = run.service.Stop(5000);
    if (result.exitCode != 0) {
        std::printf("corvelled did not stop in order (exit %d):\n%s\n", result.exitCode,
                    run.service.LogTail(10).toStdString().c_str());
    }
    const QDir dir(run.folder.path());
    std::set<QString> terminals;
    for (int k = 1; k <= run.count; ++k) {
        terminals.insert(RecordingFolderOf(TerminalName(k)));
        const RecordedRows rows = ReadRecordedRows(dir.filePath(RecordingFolderOf(TerminalName(k))),
                                                   TerminalVolts(k), window.from, to);
        result.polls.push_back(rows.inWindow);
        result.foreign += rows.foreign;
    }
    for (const QString& folder : dir.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        if (!terminals.contains(folder)) {
            // Nothing belongs here, so no value is a terminal's own.
            result.foreign += ReadRecordedRows(dir.filePath(folder), {}).foreign;
        }
    }
    return result;
}

double ReportPolls(const ServiceRun& run, const WindowResult& result) {
    return ReportPolls("Polls per terminal", result.polls, result.seconds, result.ideal,
                       run.intervalMs, run.latency);
}

double ReportPolls(const std::string& title, const std::vector<int>& polls, double seconds,
                   double ideal, int intervalMs, double latency) {
    constexpr std::size_t kShown = 8;
    std::vector<int> order(polls.size());
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(), [&](int a, int b) {
        return polls[static_cast<std::size_t>(a)] < polls[static_cast<std::size_t>(b)];
    });
    const bool all = order.size() <= 2 * kShown;
    if (all) {
        std::sort(order.begin(), order.end());
    }
    Table table(title + std::string(all ? "" : ", the lowest ") +
                    (all ? "" : std::to_string(kShown)) + " (ideal = " + Fixed(seconds, 1) +
                    " s / (" + std::to_string(intervalMs) + " ms + " + Fixed(latency, 2) +
                    " ms reply latency))",
                {"terminal", "polls", "ideal", "share"});
    for (std::size_t i = 0; i < order.size() && (all || i < kShown); ++i) {
        const int count = polls[static_cast<std::size_t>(order[i])];
        table.Row({TerminalName(order[i] + 1).toStdString(), std::to_string(count), Fixed(ideal, 1),
                   Fixed(100.0 * count / ideal, 1) + " %"});
    }
    if (order.empty()) {
        return 0;
    }
    if (!all) {
        const int median = polls[static_cast<std::size_t>(order[order.size() / 2])];
        const int highest = polls[static_cast<std::size_t>(order.back())];
        table.Row({"median / highest of " + std::to_string(order.size()),
                   std::to_string(median) + " / " + std::to_string(highest), "", ""});
    }
    return 100.0 * polls[static_cast<std::size_t>(order.front())] / ideal;
}

bool Behaved(const ServiceRun& run, const WindowResult& result) {
    const bool everyPolled =
        std::all_of(result.polls.begin(), result.polls.end(), [](int polls) { return polls > 0; });
    return run.started && everyPolled && result.foreign == 0 && result.exitCode == 0;
}

}  // namespace corvelle::bench
