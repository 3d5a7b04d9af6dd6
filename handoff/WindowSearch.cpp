#include "handoff/WindowSearch.h"

#include <string>

#include "util/Utf8.h"

namespace lumivore {

WindowId FindWindowByClassAndTitle(Platform& platform, std::u16string_view cls,
                                   std::u16string_view title, std::u16string_view titleR) {
  if (cls.empty() && title.empty() && titleR.empty()) return 0;
  for (WindowId w : platform.topLevelWindows()) {
    if (!platform.isWindowVisible(w)) continue;
    std::u16string text = Utf16FromUtf8(platform.windowText(w));
    std::u16string name = Utf16FromUtf8(platform.className(w));
    if (text.size() > 1023) text.resize(1023);
    if (name.size() > 255) name.resize(255);
    if (!title.empty() && !text.starts_with(title)) continue;
    if (!titleR.empty()) {
      const std::size_t p = text.find(titleR);
      if (p == std::u16string::npos || p != text.size() - titleR.size()) continue;
    }
    if (!cls.empty() && name != cls) continue;
    return w;
  }
  return 0;
}

}  // namespace lumivore
