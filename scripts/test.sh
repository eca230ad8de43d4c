#!/usr/bin/env bash
# Installs what is missing, then configures, builds and runs every test in the debug and the
# sanitizer builds, builds and checks the Debian package, cross-builds the Qt-free libraries
# for Windows, and runs a short smoke of each fuzz target. Exits non-zero on any failure.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
for preset in default asan; do
  echo "==== ${preset}: configure and build"
  cmake --preset "$preset"
  cmake --build --preset "$preset"
  echo "==== ${preset}: tests"
  ctest --preset "$preset"
done
echo "==== package"
packaging/check_package.sh "$(scripts/package.sh default | tail -n 1)"
echo "==== Windows cross build of the Qt-free libraries"
cmake --preset windows-core >/dev/null
cmake --build --preset windows-core
echo "==== fuzz smoke"
scripts/fuzz.sh 20
