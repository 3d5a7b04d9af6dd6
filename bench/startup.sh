#!/usr/bin/env bash
# Start-up time of Lumivore: in a private Xvfb with openbox, starts a fresh
# copy of the executable (no settings file) N times and measures from the
# process start until its capture tool is painted under the pointer. Prints
# every run, then the median and the 90th percentile in milliseconds.
#   bench/startup.sh [EXECUTABLE] [N]   (defaults: build/lumivore, 20)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
exe="$(realpath "${1:-$root/build/lumivore}")"
runs="${2:-20}"
[ -x "$exe" ] || { echo "no executable at $exe (build first)" >&2; exit 1; }

work=$(mktemp -d)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT

cc -O2 -o "$work/probe" "$root/bench/startup-probe.c" $(pkg-config --cflags --libs xcb)

. "$root/bench/xvfb.sh"
start_xvfb
openbox >"$work/openbox.log" 2>&1 &
pids+=($!)
for _ in $(seq 200); do
  xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id' && break
  sleep 0.05
done

times=()
for i in $(seq "$runs"); do
  run="$work/run$i"
  mkdir "$run"
  cp "$exe" "$run/lumivore"
  # Park the pointer away from where the window will open.
  xdotool mousemove 10 10
  t=$("$work/probe" "$run/lumivore" 2>>"$work/lumivore.log")
  [ "$t" = timeout ] && { echo "run $i: no window within 10 s" >&2; exit 1; }
  echo "run $i: $t ms"
  times+=("$t")
done

printf '%s\n' "${times[@]}" | sort -g | awk '
  { v[NR] = $1 }
  END {
    median = (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2
    p90 = v[int(0.9 * NR + 0.999999)]
    printf "start-up to painted capture tool, %d runs: median %.1f ms, p90 %.1f ms\n", NR, median, p90
  }'
