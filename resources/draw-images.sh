#!/usr/bin/env bash
# Draws Lumivore's pictures (tool buttons, capture tool, cursor, icon) with
# ImageMagick. The PNGs are committed; run this only to change them.
set -euo pipefail
cd "$(dirname "$0")/images"
teal='#008080'

# Every picture is drawn twice: at its size, and at twice its size for
# screens at twice the scale (NAME@2x.png, the same drawing scaled, strokes
# included). pic SIZE NAME SCALE SUFFIX [convert arguments, from the canvas
# on]: a SIZE x SIZE picture at SCALE, each -draw string and stroke width scaled.
pic() {
  local size=$1 name=$2 s=$3 suffix=$4
  shift 4
  local args=() a prev=
  for a in "$@"; do
    if [ "$prev" = -draw ]; then a="scale $s,$s $a"; fi
    if [ "$prev" = -strokewidth ]; then a=$((a * s)); fi
    args+=("$a")
    prev=$a
  done
  convert -size $((size * s))x$((size * s)) "${args[@]}" "$name$suffix.png"
}
# both_pics SIZE NAME [convert arguments, from the canvas on]
both_pics() {
  local size=$1 name=$2
  shift 2
  pic "$size" "$name" 1 '' "$@"
  pic "$size" "$name" 2 @2x "$@"
}

# Tool buttons, 20 x 20 on transparent.
both_pics 20 btn-copy xc:none -stroke '#404040' -fill white \
  -draw 'rectangle 2,1 12,14' -draw 'rectangle 7,5 17,18' \
  -stroke '#808080' -draw 'line 9,9 15,9' -draw 'line 9,12 15,12' -draw 'line 9,15 13,15'
both_pics 20 btn-save xc:none -stroke '#202020' -fill '#3050b0' -draw 'rectangle 2,2 17,17' \
  -fill white -stroke none -draw 'rectangle 5,3 14,8' \
  -fill '#c0c0c0' -draw 'rectangle 6,12 13,17' -fill '#3050b0' -draw 'rectangle 8,13 10,16'
both_pics 20 btn-menu xc:none -fill '#8a5a2b' -stroke none \
  -draw 'ellipse 10,13 5,4 0,360' \
  -draw 'ellipse 4,7 2,3 0,360' -draw 'ellipse 8,4 2,3 0,360' \
  -draw 'ellipse 12,4 2,3 0,360' -draw 'ellipse 16,7 2,3 0,360'

# Capture tool pictures, 32 x 32 on the tool panel's teal.
both_pics 32 mrk-blank "xc:$teal"
both_pics 32 mrk-wand "xc:$teal" -stroke black -strokewidth 3 -draw 'line 8,8 28,28' \
  -stroke white -strokewidth 3 -draw 'line 4,4 8,8' \
  -stroke yellow -strokewidth 1 -draw 'line 4,0 4,8' -draw 'line 0,4 8,4' \
  -draw 'line 1,1 7,7' -draw 'line 7,1 1,7'
both_pics 32 mrk-stopwatch "xc:$teal" -stroke black -strokewidth 2 -fill white \
  -draw 'circle 16,18 16,5' -fill black -draw 'rectangle 14,2 18,4' \
  -strokewidth 2 -draw 'line 16,18 16,9' -draw 'line 16,18 22,21'

# The capture cursor: black and white only, hot spot (0,0) at the wand's knob.
both_pics 32 capture-cursor xc:none -stroke white -strokewidth 5 -draw 'line 2,2 27,27' \
  -stroke black -strokewidth 3 -draw 'line 6,6 27,27' \
  -stroke white -strokewidth 1 -fill black -draw 'rectangle 0,0 5,5' \
  -channel A -threshold 50% +channel

# Application icon: drawn on a 32 x 32 grid, scaled to `size`. The window uses the 32 x 32
# one; the installed copies go into the hicolor icon theme.
app_icon() {
  local size=$1 out=$2 s
  s=$(awk "BEGIN { print $size / 32 }")
  convert -size "${size}x${size}" xc:none -define png:exclude-chunks=date,time \
    -draw "scale $s,$s fill $teal stroke #004040 roundrectangle 0,0 31,31 6,6" \
    -draw "scale $s,$s stroke black stroke-width 3 line 10,10 26,26" \
    -draw "scale $s,$s stroke white stroke-width 3 line 6,6 10,10" \
    -draw "scale $s,$s stroke yellow stroke-width 1 line 6,1 6,11 line 1,6 11,6" "$out"
}
app_icon 32 lumivore.png
for size in 16 24 32 48 64 128 256; do
  mkdir -p "../icons/hicolor/${size}x${size}/apps"
  app_icon "$size" "../icons/hicolor/${size}x${size}/apps/lumivore.png"
done
