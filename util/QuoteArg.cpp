#include "util/QuoteArg.h"

namespace lumivore {

std::string QuoteCommandLineArg(const std::string& arg) {
  if (!arg.empty() && arg.find_first_of(" \t\"") == std::string::npos) return arg;
  std::string out = "\"";
  std::size_t backslashes = 0;
  for (char c : arg) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    // Backslashes count as escapes only before a quote: double them there.
    out.append(c == '"' ? 2 * backslashes + 1 : backslashes, '\\');
    backslashes = 0;
    out += c;
  }
  // The closing quote follows: the backslashes before it are doubled too.
  out.append(2 * backslashes, '\\');
  out += '"';
  return out;
}

}  // namespace lumivore
