// What the window inspector reports about an X11 window beyond its class,
// title and rectangle, and which window is active.
#include <xcb/xcb_icccm.h>

#include <algorithm>

#include "app/x11/X11Platform.h"
#include "app/x11/XcbUtil.h"

namespace lumivore {

xcb_window_t X11Platform::topLevelOf(xcb_window_t w) {
  for (int depth = 0; depth < 32 && w; ++depth) {
    auto tree =
        Fetch<xcb_query_tree_reply_t>(conn_, xcb_query_tree_reply, xcb_query_tree(conn_, w));
    if (!tree || !tree->parent || tree->parent == root_) return w;
    w = tree->parent;
  }
  return w;
}

WindowId X11Platform::activeWindow() {
  if (ewmhReady_ && hasWindowManager()) {
    xcb_window_t active = 0;
    if (xcb_ewmh_get_active_window_reply(&ewmh_, xcb_ewmh_get_active_window(&ewmh_, screenNumber_),
                                         &active, DropError()) &&
        active) {
      return active;
    }
  }
  // No window manager to ask: the client that holds the keyboard focus (the
  // focus may sit on a window inside it).
  auto focus = Fetch<xcb_get_input_focus_reply_t>(conn_, xcb_get_input_focus_reply,
                                                  xcb_get_input_focus(conn_));
  if (!focus || focus->focus == XCB_NONE || focus->focus == XCB_INPUT_FOCUS_POINTER_ROOT ||
      focus->focus == root_) {
    return 0;
  }
  for (xcb_window_t w = focus->focus; w && w != root_;) {
    if (hasWmState(w)) return w;
    auto tree =
        Fetch<xcb_query_tree_reply_t>(conn_, xcb_query_tree_reply, xcb_query_tree(conn_, w));
    if (!tree) return 0;
    if (tree->parent == root_) {
      const xcb_window_t client = clientOf(w);
      return client ? client : w;
    }
    w = tree->parent;
  }
  return 0;
}

std::optional<Platform::WindowDetails> X11Platform::windowDetails(WindowId w) {
  if (!w) return std::nullopt;
  const auto geoCookie = xcb_get_geometry(conn_, w);
  const auto attrsCookie = xcb_get_window_attributes(conn_, w);
  const auto classCookie = xcb_icccm_get_wm_class(conn_, w);
  auto geo = Fetch<xcb_get_geometry_reply_t>(conn_, xcb_get_geometry_reply, geoCookie);
  auto attrs =
      Fetch<xcb_get_window_attributes_reply_t>(conn_, xcb_get_window_attributes_reply, attrsCookie);
  xcb_icccm_get_wm_class_reply_t cls;
  const bool hasClass = xcb_icccm_get_wm_class_reply(conn_, classCookie, &cls, DropError());
  WindowDetails details;
  if (hasClass) {
    details.instance = cls.instance_name ? cls.instance_name : "";
    xcb_icccm_get_wm_class_reply_wipe(&cls);
  }
  const auto where = placement(w);
  if (!geo || !attrs || !where) return std::nullopt;
  details.client = where->own;
  details.depth = geo->depth;
  details.viewable = attrs->map_state == XCB_MAP_STATE_VIEWABLE;
  if (ewmhReady_) {
    std::uint32_t pid = 0;
    if (xcb_ewmh_get_wm_pid_reply(&ewmh_, xcb_ewmh_get_wm_pid(&ewmh_, w), &pid, DropError()))
      details.pid = static_cast<int>(pid);
    xcb_ewmh_get_atoms_reply_t states;
    if (xcb_ewmh_get_wm_state_reply(&ewmh_, xcb_ewmh_get_wm_state(&ewmh_, w), &states,
                                    DropError())) {
      auto has = [&](xcb_atom_t a) {
        return std::find(states.atoms, states.atoms + states.atoms_len, a) !=
               states.atoms + states.atoms_len;
      };
      details.maximized =
          has(ewmh_._NET_WM_STATE_MAXIMIZED_VERT) && has(ewmh_._NET_WM_STATE_MAXIMIZED_HORZ);
      details.above = has(ewmh_._NET_WM_STATE_ABOVE);
      xcb_ewmh_get_atoms_reply_wipe(&states);
    }
  }
  return details;
}

}  // namespace lumivore
