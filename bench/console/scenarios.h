#pragma once

#include "bench/console/rig.h"

namespace corvelle::bench {

// Each returns the process exit code: 0 when the console behaved correctly. Timing figures
// are printed against their targets and never change the exit code.
int RunSteady(const Options& options);
int RunStorm(const Options& options);
int RunChurn(const Options& options);
int RunCrowd(const Options& options);
int RunHostile(const Options& options);
int RunFullCharts(const Options& options);
int RunFill(const Options& options);
int RunFloor(const Options& options);
int RunRecord(const Options& options);
int RunRecordStall(const Options& options);
int RunPublish(const Options& options);
int RunBrokerOutage(const Options& options);
int RunProfiles(const Options& options);
int RunHistory(const Options& options);
int RunAlarms(const Options& options);

// The console's figures in windows alternating between two profile texts, loaded as the file
// would be: CPU averaged over rounds pairs of windows, the largest stalls of each kind.
struct ProfileAlternation : Alternation {
    // Both texts were read without a fault every time.
    bool read = true;
};
ProfileAlternation AlternateProfiles(FleetRun& run, const QByteArray& without,
                                     const QByteArray& with, int seconds, int rounds);

// Poll interval of every load scenario, the shortest the settings allow.
inline constexpr int kIntervalMs = 200;
// Terminals of the fleet scenarios: as many as the console has slots.
inline constexpr int kFleet = 8;

}  // namespace corvelle::bench
