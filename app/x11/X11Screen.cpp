// Screen pixels of the X11 desktop.
#include <algorithm>
#include <cstring>
#include <deque>
#include <functional>

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

void X11Platform::releaseGrabMemory() {
  if (shm_) shm_->release();
}

bool X11Platform::grabScreen(const Rect& r, Bitmap& out) {
  if (r.isEmpty() || !layout_) return false;
  // Always grab the root, not the target window: a covered window returns
  // garbage for its covered parts, and the root shows what the user sees.
  const Rect screen{0, 0, screen_->width_in_pixels, screen_->height_in_pixels};
  return copyImage(root_, {0, 0}, screen_->root_depth, *layout_, true, r,
                   IntersectRect(r, screen), out);
}

std::optional<X11Platform::Drawable> X11Platform::topLevelDrawable(xcb_window_t w) {
  const xcb_window_t top = topLevelOf(w);
  if (!top) return std::nullopt;
  const auto geoCookie = xcb_get_geometry(conn_, top);
  const auto attrCookie = xcb_get_window_attributes(conn_, top);
  const auto posCookie = xcb_translate_coordinates(conn_, top, root_, 0, 0);
  auto geo = Fetch<xcb_get_geometry_reply_t>(conn_, xcb_get_geometry_reply, geoCookie);
  auto attr =
      Fetch<xcb_get_window_attributes_reply_t>(conn_, xcb_get_window_attributes_reply, attrCookie);
  auto pos =
      Fetch<xcb_translate_coordinates_reply_t>(conn_, xcb_translate_coordinates_reply, posCookie);
  if (!geo || !attr || !pos) return std::nullopt;
  auto layout = PixelLayout::OfVisual(xcb_get_setup(conn_), screen_, geo->depth, attr->visual);
  if (!layout) return std::nullopt;
  return Drawable{top,
                  {pos->dst_x, pos->dst_y, pos->dst_x + geo->width, pos->dst_y + geo->height},
                  geo->depth,
                  std::move(*layout)};
}

bool X11Platform::grabWindow(WindowId w, const Rect& r, Bitmap& out) {
  if (!xwayland_) return grabScreen(r, out);
  // A rootless Xwayland composes nothing into the root: every top-level
  // window keeps its own contents, the frame the window manager draws
  // around a client included. Read the top-level window that holds `w`.
  if (r.isEmpty()) return false;
  const auto top = topLevelDrawable(w);
  if (!top) return false;
  return copyImage(top->id, {top->area.left, top->area.top}, top->depth, top->layout, false, r,
                   IntersectRect(r, top->area), out);
}

Rect X11Platform::shownOnXwayland(xcb_window_t w, const Rect& outer) {
  const auto top = topLevelDrawable(w);
  if (!top) return outer;
  const Rect cut = IntersectRect(outer, top->area);
  if (cut.isEmpty() || !top->layout.hasAlpha()) return cut;
  return opaqueInside(*top, cut).value_or(cut);
}

std::optional<Rect> X11Platform::opaqueInside(const Drawable& top, const Rect& cut) {
  // The frame's shadow fades out around its opaque rectangle: find that
  // rectangle's edges on the middle row and the middle column.
  auto read = [&](const Rect& line) {
    return Fetch<xcb_get_image_reply_t>(
        conn_, xcb_get_image_reply,
        xcb_get_image(conn_, XCB_IMAGE_FORMAT_Z_PIXMAP, top.id,
                      static_cast<std::int16_t>(line.left - top.area.left),
                      static_cast<std::int16_t>(line.top - top.area.top),
                      static_cast<std::uint16_t>(line.width()),
                      static_cast<std::uint16_t>(line.height()), ~0u));
  };
  // First and last opaque pixel of a line of `n` pixels, `step` bytes apart.
  auto opaqueSpan = [&](const xcb_get_image_reply_t* image, int n,
                        std::size_t step) -> std::optional<std::pair<int, int>> {
    if (!image ||
        std::size_t(xcb_get_image_data_length(image)) < step * (n - 1) + top.layout.bytesPerPixel())
      return std::nullopt;
    const std::uint8_t* data = xcb_get_image_data(image);
    int first = 0;
    while (first < n && !top.layout.opaque(data + step * first)) ++first;
    int last = n - 1;
    while (last > first && !top.layout.opaque(data + step * last)) --last;
    if (first == n) return std::nullopt;
    return std::make_pair(first, last);
  };
  const int midX = (cut.left + cut.right) / 2;
  const int midY = (cut.top + cut.bottom) / 2;
  auto row = read({cut.left, midY, cut.right, midY + 1});
  auto column = read({midX, cut.top, midX + 1, cut.bottom});
  const auto across = opaqueSpan(row.get(), cut.width(), top.layout.bytesPerPixel());
  const auto down = opaqueSpan(column.get(), cut.height(), top.layout.stride(1));
  if (!across || !down) return std::nullopt;
  return Rect{cut.left + across->first, cut.top + down->first, cut.left + across->second + 1,
              cut.top + down->second + 1};
}

namespace {

// Reads `from` (in the drawable's coordinates) over the socket, in bands of
// rows, and hands each band to `put` (its first row within `from`, its
// number of rows, its pixels, `stride` bytes a row) in order. A few requests
// are kept ahead of the band being copied, so the server reads the next ones
// meanwhile. Bands keep each reply small: one reply of a whole screen would
// be a fresh block of memory, faulted in page by page as it is received,
// which takes several times as long as receiving it; the blocks of small
// replies are reused from one band to the next.
bool ReadImageBands(xcb_connection_t* conn, xcb_drawable_t d, std::uint8_t depth, const Rect& from,
                    std::size_t stride,
                    const std::function<void(int, int, const std::uint8_t*)>& put) {
  constexpr std::size_t kBandBytes = std::size_t{256} << 10;
  constexpr int kAhead = 4;
  const int bandRows = static_cast<int>(std::max<std::size_t>(1, kBandBytes / stride));
  const int height = from.height();
  std::deque<xcb_get_image_cookie_t> pending;
  int requested = 0;  // rows asked for so far
  const auto request = [&] {
    const int rows = std::min(bandRows, height - requested);
    pending.push_back(xcb_get_image(conn, XCB_IMAGE_FORMAT_Z_PIXMAP, d,
                                    static_cast<std::int16_t>(from.left),
                                    static_cast<std::int16_t>(from.top + requested),
                                    static_cast<std::uint16_t>(from.width()),
                                    static_cast<std::uint16_t>(rows), ~0u));
    requested += rows;
  };
  for (int done = 0; done < height;) {
    while (requested < height && pending.size() < kAhead) request();
    const int rows = std::min(bandRows, height - done);
    auto band = Fetch<xcb_get_image_reply_t>(conn, xcb_get_image_reply, pending.front());
    pending.pop_front();
    if (!band || band->depth != depth ||
        std::size_t(xcb_get_image_data_length(band.get())) < stride * rows) {
      for (const xcb_get_image_cookie_t& cookie : pending) xcb_discard_reply(conn, cookie.sequence);
      return false;
    }
    put(done, rows, xcb_get_image_data(band.get()));
    done += rows;
  }
  return true;
}

}  // namespace

std::optional<Margins> X11Platform::visibleFrameMargins(WindowId w) {
  if (!xwayland_) return std::nullopt;
  const auto where = serverPlacement(w);
  if (!where || !where->framed) return std::nullopt;
  const auto top = topLevelDrawable(w);
  // An opaque frame shows all of itself: its size is right.
  if (!top || !top->layout.hasAlpha()) return std::nullopt;
  const auto shown = opaqueInside(*top, IntersectRect(where->outer, top->area));
  if (!shown) return Margins{-1, -1, -1, -1};
  return Margins{where->own.left - shown->left, where->own.top - shown->top,
                 shown->right - where->own.right, shown->bottom - where->own.bottom};
}

std::optional<Margins> X11Platform::frameMargins(WindowId w) {
  const auto where = serverPlacement(w);
  if (!where) return std::nullopt;
  return Margins{where->own.left - where->outer.left, where->own.top - where->outer.top,
                 where->outer.right - where->own.right, where->outer.bottom - where->own.bottom};
}

bool X11Platform::copyImage(xcb_drawable_t d, Point origin, std::uint8_t depth,
                            const PixelLayout& layout, bool shm, const Rect& r,
                            const Rect& visible, Bitmap& out) {
  const std::size_t srcStride = layout.stride(visible.width());
  const Rect from{visible.left - origin.x, visible.top - origin.y, visible.right - origin.x,
                  visible.bottom - origin.y};
  // Puts rows of `from`, the first of them `first`, into a bitmap of r's size.
  const auto put = [&](Bitmap& to, int first, int rows, const std::uint8_t* src) {
    if (layout.isBgrx32() && visible == r && to.stride() == srcStride) {
      std::memcpy(to.row(first), src, srcStride * rows);
      return;
    }
    for (int y = 0; y < rows; ++y) {
      layout.convertRow(src + y * srcStride, visible.width(),
                        to.row(first + y + visible.top - r.top) +
                            4 * std::size_t(visible.left - r.left));
    }
  };
  const std::uint8_t* shared = nullptr;
  if (!visible.isEmpty() && shm && shm_ && shm_->usable())
    shared = shm_->grab(d, depth, from, srcStride * visible.height());

  if (shared || visible.isEmpty()) {
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
    if (shared) put(out, 0, visible.height(), shared);
    return true;
  }
  // Over the socket, into a bitmap of its own, so that `out` stays as it was
  // when the window goes away part way through.
  Bitmap fresh;
  if (!fresh.allocate(r.width(), r.height(), PixelFormat::Bgrx32)) return false;
  if (!ReadImageBands(conn_, d, depth, from, srcStride,
                      [&](int first, int rows, const std::uint8_t* src) {
                        put(fresh, first, rows, src);
                      })) {
    return false;
  }
  out = std::move(fresh);
  return true;
}

std::optional<Rgb> X11Platform::screenPixel(Point p) {
  const Rect screen{0, 0, screen_->width_in_pixels, screen_->height_in_pixels};
  if (!layout_ || !screen.contains(p)) return std::nullopt;
  if (xwayland_) {
    // The root holds no pixels: read the top-level window under the point.
    auto under = Fetch<xcb_translate_coordinates_reply_t>(
        conn_, xcb_translate_coordinates_reply,
        xcb_translate_coordinates(conn_, root_, root_, static_cast<std::int16_t>(p.x),
                                  static_cast<std::int16_t>(p.y)));
    Bitmap one;
    if (!under || !under->child || !grabWindow(under->child, {p.x, p.y, p.x + 1, p.y + 1}, one))
      return std::nullopt;
    return one.pixel(0, 0) & 0xFFFFFFu;
  }
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
