// Where the main window stands: read from and written to the settings file.
#pragma once

#include <QWidget>

#include "app/IniFile.h"
#include "app/Platform.h"

namespace lumivore {

// The outer bounds and state read from section General. A default width or
// height of 0 or less leaves that dimension alone (its key is not read).
struct FormPlacement {
  Rect outer;
  int state = 0;  // 0 normal, 1 minimised, 2 maximised
};

// Reads WinWidth, WinHeight, WinLeft, WinTop and WinState. The width is
// raised to the form's `minimumWidth` before anything depends on it, so the
// centring and the single-monitor clamp work with the size the window gets.
// Missing positions centre the window on the primary screen; on a single
// monitor the window is kept on that screen.
FormPlacement LoadFormPlacement(const IniFile& ini, Platform& platform, QSize current,
                                int defaultWidth, int defaultHeight, int minimumWidth = 1);

// Writes WinState, WinLeft, WinTop, WinWidth and WinHeight for a window whose
// normal outer bounds are `normalOuter`. Stops at the first key that cannot
// be written and returns false.
bool SaveFormPlacement(IniFile& ini, const Rect& normalOuter, bool maximized);

}  // namespace lumivore
