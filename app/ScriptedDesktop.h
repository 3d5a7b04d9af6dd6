// A desktop held in memory, for tests: windows with class, title, rectangle,
// shape, stacking order and visibility; a screen of pixels; the pointer and
// the keys held down; and logs of everything the program did to the desktop.
#pragma once

#include <functional>
#include <map>
#include <set>

#include "app/Platform.h"

namespace lumivore {

class ScriptedDesktop final : public Platform {
 public:
  struct Window {
    WindowId id = 0;
    std::string cls;
    std::string title;
    Rect rect;
    std::optional<std::vector<Rect>> shape;
    bool visible = true;
    bool iconic = false;
    WindowId transientFor = 0;
    // What the inspector reports besides.
    std::string instance;
    std::optional<Rect> client;  // without one, the whole rectangle
    int pid = 0;
    bool maximized = false;
    bool above = false;
    // The window's own pixels (its whole rectangle), as an off-screen copy
    // holds them; without them they cannot be read.
    std::optional<Bitmap> ownPixels;
  };
  struct KeyEvent {
    int vk;
    bool release;
    friend bool operator==(const KeyEvent&, const KeyEvent&) = default;
  };

  explicit ScriptedDesktop(int width = 1920, int height = 1080);

  // Adds a window on top of all others and returns its id.
  WindowId addWindow(Window w);
  WindowId addWindow(std::string cls, std::string title, Rect rect) {
    Window w;
    w.cls = std::move(cls);
    w.title = std::move(title);
    w.rect = rect;
    return addWindow(std::move(w));
  }
  Window* window(WindowId id);
  void removeWindow(WindowId id);
  // Paints a rectangle of the screen (what grabs and pixel reads see).
  void fillScreen(const Rect& r, Rgb colour);
  void setMonitors(std::vector<Rect> monitors) { monitors_ = std::move(monitors); }
  void pressKey(int vk, bool down) {
    if (down)
      keysDown_.insert(vk);
    else
      keysDown_.erase(vk);
  }

  // What the program did.
  std::vector<KeyEvent> keysSent;
  std::vector<std::vector<std::string>> processesStarted;
  std::vector<std::string> soundsPlayed;
  std::vector<WindowId> restored;
  std::vector<WindowId> activated;
  std::vector<int> sleeps;
  std::optional<Bitmap> clipboard;
  std::optional<Rect> clip;
  // Icons stored in files, by file name (others are read from the file).
  std::map<std::string, std::vector<Bitmap>> icons;
  // The desktop's icon for a file's type, by file name.
  std::map<std::string, Bitmap> shellIcons;
  int syncs = 0;
  // Grabs and releases of their memory, in order ("grab WxH", "release").
  std::vector<std::string> screenLog;
  Point pointer;
  WindowId active = 0;

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
  WindowId activeWindow() override { return active; }
  std::optional<WindowDetails> windowDetails(WindowId w) override;

  int monitorCount() override { return static_cast<int>(monitors_.size()); }
  Rect primaryScreen() override { return monitors_.front(); }
  Rect desktopRect() override { return Rect{0, 0, screen_.width(), screen_.height()}; }
  bool grabScreen(const Rect& r, Bitmap& out) override;
  void releaseGrabMemory() override { screenLog.push_back("release"); }
  bool grabWindowPixels(WindowId w, bool clientOnly, Bitmap& out, std::string& why) override;
  std::optional<Rgb> screenPixel(Point p) override;
  void sync() override { ++syncs; }

  Point cursorPos() override { return pointer; }
  void setCursorPos(Point p) override;
  void clipCursor(const std::optional<Rect>& r) override { clip = r; }
  bool isKeyDown(int vk) override { return keysDown_.count(vk) > 0; }
  bool sendKey(int vk, bool release) override;

  bool startProcess(const std::vector<std::string>& argv, int idleTimeoutMs) override;
  void playSound(const std::string& file) override { soundsPlayed.push_back(file); }
  bool setClipboardImage(const Bitmap& image) override;
  std::vector<Bitmap> fileIcons(const std::string& file) override;
  std::optional<Bitmap> shellIcon(const std::string& file) override;
  void sleep(int ms) override {
    sleeps.push_back(ms);
    if (whileSleeping) whileSleeping(ms);
  }
  // Called during every pause, to look at the program while it waits.
  std::function<void(int)> whileSleeping;

  // --- Hand-off ------------------------------------------------------------
  // Everything done to windows, keys, programs and the clipboard, in order
  // ("restore 0x100", "activate 0x100", "focus 0x100", "start prog",
  // "key 0x11 down", "clipboard 10x20").
  std::vector<std::string> journal;
  // The clipboard cannot be taken (another program holds it).
  bool clipboardFails = false;
  // Windows that never take the focus, even when activated.
  std::set<WindowId> refusesFocus;
  bool waitForFocus(WindowId w, int timeoutMs) override;

  // --- Pictures the desktop takes itself ------------------------------------
  // Whether the desktop shows windows that X does not, and how it answers a
  // request for a picture: at once with `desktopShotAnswer`, or, without
  // one, later, when the test calls the request left in `desktopShotPending`.
  bool windowsBeyondX = false;
  std::optional<std::pair<DesktopShot, Bitmap>> desktopShotAnswer;
  DesktopShotDone desktopShotPending;
  int desktopShotRequests = 0;
  bool showsWindowsBeyondX() override { return windowsBeyondX; }
  void captureThroughDesktop(DesktopShotDone done) override {
    ++desktopShotRequests;
    if (desktopShotAnswer)
      done(desktopShotAnswer->first, desktopShotAnswer->second);
    else
      desktopShotPending = std::move(done);
  }

 private:
  std::vector<Window> windows_;  // topmost first
  std::vector<Rect> monitors_;
  std::set<int> keysDown_;
  Bitmap screen_;
  WindowId nextId_ = 0x100;
};

}  // namespace lumivore
