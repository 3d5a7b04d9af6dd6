// Sepia, negative, mosaic and the colour-depth reductions.
#include <gtest/gtest.h>

#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <set>

#include "TestSupport.h"
#include "imaging/Filters.h"

#include <hwy/targets.h>
#include <jpeglib.h>

namespace lumivore {
namespace {

Bitmap Filled(int width, int height, Rgb colour, PixelFormat format = PixelFormat::Bgr24) {
  Bitmap b;
  b.allocate(width, height, format);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) b.setPixel(x, y, colour);
  return b;
}

Bitmap Random(int width, int height, PixelFormat format = PixelFormat::Bgr24, unsigned seed = 7) {
  std::mt19937 random(seed);
  Bitmap b;
  b.allocate(width, height, format);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) b.setPixel(x, y, random() & 0xFFFFFF);
  return b;
}

std::set<Rgb> Colours(const Bitmap& b) {
  std::set<Rgb> out;
  for (int y = 0; y < b.height(); ++y)
    for (int x = 0; x < b.width(); ++x) out.insert(b.pixel(x, y));
  return out;
}

// `picture` with the fourth byte of each pixel taken from `from` (32-bit).
Bitmap WithFourthBytes(Bitmap picture, const Bitmap& from) {
  for (int y = 0; y < picture.height(); ++y)
    for (int x = 0; x < picture.width(); ++x) picture.row(y)[4 * x + 3] = from.row(y)[4 * x + 3];
  return picture;
}

// ------------------------------------------------------------------ sepia

struct SepiaCase {
  Rgb in, out;
};

TEST(Sepia, TonesKnownColoursInBothFullColourFormats) {
  const SepiaCase cases[] = {
      {MakeRgb(0, 0, 0), MakeRgb(22, 13, 0)},
      {MakeRgb(255, 255, 255), MakeRgb(255, 255, 220)},
      {MakeRgb(128, 128, 128), MakeRgb(150, 141, 93)},
      // Pure red: Y = 299 * 255 div 1000 = 76.
      {MakeRgb(255, 0, 0), MakeRgb(98, 89, 41)},
      // Y = (114 * 10 + 587 * 20 + 299 * 30) div 1000 = 21: blue clamps at 0.
      {MakeRgb(30, 20, 10), MakeRgb(43, 34, 0)},
  };
  for (PixelFormat format : {PixelFormat::Bgr24, PixelFormat::Bgrx32}) {
    for (const SepiaCase& c : cases) {
      Bitmap b = Filled(3, 2, c.in, format);
      // Into a new picture: always 24-bit, the source untouched.
      Bitmap out;
      ASSERT_TRUE(SepiaTone(b, out));
      EXPECT_EQ(out.format(), PixelFormat::Bgr24);
      EXPECT_EQ(Colours(out), std::set<Rgb>{c.out}) << std::hex << c.in;
      EXPECT_EQ(Colours(b), std::set<Rgb>{c.in});
      // In place: the format stays.
      ASSERT_TRUE(SepiaTone(b));
      EXPECT_EQ(b.format(), format);
      EXPECT_EQ(Colours(b), std::set<Rgb>{c.out}) << std::hex << c.in;
    }
  }
}

TEST(Sepia, RefusesPaletteAndEmptyPictures) {
  Bitmap palette = Filled(4, 4, MakeRgb(255, 255, 255));
  ASSERT_TRUE(palette.convertToIndexed(PixelFormat::Indexed4, StandardPalette16()));
  const Bitmap before = palette;
  EXPECT_FALSE(SepiaTone(palette));
  EXPECT_EQ(palette, before);
  Bitmap empty;
  EXPECT_FALSE(SepiaTone(empty));
}

// --------------------------------------------------------------- negative

TEST(Negative, InvertsEveryChannelAndTwiceGivesThePictureBack) {
  for (PixelFormat format : {PixelFormat::Bgr24, PixelFormat::Bgrx32}) {
    const Bitmap original = Random(37, 11, format);
    Bitmap b = original;
    ASSERT_TRUE(InvertColours(b));
    for (int y = 0; y < b.height(); ++y)
      for (int x = 0; x < b.width(); ++x)
        ASSERT_EQ(b.pixel(x, y), ~original.pixel(x, y) & 0xFFFFFFu) << x << "," << y;
    ASSERT_TRUE(InvertColours(b));
    EXPECT_EQ(b, original);
    // Into a new picture: the same pixels and format, the source untouched.
    Bitmap inverted, expected = original;
    ASSERT_TRUE(InvertColours(original, inverted));
    ASSERT_TRUE(InvertColours(expected));
    EXPECT_EQ(inverted, expected);
  }
}

TEST(Negative, PalettePictureKeepsItsPaletteWithInvertedColours) {
  Bitmap b = Filled(5, 3, MakeRgb(255, 0, 0));
  b.setPixel(0, 0, MakeRgb(0, 0, 0));
  b.setPixel(1, 0, MakeRgb(192, 192, 192));
  ASSERT_TRUE(b.convertToIndexed(PixelFormat::Indexed4, StandardPalette16()));
  ASSERT_TRUE(InvertColours(b));
  EXPECT_EQ(b.format(), PixelFormat::Indexed4);
  EXPECT_EQ(b.palette(), StandardPalette16());
  EXPECT_EQ(b.pixel(0, 0), MakeRgb(255, 255, 255));
  // Silver inverts to (63, 63, 63), which is not in the palette: black is
  // nearer (3 * 63^2) than grey 128 (3 * 65^2).
  EXPECT_EQ(b.pixel(1, 0), MakeRgb(0, 0, 0));
  EXPECT_EQ(b.pixel(4, 2), MakeRgb(0, 255, 255));
}

// ----------------------------------------------------------------- mosaic

// The truncated average of a rectangle of `source`, worked out pixel by pixel.
Rgb Average(const Bitmap& source, int left, int top, int right, int bottom) {
  unsigned r = 0, g = 0, b = 0, n = 0;
  for (int y = top; y < bottom; ++y)
    for (int x = left; x < right; ++x, ++n) {
      const Rgb c = source.pixel(x, y);
      r += RedOf(c), g += GreenOf(c), b += BlueOf(c);
    }
  return MakeRgb(r / n, g / n, b / n);
}

struct Block {
  int left, top, right, bottom;
};

struct MosaicCase {
  const char* name;
  int width, height;
  Block area;
  int n;
  std::vector<Block> blocks;  // every block of the area
};

class MosaicBlocks : public testing::TestWithParam<MosaicCase> {};

TEST_P(MosaicBlocks, FillsEachBlockWithItsAverageAndLeavesTheRest) {
  const MosaicCase& c = GetParam();
  for (PixelFormat format : {PixelFormat::Bgr24, PixelFormat::Bgrx32}) {
    const Bitmap source = Random(c.width, c.height, format, 11);
    Bitmap b = source;
    ASSERT_TRUE(Mosaic(b, c.area.left, c.area.top, c.area.right, c.area.bottom, c.n));
    for (int y = 0; y < c.height; ++y) {
      for (int x = 0; x < c.width; ++x) {
        Rgb expected = source.pixel(x, y);
        for (const Block& k : c.blocks)
          if (x >= k.left && x < k.right && y >= k.top && y < k.bottom)
            expected = Average(source, k.left, k.top, k.right, k.bottom);
        ASSERT_EQ(b.pixel(x, y), expected) << c.name << " at " << x << "," << y;
      }
    }
  }
}

std::vector<Block> Grid(std::vector<int> xs, std::vector<int> ys) {
  std::vector<Block> out;
  for (std::size_t j = 0; j + 1 < ys.size(); ++j)
    for (std::size_t i = 0; i + 1 < xs.size(); ++i) out.push_back({xs[i], ys[j], xs[i + 1], ys[j + 1]});
  return out;
}

INSTANTIATE_TEST_SUITE_P(
    Areas, MosaicBlocks,
    testing::Values(
        MosaicCase{"size 4 on 10x10", 10, 10, {0, 0, 10, 10}, 4, Grid({0, 4, 8, 10}, {0, 4, 8, 10})},
        MosaicCase{"size 8 on (5,5)-(15,15)", 20, 20, {5, 5, 15, 15}, 8,
                   Grid({5, 13, 15}, {5, 13, 15})},
        MosaicCase{"size 2 on an exact multiple", 8, 6, {0, 0, 8, 6}, 2,
                   Grid({0, 2, 4, 6, 8}, {0, 2, 4, 6})},
        MosaicCase{"block larger than the area", 9, 7, {0, 0, 9, 7}, 16, Grid({0, 9}, {0, 7})},
        MosaicCase{"area beyond the picture is clipped", 12, 12, {6, 6, 40, 40}, 4,
                   Grid({6, 10, 12}, {6, 10, 12})}),
    [](const auto& info) { return "case" + std::to_string(info.index); });

TEST(Mosaic, RefusesABlockSizeBelowOne) {
  Bitmap b = Random(4, 4);
  const Bitmap before = b;
  EXPECT_FALSE(Mosaic(b, 0, 0, 4, 4, 0));
  EXPECT_EQ(b, before);
}

// ------------------------------------------------------------- reductions

TEST(Reduce, MonoUsesTheNearerOfBlackAndWhite) {
  for (PixelFormat format : {PixelFormat::Bgr24, PixelFormat::Bgrx32}) {
    const Bitmap source = Random(67, 13, format, 3);
    Bitmap b = source;
    ASSERT_TRUE(ReduceToMono(b, b));
    ASSERT_EQ(b.format(), PixelFormat::Indexed1);
    EXPECT_EQ(b.palette(), MonoPalette());
    for (int y = 0; y < b.height(); ++y)
      for (int x = 0; x < b.width(); ++x)
        ASSERT_EQ(b.index(x, y), NearestPaletteIndex(MonoPalette(), source.pixel(x, y)));
  }
  // Around the boundary r + g + b = 382.5.
  Bitmap edge = Filled(2, 1, MakeRgb(128, 127, 127));
  edge.setPixel(1, 0, MakeRgb(128, 128, 127));
  ASSERT_TRUE(ReduceToMono(edge, edge));
  EXPECT_EQ(edge.pixel(0, 0), MakeRgb(0, 0, 0));
  EXPECT_EQ(edge.pixel(1, 0), MakeRgb(255, 255, 255));
}

TEST(Reduce, SixteenColoursPicksTheNearestStandardColourForEveryColour) {
  // Random colours, and every colour of a coarse lattice with its neighbours,
  // so that pixels on both sides of each decision boundary are covered.
  Bitmap source = Random(1024, 512, PixelFormat::Bgr24, 5);
  Bitmap lattice;
  ASSERT_TRUE(lattice.allocate(64 * 3, 64 * 64, PixelFormat::Bgrx32));
  for (int r = 0; r < 64; ++r)
    for (int g = 0; g < 64; ++g)
      for (int b = 0; b < 64; ++b)
        for (int d = 0; d < 3; ++d) {
          const int v = std::clamp(4 * r + d - 1, 0, 255);
          lattice.setPixel(b * 3 + d, r * 64 + g, MakeRgb(v, std::min(4 * g + d, 255), 4 * b + 1));
        }
  for (const Bitmap* picture : {&source, &lattice}) {
    Bitmap b = *picture;
    ASSERT_TRUE(ReduceTo16Colours(b, b));
    ASSERT_EQ(b.format(), PixelFormat::Indexed4);
    EXPECT_EQ(b.palette(), StandardPalette16());
    for (int y = 0; y < b.height(); ++y)
      for (int x = 0; x < b.width(); ++x)
        ASSERT_EQ(b.index(x, y), NearestPaletteIndex(StandardPalette16(), picture->pixel(x, y)))
            << std::hex << picture->pixel(x, y);
  }
}

TEST(Reduce, OddWidthsPackTheLastPixels) {
  for (int width : {1, 7, 9, 15}) {
    Bitmap b = Filled(width, 2, MakeRgb(255, 255, 255));
    b.setPixel(width - 1, 1, MakeRgb(255, 0, 0));
    Bitmap mono = b;
    ASSERT_TRUE(ReduceToMono(mono, mono));
    EXPECT_EQ(mono.pixel(width - 1, 0), MakeRgb(255, 255, 255));
    EXPECT_EQ(mono.pixel(width - 1, 1), MakeRgb(0, 0, 0));
    ASSERT_TRUE(ReduceTo16Colours(b, b));
    EXPECT_EQ(b.pixel(width - 1, 0), MakeRgb(255, 255, 255));
    EXPECT_EQ(b.pixel(width - 1, 1), MakeRgb(255, 0, 0));
  }
}

// An edit of the picture on screen that makes the new picture in the same
// pass gives what the filter on the picture followed by a fresh view of the
// result gives. Toning and the reductions draw the view again from the new
// rows; the negative and the mosaic change it in place and keep its fourth
// bytes, which in the view of a 24-bit picture are junk here that must not
// show in the new picture. Widths end part-way through a byte of indices;
// the large picture goes in bands.
TEST(ShownPicture, IsEditedAndMadeIntoTheNewPictureInOnePass) {
  using Filter = std::function<bool(const Bitmap&, Bitmap&)>;
  using Shown = std::function<bool(Bitmap&, Bitmap&, PixelFormat)>;
  const struct {
    const char* name;
    Filter filter;
    Shown shown;
    bool inPlace;
  } cases[] = {
      {"sepia", [](const Bitmap& s, Bitmap& o) { return SepiaTone(s, o); },
       [](Bitmap& v, Bitmap& o, PixelFormat) { return SepiaShownPicture(v, o); }, false},
      {"negative", [](const Bitmap& s, Bitmap& o) { return InvertColours(s, o); },
       [](Bitmap& v, Bitmap& o, PixelFormat f) { return InvertShownPicture(v, o, f); }, true},
      {"mosaic 4", [](const Bitmap& s, Bitmap& o) { return Mosaic(s, o, 0, 1, 600, 400, 4); },
       [](Bitmap& v, Bitmap& o, PixelFormat f) {
         return MosaicShownPicture(v, o, f, 0, 1, 600, 400, 4);
       },
       true},
      {"2 colours", [](const Bitmap& s, Bitmap& o) { return ReduceToMono(s, o); },
       [](Bitmap& v, Bitmap& o, PixelFormat) { return ReduceShownPicture(v, o, 2); }, false},
      {"16 colours", [](const Bitmap& s, Bitmap& o) { return ReduceTo16Colours(s, o); },
       [](Bitmap& v, Bitmap& o, PixelFormat) { return ReduceShownPicture(v, o, 16); }, false},
  };
  for (const auto& [width, height] :
       {std::pair{1, 3}, std::pair{7, 3}, std::pair{33, 3}, std::pair{65, 2}, std::pair{701, 403}}) {
    for (PixelFormat format : {PixelFormat::Bgr24, PixelFormat::Bgrx32}) {
      const Bitmap picture = Random(width, height, format, 40 + width);
      Bitmap shown;
      ASSERT_TRUE(ConvertToBgrx32(picture, shown));
      if (format == PixelFormat::Bgr24)
        for (int y = 0; y < height; ++y)
          for (int x = 0; x < width; ++x) shown.row(y)[4 * x + 3] = std::uint8_t(x * 3 + y);
      for (const auto& c : cases) {
        const std::string where = std::string(c.name) + ", " + std::to_string(width) + " wide, " +
                                  std::to_string(BitsPerPixel(format)) + "-bit";
        Bitmap filtered, redrawn;
        ASSERT_TRUE(c.filter(picture, filtered)) << where;
        ASSERT_TRUE(ConvertToBgrx32(filtered, redrawn));
        if (c.inPlace) redrawn = WithFourthBytes(redrawn, shown);
        Bitmap view = shown, out = Random(3, 3);
        ASSERT_TRUE(c.shown(view, out, format)) << where;
        EXPECT_EQ(out, filtered) << where;
        EXPECT_EQ(view, redrawn) << where;
      }
    }
  }
  // Refused, nothing changed: a view that is not 32-bit, a new picture that
  // is not full colour, a reduction to other than 2 or 16 colours.
  Bitmap view24 = Random(9, 4), view32 = Random(9, 4, PixelFormat::Bgrx32), out = Random(3, 3);
  const Bitmap before24 = view24, before32 = view32, outBefore = out;
  EXPECT_FALSE(SepiaShownPicture(view24, out));
  EXPECT_FALSE(InvertShownPicture(view24, out, PixelFormat::Bgr24));
  EXPECT_FALSE(InvertShownPicture(view32, out, PixelFormat::Indexed8));
  EXPECT_FALSE(MosaicShownPicture(view24, out, PixelFormat::Bgr24, 0, 0, 9, 4, 2));
  EXPECT_FALSE(MosaicShownPicture(view32, out, PixelFormat::Indexed4, 0, 0, 9, 4, 2));
  EXPECT_FALSE(MosaicShownPicture(view32, out, PixelFormat::Bgr24, 0, 0, 9, 4, 0));
  EXPECT_FALSE(ReduceShownPicture(view24, out, 2));
  EXPECT_FALSE(ReduceShownPicture(view32, out, 256));
  EXPECT_FALSE(ReduceShownPicture(view32, out, -2));
  EXPECT_EQ(view24, before24);
  EXPECT_EQ(view32, before32);
  EXPECT_EQ(out, outBefore);
}

// ------------------------------------------------- large pictures in bands

// Rows [top, bottom) of a picture as a picture of their own.
Bitmap Rows(const Bitmap& b, int top, int bottom) {
  Bitmap out;
  out.allocate(b.width(), bottom - top, b.format());
  out.setPalette(b.palette());
  for (int y = top; y < bottom; ++y)
    std::memcpy(out.row(y - top), b.row(y), std::min(out.stride(), b.stride()));
  return out;
}

// A picture large enough to be worked in bands of rows on several cores must
// come out exactly as its strips do when each is worked on its own (strips
// that small never split). Odd widths give padded rows.
TEST(Bands, LargePicturesMatchTheirStripsWorkedAlone) {
  using Op = std::function<bool(Bitmap&)>;
  struct Case {
    const char* name;
    Op op;
    int strip;  // rows per strip: block rows for the mosaic
  };
  const Case cases[] = {
      {"sepia in place", [](Bitmap& b) { return SepiaTone(b); }, 1},
      {"sepia into new",
       [](Bitmap& b) {
         Bitmap o;
         return SepiaTone(b, o) && (b = std::move(o), true);
       },
       1},
      {"negative", [](Bitmap& b) { return InvertColours(b); }, 1},
      {"negative of the view, with a copy",
       [](Bitmap& b) {
         Bitmap view, copy;
         return ConvertToBgrx32(b, view) && InvertShownPicture(view, copy, b.format()) &&
                (b = std::move(copy), true);
       },
       1},
      {"mosaic 8", [](Bitmap& b) { return Mosaic(b, 0, 0, b.width(), b.height(), 8); }, 8},
      {"mono", [](Bitmap& b) { return ReduceToMono(b, b); }, 1},
      {"16 colours", [](Bitmap& b) { return ReduceTo16Colours(b, b); }, 1},
  };
  for (PixelFormat format : {PixelFormat::Bgr24, PixelFormat::Bgrx32}) {
    const Bitmap source = Random(701, 403, format, 13);
    for (const Case& c : cases) {
      Bitmap whole = source;
      ASSERT_TRUE(c.op(whole)) << c.name;
      for (int top = 0; top < source.height(); top += c.strip) {
        Bitmap strip = Rows(source, top, std::min(top + c.strip, source.height()));
        ASSERT_TRUE(c.op(strip)) << c.name;
        ASSERT_EQ(Rows(whole, top, top + strip.height()), strip) << c.name << " rows from " << top;
      }
    }
  }
}

// An independent encode and quantising decode straight through libjpeg.
struct JpegErrors {
  jpeg_error_mgr mgr;
  std::jmp_buf jump;
};

bool ReferenceReduce256(const Bitmap& source, std::vector<std::uint8_t>& indices,
                        std::vector<Rgb>& palette) {
  JpegErrors errors{};
  jpeg_compress_struct c{};
  jpeg_decompress_struct d{};
  unsigned char* file = nullptr;
  unsigned long size = 0;
  c.err = d.err = jpeg_std_error(&errors.mgr);
  errors.mgr.error_exit = [](j_common_ptr info) {
    std::longjmp(reinterpret_cast<JpegErrors*>(info->err)->jump, 1);
  };
  if (setjmp(errors.jump)) {
    jpeg_destroy_compress(&c);
    jpeg_destroy_decompress(&d);
    std::free(file);
    return false;
  }
  jpeg_create_compress(&c);
  jpeg_mem_dest(&c, &file, &size);
  c.image_width = source.width();
  c.image_height = source.height();
  c.input_components = 3;
  c.in_color_space = JCS_RGB;
  jpeg_set_defaults(&c);
  jpeg_set_quality(&c, 90, TRUE);
  jpeg_start_compress(&c, TRUE);
  std::vector<JSAMPLE> row(3 * source.width());
  while (c.next_scanline < c.image_height) {
    for (int x = 0; x < source.width(); ++x) {
      const Rgb p = source.pixel(x, c.next_scanline);
      row[3 * x] = RedOf(p), row[3 * x + 1] = GreenOf(p), row[3 * x + 2] = BlueOf(p);
    }
    JSAMPROW r = row.data();
    jpeg_write_scanlines(&c, &r, 1);
  }
  jpeg_finish_compress(&c);
  jpeg_destroy_compress(&c);

  jpeg_create_decompress(&d);
  jpeg_mem_src(&d, file, size);
  jpeg_read_header(&d, TRUE);
  d.quantize_colors = TRUE;
  d.desired_number_of_colors = 236;
  jpeg_start_decompress(&d);
  indices.resize(std::size_t(d.output_width) * d.output_height);
  while (d.output_scanline < d.output_height) {
    JSAMPROW r = indices.data() + std::size_t(d.output_scanline) * d.output_width;
    jpeg_read_scanlines(&d, &r, 1);
  }
  for (int i = 0; i < d.actual_number_of_colors; ++i)
    palette.push_back(MakeRgb(d.colormap[0][i], d.colormap[1][i], d.colormap[2][i]));
  jpeg_finish_decompress(&d);
  jpeg_destroy_decompress(&d);
  std::free(file);
  return true;
}

TEST(Reduce, TwoHundredFiftySixColoursMatchesADirectLibjpegRoundTrip) {
  for (PixelFormat format : {PixelFormat::Bgr24, PixelFormat::Bgrx32}) {
    const Bitmap source = test::MakePattern(173, 91, format);
    Bitmap out;
    ASSERT_TRUE(ReduceTo256Colours(source, out));
    ASSERT_EQ(out.format(), PixelFormat::Indexed8);
    ASSERT_EQ(out.width(), 173);
    ASSERT_EQ(out.height(), 91);
    EXPECT_LE(out.palette().size(), 236u);
    EXPECT_GT(Colours(out).size(), 16u);
    std::vector<std::uint8_t> indices;
    std::vector<Rgb> palette;
    ASSERT_TRUE(ReferenceReduce256(source, indices, palette));
    EXPECT_EQ(out.palette(), palette);
    for (int y = 0; y < out.height(); ++y)
      for (int x = 0; x < out.width(); ++x)
        ASSERT_EQ(out.index(x, y), indices[std::size_t(y) * out.width() + x]) << x << "," << y;
  }
}

TEST(Reduce, TwoHundredFiftySixColoursRefusesPaletteAndEmptySources) {
  Bitmap palette = Filled(4, 4, MakeRgb(1, 2, 3));
  ASSERT_TRUE(ReduceToMono(palette, palette));
  Bitmap out = Filled(2, 2, MakeRgb(9, 9, 9));
  const Bitmap before = out;
  EXPECT_FALSE(ReduceTo256Colours(palette, out));
  EXPECT_FALSE(ReduceTo256Colours(Bitmap(), out));
  EXPECT_EQ(out, before);
}

TEST(DrawIntoPalette, MapsEachColourToTheNearestEntry) {
  Bitmap target = Filled(3, 1, 0);
  ASSERT_TRUE(target.convertToIndexed(PixelFormat::Indexed4, StandardPalette16()));
  Bitmap source = Filled(3, 1, MakeRgb(250, 10, 5));
  source.setPixel(1, 0, MakeRgb(100, 100, 100));
  source.setPixel(2, 0, MakeRgb(200, 190, 180));
  ASSERT_TRUE(DrawIntoPalette(source, target));
  EXPECT_EQ(target.format(), PixelFormat::Indexed4);
  EXPECT_EQ(target.pixel(0, 0), MakeRgb(255, 0, 0));
  EXPECT_EQ(target.pixel(1, 0), MakeRgb(128, 128, 128));
  EXPECT_EQ(target.pixel(2, 0), MakeRgb(192, 192, 192));
  Bitmap wrongSize = Filled(2, 1, 0);
  EXPECT_FALSE(DrawIntoPalette(wrongSize, target));
}

// -------------------------------------- vector kernels against plain rules
//
// The filters run vector code picked for the processor; each instruction set
// the machine supports is forced in turn and checked against the rules
// worked out pixel by pixel, over every 24-bit colour and over widths that
// leave a few pixels beyond the last whole vector.

// Runs `check(target name)` with the kernels forced to each instruction set.
void ForEachInstructionSet(const std::function<void(const std::string&)>& check) {
  for (const std::int64_t target : hwy::SupportedAndGeneratedTargets()) {
    hwy::SetSupportedTargetsForTest(target);
    check(hwy::TargetName(target));
  }
  hwy::SetSupportedTargetsForTest(0);
}

std::uint8_t Clamped(int v) { return static_cast<std::uint8_t>(std::clamp(v, 0, 255)); }

// The nearest palette entry by the rule: squared distance, the first entry
// wins ties.
int NearestByRule(const std::vector<Rgb>& palette, int r, int g, int b) {
  const Rgb* entry = palette.data();
  int best = 0, bestDistance = 1 << 30;
  for (int i = 0; i < static_cast<int>(palette.size()); ++i) {
    const int dr = r - int(entry[i] >> 16), dg = g - int((entry[i] >> 8) & 0xFF),
              db = b - int(entry[i] & 0xFF);
    const int distance = dr * dr + dg * dg + db * db;
    if (distance < bestDistance) best = i, bestDistance = distance;
  }
  return best;
}

// A copy through memcpy: the exhaustive pictures are large, and element by
// element copies and comparisons of their storage are slow in unoptimised
// (sanitizer) builds.
Bitmap CopyOf(const Bitmap& source) {
  Bitmap out;
  out.allocate(source.width(), source.height(), source.format());
  out.setPalette(source.palette());
  std::memcpy(out.bits(), source.bits(), source.byteSize());
  return out;
}

bool Same(const Bitmap& a, const Bitmap& b) {
  return a.width() == b.width() && a.height() == b.height() && a.format() == b.format() &&
         a.palette() == b.palette() && a.byteSize() == b.byteSize() &&
         std::memcmp(a.bits(), b.bits(), a.byteSize()) == 0;
}

// What each filter must give for one full-colour picture, worked out pixel
// by pixel with plain arithmetic.
struct Expectations {
  Bitmap sepia, sepiaInPlace, mono, sixteen, view;
};

Expectations ExpectedFor(const Bitmap& source) {
  const int w = source.width(), h = source.height();
  const int step = source.format() == PixelFormat::Bgrx32 ? 4 : 3;
  Expectations e;
  e.sepia.allocate(w, h, PixelFormat::Bgr24);
  e.mono.allocate(w, h, PixelFormat::Indexed1);
  e.mono.setPalette(MonoPalette());
  e.sixteen.allocate(w, h, PixelFormat::Indexed4);
  e.sixteen.setPalette(StandardPalette16());
  e.view = step == 4 ? CopyOf(source) : Bitmap();  // 32-bit pixels stay as they are
  if (step == 3) e.view.allocate(w, h, PixelFormat::Bgrx32);
  for (int y = 0; y < h; ++y) {
    const std::uint8_t* s = source.row(y);
    std::uint8_t* sepia = e.sepia.row(y);
    std::uint8_t* mono = e.mono.row(y);
    std::uint8_t* sixteen = e.sixteen.row(y);
    std::uint8_t* view = e.view.row(y);
    for (int x = 0; x < w; ++x, s += step, sepia += 3) {
      const int b = s[0], g = s[1], r = s[2];
      const int luma = (114 * b + 587 * g + 299 * r) / 1000;
      sepia[0] = Clamped(luma - 35), sepia[1] = Clamped(luma + 13), sepia[2] = Clamped(luma + 22);
      mono[x / 8] |= NearestByRule(MonoPalette(), r, g, b) << (7 - x % 8);
      sixteen[x / 2] |= NearestByRule(StandardPalette16(), r, g, b) << (x % 2 ? 0 : 4);
      if (step == 3) view[4 * x] = s[0], view[4 * x + 1] = s[1], view[4 * x + 2] = s[2];
    }
  }
  // In place, 32-bit pixels keep their format and fourth byte.
  e.sepiaInPlace = CopyOf(step == 3 ? e.sepia : source);
  if (step == 4)
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x)
        std::memcpy(e.sepiaInPlace.row(y) + 4 * x, e.sepia.row(y) + 3 * x, 3);
  return e;
}

// Where two same-sized pictures first differ, for the failure message.
std::string FirstDifference(const Bitmap& a, const Bitmap& b) {
  if (a.width() != b.width() || a.height() != b.height() || a.format() != b.format())
    return "size or format";
  for (int y = 0; y < a.height(); ++y)
    if (std::memcmp(a.row(y), b.row(y), a.stride()) != 0)
      for (int x = 0; x < a.width(); ++x)
        if (a.pixel(x, y) != b.pixel(x, y) ||
            (a.format() == PixelFormat::Bgrx32 && a.row(y)[4 * x + 3] != b.row(y)[4 * x + 3]))
          return "pixel " + std::to_string(x) + "," + std::to_string(y);
  return a.palette() != b.palette() ? "palette" : "row padding";
}

// Each filter over one picture against its rule, in place and into a new
// picture, under every instruction set. The in-place picture and the view are
// made once and written over by each run (the view poisoned first).
void CheckFiltersAgainstRules(const Bitmap& source, const Expectations& expected) {
  Bitmap inPlace = CopyOf(source), view;
  ForEachInstructionSet([&](const std::string& target) {
    const std::string where = target + ", " + std::to_string(source.width()) + " wide, " +
                              std::to_string(BitsPerPixel(source.format())) + "-bit: ";
    Bitmap out;
    ASSERT_TRUE(SepiaTone(source, out));
    ASSERT_TRUE(Same(out, expected.sepia))
        << where << "sepia at " << FirstDifference(out, expected.sepia);
    std::memcpy(inPlace.bits(), source.bits(), source.byteSize());
    ASSERT_TRUE(SepiaTone(inPlace));
    ASSERT_TRUE(Same(inPlace, expected.sepiaInPlace))
        << where << "sepia in place at " << FirstDifference(inPlace, expected.sepiaInPlace);
    ASSERT_TRUE(ReduceToMono(source, out));
    ASSERT_TRUE(Same(out, expected.mono))
        << where << "2 colours at " << FirstDifference(out, expected.mono);
    ASSERT_TRUE(ReduceTo16Colours(source, out));
    ASSERT_TRUE(Same(out, expected.sixteen))
        << where << "16 colours at " << FirstDifference(out, expected.sixteen);
    if (!view.empty()) std::memset(view.bits(), 0xEE, view.byteSize());
    ASSERT_TRUE(ConvertToBgrx32(source, view));
    ASSERT_TRUE(Same(view, expected.view))
        << where << "view at " << FirstDifference(view, expected.view);
  });
}

// Every 24-bit colour once, in one 4096 x 4096 picture; the 32-bit copy has
// varied fourth bytes, which no result may depend on and in-place sepia keeps.
TEST(VectorKernels, EveryColourFollowsTheRules) {
  Bitmap all;
  ASSERT_TRUE(all.allocate(4096, 4096, PixelFormat::Bgr24));
  for (int y = 0; y < 4096; ++y)
    for (int x = 0; x < 4096; ++x) {
      std::uint8_t* p = all.row(y) + 3 * x;
      p[0] = static_cast<std::uint8_t>(x), p[1] = static_cast<std::uint8_t>((y << 4) | (x >> 8));
      p[2] = static_cast<std::uint8_t>(y >> 4);
    }
  Expectations expected = ExpectedFor(all);
  CheckFiltersAgainstRules(all, expected);
  // The same colours in 32-bit pixels give the same results; in place and
  // as the view they keep their fourth bytes.
  Bitmap wide = CopyOf(expected.view);
  for (int y = 0; y < 4096; ++y)
    for (int x = 0; x < 4096; ++x) wide.row(y)[4 * x + 3] = static_cast<std::uint8_t>(x * 7 + y);
  all.clear();
  expected.view = CopyOf(wide);
  expected.sepiaInPlace = CopyOf(wide);
  for (int y = 0; y < 4096; ++y)
    for (int x = 0; x < 4096; ++x)
      std::memcpy(expected.sepiaInPlace.row(y) + 4 * x, expected.sepia.row(y) + 3 * x, 3);
  CheckFiltersAgainstRules(wide, expected);
}

// Widths that end part-way through a vector of every instruction set.
TEST(VectorKernels, OddWidthsFollowTheRulesToTheLastPixel) {
  for (int width : {1, 7, 33, 65}) {
    for (PixelFormat format : {PixelFormat::Bgr24, PixelFormat::Bgrx32}) {
      Bitmap source = Random(width, 3, format, 17 + width);
      if (format == PixelFormat::Bgrx32)
        for (int y = 0; y < source.height(); ++y)
          for (int x = 0; x < width; ++x)
            source.row(y)[4 * x + 3] = static_cast<std::uint8_t>(x + 1);
      CheckFiltersAgainstRules(source, ExpectedFor(source));
    }
  }
}

// The mosaic's block sums against sums worked out pixel by pixel, over
// random sizes, areas (some beyond the picture) and block sizes, including
// blocks taller than the 257 rows a 16-bit column sum can hold (of bright
// pixels, whose sums would overflow it).
TEST(VectorKernels, MosaicMatchesBlockAveragesOverRandomAreas) {
  std::mt19937 random(23);
  const auto pick = [&](int low, int high) {
    return std::uniform_int_distribution<int>(low, high)(random);
  };
  struct Case {
    int width, height, left, top, right, bottom, n;
  };
  // Fixed cases first: blocks taller than a column sum holds, and a picture
  // large enough to be worked in bands with rows above and below the area.
  std::vector<Case> cases = {{19, 600, 0, 0, 19, 600, 300},
                             {5, 530, 1, 3, 4, 529, 520},
                             {801, 500, 13, 101, 790, 333, 8},
                             {700, 400, 0, 0, 0, 400, 4}};
  for (int i = 0; i < 24; ++i) {
    const int w = pick(1, 90), h = pick(1, 40);
    const int left = pick(-5, w - 1), top = pick(-5, h - 1);
    cases.push_back({w, h, left, top, pick(left + 1, w + 5), pick(top + 1, h + 5),
                     std::vector<int>{1, 2, 3, 5, 8, 13, 64}[i % 7]});
  }
  ForEachInstructionSet([&](const std::string& target) {
    for (const Case& c : cases) {
      for (PixelFormat format : {PixelFormat::Bgr24, PixelFormat::Bgrx32}) {
        Bitmap source = Random(c.width, c.height, format, c.width * 131 + c.n);
        if (c.n > 257)
          for (int y = 0; y < c.height; ++y)
            for (int x = 0; x < c.width; ++x) source.setPixel(x, y, source.pixel(x, y) | 0xF0F0F0);
        Bitmap expected = source;
        const int left = std::max(c.left, 0), top = std::max(c.top, 0);
        const int right = std::min(c.right, c.width), bottom = std::min(c.bottom, c.height);
        for (int y0 = top; y0 < bottom; y0 += c.n)
          for (int x0 = left; x0 < right; x0 += c.n) {
            const int x1 = std::min(x0 + c.n, right), y1 = std::min(y0 + c.n, bottom);
            const Rgb average = Average(source, x0, y0, x1, y1);
            for (int y = y0; y < y1; ++y)
              for (int x = x0; x < x1; ++x) expected.setPixel(x, y, average);
          }
        if (format == PixelFormat::Bgrx32) expected = WithFourthBytes(expected, source);
        const auto where = [&](const Bitmap& b) {
          return target + ": " + std::to_string(c.width) + "x" + std::to_string(c.height) +
                 " area (" + std::to_string(c.left) + "," + std::to_string(c.top) + ")-(" +
                 std::to_string(c.right) + "," + std::to_string(c.bottom) + ") n " +
                 std::to_string(c.n) + ", " + std::to_string(BitsPerPixel(format)) + "-bit at " +
                 FirstDifference(b, expected);
        };
        Bitmap b = source;
        ASSERT_TRUE(Mosaic(b, c.left, c.top, c.right, c.bottom, c.n));
        ASSERT_EQ(b, expected) << where(b);
        // Into a new picture: the pixels outside the area come along too.
        Bitmap out = Random(2, 2);
        ASSERT_TRUE(Mosaic(source, out, c.left, c.top, c.right, c.bottom, c.n));
        ASSERT_EQ(out, expected) << "into new, " << where(out);
        // On the view, with the new picture made from it in the same pass.
        Bitmap view, shown;
        ASSERT_TRUE(ConvertToBgrx32(source, view));
        ASSERT_TRUE(ConvertToBgrx32(expected, shown));
        out = Random(2, 2);
        ASSERT_TRUE(MosaicShownPicture(view, out, format, c.left, c.top, c.right, c.bottom, c.n));
        ASSERT_EQ(out, expected) << "from the view, " << where(out);
        ASSERT_EQ(view, shown) << "view, " << where(out) << ", view at "
                               << FirstDifference(view, shown);
      }
    }
  });
}

// ---------------------------------------------------------- view conversion

TEST(ViewConversion, EveryFormatBecomesThirtyTwoBitPixelsInPlaceWhenTheSizeFits) {
  std::vector<Bitmap> sources;
  for (PixelFormat format : {PixelFormat::Indexed1, PixelFormat::Indexed4, PixelFormat::Indexed8,
                             PixelFormat::Bgr24, PixelFormat::Bgrx32}) {
    Bitmap b = Random(37, 5, PixelFormat::Bgr24, 29);
    if (IsIndexed(format)) {
      // A palette shorter than the format allows: higher indices show black.
      std::vector<Rgb> palette;
      for (int i = 0; i < (1 << BitsPerPixel(format)) - 1; ++i)
        palette.push_back(MakeRgb(i * 37, 255 - i, i * 11));
      ASSERT_TRUE(b.convertToIndexed(format, palette));
      for (int y = 0; y < b.height(); ++y)
        for (int x = 0; x < b.width(); x += 5) b.setIndex(x, y, (1 << BitsPerPixel(format)) - 1);
    } else if (format == PixelFormat::Bgrx32) {
      b = Random(37, 5, format, 31);
      b.row(2)[7] = 0x5A;  // a fourth byte, copied as it is
    }
    sources.push_back(std::move(b));
  }
  ForEachInstructionSet([&](const std::string& target) {
    for (const Bitmap& source : sources) {
      const auto name = [&] {
        return target + " " + std::to_string(BitsPerPixel(source.format()));
      };
      Bitmap expected;
      if (source.format() == PixelFormat::Bgrx32) {
        expected = source;
      } else {
        expected.allocate(source.width(), source.height(), PixelFormat::Bgrx32);
        for (int y = 0; y < source.height(); ++y)
          for (int x = 0; x < source.width(); ++x) expected.setPixel(x, y, source.pixel(x, y));
      }
      Bitmap fresh;
      ASSERT_TRUE(ConvertToBgrx32(source, fresh)) << name();
      ASSERT_EQ(fresh, expected) << name() << " at " << FirstDifference(fresh, expected);
      // A view of the same size, or turned, is written over where it is,
      // junk and all.
      for (const auto& [width, height] : {std::pair(37, 5), std::pair(5, 37)}) {
        Bitmap view = Random(width, height, PixelFormat::Bgrx32, 3);
        for (int y = 0; y < view.height(); ++y) std::memset(view.row(y), 0xEE, view.stride());
        const std::uint8_t* storage = view.bits();
        ASSERT_TRUE(ConvertToBgrx32(source, view)) << name();
        EXPECT_EQ(view.bits(), storage) << name();
        ASSERT_EQ(view, expected) << name() << " at " << FirstDifference(view, expected);
      }
      // Another size or format is replaced.
      Bitmap other = Random(36, 5, PixelFormat::Bgrx32);
      ASSERT_TRUE(ConvertToBgrx32(source, other)) << name();
      EXPECT_EQ(other, expected) << name();
    }
  });
  Bitmap view = Random(4, 4, PixelFormat::Bgrx32);
  const Bitmap before = view;
  EXPECT_FALSE(ConvertToBgrx32(Bitmap(), view));
  EXPECT_EQ(view, before);
}

}  // namespace
}  // namespace lumivore
