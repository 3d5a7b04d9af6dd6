// Command lines as the settings hold them: one text with the program and its
// arguments, split by the rules programs on the platform the settings come
// from use (blanks and tabs separate; double quotes group; backslashes escape
// a quote). Nothing here ever goes through a shell.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace lumivore {

// The arguments of a command line, the program first. Outside quotes, blanks
// and tabs separate arguments; a double quote starts or ends a quoted part;
// inside quotes, two double quotes in a row stand for one. 2n backslashes
// before a quote give n backslashes (the quote keeps its role), 2n+1 give n
// and a literal quote; backslashes before anything else are literal. An
// unbalanced quote runs to the end. The program name follows the same rules.
std::vector<std::string> SplitCommandLine(std::string_view commandLine);

// The command line with every "$F" (case-sensitive) replaced by the file name,
// or, when there is none, with a blank and the file name appended. Wherever
// the placeholder stands (inside quotes or not, next to backslashes), the name
// is quoted and escaped so that SplitCommandLine gives it back exactly, as part
// of that one argument: a name with a blank is enclosed in double quotes,
// quotes and backslashes in it are escaped, and a newline stays a character.
std::string InsertFileName(std::string_view commandLine, std::string_view fileName);

// One argument written for such a command line: unchanged when it holds no
// blank, tab or quote and is not empty, otherwise quoted and escaped, so that
// SplitCommandLine gives it back whole.
std::string QuoteCommandLineArg(std::string_view arg);

}  // namespace lumivore
