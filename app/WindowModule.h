// Lumivore's window (the main window, its dialogs, Qt and all Qt loads) is a
// module of its own, which the executable loads only when it shows the
// window, or for the clipboard's keeper of "lumivore capture --copy". The
// commands for scripts and --help and --version run without it: loading Qt
// alone takes longer than a whole capture.
//
// The module lies in <prefix>/lib/lumivore when installed, and beside the
// executable in the build folder.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace lumivore {

inline constexpr char kWindowModuleFile[] = "liblumivore-window.so";

// The module's entry points, by name and type.
inline constexpr char kWindowMainEntry[] = "lumivore_window_main";
// Shows the window and runs until it closes: the program as started without
// a command; returns the exit status.
using WindowMainFn = int (*)(int argc, char** argv);

inline constexpr char kServeClipboardEntry[] = "lumivore_serve_clipboard";
// ServeClipboard (cli/ClipboardServer.h).
using ServeClipboardFn = void (*)(const std::uint8_t* png, std::size_t pngSize,
                                  const std::uint8_t* bmp, std::size_t bmpSize, int readyFd);

// The entry point `name` of the module, loaded on first use; nullptr, with
// the reason in `why`, when the module or the entry point cannot be found.
void* WindowModuleEntry(const char* name, std::string& why);

}  // namespace lumivore
