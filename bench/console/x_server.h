#pragma once

// The console benchmarks under a real X server. bench_console runs a scenario offscreen in its
// own process, then starts Xvfb on a free display and runs the same scenario again in a child
// process there, and prints the figures of both runs side by side. The child learns the X
// server's process from the environment, so that it can state the server's CPU time beside
// its own.

#include <QString>
#include <string>

namespace corvelle::bench {

// The screen of the X runs: a common desktop size, 24-bit.
inline constexpr const char* kXScreen = "1400x1000x24";

// CPU seconds the X server of this run has used so far; 0 outside an X run.
double XServerCpuSeconds();
// Whether this process is the X run of a scenario.
bool RunningOnX();

// Starts Xvfb on a free display, runs this program with the same arguments there and prints
// its output as it comes, then a table of the offscreen figures (the summary's "key=value"
// pairs) beside the X run's. Returns the child's exit code; 0 without a run when Xvfb is not
// installed.
int RunAgainOnX(int argc, char** argv, const std::string& scenario,
                const std::string& offscreenFigures);

}  // namespace corvelle::bench
