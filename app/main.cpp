// Start-up: the commands for scripts, --help and --version answer here,
// without Qt; anything else shows the window, from the window module
// (WindowModule.h).
#include <cstdio>

#include "app/Desktop.h"
#include "app/WindowModule.h"
#include "cli/Cli.h"
#include "cli/CliArgs.h"
#include "util/CommandLine.h"
#include "util/Userfunc.h"

using namespace lumivore;

int main(int argc, char** argv) {
  // The commands for scripts run without the window, the marker or Qt.
  if (argc > 1 && IsCliCommand(argv[1])) {
    return RunCli({argv + 1, argv + argc}, [] { return ConnectDesktop(nullptr, true); });
  }
  // --help and --version answer before anything else: no display, no marker, no window.
  if (argc > 1) {
    if (auto reply =
            AnswerCommandLine({argv + 1, argv + argc}, GetFileVersionStr(ExecutablePath()))) {
      std::fputs(reply->text.c_str(), reply->status == 0 ? stdout : stderr);
      return reply->status;
    }
  }
  std::string why;
  const auto window = reinterpret_cast<WindowMainFn>(WindowModuleEntry(kWindowMainEntry, why));
  if (!window) {
    std::fprintf(stderr, "lumivore: cannot load the window: %s\n", why.c_str());
    return 1;
  }
  return window(argc, argv);
}
