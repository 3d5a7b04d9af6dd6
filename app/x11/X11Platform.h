// The real desktop: X11 through xcb, on a connection of Lumivore's own.
#pragma once

#include <xcb/xcb.h>
#include <xcb/xcb_ewmh.h>

#include <memory>
#include <unordered_map>
#include <vector>

#include "app/DesktopServices.h"
#include "app/Platform.h"
#include "app/x11/X11Pixels.h"

struct _XDisplay;

namespace lumivore {

class ShmImage;

class X11Platform final : public Platform {
 public:
  // Connects to $DISPLAY; nullptr when no X server answers. The clipboard,
  // file icons and sounds are left to `services`; without them there is no
  // clipboard, no icon and no sound.
  static std::unique_ptr<X11Platform> Connect(std::unique_ptr<DesktopServices> services);
  // The same with the services of the window's toolkit (Qt's clipboard and
  // icons, libcanberra's sounds), MakeToolkitServices(): defined with them in
  // lumivore_gui (X11Services.cpp), not in the platform layer.
  static std::unique_ptr<X11Platform> Connect();
  ~X11Platform() override;

  WindowId windowFromPoint(Point p) override;
  std::optional<Rect> windowRect(WindowId w) override;
  std::string className(WindowId w) override;
  std::string windowText(WindowId w) override;
  std::optional<std::vector<Rect>> windowShape(WindowId w) override;
  std::vector<WindowId> topLevelWindows() override;
  bool isWindowVisible(WindowId w) override;
  bool isIconic(WindowId w) override;
  WindowId findWindowByClass(const std::string& cls) override;
  WindowId lastActivePopup(WindowId owner) override;
  void restoreWindow(WindowId w) override;
  void activateWindow(WindowId w) override;
  void setWindowClass(WindowId w, const std::string& instance, const std::string& cls) override;
  WindowId activeWindow() override;
  std::optional<WindowDetails> windowDetails(WindowId w) override;
  std::optional<Margins> visibleFrameMargins(WindowId w) override;
  std::optional<Margins> frameMargins(WindowId w) override;

  int monitorCount() override;
  Rect primaryScreen() override;
  Rect desktopRect() override {
    return Rect{0, 0, screen_->width_in_pixels, screen_->height_in_pixels};
  }
  bool grabScreen(const Rect& r, Bitmap& out) override;
  bool grabWindow(WindowId w, const Rect& r, Bitmap& out) override;
  void releaseGrabMemory() override;
  bool grabWindowPixels(WindowId w, bool clientOnly, Bitmap& out, std::string& why) override;
  std::optional<Rgb> screenPixel(Point p) override;
  void sync() override;

  Point cursorPos() override;
  void setCursorPos(Point p) override;
  void clipCursor(const std::optional<Rect>& r) override;
  bool isKeyDown(int vk) override;
  bool sendKey(int vk, bool release) override;

  bool startProcess(const std::vector<std::string>& argv, int idleTimeoutMs) override;
  void playSound(const std::string& file) override;
  bool setClipboardImage(const Bitmap& image) override;
  std::vector<Bitmap> fileIcons(const std::string& file) override;
  std::optional<Bitmap> shellIcon(const std::string& file) override;
  void sleep(int ms) override;
  bool waitForFocus(WindowId w, int timeoutMs) override;
  bool showsWindowsBeyondX() override { return xwayland_; }
  // Through the services' desktop portal, on Xwayland only: an X desktop
  // has no windows but X's.
  void captureThroughDesktop(DesktopShotDone done) override;

  // Screen grabs go through MIT-SHM when the server offers it; switching it
  // off reads them over the socket. A segment pays off from the second grab
  // on: its memory is new to the server and to this program the first time,
  // and each faults it in page by page, which takes longer than the socket.
  // So a program that grabs once goes without (and comparisons do).
  void useSharedMemory(bool on);
  bool usesSharedMemory() const;

  // Whether the server is Xwayland, the X server of a Wayland session: it
  // cannot move the desktop's pointer, its root holds no pixels, and the
  // desktop's own windows are not X windows at all.
  bool isXwayland() const { return xwayland_; }

  xcb_connection_t* connection() const { return conn_; }
  xcb_window_t root() const { return root_; }

 private:
  X11Platform(xcb_connection_t* conn, xcb_screen_t* screen, int screenNumber,
              std::unique_ptr<DesktopServices> services);

  // Where a window lies, in root coordinates: `outer` with the window
  // manager's decorations (or the window's border) included, `own` the
  // window's own area inside its border.
  struct Placement {
    Rect outer;
    Rect own;
    bool framed = false;  // outer holds a window manager's decorations
  };
  std::optional<Placement> placement(xcb_window_t w);
  // The same as the server's window tree gives it, before what Xwayland
  // shows is taken into account.
  std::optional<Placement> serverPlacement(xcb_window_t w);
  // A top-level window as its pixels are read: where it lies on the root
  // (inside its border), its depth and the layout of its pixels.
  struct Drawable {
    xcb_window_t id;
    Rect area;
    std::uint8_t depth;
    PixelLayout layout;
  };
  std::optional<Drawable> topLevelDrawable(xcb_window_t w);
  // The part of `outer` (the outer rectangle of `w`) that Xwayland holds
  // pixels of: inside the top-level window, since decorations the compositor
  // draws itself are no X windows, and inside the opaque part of a 32-bit
  // frame drawn with a see-through shadow around it.
  Rect shownOnXwayland(xcb_window_t w, const Rect& outer);
  // The opaque rectangle of a frame drawn with a see-through shadow around
  // it, inside `cut` of the top-level window; nullopt while nothing in it is
  // opaque (not painted yet).
  std::optional<Rect> opaqueInside(const Drawable& top, const Rect& cut);

  xcb_atom_t atom(const char* name);
  // The window with WM_STATE at or below `w` (a frame's client), or 0.
  xcb_window_t clientOf(xcb_window_t w);
  bool hasWmState(xcb_window_t w);
  // Whether a window manager answers EWMH requests.
  bool hasWindowManager();
  // Rebuilds the frame -> client map when the window manager's client list
  // or the window manager itself changed since the last look, or when
  // forced; true when it did.
  bool updateClientMap(std::vector<xcb_window_t> clients, xcb_window_t wmCheck, bool force);
  // COMPOUND_TEXT as UTF-8 (X11Text.cpp), nullopt when it cannot be decoded.
  std::optional<std::string> decodeCompoundText(const char* data, int length);
  void closeXlib();
  // Copies the part `visible` of `r` into `out` from drawable `d`, whose
  // top-left corner lies at `origin` in the coordinates of `r` (0,0 when they
  // are the drawable's own) and whose pixels are stored as `layout` says; the
  // rest of `r` is black. Shared memory is used when `shm` allows it.
  bool copyImage(xcb_drawable_t d, Point origin, std::uint8_t depth, const PixelLayout& layout,
                 bool shm, const Rect& r, const Rect& visible, Bitmap& out);
  // The window just below the root that holds `w` (its frame), or `w`.
  xcb_window_t topLevelOf(xcb_window_t w);
  // Waits until `drawable` stopped being painted: the first damage report
  // (or a short while without one), then a pause without any.
  void waitForRepaint(std::uint32_t damage);

  xcb_connection_t* conn_;
  xcb_screen_t* screen_;
  xcb_window_t root_;
  int screenNumber_;
  bool xwayland_ = false;
  xcb_ewmh_connection_t ewmh_{};
  bool ewmhReady_ = false;
  std::unordered_map<std::string, xcb_atom_t> atoms_;

  // Top-level window (a frame, child of the root) -> the client it holds,
  // or the window itself when it holds none.
  std::unordered_map<xcb_window_t, xcb_window_t> clientOfFrame_;
  std::vector<xcb_window_t> mappedClients_;
  xcb_window_t mappedWmCheck_ = 0;

  // How the root's pixels are stored; nullopt for a screen without
  // TrueColor, whose pixels are not read.
  std::optional<PixelLayout> layout_;
  std::unique_ptr<ShmImage> shm_;
  std::unique_ptr<DesktopServices> services_;  // may be null
  _XDisplay* xlib_ = nullptr;  // only for decoding text, opened when first needed

  // Pointer confinement (X11Input.cpp): the four XFixes barriers around the
  // rectangle while it lasts; whether the server offers barriers at all.
  bool barriersSupported();
  std::vector<std::uint32_t> barriers_;
  std::optional<bool> barriersSupported_;

  // --- Key events (X11Keys.cpp) ----------------------------------------------
  // Keycodes that carried no keysym, bound by sendKey to a keysym the map
  // lacked. Given back once their key is up again (at the next key event),
  // and all of them when the connection closes.
  struct SpareKeycode {
    xcb_keycode_t keycode;
    std::uint32_t keysym;
    std::uint8_t keysymsPerKeycode;
  };
  std::vector<SpareKeycode> spareKeycodes_;
  xcb_keycode_t bindSpareKeycode(std::uint32_t keysym);
  void releaseSpareKeycodes(bool all);
};

}  // namespace lumivore
