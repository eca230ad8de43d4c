#!/usr/bin/env bash
# Installs what is missing, then builds every test once, with AddressSanitizer and
# UndefinedBehaviorSanitizer, and runs them; builds and checks the Debian package from a release
# build of the programs; cross-builds the Qt-free libraries for Windows; and runs a short smoke
# of each fuzz target. Prints the time of each phase at the end. Exits non-zero on any failure.
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
begin "asan: tests"
ctest --preset asan --parallel "$ctest_jobs"
end
begin "package: release build, package, lintian, check"
# shellcheck disable=SC2046 # the two paths, one a line
packaging/check_package.sh $(scripts/package.sh | tail -n 2)
end
begin "Windows cross build of the Qt-free libraries"
cmake --preset windows-core >/dev/null
cmake --build --preset windows-core
end
begin "fuzz: build and smoke"
scripts/fuzz.sh 20
end
