// corvelled under load, as a child process watched from outside, one scenario per process.
// Usage: bench_service SCENARIO [--smoke] [--seconds N] [--crowd N]
//   steady  eight terminals polled every 200 ms
//   large   256 terminals polled every 1000 ms
//   flood   2000 connections that never register, beside eight terminals
//   scale-out  ten services with 25 terminals each (or --crowd) polled every 1000 ms, all
//              publishing to one MQTT broker
//   metrics  256 terminals polled every 1000 ms: the service's CPU in alternating windows
//            without and with --metrics, scraped every 15 s
//   wan  60 terminals (or --crowd) at 200 ms publishing through a 100 ms round trip, then a
//        backlog of 10,000 readings drained through it
//   alarms  256 terminals (or --crowd) polled every 1000 ms, windows alternating without and
//           with alarm definitions on every channel, swapped by SIGHUP
// --smoke shortens a scenario to a few seconds; the exit code reports correctness only.
#include <QCoreApplication>

#include "bench/service/scenarios.h"

int main(int argc, char** argv) {
    using namespace corvelle::bench;
    // A terminal process each for the large fleet, and a pipe or two for each.
    RaiseDescriptorLimit();
    QCoreApplication app(argc, argv);

    const Scenarios scenarios = {{"steady", RunSteady},   {"large", RunLarge},
                                 {"flood", RunFlood},     {"scale-out", RunScaleOut},
                                 {"wan", RunWan},         {"metrics", RunMetricsCost},
                                 {"alarms", RunAlarmCost}};
    return RunScenario(argc, argv, "bench_service", scenarios);
}
