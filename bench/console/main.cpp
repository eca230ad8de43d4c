// The console under load and faults, one scenario per process so that memory peaks stay apart.
// Usage: bench_console SCENARIO [--smoke] [--seconds N] [--crowd N]
//   steady   eight terminals polled every 200 ms
//   storm    eight terminals registering at the same moment
//   crowd    idle connections that never register, beside eight terminals
//   churn    eight terminals dropping and returning every 2 s
//   charts   eight pages with full trend charts
//   fill     eight terminals polled in real time while the shown chart fills (about ten
//            minutes; --seconds N measures the last N seconds of a fill)
//   floor    where a 1 % budget goes: a bare window's wake-ups and repaints at the poll
//            interval, bare and with the page's lines and texts drawn plainly, and the console
//            polling with its window hidden and shown (windows of 30 s, or --seconds)
//   hostile  misbehaving peers and descriptor exhaustion beside four terminals
//   record   eight terminals polled every 200 ms, without and with recording
//   record-stall  recording while the writer cannot open its files (5 s, or --seconds)
//   publish  eight terminals polled every 200 ms, without and with publishing to MQTT
//   broker-outage  publishing while the broker is stopped for 60 s (or --seconds) and started
//                  again
//   profiles eight terminals polled every 200 ms, windows alternating without and with a
//            profile scaling every channel
//   history  a recorded week in the history window, then pans and zooms over a month of 200 ms
//            rows (--smoke: a day)
//   alarms   eight terminals polled every 200 ms, windows alternating without and with four
//            alarm limits on every channel
// steady, charts, fill, floor and history run offscreen and then again under Xvfb when it is
// installed, and print both runs' figures side by side.
// --smoke shortens a scenario to a few seconds and runs it offscreen only (under the
// sanitizers, the X libraries' own allocations left at exit would be reported as leaks); the
// exit code reports correctness only.
#include <QByteArray>
#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "app/acq_app.h"
#include "bench/console/scenarios.h"
#include "bench/console/x_server.h"

int main(int argc, char** argv) {
    using namespace corvelle::bench;
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    const bool offscreen = qgetenv("QT_QPA_PLATFORM") == "offscreen";
    // The crowd needs a descriptor per connection.
    RaiseDescriptorLimit();
    corvelle::CAcqApp app(argc, argv);

    const Scenarios scenarios = {
        {"steady", RunSteady},     {"storm", RunStorm},
        {"crowd", RunCrowd},       {"churn", RunChurn},
        {"charts", RunFullCharts}, {"fill", RunFill},
        {"floor", RunFloor},       {"hostile", RunHostile},
        {"record", RunRecord},     {"record-stall", RunRecordStall},
        {"publish", RunPublish},   {"broker-outage", RunBrokerOutage},
        {"profiles", RunProfiles}, {"history", RunHistory},
        {"alarms", RunAlarms},
    };
    const int status = RunScenario(argc, argv, "bench_console", scenarios);
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    const std::set<std::string> drawing = {"steady", "charts", "fill", "floor", "history"};
    const auto named =
        std::find_if(arguments.begin(), arguments.end(),
                     [&](const std::string& word) { return drawing.count(word) > 0; });
    const bool smoke = std::count(arguments.begin(), arguments.end(), "--smoke") > 0;
    if (!offscreen || smoke || RunningOnX() || named == arguments.end()) {
        return status;
    }
    return std::max(status, RunAgainOnX(argc, argv, *named, LastSummaryFigures()));
}
