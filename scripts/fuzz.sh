#!/usr/bin/env bash
# Builds the libFuzzer targets and runs each for the given number of seconds (default 20), as
# many at a time as there are cores. Corpora grow in build/fuzz/corpus/<target>; crashes land
# in build/fuzz/crashes/.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-20}"
scripts/install-deps.sh
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz
mkdir -p build/fuzz/crashes
targets=(registration module_reply modbus_chunk tab_host history_rows meta_json)

run() {
  local target="$1" corpus="build/fuzz/corpus/$1"
  mkdir -p "$corpus"
  "build/fuzz/fuzz/fuzz_${target}" -max_total_time="$seconds" -print_final_stats=1 \
    -artifact_prefix="build/fuzz/crashes/${target}-" "$corpus" >"build/fuzz/${target}.log" 2>&1
}

# Each target is one process on one core: they run in batches of as many as there are cores.
failed=0
batch=$(nproc)
for ((first = 0; first < ${#targets[@]}; first += batch)); do
  pids=()
  for target in "${targets[@]:first:batch}"; do
    run "$target" &
    pids+=($!)
  done
  for i in "${!pids[@]}"; do
    target="${targets[first + i]}"
    status=0
    wait "${pids[$i]}" || status=$?
    echo "== fuzz_${target}: ${seconds} s"
    grep -E '^(stat::number_of_executed_units|stat::new_units_added|stat::peak_rss_mb)' \
      "build/fuzz/${target}.log" || true
    if ((status != 0)); then
      tail -n 40 "build/fuzz/${target}.log"
      echo "fuzz_${target} failed (exit ${status})"
      failed=$status
    fi
  done
done
exit "$failed"
