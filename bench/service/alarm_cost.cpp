// What alarms cost corvelled with a large fleet: the same profiles without and with alarm
// definitions on every channel and input, swapped by SIGHUP, in alternating windows of one run.
#include <QFile>
#include <QTemporaryDir>
#include <csignal>
#include <cstdio>

#include "bench/service/scenarios.h"

namespace corvelle::bench {
namespace {

constexpr int kLargeFleet = 256;
constexpr int kLargeIntervalMs = 1000;

// Terminals 1..count scaled 0..10 V to 0..100 on every channel; with alarms, four limits no
// channel reaches, deadband and delays. No input alarms: the simulator's inputs count in Gray
// code, so one of them would raise or clear an alarm every 2 s on every terminal, and the
// windows would measure that traffic (logged and recorded), not the evaluation.
QByteArray LargeFleetProfiles(int count, bool alarms) {
    QByteArray text;
    for (int k = 1; k <= count; ++k) {
        const QByteArray terminal = "[terminals.\"" + TerminalName(k).toUtf8() + "\"";
        for (int c = 1; c <= 12; ++c) {
            text += terminal + ".channels.AD" + QByteArray::number(c) +
                    "]\nraw = [0.0, 10.0]\nscaled = [0.0, 100.0]\n";
            if (alarms) {
                text +=
                    "high_high = { limit = 990, priority = \"紧急\" }\nhigh = 900\n"
                    "low = -10\nlow_low = -20\ndeadband = 1\non_delay = 2\noff_delay = 2\n";
            }
        }
    }
    return text;
}

bool Rewrite(const QString& path, const QByteArray& text) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(text) == text.size();
}

}  // namespace

int RunAlarmCost(const Options& options) {
    const int count = options.crowd > 0 ? options.crowd : kLargeFleet;
    const int seconds = options.seconds > 0 ? options.seconds : (options.smoke ? 3 : 30);
    const int rounds = options.smoke ? 1 : 2;
    QTemporaryDir configFolder;
    const QString config = configFolder.filePath(QStringLiteral("terminals.toml"));
    if (!Rewrite(config, LargeFleetProfiles(count, false))) {
        return Summary("alarms", false, "config=no");
    }
    ServiceRun run(
        count, kLargeIntervalMs,
        {QStringLiteral("--slots"), QString::number(count), QStringLiteral("--config"), config},
        options.smoke ? 20 : 100);
    if (!run.started) {
        return Summary("alarms", false, "started=no");
    }
    double without = 0;
    double with = 0;
    for (int round = 0; round < rounds; ++round) {
        for (const bool alarms : {false, true}) {
            Rewrite(config, LargeFleetProfiles(count, alarms));
            ::kill(static_cast<pid_t>(run.service.Pid()), SIGHUP);
            // The reload, and the first readings evaluated, settle before the window.
            RunFor(3000);
            const ChildSample start = SampleChild(run.service.Pid());
            RunFor(seconds * 1000);
            const double cpu = ChildCpuPercent(start, SampleChild(run.service.Pid()));
            (alarms ? with : without) += cpu / rounds;
            std::printf("round %d %s alarms: %.2f %% of a core\n", round + 1,
                        alarms ? "with" : "without", cpu);
        }
    }
    const int exitCode = run.service.Stop(5000);
    Table table("corvelled alarms: " + std::to_string(count) + " terminals x 12 channels with " +
                    "four limits on every channel, " + std::to_string(kLargeIntervalMs) +
                    " ms interval, " + std::to_string(rounds) + " pairs of " +
                    std::to_string(seconds) + " s windows without and with alarm definitions " +
                    "(swapped by SIGHUP)",
                {"figure", "measured", "target", "verdict"});
    const double added = with - without;
    table.Row({"CPU without alarms (% of one core)", Fixed(without, 2), "", ""});
    table.Row({"CPU with alarms (% of one core)", Fixed(with, 2), "", ""});
    table.Row(
        {"added by alarms (% of one core)", Fixed(added, 2), "<= 0.1", Verdict(added <= 0.1)});
    table.Row({"stopped in order", exitCode == 0 ? "yes" : "NO", "yes", Verdict(exitCode == 0)});
    return Summary("alarms", exitCode == 0,
                   "cpu_without=" + Fixed(without, 2) + "% cpu_with=" + Fixed(with, 2) +
                       "% added=" + Fixed(added, 2) + "%");
}

}  // namespace corvelle::bench
