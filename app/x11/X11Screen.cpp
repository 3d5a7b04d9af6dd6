// Screen pixels of the X11 desktop.
#include <cstring>

#include "app/x11/X11Platform.h"
#include "app/x11/X11Shm.h"
#include "app/x11/XcbUtil.h"

namespace lumivore {

void X11Platform::useSharedMemory(bool on) {
  if (!on) {
    shm_.reset();
  } else if (!shm_) {
    shm_ = std::make_unique<ShmImage>(conn_);
  }
}

bool X11Platform::usesSharedMemory() const { return shm_ && shm_->usable(); }

bool X11Platform::grabScreen(const Rect& r, Bitmap& out) {
  if (r.isEmpty() || !layout_) return false;
  // Always grab the root, not the target window: a covered window returns
  // garbage for its covered parts, and the root shows what the user sees.
  const Rect screen{0, 0, screen_->width_in_pixels, screen_->height_in_pixels};
  return copyImage(root_, screen_->root_depth, r, IntersectRect(r, screen), out);
}

bool X11Platform::copyImage(xcb_drawable_t drawable, std::uint8_t depth, const Rect& r,
                            const Rect& visible, Bitmap& out) {
  const std::uint8_t* src = nullptr;
  const std::size_t srcStride = layout_->stride(visible.width());
  XcbReply<xcb_get_image_reply_t> plain;
  if (!visible.isEmpty()) {
    const std::size_t bytes = srcStride * visible.height();
    if (shm_ && shm_->usable()) src = shm_->grab(drawable, depth, visible, bytes);
    if (!src) {
      plain = Fetch<xcb_get_image_reply_t>(
          conn_, xcb_get_image_reply,
          xcb_get_image(
              conn_, XCB_IMAGE_FORMAT_Z_PIXMAP, drawable, static_cast<std::int16_t>(visible.left),
              static_cast<std::int16_t>(visible.top), static_cast<std::uint16_t>(visible.width()),
              static_cast<std::uint16_t>(visible.height()), ~0u));
      if (!plain || plain->depth != depth ||
          std::size_t(xcb_get_image_data_length(plain.get())) < bytes) {
        return false;
      }
      src = xcb_get_image_data(plain.get());
    }
  }
  // The preview grabs the same target again and again: keep the bitmap's
  // storage when the size stays.
  if (out.width() != r.width() || out.height() != r.height() ||
      out.format() != PixelFormat::Bgrx32) {
    Bitmap fresh;
    if (!fresh.allocate(r.width(), r.height(), PixelFormat::Bgrx32)) return false;
    out = std::move(fresh);
  } else if (visible != r) {
    std::memset(out.bits(), 0, out.byteSize());
  }
  if (visible.isEmpty()) return true;
  if (layout_->isBgrx32() && visible == r && out.stride() == srcStride) {
    std::memcpy(out.bits(), src, srcStride * visible.height());
    return true;
  }
  for (int y = 0; y < visible.height(); ++y) {
    layout_->convertRow(src + y * srcStride, visible.width(),
                        out.row(y + visible.top - r.top) + 4 * std::size_t(visible.left - r.left));
  }
  return true;
}

std::optional<Rgb> X11Platform::screenPixel(Point p) {
  const Rect screen{0, 0, screen_->width_in_pixels, screen_->height_in_pixels};
  if (!layout_ || !screen.contains(p)) return std::nullopt;
  // One pixel over the socket is cheaper than a shared-memory round trip.
  auto image = Fetch<xcb_get_image_reply_t>(
      conn_, xcb_get_image_reply,
      xcb_get_image(conn_, XCB_IMAGE_FORMAT_Z_PIXMAP, root_, static_cast<std::int16_t>(p.x),
                    static_cast<std::int16_t>(p.y), 1, 1, ~0u));
  if (!image || std::size_t(xcb_get_image_data_length(image.get())) < layout_->stride(1))
    return std::nullopt;
  return layout_->pixel(xcb_get_image_data(image.get())) & 0xFFFFFFu;
}

}  // namespace lumivore
