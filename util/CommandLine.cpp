#include "util/CommandLine.h"

namespace lumivore {

namespace {

constexpr char kUsage[] =
    "Usage: lumivore [OPTION]\n"
    "       lumivore capture [TARGET] (-o FILE | --copy) [OPTION]...\n"
    "       lumivore inspect [TARGET] [--at X,Y] [--json] [--all]\n"
    "Capture the picture of any window on an X11 desktop, touch it up, and copy it to the\n"
    "clipboard or save it to a file.\n"
    "\n"
    "  -h, --help     display this help and exit\n"
    "      --version  output version information and exit\n"
    "\n"
    "The commands capture and inspect work from scripts and key bindings without opening\n"
    "the window; 'lumivore capture --help' describes them.\n"
    "\n"
    "Without options Lumivore opens its window; a second start brings the running copy's\n"
    "window to the front. Settings are kept in lumivore.INI beside the executable when that\n"
    "file can be written, else in $XDG_CONFIG_HOME/lumivore/lumivore.INI.\n";

}  // namespace

std::string PrintableText(std::string_view text) {
  std::string shown;
  for (char c : text) shown += (c >= 0 && c < 0x20) || c == 0x7F ? '?' : c;
  return shown;
}

std::optional<CommandLineReply> AnswerCommandLine(const std::vector<std::string>& args,
                                                  std::string_view version) {
  for (const std::string& arg : args) {
    if (arg == "--") break;
    if (arg == "-h" || arg == "--help") return CommandLineReply{0, kUsage};
    if (arg == "--version") {
      return CommandLineReply{
          0, "lumivore " + std::string(version.empty() ? "unknown" : version) + "\n"};
    }
    if (arg.size() > 1 && arg.front() == '-') {
      return CommandLineReply{
          2, "lumivore: unknown option '" + PrintableText(arg) + "' (try 'lumivore --help')\n"};
    }
  }
  return std::nullopt;
}

}  // namespace lumivore
