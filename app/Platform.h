// Everything Lumivore needs from the desktop goes through this interface.
//
// The handlers of the main window call it and never X11 directly. There are
// two implementations: X11Platform (the real desktop, through xcb) and
// ScriptedDesktop (windows, pointer, keys and logs held in memory, for tests).
// Coordinates are root (screen) pixels; strings are UTF-8.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "imaging/Bitmap.h"

namespace lumivore {

// An X window id; 0 means none.
using WindowId = std::uint32_t;

struct Point {
  int x = 0;
  int y = 0;
  friend bool operator==(const Point&, const Point&) = default;
};

// Left and top inclusive, right and bottom exclusive.
struct Rect {
  int left = 0;
  int top = 0;
  int right = 0;
  int bottom = 0;
  int width() const { return right - left; }
  int height() const { return bottom - top; }
  bool isEmpty() const { return right <= left || bottom <= top; }
  bool contains(Point p) const { return p.x >= left && p.x < right && p.y >= top && p.y < bottom; }
  friend bool operator==(const Rect&, const Rect&) = default;
};

// The widths of what lies around a window's own area: a frame's decorations.
struct Margins {
  int left = 0;
  int top = 0;
  int right = 0;
  int bottom = 0;
  friend bool operator==(const Margins&, const Margins&) = default;
};

// The intersection of two rectangles; an empty result is all zero, as the
// platform's IntersectRect gives it.
Rect IntersectRect(const Rect& a, const Rect& b);

// Windows virtual-key codes: the key sequences of the settings are written in
// them, and the platform maps them to the keyboard of the desktop.
namespace vk {
constexpr int Shift = 0x10;
constexpr int Control = 0x11;
constexpr int Menu = 0x12;  // Alt
constexpr int Left = 0x25;
constexpr int Up = 0x26;
constexpr int Right = 0x27;
constexpr int Down = 0x28;
}  // namespace vk

class Platform {
 public:
  virtual ~Platform() = default;

  // --- Windows -------------------------------------------------------------
  // The window under a root point that the user sees there: over a window
  // manager's frame, decorations included, the client it holds; otherwise
  // the top-level window (a menu, an unmanaged window). The gaps of a shaped
  // window belong to what lies below. 0 over the bare root.
  virtual WindowId windowFromPoint(Point p) = 0;
  // Outer rectangle in root coordinates, decorations included.
  virtual std::optional<Rect> windowRect(WindowId w) = 0;
  virtual std::string className(WindowId w) = 0;
  virtual std::string windowText(WindowId w) = 0;
  // The window's bounding shape as rectangles relative to the top-left corner
  // of windowRect (for a managed client, its frame's corner: the shape is
  // shifted by the client's place in the frame and the decorations around it
  // are included whole); nullopt when the window is not shaped.
  virtual std::optional<std::vector<Rect>> windowShape(WindowId w) = 0;
  // Top-level client windows in stacking order, topmost first.
  virtual std::vector<WindowId> topLevelWindows() = 0;
  virtual bool isWindowVisible(WindowId w) = 0;
  virtual bool isIconic(WindowId w) = 0;
  // A top-level client whose WM_CLASS class is `cls`, or 0.
  virtual WindowId findWindowByClass(const std::string& cls) = 0;
  // The mapped dialog transient for `owner`, else `owner` itself.
  virtual WindowId lastActivePopup(WindowId owner) = 0;
  // Un-minimises a window.
  virtual void restoreWindow(WindowId w) = 0;
  // Brings a window to the front and gives it the focus.
  virtual void activateWindow(WindowId w) = 0;
  // Sets the WM_CLASS of one of Lumivore's own windows (how a second start finds it).
  virtual void setWindowClass(WindowId w, const std::string& instance, const std::string& cls) = 0;
  // The client the window manager reports active, else the client holding
  // the keyboard focus; 0 for none.
  virtual WindowId activeWindow() = 0;
  // What the window inspector shows beyond class, title and rectangle.
  struct WindowDetails {
    std::string instance;  // the instance part of WM_CLASS
    Rect client;           // the window's own area, without decorations
    int pid = 0;           // _NET_WM_PID; 0 when the window does not tell
    int depth = 0;         // bits per pixel of the window's visual
    bool viewable = false;
    bool maximized = false;  // both ways
    bool above = false;      // kept above others
  };
  // nullopt when the window does not exist.
  virtual std::optional<WindowDetails> windowDetails(WindowId w) = 0;
  // The decorations around one of Lumivore's own windows as the user sees
  // them, where they are not the frame window's size: a frame drawn with a
  // see-through shadow around it counts only its opaque part. nullopt where
  // the frame's size is right, as the toolkit reports it. A frame whose
  // pixels are not painted yet shows no opaque part: all four are -1 then.
  virtual std::optional<Margins> visibleFrameMargins(WindowId w) {
    (void)w;
    return std::nullopt;
  }

  // The decorations around one of Lumivore's own windows in device pixels,
  // as the window manager's frame holds them (all zero without a frame).
  // nullopt where the desktop cannot tell: the toolkit's own count is used
  // then, which at a screen's scale comes in whole logical pixels.
  virtual std::optional<Margins> frameMargins(WindowId w) {
    (void)w;
    return std::nullopt;
  }

  // --- Screen --------------------------------------------------------------
  virtual int monitorCount() = 0;
  // Size of the primary monitor (the root when there are no monitors).
  virtual Rect primaryScreen() = 0;
  // The whole screen, every monitor on it (the root window).
  virtual Rect desktopRect() = 0;
  // Copies the pixels on screen inside `r` into `out` as a 32-bit bitmap of
  // r's size; parts outside the screen are black. False when nothing could be
  // read (out is then untouched).
  virtual bool grabScreen(const Rect& r, Bitmap& out) = 0;
  // The pixels the user sees of window `w` inside `r`, as grabScreen gives
  // them. Where the screen itself cannot be read but each window keeps its
  // own contents (a rootless X server in a Wayland session), those are read,
  // covered or not; elsewhere this is the screen inside `r`.
  virtual bool grabWindow(WindowId w, const Rect& r, Bitmap& out) {
    (void)w;
    return grabScreen(r, out);
  }
  // Lets go of what grabs keep for the next one (a shared memory segment as
  // large as the last grab); the next grab makes it again.
  virtual void releaseGrabMemory() = 0;
  // The window's own pixels, also where other windows cover it: its outer
  // rectangle (the client area alone with `clientOnly`) as a 32-bit bitmap,
  // read from an off-screen copy the window paints for the moment of the
  // grab. False with a one-line reason in `why` when that cannot work (a
  // minimised window, one on another desktop, no Composite extension).
  virtual bool grabWindowPixels(WindowId w, bool clientOnly, Bitmap& out, std::string& why) = 0;
  // The colour of one screen pixel, as 0x00RRGGBB; nullopt off the screen.
  virtual std::optional<Rgb> screenPixel(Point p) = 0;
  // Makes sure every request sent so far (a hide, a warp) reached the server.
  virtual void sync() = 0;

  // --- Pointer and keyboard ------------------------------------------------
  virtual Point cursorPos() = 0;
  // Moves the pointer; a desktop that does not let programs move the pointer
  // (a Wayland session) leaves it where it is.
  virtual void setCursorPos(Point p) = 0;
  // Keeps the pointer inside `r` until released with nullopt.
  virtual void clipCursor(const std::optional<Rect>& r) = 0;
  // Whether a key (virtual-key code) is down right now.
  virtual bool isKeyDown(int vk) = 0;
  // A synthetic press or release of a key, typed into the focused window.
  virtual bool sendKey(int vk, bool release) = 0;

  // --- Processes, sounds, clipboard, files ---------------------------------
  // Starts a program (already split into arguments, never through a shell) and
  // waits up to `idleTimeoutMs` for it to show a window or exit.
  virtual bool startProcess(const std::vector<std::string>& argv, int idleTimeoutMs) = 0;
  // Plays a sound file in the background; a file that cannot be played gives
  // the desktop's default event sound. Never blocks.
  virtual void playSound(const std::string& file) = 0;
  // Offers a picture on the CLIPBOARD selection.
  virtual bool setClipboardImage(const Bitmap& image) = 0;
  // Icons stored in a file (executables, icon files), each as a 32-bit
  // picture whose fourth byte is the alpha; empty when it holds none.
  virtual std::vector<Bitmap> fileIcons(const std::string& file) = 0;
  // The desktop theme's icon for the file's type, or nullopt.
  virtual std::optional<Bitmap> shellIcon(const std::string& file) = 0;

  // A blocking pause of the calling thread.
  virtual void sleep(int ms) = 0;

  // --- Pictures the desktop takes itself ---------------------------------
  // Whether the desktop shows windows that are no X windows (the desktop and
  // the windows of a Wayland session's own programs): where the pointer is
  // over none of X's windows, only the desktop itself can give their picture.
  virtual bool showsWindowsBeyondX() { return false; }
  enum class DesktopShot {
    Taken,        // the picture came
    Cancelled,    // the user cancelled, or the desktop refused
    Failed,       // an error, no answer in time, or a picture that cannot be read
    Unavailable,  // no desktop service here takes pictures
  };
  using DesktopShotDone = std::function<void(DesktopShot, Bitmap)>;
  // Asks the desktop for the picture of one of its windows; the desktop may
  // let the user choose it in a dialog of its own. `done` is called exactly
  // once on this thread, possibly before this returns, with the outcome and,
  // when Taken, the picture.
  virtual void captureThroughDesktop(DesktopShotDone done) { done(DesktopShot::Unavailable, {}); }

  // --- Hand-off ------------------------------------------------------------
  // Waits until `w` (or a window inside it) holds the keyboard focus, at most
  // `timeoutMs`: activating a window is a request the window manager answers
  // later, and keys typed before it did would land elsewhere. True when the
  // focus arrived.
  virtual bool waitForFocus(WindowId w, int timeoutMs) = 0;
};

}  // namespace lumivore
