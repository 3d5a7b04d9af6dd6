// "lumivore capture" and "lumivore inspect": one window captured or
// described from a script, without Lumivore's window, its settings window or
// the single-instance marker.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/Platform.h"

namespace lumivore {

// Runs a command (`args` are the arguments after the program's name, the
// command first) and returns the exit status: 0 done, 1 no window matched,
// the window or screen could not be read or the output not written, 2 a
// usage error. Every failure prints one line on standard error. `connect`
// gives the desktop, or nullptr after saying why there is none.
int RunCli(const std::vector<std::string>& args,
           const std::function<std::unique_ptr<Platform>()>& connect);

}  // namespace lumivore
