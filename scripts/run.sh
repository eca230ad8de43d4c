#!/usr/bin/env bash
# Installs what is missing, builds a release and starts the console. Arguments go to the
# console's Qt application (for example -platform xcb).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake --preset release >/dev/null
cmake --build --preset release --target corvelle corvelle-sim
exec build/release/app/main/corvelle "$@"
