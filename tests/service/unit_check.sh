#!/usr/bin/env bash
# The systemd unit as systemd reads it, here where PID 1 is not systemd: verify finds no
# problem, and the offline security analysis rates its exposure 2.0 or lower.
# Arguments: the unit file, and the corvelled its ExecStart is pointed at.
set -euo pipefail
unit="$1"
binary="$2"
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
# The man page it names is checked with the package.
sed -e "s|/usr/bin/corvelled|$binary|" -e '/^Documentation=/d' "$unit" >"$dir/corvelled.service"
output=$(systemd-analyze verify "$dir/corvelled.service" 2>&1)
[[ -z $output ]] || { echo "$output"; exit 1; }
exposure=$(systemd-analyze security --offline=yes "$dir/corvelled.service" |
  sed -n 's/.*Overall exposure level for corvelled.service: \([0-9.]*\).*/\1/p')
echo "exposure $exposure"
awk -v e="$exposure" 'BEGIN { exit !(e != "" && e <= 2.0) }'
