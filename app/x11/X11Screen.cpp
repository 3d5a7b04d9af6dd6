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
  if (r.isEmpty() || !rootIsRgb32_) return false;
  // Always grab the root, not the target window: a covered window returns
  // garbage for its covered parts, and the root shows what the user sees.
  const Rect screen{0, 0, screen_->width_in_pixels, screen_->height_in_pixels};
  return copyRootImage(r, IntersectRect(r, screen), out);
}

bool X11Platform::copyRootImage(const Rect& r, const Rect& visible, Bitmap& out) {
  const std::uint8_t* src = nullptr;
  XcbReply<xcb_get_image_reply_t> plain;
  if (!visible.isEmpty()) {
    if (shm_ && shm_->usable()) src = shm_->grab(root_, screen_->root_depth, visible);
    if (!src) {
      plain = Fetch<xcb_get_image_reply_t>(
          conn_, xcb_get_image_reply,
          xcb_get_image(
              conn_, XCB_IMAGE_FORMAT_Z_PIXMAP, root_, static_cast<std::int16_t>(visible.left),
              static_cast<std::int16_t>(visible.top), static_cast<std::uint16_t>(visible.width()),
              static_cast<std::uint16_t>(visible.height()), ~0u));
      if (!plain || plain->depth != screen_->root_depth ||
          std::size_t(xcb_get_image_data_length(plain.get())) <
              std::size_t(visible.width()) * 4 * visible.height()) {
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
  const std::size_t srcStride = std::size_t(visible.width()) * 4;
  if (visible == r && out.stride() == srcStride) {
    std::memcpy(out.bits(), src, srcStride * visible.height());
    return true;
  }
  for (int y = 0; y < visible.height(); ++y) {
    std::memcpy(out.row(y + visible.top - r.top) + 4 * std::size_t(visible.left - r.left),
                src + y * srcStride, srcStride);
  }
  return true;
}

std::optional<Rgb> X11Platform::screenPixel(Point p) {
  const Rect screen{0, 0, screen_->width_in_pixels, screen_->height_in_pixels};
  if (!rootIsRgb32_ || !screen.contains(p)) return std::nullopt;
  // One pixel over the socket is cheaper than a shared-memory round trip.
  auto image = Fetch<xcb_get_image_reply_t>(
      conn_, xcb_get_image_reply,
      xcb_get_image(conn_, XCB_IMAGE_FORMAT_Z_PIXMAP, root_, static_cast<std::int16_t>(p.x),
                    static_cast<std::int16_t>(p.y), 1, 1, ~0u));
  if (!image || xcb_get_image_data_length(image.get()) < 4) return std::nullopt;
  std::uint32_t value;
  std::memcpy(&value, xcb_get_image_data(image.get()), 4);
  return value & 0xFFFFFFu;
}

}  // namespace lumivore
