#include <gtest/gtest.h>

#include <string>

#include "util/SystemMemory.h"

namespace lumivore {
namespace {

TEST(SystemMemory, ProcKibibytesField_ReadsTheKeyedLineOnly) {
  const std::string meminfo =
      "MemTotal:       24684384 kB\n"
      "MemFree:        22431348 kB\n"
      "MemAvailable:   23581764 kB\n"
      "HugePages_Total:       0\n"
      "Hugepagesize:       2048 kB\n";
  struct Case {
    const char* what;
    std::string text;
    const char* key;
    std::optional<std::size_t> want;
  };
  const Case cases[] = {
      {"a middle line", meminfo, "MemAvailable", std::size_t{23581764} * 1024},
      {"the first line", meminfo, "MemTotal", std::size_t{24684384} * 1024},
      {"the last line, no newline after it", "VmRSS:\t  36120 kB", "VmRSS",
       std::size_t{36120} * 1024},
      {"a longer key that begins like it comes first", "VmRSSx:  5 kB\nVmRSS:  7 kB\n", "VmRSS",
       std::size_t{7} * 1024},
      {"only the beginning of a key", meminfo, "Mem", std::nullopt},
      {"a missing key", meminfo, "SwapTotal", std::nullopt},
      {"a count, not a size", meminfo, "HugePages_Total", std::nullopt},
      {"no number", "VmRSS:  lots kB\n", "VmRSS", std::nullopt},
      {"nothing", "", "VmRSS", std::nullopt},
  };
  for (const Case& c : cases) EXPECT_EQ(ProcKibibytesField(c.text, c.key), c.want) << c.what;
}

TEST(SystemMemory, TheKernelTellsBoth) {
  const std::optional<std::size_t> rss = ResidentMemory();
  ASSERT_TRUE(rss);
  EXPECT_GT(*rss, 0u);
  ASSERT_TRUE(AvailableMemory());
}

}  // namespace
}  // namespace lumivore
