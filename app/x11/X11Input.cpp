// Pointer and keyboard of the X11 desktop.
#include <xcb/xfixes.h>
#include <xcb/xtest.h>

#include <algorithm>
#include <memory>

#include "app/x11/X11Keys.h"
#include "app/x11/X11Platform.h"
#include "app/x11/XcbUtil.h"

namespace lumivore {

bool X11Platform::isKeyDown(int vk) {
  auto keymap =
      Fetch<xcb_query_keymap_reply_t>(conn_, xcb_query_keymap_reply, xcb_query_keymap(conn_));
  if (!keymap) return false;
  for (xcb_keycode_t k : KeycodesForVk(conn_, vk)) {
    if (keymap->keys[k / 8] & (1 << (k % 8))) return true;
  }
  return false;
}

bool X11Platform::barriersSupported() {
  if (!barriersSupported_) {
    // Ask for the version this header knows: the server answers with what it has.
    auto version = Fetch<xcb_xfixes_query_version_reply_t>(
        conn_, xcb_xfixes_query_version_reply,
        xcb_xfixes_query_version(conn_, XCB_XFIXES_MAJOR_VERSION, XCB_XFIXES_MINOR_VERSION));
    barriersSupported_ = version && version->major_version >= 5;
  }
  return *barriersSupported_;
}

// Pointer barriers hold the pointer inside the rectangle without taking any
// of its events, so the window under it keeps getting its motion and the
// release. They stop relative motion only: absolute devices and warps pass,
// which the callers allow for. The server removes them with the connection,
// so they cannot outlive the program.
void X11Platform::clipCursor(const std::optional<Rect>& r) {
  for (std::uint32_t barrier : barriers_) xcb_xfixes_delete_pointer_barrier(conn_, barrier);
  barriers_.clear();
  if (r && !r->isEmpty() && barriersSupported()) {
    auto coord = [](int v) { return static_cast<std::uint16_t>(std::clamp(v, 0, 0x7FFF)); };
    // Each line spans the whole screen, so the pointer cannot slip out
    // diagonally past a corner. Moving onto the right or bottom line stops one
    // pixel short of it: the rectangle's right and bottom are exclusive.
    const std::uint16_t far = 0x7FFF;
    struct Line {
      std::uint16_t x1, y1, x2, y2;
      std::uint32_t open;  // the direction the pointer may still cross in
    };
    const Line lines[] = {
        {coord(r->left), 0, coord(r->left), far, XCB_XFIXES_BARRIER_DIRECTIONS_POSITIVE_X},
        {coord(r->right), 0, coord(r->right), far, XCB_XFIXES_BARRIER_DIRECTIONS_NEGATIVE_X},
        {0, coord(r->top), far, coord(r->top), XCB_XFIXES_BARRIER_DIRECTIONS_POSITIVE_Y},
        {0, coord(r->bottom), far, coord(r->bottom), XCB_XFIXES_BARRIER_DIRECTIONS_NEGATIVE_Y},
    };
    for (const Line& l : lines) {
      const std::uint32_t id = xcb_generate_id(conn_);
      const xcb_void_cookie_t cookie = xcb_xfixes_create_pointer_barrier_checked(
          conn_, id, root_, l.x1, l.y1, l.x2, l.y2, l.open, 0, nullptr);
      if (xcb_generic_error_t* error = xcb_request_check(conn_, cookie)) {
        std::free(error);
        continue;
      }
      barriers_.push_back(id);
    }
    // Like the platform's confinement, bring a pointer outside into the rectangle.
    const Point p = cursorPos();
    const Point inside{std::clamp(p.x, r->left, r->right - 1),
                       std::clamp(p.y, r->top, r->bottom - 1)};
    if (!(inside == p)) setCursorPos(inside);
  }
  xcb_flush(conn_);
}

}  // namespace lumivore
