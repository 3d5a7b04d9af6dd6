// Screen pixels of the X11 desktop.
#include <cstring>

#include "app/x11/X11Platform.h"
#include "app/x11/XcbUtil.h"

namespace lumivore {

bool X11Platform::grabScreen(const Rect& r, Bitmap& out) {
  if (r.isEmpty()) return false;
  // Always grab the root, not the target window: a covered window returns
  // garbage for its covered parts, and the root shows what the user sees.
  const Rect screen{0, 0, screen_->width_in_pixels, screen_->height_in_pixels};
  const Rect visible = IntersectRect(r, screen);
  Bitmap result;
  if (!result.allocate(r.width(), r.height(), PixelFormat::Bgrx32)) return false;
  if (!visible.isEmpty()) {
    auto image = Fetch<xcb_get_image_reply_t>(
        conn_, xcb_get_image_reply,
        xcb_get_image(
            conn_, XCB_IMAGE_FORMAT_Z_PIXMAP, root_, static_cast<std::int16_t>(visible.left),
            static_cast<std::int16_t>(visible.top), static_cast<std::uint16_t>(visible.width()),
            static_cast<std::uint16_t>(visible.height()), ~0u));
    if (!image || image->depth < 24) return false;
    const std::size_t srcStride = std::size_t(visible.width()) * 4;
    if (std::size_t(xcb_get_image_data_length(image.get())) < srcStride * visible.height())
      return false;
    const std::uint8_t* src = xcb_get_image_data(image.get());
    for (int y = 0; y < visible.height(); ++y) {
      std::memcpy(result.row(y + visible.top - r.top) + 4 * std::size_t(visible.left - r.left),
                  src + y * srcStride, srcStride);
    }
  }
  out = std::move(result);
  return true;
}

std::optional<Rgb> X11Platform::screenPixel(Point p) {
  Bitmap one;
  if (!grabScreen(Rect{p.x, p.y, p.x + 1, p.y + 1}, one)) return std::nullopt;
  return one.pixel(0, 0);
}

}  // namespace lumivore
