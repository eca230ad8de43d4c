#!/usr/bin/env bash
# Installs what is missing, then builds every test once, with AddressSanitizer and
# UndefinedBehaviorSanitizer, and runs them; cross-builds the Qt-free libraries for Windows and
# builds the fuzz targets beside the tests; builds and checks the Debian package from a release
# build of the programs; and runs a short smoke of each fuzz target. Prints the time of each
# phase at the end. Exits non-zero on any failure.
set -euo pipefail
cd "$(dirname "$0")/.."

phases=()
phase_start=0
begin() {
  echo "==== $1"
  phases+=("$1")
  phase_start=$SECONDS
}
durations=()
end() { durations+=($((SECONDS - phase_start))); }
report() {
  # A phase that failed has not ended: its time so far.
  if ((${#durations[@]} < ${#phases[@]})); then
    end
  fi
  echo "==== phase times"
  for i in "${!durations[@]}"; do
    printf '%5d s  %s\n' "${durations[$i]}" "${phases[$i]}"
  done
  printf '%5d s  total\n' "$SECONDS"
}
trap report EXIT

# Tests that mostly wait on sockets and child processes share the cores well; the ones that
# keep both busy are marked to run alone.
ctest_jobs=$((2 * $(nproc)))

begin "install missing packages"
scripts/install-deps.sh
end
begin "asan: configure and build"
cmake --preset asan >/dev/null
cmake --build --preset asan
end
begin "asan: tests; beside them the Windows cross build and the fuzz build"
# The tests leave part of a core idle while they wait on sockets and timers: two builds that
# nothing else needs yet use it, at the lowest priority so that the tests keep their share.
side_log=build/side-builds.log
mkdir -p build
(
  nice -n 19 cmake --preset windows-core >/dev/null
  nice -n 19 cmake --build --preset windows-core
  nice -n 19 cmake --preset fuzz >/dev/null
  nice -n 19 cmake --build --preset fuzz
) >"$side_log" 2>&1 &
side=$!
tests=0
ctest --preset asan --parallel "$ctest_jobs" || tests=$?
if ! wait "$side"; then
  tail -n 60 "$side_log"
  echo "the Windows cross build or the fuzz build failed (all of it in $side_log)"
  exit 1
fi
((tests == 0)) || exit "$tests"
end
begin "package: release build, package, lintian, check"
# shellcheck disable=SC2046 # the two paths, one a line
packaging/check_package.sh $(scripts/package.sh | tail -n 2)
end
begin "fuzz: smoke"
scripts/fuzz.sh 20
end
