// Finding the window to hand a copied picture to, and starting programs.
#pragma once

#include <QString>
#include <cstdint>

#include "app/Platform.h"

namespace lumivore {

// The first visible top-level window, from the top of the stacking order,
// whose class name equals `cls`, whose title begins with `title` and ends with
// `titleR`: FindWindowByClassAndTitle (WindowSearch.h) over Qt's strings.
WindowId FindActWnd(Platform& platform, const QString& cls, const QString& title,
                    const QString& titleR);

// Starts the program of a command line (split as SplitCommandLine says, the
// program searched on PATH, never through a shell) and waits up to
// `idleTimeoutMs` until it shows a window or ends. False when nothing could be
// started, an empty command line included.
bool RunProgram(Platform& platform, const QString& commandLine, std::uint32_t idleTimeoutMs);

}  // namespace lumivore
