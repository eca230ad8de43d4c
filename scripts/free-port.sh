#!/usr/bin/env bash
# Prints a TCP port on 127.0.0.1 that nobody listens on, for the scripts that start servers.
set -euo pipefail
for _ in $(seq 50); do
  candidate=$((20000 + RANDOM % 40000))
  if ! (exec 3<>"/dev/tcp/127.0.0.1/$candidate") 2>/dev/null; then
    echo "$candidate"
    exit 0
  fi
done
echo "no free port" >&2
exit 1
