// Window titles in COMPOUND_TEXT, the encoding many older X clients use for
// WM_NAME when it is not plain Latin-1 (Japanese titles among them). Xlib
// decodes it; xcb does not, so this part talks to the server through an Xlib
// connection of its own, opened the first time such a title is met.
#include "app/x11/X11Platform.h"

// After Lumivore's headers: Xlib's macros (None, Bool ...) would break them.
#include <X11/Xlib.h>
#include <X11/Xutil.h>

namespace lumivore {

std::optional<std::string> X11Platform::decodeCompoundText(const char* data, int length) {
  if (!xlib_) xlib_ = XOpenDisplay(nullptr);
  if (!xlib_) return std::nullopt;
  XTextProperty property;
  property.value = reinterpret_cast<unsigned char*>(const_cast<char*>(data));
  property.encoding = XInternAtom(xlib_, "COMPOUND_TEXT", False);
  property.format = 8;
  property.nitems = static_cast<unsigned long>(length);
  char** list = nullptr;
  int count = 0;
  // A negative status is a failure; a positive one counts characters that
  // had no UTF-8 form and were replaced.
  if (Xutf8TextPropertyToTextList(xlib_, &property, &list, &count) < 0 || !list) {
    return std::nullopt;
  }
  std::string text;
  for (int i = 0; i < count; ++i) text += list[i];  // a title holds one element
  XFreeStringList(list);
  return text;
}

void X11Platform::closeXlib() {
  if (xlib_) XCloseDisplay(xlib_);
  xlib_ = nullptr;
}

}  // namespace lumivore
