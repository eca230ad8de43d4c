// corvelled polling a steady fleet, a large one, and a fleet beside a flood of connections that
// never register.
#include <QElapsedTimer>
#include <QTimer>
#include <algorithm>
#include <cstdio>

#include "bench/service/scenarios.h"

namespace corvelle::bench {
namespace {

struct FleetTargets {
    double cpuPercent = 0;
    // 0 for none.
    double peakRssMb = 0;
};

int RunFleet(const std::string& scenario, const Options& options, int count, int intervalMs,
             const QStringList& serviceOptions, FleetTargets targets) {
    const int seconds = options.seconds > 0 ? options.seconds : (options.smoke ? 4 : 60);
    ServiceRun run(count, intervalMs, serviceOptions, options.smoke ? 20 : 100);
    RunFor(options.smoke ? 1000 : 3000);
    const Window window = OpenWindow(run);
    RunFor(seconds * 1000);
    const WindowResult result = CloseWindow(run, window);
    const double lowest = ReportPolls(run, result);

    Table table("corvelled " + scenario + ": " + std::to_string(count) + " terminals x 12 " +
                    "channels, " + std::to_string(intervalMs) + " ms interval, recording, " +
                    std::to_string(seconds) + " s",
                {"figure", "measured", "target", "verdict"});
    table.Row({"service CPU (% of one core)", Fixed(result.cpu, 2),
               "<= " + Fixed(targets.cpuPercent, 0), Verdict(result.cpu <= targets.cpuPercent)});
    table.Row({"RSS at the end (MB)", Fixed(result.rssMb, 1), "", ""});
    if (targets.peakRssMb > 0) {
        table.Row({"peak RSS (MB)", Fixed(result.peakRssMb, 1), "<= " + Fixed(targets.peakRssMb, 0),
                   Verdict(result.peakRssMb <= targets.peakRssMb)});
    } else {
        table.Row({"peak RSS (MB)", Fixed(result.peakRssMb, 1), "", ""});
    }
    table.Row({"open descriptors", std::to_string(result.descriptors), "", ""});
    table.Row({"lowest polls / ideal (%)", Fixed(lowest, 1), ">= 98", Verdict(lowest >= 98)});
    table.Row({"rows in another terminal's file", std::to_string(result.foreign), "0",
               Verdict(result.foreign == 0)});
    table.Row({"exit code on SIGTERM", std::to_string(result.exitCode), "0",
               Verdict(result.exitCode == 0)});
    return Summary(scenario, Behaved(run, result),
                   "cpu=" + Fixed(result.cpu, 2) + "% rss=" + Fixed(result.rssMb, 1) +
                       "MB peak_rss=" + Fixed(result.peakRssMb, 1) + "MB polls=" +
                       Fixed(lowest, 1) + "% misrouted=" + std::to_string(result.foreign));
}

}  // namespace

int RunSteady(const Options& options) {
    return RunFleet("steady", options, 8, 200, {}, {1, 0});
}

int RunLarge(const Options& options) {
    return RunFleet("large", options, 256, 1000, {QStringLiteral("--slots"), QStringLiteral("256")},
                    {5, 60});
}

int RunFlood(const Options& options) {
    constexpr int kFleet = 8;
    constexpr int kIntervalMs = 200;
    constexpr int kTimeoutSeconds = 5;
    constexpr int kMaxUnregistered = 256;
    const int crowd = options.crowd > 0 ? options.crowd : 2000;
    const int seconds = options.seconds > 0 ? options.seconds : (options.smoke ? 8 : 30);
    ServiceRun run(kFleet, kIntervalMs,
                   {QStringLiteral("--registration-timeout"), QString::number(kTimeoutSeconds),
                    QStringLiteral("--max-unregistered"), QString::number(kMaxUnregistered)},
                   options.smoke ? 20 : 100);
    RunFor(1000);
    const qint64 pid = run.service.Pid();
    const int baseline = ChildDescriptors(pid);
    int peak = baseline;
    QTimer sampler;
    QObject::connect(&sampler, &QTimer::timeout, &sampler,
                     [&] { peak = std::max(peak, ChildDescriptors(pid)); });

    QElapsedTimer clock;
    clock.start();
    const Window window = OpenWindow(run);
    const qsizetype linesBefore = run.service.LogLines();
    sampler.start(20);
    QProcess& peers = run.children.StartPeers(run.service.Port());
    const QString answer =
        PeerCommand(peers, QStringLiteral("crowd %1").arg(crowd), 300000).value_or(QString());
    // The last kMaxUnregistered wait out the registration timeout.
    QElapsedTimer drain;
    drain.start();
    const bool drained =
        RunUntil([&] { return ChildDescriptors(pid) <= baseline; }, (kTimeoutSeconds + 10) * 1000);
    const double drainSeconds = static_cast<double>(drain.elapsed()) / 1000.0;
    RunFor(std::max(0, seconds * 1000 - static_cast<int>(clock.elapsed())));
    const QString probe =
        PeerCommand(peers, QStringLiteral("probe 5000"), 10000).value_or(QString());
    sampler.stop();
    // The probe's own connection goes once the service has seen it close.
    RunUntil([&] { return ChildDescriptors(pid) <= baseline; }, 2000);
    const int after = ChildDescriptors(pid);
    // Everything the flood made the service say, by the minute: a log an attacker can fill
    // drowns what matters, and the journal's rate limit then drops real events.
    const qsizetype floodLines = run.service.LogLines() - linesBefore;
    const WindowResult result = CloseWindow(run, window);
    const double lowest = ReportPolls(run, result);
    const double linesPerMinute =
        static_cast<double>(floodLines) * 60.0 / std::max(result.seconds, 60.0);

    const int answered = static_cast<int>(PeerField(answer, QStringLiteral("status0")));
    const bool bounded = peak <= baseline + kMaxUnregistered + 2;
    const bool answering = PeerField(probe, QStringLiteral("status")) == 0;
    Table table("corvelled flood: " + std::to_string(crowd) +
                    " connections that send one bad packet and never register, --max-" +
                    "unregistered " + std::to_string(kMaxUnregistered) +
                    " --registration-timeout " + std::to_string(kTimeoutSeconds) + ", beside " +
                    std::to_string(kFleet) + " terminals at " + std::to_string(kIntervalMs) +
                    " ms, " + Fixed(result.seconds, 0) + " s",
                {"figure", "measured", "target", "verdict"});
    table.Row({"bad packets answered with status 0",
               std::to_string(answered) + " / " + std::to_string(crowd), "all",
               Verdict(answered == crowd)});
    table.Row({"flood arrival (ms)", Fixed(PeerField(answer, QStringLiteral("ms")), 0), "", ""});
    table.Row({"descriptors before the flood", std::to_string(baseline), "", ""});
    table.Row({"descriptors at the peak", std::to_string(peak),
               "<= " + std::to_string(baseline + kMaxUnregistered + 2), Verdict(bounded)});
    table.Row({"until back to the count before (s)", Fixed(drainSeconds, 1),
               "<= " + std::to_string(kTimeoutSeconds + 1),
               Verdict(drainSeconds <= kTimeoutSeconds + 1)});
    table.Row({"descriptors after the flood", std::to_string(after),
               "<= " + std::to_string(baseline), Verdict(drained && after <= baseline)});
    table.Row({"a new connection answered after the flood", answering ? "yes" : "NO", "yes",
               Verdict(answering)});
    table.Row({"service CPU over the window (% of one core)", Fixed(result.cpu, 2), "", ""});
    table.Row({"peak RSS (MB)", Fixed(result.peakRssMb, 1), "", ""});
    table.Row({"log lines per minute of flood", Fixed(linesPerMinute, 1), "<= 10",
               Verdict(linesPerMinute <= 10)});
    table.Row({"lowest polls / ideal (%)", Fixed(lowest, 1), ">= 98", Verdict(lowest >= 98)});
    table.Row({"rows in another terminal's file", std::to_string(result.foreign), "0",
               Verdict(result.foreign == 0)});
    table.Row({"exit code on SIGTERM", std::to_string(result.exitCode), "0",
               Verdict(result.exitCode == 0)});
    const bool correct = Behaved(run, result) && answered == crowd && bounded && drained &&
                         after <= baseline && answering;
    return Summary("flood", correct,
                   "answered=" + std::to_string(answered) + "/" + std::to_string(crowd) +
                       " fds=" + std::to_string(baseline) + "/" + std::to_string(peak) + "/" +
                       std::to_string(after) + " cpu=" + Fixed(result.cpu, 2) +
                       "% log_lines_per_minute=" + Fixed(linesPerMinute, 1) + " polls=" +
                       Fixed(lowest, 1) + "% misrouted=" + std::to_string(result.foreign));
}

}  // namespace corvelle::bench
