#!/usr/bin/env bash
# Checks a built package: its file list, then the packaged corvelled run from the unpacked
# tree (--version, no display library needed, a short listen that SIGTERM stops with status 0).
# Argument: the .deb file.
set -euo pipefail
deb="$1"
expected=(
  ./usr/bin/corvelle
  ./usr/bin/corvelled
  ./usr/bin/corvelle-sim
  ./usr/share/applications/corvelle.desktop
  ./usr/share/icons/hicolor/scalable/apps/corvelle.svg
  ./usr/lib/systemd/system/corvelled.service
  ./etc/default/corvelled
  ./usr/share/doc/corvelle/copyright
  ./usr/share/doc/corvelle/changelog.gz
)
listing=$(dpkg-deb -c "$deb" | awk '{print $6}')
for path in "${expected[@]}"; do
  grep -qx -- "$path" <<<"$listing" || { echo "missing from the package: $path"; exit 1; }
done
dpkg-deb -f "$deb" Depends | grep -q libqt6network6 || { echo "no Qt dependency found"; exit 1; }
dpkg-deb -I "$deb" conffiles | grep -qx /etc/default/corvelled || { echo "conffile not marked"; exit 1; }

tree=$(mktemp -d)
trap 'rm -rf "$tree"' EXIT
dpkg-deb -x "$deb" "$tree"
"$tree/usr/bin/corvelled" --version | grep -q "^corvelled " || { echo "no version"; exit 1; }
# The service must start where no display libraries exist.
if objdump -p "$tree/usr/bin/corvelled" | grep -E "NEEDED +libQt6(Gui|Widgets)"; then
  echo "corvelled needs a display library"
  exit 1
fi

port=$("$(dirname "$0")/../scripts/free-port.sh")
"$tree/usr/bin/corvelled" --port "$port" 2>"$tree/log" &
pid=$!
for _ in $(seq 100); do grep -q "listening on" "$tree/log" && break; sleep 0.05; done
grep -q "listening on" "$tree/log" || { cat "$tree/log"; echo "did not listen"; exit 1; }
(exec 3<>"/dev/tcp/127.0.0.1/$port") || { echo "no connection"; exit 1; }
kill -TERM "$pid"
status=0
wait "$pid" || status=$?
[[ $status -eq 0 ]] || { cat "$tree/log"; echo "exit status $status after SIGTERM"; exit 1; }
echo "package ok: $(basename "$deb")"
