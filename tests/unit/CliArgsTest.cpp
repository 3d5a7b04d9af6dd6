#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli/CliArgs.h"

namespace lumivore {
namespace {

using Kind = CliTarget::Kind;

// Every accepted command line, with what it asks for.
TEST(CliArgs, AcceptedCommandLines_GiveTheirRequest) {
  struct Case {
    std::vector<std::string> args;
    Kind kind;
    std::string cls, prefix, suffix;
    std::uint32_t window;
    std::optional<std::string> output;
    bool copy;
  };
  const Case cases[] = {
      // The window under the pointer is the default.
      {{"capture", "-o", "a.png"}, Kind::Pointer, "", "", "", 0, "a.png", false},
      {{"capture", "--pointer", "--copy"}, Kind::Pointer, "", "", "", 0, std::nullopt, true},
      {{"capture", "--class", "XTerm", "-o", "-"}, Kind::Search, "XTerm", "", "", 0, "-", false},
      {{"capture", "--class=XTerm", "--output=b.jpg"},
       Kind::Search,
       "XTerm",
       "",
       "",
       0,
       "b.jpg",
       false},
      // Title forms: exact, prefix, suffix, both; the first '*' splits.
      {{"capture", "--title", "shell"}, Kind::Search, "", "shell", "shell", 0, std::nullopt, true},
      {{"capture", "--title", "sh*"}, Kind::Search, "", "sh", "", 0, std::nullopt, true},
      {{"capture", "--title", "*ell"}, Kind::Search, "", "", "ell", 0, std::nullopt, true},
      {{"capture", "--title", "a*b*c"}, Kind::Search, "", "a", "b*c", 0, std::nullopt, true},
      {{"capture", "--class", "XTerm", "--title", "s*"},
       Kind::Search,
       "XTerm",
       "s",
       "",
       0,
       std::nullopt,
       true},
      // Window ids in decimal and hexadecimal.
      {{"capture", "--window", "4194311"}, Kind::Window, "", "", "", 4194311, std::nullopt, true},
      {{"capture", "--window", "0x400007"}, Kind::Window, "", "", "", 0x400007, std::nullopt, true},
      {{"capture", "--window=0XFFFFFFFF"},
       Kind::Window,
       "",
       "",
       "",
       0xFFFFFFFF,
       std::nullopt,
       true},
      {{"capture", "--active"}, Kind::Active, "", "", "", 0, std::nullopt, true},
      {{"capture", "--screen"}, Kind::Screen, "", "", "", 0, std::nullopt, true},
      // A file name is taken as it is, also one that looks like an option.
      {{"capture", "-o", "--copy"}, Kind::Pointer, "", "", "", 0, "--copy", false},
      {{"capture", "-o", "-x.png"}, Kind::Pointer, "", "", "", 0, "-x.png", false},
      {{"capture", "-o-rf .png"}, Kind::Pointer, "", "", "", 0, "-rf .png", false},
      {{"capture", "-o", "a b;$(rm).png", "--"},
       Kind::Pointer,
       "",
       "",
       "",
       0,
       "a b;$(rm).png",
       false},
      {{"inspect"}, Kind::Pointer, "", "", "", 0, std::nullopt, false},
      {{"inspect", "--at", "10,-20"}, Kind::Point, "", "", "", 0, std::nullopt, false},
      {{"inspect", "--class", "XTerm", "--at", "10,20"},
       Kind::Search,
       "XTerm",
       "",
       "",
       0,
       std::nullopt,
       false},
  };
  for (const Case& c : cases) {
    // With the copy flag the cases above that name no output still have one thing to do.
    std::vector<std::string> args = c.args;
    if (c.copy && args.front() == "capture") args.push_back("--copy");
    std::string error;
    const std::optional<CliRequest> r = ParseCliArgs(args, error);
    const std::string shown = args.size() > 1 ? args[1] : args[0];
    ASSERT_TRUE(r) << shown << ": " << error;
    EXPECT_EQ(r->target.kind, c.kind) << shown;
    EXPECT_EQ(r->target.cls, c.cls) << shown;
    EXPECT_EQ(r->target.titlePrefix, c.prefix) << shown;
    EXPECT_EQ(r->target.titleSuffix, c.suffix) << shown;
    EXPECT_EQ(r->target.window, c.window) << shown;
    EXPECT_EQ(r->output, c.output) << shown;
    EXPECT_EQ(r->copy, c.copy) << shown;
  }
}

TEST(CliArgs, NumbersAndFlags_AreRead) {
  std::string error;
  const auto r = ParseCliArgs(
      {"capture", "--quality", "85", "--delay", "250", "--client", "--own-pixels", "-o", "x.jpg"},
      error);
  ASSERT_TRUE(r) << error;
  EXPECT_EQ(r->quality, 85);
  EXPECT_EQ(r->delayMs, 250);
  EXPECT_TRUE(r->client);
  EXPECT_TRUE(r->ownPixels);
  const auto i = ParseCliArgs({"inspect", "--all", "--json", "--at=0,1079"}, error);
  ASSERT_TRUE(i) << error;
  EXPECT_EQ(i->command, CliRequest::Command::Inspect);
  EXPECT_TRUE(i->all);
  EXPECT_TRUE(i->json);
  EXPECT_EQ(i->at, std::make_pair(0, 1079));
  const auto help = ParseCliArgs({"capture", "--help"}, error);
  ASSERT_TRUE(help) << error;
  EXPECT_TRUE(help->help);
  EXPECT_FALSE(ParseCliArgs({"capture", "-o", "a.png"}, error)->help);
}

// Every usage error is refused with a message naming what is wrong.
TEST(CliArgs, UsageErrors_AreRefusedWithTheirReason) {
  struct Case {
    std::vector<std::string> args;
    std::string error;
  };
  const Case cases[] = {
      {{"capture"}, "nothing to do: give -o FILE, -o - or --copy"},
      {{"capture", "--bogus", "--copy"}, "unknown option '--bogus'"},
      {{"capture", "--copy", "stray"}, "unexpected argument 'stray'"},
      {{"capture", "--copy", "-"}, "unexpected argument '-'"},
      {{"capture", "--copy", "--", "x"}, "unexpected argument 'x'"},
      {{"capture", "-o"}, "'-o' needs a value"},
      {{"capture", "--output="}, "'--output' needs a file name, or '-' for standard output"},
      {{"capture", "-o", "a.png", "-o", "b.png"}, "the output is given twice"},
      {{"capture", "--copy=yes"}, "'--copy' takes no value"},
      {{"capture", "--copy", "--class", "A", "--class", "B"}, "'--class' is given twice"},
      {{"capture", "--copy", "--class", ""}, "'--class' needs a class name"},
      {{"capture", "--copy", "--title", "*"}, "'--title' needs a text"},
      {{"capture", "--copy", "--window", "0"},
       "'--window' needs a window id, decimal or 0x hexadecimal, not '0'"},
      {{"capture", "--copy", "--window", "0x"},
       "'--window' needs a window id, decimal or 0x hexadecimal, not '0x'"},
      {{"capture", "--copy", "--window", "12abc"},
       "'--window' needs a window id, decimal or 0x hexadecimal, not '12abc'"},
      {{"capture", "--copy", "--window", "0x100000000"},
       "'--window' needs a window id, decimal or 0x hexadecimal, not '0x100000000'"},
      {{"capture", "--copy", "--window", "-5"},
       "'--window' needs a window id, decimal or 0x hexadecimal, not '-5'"},
      {{"capture", "--copy", "--quality", "0"},
       "'--quality' needs a number from 1 to 100, not '0'"},
      {{"capture", "--copy", "--quality", "101"},
       "'--quality' needs a number from 1 to 100, not '101'"},
      {{"capture", "--copy", "--quality", " 50"},
       "'--quality' needs a number from 1 to 100, not ' 50'"},
      {{"capture", "--copy", "--delay", "-1"},
       "'--delay' needs milliseconds from 0 to 3600000, not '-1'"},
      {{"capture", "--copy", "--active", "--pointer"},
       "give one target: --class and --title (together or alone), --window, --active, "
       "--pointer or --screen"},
      {{"capture", "--copy", "--class", "A", "--window", "1"},
       "give one target: --class and --title (together or alone), --window, --active, "
       "--pointer or --screen"},
      {{"capture", "--copy", "--screen", "--client"},
       "--client and --own-pixels are about a window, not the screen"},
      {{"capture", "--copy", "--json"}, "'--json' is not an option of capture"},
      {{"inspect", "-o", "a.png"}, "'-o' is not an option of inspect"},
      {{"inspect", "--screen"}, "'--screen' is not an option of inspect"},
      {{"inspect", "--all", "--active"}, "--all lists every window: give no target with it"},
      {{"inspect", "--at", "10"}, "'--at' needs a point X,Y, not '10'"},
      {{"inspect", "--at", "10,"}, "'--at' needs a point X,Y, not '10,'"},
      {{"inspect", "--at", "1,2,3"}, "'--at' needs a point X,Y, not '1,2,3'"},
      {{"inspect", "--at", "99999,0"}, "'--at' needs a point X,Y, not '99999,0'"},
      // Control characters never reach the terminal.
      {{"inspect", "--\x1b[2J"}, "unknown option '--?[2J'"},
  };
  for (const Case& c : cases) {
    std::string error;
    EXPECT_FALSE(ParseCliArgs(c.args, error)) << c.args.back();
    EXPECT_EQ(error, c.error) << c.args.back();
  }
}

}  // namespace
}  // namespace lumivore
