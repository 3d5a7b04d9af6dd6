#include "app/x11/X11Pixels.h"

#include <bit>
#include <cstring>

namespace lumivore {

std::optional<PixelLayout> PixelLayout::OfRoot(const xcb_setup_t* setup,
                                               const xcb_screen_t* screen) {
  return OfVisual(setup, screen, screen->root_depth, screen->root_visual);
}

std::optional<PixelLayout> PixelLayout::OfVisual(const xcb_setup_t* setup,
                                                 const xcb_screen_t* screen, std::uint8_t depth,
                                                 xcb_visualid_t visualId) {
  int bpp = 0;
  int pad = 0;
  for (auto f = xcb_setup_pixmap_formats_iterator(setup); f.rem; xcb_format_next(&f)) {
    if (f.data->depth == depth) {
      bpp = f.data->bits_per_pixel;
      pad = f.data->scanline_pad;
    }
  }
  if (bpp != 8 && bpp != 16 && bpp != 24 && bpp != 32) return std::nullopt;
  for (auto d = xcb_screen_allowed_depths_iterator(screen); d.rem; xcb_depth_next(&d)) {
    if (d.data->depth != depth) continue;
    for (auto v = xcb_depth_visuals_iterator(d.data); v.rem; xcb_visualtype_next(&v)) {
      const xcb_visualtype_t* visual = v.data;
      if (visual->visual_id != visualId) continue;
      if (visual->_class != XCB_VISUAL_CLASS_TRUE_COLOR &&
          visual->_class != XCB_VISUAL_CLASS_DIRECT_COLOR) {
        return std::nullopt;
      }
      for (std::uint32_t mask : {visual->red_mask, visual->green_mask, visual->blue_mask}) {
        // One run of bits, at most 16 of them.
        const std::uint32_t low = mask >> std::countr_zero(mask);
        if (!mask || (low & (low + 1)) != 0 || low > 0xFFFF) return std::nullopt;
      }
      PixelLayout layout(bpp, pad, setup->image_byte_order == XCB_IMAGE_ORDER_MSB_FIRST,
                         visual->red_mask, visual->green_mask, visual->blue_mask);
      const std::uint32_t bits = depth >= 32 ? ~0u : (1u << depth) - 1;
      layout.alphaMask_ = bits & ~(visual->red_mask | visual->green_mask | visual->blue_mask);
      return layout;
    }
  }
  return std::nullopt;
}

PixelLayout::PixelLayout(int bitsPerPixel, int scanlinePad, bool msbFirst, std::uint32_t redMask,
                         std::uint32_t greenMask, std::uint32_t blueMask)
    : bytesPerPixel_(bitsPerPixel / 8),
      scanlinePad_(scanlinePad > 0 ? scanlinePad : 8),
      msbFirst_(msbFirst),
      bgrx32_(bitsPerPixel == 32 && !msbFirst && std::endian::native == std::endian::little &&
              redMask == 0xFF0000 && greenMask == 0xFF00 && blueMask == 0xFF) {
  const std::uint32_t masks[3] = {redMask, greenMask, blueMask};
  for (int c = 0; c < 3; ++c) {
    shift_[c] = std::countr_zero(masks[c]);
    max_[c] = masks[c] >> shift_[c];
    // Each value scaled to 0..255 and cut, not rounded: the full value stays
    // 255, and a 16-bit screen reads the same as in ImageMagick's import.
    scale_[c].resize(max_[c] + 1);
    for (std::uint32_t v = 0; v <= max_[c]; ++v)
      scale_[c][v] = static_cast<std::uint8_t>(v * 255u / max_[c]);
  }
}

std::size_t PixelLayout::stride(int width) const {
  const std::size_t bits = std::size_t(width) * bytesPerPixel_ * 8;
  return (bits + scanlinePad_ - 1) / scanlinePad_ * scanlinePad_ / 8;
}

std::uint32_t PixelLayout::raw(const std::uint8_t* src) const {
  std::uint32_t v = 0;
  for (int i = 0; i < bytesPerPixel_; ++i) {
    const int byte = msbFirst_ ? i : bytesPerPixel_ - 1 - i;
    v = (v << 8) | src[byte];
  }
  return v;
}

Rgb PixelLayout::pixel(const std::uint8_t* src) const {
  const std::uint32_t v = raw(src);
  return MakeRgb(scale_[0][(v >> shift_[0]) & max_[0]], scale_[1][(v >> shift_[1]) & max_[1]],
                 scale_[2][(v >> shift_[2]) & max_[2]]);
}

void PixelLayout::convertRow(const std::uint8_t* src, int width, std::uint8_t* dst) const {
  if (bgrx32_) {
    std::memcpy(dst, src, std::size_t(width) * 4);
    return;
  }
  for (int x = 0; x < width; ++x, src += bytesPerPixel_, dst += 4) {
    const Rgb c = pixel(src);
    std::memcpy(dst, &c, 4);
  }
}

}  // namespace lumivore
