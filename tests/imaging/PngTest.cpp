// The PNG writer: lossless on real screenshots, and each picture stored in
// the smallest colour type that holds it (palette, grey or RGB).
#include <gtest/gtest.h>
#include <png.h>

#include <algorithm>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "imaging/Usr_wic.h"

namespace lumivore {
namespace {

using Bytes = std::vector<std::uint8_t>;

struct Header {
  int depth = 0;
  int colourType = -1;
  int paletteSize = 0;
};

// IHDR fields and the PLTE length, read straight from the bytes.
Header ReadHeader(const Bytes& png) {
  Header h;
  if (png.size() < 33) return h;
  h.depth = png[24];
  h.colourType = png[25];
  std::size_t pos = 8;
  while (pos + 8 <= png.size()) {
    const std::size_t length =
        (std::size_t(png[pos]) << 24) | (png[pos + 1] << 16) | (png[pos + 2] << 8) | png[pos + 3];
    if (std::string(png.begin() + pos + 4, png.begin() + pos + 8) == "PLTE") {
      h.paletteSize = static_cast<int>(length / 3);
    }
    pos += length + 12;
  }
  return h;
}

// Decodes with libpng's simplified reader (not our decoder) into a 24-bit bitmap.
bool ReferenceDecode(const Bytes& png, Bitmap& out) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_memory(&image, png.data(), png.size())) return false;
  image.format = PNG_FORMAT_BGR;
  if (!out.allocate(static_cast<int>(image.width), static_cast<int>(image.height),
                    PixelFormat::Bgr24)) {
    png_image_free(&image);
    return false;
  }
  return png_image_finish_read(&image, nullptr, out.bits(), static_cast<png_int_32>(out.stride()),
                               nullptr) != 0;
}

struct Census {
  std::size_t colours = 0;
  bool grey = true;
};
Census Count(const Bitmap& b) {
  std::set<Rgb> colours;
  Census c;
  for (int y = 0; y < b.height(); ++y) {
    for (int x = 0; x < b.width(); ++x) {
      const Rgb p = b.pixel(x, y);
      colours.insert(p);
      c.grey = c.grey && RedOf(p) == GreenOf(p) && GreenOf(p) == BlueOf(p);
    }
  }
  c.colours = colours.size();
  return c;
}

int PaletteDepthFor(std::size_t colours) {
  return colours <= 2 ? 1 : colours <= 4 ? 2 : colours <= 16 ? 4 : 8;
}

// Writes through the file path, which must give the same bytes as the
// in-memory encoder, and checks that both decoders read the picture back.
void ExpectLosslessPng(const Bitmap& picture, Bytes& encoded) {
  encoded.clear();
  ASSERT_TRUE(WicEncodeImage(".png", picture, 100, 0, 0, encoded));
  test::ScratchDir dir;
  const std::string path = dir.file("picture.png");
  ASSERT_TRUE(WicSaveImage(path, picture, 100, 0, 0));
  EXPECT_EQ(test::ReadFile(path), encoded) << "the saved file differs from the encoder's bytes";

  Bitmap expected = picture;
  expected.convertTo24();
  Bitmap loaded, reference;
  ASSERT_TRUE(WicLoadImage(path, loaded));
  EXPECT_TRUE(loaded == expected) << "our reader does not give the pixels back";
  ASSERT_TRUE(ReferenceDecode(encoded, reference));
  EXPECT_TRUE(reference == expected) << "libpng does not give the pixels back";
}

// ------------------------------------------------ screenshots of real clients

std::vector<std::string> CorpusFiles() {
  std::vector<std::string> files;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(LUMIVORE_CORPUS, error)) {
    if (entry.path().extension() == ".png") files.push_back(entry.path().string());
  }
  std::sort(files.begin(), files.end());
  return files;
}

class PngCorpus : public testing::TestWithParam<std::string> {};

TEST_P(PngCorpus, ReadsBackExactlyInTheSmallestColourType) {
  Bitmap picture;
  ASSERT_TRUE(WicLoadImage(GetParam(), picture));
  Bytes encoded;
  ExpectLosslessPng(picture, encoded);
  const Census census = Count(picture);
  const Header header = ReadHeader(encoded);
  if (census.colours > 256) {
    EXPECT_EQ(header.colourType, 2) << census.colours << " colours";
    EXPECT_EQ(header.depth, 8);
  } else if (census.grey) {
    EXPECT_EQ(header.colourType, 0) << census.colours << " greys";
    EXPECT_LE(header.depth, PaletteDepthFor(census.colours));
  } else {
    EXPECT_EQ(header.colourType, 3) << census.colours << " colours";
    EXPECT_EQ(header.depth, PaletteDepthFor(census.colours));
    EXPECT_EQ(header.paletteSize, static_cast<int>(census.colours));
  }
}

INSTANTIATE_TEST_SUITE_P(Screenshots, PngCorpus, testing::ValuesIn(CorpusFiles()),
                         [](const testing::TestParamInfo<std::string>& info) {
                           return std::filesystem::path(info.param).stem().string();
                         });

TEST(PngCorpus, HoldsPicturesOfEveryKind) {
  // Without these the table above would not reach every colour type.
  std::set<int> types;
  for (const std::string& file : CorpusFiles()) {
    Bitmap picture;
    Bytes encoded;
    ASSERT_TRUE(WicLoadImage(file, picture));
    ASSERT_TRUE(WicEncodeImage(".png", picture, 100, 0, 0, encoded));
    types.insert(ReadHeader(encoded).colourType);
  }
  EXPECT_EQ(types, (std::set<int>{0, 2, 3}));
}

TEST(PngCorpus, EachKindOfPictureGetsTheFilteringThatSuitsIt) {
  // Deflate finds repeated glyphs best in rows stored as they are; a photo
  // shrinks most with Up on every row, whose output repeats from row to row;
  // drawn widgets with gradients take a filter per row.
  struct Case {
    const char* name;
    std::set<int> filters;  // the one filter type of every row; empty: several types
  };
  for (const Case& c : {Case{"terminals", {0}}, Case{"photo", {2}}, Case{"dialog", {}}}) {
    Bitmap picture;
    Bytes encoded;
    ASSERT_TRUE(WicLoadImage(std::string(LUMIVORE_CORPUS) + "/" + c.name + ".png", picture));
    ASSERT_TRUE(WicEncodeImage(".png", picture, 100, 0, 0, encoded));
    const std::vector<int> filters = test::PngRowFilters(encoded);
    ASSERT_EQ(filters.size(), std::size_t(picture.height())) << c.name;
    const std::set<int> used(filters.begin(), filters.end());
    if (c.filters.empty()) {
      EXPECT_GT(used.size(), 1u) << c.name;
    } else {
      EXPECT_EQ(used, c.filters) << c.name;
    }
  }
}

// Rows made so that each of the five PNG filters gives the smallest output
// on some of them, after a row of noise each: every filter must be chosen
// and must undo exactly, in RGB (3 bytes to the left neighbour) and in grey
// (1 byte), over rows whose length is no multiple of the 32 bytes the
// filters work through at once.
TEST(PngFilters, EveryFilterIsChosenWhereItWinsAndUndoesExactly) {
  for (const bool rgb : {true, false}) {
    const int width = 301, height = 60, d = rgb ? 3 : 1;
    const std::size_t n = std::size_t(width) * d;
    std::vector<std::vector<std::uint8_t>> rows;
    std::uint32_t seed = 7;
    const auto noise = [&seed] {
      return static_cast<std::uint8_t>((seed = seed * 1664525u + 1013904223u) >> 24);
    };
    while (rows.size() + 6 <= std::size_t(height)) {
      std::vector<std::uint8_t> above(n), row(n);
      for (auto& v : above) v = noise();
      rows.push_back(above);
      // None: all zeros (Sub ties at zero; none is the first in order).
      rows.emplace_back(n, 0);
      // Sub: a steady ramp under the zeros.
      for (std::size_t i = 0; i < n; ++i) row[i] = static_cast<std::uint8_t>(i / d * 3);
      rows.push_back(row);
      // Up: the ramp plus one.
      for (auto& v : row) ++v;
      rows.push_back(row);
      // Average: each byte the floor of the mean of its left and upper neighbours.
      const std::vector<std::uint8_t> up = rows.back();
      for (std::size_t i = 0; i < n; ++i) {
        row[i] = static_cast<std::uint8_t>(
            ((i >= std::size_t(d) ? row[i - d] : 0) + up[i] + (i % 5 == 0 ? 7 : 0)) >> 1);
      }
      rows.push_back(row);
      // Paeth: each byte its Paeth prediction, over noise above.
      std::vector<std::uint8_t> upper(n);
      for (auto& v : upper) v = noise();
      rows.push_back(upper);
      for (std::size_t i = 0; i < n; ++i) {
        const int a = i >= std::size_t(d) ? row[i - d] : 0, b = upper[i],
                  c = i >= std::size_t(d) ? upper[i - d] : 0;
        const int pa = std::abs(b - c), pb = std::abs(a - c), pc = std::abs(a + b - 2 * c);
        row[i] = static_cast<std::uint8_t>(pa <= pb && pa <= pc ? a : pb <= pc ? b : c);
      }
      rows.push_back(row);
    }
    Bitmap picture;
    ASSERT_TRUE(picture.allocate(width, static_cast<int>(rows.size()), PixelFormat::Bgr24));
    for (int y = 0; y < picture.height(); ++y) {
      const std::uint8_t* v = rows[y].data();
      for (int x = 0; x < width; ++x, v += d) {
        picture.setPixel(x, y, rgb ? MakeRgb(v[0], v[1], v[2]) : MakeRgb(v[0], v[0], v[0]));
      }
    }
    Bytes encoded;
    ExpectLosslessPng(picture, encoded);
    EXPECT_EQ(ReadHeader(encoded).colourType, rgb ? 2 : 0);
    const std::vector<int> filters = test::PngRowFilters(encoded);
    EXPECT_EQ(std::set<int>(filters.begin(), filters.end()), (std::set<int>{0, 1, 2, 3, 4}))
        << (rgb ? "rgb" : "grey");
  }
}

// Gradients, edges and noise in RGB and in grey make the encoder use every
// row filter; each must undo exactly.
TEST(PngFilters, NoisyPicturesReadBackExactly) {
  Bitmap rgb = test::MakePattern(301, 97);
  Bitmap padded = test::MakePattern(300, 64, PixelFormat::Bgrx32);
  Bitmap grey = rgb;
  ASSERT_TRUE(WicGrayScale(grey));
  for (const Bitmap* picture : {&rgb, &padded, &grey}) {
    Bytes encoded;
    ExpectLosslessPng(*picture, encoded);
    EXPECT_EQ(ReadHeader(encoded).colourType, picture == &grey ? 0 : 2);
  }
}

// ------------------------------------------------------ colour-type choice

struct LayoutCase {
  const char* name;
  std::vector<Rgb> colours;  // painted in stripes, in this order
  PixelFormat format;
  int colourType;
  int depth;
};

class PngLayout : public testing::TestWithParam<LayoutCase> {};

TEST_P(PngLayout, StoresThePictureExactly) {
  const LayoutCase& c = GetParam();
  // 37 wide: packed rows end in a partly used byte.
  Bitmap picture;
  ASSERT_TRUE(picture.allocate(37, 23, c.format));
  for (int y = 0; y < picture.height(); ++y) {
    for (int x = 0; x < picture.width(); ++x) {
      picture.setPixel(x, y, c.colours[(x * 7 + y * 3) % c.colours.size()]);
    }
  }
  Bytes encoded;
  ExpectLosslessPng(picture, encoded);
  const Header header = ReadHeader(encoded);
  EXPECT_EQ(header.colourType, c.colourType);
  EXPECT_EQ(header.depth, c.depth);
}

std::vector<Rgb> Colours(int count) {
  std::vector<Rgb> v;
  for (int i = 0; i < count; ++i) {
    v.push_back(MakeRgb(static_cast<std::uint8_t>(i * 37 % 256),
                        static_cast<std::uint8_t>(40 + i / 256 * 100), 90));
  }
  return v;
}
std::vector<Rgb> Greys(std::initializer_list<int> levels) {
  std::vector<Rgb> v;
  for (const int g : levels) {
    v.push_back(MakeRgb(static_cast<std::uint8_t>(g), static_cast<std::uint8_t>(g),
                        static_cast<std::uint8_t>(g)));
  }
  return v;
}

constexpr PixelFormat k24 = PixelFormat::Bgr24, k32 = PixelFormat::Bgrx32;

INSTANTIATE_TEST_SUITE_P(
    Pictures, PngLayout,
    testing::Values(LayoutCase{"one_colour", Colours(1), k24, 3, 1},
                    LayoutCase{"two_colours", Colours(2), k24, 3, 1},
                    LayoutCase{"four_colours", Colours(4), k32, 3, 2},
                    LayoutCase{"five_colours", Colours(5), k24, 3, 4},
                    LayoutCase{"sixteen_colours", Colours(16), k24, 3, 4},
                    LayoutCase{"seventeen_colours", Colours(17), k24, 3, 8},
                    LayoutCase{"256_colours", Colours(256), k32, 3, 8},
                    LayoutCase{"257_colours", Colours(257), k24, 2, 8},
                    LayoutCase{"black_and_white", Greys({0, 255}), k24, 0, 1},
                    LayoutCase{"greys_of_two_bits", Greys({0, 85, 170, 255}), k24, 0, 2},
                    LayoutCase{"greys_of_four_bits", Greys({0, 17, 34, 119, 255}), k32, 0, 4},
                    // Three greys that two bits of grey cannot hold: a palette
                    // of two bits beats eight bits of grey.
                    LayoutCase{"three_odd_greys", Greys({0, 128, 255}), k24, 3, 2},
                    LayoutCase{
                        "many_greys",
                        Greys({0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 200}), k24,
                        0, 8}),
    [](const testing::TestParamInfo<LayoutCase>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace lumivore
