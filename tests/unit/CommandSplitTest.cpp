#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "util/CommandSplit.h"

namespace lumivore {
namespace {

using Args = std::vector<std::string>;

TEST(CommandSplit, Split_FollowsTheQuoteAndBackslashRules) {
  struct Case {
    const char* line;
    Args expected;
  };
  const Case cases[] = {
      {"", {}},
      {"   \t ", {}},
      {"prog", {"prog"}},
      {"  prog   a\tb  ", {"prog", "a", "b"}},
      {"\"/opt/my tools/view\" x", {"/opt/my tools/view", "x"}},
      {"prog \"a b\"c d", {"prog", "a bc", "d"}},
      {"prog \"\"", {"prog", ""}},
      {"prog a\\b c\\\\d", {"prog", "a\\b", "c\\\\d"}},
      {"prog a\\\"b", {"prog", "a\"b"}},          // 1 backslash: literal quote
      {"prog a\\\\\"b c\"", {"prog", "a\\b c"}},  // 2: one backslash, the quote opens
      {"prog a\\\\\\\"b", {"prog", "a\\\"b"}},    // 3: one backslash and a literal quote
      {"prog \"a\"\"b\"", {"prog", "a\"b"}},      // doubled quote inside quotes
      {"prog \"unbalanced  rest", {"prog", "unbalanced  rest"}},
      {"prog \"a\\\\\" b", {"prog", "a\\", "b"}},       // backslashes before the closing quote
      {"prog line1\nline2", {"prog", "line1\nline2"}},  // only blanks and tabs separate
      {"画像 \"ファイル 名\"", {"画像", "ファイル 名"}},
  };
  for (const Case& c : cases) EXPECT_EQ(SplitCommandLine(c.line), c.expected) << c.line;
}

// Whatever the name holds and wherever the placeholder stands, the name comes
// back as exactly the characters it had, inside the one argument the
// placeholder belongs to.
TEST(CommandSplit, InsertFileName_ReadsBackAsOneArgument) {
  const std::string names[] = {
      "/tmp/a.png",
      "/tmp/my shot.png",
      "/tmp/say \"cheese\".png",
      "/tmp/back\\slash.png",
      "/tmp/ends in backslash\\",
      "/tmp/ends\\",
      "/tmp/\\\"odd\\\\\".png",
      "/tmp/$(rm -rf ~).png",
      "/tmp/a;b&c|d.png",
      "/tmp/two\nlines.png",
      "/tmp/tab\there.png",
      "\"",
      "",
      "/tmp/$F.png",
  };
  struct Template {
    const char* line;
    // The expected arguments, "@" standing for the name wherever it must appear.
    Args expected;
  };
  const Template templates[] = {
      {"viewer $F", {"viewer", "@"}},
      {"viewer \"$F\"", {"viewer", "@"}},
      {"viewer", {"viewer", "@"}},
      {"viewer --open=$F --other", {"viewer", "--open=@", "--other"}},
      {"viewer \"pre $F post\" x", {"viewer", "pre @ post", "x"}},
      {"viewer $F$F", {"viewer", "@@"}},
      {"viewer $F \"$F\"", {"viewer", "@", "@"}},
      {"viewer $F\"tail\"", {"viewer", "@tail"}},
      {"viewer $F\\\"x", {"viewer", "@\"x"}},
      {"viewer \\$F", {"viewer", "\\@"}},
      {"viewer \\\\$F\"q\"", {"viewer", "\\\\@q"}},
      {"viewer \"abc\"$F", {"viewer", "abc@"}},
      {"viewer \"abc\\\\\"$F", {"viewer", "abc\\@"}},
      {"viewer \"unbalanced", {"viewer", "unbalanced", "@"}},
      {"viewer \"unbalanced\\", {"viewer", "unbalanced\\", "@"}},
  };
  for (const Template& t : templates) {
    for (const std::string& name : names) {
      Args expected;
      for (const std::string& arg : t.expected) {
        std::string e;
        for (char c : arg) {
          if (c == '@')
            e += name;
          else
            e += c;
        }
        expected.push_back(e);
      }
      const std::string line = InsertFileName(t.line, name);
      EXPECT_EQ(SplitCommandLine(line), expected) << t.line << " with [" << name << "] -> " << line;
    }
  }
}

TEST(CommandSplit, InsertFileName_QuotesOnlyWhatNeedsIt) {
  struct Case {
    const char* line;
    const char* name;
    const char* expected;
  };
  const Case cases[] = {
      {"view $F", "/tmp/a.png", "view /tmp/a.png"},
      {"view $F", "/tmp/a b.png", "view \"/tmp/a b.png\""},
      {"view", "/tmp/a b.png", "view \"/tmp/a b.png\""},
      {"view $F and $F", "/x", "view /x and /x"},
      // Only the upper-case placeholder counts: "$f" stays, the name is appended.
      {"view $f", "/x", "view $f /x"},
      // Already quoted by the setting: the name is not enclosed a second time.
      {"view \"$F\"", "/tmp/a b.png", "view \"/tmp/a b.png\""},
  };
  for (const Case& c : cases) EXPECT_EQ(InsertFileName(c.line, c.name), c.expected) << c.line;
}

TEST(QuoteCommandLineArg, QuotesOnlyWhatTheSplitWouldBreak) {
  const std::pair<std::string, std::string> cases[] = {
      {"/usr/bin/gimp", "/usr/bin/gimp"},
      {"/opt/My Tools/run", "\"/opt/My Tools/run\""},
      {"tab\there", "\"tab\there\""},
      {"", "\"\""},
      {"/a\\b c", "\"/a\\b c\""},              // a backslash before no quote stays single
      {"/say \"hi\"", "\"/say \\\"hi\\\"\""},  // inner quotes escaped
      {"/x\\\"y", "\"/x\\\\\\\"y\""},          // backslash before a quote doubled
      {"/dir with\\", "\"/dir with\\\\\""},    // trailing backslash before the closing quote
  };
  for (const auto& [arg, want] : cases) {
    EXPECT_EQ(QuoteCommandLineArg(arg), want) << arg;
    EXPECT_EQ(SplitCommandLine(QuoteCommandLineArg(arg) + " next"),
              (std::vector<std::string>{arg, "next"}))
        << arg;
  }
}

}  // namespace
}  // namespace lumivore
