#!/usr/bin/env bash
# GIF saving of screenshots: takes screenshots of real X clients on a private
# Xvfb (anti-aliased xterm text, X logo, eyes and clock, ImageMagick's viewer
# showing a photo, under openbox), then compares our GIF encoder with
# ImageMagick's and giflib's median cut on them: encoding time and colour
# error. Exits non-zero when ours is further from a picture than ImageMagick.
# The screenshots stay in build-bench/gif-shots/ for a look.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DLUMIVORE_BUILD_TESTS=OFF \
  -DLUMIVORE_BUILD_BENCH=ON >/dev/null
cmake --build build-bench -j2 --target gif_bench

shots=build-bench/gif-shots
rm -rf "$shots"
mkdir -p "$shots"
photo=${LUMIVORE_TESTDATA:-/work/shared/testdata}/jpeg/testorig.jpg
[ -f "$photo" ] || photo=rose:  # ImageMagick's built-in photo

display_number=$((90 + RANDOM % 100))
while [ -e "/tmp/.X${display_number}-lock" ]; do display_number=$((display_number + 1)); done
export DISPLAY=":$display_number"
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
}
trap cleanup EXIT

Xvfb "$DISPLAY" -screen 0 1600x1000x24 -nolisten tcp >/dev/null 2>&1 &
pids+=($!)
for _ in $(seq 300); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done
xdpyinfo >/dev/null 2>&1 || { echo "run-gif: Xvfb did not start" >&2; exit 1; }
openbox >/dev/null 2>&1 &
pids+=($!)

start() {  # a client, then wait until a window of its class is mapped
  local class=$1
  shift
  "$@" >/dev/null 2>&1 &
  pids+=($!)
  timeout 20 xdotool search --sync --onlyvisible --class "$class" >/dev/null
}

# Scene 1: text. Anti-aliased fonts give each glyph edge its own blend of
# foreground and background.
start XTerm xterm -geometry 100x40+10+10 -fa 'DejaVu Sans Mono' -fs 11 -bg '#fdf6e3' -fg '#073642' \
  -e sh -c 'ls -l --color=always /usr/bin | head -60; dpkg -l | head -30; exec sleep 600'
start XTerm xterm -geometry 70x30+830+10 -fa 'DejaVu Sans' -fs 12 -bg '#1e1e2e' -fg '#a6e3a1' \
  -e sh -c 'printf "\033[31mred \033[32mgreen \033[34mblue \033[35mmagenta\033[0m\n"; ls --color=always -R /etc | head -80; exec sleep 600'
start XLogo xlogo -render -geometry 300x300+830+560
start XEyes xeyes -render -geometry 300x200+1150+560
sleep 1  # let the clients finish drawing their first frames
import -window root "$shots/text.png"

# Scene 2: a photo in ImageMagick's viewer over the text.
start Display display -resize 250% -geometry +300+150 "$photo"
start XClock xclock -render -analog -geometry 250x250+1300+700
sleep 1
import -window root "$shots/photo.png"

# Scene 3: the same desktop at half size, as a scaled screenshot saved as GIF
# would be (scaling blends every edge).
convert "$shots/photo.png" -filter Triangle -resize 50% "$shots/photo-half.png"

build-bench/bench/gif_bench "$shots"/*.png
