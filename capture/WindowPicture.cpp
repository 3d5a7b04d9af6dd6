#include "capture/WindowPicture.h"

#include <algorithm>
#include <cstring>

namespace lumivore {

Rect CutToScreen(Platform& platform, Rect r) {
  if (platform.monitorCount() == 1) {
    const Rect screen = platform.primaryScreen();
    r.left = std::max(r.left, 0);
    r.top = std::max(r.top, 0);
    r.right = std::min(r.right, screen.width());
    r.bottom = std::min(r.bottom, screen.height());
  }
  return r;
}

Bitmap CutToShape(const Bitmap& pixels, const std::vector<Rect>& shape, Rgb background) {
  Bitmap result;
  if (!result.allocate(pixels.width(), pixels.height(), PixelFormat::Bgrx32)) return result;
  for (int y = 0; y < result.height(); ++y)
    for (int x = 0; x < result.width(); ++x) result.setPixel(x, y, background);
  const Rect all{0, 0, result.width(), result.height()};
  for (const Rect& part : shape) {
    const Rect c = IntersectRect(part, all);
    for (int y = c.top; y < c.bottom; ++y)
      std::memcpy(result.row(y) + 4 * std::size_t(c.left), pixels.row(y) + 4 * std::size_t(c.left),
                  4 * std::size_t(c.width()));
  }
  return result;
}

bool GrabWindowPicture(Platform& platform, WindowId w, const WindowPictureOptions& options,
                       Bitmap& out, std::string& why) {
  const std::optional<Rect> outer = platform.windowRect(w);
  const std::optional<Platform::WindowDetails> details = platform.windowDetails(w);
  if (!outer || !details) {
    why = "the window does not exist";
    return false;
  }
  const Rect whole = options.clientOnly ? details->client : *outer;
  Bitmap pixels;
  Rect area = whole;
  if (options.ownPixels) {
    if (!platform.grabWindowPixels(w, options.clientOnly, pixels, why)) return false;
  } else {
    if (platform.isIconic(w)) {
      why = "the window is minimised, so it is not on the screen";
      return false;
    }
    if (!details->viewable) {
      why = "the window is not shown on the screen";
      return false;
    }
    area = CutToScreen(platform, whole);
    if (area.isEmpty()) {
      why = "the window lies outside the screen";
      return false;
    }
    if (!platform.grabWindow(w, area, pixels)) {
      why = "the screen's pixels could not be read";
      return false;
    }
  }
  std::optional<std::vector<Rect>> shape = platform.windowShape(w);
  if (shape) {
    // The shape is relative to the outer rectangle's corner, the pixels to
    // the corner of the area read: the client area, or what the screen's
    // edge left of the window.
    const int dx = outer->left - area.left;
    const int dy = outer->top - area.top;
    for (Rect& part : *shape)
      part = Rect{part.left + dx, part.top + dy, part.right + dx, part.bottom + dy};
    pixels = CutToShape(pixels, *shape, options.background);
    if (pixels.empty()) {
      why = "out of memory";
      return false;
    }
  }
  out = std::move(pixels);
  return true;
}

}  // namespace lumivore
