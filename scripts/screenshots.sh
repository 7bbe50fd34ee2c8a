#!/usr/bin/env bash
# Regenerates docs/screenshots/*.png: the progress window during bring-up, the
# main window on the simulated board, the About box, the pin panel set away
# from its defaults and the oscilloscope running four channels with cursors
# and a zoom, under a virtual X server at 1280x800. Builds what is missing.
#   scripts/screenshots.sh            (uses build/default)
#   BUILD_DIR=build/app scripts/screenshots.sh
set -euo pipefail
cd "$(dirname "$0")/.."
build=${BUILD_DIR:-build/default}
if [[ ! -x $build/bin/zelbo || ! -e $build/bin/libUsbBridge.so || ! -x $build/bin/e2e_screenshots || ! -x $build/bin/e2e_analysis_screenshots ||
      ! -x $build/bin/thermal_screenshots ]]; then
  scripts/install-deps.sh
  if [[ $build == build/default ]]; then
    cmake --preset default >/dev/null
  else
    cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  fi
  cmake --build "$build" --target zelbo UsbBridge zelbo_simboard e2e_screenshots e2e_analysis_screenshots thermal_screenshots
fi

out=docs/screenshots
mkdir -p "$out"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
mkdir -p "$tmp/run" && chmod 700 "$tmp/run"
# A fresh user: empty data folder (seeded on start), default profile.
export XDG_DATA_HOME=$tmp/data XDG_CONFIG_HOME=$tmp/config XDG_RUNTIME_DIR=$tmp/run
export ZELBO_BOARD=sim LANGUAGE=en LANG=C.UTF-8

xvfb-run -a -s "-screen 0 1280x800x24" bash -s "$build/bin/zelbo" "$out" <<'INNER'
set -euo pipefail
zelbo=$1 out=$2
"$zelbo" &
pid=$!
trap 'kill $pid 2>/dev/null || true' EXIT
# The simulated board starts bare: the progress window shows the firmware
# download and the FPGA image. Catch it while it is up.
progress_visible() {
  local w
  for w in $(xdotool search --name '^Zelbo Evaluation Software$' 2>/dev/null); do
    if xwininfo -id "$w" | grep -q 'Map State: IsViewable' &&
       [[ $(xwininfo -id "$w" | awk '/Width:/ {print $2}') -lt 800 ]]; then
      return 0
    fi
  done
  return 1
}
for _ in $(seq 1 500); do
  if progress_visible; then
    sleep 0.1
    import -window root "$out/progress.png"
    break
  fi
  sleep 0.01
done
# Ready: the power button is enabled once the link runs.
sleep 6
import -window root "$out/main_window.png"
# F1 (Help) opens the About box.
win=$(xdotool search --name '^Zelbo Evaluation Software$' | head -n1)
xdotool windowfocus --sync "$win" 2>/dev/null || true
xdotool key --window "$win" F1
sleep 1
import -window root "$out/about.png"
xdotool key --window "$win" Return
sleep 0.5
# Power on: the power button sits at the top left of the window.
xdotool mousemove 123 78 click 1
sleep 2
import -window root "$out/powered_on.png"
kill $pid
wait $pid 2>/dev/null || true
INNER
# A start with no board at all (the real USB path): no_board.png.
env -u ZELBO_BOARD xvfb-run -a -s "-screen 0 1280x800x24" bash -s "$build/bin/zelbo" "$out" <<'INNER'
set -euo pipefail
zelbo=$1 out=$2
"$zelbo" &
pid=$!
trap 'kill $pid 2>/dev/null || true' EXIT
sleep 5
import -window root "$out/no_board.png"
kill $pid
wait $pid 2>/dev/null || true
INNER
# The program driven from inside (pin panel, oscilloscope, its instrument
# views, advance mode, a dynamic sequence): pin_panel.png, scope_running.png,
# scope_measurements.png, scope_step_levels.png, scope_xy.png,
# advance_mode.png and dynamic_running.png.
xvfb-run -a -s "-screen 0 1280x800x24" "$build/bin/e2e_screenshots" "$out"
# The powered window filling a laptop and a desktop screen, the measurement
# strip full: main_1366x768.png and main_1600x1000.png.
for size in 1366x768 1600x1000; do
  xvfb-run -a -s "-screen 0 ${size}x24" "$build/bin/e2e_screenshots" "$out" fill
done
# The temperature monitor during a run and at its end: tj_monitor.png and
# tj_finished.png (its workbook stays in the scratch folder).
xvfb-run -a -s "-screen 0 1280x800x24" "$build/bin/thermal_screenshots" "$out" "$tmp/tj_monitor.xlsx"
echo "screenshots written to $out"
ls -l "$out"
# The analyser (spectrum, math channel, amplitude cursors) and a time base
# longer than one sweep (scope_not_acquired_*) at 1366x768 and large.
for size in 1366x768 1920x1200; do
  XDG_DATA_HOME=$tmp/data-$size XDG_CONFIG_HOME=$tmp/config-$size \
    xvfb-run -a -s "-screen 0 ${size}x24" "$build/bin/e2e_analysis_screenshots" "$out" "$size"
done
