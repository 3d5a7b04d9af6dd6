// Pointer and keyboard of the X11 desktop.
#include <X11/keysym.h>
#include <xcb/xcb_keysyms.h>
#include <xcb/xfixes.h>
#include <xcb/xtest.h>

#include <algorithm>
#include <memory>

#include "app/x11/X11Platform.h"
#include "app/x11/XcbUtil.h"

namespace lumivore {

namespace {

// The keysyms a virtual-key code stands for; the first one is typed, all of
// them count when asking whether the key is down.
std::vector<xcb_keysym_t> KeysymsForVk(int vk) {
  if (vk >= 'A' && vk <= 'Z') return {xcb_keysym_t(XK_a + (vk - 'A'))};
  if (vk >= '0' && vk <= '9') return {xcb_keysym_t(XK_0 + (vk - '0'))};
  if (vk >= 0x60 && vk <= 0x69) return {xcb_keysym_t(XK_KP_0 + (vk - 0x60))};
  if (vk >= 0x70 && vk <= 0x87) return {xcb_keysym_t(XK_F1 + (vk - 0x70))};
  switch (vk) {
    case 0x08:
      return {XK_BackSpace};
    case 0x09:
      return {XK_Tab};
    case 0x0C:
      return {XK_Clear};
    case 0x0D:
      return {XK_Return};
    case 0x10:
      return {XK_Shift_L, XK_Shift_R};
    case 0x11:
      return {XK_Control_L, XK_Control_R};
    case 0x12:
      return {XK_Alt_L, XK_Alt_R};
    case 0x13:
      return {XK_Pause};
    case 0x14:
      return {XK_Caps_Lock};
    case 0x1B:
      return {XK_Escape};
    case 0x20:
      return {XK_space};
    case 0x21:
      return {XK_Prior};
    case 0x22:
      return {XK_Next};
    case 0x23:
      return {XK_End};
    case 0x24:
      return {XK_Home};
    case 0x25:
      return {XK_Left};
    case 0x26:
      return {XK_Up};
    case 0x27:
      return {XK_Right};
    case 0x28:
      return {XK_Down};
    case 0x2C:
      return {XK_Print};
    case 0x2D:
      return {XK_Insert};
    case 0x2E:
      return {XK_Delete};
    case 0x5B:
      return {XK_Super_L};
    case 0x5C:
      return {XK_Super_R};
    case 0x5D:
      return {XK_Menu};
    case 0x6A:
      return {XK_KP_Multiply};
    case 0x6B:
      return {XK_KP_Add};
    case 0x6C:
      return {XK_KP_Separator};
    case 0x6D:
      return {XK_KP_Subtract};
    case 0x6E:
      return {XK_KP_Decimal};
    case 0x6F:
      return {XK_KP_Divide};
    case 0x90:
      return {XK_Num_Lock};
    case 0x91:
      return {XK_Scroll_Lock};
    case 0xA0:
      return {XK_Shift_L};
    case 0xA1:
      return {XK_Shift_R};
    case 0xA2:
      return {XK_Control_L};
    case 0xA3:
      return {XK_Control_R};
    case 0xA4:
      return {XK_Alt_L};
    case 0xA5:
      return {XK_Alt_R};
    case 0xBA:
      return {XK_semicolon};
    case 0xBB:
      return {XK_equal};
    case 0xBC:
      return {XK_comma};
    case 0xBD:
      return {XK_minus};
    case 0xBE:
      return {XK_period};
    case 0xBF:
      return {XK_slash};
    case 0xC0:
      return {XK_grave};
    case 0xDB:
      return {XK_bracketleft};
    case 0xDC:
      return {XK_backslash};
    case 0xDD:
      return {XK_bracketright};
    case 0xDE:
      return {XK_apostrophe};
    default:
      return {};
  }
}

struct KeySymbolsDeleter {
  void operator()(xcb_key_symbols_t* k) const { xcb_key_symbols_free(k); }
};
using KeySymbols = std::unique_ptr<xcb_key_symbols_t, KeySymbolsDeleter>;

// Keycodes of the current keyboard map for a virtual key.
std::vector<xcb_keycode_t> KeycodesForVk(xcb_connection_t* c, int vk) {
  std::vector<xcb_keycode_t> result;
  KeySymbols symbols(xcb_key_symbols_alloc(c));
  if (!symbols) return result;
  for (xcb_keysym_t sym : KeysymsForVk(vk)) {
    std::unique_ptr<xcb_keycode_t, FreeDeleter> codes(
        xcb_key_symbols_get_keycode(symbols.get(), sym));
    for (const xcb_keycode_t* k = codes.get(); k && *k != XCB_NO_SYMBOL; ++k) result.push_back(*k);
  }
  return result;
}

}  // namespace

bool X11Platform::isKeyDown(int vk) {
  auto keymap =
      Fetch<xcb_query_keymap_reply_t>(conn_, xcb_query_keymap_reply, xcb_query_keymap(conn_));
  if (!keymap) return false;
  for (xcb_keycode_t k : KeycodesForVk(conn_, vk)) {
    if (keymap->keys[k / 8] & (1 << (k % 8))) return true;
  }
  return false;
}

bool X11Platform::sendKey(int vk, bool release) {
  const std::vector<xcb_keycode_t> codes = KeycodesForVk(conn_, vk);
  if (codes.empty()) return false;
  xcb_test_fake_input(conn_, release ? XCB_KEY_RELEASE : XCB_KEY_PRESS, codes.front(),
                      XCB_CURRENT_TIME, XCB_WINDOW_NONE, 0, 0, 0);
  xcb_flush(conn_);
  return true;
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
