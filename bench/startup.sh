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

source "$root/bench/x-session.sh"
cc -O2 -o "$work/probe" "$root/bench/startup-probe.c" $(pkg-config --cflags --libs xcb)
start_x_session 1920x1080x24

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
