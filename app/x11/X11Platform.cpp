// Connection, window queries and activation of the X11 desktop.
#include "app/x11/X11Platform.h"

#include <xcb/randr.h>
#include <xcb/xcb_icccm.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <string_view>
#include <thread>

#include "app/x11/X11Shm.h"
#include "app/x11/XcbUtil.h"

namespace lumivore {

namespace {

constexpr std::uint32_t kIconicState = 3;

std::string Latin1ToUtf8(const char* s, int len) {
  std::string out;
  out.reserve(len);
  for (int i = 0; i < len; ++i) {
    const auto c = static_cast<unsigned char>(s[i]);
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

// Xwayland names itself through its own extension; the versions before it
// have it only in the names of their RandR outputs (XWAYLAND0, ...).
bool IsXwayland(xcb_connection_t* c, xcb_window_t root) {
  static constexpr char kName[] = "XWAYLAND";
  auto ext = Fetch<xcb_query_extension_reply_t>(
      c, xcb_query_extension_reply, xcb_query_extension(c, sizeof kName - 1, kName));
  if (ext && ext->present) return true;
  const xcb_query_extension_reply_t* randr = xcb_get_extension_data(c, &xcb_randr_id);
  if (!randr || !randr->present) return false;
  auto res = Fetch<xcb_randr_get_screen_resources_current_reply_t>(
      c, xcb_randr_get_screen_resources_current_reply,
      xcb_randr_get_screen_resources_current(c, root));
  if (!res) return false;
  const xcb_randr_output_t* outputs = xcb_randr_get_screen_resources_current_outputs(res.get());
  const int n = xcb_randr_get_screen_resources_current_outputs_length(res.get());
  for (int i = 0; i < n; ++i) {
    auto info = Fetch<xcb_randr_get_output_info_reply_t>(
        c, xcb_randr_get_output_info_reply,
        xcb_randr_get_output_info(c, outputs[i], res->config_timestamp));
    if (!info) continue;
    const std::string_view name(
        reinterpret_cast<const char*>(xcb_randr_get_output_info_name(info.get())),
        xcb_randr_get_output_info_name_length(info.get()));
    if (name.starts_with(kName)) return true;
  }
  return false;
}

// Waits for a request that fails when its window vanished meanwhile, which
// is never a fault here, and drops its error.
void Check(xcb_connection_t* c, xcb_void_cookie_t cookie) {
  std::free(xcb_request_check(c, cookie));
}

}  // namespace

std::unique_ptr<X11Platform> X11Platform::Connect(std::unique_ptr<DesktopServices> services) {
  int screenNumber = 0;
  xcb_connection_t* conn = xcb_connect(nullptr, &screenNumber);
  if (!conn || xcb_connection_has_error(conn)) {
    if (conn) xcb_disconnect(conn);
    return nullptr;
  }
  xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(conn));
  for (int i = 0; i < screenNumber && it.rem; ++i) xcb_screen_next(&it);
  if (!it.rem) {
    xcb_disconnect(conn);
    return nullptr;
  }
  return std::unique_ptr<X11Platform>(
      new X11Platform(conn, it.data, screenNumber, std::move(services)));
}

X11Platform::X11Platform(xcb_connection_t* conn, xcb_screen_t* screen, int screenNumber,
                         std::unique_ptr<DesktopServices> services)
    : conn_(conn),
      screen_(screen),
      root_(screen->root),
      screenNumber_(screenNumber),
      services_(std::move(services)) {
  xcb_intern_atom_cookie_t* cookies = xcb_ewmh_init_atoms(conn_, &ewmh_);
  ewmhReady_ = cookies && xcb_ewmh_init_atoms_replies(&ewmh_, cookies, nullptr);
  layout_ = PixelLayout::OfRoot(xcb_get_setup(conn_), screen_);
  xwayland_ = IsXwayland(conn_, root_);
  shm_ = std::make_unique<ShmImage>(conn_);
}

X11Platform::~X11Platform() {
  releaseSpareKeycodes(true);
  shm_.reset();
  closeXlib();
  if (ewmhReady_) xcb_ewmh_connection_wipe(&ewmh_);
  xcb_disconnect(conn_);
}

xcb_atom_t X11Platform::atom(const char* name) {
  auto it = atoms_.find(name);
  if (it != atoms_.end()) return it->second;
  auto reply = Fetch<xcb_intern_atom_reply_t>(
      conn_, xcb_intern_atom_reply,
      xcb_intern_atom(conn_, 0, static_cast<std::uint16_t>(std::strlen(name)), name));
  const xcb_atom_t a = reply ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
  atoms_.emplace(name, a);
  return a;
}

bool X11Platform::hasWmState(xcb_window_t w) {
  const xcb_atom_t wmState = atom("WM_STATE");
  auto reply = Fetch<xcb_get_property_reply_t>(
      conn_, xcb_get_property_reply, xcb_get_property(conn_, 0, w, wmState, wmState, 0, 2));
  return reply && reply->type == wmState;
}

xcb_window_t X11Platform::clientOf(xcb_window_t w) {
  if (hasWmState(w)) return w;
  auto tree = Fetch<xcb_query_tree_reply_t>(conn_, xcb_query_tree_reply, xcb_query_tree(conn_, w));
  if (!tree) return 0;
  const xcb_window_t* children = xcb_query_tree_children(tree.get());
  const int n = xcb_query_tree_children_length(tree.get());
  for (int i = n - 1; i >= 0; --i) {
    if (hasWmState(children[i])) return children[i];
  }
  return 0;
}

bool X11Platform::hasWindowManager() {
  if (!ewmhReady_) return false;
  xcb_window_t check = 0;
  if (!xcb_ewmh_get_supporting_wm_check_reply(
          &ewmh_, xcb_ewmh_get_supporting_wm_check(&ewmh_, root_), &check, DropError()) ||
      !check) {
    return false;
  }
  // A window manager that ended leaves the root's property behind; a live
  // one's check window names itself.
  xcb_window_t self = 0;
  return xcb_ewmh_get_supporting_wm_check_reply(
             &ewmh_, xcb_ewmh_get_supporting_wm_check(&ewmh_, check), &self, DropError()) &&
         self == check;
}

bool X11Platform::updateClientMap(std::vector<xcb_window_t> clients, xcb_window_t wmCheck,
                                  bool force) {
  if (!force && clients == mappedClients_ && wmCheck == mappedWmCheck_) return false;
  clientOfFrame_.clear();
  // Climb from every client to its ancestor just below the root, one level
  // for all clients per round trip.
  std::vector<std::pair<xcb_window_t, xcb_window_t>> pending;  // client, current window
  for (xcb_window_t c : clients) pending.emplace_back(c, c);
  for (int depth = 0; depth < 8 && !pending.empty(); ++depth) {
    std::vector<xcb_query_tree_cookie_t> cookies;
    for (const auto& [client, cur] : pending) cookies.push_back(xcb_query_tree(conn_, cur));
    std::vector<std::pair<xcb_window_t, xcb_window_t>> next;
    for (std::size_t i = 0; i < pending.size(); ++i) {
      auto tree = Fetch<xcb_query_tree_reply_t>(conn_, xcb_query_tree_reply, cookies[i]);
      if (!tree || !tree->parent) continue;  // vanished meanwhile
      if (tree->parent == root_) {
        clientOfFrame_[pending[i].second] = pending[i].first;
      } else {
        next.emplace_back(pending[i].first, tree->parent);
      }
    }
    pending = std::move(next);
  }
  mappedClients_ = std::move(clients);
  mappedWmCheck_ = wmCheck;
  return true;
}

WindowId X11Platform::windowFromPoint(Point p) {
  if (p.x < INT16_MIN || p.x > INT16_MAX || p.y < INT16_MIN || p.y > INT16_MAX) return 0;
  // One round trip for the common case: the top-level window under the point
  // (X applies every window's input shape, so the gap between two round
  // parts of a shaped window belongs to the window below), together with the
  // window manager's client list, which tells whose frame that window is.
  const auto topCookie = xcb_translate_coordinates(
      conn_, root_, root_, static_cast<std::int16_t>(p.x), static_cast<std::int16_t>(p.y));
  const auto listCookie =
      xcb_get_property(conn_, 0, root_, atom("_NET_CLIENT_LIST"), XCB_ATOM_WINDOW, 0, 1u << 16);
  const auto checkCookie =
      xcb_get_property(conn_, 0, root_, atom("_NET_SUPPORTING_WM_CHECK"), XCB_ATOM_WINDOW, 0, 1);
  auto top =
      Fetch<xcb_translate_coordinates_reply_t>(conn_, xcb_translate_coordinates_reply, topCookie);
  auto list = Fetch<xcb_get_property_reply_t>(conn_, xcb_get_property_reply, listCookie);
  auto check = Fetch<xcb_get_property_reply_t>(conn_, xcb_get_property_reply, checkCookie);
  if (!top || top->child == XCB_WINDOW_NONE) return 0;

  if (list && list->type == XCB_ATOM_WINDOW) {
    // An EWMH window manager: over a frame, its decorations included, the
    // user points at the client; any other top-level window (a menu, a
    // tooltip, an unmanaged window) stands for itself.
    const auto* ids = static_cast<const xcb_window_t*>(xcb_get_property_value(list.get()));
    std::vector<xcb_window_t> clients(ids, ids + xcb_get_property_value_length(list.get()) / 4);
    xcb_window_t wmCheck = 0;
    if (check && check->type == XCB_ATOM_WINDOW && xcb_get_property_value_length(check.get()) >= 4)
      std::memcpy(&wmCheck, xcb_get_property_value(check.get()), 4);
    const bool fresh = updateClientMap(clients, wmCheck, false);
    auto it = clientOfFrame_.find(top->child);
    if (it == clientOfFrame_.end()) {
      // An unknown top-level window. A client that started after another
      // one ended may carry the same id in a new frame, which leaves the
      // list as it was: look again once, then remember the window as one
      // that stands for itself.
      if (!fresh) updateClientMap(std::move(clients), wmCheck, true);
      it = clientOfFrame_.try_emplace(top->child, top->child).first;
    }
    return it->second;
  }

  // No client list: walk down to the first window that carries WM_STATE (a
  // window manager without EWMH); without any, the top-level window itself.
  // The WM_STATE look-up of each window travels with the next step's query.
  xcb_window_t current = top->child;
  for (int depth = 0; depth < 32; ++depth) {
    const xcb_atom_t wmState = atom("WM_STATE");
    const auto stateCookie = xcb_get_property(conn_, 0, current, wmState, wmState, 0, 2);
    const auto stepCookie = xcb_translate_coordinates(
        conn_, root_, current, static_cast<std::int16_t>(p.x), static_cast<std::int16_t>(p.y));
    auto state = Fetch<xcb_get_property_reply_t>(conn_, xcb_get_property_reply, stateCookie);
    auto step = Fetch<xcb_translate_coordinates_reply_t>(conn_, xcb_translate_coordinates_reply,
                                                         stepCookie);
    if (state && state->type == wmState) return current;
    if (!step || step->child == XCB_WINDOW_NONE) break;
    current = step->child;
  }
  return top->child;
}

std::optional<X11Platform::Placement> X11Platform::placement(xcb_window_t w) {
  auto where = serverPlacement(w);
  if (where && xwayland_) where->outer = shownOnXwayland(w, where->outer);
  return where;
}

std::optional<X11Platform::Placement> X11Platform::serverPlacement(xcb_window_t w) {
  if (!w) return std::nullopt;
  const xcb_atom_t wmState = atom("WM_STATE");
  const auto geoCookie = xcb_get_geometry(conn_, w);
  const auto posCookie = xcb_translate_coordinates(conn_, w, root_, 0, 0);
  const auto stateCookie = xcb_get_property(conn_, 0, w, wmState, wmState, 0, 2);
  const auto extentsCookie =
      xcb_get_property(conn_, 0, w, atom("_NET_FRAME_EXTENTS"), XCB_ATOM_CARDINAL, 0, 4);
  const auto treeCookie = xcb_query_tree(conn_, w);
  auto geo = Fetch<xcb_get_geometry_reply_t>(conn_, xcb_get_geometry_reply, geoCookie);
  auto pos =
      Fetch<xcb_translate_coordinates_reply_t>(conn_, xcb_translate_coordinates_reply, posCookie);
  auto state = Fetch<xcb_get_property_reply_t>(conn_, xcb_get_property_reply, stateCookie);
  auto extents = Fetch<xcb_get_property_reply_t>(conn_, xcb_get_property_reply, extentsCookie);
  auto tree = Fetch<xcb_query_tree_reply_t>(conn_, xcb_query_tree_reply, treeCookie);
  if (!geo || !pos || !tree) return std::nullopt;

  const Rect own{pos->dst_x, pos->dst_y, pos->dst_x + geo->width, pos->dst_y + geo->height};
  const int border = geo->border_width;
  Placement result{
      {own.left - border, own.top - border, own.right + border, own.bottom + border}, own, false};
  // Not managed, or not in a frame: a window manager that crashed leaves
  // WM_STATE and its frame extents behind on the clients the server handed
  // back to the root.
  if (!state || state->type != wmState || tree->parent == root_) return result;

  // A managed client in a frame: what the window manager says its
  // decorations add, else the frame, its ancestor just below the root.
  if (extents && extents->type == XCB_ATOM_CARDINAL &&
      xcb_get_property_value_length(extents.get()) >= 16) {
    std::uint32_t e[4];  // left, right, top, bottom
    std::memcpy(e, xcb_get_property_value(extents.get()), sizeof e);
    result.outer = Rect{own.left - int(e[0]), own.top - int(e[2]), own.right + int(e[1]),
                        own.bottom + int(e[3])};
    result.framed = true;
    return result;
  }
  for (xcb_window_t cur = tree->parent;;) {
    auto up =
        Fetch<xcb_query_tree_reply_t>(conn_, xcb_query_tree_reply, xcb_query_tree(conn_, cur));
    if (!up) return std::nullopt;
    if (up->parent == root_) {
      auto frame = serverPlacement(cur);  // unmanaged itself: its geometry and border
      if (!frame) return std::nullopt;
      result.outer = frame->outer;
      result.framed = true;
      return result;
    }
    if (!up->parent) return result;
    cur = up->parent;
  }
}

std::optional<Rect> X11Platform::windowRect(WindowId w) {
  const auto where = placement(w);
  if (!where) return std::nullopt;
  return where->outer;
}

std::string X11Platform::className(WindowId w) {
  if (!w) return {};
  xcb_icccm_get_wm_class_reply_t cls;
  if (!xcb_icccm_get_wm_class_reply(conn_, xcb_icccm_get_wm_class(conn_, w), &cls, DropError())) {
    return {};
  }
  std::string result = cls.class_name ? cls.class_name : "";
  xcb_icccm_get_wm_class_reply_wipe(&cls);
  return result;
}

std::string X11Platform::windowText(WindowId w) {
  if (!w) return {};
  if (ewmhReady_) {
    xcb_ewmh_get_utf8_strings_reply_t name;
    if (xcb_ewmh_get_wm_name_reply(&ewmh_, xcb_ewmh_get_wm_name(&ewmh_, w), &name, DropError())) {
      std::string result(name.strings, name.strings_len);
      xcb_ewmh_get_utf8_strings_reply_wipe(&name);
      return result;
    }
  }
  xcb_icccm_get_text_property_reply_t prop;
  if (!xcb_icccm_get_wm_name_reply(conn_, xcb_icccm_get_wm_name(conn_, w), &prop, DropError())) {
    return {};
  }
  // STRING is Latin-1, and so is anything that cannot be decoded otherwise.
  std::optional<std::string> decoded;
  if (prop.encoding == atom("UTF8_STRING")) {
    decoded = std::string(prop.name, prop.name_len);
  } else if (prop.encoding == atom("COMPOUND_TEXT")) {
    decoded = decodeCompoundText(prop.name, prop.name_len);
  }
  std::string result = decoded ? *decoded : Latin1ToUtf8(prop.name, prop.name_len);
  xcb_icccm_get_text_property_reply_wipe(&prop);
  return result;
}

std::vector<WindowId> X11Platform::topLevelWindows() {
  std::vector<WindowId> result;
  if (ewmhReady_) {
    xcb_ewmh_get_windows_reply_t list;
    if (xcb_ewmh_get_client_list_stacking_reply(
            &ewmh_, xcb_ewmh_get_client_list_stacking(&ewmh_, 0), &list, DropError())) {
      result.assign(list.windows, list.windows + list.windows_len);
      xcb_ewmh_get_windows_reply_wipe(&list);
      std::reverse(result.begin(), result.end());  // the list runs bottom to top
      return result;
    }
  }
  // No window manager: the root's children, top first, are the top-level windows.
  auto tree =
      Fetch<xcb_query_tree_reply_t>(conn_, xcb_query_tree_reply, xcb_query_tree(conn_, root_));
  if (!tree) return result;
  const xcb_window_t* children = xcb_query_tree_children(tree.get());
  for (int i = xcb_query_tree_children_length(tree.get()) - 1; i >= 0; --i) {
    const xcb_window_t c = clientOf(children[i]);
    result.push_back(c ? c : children[i]);
  }
  return result;
}

bool X11Platform::isWindowVisible(WindowId w) {
  if (!w) return false;
  auto attrs = Fetch<xcb_get_window_attributes_reply_t>(conn_, xcb_get_window_attributes_reply,
                                                        xcb_get_window_attributes(conn_, w));
  if (!attrs) return false;
  // A minimised window still counts as shown, only iconified.
  return attrs->map_state == XCB_MAP_STATE_VIEWABLE || isIconic(w);
}

bool X11Platform::isIconic(WindowId w) {
  if (!w) return false;
  const xcb_atom_t wmState = atom("WM_STATE");
  auto reply = Fetch<xcb_get_property_reply_t>(
      conn_, xcb_get_property_reply, xcb_get_property(conn_, 0, w, wmState, wmState, 0, 2));
  if (reply && reply->type == wmState && xcb_get_property_value_length(reply.get()) >= 4) {
    std::uint32_t state;
    std::memcpy(&state, xcb_get_property_value(reply.get()), 4);
    if (state == kIconicState) return true;
  }
  if (ewmhReady_) {
    xcb_ewmh_get_atoms_reply_t states;
    if (xcb_ewmh_get_wm_state_reply(&ewmh_, xcb_ewmh_get_wm_state(&ewmh_, w), &states,
                                    DropError())) {
      const bool hidden = std::find(states.atoms, states.atoms + states.atoms_len,
                                    ewmh_._NET_WM_STATE_HIDDEN) != states.atoms + states.atoms_len;
      xcb_ewmh_get_atoms_reply_wipe(&states);
      return hidden;
    }
  }
  return false;
}

WindowId X11Platform::findWindowByClass(const std::string& cls) {
  auto matches = [&](xcb_window_t w) {
    if (className(w) != cls) return false;
    auto attrs = Fetch<xcb_get_window_attributes_reply_t>(conn_, xcb_get_window_attributes_reply,
                                                          xcb_get_window_attributes(conn_, w));
    return attrs && (attrs->map_state == XCB_MAP_STATE_VIEWABLE || hasWmState(w));
  };
  // A window manager's client list names every client (minimised ones too),
  // however deep its frames nest them.
  if (ewmhReady_ && hasWindowManager()) {
    xcb_ewmh_get_windows_reply_t list;
    if (xcb_ewmh_get_client_list_reply(&ewmh_, xcb_ewmh_get_client_list(&ewmh_, screenNumber_),
                                       &list, DropError())) {
      const std::vector<xcb_window_t> clients(list.windows, list.windows + list.windows_len);
      xcb_ewmh_get_windows_reply_wipe(&list);
      for (xcb_window_t c : clients) {
        if (matches(c)) return c;
      }
    }
  }
  // Otherwise (and for a window not managed yet) walk down from the root,
  // topmost first, through windows that are not clients themselves: frames
  // and their wrappers, to any depth a window manager may use.
  std::vector<xcb_window_t> level{root_};
  for (int depth = 0; depth < 8 && !level.empty(); ++depth) {
    std::vector<xcb_window_t> next;
    for (xcb_window_t parent : level) {
      auto tree = Fetch<xcb_query_tree_reply_t>(conn_, xcb_query_tree_reply,
                                                xcb_query_tree(conn_, parent));
      if (!tree) continue;
      const xcb_window_t* children = xcb_query_tree_children(tree.get());
      for (int i = xcb_query_tree_children_length(tree.get()) - 1; i >= 0; --i) {
        if (matches(children[i])) return children[i];
        if (!hasWmState(children[i])) next.push_back(children[i]);
      }
    }
    level = std::move(next);
  }
  return 0;
}

WindowId X11Platform::lastActivePopup(WindowId owner) {
  for (WindowId w : topLevelWindows()) {
    xcb_window_t transientFor = 0;
    if (w != owner &&
        xcb_icccm_get_wm_transient_for_reply(conn_, xcb_icccm_get_wm_transient_for(conn_, w),
                                             &transientFor, DropError()) &&
        transientFor == owner) {
      auto attrs = Fetch<xcb_get_window_attributes_reply_t>(conn_, xcb_get_window_attributes_reply,
                                                            xcb_get_window_attributes(conn_, w));
      if (attrs && attrs->map_state == XCB_MAP_STATE_VIEWABLE) return w;
    }
  }
  return owner;
}

void X11Platform::restoreWindow(WindowId w) {
  if (!w) return;
  // Mapping an iconified client asks the window manager to de-iconify it
  // (ICCCM); without a window manager it simply shows the window.
  Check(conn_, xcb_map_window_checked(conn_, w));
}

void X11Platform::activateWindow(WindowId w) {
  if (!w) return;
  if (hasWindowManager()) {
    xcb_ewmh_request_change_active_window(&ewmh_, screenNumber_, w,
                                          XCB_EWMH_CLIENT_SOURCE_TYPE_OTHER, XCB_CURRENT_TIME,
                                          XCB_WINDOW_NONE);
  } else {
    // Nobody answers _NET_ACTIVE_WINDOW: map, raise and focus the window ourselves.
    const std::uint32_t above = XCB_STACK_MODE_ABOVE;
    Check(conn_, xcb_map_window_checked(conn_, w));
    Check(conn_, xcb_configure_window_checked(conn_, w, XCB_CONFIG_WINDOW_STACK_MODE, &above));
    Check(conn_, xcb_set_input_focus_checked(conn_, XCB_INPUT_FOCUS_PARENT, w, XCB_CURRENT_TIME));
  }
  xcb_flush(conn_);
}

void X11Platform::setWindowClass(WindowId w, const std::string& instance, const std::string& cls) {
  if (!w) return;
  std::string value = instance;
  value += '\0';
  value += cls;
  value += '\0';
  xcb_change_property(conn_, XCB_PROP_MODE_REPLACE, w, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 8,
                      static_cast<std::uint32_t>(value.size()), value.data());
  xcb_flush(conn_);
}

int X11Platform::monitorCount() {
  auto reply = Fetch<xcb_randr_get_monitors_reply_t>(conn_, xcb_randr_get_monitors_reply,
                                                     xcb_randr_get_monitors(conn_, root_, 1));
  if (!reply) return 1;
  return std::max(1, int(reply->nMonitors));
}

Rect X11Platform::primaryScreen() {
  auto reply = Fetch<xcb_randr_get_monitors_reply_t>(conn_, xcb_randr_get_monitors_reply,
                                                     xcb_randr_get_monitors(conn_, root_, 1));
  if (reply && reply->nMonitors > 0) {
    xcb_randr_monitor_info_iterator_t it = xcb_randr_get_monitors_monitors_iterator(reply.get());
    // The monitor marked primary; without one, the monitor at the origin,
    // where the primary monitor always lies elsewhere; else the first.
    const xcb_randr_monitor_info_t* chosen = it.data;
    const xcb_randr_monitor_info_t* atOrigin = nullptr;
    for (; it.rem; xcb_randr_monitor_info_next(&it)) {
      if (it.data->primary) {
        atOrigin = chosen = it.data;
        break;
      }
      if (!atOrigin && it.data->x == 0 && it.data->y == 0) atOrigin = it.data;
    }
    if (atOrigin) chosen = atOrigin;
    return Rect{chosen->x, chosen->y, chosen->x + chosen->width, chosen->y + chosen->height};
  }
  return Rect{0, 0, screen_->width_in_pixels, screen_->height_in_pixels};
}

void X11Platform::sync() {
  // The toolkit's own connection carries the window's hide and show: sync
  // it too, so the server has unmapped the window when this returns.
  if (services_) services_->sync();
  auto reply = Fetch<xcb_get_input_focus_reply_t>(conn_, xcb_get_input_focus_reply,
                                                  xcb_get_input_focus(conn_));
}

Point X11Platform::cursorPos() {
  auto reply = Fetch<xcb_query_pointer_reply_t>(conn_, xcb_query_pointer_reply,
                                                xcb_query_pointer(conn_, root_));
  return reply ? Point{reply->root_x, reply->root_y} : Point{};
}

void X11Platform::setCursorPos(Point p) {
  // Xwayland cannot move the desktop's pointer, and the request takes down
  // an Xwayland whose compositor has no seat, every X program with it.
  if (xwayland_) return;
  xcb_warp_pointer(conn_, XCB_WINDOW_NONE, root_, 0, 0, 0, 0, static_cast<std::int16_t>(p.x),
                   static_cast<std::int16_t>(p.y));
  xcb_flush(conn_);
}

bool X11Platform::setClipboardImage(const Bitmap& image) {
  return services_ && services_->setClipboardImage(image);
}

std::vector<Bitmap> X11Platform::fileIcons(const std::string& file) {
  return services_ ? services_->fileIcons(file) : std::vector<Bitmap>();
}

std::optional<Bitmap> X11Platform::shellIcon(const std::string& file) {
  return services_ ? services_->shellIcon(file) : std::nullopt;
}

void X11Platform::playSound(const std::string& file) {
  if (services_) services_->playSound(file);
}

void X11Platform::captureThroughDesktop(DesktopShotDone done) {
  if (!xwayland_ || !services_) {
    done(DesktopShot::Unavailable, {});
    return;
  }
  services_->captureThroughDesktop(std::move(done));
}

void X11Platform::sleep(int ms) {
  if (ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

}  // namespace lumivore
