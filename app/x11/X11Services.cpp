// Services of the X11 desktop that later features fill in.
#include "app/x11/X11Platform.h"

namespace lumivore {

std::vector<Bitmap> X11Platform::fileIcons(const std::string&) { return {}; }

std::optional<Bitmap> X11Platform::shellIcon(const std::string&) { return std::nullopt; }

}  // namespace lumivore
