#include <gtest/gtest.h>

#include "util/UriList.h"

namespace lumivore {
namespace {

using Files = std::vector<std::string>;

TEST(UriList, LocalFilesAreDecodedToTheirExactBytes) {
  struct Case {
    const char* what;
    std::string list;
    Files want;
  };
  const Case cases[] = {
      {"plain", "file:///home/u/a.png\r\n", {"/home/u/a.png"}},
      {"several, in order, LF only", "file:///a\nfile:///b\n", {"/a", "/b"}},
      {"localhost in any case", "file://LocalHost/x\r\n", {"/x"}},
      {"no authority", "file:/x%20y\r\n", {"/x y"}},
      {"escapes of blanks, percent, UTF-8",
       "file:///d/%E7%94%BB%20100%25.png",
       {"/d/\xE7\x94\xBB 100%.png"}},
      {"bytes that are no UTF-8", "file:///t/%FF%fe%80.bin", {"/t/\xFF\xFE\x80.bin"}},
      {"comments and blank lines", "# from a file manager\r\n\r\nfile:///c\r\n", {"/c"}},
      {"a long name is never cut",
       "file:///" + std::string(400, 'n'),
       {"/" + std::string(400, 'n')}},
      {"other machines and schemes are no local files",
       "file://server/share/x\r\nhttp://example.org/x.png\r\nsmb://h/s\r\nfile:///ok\r\n",
       {"/ok"}},
      {"a NUL byte or a broken escape leaves the entry out",
       "file:///a%00b\r\nfile:///bad%2\r\nfile:///bad%zz\r\nfile:///good\r\n",
       {"/good"}},
      {"relative or empty paths", "file:relative\r\nfile://\r\nfile://localhost\r\n", {}},
      {"query and fragment are not part of the name", "file:///q.png?x#y", {"/q.png"}},
      {"nothing", "", {}},
  };
  for (const Case& c : cases) EXPECT_EQ(LocalFilesFromUriList(c.list), c.want) << c.what;
}

}  // namespace
}  // namespace lumivore
