#!/usr/bin/env bash
# Writes the corvelled package's postinst, prerm and postrm into OUTDIR from debhelper's own
# systemd snippets, as dh_installsystemd puts them together: enable on install, restart on
# upgrade, stop on removal, forget the unit's state on purge.
set -euo pipefail
out="$1"
unit="'corvelled.service'"
snippets=/usr/share/debhelper/autoscripts
write() {
  local name="$1"
  shift
  {
    printf '#!/bin/sh\nset -e\n'
    for snippet in "$@"; do
      sed -e "s/#UNITFILE#/$unit/g; s/#UNITFILES#/$unit/g; s/#RESTART_ACTION#/restart/g" \
        "$snippets/$snippet"
    done
    printf 'exit 0\n'
  } >"$out/$name"
  chmod 0755 "$out/$name"
}
mkdir -p "$out"
write postinst postinst-systemd-enable postinst-systemd-restart
write prerm prerm-systemd-restart
write postrm postrm-systemd postrm-systemd-reload-only
