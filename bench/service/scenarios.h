#pragma once

#include "bench/service/service_rig.h"

namespace corvelle::bench {

// Each returns the process exit code: 0 when the service behaved correctly. Timing figures are
// printed against their targets and never change the exit code.
int RunSteady(const Options& options);
int RunLarge(const Options& options);
int RunFlood(const Options& options);
int RunScaleOut(const Options& options);
int RunWan(const Options& options);
int RunMetricsCost(const Options& options);
int RunAlarmCost(const Options& options);

}  // namespace corvelle::bench
