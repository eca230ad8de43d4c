#!/usr/bin/env bash
# Runs the real console binary under Xvfb the way an operator would: types a free port,
# clicks the listen button, lets a simulated terminal register and saves a screenshot.
# Arguments: console binary, simulator binary, artifact directory.
set -euo pipefail
console="$1"
simulator="$2"
artifacts="$3"
mkdir -p "$artifacts"

pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
}
trap cleanup EXIT

display=""
for n in $(seq 90 140); do
  if [[ ! -e "/tmp/.X11-unix/X$n" && ! -e "/tmp/.X$n-lock" ]]; then display=":$n"; break; fi
done
[[ -n "$display" ]] || { echo "no free X display"; exit 1; }
Xvfb "$display" -screen 0 1280x800x24 -nolisten tcp >/dev/null 2>&1 &
pids+=($!)
export DISPLAY="$display"
for _ in $(seq 100); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done

# A port nobody listens on.
port=$("$(dirname "$0")/../../scripts/free-port.sh")

QT_QPA_PLATFORM=xcb "$console" >"$artifacts/console-xvfb.log" 2>&1 &
pids+=($!)
window=$(timeout 20 xdotool search --sync --name "Corvelle采集程序" | head -n 1)
[[ -n "$window" ]] || { echo "console window did not appear"; exit 1; }
sleep 1

# Template positions (dialog units x 1.5): the settings panel sits at (8, 390) in the main
# window; its port edit is centred at (117, 40) and its listen button at (118, 90).
xdotool mousemove --window "$window" 125 430 click 1
xdotool key --window "$window" ctrl+a
xdotool type --window "$window" "$port"
xdotool mousemove --window "$window" 126 480 click 1

"$simulator" --port "$port" --name "屏幕测试终端" --model 6C >"$artifacts/sim-xvfb.log" 2>&1 &
pids+=($!)
for _ in $(seq 150); do
  grep -q "registration status 1" "$artifacts/sim-xvfb.log" && break
  sleep 0.1
done
if ! grep -q "registration status 1" "$artifacts/sim-xvfb.log"; then
  echo "the simulated terminal was not registered"; cat "$artifacts/sim-xvfb.log"; exit 1
fi
# Let a few polls arrive so the values, lamps and trend lines show.
sleep 4
xwd -root -silent | xwdtopnm 2>/dev/null | pnmtopng >"$artifacts/console-xvfb.png"
echo "screenshot: $artifacts/console-xvfb.png"
