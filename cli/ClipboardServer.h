// The clipboard's keeper of "lumivore capture --copy", the part that needs
// Qt: it lives in the window module, which the keeper's process loads.
#pragma once

#include <cstddef>
#include <cstdint>

namespace lumivore {

// In a process of its own (see KeepOnClipboard): owns the clipboard with the
// picture in both encodings, writes the byte 1 to `readyFd` once it does,
// serves the picture and ends the process (status 1 when the clipboard could
// not be taken). Never returns.
[[noreturn]] void ServeClipboard(const std::uint8_t* png, std::size_t pngSize,
                                 const std::uint8_t* bmp, std::size_t bmpSize, int readyFd);

}  // namespace lumivore
