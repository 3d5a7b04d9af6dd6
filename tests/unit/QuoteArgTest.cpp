#include <gtest/gtest.h>

#include "util/QuoteArg.h"

namespace lumivore {
namespace {

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
  for (const auto& [arg, want] : cases) EXPECT_EQ(QuoteCommandLineArg(arg), want) << arg;
}

}  // namespace
}  // namespace lumivore
