// A window's picture as the capture takes it, apart from the main window:
// the screen's pixels inside the window's rectangle, cut to its shape.
#pragma once

#include <string>
#include <vector>

#include "app/Platform.h"

namespace lumivore {

// The part of the screen a window's rectangle `r` covers in a picture: on a
// single monitor, cut to the primary screen (a window partly off it shows
// only what is on it); with several monitors, as it is.
Rect CutToScreen(Platform& platform, Rect r);

// A picture of `pixels`' size holding its pixels inside `shape` (rectangles
// relative to the picture's top-left corner) and `background` elsewhere.
Bitmap CutToShape(const Bitmap& pixels, const std::vector<Rect>& shape, Rgb background);

struct WindowPictureOptions {
  bool clientOnly = false;  // without the window manager's frame
  bool ownPixels = false;   // the window's own pixels, also where it is covered
  Rgb background = 0;       // outside a shaped window's shape
};

// The picture of window `w` into `out`, 32 bits per pixel; false with a
// one-line reason in `why` when there is none (the window vanished, is
// minimised or not shown, lies off the screen, or could not be read).
bool GrabWindowPicture(Platform& platform, WindowId w, const WindowPictureOptions& options,
                       Bitmap& out, std::string& why);

}  // namespace lumivore
