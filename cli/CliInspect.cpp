// "lumivore inspect": what the main window shows of the window under the
// capture tool, and more, as text or JSON.
#include <cstdint>
#include <cstdio>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "cli/CliCommands.h"
#include "util/CommandLine.h"
#include "util/Userfunc.h"
#include "util/Utf8.h"

namespace lumivore {

namespace {

struct Facts {
  WindowId id = 0;
  std::string cls, title;
  Rect frame;
  Platform::WindowDetails details;
  bool shaped = false;
  bool minimised = false;
};

std::optional<Facts> Gather(Platform& platform, WindowId w) {
  Facts f;
  f.id = w;
  const std::optional<Rect> frame = platform.windowRect(w);
  const std::optional<Platform::WindowDetails> details = platform.windowDetails(w);
  if (!frame || !details) return std::nullopt;
  f.frame = *frame;
  f.details = *details;
  f.cls = platform.className(w);
  f.title = platform.windowText(w);
  f.shaped = platform.windowShape(w).has_value();
  f.minimised = platform.isIconic(w);
  return f;
}

using nlohmann::json;

// Titles and classes are bytes as the windows set them: invalid UTF-8 is
// replaced, as the window shows it, before it goes into the JSON.
json Utf8(const std::string& text) { return ValidUtf8(text); }

json RectJson(const Rect& r) {
  return {{"x", r.left}, {"y", r.top}, {"width", r.width()}, {"height", r.height()}};
}

json PixelJson(Point at, std::optional<Rgb> colour) {
  json pixel{{"x", at.x}, {"y", at.y}};
  if (colour) {
    const std::uint32_t ref = ColorRefFromRgb(*colour);
    pixel["rgb"] = ColourText(1, ref);
    pixel["colorref"] = ColourText(2, ref);
    pixel["html"] = ColourText(3, ref);
  }
  return pixel;
}

json Json(const Facts& f, Point at, std::optional<Rgb> colour) {
  char hex[16];
  std::snprintf(hex, sizeof hex, "0x%08x", f.id);
  return {
      {"id", f.id},
      {"id_hex", hex},
      {"class", Utf8(f.cls)},
      {"instance", Utf8(f.details.instance)},
      {"title", Utf8(f.title)},
      {"frame", RectJson(f.frame)},
      {"client", RectJson(f.details.client)},
      {"pid", f.details.pid ? json(f.details.pid) : json()},
      {"depth", f.details.depth},
      {"shaped", f.shaped},
      {"minimised", f.minimised},
      {"maximised", f.details.maximized},
      {"above", f.details.above},
      {"pixel", PixelJson(at, colour)},
  };
}

std::string RectText(const Rect& r) {
  return std::to_string(r.left) + "," + std::to_string(r.top) + " " + std::to_string(r.width()) +
         "x" + std::to_string(r.height());
}

std::string Text(const Facts& f, Point at, std::optional<Rgb> colour) {
  char hex[16];
  std::snprintf(hex, sizeof hex, "0x%08x", f.id);
  const auto yes = [](bool b) { return std::string(b ? "yes" : "no"); };
  std::string colourText = "off the screen";
  if (colour) {
    const std::uint32_t ref = ColorRefFromRgb(*colour);
    colourText = ColourText(1, ref) + "  " + ColourText(2, ref) + "  " + ColourText(3, ref);
  }
  // Names and titles come from other programs: no control character of
  // theirs reaches the terminal.
  return std::string("id:         ") + hex + " (" + std::to_string(f.id) + ")\n" +
         "class:      " + PrintableText(f.cls) + "\n" +
         "instance:   " + PrintableText(f.details.instance) + "\n" +
         "title:      " + PrintableText(f.title) + "\n" + "frame:      " + RectText(f.frame) +
         "\n" + "client:     " + RectText(f.details.client) + "\n" +
         "pid:        " + (f.details.pid ? std::to_string(f.details.pid) : "unknown") + "\n" +
         "depth:      " + std::to_string(f.details.depth) + "\n" + "shaped:     " + yes(f.shaped) +
         "\n" + "minimised:  " + yes(f.minimised) + "\n" +
         "maximised:  " + yes(f.details.maximized) + "\n" + "above:      " + yes(f.details.above) +
         "\n" + "pixel:      " + std::to_string(at.x) + "," + std::to_string(at.y) + ": " +
         colourText + "\n";
}

}  // namespace

int Inspect(const CliRequest& request, const std::function<std::unique_ptr<Platform>()>& connect) {
  std::unique_ptr<Platform> platform = connect();
  if (!platform) return 1;
  const Point at =
      request.at ? Point{request.at->first, request.at->second} : platform->cursorPos();
  const std::optional<Rgb> colour = platform->screenPixel(at);

  std::vector<WindowId> windows;
  if (request.all) {
    windows = platform->topLevelWindows();
  } else {
    std::string why;
    const WindowId w = FindCliTarget(*platform, request.target, at, why);
    if (!w) return CliFail(1, why);
    windows.push_back(w);
  }
  json list = json::array();
  std::string text;
  for (WindowId w : windows) {
    const std::optional<Facts> facts = Gather(*platform, w);
    if (!facts) {
      // A window of the list may close while it is read; one asked for by
      // name has gone.
      if (request.all) continue;
      return CliFail(1, "the window closed while it was read");
    }
    if (request.json) {
      list.push_back(Json(*facts, at, colour));
    } else {
      if (!text.empty()) text += "\n";
      text += Text(*facts, at, colour);
    }
  }
  if (request.json) text = (request.all ? list : list.at(0)).dump(4) + "\n";
  std::fwrite(text.data(), 1, text.size(), stdout);
  if (std::fflush(stdout) != 0) return CliFail(1, "cannot write to standard output");
  return 0;
}

}  // namespace lumivore
