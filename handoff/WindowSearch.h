// The copy button's window search, without Qt: the command line finds its
// target the same way.
#pragma once

#include <string_view>

#include "app/Platform.h"

namespace lumivore {

// The first visible top-level window, from the top of the stacking order,
// whose class name equals `cls`, whose title begins with `title` and ends with
// `titleR`; empty texts add no condition, and all three empty find nothing.
// Texts are UTF-16, compared as they are. As with the platform's fixed
// buffers, only the first 1023 UTF-16 units of a title and 255 of a class
// name take part. The suffix counts only where it first occurs in the title:
// a title holding it earlier as well does not end with it.
WindowId FindWindowByClassAndTitle(Platform& platform, std::u16string_view cls,
                                   std::u16string_view title, std::u16string_view titleR);

}  // namespace lumivore
