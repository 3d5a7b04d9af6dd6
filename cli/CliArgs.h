// The command line of the two commands that work without Lumivore's window:
// "lumivore capture" and "lumivore inspect".
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace lumivore {

// Which window a command is about.
struct CliTarget {
  enum class Kind { Pointer, Search, Window, Active, Screen, Point };
  Kind kind = Kind::Pointer;
  // Search: the class (exact) and the title's prefix and suffix, each empty
  // for no condition, as the copy button's target window is found.
  std::string cls;
  std::string titlePrefix;
  std::string titleSuffix;
  std::uint32_t window = 0;  // Window
};

struct CliRequest {
  enum class Command { Capture, Inspect };
  Command command = Command::Capture;
  bool help = false;  // print CliUsage() and nothing else
  CliTarget target;
  // capture
  std::optional<std::string> output;  // "-": PNG on standard output
  bool copy = false;
  int quality = 100;
  int delayMs = 0;
  bool client = false;
  bool ownPixels = false;
  // inspect
  std::optional<std::pair<int, int>> at;
  bool json = false;
  bool all = false;
};

// The request, or the text of a usage error (one line, without the program's
// name) in `error`. `args` are the arguments after the program's name, the
// command first ("capture" or "inspect").
std::optional<CliRequest> ParseCliArgs(const std::vector<std::string>& args, std::string& error);

// Whether the first argument names one of the commands.
bool IsCliCommand(const std::string& arg);

// The usage text of the commands, for "lumivore capture --help".
const char* CliUsage();

// A title pattern split into prefix and suffix, as --title takes it: text
// before the first '*' is the prefix, text after it the suffix; without '*'
// the text is both, so the whole title must equal it.
void SplitTitlePattern(const std::string& pattern, std::string& prefix, std::string& suffix);

}  // namespace lumivore
