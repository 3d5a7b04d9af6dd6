// Scaling, flipping/rotating and grey conversion.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>

#include "TestSupport.h"
#include "imaging/Usr_wic.h"

namespace lumivore {
namespace {

// Every pixel of a 30 x 10 picture has its own colour, so any misplaced
// pixel shows.
Bitmap Numbered(int width = 30, int height = 10) {
  Bitmap b;
  b.allocate(width, height, PixelFormat::Bgr24);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x)
      b.setPixel(x, y, MakeRgb(static_cast<std::uint8_t>(x), static_cast<std::uint8_t>(y), 7));
  }
  return b;
}

struct TurnCase {
  unsigned code;
  bool swapsSize;
  // Source coordinates of result pixel (x, y) in a W x H source.
  std::function<std::pair<int, int>(int x, int y, int w, int h)> sourceOf;
};

class FlipRotate : public testing::TestWithParam<TurnCase> {};

TEST_P(FlipRotate, MovesEveryPixelWhereExpected) {
  const TurnCase& c = GetParam();
  const Bitmap source = Numbered();
  Bitmap b = source;
  ASSERT_TRUE(WicFlipRotate(b, c.code));
  ASSERT_EQ(b.format(), PixelFormat::Bgr24);
  ASSERT_EQ(b.width(), c.swapsSize ? 10 : 30);
  ASSERT_EQ(b.height(), c.swapsSize ? 30 : 10);
  for (int y = 0; y < b.height(); ++y) {
    for (int x = 0; x < b.width(); ++x) {
      const auto [sx, sy] = c.sourceOf(x, y, 30, 10);
      ASSERT_EQ(b.pixel(x, y), source.pixel(sx, sy))
          << "code " << c.code << " at " << x << "," << y;
    }
  }
}

// A picture large enough to be split into bands of rows, with padded rows,
// in both full-colour formats; every pixel has its own colour.
TEST_P(FlipRotate, MovesEveryPixelOfALargePictureInEitherFormat) {
  const TurnCase& c = GetParam();
  const int w = 701, h = 409;
  for (PixelFormat format : {PixelFormat::Bgr24, PixelFormat::Bgrx32}) {
    Bitmap source;
    ASSERT_TRUE(source.allocate(w, h, format));
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x)
        source.setPixel(x, y, MakeRgb(x & 0xFF, y & 0xFF, (x >> 8) | ((y >> 8) << 4)));
    Bitmap b = source;
    ASSERT_TRUE(WicFlipRotate(b, c.code));
    ASSERT_EQ(b.format(), PixelFormat::Bgr24);
    ASSERT_EQ(b.width(), c.swapsSize ? h : w);
    ASSERT_EQ(b.height(), c.swapsSize ? w : h);
    for (int y = 0; y < b.height(); ++y) {
      for (int x = 0; x < b.width(); ++x) {
        const auto [sx, sy] = c.sourceOf(x, y, w, h);
        ASSERT_EQ(b.pixel(x, y), source.pixel(sx, sy))
            << "code " << c.code << " at " << x << "," << y;
      }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Codes, FlipRotate,
    testing::Values(
        // Clockwise: the left column read bottom up becomes the top row.
        TurnCase{1, true,
                 [](int x, int y, int, int h) {
                   return std::pair{y, h - 1 - x};
                 }},
        TurnCase{2, false,
                 [](int x, int y, int w, int h) {
                   return std::pair{w - 1 - x, h - 1 - y};
                 }},
        // Counter-clockwise: the right column read top down becomes the top row.
        TurnCase{3, true,
                 [](int x, int y, int w, int) {
                   return std::pair{w - 1 - y, x};
                 }},
        TurnCase{4, false,
                 [](int x, int y, int w, int) {
                   return std::pair{w - 1 - x, y};
                 }},
        TurnCase{5, false,
                 [](int x, int y, int, int h) {
                   return std::pair{x, h - 1 - y};
                 }},
        TurnCase{0, false,
                 [](int x, int y, int, int) {
                   return std::pair{x, y};
                 }},
        TurnCase{6, false, [](int x, int y, int, int) {
                   return std::pair{x, y};
                 }}));

TEST(FlipRotateFormat, PaletteBitmapBecomes24BitUnchanged) {
  Bitmap b;
  ASSERT_TRUE(b.allocate(9, 4, PixelFormat::Indexed4));
  b.setPalette({MakeRgb(1, 2, 3), MakeRgb(200, 100, 50)});
  b.setIndex(8, 3, 1);
  Bitmap expected = b;
  expected.convertTo24();
  ASSERT_TRUE(WicFlipRotate(b, 0));
  EXPECT_EQ(b, expected);
  EXPECT_FALSE(WicFlipRotate(*std::make_unique<Bitmap>(), 1));  // nothing to turn
}

// Every code against a plain per-pixel reference, in every storage format,
// on random pixels (random ignored fourth bytes too, which must not reach
// the result). The sizes include single rows and columns, sizes
// that are not multiples of the tiles and blocks the turns work in, rows
// without padding (whose last pixel ends the storage, so nothing may be
// read past it), and pictures large enough to be split over threads.
Bitmap FlippedByReference(const Bitmap& source, unsigned code) {
  const int w = source.width(), h = source.height();
  const bool turn = code == 1 || code == 3;
  Bitmap result;
  result.allocate(turn ? h : w, turn ? w : h, PixelFormat::Bgr24);
  for (int y = 0; y < result.height(); ++y) {
    for (int x = 0; x < result.width(); ++x) {
      int sx = x, sy = y;
      if (code == 1) sx = y, sy = h - 1 - x;
      if (code == 2) sx = w - 1 - x, sy = h - 1 - y;
      if (code == 3) sx = w - 1 - y, sy = x;
      if (code == 4) sx = w - 1 - x;
      if (code == 5) sy = h - 1 - y;
      result.setPixel(x, y, source.pixel(sx, sy));
    }
  }
  return result;
}

TEST(FlipRotateFormat, EveryCodeFormatAndSizeMatchesAPlainReference) {
  static constexpr struct {
    int width, height;
  } kSizes[] = {{1, 1},   {1, 37},  {37, 1},  {2, 3},    {4, 4},     {33, 17},
                {36, 20}, {67, 35}, {5, 131}, {129, 65}, {516, 516}, {1027, 259}};
  std::uint32_t seed = 12345;
  const auto random = [&] { return (seed = seed * 1664525u + 1013904223u) >> 24; };
  for (const auto& size : kSizes) {
    for (PixelFormat format : {PixelFormat::Indexed1, PixelFormat::Indexed4, PixelFormat::Indexed8,
                               PixelFormat::Bgr24, PixelFormat::Bgrx32}) {
      Bitmap source;
      ASSERT_TRUE(source.allocate(size.width, size.height, format));
      const std::size_t used = (std::size_t(size.width) * BitsPerPixel(format) + 7) / 8;
      for (int y = 0; y < size.height; ++y) {
        for (std::size_t i = 0; i < used; ++i)
          source.row(y)[i] = static_cast<std::uint8_t>(random());
      }
      if (IsIndexed(format)) {
        std::vector<Rgb> palette(std::size_t{1} << BitsPerPixel(format));
        for (Rgb& c : palette) c = MakeRgb(random(), random(), random());
        source.setPalette(palette);
      }
      for (unsigned code = 0; code <= 7; ++code) {
        Bitmap b = source;
        ASSERT_TRUE(WicFlipRotate(b, code));
        // The reference leaves row padding zero, so this compares it too.
        const Bitmap expected = FlippedByReference(source, code);
        const std::string where = "code " + std::to_string(code) + ", " +
                                  std::to_string(size.width) + " x " +
                                  std::to_string(size.height) + ", " +
                                  std::to_string(BitsPerPixel(format)) + "-bit";
        EXPECT_EQ(b, expected) << where;
        // Into a new picture, the source untouched.
        Bitmap out;
        ASSERT_TRUE(lumivore::FlipRotate(source, out, code)) << where;
        EXPECT_EQ(out, expected) << where;
        // The mirrors of the view, with the new picture made in the same pass;
        // the view's fourth bytes are junk that must not show.
        if (code == 4 || code == 5) {
          Bitmap view, shown;
          ASSERT_TRUE(ConvertToBgrx32(source, view));
          for (int y = 0; y < view.height(); ++y)
            for (int x = 0; x < view.width(); ++x) view.row(y)[4 * x + 3] = std::uint8_t(random());
          ASSERT_TRUE(ConvertToBgrx32(expected, shown));
          out = Bitmap();
          ASSERT_TRUE(MirrorShownPicture(view, out, code)) << where;
          EXPECT_EQ(out, expected) << where << ", from the view";
          EXPECT_EQ(view, shown) << where << ", the view";
        }
      }
    }
  }
}

TEST(Scale, FactorTruncatesTheSize) {
  Bitmap source = test::MakePattern(101, 51);
  Bitmap dest;
  ASSERT_TRUE(WicScaleImage(source, dest, 0.5, 999, 999, 1));
  EXPECT_EQ(dest.width(), 50);
  EXPECT_EQ(dest.height(), 25);
  ASSERT_TRUE(WicScaleImage(source, dest, 0.0, 10, 20, 2));
  EXPECT_EQ(dest.width(), 10);
  EXPECT_EQ(dest.height(), 20);
}

TEST(Scale, ZeroSizeWithoutFactorTouchesNothing) {
  Bitmap source;
  ASSERT_TRUE(source.allocate(8, 8, PixelFormat::Indexed8));
  Bitmap dest = test::MakePattern(3, 3);
  const Bitmap sourceBefore = source, destBefore = dest;
  EXPECT_FALSE(WicScaleImage(source, dest, 0.0, 0, 5, 1));
  EXPECT_FALSE(WicScaleImage(source, dest, -1.0, 5, 0, 1));
  EXPECT_EQ(source, sourceBefore) << "the source was converted although nothing was to be done";
  EXPECT_EQ(dest, destBefore);
}

TEST(Scale, RefusedSizeLeavesDestinationButConvertsSource) {
  Bitmap source;
  ASSERT_TRUE(source.allocate(8, 8, PixelFormat::Indexed8));
  Bitmap dest = test::MakePattern(3, 3);
  const Bitmap destBefore = dest;
  EXPECT_FALSE(WicScaleImage(source, dest, 0.01, 0, 0, 0));         // 0 x 0 through the factor
  EXPECT_FALSE(WicScaleImage(source, dest, 0.0, 60000, 60000, 0));  // beyond 2^31 bytes
  EXPECT_FALSE(WicScaleImage(source, dest, 0.0, -4, 4, 0));
  EXPECT_EQ(dest, destBefore);
  EXPECT_EQ(source.format(), PixelFormat::Bgr24);
}

class ScaleMode : public testing::TestWithParam<int> {};

TEST_P(ScaleMode, KeepsFlatColourAndAllowsSameBitmap) {
  Bitmap b;
  ASSERT_TRUE(b.allocate(17, 9, PixelFormat::Bgrx32));
  for (int y = 0; y < 9; ++y) {
    for (int x = 0; x < 17; ++x) {
      b.setPixel(x, y, MakeRgb(12, 130, 250));
      b.row(y)[4 * x + 3] = static_cast<std::uint8_t>(x * 15);  // ignored byte
    }
  }
  for (double factor : {0.3, 0.5, 1.0, 1.7, 3.0}) {
    Bitmap copy = b;
    ASSERT_TRUE(WicScaleImage(copy, copy, factor, 0, 0, GetParam()));  // in place
    ASSERT_EQ(copy.width(), static_cast<int>(17 * factor));
    for (int y = 0; y < copy.height(); ++y) {
      for (int x = 0; x < copy.width(); ++x) ASSERT_EQ(copy.pixel(x, y), MakeRgb(12, 130, 250));
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Modes, ScaleMode, testing::Values(0, 1, 2, 3, 7, -1));

TEST(Scale, UnknownModesAreNearestNeighbour) {
  Bitmap source = test::MakePattern(40, 30);
  Bitmap nearest, seven, minus;
  ASSERT_TRUE(WicScaleImage(source, nearest, 0, 23, 61, 0));
  ASSERT_TRUE(WicScaleImage(source, seven, 0, 23, 61, 7));
  ASSERT_TRUE(WicScaleImage(source, minus, 0, 23, 61, -1));
  EXPECT_EQ(seven, nearest);
  EXPECT_EQ(minus, nearest);
  // Nearest neighbour only ever copies source colours.
  EXPECT_EQ(nearest.pixel(0, 0), source.pixel(0, 0));
}

TEST(Scale, AreaAveragesAndBilinearInterpolates) {
  // A one-pixel checkerboard halved by area averaging is a flat mid grey.
  Bitmap checker;
  ASSERT_TRUE(checker.allocate(20, 20, PixelFormat::Bgr24));
  for (int y = 0; y < 20; ++y) {
    for (int x = 0; x < 20; ++x) checker.setPixel(x, y, ((x + y) & 1) ? MakeRgb(255, 255, 255) : 0);
  }
  Bitmap half;
  ASSERT_TRUE(WicScaleImage(checker, half, 0.5, 0, 0, 3));
  for (int y = 0; y < 10; ++y) {
    for (int x = 0; x < 10; ++x) {
      const int v = RedOf(half.pixel(x, y));
      ASSERT_TRUE(v == 127 || v == 128) << v;
    }
  }
  // Two pixels, black and white, stretched to eight: a rising ramp.
  Bitmap pair;
  ASSERT_TRUE(pair.allocate(2, 1, PixelFormat::Bgr24));
  pair.setPixel(1, 0, MakeRgb(255, 255, 255));
  for (int mode : {1, 2}) {
    Bitmap wide;
    ASSERT_TRUE(WicScaleImage(pair, wide, 0, 8, 1, mode));
    EXPECT_EQ(RedOf(wide.pixel(0, 0)), 0) << mode;
    EXPECT_EQ(RedOf(wide.pixel(7, 0)), 255) << mode;
    for (int x = 1; x < 8; ++x)
      EXPECT_GE(RedOf(wide.pixel(x, 0)), RedOf(wide.pixel(x - 1, 0))) << mode;
    EXPECT_GT(RedOf(wide.pixel(4, 0)), 64) << mode;
    EXPECT_LT(RedOf(wide.pixel(3, 0)), 192) << mode;
    // Sample centres line up with the source's, so the ramp is symmetric.
    for (int x = 0; x < 4; ++x)
      EXPECT_NEAR(RedOf(wide.pixel(x, 0)) + RedOf(wide.pixel(7 - x, 0)), 255, 1)
          << mode << " " << x;
  }
}

// Nearest neighbour takes, for each output pixel, the source pixel under
// its centre. The sizes include 200 % enlargements big enough to be split
// over threads, rows that end without padding (widths that are multiples
// of 4), reductions and odd ratios.
struct NearestCase {
  int sourceWidth, sourceHeight, width, height;
};

class NearestScale : public testing::TestWithParam<NearestCase> {};

TEST_P(NearestScale, TakesThePixelUnderEachCentre) {
  const NearestCase c = GetParam();
  Bitmap source;
  ASSERT_TRUE(source.allocate(c.sourceWidth, c.sourceHeight, PixelFormat::Bgr24));
  for (int y = 0; y < c.sourceHeight; ++y) {
    for (int x = 0; x < c.sourceWidth; ++x) {  // a colour of its own for every pixel
      source.setPixel(x, y,
                      MakeRgb(static_cast<std::uint8_t>(x), static_cast<std::uint8_t>(y),
                              static_cast<std::uint8_t>((x >> 8) | (y >> 8) << 4)));
    }
  }
  Bitmap out;
  ASSERT_TRUE(WicScaleImage(source, out, 0, c.width, c.height, 0));
  ASSERT_EQ(out.width(), c.width);
  ASSERT_EQ(out.height(), c.height);
  int wrong = 0;
  for (int y = 0; y < c.height; ++y) {
    const int sy = (2 * y + 1) * c.sourceHeight / (2 * c.height);
    for (int x = 0; x < c.width; ++x) {
      const int sx = (2 * x + 1) * c.sourceWidth / (2 * c.width);
      if (out.pixel(x, y) != source.pixel(sx, sy) && wrong++ == 0) {
        ADD_FAILURE() << "first wrong pixel at " << x << "," << y;
      }
    }
  }
  EXPECT_EQ(wrong, 0);
}

INSTANTIATE_TEST_SUITE_P(Sizes, NearestScale,
                         testing::Values(NearestCase{30, 10, 60, 20},
                                         NearestCase{400, 300, 800, 600}, NearestCase{4, 3, 8, 6},
                                         NearestCase{401, 299, 802, 598},
                                         NearestCase{101, 51, 50, 25}, NearestCase{7, 5, 23, 61},
                                         NearestCase{1, 1, 5, 3}, NearestCase{64, 3, 1, 1},
                                         NearestCase{800, 600, 600, 900}));

// The exact area average of source pixels [lo, hi) along one axis, pixels
// given by value(i), for one output pixel of `dest` over `source`.
double ExactAreaMean(int source, int dest, int i, int (*value)(int, int), int length) {
  const double scale = double(source) / dest, lo = i * scale, hi = (i + 1) * scale;
  double sum = 0.0;
  for (int j = int(lo); j < hi && j < source; ++j) {
    sum += (std::min(hi, j + 1.0) - std::max(lo, double(j))) * value(j, length);
  }
  return sum / scale;
}

TEST(Scale, AreaAtExtremeRatiosGivesTheExactMean) {
  // Thousands of source pixels per output pixel: every one must count by its
  // share, whatever rounding the weights need.
  static constexpr struct {
    int length, dest;  // along the long axis; the other axis stays 1
  } kCases[] = {{12000, 1}, {12000, 7}, {30000, 1}, {30000, 3}, {4099, 2}};
  // Red rises, blue falls, green rises twice as fast and wraps.
  static int (*const channels[3])(int, int) = {
      [](int j, int n) { return j * 255 / (n - 1); },
      [](int j, int n) { return (2 * j * 255 / (n - 1)) % 256; },
      [](int j, int n) { return 255 - j * 255 / (n - 1); },
  };
  for (const auto& c : kCases) {
    for (const bool vertical : {false, true}) {
      Bitmap ramp;
      ASSERT_TRUE(ramp.allocate(vertical ? 1 : c.length, vertical ? c.length : 1,
                                PixelFormat::Bgr24));
      for (int j = 0; j < c.length; ++j) {
        const Rgb colour = MakeRgb(channels[0](j, c.length), channels[1](j, c.length),
                                   channels[2](j, c.length));
        ramp.setPixel(vertical ? 0 : j, vertical ? j : 0, colour);
      }
      Bitmap scaled;
      ASSERT_TRUE(WicScaleImage(ramp, scaled, 0, vertical ? 1 : c.dest, vertical ? c.dest : 1, 3));
      for (int i = 0; i < c.dest; ++i) {
        const Rgb got = scaled.pixel(vertical ? 0 : i, vertical ? i : 0);
        const int values[3] = {RedOf(got), GreenOf(got), BlueOf(got)};
        for (int k = 0; k < 3; ++k) {
          const double exact = ExactAreaMean(c.length, c.dest, i, channels[k], c.length);
          EXPECT_NEAR(values[k], exact, 0.6)
              << c.length << " -> " << c.dest << (vertical ? " vertical" : "") << ", pixel " << i
              << ", channel " << k;
        }
      }
    }
  }
}

TEST(Gray, PaletteAndPaddedFormatsGiveOneLuminancePerPixel) {
  Bitmap one;
  ASSERT_TRUE(one.allocate(10, 3, PixelFormat::Indexed1));
  one.setPalette({MakeRgb(255, 0, 0), MakeRgb(0, 0, 255)});
  one.setIndex(3, 1, 1);
  ASSERT_TRUE(WicGrayScale(one));
  EXPECT_EQ(one.format(), PixelFormat::Bgr24);
  EXPECT_EQ(one.pixel(0, 0), MakeRgb(77, 77, 77));  // red's luma
  EXPECT_EQ(one.pixel(3, 1), MakeRgb(29, 29, 29));  // blue's luma

  Bitmap eight;
  ASSERT_TRUE(eight.allocate(5, 5, PixelFormat::Indexed8));
  eight.setPalette({MakeRgb(255, 255, 255)});
  ASSERT_TRUE(WicGrayScale(eight));
  EXPECT_EQ(eight.pixel(4, 4), MakeRgb(255, 255, 255));

  // Full-colour pixels are stored B, G, R: pure red gives red's luma.
  for (PixelFormat format : {PixelFormat::Bgr24, PixelFormat::Bgrx32}) {
    Bitmap red;
    ASSERT_TRUE(red.allocate(1, 1, format));
    red.setPixel(0, 0, MakeRgb(255, 0, 0));
    ASSERT_TRUE(WicGrayScale(red));
    EXPECT_EQ(red.pixel(0, 0), MakeRgb(77, 77, 77)) << static_cast<int>(format);
  }

  Bitmap a = test::MakePattern(16, 8, PixelFormat::Bgrx32);
  Bitmap b = a;
  for (int y = 0; y < 8; ++y) {
    for (int x = 0; x < 16; ++x) b.row(y)[4 * x + 3] = 0;
  }
  ASSERT_TRUE(WicGrayScale(a));
  ASSERT_TRUE(WicGrayScale(b));
  EXPECT_EQ(a, b) << "the fourth byte changed the result";
  for (int y = 0; y < 8; ++y) {
    for (int x = 0; x < 16; ++x) {
      const Rgb c = a.pixel(x, y);
      ASSERT_TRUE(RedOf(c) == GreenOf(c) && GreenOf(c) == BlueOf(c));
    }
  }
  Bitmap empty;
  EXPECT_FALSE(WicGrayScale(empty));
}

}  // namespace
}  // namespace lumivore
