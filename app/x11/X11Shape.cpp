// Window shapes of the X11 desktop (the Shape extension's bounding region).
#include <xcb/shape.h>

#include "app/x11/X11Platform.h"
#include "app/x11/XcbUtil.h"

namespace lumivore {

std::optional<std::vector<Rect>> X11Platform::windowShape(WindowId w) {
  if (!w) return std::nullopt;
  const xcb_query_extension_reply_t* ext = xcb_get_extension_data(conn_, &xcb_shape_id);
  if (!ext || !ext->present) return std::nullopt;
  const auto extentsCookie = xcb_shape_query_extents(conn_, w);
  const auto rectsCookie = xcb_shape_get_rectangles(conn_, w, XCB_SHAPE_SK_BOUNDING);
  auto extents =
      Fetch<xcb_shape_query_extents_reply_t>(conn_, xcb_shape_query_extents_reply, extentsCookie);
  auto rects =
      Fetch<xcb_shape_get_rectangles_reply_t>(conn_, xcb_shape_get_rectangles_reply, rectsCookie);
  if (!extents || !extents->bounding_shaped || !rects) return std::nullopt;
  const auto where = placement(w);
  if (!where) return std::nullopt;

  // The shape is the client's, relative to its own origin; the picture is
  // the outer rectangle. Shift the shape by the client's place in it, and
  // keep the decorations around the client whole, as they are on screen
  // (the window manager shapes its frame the same way).
  const Rect& outer = where->outer;
  const Rect& own = where->own;
  const int dx = own.left - outer.left;
  const int dy = own.top - outer.top;
  std::vector<Rect> result;
  const xcb_rectangle_t* r = xcb_shape_get_rectangles_rectangles(rects.get());
  const int n = xcb_shape_get_rectangles_rectangles_length(rects.get());
  result.reserve(n + 4);
  for (int i = 0; i < n; ++i) {
    result.push_back(
        Rect{r[i].x + dx, r[i].y + dy, r[i].x + dx + r[i].width, r[i].y + dy + r[i].height});
  }
  // An unmanaged window's outer rectangle only adds its border, which the
  // bounding shape already covers.
  if (where->framed) {
    const int w0 = outer.width();
    const int h0 = outer.height();
    const Rect bands[] = {
        {0, 0, w0, dy},                                            // title bar
        {0, own.bottom - outer.top, w0, h0},                       // bottom edge
        {0, dy, dx, own.bottom - outer.top},                       // left edge
        {own.right - outer.left, dy, w0, own.bottom - outer.top},  // right edge
    };
    for (const Rect& b : bands) {
      if (!b.isEmpty()) result.push_back(b);
    }
  }
  return result;
}

}  // namespace lumivore
