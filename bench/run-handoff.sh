#!/usr/bin/env bash
# Measures the hand-off on a throwaway X server (Xvfb 3840x2160, no window
# manager), with the built program:
#  - copy-button click to the first key event arriving in the target xterm
#    (target found at once, no program to wait for), side by side with
#    `xdotool key` typing into the same xterm;
#  - the answer time of the clipboard for a 3840x2160 screenshot-like picture
#    requested as image/png (`xclip -o`), Lumivore owning the clipboard,
#    against `xclip -i` owning the same PNG.
# Usage: bench/run-handoff.sh [build directory] [runs]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:-$root/build}"
runs="${2:-7}"
exe="$build/lumivore"
[ -x "$exe" ] || { echo "build $exe first" >&2; exit 1; }
for tool in Xvfb xdotool xclip convert display python3; do
  command -v "$tool" >/dev/null || { echo "$tool is needed" >&2; exit 1; }
done
exec python3 "$root/bench/handoff_bench.py" "$exe" "$runs"
