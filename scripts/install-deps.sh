#!/usr/bin/env bash
# Installs, only when missing, every Debian package that building, running and testing
# Corvelle needs. Every other script calls this first; it is quick when all is present.
set -euo pipefail

packages=(
  g++ cmake ninja-build pkg-config
  libgtest-dev libgmock-dev googletest libbenchmark-dev
  clang libclang-rt-14-dev clang-format clang-tidy
  qt6-base-dev qt6-base-dev-tools libgl-dev qt6-svg-dev
  libqcustomplot-dev
  fonts-wqy-microhei fonts-arphic-uming
  xvfb xauth xdotool x11-utils x11-apps netpbm
  dpkg-dev lintian debhelper help2man g++-mingw-w64-x86-64-posix
  mosquitto libmosquitto-dev
  python3-pandas
  libtomlplusplus-dev
  prometheus-cpp-dev prometheus libsystemd-dev systemd
)

missing=()
for pkg in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$pkg")
  fi
done

if ((${#missing[@]} == 0)); then
  exit 0
fi

echo "Installing missing packages: ${missing[*]}"
sudo_cmd=()
if ((EUID != 0)); then
  sudo_cmd=(sudo)
fi
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -qq
"${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
