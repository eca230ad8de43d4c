#!/usr/bin/env bash
# Builds the Debian package of corvelle, corvelled and corvelle-sim with CPack and checks it
# with lintian (errors fail). Argument: the configure preset whose build is packaged (default
# "package", a release build of the programs alone). Prints the package's path last.
set -euo pipefail
cd "$(dirname "$0")/.."
preset="${1:-package}"
scripts/install-deps.sh
cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset" --target corvelle corvelled corvelle-sim corvelle_changelog
rm -f "build/$preset"/corvelle_*.deb
(cd "build/$preset" && cpack -G DEB >/dev/null)
deb=$(ls "build/$preset"/corvelle_*.deb)
lintian --fail-on error "$deb" >&2
echo "$deb"
