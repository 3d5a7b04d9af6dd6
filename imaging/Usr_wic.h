// Lumivore's whole contact with image files, and the pixel operations that
// change a bitmap's geometry or colour. Every routine reports success as a
// boolean, prints nothing and lets no exception escape; the caller decides
// what the user sees.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "imaging/Bitmap.h"

namespace lumivore {

// Reads the file (UTF-8 path) into a 24-bit bitmap. The format is recognised
// from the content, never from the name. On failure the bitmap is untouched.
bool WicLoadImage(const std::string& fileName, Bitmap& bitmap);

// Writes the bitmap into the container named by the file name's extension
// (BMP, JPEG, PNG, GIF, TIFF, JPEG XR). quality is for JPEG and JPEG XR,
// subsampling for JPEG (0..3), tiffCompression for TIFF (0..7). An existing
// file is replaced only once the new one is completely on disk.
bool WicSaveImage(const std::string& fileName, const Bitmap& bitmap, int quality, int subsampling,
                  int tiffCompression);

// Whether WicSaveImage writes a file of this name: its extension names one of
// the containers above.
bool WicCanEncode(const std::string& fileName);

// Encodes the bitmap in memory exactly as WicSaveImage would write it for
// that name (a bare extension such as ".png" will do), without touching any
// file: what the clipboard offers is what a saved file would hold.
bool WicEncodeImage(const std::string& fileName, const Bitmap& bitmap, int quality, int subsampling,
                    int tiffCompression, std::vector<std::uint8_t>& out);

// Resamples source into destination (which may be the same bitmap). With
// factor > 0 the new size is the source size times factor, truncated;
// otherwise width x height. mode: 1 bilinear, 2 bicubic, 3 area (Fant), any
// other nearest neighbour. The source is first made 24-bit in place.
bool WicScaleImage(Bitmap& source, Bitmap& destination, double factor, int width, int height,
                   int mode);

// code: 1 rotate 90 degrees clockwise, 2 rotate 180, 3 rotate 270 clockwise,
// 4 mirror left-right, 5 mirror top-bottom; any other value only makes the
// bitmap 24-bit.
bool WicFlipRotate(Bitmap& bitmap, unsigned code);
// The same from `source` into `out` (which may be the source itself); `out`
// is untouched on failure.
bool FlipRotate(const Bitmap& source, Bitmap& out, unsigned code);
// Mirrors the 32-bit picture the screen shows, in place, left-right (code 4)
// or top-bottom (5), with `out` made from it in the same pass as a 24-bit
// picture; the view ends as ConvertToBgrx32 of `out` draws it. False, `out`
// untouched, for another view or code or when memory runs out (the view may
// then be part-way through and is to be drawn again).
bool MirrorShownPicture(Bitmap& view, Bitmap& out, unsigned code);

// Any format in, 24-bit grey out (one luminance value per pixel).
bool WicGrayScale(Bitmap& bitmap);
// The same from `source` into `out` (which may be the source itself).
bool GrayScale(const Bitmap& source, Bitmap& out);

}  // namespace lumivore
