// The real desktop: X11 through xcb, on a connection of Lumivore's own.
#pragma once

#include <xcb/xcb.h>
#include <xcb/xcb_ewmh.h>

#include <memory>
#include <unordered_map>

#include "app/Platform.h"

namespace lumivore {

class X11Platform final : public Platform {
 public:
  // Connects to $DISPLAY; nullptr when no X server answers.
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

  int monitorCount() override;
  Rect primaryScreen() override;
  bool grabScreen(const Rect& r, Bitmap& out) override;
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

  xcb_connection_t* connection() const { return conn_; }
  xcb_window_t root() const { return root_; }

 private:
  X11Platform(xcb_connection_t* conn, xcb_screen_t* screen, int screenNumber);

  xcb_atom_t atom(const char* name);
  // The window with WM_STATE at or below `w` (a frame's client), or 0.
  xcb_window_t clientOf(xcb_window_t w);
  bool hasWmState(xcb_window_t w);
  // Whether a window manager answers EWMH requests.
  bool hasWindowManager();

  xcb_connection_t* conn_;
  xcb_screen_t* screen_;
  xcb_window_t root_;
  int screenNumber_;
  xcb_ewmh_connection_t ewmh_{};
  bool ewmhReady_ = false;
  std::unordered_map<std::string, xcb_atom_t> atoms_;

  // Pointer confinement (X11Input.cpp): the four XFixes barriers around the
  // rectangle while it lasts; whether the server offers barriers at all.
  bool barriersSupported();
  std::vector<std::uint32_t> barriers_;
  std::optional<bool> barriersSupported_;
};

}  // namespace lumivore
