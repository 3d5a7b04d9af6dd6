#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace lumivore {

// What the command line asks for before the program starts: a text to print and an exit status
// ("--help" and "--version": the text on standard output, status 0; an unknown option: one line
// for standard error, status 2), or nothing, and the program runs. Options are taken in order and
// the first that answers wins; "--" ends the options, and other arguments are ignored.
struct CommandLineReply {
  int status;
  std::string text;
};

// A text as it may be shown on a terminal: every control character becomes '?'.
std::string PrintableText(std::string_view text);

std::optional<CommandLineReply> AnswerCommandLine(const std::vector<std::string>& args,
                                                  std::string_view version);

}  // namespace lumivore
