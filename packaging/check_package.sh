#!/usr/bin/env bash
# Checks the built packages: both file lists, the service's maintainer scripts and
# dependencies (no display library), Debian's hardening in every program, then the packaged
# corvelled run from the two packages unpacked into one tree (--version, a short listen that
# SIGTERM stops with status 0). Arguments: the corvelle and the corvelled .deb files.
set -euo pipefail
console="$1"
service="$2"

check_list() {
  local deb="$1"
  shift
  local listing
  listing=$(dpkg-deb -c "$deb" | awk '{print $6}')
  for path in "$@"; do
    grep -qx -- "$path" <<<"$listing" || { echo "missing from $(basename "$deb"): $path"; exit 1; }
  done
}
check_list "$console" \
  ./usr/bin/corvelle ./usr/bin/corvelle-sim \
  ./usr/share/applications/corvelle.desktop \
  ./usr/share/icons/hicolor/scalable/apps/corvelle.svg \
  ./usr/share/man/man1/corvelle.1.gz ./usr/share/man/man1/corvelle-sim.1.gz \
  ./usr/share/doc/corvelle/copyright ./usr/share/doc/corvelle/changelog.gz
check_list "$service" \
  ./usr/bin/corvelled ./usr/lib/systemd/system/corvelled.service ./etc/default/corvelled \
  ./etc/corvelle/terminals.toml \
  ./usr/share/man/man1/corvelled.1.gz ./usr/share/doc/corvelled/examples/profiles.toml \
  ./usr/share/doc/corvelled/copyright ./usr/share/doc/corvelled/changelog.gz
if dpkg-deb -c "$console" | grep -q corvelled; then echo "the console package has the service"; exit 1; fi

dpkg-deb -f "$console" Depends | grep -q libqt6widgets6 || { echo "console: no Qt dependency"; exit 1; }
depends=$(dpkg-deb -f "$service" Depends)
grep -q libqt6network6 <<<"$depends" || { echo "corvelled: no Qt Network dependency"; exit 1; }
if grep -Eiq "libqt6gui|libqt6widgets|qcustomplot" <<<"$depends"; then
  echo "corvelled depends on a display library: $depends"
  exit 1
fi
for conffile in /etc/default/corvelled /etc/corvelle/terminals.toml; do
  dpkg-deb -I "$service" conffiles | grep -qx "$conffile" || { echo "$conffile not marked"; exit 1; }
done
for script in postinst prerm postrm; do
  dpkg-deb -I "$service" "$script" | grep -q "deb-systemd-" || { echo "$script: no systemd helper"; exit 1; }
done

tree=$(mktemp -d)
trap 'rm -rf "$tree"' EXIT
dpkg-deb -x "$console" "$tree"
dpkg-deb -x "$service" "$tree"
for program in corvelle corvelled corvelle-sim; do
  binary="$tree/usr/bin/$program"
  # PIE, full relro (relro and now), the stack protector and fortified calls.
  # Read whole first: grep -q ending early would fail the pipe.
  header=$(readelf -h "$binary")
  segments=$(readelf -lW "$binary")
  dynamic=$(readelf -dW "$binary")
  symbols=$(readelf -sW --dyn-syms "$binary")
  grep -q "Type: *DYN" <<<"$header" || { echo "$program: not PIE"; exit 1; }
  grep -q GNU_RELRO <<<"$segments" || { echo "$program: no relro"; exit 1; }
  grep -Eq "BIND_NOW|FLAGS.*NOW" <<<"$dynamic" || { echo "$program: no bindnow"; exit 1; }
  grep -q __stack_chk_fail <<<"$symbols" || { echo "$program: no stack protector"; exit 1; }
  [[ $program == corvelle-sim ]] || grep -q "__.*_chk@" <<<"$symbols" ||
    { echo "$program: not fortified"; exit 1; }
done

"$tree/usr/bin/corvelled" --version | grep -q "^corvelled " || { echo "no version"; exit 1; }
# The service must start where no display libraries exist.
if objdump -p "$tree/usr/bin/corvelled" | grep -Ei "NEEDED +(libQt6(Gui|Widgets)|libqcustomplot)"; then
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
echo "packages ok: $(basename "$console") $(basename "$service")"
