#include "app/Desktop.h"

#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "app/ScriptedDesktop.h"
#include "app/x11/X11Platform.h"

namespace lumivore {

std::unique_ptr<Platform> ConnectDesktop(std::unique_ptr<DesktopServices> services, bool oneGrab) {
  const char* platform = std::getenv("LUMIVORE_PLATFORM");
  if (platform && std::string_view(platform) == "scripted")
    return std::make_unique<ScriptedDesktop>();
  if (auto x11 = X11Platform::Connect(std::move(services))) {
    // A shared memory segment would be fresh memory for the X server and for
    // the command alike, each faulting it in page by page: most of the time
    // of one grab. Over the socket the same pixels come in a fraction of it.
    if (oneGrab) x11->useSharedMemory(false);
    return x11;
  }
  const char* display = std::getenv("DISPLAY");
  if (!display || !*display) {
    std::fprintf(stderr, "lumivore: needs an X11 display, and DISPLAY is not set\n");
  } else {
    std::fprintf(stderr, "lumivore: needs an X11 display, and DISPLAY=%s cannot be opened\n",
                 display);
  }
  return nullptr;
}

}  // namespace lumivore
