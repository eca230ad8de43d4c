// Alarms under load: what evaluating four limits on every channel of every terminal costs the
// console, in windows alternating between the same profiles without
// and with alarm definitions, in one run.
#include <cstdio>
#include <string>

#include "app/alarm_console.h"
#include "bench/console/scenarios.h"

namespace corvelle::bench {
namespace {

// Every channel of every fleet terminal named and scaled 0..10 V to 0..100 m; with alarms, all
// four limits outside what the channels read, deadband and delays.
QByteArray FleetAlarmProfiles(bool alarms) {
    QByteArray text;
    for (int k = 1; k <= kFleet; ++k) {
        const QByteArray terminal = "[terminals.\"" + FleetName(k) + "\"";
        for (int c = 1; c <= 12; ++c) {
            text += terminal + ".channels.AD" + QByteArray::number(c) + "]\nname = \"液位" +
                    QByteArray::number(c) + "\"\nraw = [0.0, 10.0]\nscaled = [0.0, 100.0]\n";
            if (alarms) {
                text +=
                    "high_high = { limit = 990, priority = \"紧急\" }\nhigh = 900\n"
                    "low = -10\nlow_low = { limit = -20, priority = \"一般\" }\n"
                    "deadband = 1\non_delay = 2\noff_delay = 2\n";
            }
        }
    }
    return text;
}

}  // namespace

int RunAlarms(const Options& options) {
    const int seconds = options.seconds > 0 ? options.seconds : (options.smoke ? 2 : 30);
    const int rounds = options.smoke ? 1 : 2;
    FleetRun run(kFleet, kIntervalMs, options.smoke ? 20 : 100);
    RunFor(options.smoke ? 1000 : 3000);
    const ProfileAlternation figures = AlternateProfiles(run, FleetAlarmProfiles(false),
                                                         FleetAlarmProfiles(true), seconds, rounds);
    const WindowFigures& plain = figures.without;
    const WindowFigures& alarmed = figures.with;
    const bool read = figures.read;
    // Nothing crosses a limit: the figure is the evaluation's alone.
    const bool quiet = run.console.Window().Alarms().List().Board().Rows().empty();
    Table table("Alarms: " + std::to_string(kFleet) +
                    " terminals x 12 channels with four limits, " + std::to_string(kIntervalMs) +
                    " ms interval, " + std::to_string(rounds) + " pairs of " +
                    std::to_string(seconds) +
                    " s windows without and with alarm definitions (stalls over the first half " +
                    "of each, CPU over the second, averaged)",
                {"figure", "measured", "target", "verdict"});
    ComparisonRows(table, "alarms", plain, alarmed, 0.1);
    table.Row({"profiles read, no alarm raised", read && quiet ? "yes" : "NO", "yes",
               Verdict(read && quiet)});
    const bool correct = run.started && read && quiet && run.watch.Misrouted() == 0;
    return Summary("alarms", correct,
                   "cpu_without=" + Fixed(plain.cpu, 2) + "% cpu_with=" + Fixed(alarmed.cpu, 2) +
                       "% added=" + Fixed(alarmed.cpu - plain.cpu, 2) + "%");
}

}  // namespace corvelle::bench
