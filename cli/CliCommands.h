// What the two commands share, inside cli/.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "app/Platform.h"
#include "cli/CliArgs.h"

namespace lumivore {

// Prints "lumivore: <message>" as one line on standard error and returns `status`.
int CliFail(int status, const std::string& message);

// The window a target names (Point: the one at `at`), or 0 with the reason
// in `why`. Not for the whole screen.
WindowId FindCliTarget(Platform& platform, const CliTarget& target, Point at, std::string& why);

int Inspect(const CliRequest& request, const std::function<std::unique_ptr<Platform>()>& connect);

}  // namespace lumivore
