#pragma once

#include <string>

#include "imaging/Bitmap.h"

namespace lumivore {

// Puts a picture on the clipboard and returns once it is there, while a
// process of its own keeps it: that process serves it to every program that
// pastes it until another program takes the clipboard, or, when a clipboard
// manager runs, hands it to the manager and ends. False, with the reason in
// `why`, when the clipboard could not be taken.
bool KeepOnClipboard(const Bitmap& picture, std::string& why);

}  // namespace lumivore
