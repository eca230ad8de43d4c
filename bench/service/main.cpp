// corvelled under load, as a child process watched from outside, one scenario per process.
// Usage: bench_service SCENARIO [--smoke] [--seconds N] [--crowd N]
//   steady  eight terminals polled every 200 ms
//   large   256 terminals polled every 1000 ms
//   flood   2000 connections that never register, beside eight terminals
//   scale-out  ten services with 25 terminals each (or --crowd) polled every 1000 ms, all
//              publishing to one MQTT broker
// --smoke shortens a scenario to a few seconds; the exit code reports correctness only.
#include <QCoreApplication>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>
#include <string>

#include "bench/service/scenarios.h"

int main(int argc, char** argv) {
    using namespace corvelle::bench;
    // A terminal process each for the large fleet, and a pipe or two for each.
    RaiseDescriptorLimit();
    QCoreApplication app(argc, argv);

    const std::map<std::string, std::function<int(const Options&)>> scenarios = {
        {"steady", RunSteady},
        {"large", RunLarge},
        {"flood", RunFlood},
        {"scale-out", RunScaleOut}};
    Options options;
    std::string scenario;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (argument == "--smoke") {
            options.smoke = true;
        } else if (argument == "--seconds" && i + 1 < argc) {
            options.seconds = static_cast<int>(std::strtol(argv[++i], nullptr, 10));
        } else if (argument == "--crowd" && i + 1 < argc) {
            options.crowd = static_cast<int>(std::strtol(argv[++i], nullptr, 10));
        } else {
            scenario = argument;
        }
    }
    const auto found = scenarios.find(scenario);
    if (found == scenarios.end()) {
        std::fprintf(stderr,
                     "usage: bench_service steady|large|flood|scale-out [--smoke] [--seconds N] "
                     "[--crowd N]\n");
        return 2;
    }
    return found->second(options);
}
