// PNG-compressed icon images for the icon tests and the fuzz corpus.
#pragma once

#include <png.h>

#include "tests/imaging/IconFixtures.h"

namespace lumivore::test {

// An RGBA PNG of w x h written with libpng; `rgba(x, y)` gives each pixel as
// 0xAARRGGBB.
inline IconBytes RgbaPng(int w, int h, const std::function<std::uint32_t(int, int)>& argb) {
  IconBytes out;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  png_set_write_fn(
      png, &out,
      [](png_structp p, png_bytep data, png_size_t n) {
        auto* o = static_cast<IconBytes*>(png_get_io_ptr(p));
        o->insert(o->end(), data, data + n);
      },
      nullptr);
  png_set_IHDR(png, info, w, h, 8, PNG_COLOR_TYPE_RGBA, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  std::vector<std::uint8_t> row(4 * static_cast<std::size_t>(w));
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      const std::uint32_t c = argb(x, y);
      row[4 * x] = (c >> 16) & 0xFF, row[4 * x + 1] = (c >> 8) & 0xFF;
      row[4 * x + 2] = c & 0xFF, row[4 * x + 3] = c >> 24;
    }
    png_write_row(png, row.data());
  }
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  return out;
}

}  // namespace lumivore::test
