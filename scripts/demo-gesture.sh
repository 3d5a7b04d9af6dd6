#!/usr/bin/env bash
# Part of the demo: drags Lumivore's wand onto a sample window with real
# pointer events and saves screenshots before and after the capture.
# Expects DISPLAY to point at the demo's virtual display with Lumivore running.
set -euo pipefail
out="$1"
xterm -class DemoTerm -title "Lumivore demo" -geometry 60x15+120+120 \
  -e sh -c 'echo "Drag the wand onto this window"; sleep 600' >/dev/null 2>&1 &
term_pid=$!
trap 'kill $term_pid 2>/dev/null || true' EXIT
xdotool search --sync --classname --class DemoTerm >/dev/null 2>&1 || true
sleep 1
lumivore=$(xdotool search --class TLumivoreForm | head -n1)
# Lumivore put the pointer on its capture tool when it opened.
xdotool mousedown 1
for step in 1 2 3 4 5 6 7 8; do
  eval "$(xdotool getmouselocation --shell)"
  xdotool mousemove $(( X - (X - 300) * step / 8 )) $(( Y - (Y - 250) * step / 8 ))
  sleep 0.1
done
sleep 0.4
before="$out/lumivore-dragging.png"
import -window root "$before"
xdotool mouseup 1
sleep 1
after="$out/lumivore-captured.png"
import -window root "$after"
echo "Dragging the wand over a window: $before"
echo "After the release, the captured picture in Lumivore: $after"
[ -n "$lumivore" ] || echo "(Lumivore's window was not found)" >&2
