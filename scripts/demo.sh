#!/usr/bin/env bash
# Shows Lumivore in a virtual X display (Xvfb + openbox) and saves screenshots.
set -euo pipefail
exe="$1"
out="${LUMIVORE_DEMO_DIR:-$PWD/out/demo}"
mkdir -p "$out"
work=$(mktemp -d)
cleanup() {
  [ -n "${app_pid:-}" ] && kill "$app_pid" 2>/dev/null || true
  [ -n "${wm_pid:-}" ] && kill "$wm_pid" 2>/dev/null || true
  [ -n "${x_pid:-}" ] && kill "$x_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

exec 3<> "$work/displayfd"
Xvfb -displayfd 3 -screen 0 1920x1080x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
x_pid=$!
for _ in $(seq 100); do
  num=$(head -n1 "$work/displayfd" 2>/dev/null || true)
  [ -n "$num" ] && break
  sleep 0.05
done
[ -n "${num:-}" ] || { echo "Xvfb did not start" >&2; exit 1; }
export DISPLAY=":$num"
openbox >"$work/openbox.log" 2>&1 &
wm_pid=$!
sleep 0.5

# Lumivore keeps its settings beside the executable: run a copy so the demo
# leaves the user's settings alone. The copy finds its window module beside it.
cp "$exe" "$work/lumivore"
ln -s "$(dirname "$(realpath "$exe")")/liblumivore-window.so" "$work/liblumivore-window.so"
"$work/lumivore" >"$work/lumivore.log" 2>&1 &
app_pid=$!
win=""
for _ in $(seq 100); do
  win=$(xdotool search --onlyvisible --class '^TLumivoreForm$' 2>/dev/null | head -n1 || true)
  [ -n "$win" ] && break
  sleep 0.1
done
[ -n "$win" ] || { echo "Lumivore showed no window; its output:" >&2; cat "$work/lumivore.log" >&2; exit 1; }
sleep 1
shot="$out/lumivore-started.png"
import -window root "$shot"
close="$out/lumivore-window.png"
import -frame -window "$win" "$close"
echo "Lumivore is running in a virtual display; screenshots: $shot $close"
if [ -x "$(dirname "$0")/demo-gesture.sh" ]; then
  bash "$(dirname "$0")/demo-gesture.sh" "$out"
fi
