#include "util/FormPlacement.h"

#include <algorithm>

namespace lumivore {

FormPlacement LoadFormPlacement(const IniFile& ini, Platform& platform, QSize current,
                                int defaultWidth, int defaultHeight, int minimumWidth) {
  int width = current.width();
  int height = current.height();
  if (defaultWidth > 0) width = ini.ReadInteger("General", "WinWidth", defaultWidth);
  if (defaultHeight > 0) height = ini.ReadInteger("General", "WinHeight", defaultHeight);
  // X coordinates are 16-bit: anything beyond is a damaged file, not a place.
  width = std::clamp(width, std::clamp(minimumWidth, 1, 32767), 32767);
  height = std::clamp(height, 1, 32767);
  // Centred on the primary monitor, which on X need not start at the origin
  // (a monitor may lie left of or above it).
  const Rect screen = platform.primaryScreen();
  int left = ini.ReadInteger("General", "WinLeft", screen.left + (screen.width() - width) / 2);
  int top = ini.ReadInteger("General", "WinTop", screen.top + (screen.height() - height) / 2);
  left = std::clamp(left, -32768, 32767);
  top = std::clamp(top, -32768, 32767);
  if (platform.monitorCount() == 1) {
    if (left < screen.left) left = screen.left;
    if (top < screen.top) top = screen.top;
    if (left + width > screen.right) left = screen.right - width;
    if (top + height > screen.bottom) top = screen.bottom - height;
  }
  FormPlacement p;
  p.outer = Rect{left, top, left + width, top + height};
  p.state = ini.ReadInteger("General", "WinState", 0);
  return p;
}

bool SaveFormPlacement(IniFile& ini, const Rect& normalOuter, bool maximized) {
  return ini.WriteInteger("General", "WinState", maximized ? 2 : 0) &&
         ini.WriteInteger("General", "WinLeft", normalOuter.left) &&
         ini.WriteInteger("General", "WinTop", normalOuter.top) &&
         ini.WriteInteger("General", "WinWidth", normalOuter.width()) &&
         ini.WriteInteger("General", "WinHeight", normalOuter.height());
}

}  // namespace lumivore
