#pragma once

#include <string>

namespace lumivore {

// One argument written for a command line that is split by the Windows rules
// (blanks separate arguments; quotes group; backslashes escape only quotes):
// unchanged when it holds no blank, tab or quote and is not empty, otherwise
// quoted, with inner quotes and the backslashes before them escaped, so the
// split gives the argument back whole.
std::string QuoteCommandLineArg(const std::string& arg);

}  // namespace lumivore
