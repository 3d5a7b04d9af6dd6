#!/usr/bin/env bash
# Measures the memory and the times of the undo history on a throwaway X
# server: Xvfb 3840x2160 with openbox and a 3800x2100 xterm full of text as
# the window to capture. The main window captures it, applies 20 edits of one
# kind (negative, resize 50 % and 200 % in turn, rotation, grey) and undoes
# them; printed per kind: resident memory after the capture, after the 20th
# edit and once the steps are packed, the pack lag, for the edits and the
# undos the median wall time, the median processor time of all threads (which
# a busy machine does not stretch) and the slowest, and the memory once all is
# undone. Given the build directory of an older tree (with undo_bench.cpp and
# util/SystemMemory.* copied in), it measures that tree the same way.
# Usage: bench/run-undo-memory.sh [build directory]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:-$root/build}"
exe="$build/bench/undo_bench"
[ -x "$exe" ] || { echo "build $exe first" >&2; exit 1; }

source "$root/bench/x-session.sh"
start_x_session 3840x2160x24
# 633 x 161 cells of the 6 x 13 font: about 3800 x 2100 pixels of text.
start_xterm XTermUndo -geometry 633x161+10+10 \
  -e sh -c 'ls -l /usr/lib/x86_64-linux-gnu /usr/bin | paste - - - - - | head -300; sleep 600'

"$exe"
