// Services of the X11 desktop that later features fill in.
#include "app/x11/X11Platform.h"

namespace lumivore {

bool X11Platform::startProcess(const std::vector<std::string>&, int) { return false; }

bool X11Platform::setClipboardImage(const Bitmap&) { return false; }

std::vector<Bitmap> X11Platform::fileIcons(const std::string&) { return {}; }

std::optional<Bitmap> X11Platform::shellIcon(const std::string&) { return std::nullopt; }

}  // namespace lumivore
