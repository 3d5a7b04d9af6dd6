// A window's own pixels through the Composite extension: the window is
// redirected off screen for the moment of the grab, so the X server keeps
// all of its contents in a pixmap of its own, covered parts included, and
// the window repaints them there.
#include <poll.h>
#include <xcb/composite.h>
#include <xcb/damage.h>

#include <chrono>

#include "app/x11/X11Platform.h"
#include "app/x11/XcbUtil.h"

namespace lumivore {

namespace {

using Clock = std::chrono::steady_clock;

// How long the window may take to start repainting after the redirection,
// how long it must stay quiet to count as done, and the most it may take.
constexpr auto kFirstPaint = std::chrono::milliseconds(300);
constexpr auto kQuiet = std::chrono::milliseconds(60);
constexpr auto kLongest = std::chrono::milliseconds(2000);

}  // namespace

void X11Platform::waitForRepaint(std::uint32_t damage) {
  const xcb_query_extension_reply_t* ext = xcb_get_extension_data(conn_, &xcb_damage_id);
  const std::uint8_t notify = ext->first_event + XCB_DAMAGE_NOTIFY;
  const Clock::time_point start = Clock::now();
  bool painted = false;
  Clock::time_point last = start;
  xcb_flush(conn_);
  for (;;) {
    const Clock::time_point now = Clock::now();
    const Clock::time_point until =
        std::min(start + kLongest, painted ? last + kQuiet : start + kFirstPaint);
    if (now >= until) return;
    while (xcb_generic_event_t* e = xcb_poll_for_event(conn_)) {
      if ((e->response_type & 0x7F) == notify) {
        painted = true;
        last = Clock::now();
        // Take the reported area off, so the next paint reports again.
        xcb_damage_subtract(conn_, damage, XCB_NONE, XCB_NONE);
        xcb_flush(conn_);
      }
      std::free(e);
    }
    if (xcb_connection_has_error(conn_)) return;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now());
    pollfd fd{xcb_get_file_descriptor(conn_), POLLIN, 0};
    if (left.count() > 0) poll(&fd, 1, static_cast<int>(left.count()) + 1);
  }
}

bool X11Platform::grabWindowPixels(WindowId w, bool clientOnly, Bitmap& out, std::string& why) {
  const xcb_query_extension_reply_t* composite = xcb_get_extension_data(conn_, &xcb_composite_id);
  const xcb_query_extension_reply_t* damageExt = xcb_get_extension_data(conn_, &xcb_damage_id);
  if (!composite || !composite->present || !damageExt || !damageExt->present) {
    why = "the X server has no Composite or Damage extension to read a window's own pixels";
    return false;
  }
  if (!layout_) {
    why = "the screen's pixels are not TrueColor";
    return false;
  }
  const auto where = placement(w);
  if (!where) {
    why = "the window no longer exists";
    return false;
  }
  if (isIconic(w)) {
    why = "the window is minimised, and a minimised window has no pixels to read";
    return false;
  }
  auto attrs = Fetch<xcb_get_window_attributes_reply_t>(conn_, xcb_get_window_attributes_reply,
                                                        xcb_get_window_attributes(conn_, w));
  if (!attrs || attrs->map_state != XCB_MAP_STATE_VIEWABLE) {
    std::uint32_t desktop = 0, current = 0;
    if (ewmhReady_ &&
        xcb_ewmh_get_wm_desktop_reply(&ewmh_, xcb_ewmh_get_wm_desktop(&ewmh_, w), &desktop,
                                      DropError()) &&
        xcb_ewmh_get_current_desktop_reply(
            &ewmh_, xcb_ewmh_get_current_desktop(&ewmh_, screenNumber_), &current, DropError()) &&
        desktop != current && desktop != 0xFFFFFFFF) {
      why = "the window is on another desktop, where it has no pixels to read";
    } else {
      why = "the window is not shown, so it has no pixels to read";
    }
    return false;
  }
  // Both extensions answer only clients that said which version they speak.
  auto cv = Fetch<xcb_composite_query_version_reply_t>(conn_, xcb_composite_query_version_reply,
                                                       xcb_composite_query_version(conn_, 0, 4));
  auto dv = Fetch<xcb_damage_query_version_reply_t>(conn_, xcb_damage_query_version_reply,
                                                    xcb_damage_query_version(conn_, 1, 1));
  if (!cv || !dv || (cv->major_version == 0 && cv->minor_version < 2)) {
    why = "the X server's Composite extension is too old to name a window's pixmap";
    return false;
  }

  // The frame too, unless only the client area is wanted: the window just
  // below the root holds the decorations.
  const xcb_window_t source = clientOnly ? w : topLevelOf(w);
  auto geo = Fetch<xcb_get_geometry_reply_t>(conn_, xcb_get_geometry_reply,
                                             xcb_get_geometry(conn_, source));
  auto pos = Fetch<xcb_translate_coordinates_reply_t>(
      conn_, xcb_translate_coordinates_reply,
      xcb_translate_coordinates(conn_, source, root_, 0, 0));
  if (!geo || !pos) {
    why = "the window no longer exists";
    return false;
  }
  const int border = geo->border_width;
  // The pixmap holds the window with its border, from the border's corner.
  const Rect pixmapArea{pos->dst_x - border, pos->dst_y - border, pos->dst_x + geo->width + border,
                        pos->dst_y + geo->height + border};
  const Rect wanted = clientOnly ? where->own : where->outer;
  const Rect r{wanted.left - pixmapArea.left, wanted.top - pixmapArea.top,
               wanted.right - pixmapArea.left, wanted.bottom - pixmapArea.top};
  const Rect visible = IntersectRect(r, Rect{0, 0, pixmapArea.width(), pixmapArea.height()});

  const xcb_damage_damage_t damage = xcb_generate_id(conn_);
  xcb_damage_create(conn_, damage, source, XCB_DAMAGE_REPORT_LEVEL_NON_EMPTY);
  XcbReply<xcb_generic_error_t> redirected(xcb_request_check(
      conn_,
      xcb_composite_redirect_window_checked(conn_, source, XCB_COMPOSITE_REDIRECT_AUTOMATIC)));
  // Already redirected by a compositing manager, the window has its pixmap;
  // any other refusal leaves nothing to read.
  const bool ours = !redirected;
  bool ok = false;
  if (ours) waitForRepaint(damage);
  const xcb_pixmap_t pixmap = xcb_generate_id(conn_);
  XcbReply<xcb_generic_error_t> named(
      xcb_request_check(conn_, xcb_composite_name_window_pixmap_checked(conn_, source, pixmap)));
  if (!named) {
    // A window of another depth than the screen's (a translucent one) keeps
    // the same 32-bit pixels when the screen's hold 32 bits too.
    const std::uint8_t depth = geo->depth;
    if (depth == screen_->root_depth || (depth == 32 && layout_->isBgrx32())) {
      ok = copyImage(pixmap, {0, 0}, depth, *layout_, true, r, visible, out);
    }
    xcb_free_pixmap(conn_, pixmap);
    if (!ok) why = "the window's pixels could not be read";
  } else {
    why = "the window's pixels could not be read";
  }
  if (ours) xcb_composite_unredirect_window(conn_, source, XCB_COMPOSITE_REDIRECT_AUTOMATIC);
  xcb_damage_destroy(conn_, damage);
  xcb_flush(conn_);
  return ok;
}

}  // namespace lumivore
