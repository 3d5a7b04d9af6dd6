#!/usr/bin/env bash
# Regenerates the fuzz seed corpus: tiny pictures of every format the loader
# reads, in the variants that take different decoder paths. Needs
# ImageMagick and JxrEncApp (libjxr-tools). Output: fuzz/corpus/.
set -euo pipefail
cd "$(dirname "$0")"
out=corpus
rm -rf "$out" && mkdir -p "$out"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
base="$tmp/base.png"
convert -size 12x9 gradient:'#ff2010'-'#1040f0' -fill white -draw 'rectangle 2,2 5,5' "$base"
alpha="$tmp/alpha.png"
convert "$base" -alpha set -channel A -fx 'i/w' +channel "$alpha"
c() { convert "$@" 2>/dev/null; }

c "$base" -type truecolor "BMP3:$out/rgb24.bmp"
c "$base" -colors 16 -type palette "BMP3:$out/pal4.bmp"
c "$base" -colors 200 -type palette -compress RLE "BMP3:$out/rle8.bmp"
c "$base" -colors 12 -type palette -compress RLE -depth 4 "BMP3:$out/rle4.bmp"
c "$base" -define bmp:subtype=RGB565 "$out/rgb565.bmp"
c "$alpha" "$out/rgba32.bmp"
c "$base" -monochrome "BMP3:$out/mono.bmp"

c "$base" -quality 80 "$out/baseline.jpg"
c "$base" -quality 80 -interlace plane "$out/progressive.jpg"
c "$base" -colorspace gray "$out/grey.jpg"
c "$base" -colorspace CMYK "$out/cmyk.jpg"
c "$base" -sampling-factor 1x1 "$out/444.jpg"

c "$base" "PNG24:$out/rgb.png"
c "$base" -colors 7 "PNG8:$out/palette.png"
c "$base" -colorspace gray -depth 16 "$out/grey16.png"
c "$alpha" "PNG32:$out/rgba.png"
c "$base" -interlace PNG "$out/interlaced.png"

c "$base" -colors 30 "$out/plain.gif"
c "$base" -colors 30 -interlace GIF "$out/interlaced.gif"
c -delay 10 "$base" \( "$base" -negate \) -colors 16 "$out/animated.gif"

c "$base" -compress none "$out/none.tif"
c "$base" -compress lzw "$out/lzw.tif"
c "$base" -compress zip "$out/zip.tif"
c "$base" -compress jpeg "$out/jpeg.tif"
c "$base" -colors 8 -type palette "$out/palette.tif"
c "$base" -colorspace gray -depth 16 "$out/grey16.tif"
c "$base" -interlace plane "$out/planar.tif"
c "$base" -define tiff:tile-geometry=16x16 "$out/tiled.tif"
c "$base" -monochrome -compress group4 "$out/g4.tif"
c "$alpha" "$out/rgba.tif"
c "$base" -depth 32 -define quantum:format=floating-point "$out/float.tif"
c "$base" \( "$base" -negate \) "$out/pages.tif"

c "$base" -quality 70 "$out/lossy.webp"
c "$base" -define webp:lossless=true "$out/lossless.webp"
c "$alpha" -quality 70 "$out/alpha.webp"
c -delay 10 "$base" \( "$base" -negate \) -quality 70 "$out/animated.webp"

c "$base" -type truecolor "BMP3:$tmp/jxr-in.bmp"
JxrEncApp -i "$tmp/jxr-in.bmp" -o "$out/lossless.jxr" >/dev/null 2>&1
JxrEncApp -i "$tmp/jxr-in.bmp" -o "$out/lossy.jxr" -q 40 >/dev/null 2>&1
c "$alpha" -type truecoloralpha "$tmp/jxr-alpha.tif"
JxrEncApp -i "$tmp/jxr-alpha.tif" -o "$out/alpha.jxr" >/dev/null 2>&1 || true
find "$out" -size 0 -delete
ls "$out" | wc -l
du -sh "$out"
