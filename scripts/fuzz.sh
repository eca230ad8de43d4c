#!/usr/bin/env bash
# Builds the libFuzzer targets and runs each for the given number of seconds (default 20).
# Corpora grow in build/fuzz/corpus/<target>; crashes land in build/fuzz/crashes/.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-20}"
scripts/install-deps.sh
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz
mkdir -p build/fuzz/crashes
for target in registration module_reply modbus_chunk tab_host; do
  corpus="build/fuzz/corpus/${target}"
  log="build/fuzz/${target}.log"
  mkdir -p "$corpus"
  echo "== fuzz_${target}: ${seconds} s"
  status=0
  "build/fuzz/fuzz/fuzz_${target}" -max_total_time="$seconds" -print_final_stats=1 \
    -artifact_prefix="build/fuzz/crashes/${target}-" "$corpus" >"$log" 2>&1 || status=$?
  grep -E '^(stat::number_of_executed_units|stat::new_units_added|stat::peak_rss_mb)' "$log" || true
  if ((status != 0)); then
    tail -n 40 "$log"
    echo "fuzz_${target} failed (exit ${status})"
    exit "$status"
  fi
done
