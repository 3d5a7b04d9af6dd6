// Saving: the extension rule, every container with every pixel format read
// back, the encoder options checked in the written files, and the promise
// that a failed save never harms an existing file.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <tiffio.h>
#include <unistd.h>

#include <csetjmp>
#include <cstdio>

#include "TestSupport.h"
#include "imaging/Codec.h"
#include "imaging/Usr_wic.h"
#include "tests/OrdinaryUser.h"

// jpeglib.h needs size_t and FILE declared first.
#include <jpeglib.h>

namespace lumivore {
namespace {

using codec::FileFormat;
using test::Bytes;

FileFormat FormatOfFile(const std::string& path) {
  const auto data = test::ReadFile(path);
  if (!data) return FileFormat::Unknown;
  return codec::DetectFormat({data->data(), data->size()});
}

std::vector<Rgb> TestPalette(int entries) {
  std::vector<Rgb> p;
  for (int i = 0; i < entries; ++i) {
    p.push_back(MakeRgb(static_cast<std::uint8_t>(i * 53), static_cast<std::uint8_t>(255 - i * 17),
                        static_cast<std::uint8_t>(i * 101)));
  }
  return p;
}

Bitmap MakePicture(PixelFormat format, int width = 37, int height = 23) {
  if (!IsIndexed(format)) return test::MakePattern(width, height, format);
  Bitmap b;
  b.allocate(width, height, format);
  const int colours = 1 << BitsPerPixel(format);
  b.setPalette(TestPalette(colours));
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) b.setIndex(x, y, (x / 6 + y / 4 * 3) % colours);
  }
  return b;
}

// Counts the colours in a 24-bit bitmap (capped).
std::size_t CountColours(const Bitmap& b) {
  std::vector<Rgb> seen;
  for (int y = 0; y < b.height(); ++y) {
    for (int x = 0; x < b.width(); ++x) {
      const Rgb c = b.pixel(x, y);
      if (std::find(seen.begin(), seen.end(), c) == seen.end()) seen.push_back(c);
      if (seen.size() > 300) return seen.size();
    }
  }
  return seen.size();
}

// Mean absolute channel difference over the columns left of `columns`.
double MeanError(const Bitmap& a, const Bitmap& b, int columns = 1 << 30) {
  double total = 0;
  columns = std::min(columns, a.width());
  for (int y = 0; y < a.height(); ++y) {
    for (int x = 0; x < columns; ++x) {
      const Rgb p = a.pixel(x, y), q = b.pixel(x, y);
      total += std::abs(RedOf(p) - RedOf(q)) + std::abs(GreenOf(p) - GreenOf(q)) +
               std::abs(BlueOf(p) - BlueOf(q));
    }
  }
  return total / (3.0 * columns * a.height());
}

// --------------------------------------------------------- extension rule

struct ExtensionCase {
  const char* name;
  FileFormat format;  // Unknown: the save fails and creates nothing
};

class SaveExtension : public testing::TestWithParam<ExtensionCase> {};

TEST_P(SaveExtension, ChoosesContainerByLastExtension) {
  const ExtensionCase& c = GetParam();
  test::ScratchDir dir;
  const std::string path = dir.file(c.name);
  const bool saved = WicSaveImage(path, test::MakePattern(8, 6), 90, 0, 0);
  if (c.format == FileFormat::Unknown) {
    EXPECT_FALSE(saved);
    EXPECT_TRUE(test::ListDir(dir.path()).empty()) << "a refused name touched the disk";
  } else {
    ASSERT_TRUE(saved);
    EXPECT_EQ(FormatOfFile(path), c.format);
    EXPECT_EQ(test::ListDir(dir.path()).size(), 1u) << "temporary file left behind";
  }
}

INSTANTIATE_TEST_SUITE_P(
    Names, SaveExtension,
    testing::Values(
        ExtensionCase{"a.bmp", FileFormat::Bmp}, ExtensionCase{"a.JPG", FileFormat::Jpeg},
        ExtensionCase{"a.jpeg", FileFormat::Jpeg}, ExtensionCase{"a.Jpe", FileFormat::Jpeg},
        ExtensionCase{"a.jp", FileFormat::Jpeg}, ExtensionCase{"a.j", FileFormat::Jpeg},
        ExtensionCase{"a.png", FileFormat::Png}, ExtensionCase{"a.p", FileFormat::Png},
        ExtensionCase{"a.gif", FileFormat::Gif}, ExtensionCase{"a.g", FileFormat::Gif},
        ExtensionCase{"a.b", FileFormat::Bmp}, ExtensionCase{"a.tif", FileFormat::Tiff},
        ExtensionCase{"a.t", FileFormat::Tiff}, ExtensionCase{"a.wdp", FileFormat::Jxr},
        ExtensionCase{"a.HDP", FileFormat::Jxr}, ExtensionCase{"a.h", FileFormat::Jxr},
        ExtensionCase{"a.w", FileFormat::Jxr}, ExtensionCase{"dot.only.", FileFormat::Bmp},
        ExtensionCase{"two.png.jpg", FileFormat::Jpeg},
        ExtensionCase{"a.tiff", FileFormat::Unknown}, ExtensionCase{"a.jfif", FileFormat::Unknown},
        ExtensionCase{"a.ico", FileFormat::Unknown},
        ExtensionCase{"noextension", FileFormat::Unknown},
        ExtensionCase{"a.pn g", FileFormat::Unknown}),
    [](const testing::TestParamInfo<ExtensionCase>& info) {
      std::string n = info.param.name;
      for (char& ch : n) {
        if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
      }
      return n;
    });

TEST(Save, DotInFolderNameDoesNotCount) {
  test::ScratchDir dir;
  ASSERT_EQ(::mkdir(dir.file("pics.jpg").c_str(), 0755), 0);
  EXPECT_FALSE(WicSaveImage(dir.file("pics.jpg/shot"), test::MakePattern(4, 4), 90, 0, 0));
  EXPECT_TRUE(test::ListDir(dir.file("pics.jpg")).empty());
}

TEST(Save, FolderNamedLikeAnImageIsRefusedAndKept) {
  test::ScratchDir dir;
  const std::string folder = dir.file("x.jpg");
  ASSERT_EQ(::mkdir(folder.c_str(), 0755), 0);
  ASSERT_TRUE(test::WriteFile(folder + "/inside", {1, 2, 3}));
  EXPECT_FALSE(WicSaveImage(folder, test::MakePattern(4, 4), 90, 0, 0));
  struct stat st {};
  ASSERT_EQ(::stat(folder.c_str(), &st), 0);
  EXPECT_TRUE(S_ISDIR(st.st_mode));
  EXPECT_EQ(test::ListDir(folder), std::vector<std::string>{"inside"});
  EXPECT_EQ(test::ListDir(dir.path()), std::vector<std::string>{"x.jpg"});
}

TEST(Save, EmptyBitmapFails) {
  test::ScratchDir dir;
  EXPECT_FALSE(WicSaveImage(dir.file("a.png"), Bitmap(), 90, 0, 0));
  EXPECT_TRUE(test::ListDir(dir.path()).empty());
}

// What the clipboard offers is byte for byte what a saved file holds.
TEST(Save, EncodingInMemoryGivesTheBytesOfTheFile) {
  test::ScratchDir dir;
  const Bitmap picture = MakePicture(PixelFormat::Bgr24);
  for (const char* name : {"a.bmp", "a.jpg", "a.png", "a.gif", "a.tif", "a.wdp"}) {
    Bytes encoded;
    ASSERT_TRUE(WicEncodeImage(name, picture, 90, 0, 0, encoded)) << name;
    ASSERT_TRUE(WicSaveImage(dir.file(name), picture, 90, 0, 0)) << name;
    EXPECT_EQ(test::ReadFile(dir.file(name)), encoded) << name;
  }
  Bytes encoded;
  EXPECT_TRUE(WicEncodeImage(".png", picture, 100, 0, 0, encoded));
  EXPECT_EQ(codec::DetectFormat({encoded.data(), encoded.size()}), FileFormat::Png);
  EXPECT_FALSE(WicEncodeImage("a.tiff", picture, 100, 0, 0, encoded));
  EXPECT_FALSE(WicEncodeImage(".png", Bitmap(), 100, 0, 0, encoded));
  EXPECT_EQ(test::ListDir(dir.path()).size(), 6u);
}

// ------------------------------------------------------------ round trips

struct RoundTripCase {
  const char* extension;
  PixelFormat format;
  bool lossless;
  int paletteBits;  // bits per pixel of the palette kept in the file; 0: none
};

class SaveRoundTrip : public testing::TestWithParam<RoundTripCase> {};

int StoredPaletteBits(const std::string& path, FileFormat format) {
  const auto data = test::ReadFile(path);
  if (!data) return -1;
  const Bytes& d = *data;
  switch (format) {
    case FileFormat::Bmp:
      return d[28] <= 8 ? d[28] : 0;
    case FileFormat::Png:
      return d[25] == 3 ? d[24] : 0;  // IHDR colour type 3: palette
    case FileFormat::Tiff: {
      TIFF* tif = TIFFOpen(path.c_str(), "r");
      if (!tif) return -1;
      std::uint16_t photometric = 0, bits = 0;
      TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &photometric);
      TIFFGetField(tif, TIFFTAG_BITSPERSAMPLE, &bits);
      TIFFClose(tif);
      return photometric == PHOTOMETRIC_PALETTE ? bits : 0;
    }
    case FileFormat::Gif:
      return (d[10] & 0x80) ? (d[10] & 7) + 1 : 0;  // global colour table size
    default:
      return 0;
  }
}

TEST_P(SaveRoundTrip, ReadsBackWhatWasWritten) {
  const RoundTripCase& c = GetParam();
  test::ScratchDir dir;
  const std::string path = dir.file(std::string("picture") + c.extension);
  const Bitmap source = MakePicture(c.format);
  const Bitmap copy = source;
  ASSERT_TRUE(WicSaveImage(path, source, 100, 0, 0));
  EXPECT_EQ(source, copy) << "the source bitmap was changed";
  Bitmap loaded;
  ASSERT_TRUE(WicLoadImage(path, loaded));
  ASSERT_EQ(loaded.format(), PixelFormat::Bgr24);
  ASSERT_EQ(loaded.width(), source.width());
  ASSERT_EQ(loaded.height(), source.height());
  Bitmap expected = source;
  expected.convertTo24();
  if (c.lossless) {
    EXPECT_EQ(loaded, expected);
  } else {
    // The pattern's right third is noise, which chroma subsampling and a
    // 256-colour palette cannot hold, and 4:2:0 smears saturated colour
    // edges; still, a swapped channel or shifted row would be far beyond this.
    EXPECT_LT(MeanError(loaded, expected, source.width() * 2 / 3), 16.0);
  }
  const FileFormat format = FormatOfFile(path);
  if (c.paletteBits > 0) {
    EXPECT_EQ(StoredPaletteBits(path, format), c.paletteBits) << "palette not kept";
  }
  if (format == FileFormat::Png) {
    // What keeps our files small: palette rows are never filtered, since
    // filtering indices only hurts compression; full-colour rows are
    // filtered where a trial shows it pays, and on this picture of gradients
    // and noise every row is better predicted than stored as it is.
    const std::vector<int> filters = test::PngRowFilters(*test::ReadFile(path));
    ASSERT_EQ(filters.size(), std::size_t(source.height()));
    for (std::size_t y = 0; y < filters.size(); ++y) {
      EXPECT_LE(filters[y], 4) << "row " << y;
      EXPECT_EQ(filters[y] == 0, c.paletteBits > 0) << "row " << y << " filter " << filters[y];
    }
  }
}

constexpr PixelFormat k1 = PixelFormat::Indexed1, k4 = PixelFormat::Indexed4,
                      k8 = PixelFormat::Indexed8, k24 = PixelFormat::Bgr24,
                      k32 = PixelFormat::Bgrx32;

INSTANTIATE_TEST_SUITE_P(
    Containers, SaveRoundTrip,
    testing::Values(RoundTripCase{".bmp", k1, true, 1}, RoundTripCase{".bmp", k4, true, 4},
                    RoundTripCase{".bmp", k8, true, 8}, RoundTripCase{".bmp", k24, true, 0},
                    RoundTripCase{".bmp", k32, true, 0}, RoundTripCase{".png", k1, true, 1},
                    RoundTripCase{".png", k4, true, 4}, RoundTripCase{".png", k8, true, 8},
                    RoundTripCase{".png", k24, true, 0}, RoundTripCase{".png", k32, true, 0},
                    RoundTripCase{".tif", k1, true, 1}, RoundTripCase{".tif", k4, true, 4},
                    RoundTripCase{".tif", k8, true, 8}, RoundTripCase{".tif", k24, true, 0},
                    RoundTripCase{".tif", k32, true, 0}, RoundTripCase{".gif", k1, true, 1},
                    RoundTripCase{".gif", k4, true, 4}, RoundTripCase{".gif", k8, true, 8},
                    // More than 256 colours: quantised, so only close.
                    RoundTripCase{".gif", k24, false, 8}, RoundTripCase{".gif", k32, false, 8},
                    RoundTripCase{".jpg", k1, false, 0}, RoundTripCase{".jpg", k8, false, 0},
                    RoundTripCase{".jpg", k24, false, 0}, RoundTripCase{".jpg", k32, false, 0},
                    // Quality 100 is lossless JPEG XR.
                    RoundTripCase{".wdp", k1, true, 0}, RoundTripCase{".wdp", k8, true, 0},
                    RoundTripCase{".wdp", k24, true, 0}, RoundTripCase{".wdp", k32, true, 0}),
    [](const testing::TestParamInfo<RoundTripCase>& info) {
      return std::string(info.param.extension + 1) + "_" +
             std::to_string(BitsPerPixel(info.param.format));
    });

TEST(Save, GifOfFewColoursIsExact) {
  // A screenshot-like picture with fewer than 256 colours gets an exact palette.
  Bitmap b;
  ASSERT_TRUE(b.allocate(40, 30, PixelFormat::Bgr24));
  for (int y = 0; y < 30; ++y) {
    for (int x = 0; x < 40; ++x)
      b.setPixel(x, y,
                 MakeRgb(static_cast<std::uint8_t>(x / 4 * 25),
                         static_cast<std::uint8_t>(y / 3 * 25), 77));
  }
  ASSERT_LE(CountColours(b), 256u);
  test::ScratchDir dir;
  ASSERT_TRUE(WicSaveImage(dir.file("a.gif"), b, 100, 0, 0));
  Bitmap loaded;
  ASSERT_TRUE(WicLoadImage(dir.file("a.gif"), loaded));
  EXPECT_EQ(loaded, b);
}

TEST(Save, GifOfManyColoursIsQuantisedToAFullPalette) {
  const Bitmap b = test::MakePattern(64, 48);
  ASSERT_GT(CountColours(b), 256u);
  test::ScratchDir dir;
  ASSERT_TRUE(WicSaveImage(dir.file("a.gif"), b, 100, 0, 0));
  Bitmap loaded;
  ASSERT_TRUE(WicLoadImage(dir.file("a.gif"), loaded));
  EXPECT_GT(CountColours(loaded), 64u) << "the quantiser used too few colours";
  EXPECT_LE(CountColours(loaded), 256u);
  EXPECT_LT(MeanError(loaded, b), 12.0);
}

TEST(Save, GifOfManyColoursIsAsCloseAsImageMagicks) {
  // A photo and anti-aliased text are where the colour choice shows.
  const std::string root = test::TestDataRoot();
  if (root.empty()) GTEST_SKIP() << "the image suites are not installed";
  test::ScratchDir dir;
  for (const char* name : {"jpeg/testorig.jpg", "pngsuite/basn2c16.png"}) {
    Bitmap source;
    ASSERT_TRUE(WicLoadImage(root + "/" + name, source)) << name;
    ASSERT_GT(CountColours(source), 256u) << name;
    ASSERT_TRUE(WicSaveImage(dir.file("ours.gif"), source, 100, 0, 0)) << name;
    if (!test::RunCommand("convert '" + root + "/" + name + "' -alpha off '" +
                          dir.file("magick.gif") + "' 2>/dev/null")) {
      GTEST_SKIP() << "ImageMagick's convert is not installed";
    }
    Bitmap ours, magick;
    ASSERT_TRUE(WicLoadImage(dir.file("ours.gif"), ours)) << name;
    ASSERT_TRUE(WicLoadImage(dir.file("magick.gif"), magick)) << name;
    EXPECT_LE(MeanError(ours, source), MeanError(magick, source)) << name;
  }
}

// ---------------------------------------------------------------- options

struct JpegHeader {
  int lumaH = 0, lumaV = 0, chromaH = 0, chromaV = 0;
};

struct JpegErrorJump {
  jpeg_error_mgr mgr;
  std::jmp_buf jump;
};

bool ReadJpegHeader(const std::string& path, JpegHeader& h) {
  const auto data = test::ReadFile(path);
  if (!data) return false;
  jpeg_decompress_struct info{};
  JpegErrorJump error{};
  info.err = jpeg_std_error(&error.mgr);
  error.mgr.error_exit = [](j_common_ptr i) {
    std::longjmp(reinterpret_cast<JpegErrorJump*>(i->err)->jump, 1);
  };
  if (setjmp(error.jump)) {
    jpeg_destroy_decompress(&info);
    return false;
  }
  jpeg_create_decompress(&info);
  jpeg_mem_src(&info, data->data(), data->size());
  jpeg_read_header(&info, TRUE);
  h = {info.comp_info[0].h_samp_factor, info.comp_info[0].v_samp_factor,
       info.comp_info[1].h_samp_factor, info.comp_info[1].v_samp_factor};
  jpeg_destroy_decompress(&info);
  return true;
}

struct SubsamplingCase {
  int argument;
  int lumaH, lumaV;  // chroma is always 1 x 1
};

class SaveJpegSubsampling : public testing::TestWithParam<SubsamplingCase> {};

TEST_P(SaveJpegSubsampling, WritesSamplingFactors) {
  const SubsamplingCase& c = GetParam();
  test::ScratchDir dir;
  ASSERT_TRUE(WicSaveImage(dir.file("a.jpg"), test::MakePattern(32, 16), 90, c.argument, 0));
  JpegHeader h;
  ASSERT_TRUE(ReadJpegHeader(dir.file("a.jpg"), h));
  EXPECT_EQ(h.lumaH, c.lumaH);
  EXPECT_EQ(h.lumaV, c.lumaV);
  EXPECT_EQ(h.chromaH, 1);
  EXPECT_EQ(h.chromaV, 1);
}

// 0 and values out of range keep the encoder default, 4:2:0.
INSTANTIATE_TEST_SUITE_P(Arguments, SaveJpegSubsampling,
                         testing::Values(SubsamplingCase{0, 2, 2}, SubsamplingCase{1, 2, 2},
                                         SubsamplingCase{2, 2, 1}, SubsamplingCase{3, 1, 1},
                                         SubsamplingCase{4, 2, 2}, SubsamplingCase{-1, 2, 2}));

TEST(Save, JpegQualityTradesSizeForError) {
  const Bitmap source = test::MakePattern(96, 64);
  test::ScratchDir dir;
  std::size_t lastSize = 0;
  double lastError = 1e9;
  for (int quality : {10, 50, 90, 100}) {
    const std::string path = dir.file("q" + std::to_string(quality) + ".jpg");
    ASSERT_TRUE(WicSaveImage(path, source, quality, 0, 0));
    Bitmap loaded;
    ASSERT_TRUE(WicLoadImage(path, loaded));
    const std::size_t size = test::ReadFile(path)->size();
    const double error = MeanError(loaded, source);
    EXPECT_GT(size, lastSize) << quality;
    EXPECT_LT(error, lastError) << quality;
    lastSize = size, lastError = error;
  }
  // Quality above 100 is 1.0, the same as 100.
  ASSERT_TRUE(WicSaveImage(dir.file("q250.jpg"), source, 250, 0, 0));
  EXPECT_EQ(test::ReadFile(dir.file("q250.jpg")), test::ReadFile(dir.file("q100.jpg")));
}

TEST(Save, WmpQualityBelowOneIsLossyAndSmaller) {
  const Bitmap source = test::MakePattern(96, 64);
  test::ScratchDir dir;
  ASSERT_TRUE(WicSaveImage(dir.file("q100.wdp"), source, 100, 0, 0));
  ASSERT_TRUE(WicSaveImage(dir.file("q50.wdp"), source, 50, 0, 0));
  EXPECT_LT(test::ReadFile(dir.file("q50.wdp"))->size(),
            test::ReadFile(dir.file("q100.wdp"))->size());
  Bitmap lossy;
  ASSERT_TRUE(WicLoadImage(dir.file("q50.wdp"), lossy));
  EXPECT_GT(MeanError(lossy, source), 0.0);
  EXPECT_LT(MeanError(lossy, source), 20.0);
}

TEST(Save, NegativeQualityIsRefusedForJpegAndWmpOnly) {
  test::ScratchDir dir;
  const Bitmap source = test::MakePattern(8, 8);
  EXPECT_FALSE(WicSaveImage(dir.file("a.jpg"), source, -1, 0, 0));
  EXPECT_FALSE(WicSaveImage(dir.file("a.wdp"), source, -1, 0, 0));
  EXPECT_TRUE(test::ListDir(dir.path()).empty());
  EXPECT_TRUE(WicSaveImage(dir.file("a.png"), source, -1, 0, 0));  // no quality option there
  // Quality 0 is allowed: the lowest quality.
  EXPECT_TRUE(WicSaveImage(dir.file("zero.jpg"), source, 0, 0, 0));
}

struct TiffCase {
  int argument;
  std::uint16_t compression;
  std::uint16_t predictor;
  std::uint16_t bits;  // of a 24-bit source
};

class SaveTiffCompression : public testing::TestWithParam<TiffCase> {};

TEST_P(SaveTiffCompression, WritesCompressionTag) {
  const TiffCase& c = GetParam();
  test::ScratchDir dir;
  const Bitmap source = test::MakePattern(40, 20);
  const std::string path = dir.file("a.tif");
  ASSERT_TRUE(WicSaveImage(path, source, 100, 0, c.argument));
  TIFF* tif = TIFFOpen(path.c_str(), "r");
  ASSERT_NE(tif, nullptr);
  std::uint16_t compression = 0, predictor = 0, bits = 0;
  TIFFGetFieldDefaulted(tif, TIFFTAG_COMPRESSION, &compression);
  if (!TIFFGetField(tif, TIFFTAG_PREDICTOR, &predictor)) predictor = PREDICTOR_NONE;
  TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &bits);
  TIFFClose(tif);
  EXPECT_EQ(compression, c.compression);
  EXPECT_EQ(predictor, c.predictor);
  EXPECT_EQ(bits, c.bits);
  Bitmap loaded;
  ASSERT_TRUE(WicLoadImage(path, loaded));
  if (c.bits == 8) {
    EXPECT_EQ(loaded, source);
    return;
  }
  // The fax schemes give black where the luminance is below half, else white.
  for (int y = 0; y < source.height(); ++y) {
    for (int x = 0; x < source.width(); ++x) {
      const Rgb s = source.pixel(x, y);
      const int luminance = (77 * RedOf(s) + 150 * GreenOf(s) + 29 * BlueOf(s) + 128) >> 8;
      ASSERT_EQ(loaded.pixel(x, y), luminance < 128 ? MakeRgb(0, 0, 0) : MakeRgb(255, 255, 255))
          << x << "," << y;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Arguments, SaveTiffCompression,
                         testing::Values(TiffCase{0, COMPRESSION_LZW, PREDICTOR_NONE, 8},
                                         TiffCase{1, COMPRESSION_NONE, PREDICTOR_NONE, 8},
                                         TiffCase{2, COMPRESSION_CCITTFAX3, PREDICTOR_NONE, 1},
                                         TiffCase{3, COMPRESSION_CCITTFAX4, PREDICTOR_NONE, 1},
                                         TiffCase{4, COMPRESSION_LZW, PREDICTOR_NONE, 8},
                                         TiffCase{5, COMPRESSION_CCITTRLE, PREDICTOR_NONE, 1},
                                         TiffCase{6, COMPRESSION_ADOBE_DEFLATE, PREDICTOR_NONE, 8},
                                         TiffCase{7, COMPRESSION_LZW, PREDICTOR_HORIZONTAL, 8},
                                         TiffCase{8, COMPRESSION_LZW, PREDICTOR_NONE, 8},
                                         TiffCase{-1, COMPRESSION_LZW, PREDICTOR_NONE, 8}));

// ------------------------------------------------------- failure safety

TEST(Save, FailedSaveKeepsExistingFileIntact) {
  test::ScratchDir dir;
  const std::string path = dir.file("keep.jpg");
  const Bytes original = {'o', 'l', 'd', ' ', 'd', 'a', 't', 'a'};
  ASSERT_TRUE(test::WriteFile(path, original));
  EXPECT_FALSE(WicSaveImage(path, test::MakePattern(16, 16), -5, 0, 0));
  EXPECT_EQ(test::ReadFile(path), original);
  EXPECT_EQ(test::ListDir(dir.path()), std::vector<std::string>{"keep.jpg"});
}

TEST(Save, NameNearTheFileSystemLimitIsWritten) {
  // 80 three-byte characters and ".png": 244 of the 255 bytes a name may have, so the
  // temporary file beside it cannot simply add to the name.
  test::ScratchDir dir;
  std::string name;
  for (int i = 0; i < 80; ++i) name += "\u753b";
  name += ".png";
  ASSERT_EQ(name.size(), 244u);
  const Bitmap source = test::MakePattern(8, 8);
  for (int round = 0; round < 2; ++round) {  // creating, then replacing
    ASSERT_TRUE(WicSaveImage(dir.file(name), source, 100, 0, 0)) << round;
  }
  Bitmap loaded;
  ASSERT_TRUE(WicLoadImage(dir.file(name), loaded));
  EXPECT_EQ(loaded, source);
  EXPECT_EQ(test::ListDir(dir.path()), std::vector<std::string>{name});
}

TEST(Save, ReplacingKeepsPermissionBits) {
  test::ScratchDir dir;
  const std::string path = dir.file("shared.png");
  ASSERT_TRUE(test::WriteFile(path, {1}));
  ASSERT_EQ(::chmod(path.c_str(), 0640), 0);
  ASSERT_TRUE(WicSaveImage(path, test::MakePattern(8, 8), 100, 0, 0));
  struct stat st {};
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
  EXPECT_EQ(FormatOfFile(path), FileFormat::Png);
}

TEST(Save, SymbolicLinkIsWrittenThrough) {
  test::ScratchDir dir;
  ASSERT_TRUE(test::WriteFile(dir.file("real.png"), {1}));
  ASSERT_EQ(::symlink("real.png", dir.file("link.png").c_str()), 0);
  ASSERT_TRUE(WicSaveImage(dir.file("link.png"), test::MakePattern(8, 8), 100, 0, 0));
  struct stat st {};
  ASSERT_EQ(::lstat(dir.file("link.png").c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode)) << "the link was replaced by a file";
  EXPECT_EQ(FormatOfFile(dir.file("real.png")), FileFormat::Png);
}

// "saved" or "refused", as an ordinary user: root may write anywhere. The
// scratch folder is opened to that user; what is locked stays locked.
std::string SaveAsOrdinaryUser(const test::ScratchDir& dir, const std::string& path) {
  EXPECT_EQ(::chmod(dir.path().c_str(), 0777), 0);
  return testutil::AsOrdinaryUser([&] {
           return WicSaveImage(path, test::MakePattern(8, 8), 100, 0, 0) ? "saved" : "refused";
         })
      .value_or("the save as an ordinary user did not finish");
}

TEST(Save, UnwritableFolderFailsCleanly) {
  test::ScratchDir dir;
  const std::string folder = dir.file("locked");
  ASSERT_EQ(::mkdir(folder.c_str(), 0555), 0);
  EXPECT_EQ(SaveAsOrdinaryUser(dir, folder + "/a.png"), "refused");
  EXPECT_TRUE(test::ListDir(folder).empty());
}

TEST(Save, ReadOnlyFileIsNotReplaced) {
  test::ScratchDir dir;
  const std::string path = dir.file("locked.png");
  ASSERT_TRUE(test::WriteFile(path, {7, 7}));
  ASSERT_EQ(::chmod(path.c_str(), 0444), 0);
  EXPECT_EQ(SaveAsOrdinaryUser(dir, path), "refused");
  EXPECT_EQ(test::ReadFile(path), (Bytes{7, 7}));
  EXPECT_EQ(test::ListDir(dir.path()), std::vector<std::string>{"locked.png"});
}

TEST(Save, MissingFolderFails) {
  test::ScratchDir dir;
  EXPECT_FALSE(WicSaveImage(dir.file("no/such/a.png"), test::MakePattern(8, 8), 100, 0, 0));
}

TEST(Save, DeviceTargetIsRefused) {
  // A full disk cannot be staged portably; a link to /dev/full (not a
  // regular file) must be refused rather than written or replaced.
  test::ScratchDir dir;
  ASSERT_EQ(::symlink("/dev/full", dir.file("full.bmp").c_str()), 0);
  EXPECT_FALSE(WicSaveImage(dir.file("full.bmp"), test::MakePattern(8, 8), 100, 0, 0));
  struct stat st {};
  ASSERT_EQ(::lstat(dir.file("full.bmp").c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
}

}  // namespace
}  // namespace lumivore
