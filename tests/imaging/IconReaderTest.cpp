#include <gtest/gtest.h>
#include <sys/stat.h>

#include "imaging/IconReader.h"
#include "tests/imaging/PngFixture.h"
#include "tests/imaging/TestSupport.h"

namespace lumivore::test {
namespace {

std::vector<Bitmap> Read(const IconBytes& b, std::size_t maxIcons = SIZE_MAX) {
  return ReadIconsFromMemory(b.data(), b.size(), maxIcons);
}

std::uint32_t Argb(const Bitmap& icon, int x, int y) {
  const std::uint8_t* p = icon.row(y) + 4 * x;
  return std::uint32_t{p[3]} << 24 | std::uint32_t{p[2]} << 16 | std::uint32_t{p[1]} << 8 | p[0];
}

TEST(IconReader, PicksThe32PixelImageOfAnIconFile) {
  // Red 16, green-and-transparent 32, blue 48: the 32 x 32 one wins, and its
  // mask makes the left half transparent.
  const auto half = [](int x, int) { return x < 16 ? 0x00000000u : 0xFF00FF00u; };
  const IconBytes ico = IcoFile({{16, 16, 24, FlatIcon(0xFF0000, 16)},
                                 {32, 32, 24, DibIcon(32, 32, 24, half)},
                                 {48, 48, 32, FlatIcon(0x0000FF, 48)}});
  const auto icons = Read(ico);
  ASSERT_EQ(icons.size(), 1u);
  ASSERT_EQ(icons[0].width(), 32);
  ASSERT_EQ(icons[0].height(), 32);
  EXPECT_EQ(Argb(icons[0], 3, 5) >> 24, 0u);
  EXPECT_EQ(Argb(icons[0], 20, 5), 0xFF00FF00u);
  EXPECT_EQ(Argb(icons[0], 31, 31), 0xFF00FF00u);
}

TEST(IconReader, EveryBitDepthKeepsItsColoursAndMask) {
  // Four quadrants; the bottom-right one is transparent. Rows are stored
  // bottom-up, so a flipped image shows as a wrong quadrant.
  const auto quadrants = [](int x, int y) -> std::uint32_t {
    if (x >= 16 && y >= 16) return 0;
    return x < 16 ? (y < 16 ? 0xFFFF0000u : 0xFF0000FFu) : 0xFFFFFFFFu;
  };
  for (int bits : {1, 4, 8, 24, 32}) {
    SCOPED_TRACE(bits);
    const auto colours = bits == 1 ? [](int x, int y) -> std::uint32_t {
      if (x >= 16 && y >= 16) return 0;
      return x < 16 && y < 16 ? 0xFF000000u : 0xFFFFFFFFu;
    }
    : std::function<std::uint32_t(int, int)>(quadrants);
    const auto icons = Read(IcoFile({{32, 32, bits, DibIcon(32, 32, bits, colours)}}));
    ASSERT_EQ(icons.size(), 1u);
    for (auto [x, y] : {std::pair{2, 2}, {2, 30}, {30, 2}, {30, 30}}) {
      const std::uint32_t want = colours(x, y);
      if (want == 0)
        EXPECT_EQ(Argb(icons[0], x, y) >> 24, 0u) << x << "," << y;
      else
        EXPECT_EQ(Argb(icons[0], x, y), want) << x << "," << y;
    }
  }
}

TEST(IconReader, ThirtyTwoBitAlphaIsKeptAndAnEmptyAlphaFallsBackToTheMask) {
  const auto alpha = [](int x, int) {
    return (static_cast<std::uint32_t>(x * 8) << 24) | 0x102030u;
  };
  auto icons = Read(IcoFile({{32, 32, 32, DibIcon(32, 32, 32, alpha)}}));
  ASSERT_EQ(icons.size(), 1u);
  EXPECT_EQ(Argb(icons[0], 10, 4), 0x50102030u);
  // Old 32-bit images leave the alpha at 0 everywhere and rely on the mask.
  IconBytes old = DibIcon(32, 32, 32, [](int x, int) { return x < 8 ? 0u : 0x00405060u; });
  const IconBytes maskOnly =
      DibIcon(32, 32, 32, [](int x, int) { return x < 8 ? 0u : 0xFF405060u; });
  std::copy(maskOnly.end() - 128, maskOnly.end(), old.end() - 128);
  icons = Read(IcoFile({{32, 32, 32, old}}));
  ASSERT_EQ(icons.size(), 1u);
  EXPECT_EQ(Argb(icons[0], 2, 2) >> 24, 0u);
  EXPECT_EQ(Argb(icons[0], 20, 2), 0xFF405060u);
}

TEST(IconReader, ScalesTheBestOtherSizeTo32) {
  // 64 x 64 with a transparent left half scales to a transparent left half
  // without a dark seam: premultiplied averaging keeps the colour exact.
  const auto half = [](int x, int) { return x < 32 ? 0x00000000u : 0xFFC08040u; };
  const auto icons = Read(
      IcoFile({{16, 16, 24, FlatIcon(0xFF0000, 16)}, {64, 64, 32, DibIcon(64, 64, 32, half)}}));
  ASSERT_EQ(icons.size(), 1u);
  ASSERT_EQ(icons[0].width(), 32);
  EXPECT_EQ(Argb(icons[0], 5, 5) >> 24, 0u);
  EXPECT_EQ(Argb(icons[0], 16, 5), 0xFFC08040u);
  // Only a 16 x 16 image: scaled up.
  const auto small = Read(IcoFile({{16, 16, 24, FlatIcon(0x00FF00, 16)}}));
  ASSERT_EQ(small.size(), 1u);
  EXPECT_EQ(small[0].width(), 32);
  EXPECT_EQ(Argb(small[0], 31, 31), 0xFF00FF00u);
}

TEST(IconReader, ReadsPngCompressedImages) {
  const IconBytes png = RgbaPng(256, 256, [](int, int) { return 0x80FF8000u; });
  const auto icons = Read(IcoFile({{256, 256, 32, png}}));
  ASSERT_EQ(icons.size(), 1u);
  EXPECT_EQ(Argb(icons[0], 7, 9), 0x80FF8000u);
  // A PNG whose header claims a giant picture is refused before decoding.
  IconBytes giant = png;
  Put32(giant, 16, 0x00F00000u);
  EXPECT_TRUE(Read(IcoFile({{256, 256, 32, giant}})).empty());
}

TEST(IconReader, ReadsEveryGroupOfAnExecutableInOrder) {
  const std::vector<std::uint32_t> colours = {0xFF0000, 0x00FF00, 0x0000FF, 0xFFFF00, 0x00FFFF};
  const IconBytes pe = PeWithFlatIcons(colours);
  const auto icons = Read(pe);
  ASSERT_EQ(icons.size(), colours.size());
  for (std::size_t i = 0; i < colours.size(); ++i)
    EXPECT_EQ(Argb(icons[i], 16, 16), 0xFF000000u | colours[i]) << i;
  const auto first = Read(pe, 1);
  ASSERT_EQ(first.size(), 1u);
  EXPECT_EQ(Argb(first[0], 0, 0), 0xFFFF0000u);
}

TEST(IconReader, ReadsFilesFromDiskAndRefusesWhatIsNoRegularFile) {
  ScratchDir dir;
  ASSERT_TRUE(WriteFile(dir.file("app.exe"), PeWithFlatIcons({0x123456, 0x654321})));
  EXPECT_EQ(ReadFileIcons(dir.file("app.exe")).size(), 2u);
  ASSERT_EQ(::mkfifo(dir.file("fifo").c_str(), 0600), 0);
  // None of these may block or crash.
  for (const std::string& name : {dir.path(), dir.file("fifo"), dir.file("missing"), std::string()})
    EXPECT_TRUE(ReadFileIcons(name).empty()) << name;
}

TEST(IconReader, SurvivesEveryTruncation) {
  const IconBytes pe = PeWithFlatIcons({0xFF0000, 0x00FF00});
  const IconBytes ico =
      IcoFile({{32, 32, 8, DibIcon(32, 32, 8, [](int x, int) { return 0xFF000000u | x; })}});
  for (const IconBytes* file : {&pe, &ico}) {
    const auto whole = Read(*file).size();
    for (std::size_t n = 0; n < file->size(); ++n) {
      const IconBytes cut(file->begin(), file->begin() + n);
      EXPECT_LE(Read(cut).size(), whole) << n;
    }
  }
}

TEST(IconReader, HostileDirectoriesGiveNothingReadable) {
  struct Case {
    const char* what;
    IconBytes bytes;
  };
  IconBytes manyEntries = IcoFile({{32, 32, 24, FlatIcon(0xFF0000)}});
  Put16(manyEntries, 4, 65535);
  IconBytes pastEnd = IcoFile({{32, 32, 24, FlatIcon(0xFF0000)}});
  Put32(pastEnd, 6 + 12, 0xFFFFFF00u);
  IconBytes hugeSize = IcoFile({{32, 32, 24, FlatIcon(0xFF0000)}});
  Put32(hugeSize, 6 + 8, 0xFFFFFFFFu);
  IconBytes zeroSize = IcoFile({{32, 32, 24, FlatIcon(0xFF0000)}});
  Put32(zeroSize, 6 + 16 + 4, 0);  // the DIB's width
  Put32(zeroSize, 6 + 16 + 8, 0);  // and height
  IconBytes giantDib = IcoFile({{32, 32, 24, FlatIcon(0xFF0000)}});
  Put32(giantDib, 6 + 16 + 4, 1000);  // a width the data cannot hold
  IconBytes peManyGroups = PeWithFlatIcons({0xFF0000});
  // The group directory claims 65535 entries (after the root's 32 bytes and
  // the icon type directory of one entry).
  Put16(peManyGroups, 0x200 + 32 + 24 + 14, 65535);
  IconBytes peBadSection = PeWithFlatIcons({0xFF0000});
  Put32(peBadSection, 0x44 + 20 + 224 + 20, 0x7FFFFFF0u);  // raw data far past the end
  const Case cases[] = {{"65535 entries", manyEntries},
                        {"offset past the end", pastEnd},
                        {"size past the end", hugeSize},
                        {"0 x 0 image", zeroSize},
                        {"giant DIB", giantDib},
                        {"65535 groups", peManyGroups},
                        {"section past the end", peBadSection}};
  for (const Case& c : cases) EXPECT_TRUE(Read(c.bytes).empty()) << c.what;
}

TEST(IconReader, DrawIconBlendsOverTheBackground) {
  Bitmap view;
  ASSERT_TRUE(view.allocate(40, 40, PixelFormat::Bgrx32));
  for (int y = 0; y < 40; ++y)
    for (int x = 0; x < 40; ++x) view.setPixel(x, y, 0x0000FF);
  const auto icons = Read(IcoFile({{32, 32, 32, DibIcon(32, 32, 32, [](int x, int) {
                                      return x < 10 ? 0u : x < 20 ? 0x80FF0000u : 0xFF00FF00u;
                                    })}}));
  ASSERT_EQ(icons.size(), 1u);
  DrawIcon(view, 20, 20, icons[0]);  // partly outside: cut, never written past the edge
  EXPECT_EQ(view.pixel(25, 25), 0x0000FFu);
  EXPECT_EQ(view.pixel(35, 25), MakeRgb(0x80, 0, 0x7F));
  EXPECT_EQ(view.pixel(19, 19), 0x0000FFu);
  DrawIcon(view, -25, 0, icons[0]);
  EXPECT_EQ(view.pixel(5, 5), 0x00FF00u);
}

}  // namespace
}  // namespace lumivore::test
