#!/usr/bin/env bash
# Builds the release preset and runs every benchmark: the codec, the trend chart, the recorder,
# reading recorded days back for the history (beside pandas), and the console and the service
# under load and faults, one scenario per process. Prints figures against their targets; exits
# non-zero only when a scenario finds the console or the service misbehaving. Figures mean most
# on an otherwise quiet machine.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake --preset release
cmake --build --preset release
export QT_QPA_PLATFORM=offscreen
echo "==== bench_codec"
build/release/bench/bench_codec
echo "==== bench_chart"
build/release/bench/chart/bench_chart
echo "==== bench_record"
build/release/bench/record/bench_record
echo "==== bench_history"
build/release/bench/history/bench_history
echo "==== bench_alarm"
build/release/bench/alarm/bench_alarm
status=0
# steady, charts, fill, floor and history run again under Xvfb (fill: a whole chart fill in real
# time, twice ten minutes).
for scenario in steady storm crowd churn charts fill floor hostile record record-stall publish \
    broker-outage profiles history alarms; do
  echo "==== bench_console ${scenario}"
  build/release/bench/console/bench_console "$scenario" || status=1
done
for scenario in steady large flood scale-out wan metrics alarms; do
  echo "==== bench_service ${scenario}"
  build/release/bench/service/bench_service "$scenario" || status=1
done
exit "$status"
