#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <tuple>
#include <utility>

#include "imaging/Bitmap.h"

namespace lumivore {
namespace {

TEST(Bitmap, AllocateRefusesBadSizesAndKeepsOldContent) {
  Bitmap b;
  ASSERT_TRUE(b.allocate(3, 2, PixelFormat::Bgr24));
  b.setPixel(1, 1, MakeRgb(1, 2, 3));
  const Bitmap before = b;
  EXPECT_FALSE(b.allocate(0, 5, PixelFormat::Bgr24));
  EXPECT_FALSE(b.allocate(5, -1, PixelFormat::Bgr24));
  EXPECT_FALSE(b.allocate(5, 5, PixelFormat::None));
  EXPECT_FALSE(b.allocate(40000, 40000, PixelFormat::Bgr24));  // 4.8 GB
  EXPECT_EQ(b, before);
}

TEST(Bitmap, ReshapeTakesOnlyStorageOfExactlyTheBytesNeeded) {
  Bitmap b;
  ASSERT_TRUE(b.allocate(6, 4, PixelFormat::Bgrx32));
  b.setPixel(5, 3, MakeRgb(1, 2, 3));
  const std::uint8_t* storage = b.bits();
  // Turned, the same 96 bytes: kept, bytes and all.
  ASSERT_TRUE(b.reshape(4, 6, PixelFormat::Bgrx32));
  EXPECT_EQ(b.width(), 4);
  EXPECT_EQ(b.height(), 6);
  EXPECT_EQ(b.stride(), 16u);
  EXPECT_EQ(b.bits(), storage);
  EXPECT_EQ(b.pixel(3, 5), MakeRgb(1, 2, 3));
  // Other byte counts, palette formats and bad sizes change nothing.
  for (const auto& [w, h, f] : {std::tuple{4, 5, PixelFormat::Bgrx32},
                                {8, 3, PixelFormat::Bgr24},
                                {96, 1, PixelFormat::Indexed8},
                                {0, 6, PixelFormat::Bgrx32}}) {
    EXPECT_FALSE(b.reshape(w, h, f)) << w << "x" << h;
    EXPECT_EQ(b.width(), 4);
    EXPECT_EQ(b.height(), 6);
    EXPECT_EQ(b.format(), PixelFormat::Bgrx32);
  }
  EXPECT_FALSE(Bitmap().reshape(1, 1, PixelFormat::Bgrx32));
}

// Storage freed dirty and taken again must still come zeroed, for small
// bitmaps and for the large ones that are mapped by themselves; copies and
// moves keep the bytes.
TEST(Bitmap, NewStorageIsZeroedEvenWhereDirtyStorageWasFreed) {
  for (const auto& [w, h] : {std::pair{10, 10}, std::pair{2000, 1000}}) {
    for (int round = 0; round < 3; ++round) {
      Bitmap b;
      ASSERT_TRUE(b.allocate(w, h, PixelFormat::Bgrx32));
      const std::uint8_t* bytes = b.bits();
      ASSERT_EQ(std::count(bytes, bytes + b.byteSize(), 0), std::ptrdiff_t(b.byteSize()))
          << w << "x" << h << ", round " << round;
      std::fill(b.bits(), b.bits() + b.byteSize(), std::uint8_t{0xA5});
      Bitmap copy = b;
      Bitmap moved = std::move(copy);
      EXPECT_EQ(moved, b);
    }
  }
}

// A picture of a large page or more starts on a large page's boundary, so
// that the system can back it with them (and mapped in whole large pages
// where that adds at most an eighth: a 1920 x 1080 screen is 8,294,400
// bytes, just short of four). Every byte can be written.
TEST(Bitmap, LargePicturesStartOnALargePage) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "under AddressSanitizer bitmaps come from calloc";
#endif
  for (const auto& [w, h] : {std::pair{1920, 1080}, std::pair{3840, 2160}, std::pair{700, 800},
                             std::pair{600, 500}}) {
    Bitmap b;
    ASSERT_TRUE(b.allocate(w, h, PixelFormat::Bgrx32));
    const std::size_t large = std::size_t{2} << 20;
    if (b.byteSize() >= large) {
      EXPECT_EQ(reinterpret_cast<std::uintptr_t>(b.bits()) % large, 0u) << w << "x" << h;
    }
    std::fill(b.bits(), b.bits() + b.byteSize(), std::uint8_t{0x5A});
    EXPECT_EQ(b.pixel(w - 1, h - 1), 0x5A5A5Au);
  }
}

// Copies are exact, and a copy assigned over storage of exactly the same
// size is written where it is, format and palette included.
TEST(Bitmap, CopiesAreExactAndReuseStorageOfTheSameSize) {
  for (const auto& [w, h, f] : {std::tuple{13, 3, PixelFormat::Indexed4},
                                std::tuple{1001, 700, PixelFormat::Bgr24}}) {
    Bitmap source;
    ASSERT_TRUE(source.allocate(w, h, f));
    for (std::size_t i = 0; i < source.byteSize(); ++i)
      source.bits()[i] = static_cast<std::uint8_t>(i * 31 + i / 4096);
    if (IsIndexed(f)) source.setPalette({MakeRgb(1, 2, 3), MakeRgb(4, 5, 6)});
    const Bitmap copy = source;
    EXPECT_EQ(copy, source);
    // The same bytes as another format: 8-bit rows as wide as the stride.
    Bitmap same;
    ASSERT_TRUE(same.allocate(static_cast<int>(source.stride()), h, PixelFormat::Indexed8));
    const std::uint8_t* storage = same.bits();
    same = source;
    EXPECT_EQ(same.bits(), storage);
    EXPECT_EQ(same, source);
    Bitmap other;
    ASSERT_TRUE(other.allocate(w + 1, h, f));
    other = source;
    EXPECT_EQ(other, source);
  }
}

TEST(Bitmap, StridesArePaddedToFourBytes) {
  struct Case {
    int width;
    PixelFormat f;
    std::size_t stride;
  };
  for (const Case& c : {Case{1, PixelFormat::Indexed1, 4}, Case{33, PixelFormat::Indexed1, 8},
                        Case{9, PixelFormat::Indexed4, 8}, Case{5, PixelFormat::Indexed8, 8},
                        Case{5, PixelFormat::Bgr24, 16}, Case{3, PixelFormat::Bgrx32, 12}}) {
    EXPECT_EQ(StrideFor(c.width, c.f), c.stride) << c.width << " x " << BitsPerPixel(c.f);
  }
}

TEST(Bitmap, PaletteFormatsRoundTripThroughTwentyFourBit) {
  for (PixelFormat f : {PixelFormat::Indexed1, PixelFormat::Indexed4, PixelFormat::Indexed8}) {
    const int colours = 1 << BitsPerPixel(f);
    std::vector<Rgb> palette;
    for (int i = 0; i < colours; ++i) palette.push_back(MakeRgb(i * 7, 255 - i, i * 3));
    Bitmap b;
    ASSERT_TRUE(b.allocate(13, 3, f));
    b.setPalette(palette);
    for (int y = 0; y < 3; ++y)
      for (int x = 0; x < 13; ++x) b.setIndex(x, y, (x * 5 + y) % colours);
    Bitmap full = b;
    full.convertTo24();
    ASSERT_EQ(full.format(), PixelFormat::Bgr24);
    for (int y = 0; y < 3; ++y)
      for (int x = 0; x < 13; ++x) ASSERT_EQ(full.pixel(x, y), palette[(x * 5 + y) % colours]);
    ASSERT_TRUE(full.convertToIndexed(f, palette));
    EXPECT_EQ(full, b) << BitsPerPixel(f);
  }
}

TEST(Bitmap, ThirtyTwoBitIgnoresFourthByte) {
  Bitmap b;
  ASSERT_TRUE(b.allocate(2, 1, PixelFormat::Bgrx32));
  b.row(0)[0] = 10, b.row(0)[1] = 20, b.row(0)[2] = 30, b.row(0)[3] = 0xEE;
  EXPECT_EQ(b.pixel(0, 0), MakeRgb(30, 20, 10));
  b.convertTo24();
  EXPECT_EQ(b.pixel(0, 0), MakeRgb(30, 20, 10));
}

TEST(Bitmap, ColorRefConversionSwapsRedAndBlue) {
  EXPECT_EQ(RgbFromColorRef(0x000000ff), MakeRgb(255, 0, 0));
  EXPECT_EQ(ColorRefFromRgb(MakeRgb(0, 128, 255)), 0x00ff8000u);
}

}  // namespace
}  // namespace lumivore
