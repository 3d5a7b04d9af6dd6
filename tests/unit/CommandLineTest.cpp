#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "util/CommandLine.h"

namespace lumivore {
namespace {

TEST(CommandLine, HelpVersionAndUnknownOptionsAnswerBeforeTheProgramRuns) {
  const std::string usage = AnswerCommandLine({"--help"}, "1.5.5.0").value().text;
  EXPECT_EQ(usage.rfind("Usage: lumivore [OPTION]\n", 0), 0u) << usage;
  EXPECT_NE(usage.find("--version"), std::string::npos);
  const std::string unknown = "lumivore: unknown option '--bogus' (try 'lumivore --help')\n";
  struct Case {
    std::vector<std::string> args;
    std::optional<int> status;  // nullopt: the program runs
    std::string text;
  };
  const Case cases[] = {
      {{}, std::nullopt, ""},
      // Other arguments were always ignored, and still are.
      {{"picture.png", "-"}, std::nullopt, ""},
      {{"--help"}, 0, usage},
      {{"-h"}, 0, usage},
      {{"--version"}, 0, "lumivore 1.5.5.0\n"},
      {{"--bogus"}, 2, unknown},
      {{"-x"}, 2, "lumivore: unknown option '-x' (try 'lumivore --help')\n"},
      // GNU style: only the exact long name counts, and a value is not accepted.
      {{"--vers"}, 2, "lumivore: unknown option '--vers' (try 'lumivore --help')\n"},
      {{"--help=x"}, 2, "lumivore: unknown option '--help=x' (try 'lumivore --help')\n"},
      // The first option that answers wins; "--" ends the options.
      {{"file", "--version", "--bogus"}, 0, "lumivore 1.5.5.0\n"},
      {{"--bogus", "--help"}, 2, unknown},
      {{"--", "--bogus"}, std::nullopt, ""},
      // A control character never reaches the terminal.
      {{"--a\x1b[2Jb"}, 2, "lumivore: unknown option '--a?[2Jb' (try 'lumivore --help')\n"},
  };
  for (const Case& c : cases) {
    const std::optional<CommandLineReply> reply = AnswerCommandLine(c.args, "1.5.5.0");
    const std::string shown = c.args.empty() ? "(none)" : c.args.front();
    ASSERT_EQ(reply.has_value(), c.status.has_value()) << shown;
    if (!reply) continue;
    EXPECT_EQ(reply->status, *c.status) << shown;
    EXPECT_EQ(reply->text, c.text) << shown;
  }
}

}  // namespace
}  // namespace lumivore
