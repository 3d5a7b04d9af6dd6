// "lumivore inspect": what the main window shows of the window under the
// capture tool, and more, as text or JSON.
#include <cstdint>
#include <cstdio>
#include <iterator>
#include <map>
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

// JSON written as Qt's QJsonDocument writes it indented: the keys of an
// object sorted, four spaces a level, strings valid UTF-8 with only `"`, `\`
// and control characters escaped.
using Members = std::map<std::string, std::string>;  // key -> the value, written

std::string Pad(int level) { return std::string(4 * std::size_t(level), ' '); }

std::string Quoted(const std::string& text) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string out = "\"";
  for (const char c : ValidUtf8(text)) {
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\b': out += "\\b"; break;
      case '\f': out += "\\f"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (c >= 0 && c < 0x20) {
          out += "\\u00";
          out += kHex[c >> 4];
          out += kHex[c & 0xF];
        } else {
          out += c;
        }
    }
  }
  return out + "\"";
}

// An object whose members are written at `level` + 1.
std::string Object(const Members& members, int level) {
  std::string out = "{\n";
  for (auto it = members.begin(); it != members.end(); ++it) {
    out += Pad(level + 1) + Quoted(it->first) + ": " + it->second;
    out += std::next(it) == members.end() ? "\n" : ",\n";
  }
  return out + Pad(level) + "}";
}

std::string Number(std::int64_t n) { return std::to_string(n); }
std::string Boolean(bool b) { return b ? "true" : "false"; }

std::string RectJson(const Rect& r, int level) {
  return Object({{"x", Number(r.left)},
                 {"y", Number(r.top)},
                 {"width", Number(r.width())},
                 {"height", Number(r.height())}},
                level);
}

std::string PixelJson(Point at, std::optional<Rgb> colour, int level) {
  Members pixel{{"x", Number(at.x)}, {"y", Number(at.y)}};
  if (colour) {
    const std::uint32_t ref = ColorRefFromRgb(*colour);
    pixel["rgb"] = Quoted(ColourText(1, ref));
    pixel["colorref"] = Quoted(ColourText(2, ref));
    pixel["html"] = Quoted(ColourText(3, ref));
  }
  return Object(pixel, level);
}

std::string Json(const Facts& f, Point at, std::optional<Rgb> colour, int level) {
  char hex[16];
  std::snprintf(hex, sizeof hex, "0x%08x", f.id);
  return Object(
      {
          {"id", Number(f.id)},
          {"id_hex", Quoted(hex)},
          {"class", Quoted(f.cls)},
          {"instance", Quoted(f.details.instance)},
          {"title", Quoted(f.title)},
          {"frame", RectJson(f.frame, level + 1)},
          {"client", RectJson(f.details.client, level + 1)},
          {"pid", f.details.pid ? Number(f.details.pid) : "null"},
          {"depth", Number(f.details.depth)},
          {"shaped", Boolean(f.shaped)},
          {"minimised", Boolean(f.minimised)},
          {"maximised", Boolean(f.details.maximized)},
          {"above", Boolean(f.details.above)},
          {"pixel", PixelJson(at, colour, level + 1)},
      },
      level);
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
  std::vector<std::string> list;  // the objects, written at their depth in the output
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
      list.push_back(Json(*facts, at, colour, request.all ? 1 : 0));
    } else {
      if (!text.empty()) text += "\n";
      text += Text(*facts, at, colour);
    }
  }
  if (request.json && !request.all) {
    text = list.at(0) + "\n";
  } else if (request.json) {
    text = "[\n";
    for (std::size_t i = 0; i < list.size(); ++i)
      text += Pad(1) + list[i] + (i + 1 < list.size() ? ",\n" : "\n");
    text += "]\n";
  }
  std::fwrite(text.data(), 1, text.size(), stdout);
  if (std::fflush(stdout) != 0) return CliFail(1, "cannot write to standard output");
  return 0;
}

}  // namespace lumivore
