#include "app/Platform.h"

#include <algorithm>

namespace lumivore {

Rect IntersectRect(const Rect& a, const Rect& b) {
  Rect r{std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right),
         std::min(a.bottom, b.bottom)};
  return r.isEmpty() ? Rect{} : r;
}

}  // namespace lumivore
