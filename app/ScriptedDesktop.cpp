#include "app/ScriptedDesktop.h"

#include <algorithm>
#include <cstdio>

#include "imaging/IconReader.h"

namespace lumivore {

ScriptedDesktop::ScriptedDesktop(int width, int height) {
  monitors_.push_back(Rect{0, 0, width, height});
  screen_.allocate(width, height, PixelFormat::Bgrx32);
}

WindowId ScriptedDesktop::addWindow(Window w) {
  if (!w.id) w.id = nextId_++;
  const WindowId id = w.id;
  windows_.insert(windows_.begin(), std::move(w));
  return id;
}

ScriptedDesktop::Window* ScriptedDesktop::window(WindowId id) {
  auto it =
      std::find_if(windows_.begin(), windows_.end(), [id](const Window& w) { return w.id == id; });
  return it == windows_.end() ? nullptr : &*it;
}

void ScriptedDesktop::removeWindow(WindowId id) {
  std::erase_if(windows_, [id](const Window& w) { return w.id == id; });
}

void ScriptedDesktop::fillScreen(const Rect& r, Rgb colour) {
  const Rect clipped = IntersectRect(r, Rect{0, 0, screen_.width(), screen_.height()});
  for (int y = clipped.top; y < clipped.bottom; ++y)
    for (int x = clipped.left; x < clipped.right; ++x) screen_.setPixel(x, y, colour);
}

WindowId ScriptedDesktop::windowFromPoint(Point p) {
  for (const Window& w : windows_) {
    if (!w.visible || w.iconic || !w.rect.contains(p)) continue;
    if (w.shape) {
      const Point local{p.x - w.rect.left, p.y - w.rect.top};
      if (std::none_of(w.shape->begin(), w.shape->end(),
                       [&](const Rect& r) { return r.contains(local); }))
        continue;
    }
    return w.id;
  }
  return 0;
}

std::optional<Rect> ScriptedDesktop::windowRect(WindowId id) {
  if (const Window* w = window(id)) return w->rect;
  return std::nullopt;
}

std::string ScriptedDesktop::className(WindowId id) {
  const Window* w = window(id);
  return w ? w->cls : std::string();
}

std::string ScriptedDesktop::windowText(WindowId id) {
  const Window* w = window(id);
  return w ? w->title : std::string();
}

std::optional<std::vector<Rect>> ScriptedDesktop::windowShape(WindowId id) {
  const Window* w = window(id);
  return w ? w->shape : std::nullopt;
}

std::vector<WindowId> ScriptedDesktop::topLevelWindows() {
  std::vector<WindowId> ids;
  for (const Window& w : windows_) ids.push_back(w.id);
  return ids;
}

bool ScriptedDesktop::isWindowVisible(WindowId id) {
  const Window* w = window(id);
  return w && w->visible;
}

bool ScriptedDesktop::isIconic(WindowId id) {
  const Window* w = window(id);
  return w && w->iconic;
}

WindowId ScriptedDesktop::findWindowByClass(const std::string& cls) {
  for (const Window& w : windows_)
    if (w.cls == cls) return w.id;
  return 0;
}

WindowId ScriptedDesktop::lastActivePopup(WindowId owner) {
  for (const Window& w : windows_)
    if (w.transientFor == owner && w.visible) return w.id;
  return owner;
}

namespace {
std::string Hex(unsigned v) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%x", v);
  return text;
}
}  // namespace

void ScriptedDesktop::restoreWindow(WindowId id) {
  journal.push_back("restore " + Hex(id));
  restored.push_back(id);
  if (Window* w = window(id)) w->iconic = false;
}

void ScriptedDesktop::activateWindow(WindowId id) {
  journal.push_back("activate " + Hex(id));
  activated.push_back(id);
  auto it =
      std::find_if(windows_.begin(), windows_.end(), [id](const Window& w) { return w.id == id; });
  if (it != windows_.end()) std::rotate(windows_.begin(), it, it + 1);
}

void ScriptedDesktop::setWindowClass(WindowId id, const std::string&, const std::string& cls) {
  if (Window* w = window(id)) w->cls = cls;
}

bool ScriptedDesktop::grabScreen(const Rect& r, Bitmap& out) {
  if (r.isEmpty()) return false;
  screenLog.push_back("grab " + std::to_string(r.width()) + "x" + std::to_string(r.height()));
  Bitmap result;
  if (!result.allocate(r.width(), r.height(), PixelFormat::Bgrx32)) return false;
  const Rect visible = IntersectRect(r, Rect{0, 0, screen_.width(), screen_.height()});
  for (int y = visible.top; y < visible.bottom; ++y)
    for (int x = visible.left; x < visible.right; ++x)
      result.setPixel(x - r.left, y - r.top, screen_.pixel(x, y));
  out = std::move(result);
  return true;
}

std::optional<Platform::WindowDetails> ScriptedDesktop::windowDetails(WindowId id) {
  const Window* w = window(id);
  if (!w) return std::nullopt;
  WindowDetails details;
  details.instance = w->instance;
  details.client = w->client.value_or(w->rect);
  details.pid = w->pid;
  details.depth = 24;
  details.viewable = w->visible && !w->iconic;
  details.maximized = w->maximized;
  details.above = w->above;
  return details;
}

bool ScriptedDesktop::grabWindowPixels(WindowId id, bool clientOnly, Bitmap& out,
                                       std::string& why) {
  const Window* w = window(id);
  if (!w || w->iconic || !w->visible || !w->ownPixels) {
    why = !w          ? "the window no longer exists"
          : w->iconic ? "the window is minimised, and a minimised window has no pixels to read"
                      : "the window is not shown, so it has no pixels to read";
    return false;
  }
  const Rect part = clientOnly ? w->client.value_or(w->rect) : w->rect;
  Bitmap result;
  if (!result.allocate(part.width(), part.height(), PixelFormat::Bgrx32)) return false;
  for (int y = 0; y < part.height(); ++y)
    for (int x = 0; x < part.width(); ++x)
      result.setPixel(
          x, y, w->ownPixels->pixel(x + part.left - w->rect.left, y + part.top - w->rect.top));
  out = std::move(result);
  return true;
}

std::optional<Rgb> ScriptedDesktop::screenPixel(Point p) {
  if (!Rect{0, 0, screen_.width(), screen_.height()}.contains(p)) return std::nullopt;
  return screen_.pixel(p.x, p.y);
}

void ScriptedDesktop::setCursorPos(Point p) {
  if (clip) {
    p.x = std::clamp(p.x, clip->left, clip->right - 1);
    p.y = std::clamp(p.y, clip->top, clip->bottom - 1);
  }
  pointer = p;
}

bool ScriptedDesktop::sendKey(int vk, bool release) {
  journal.push_back("key " + Hex(vk) + (release ? " up" : " down"));
  keysSent.push_back({vk, release});
  return true;
}

bool ScriptedDesktop::startProcess(const std::vector<std::string>& argv, int idleTimeoutMs) {
  journal.push_back("start " + (argv.empty() ? std::string() : argv.front()) + " " +
                    std::to_string(idleTimeoutMs));
  processesStarted.push_back(argv);
  return !argv.empty();
}

bool ScriptedDesktop::setClipboardImage(const Bitmap& image) {
  if (clipboardFails) return false;
  journal.push_back("clipboard " + std::to_string(image.width()) + "x" +
                    std::to_string(image.height()));
  clipboard = image;
  return true;
}

std::vector<Bitmap> ScriptedDesktop::fileIcons(const std::string& file) {
  // Unless scripted, the icons really stored in the file: reading them is no
  // effect of the desktop, and handler tests then see the real reader.
  auto it = icons.find(file);
  return it == icons.end() ? ReadFileIcons(file) : it->second;
}

bool ScriptedDesktop::waitForFocus(WindowId id, int) {
  journal.push_back("focus " + Hex(id));
  return !refusesFocus.count(id) && !activated.empty() && activated.back() == id;
}

std::optional<Bitmap> ScriptedDesktop::shellIcon(const std::string& file) {
  auto it = shellIcons.find(file);
  return it == shellIcons.end() ? std::nullopt : std::optional<Bitmap>(it->second);
}

}  // namespace lumivore
