// The icons stored in a file: the icon groups of a Windows executable or
// library (PE resources) and the one icon of a multi-image icon file (.ico).
//
// The reader trusts nothing in the file: every offset and size is checked
// against the file before it is used, and nothing is allocated that the
// file's own size does not account for. It prints nothing and never throws.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "imaging/Bitmap.h"

namespace lumivore {

// The size every icon is delivered at.
constexpr int kIconSize = 32;

// The icons of the file (UTF-8 path, any bytes), in the order of the file's
// icon groups: for each group the image that fits 32 x 32 best (an exact
// 32 x 32 image with the most colours, else the nearest size, scaled), as a
// 32 x 32 Bgrx32 bitmap whose fourth byte is the alpha (0 transparent, 255
// opaque). Empty when the file holds no readable icon or is no regular file.
// At most `maxIcons` icons are decoded (counting from the first).
std::vector<Bitmap> ReadFileIcons(const std::string& fileName, std::size_t maxIcons = SIZE_MAX);

// The same over a file image in memory.
std::vector<Bitmap> ReadIconsFromMemory(const std::uint8_t* data, std::size_t size,
                                        std::size_t maxIcons = SIZE_MAX);

// Draws an icon (Bgrx32 with alpha in the fourth byte) at (x, y) of a Bgrx32
// or Bgr24 bitmap, blending it over what is there; parts outside are cut.
void DrawIcon(Bitmap& target, int x, int y, const Bitmap& icon);

// The icons of one file laid out edge to edge on the background colour, in
// rows of k = max(1, areaWidth / 32) from the top: a Bgrx32 picture of
// max(32, min(n, k) * 32) x max(32, ceil(n / k) * 32) pixels. No icons give a
// 32 x 32 picture of the background.
Bitmap LayoutIcons(const std::vector<Bitmap>& icons, int areaWidth, Rgb background);

}  // namespace lumivore
