// The layout of a screen's pixels in a Z-pixmap image, and their conversion
// to Bitmap's 32-bit 0x00RRGGBB words.
#pragma once

#include <xcb/xcb.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "imaging/Bitmap.h"

namespace lumivore {

class PixelLayout {
 public:
  // The layout of the root window's visual; nullopt unless it is TrueColor
  // (or DirectColor) with 8, 16, 24 or 32 bits per pixel.
  static std::optional<PixelLayout> OfRoot(const xcb_setup_t* setup, const xcb_screen_t* screen);
  // The same for a window of `depth` with visual `visual` (a 32-bit window
  // with an alpha channel among them: the alpha is not read).
  static std::optional<PixelLayout> OfVisual(const xcb_setup_t* setup, const xcb_screen_t* screen,
                                             std::uint8_t depth, xcb_visualid_t visual);
  // A layout given directly (bits per pixel, scanline pad in bits, byte
  // order, channel masks).
  PixelLayout(int bitsPerPixel, int scanlinePad, bool msbFirst, std::uint32_t redMask,
              std::uint32_t greenMask, std::uint32_t blueMask);

  // Bytes of one image row of `width` pixels, padding included.
  std::size_t stride(int width) const;
  // Whether a pixel's bytes already are a 0x00RRGGBB little-endian word.
  bool isBgrx32() const { return bgrx32_; }
  // One pixel read from `src`.
  Rgb pixel(const std::uint8_t* src) const;
  // Whether the pixel at `src` is wholly opaque: always, unless the visual
  // has an alpha channel (the bits of its depth outside the three colours).
  bool opaque(const std::uint8_t* src) const {
    return (raw(src) & alphaMask_) == alphaMask_;
  }
  bool hasAlpha() const { return alphaMask_ != 0; }
  int bytesPerPixel() const { return bytesPerPixel_; }
  // `width` pixels of one image row into 32-bit words at `dst`.
  void convertRow(const std::uint8_t* src, int width, std::uint8_t* dst) const;

 private:
  std::uint32_t raw(const std::uint8_t* src) const;

  int bytesPerPixel_;
  int scanlinePad_;
  bool msbFirst_;
  bool bgrx32_;
  std::uint32_t alphaMask_ = 0;
  // Per channel: the shift of its lowest bit and a table from its values to 0..255.
  std::array<int, 3> shift_{};
  std::array<std::uint32_t, 3> max_{};
  std::array<std::vector<std::uint8_t>, 3> scale_;
};

}  // namespace lumivore
