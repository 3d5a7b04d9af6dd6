// Colour filters and colour-depth reductions over the program's bitmap: plain
// functions, no GUI. Full-colour input means 24- or 32-bit; the fourth byte
// of a 32-bit pixel plays no part in any result.
#pragma once

#include <vector>

#include "imaging/Bitmap.h"

namespace lumivore {

// Sepia toning in place: Y = (114 B + 587 G + 299 R) div 1000, then blue
// Y - 35, green Y + 13, red Y + 22, each clamped to 0..255. Full colour only;
// false (and nothing changed) otherwise.
bool SepiaTone(Bitmap& bitmap);
// The same from `source` into `out` as a 24-bit picture (`out` untouched on
// failure); one pass, where a copy followed by the in-place tone takes two.
bool SepiaTone(const Bitmap& source, Bitmap& out);

// The sepia tone of the 32-bit picture the screen shows, into `out` (24-bit),
// with each row of `view` redrawn from its toned row in the same pass: what
// SepiaTone(view, out) followed by ConvertToBgrx32(out, view) gives. False,
// nothing changed, for another format or when memory runs out.
bool SepiaShownPicture(Bitmap& view, Bitmap& out);

// Every colour channel c becomes 255 - c, in place. A palette bitmap keeps
// its palette: each inverted colour is mapped to the nearest palette entry.
bool InvertColours(Bitmap& bitmap);
// The same from `source` into `out`, which takes the source's format.
bool InvertColours(const Bitmap& source, Bitmap& out);
// The negative of the 32-bit picture the screen shows, in place, with `out`
// made from each inverted row in the same pass as a new picture of `format`
// (24-bit, or 32-bit with the view's fourth bytes). False, nothing changed,
// for another view or format or when memory runs out.
bool InvertShownPicture(Bitmap& view, Bitmap& out, PixelFormat format);

// Pixelates the area [left, right) x [top, bottom) (clipped to the picture)
// in blocks of n x n pixels starting at the area's top-left corner; blocks at
// the right and bottom may be partial. Each block gets the truncated average
// of its pixels. Full colour only; false for n < 1 or another format.
bool Mosaic(Bitmap& bitmap, int left, int top, int right, int bottom, int n);
// The same from `source` into `out`, which takes the source's format.
bool Mosaic(const Bitmap& source, Bitmap& out, int left, int top, int right, int bottom, int n);
// The mosaic of the 32-bit picture the screen shows, in place, with `out`
// made from it in the same pass as a new picture of `format` (24-bit, or
// 32-bit with the view's fourth bytes). False, `out` untouched, for another
// view or format, for n < 1, or when memory runs out (the view may then be
// part-way through and is to be drawn again).
bool MosaicShownPicture(Bitmap& view, Bitmap& out, PixelFormat format, int left, int top,
                        int right, int bottom, int n);

// The palette of the 1-bit reduction: black, white.
const std::vector<Rgb>& MonoPalette();
// The standard 16-colour palette of the 4-bit reduction.
const std::vector<Rgb>& StandardPalette16();

// Full colour to 1 bit per pixel: each pixel takes the nearer of black and
// white. `out` is untouched on failure (it may be the source itself).
bool ReduceToMono(const Bitmap& source, Bitmap& out);
// Full colour to 4 bits per pixel with the standard 16-colour palette, each
// pixel the nearest entry (squared RGB distance, the first entry wins ties).
bool ReduceTo16Colours(const Bitmap& source, Bitmap& out);
// The 2- or 16-colour reduction (`colours` 2 or 16) of the 32-bit picture
// the screen shows, into `out`, with each row of `view` redrawn from its
// reduced row while both are in cache: what the reduction followed by
// ConvertToBgrx32(out, view) gives, in one pass. False, nothing changed,
// for another format or number of colours, or when memory runs out.
bool ReduceShownPicture(Bitmap& view, Bitmap& out, int colours);
// Full colour to an 8-bit palette picture through the JPEG codec: encoded as
// a baseline JPEG at quality 90, decoded with the library's two-pass colour
// quantiser (236 colours, Floyd-Steinberg dithering). `out` is untouched on
// failure.
bool ReduceTo256Colours(const Bitmap& source, Bitmap& out);

// Draws a full-colour picture onto a palette bitmap of the same size, each
// colour mapped to the nearest palette entry; the destination keeps its
// format and palette.
bool DrawIntoPalette(const Bitmap& source, Bitmap& destination);

}  // namespace lumivore
