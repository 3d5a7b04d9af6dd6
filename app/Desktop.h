// The desktop Lumivore works on, for the program's two halves: the window
// and the commands for scripts.
#pragma once

#include <memory>

#include "app/DesktopServices.h"
#include "app/Platform.h"

namespace lumivore {

// The X server of $DISPLAY, or nullptr after one line on stderr saying why
// not. The scripted desktop held in memory is only for tests, which ask for
// it with LUMIVORE_PLATFORM=scripted. `services`: as X11Platform::Connect
// takes them. `oneGrab`: for a command that reads the screen once and
// ends; see X11Platform::useSharedMemory.
std::unique_ptr<Platform> ConnectDesktop(std::unique_ptr<DesktopServices> services, bool oneGrab);

}  // namespace lumivore
