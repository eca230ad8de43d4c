#!/usr/bin/env bash
# Builds the Debian packages corvelle (console and simulator) and corvelled (service) with
# CPack, with Debian's hardening flags, and checks them with lintian (errors and warnings fail).
# Argument: the configure preset whose build is packaged (default "package", a release build of
# the programs alone). Prints the two packages' paths last, one a line.
set -euo pipefail
cd "$(dirname "$0")/.."
preset="${1:-package}"
scripts/install-deps.sh
# Fortify, stack protector, relro, now and PIE, as Debian builds its own packages; CMake reads
# no CPPFLAGS, so the preprocessor's part goes with the compiler's.
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
eval "$(dpkg-buildflags --export=sh)"
export CXXFLAGS="$CXXFLAGS $CPPFLAGS" CFLAGS="$CFLAGS $CPPFLAGS"
cmake --preset "$preset" --fresh >/dev/null
cmake --build --preset "$preset" --target corvelle corvelled corvelle-sim corvelle_changelog \
  corvelle_man_pages
rm -f "build/$preset"/corvelle*_*.deb
(cd "build/$preset" && cpack -G DEB >/dev/null)
debs=("build/$preset"/corvelle_*.deb "build/$preset"/corvelled_*.deb)
lintian --fail-on error,warning "${debs[@]}" >&2
printf '%s\n' "${debs[@]}"
