#!/usr/bin/env bash
# Draws the 20 shapes of the cursor stamp with ImageMagick: 32 x 32, black and
# white on transparent (the alpha channel is the mask). The point of each
# shape that lands on the pressed pixel (the stamp's offset) is also the
# pointer's hot spot, so each shape is drawn around it. The PNGs are
# committed; run this only to change them.
set -euo pipefail
cd "$(dirname "$0")/cursors"

# The classic arrow, tip at the origin.
arrow='polygon 0,0 0,15 4,11 7,17 9,16 6,10 11,10'
# A double-headed arrow along the y axis, centred on the origin.
double='polygon 0,-10 5,-5 2,-5 2,5 5,5 0,10 -5,5 -2,5 -2,-5 -5,-5'
# A small hourglass, centred on the origin.
glass='line -4,-6 4,-6 line -4,6 4,6 polygon -3,-5 3,-5 0,0 polygon 0,0 3,5 -3,5'

# Each shape is drawn twice: 32 x 32, and 64 x 64 for screens at twice the
# scale (NAME@2x.png, the same drawing scaled, strokes included).
sizes() {
  local s
  for s in 1 2; do
    "$@" "$s" "$([ "$s" = 1 ] || echo "@${s}x")"
  done
}
# shape NAME OUTLINE-DRAW FILL-DRAW [FILL]: first a white outline three pixels
# wide, then black with a one-pixel stroke; FILL none leaves rings open.
shape() { sizes shape_at "$1" "$2" "$3" "${4:-}"; }
shape_at() {
  convert -size $((32 * $5))x$((32 * $5)) xc:none +antialias \
    -stroke white -strokewidth $((3 * $5)) -fill "${4:-white}" -draw "scale $5,$5 $2" \
    -stroke black -strokewidth $5 -fill "${4:-black}" -draw "scale $5,$5 $3" \
    -channel A -threshold 50% +channel "$1$6.png"
}
# White shapes with a black outline (arrows, hand, documents).
light() { sizes light_at "$1" "$2"; }
light_at() {
  convert -size $((32 * $3))x$((32 * $3)) xc:none +antialias \
    -stroke black -strokewidth $3 -fill white -draw "scale $3,$3 $2" \
    -channel A -threshold 50% +channel "$1$4.png"
}

light arrow "translate 10,10 $arrow"
shape cross 'line 10,0 10,20 line 0,10 20,10' 'line 10,0 10,20 line 0,10 20,10'
shape ibeam 'line 7,1 13,1 line 10,1 10,19 line 7,19 13,19' \
  'line 7,1 9,1 line 11,1 13,1 line 10,2 10,18 line 7,19 9,19 line 11,19 13,19'
shape uparrow 'polygon 10,0 16,6 12,6 12,20 8,20 8,6 4,6' 'polygon 10,0 16,6 12,6 12,20 8,20 8,6 4,6'
shape size-nesw "translate 10,10 rotate 45 $double" "translate 10,10 rotate 45 $double"
shape size-ns "translate 10,10 $double" "translate 10,10 $double"
shape size-nwse "translate 10,10 rotate -45 $double" "translate 10,10 rotate -45 $double"
shape size-we "translate 10,10 rotate 90 $double" "translate 10,10 rotate 90 $double"
shape size-all "translate 10,10 $double rotate 90 $double" "translate 10,10 $double rotate 90 $double"
shape no 'stroke-width 4 circle 10,10 10,2 line 4,4 16,16' \
  'stroke-width 2 circle 10,10 10,2 line 4,4 16,16' none
shape hourglass 'line 3,0 17,0 line 3,20 17,20 polygon 5,1 15,1 10,10 polygon 10,10 15,19 5,19' \
  'line 3,0 17,0 line 3,20 17,20 fill white polygon 5,1 15,1 10,10 polygon 10,10 15,19 5,19
   fill black polygon 7,18 13,18 10,14'

light drag "$arrow rectangle 8,16 20,27 line 10,19 18,19 line 10,22 18,22"
shape nodrop 'stroke-width 4 circle 12,12 12,4 line 6,6 18,18' \
  'stroke-width 2 circle 12,12 12,4 line 6,6 18,18' none
shape hsplit 'line 14,4 14,22 line 18,4 18,22 line 6,13 26,13 polygon 6,13 10,9 10,17 polygon 26,13 22,9 22,17' \
  'line 14,4 14,22 line 18,4 18,22 line 6,13 26,13 polygon 6,13 10,9 10,17 polygon 26,13 22,9 22,17'
shape vsplit 'line 5,10 23,10 line 5,14 23,14 line 14,3 14,21 polygon 14,3 10,7 18,7 polygon 14,21 10,17 18,17' \
  'line 5,10 23,10 line 5,14 23,14 line 14,3 14,21 polygon 14,3 10,7 18,7 polygon 14,21 10,17 18,17'
light multidrag "$arrow rectangle 12,14 22,24 rectangle 9,17 19,27 rectangle 6,20 16,30"
light sqlwait "$arrow ellipse 17,15 7,3 0,360 rectangle 10,15 24,26 ellipse 17,26 7,3 0,180 line 10,15 10,26 line 24,15 24,26"
light appstart "translate 10,10 $arrow translate 16,13 $glass"
light help "translate 10,10 $arrow
  polyline 13,6 14,4 17,4 19,6 19,8 16,10 16,12 line 16,14 16,15"
light handpoint 'roundrectangle 5,0 9,12 2,2 roundrectangle 9,6 12,13 1,1 roundrectangle 12,7 15,14 1,1
  roundrectangle 15,8 18,15 1,1 polygon 5,10 1,12 4,17 6,21 16,21 18,15 18,12 5,12
  line 9,12 9,14 line 12,13 12,14 line 15,14 15,15'
