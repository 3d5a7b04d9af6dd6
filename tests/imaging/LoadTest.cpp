// Loading: the format comes from the content, failures leave the
// destination exactly as it was, alpha is dropped keeping stored colours,
// and only the first frame or page of a file is read.
#include <gif_lib.h>
#include <gtest/gtest.h>
#include <png.h>
#include <sys/stat.h>
#include <tiffio.h>
#include <webp/encode.h>
#include <webp/mux.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "TestSupport.h"
#include "imaging/Usr_wic.h"

// jpeglib.h needs size_t and FILE declared first.
#include <jpeglib.h>

namespace lumivore {
namespace {

using test::Bytes;

// A destination with content that a failed load must not change.
Bitmap Sentinel() {
  Bitmap b;
  b.allocate(3, 2, PixelFormat::Indexed8);
  b.setIndex(1, 1, 200);
  return b;
}

void ExpectLoadFailsUntouched(const std::string& path) {
  Bitmap b = Sentinel();
  const Bitmap before = b;
  testing::internal::CaptureStderr();
  EXPECT_FALSE(WicLoadImage(path, b)) << path;
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  EXPECT_EQ(b, before) << path;
}

void PutU32(Bytes& d, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) d[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

Bytes BmpHeader(std::int32_t width, std::int32_t height, int bits) {
  Bytes d(54, 0);
  d[0] = 'B', d[1] = 'M';
  PutU32(d, 10, 54);
  PutU32(d, 14, 40);
  PutU32(d, 18, static_cast<std::uint32_t>(width));
  PutU32(d, 22, static_cast<std::uint32_t>(height));
  d[26] = 1, d[28] = static_cast<std::uint8_t>(bits);
  return d;
}

TEST(Load, BadInputFailsAndKeepsDestination) {
  test::ScratchDir dir;
  test::WriteFile(dir.file("text.png"), Bytes{'h', 'e', 'l', 'l', 'o'});
  test::WriteFile(dir.file("empty.bmp"), Bytes{});
  Bytes giant = BmpHeader(30000, 30000, 24);  // 2.7 GB of pixels from 54 bytes
  giant.resize(1000, 0);
  test::WriteFile(dir.file("giant.bmp"), giant);
  Bytes edge = BmpHeader(32768, 21846, 24);  // 3 x W x H just above 2^31
  edge.resize(1000, 0);
  test::WriteFile(dir.file("edge.bmp"), edge);
  Bytes zero = BmpHeader(0, 10, 24);
  test::WriteFile(dir.file("zero.bmp"), zero);
  Bytes truncated = BmpHeader(10, 10, 24);
  truncated.resize(54 + 100, 0);
  test::WriteFile(dir.file("truncated.bmp"), truncated);
  ::mkdir(dir.file("folder.png").c_str(), 0755);
  ::mkfifo(dir.file("pipe.png").c_str(), 0644);  // must not wait for a writer
  // A real PNG cut in half.
  ASSERT_TRUE(WicSaveImage(dir.file("whole.png"), test::MakePattern(64, 64), 100, 0, 0));
  Bytes half = *test::ReadFile(dir.file("whole.png"));
  half.resize(half.size() / 2);
  test::WriteFile(dir.file("half.png"), half);
  // A real JPEG cut inside its header.
  ASSERT_TRUE(WicSaveImage(dir.file("whole.jpg"), test::MakePattern(64, 64), 90, 0, 0));
  Bytes jpegHead = *test::ReadFile(dir.file("whole.jpg"));
  jpegHead.resize(100);
  test::WriteFile(dir.file("head.jpg"), jpegHead);

  for (const char* name :
       {"text.png", "empty.bmp", "giant.bmp", "edge.bmp", "zero.bmp", "truncated.bmp", "folder.png",
        "pipe.png", "half.png", "head.jpg", "missing.png"}) {
    ExpectLoadFailsUntouched(dir.file(name));
  }
  ExpectLoadFailsUntouched("");
}

TEST(Load, RleRunsReachingIntoRowPaddingAreClipped) {
  test::ScratchDir dir;
  // ImageMagick writes RLE8 whose runs fill a row's padding pixels.
  const std::string magick = dir.file("magick.bmp");
  if (!test::RunCommand("convert -seed 7 -size 17x9 xc: +noise Random -colors 200 -type Palette "
                        "-compress RLE 'bmp:" + magick + "' 2>/dev/null")) {
    GTEST_SKIP() << "ImageMagick's convert is not installed";
  }
  ASSERT_EQ(test::ReadFile(magick).value_or(Bytes(31, 0))[30], 1) << "not RLE8";
  Bitmap loaded;
  ASSERT_TRUE(WicLoadImage(magick, loaded));
  ASSERT_EQ(loaded.width(), 17);
  ASSERT_EQ(loaded.height(), 9);
  const auto reference = test::ReferenceRgb(magick, 17, 9);
  ASSERT_TRUE(reference);
  EXPECT_EQ(test::Compare(loaded, *reference).max, 0);

  // RLE4, 3 x 2: an encoded run of four pixels and a literal run of five.
  Bytes rle4 = BmpHeader(3, 2, 4);
  rle4[30] = 2;  // BI_RLE4
  PutU32(rle4, 10, 54 + 16 * 4);
  for (int i = 0; i < 16; ++i) {
    for (int k = 0; k < 4; ++k) rle4.push_back(k == 3 ? 0 : static_cast<std::uint8_t>(i * 16 + k));
  }
  for (std::uint8_t b : {0x04, 0x12, 0x00, 0x00,                          // bottom row: 1 2 1 (2)
                         0x00, 0x05, 0x34, 0x56, 0x70, 0x00, 0x00, 0x00,  // top row: 3 4 5 (6 7)
                         0x00, 0x01}) {
    rle4.push_back(b);
  }
  ASSERT_TRUE(test::WriteFile(dir.file("rle4.bmp"), rle4));
  ASSERT_TRUE(WicLoadImage(dir.file("rle4.bmp"), loaded));
  const auto entry = [](int i) { return MakeRgb(i * 16 + 2, i * 16 + 1, i * 16); };
  const Rgb expected[2][3] = {{entry(3), entry(4), entry(5)}, {entry(1), entry(2), entry(1)}};
  for (int y = 0; y < 2; ++y) {
    for (int x = 0; x < 3; ++x) EXPECT_EQ(loaded.pixel(x, y), expected[y][x]) << x << "," << y;
  }
}

TEST(Load, MalformedJpegXrThatStopsItsLibraryFailsCleanly) {
  // Found by fuzzing: this container makes jxrlib fail an assert() and abort
  // the process it runs in.
  const Bytes file = {0x49, 0x49, 0xbc, 0x01, 0x20, 0x00, 0x00, 0x00, 0x24, 0xc3, 0xdd, 0x6f, 0x03,
                      0x4e, 0xfe, 0x4b, 0xb1, 0x85, 0x3d, 0x77, 0x76, 0x8d, 0xc9, 0x0c, 0x00, 0x00,
                      0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x08, 0x00, 0x01, 0xbc, 0x01, 0x00, 0x10,
                      0x00, 0x00, 0xfa, 0xf7, 0xff, 0xff, 0x00, 0x02, 0xbc, 0x04, 0x00, 0x01, 0x00,
                      0x00, 0x00, 0x80, 0xe8, 0x00, 0x00, 0x75, 0x30, 0x00, 0x00, 0xea, 0x60, 0x00,
                      0x00, 0x3a, 0x98, 0x00, 0x00, 0x17, 0x70, 0x9c, 0xba, 0x51, 0x3c, 0x00, 0x00,
                      0x00, 0x06, 0x62, 0x4b, 0x47, 0x44, 0x00, 0xff, 0x00, 0xff, 0x00, 0xff, 0xa0,
                      0xb5, 0xa7, 0x93, 0x83, 0xbc, 0x0b, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x60,
                      0x00, 0xc0, 0x42, 0xc0, 0xbc, 0x04, 0x00, 0x01, 0x00, 0x00, 0x00, 0x86, 0x00,
                      0x00, 0x00, 0xc1, 0xbc, 0x04, 0x00, 0x01, 0x00, 0x00, 0x00, 0xcd, 0x00, 0x00,
                      0x00, 0x00, 0x00, 0x00, 0x00, 0x55, 0x4d, 0x50, 0x00, 0x00, 0x00, 0x48, 0x4f,
                      0x54, 0x4f, 0x00, 0x11, 0x45, 0xc0, 0x71, 0x00, 0xf5, 0xff, 0xf7, 0x8f, 0xff,
                      0x3a, 0xf5, 0x05, 0x0c, 0x50, 0x50, 0x50, 0xc5, 0x05, 0xd7, 0x52, 0x35, 0xed,
                      0x47, 0xb9, 0x6e, 0xbd, 0xe4, 0x82, 0x79, 0x30, 0x6e, 0x6f, 0x72, 0x80};
  test::ScratchDir dir;
  ASSERT_TRUE(test::WriteFile(dir.file("bad.wdp"), file));
  ExpectLoadFailsUntouched(dir.file("bad.wdp"));
}

TEST(Load, FormatComesFromContentNotName) {
  test::ScratchDir dir;
  const Bitmap source = test::MakePattern(20, 10);
  ASSERT_TRUE(WicSaveImage(dir.file("a.png"), source, 100, 0, 0));
  ASSERT_EQ(::rename(dir.file("a.png").c_str(), dir.file("a.jpg").c_str()), 0);
  Bitmap loaded;
  ASSERT_TRUE(WicLoadImage(dir.file("a.jpg"), loaded));
  EXPECT_EQ(loaded, source);
}

TEST(Load, TransparentPngKeepsStoredColours) {
  test::ScratchDir dir;
  const std::string path = dir.file("alpha.png");
  FILE* f = std::fopen(path.c_str(), "wb");
  ASSERT_NE(f, nullptr);
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  png_init_io(png, f);
  png_set_IHDR(png, info, 4, 1, 8, PNG_COLOR_TYPE_RGB_ALPHA, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  png_byte row[16] = {200, 10, 20, 0, 30, 220, 40, 0, 50, 60, 240, 128, 1, 2, 3, 255};
  png_write_row(png, row);
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  std::fclose(f);

  Bitmap b;
  ASSERT_TRUE(WicLoadImage(path, b));
  EXPECT_EQ(b.format(), PixelFormat::Bgr24);
  EXPECT_EQ(b.pixel(0, 0), MakeRgb(200, 10, 20));  // fully transparent, colour kept
  EXPECT_EQ(b.pixel(1, 0), MakeRgb(30, 220, 40));
  EXPECT_EQ(b.pixel(2, 0), MakeRgb(50, 60, 240));  // half transparent, not blended
  EXPECT_EQ(b.pixel(3, 0), MakeRgb(1, 2, 3));
}

TEST(Load, CmykJpegIsConvertedToRgb) {
  // Written with libjpeg as Adobe CMYK (stored inverted: 255 = no ink), the
  // form print and layout programs produce. Quadrants: magenta ink only,
  // cyan ink only, no ink, full black.
  const std::uint8_t quadrants[4][4] = {
      {255, 0, 255, 255}, {0, 255, 255, 255}, {255, 255, 255, 255}, {255, 255, 255, 0}};
  const Rgb expected[4] = {MakeRgb(255, 0, 255), MakeRgb(0, 255, 255), MakeRgb(255, 255, 255),
                           MakeRgb(0, 0, 0)};
  constexpr int kSize = 32;
  std::vector<std::uint8_t> pixels(kSize * kSize * 4);
  for (int y = 0; y < kSize; ++y) {
    for (int x = 0; x < kSize; ++x) {
      std::memcpy(&pixels[(y * kSize + x) * 4], quadrants[(y / 16) * 2 + x / 16], 4);
    }
  }
  unsigned char* buffer = nullptr;
  unsigned long size = 0;
  jpeg_compress_struct info{};
  jpeg_error_mgr error{};
  info.err = jpeg_std_error(&error);
  jpeg_create_compress(&info);
  jpeg_mem_dest(&info, &buffer, &size);
  info.image_width = info.image_height = kSize;
  info.input_components = 4;
  info.in_color_space = JCS_CMYK;
  jpeg_set_defaults(&info);
  jpeg_set_quality(&info, 100, TRUE);
  jpeg_start_compress(&info, TRUE);
  while (info.next_scanline < kSize) {
    JSAMPROW row = &pixels[info.next_scanline * kSize * 4];
    jpeg_write_scanlines(&info, &row, 1);
  }
  jpeg_finish_compress(&info);
  jpeg_destroy_compress(&info);
  const Bytes file(buffer, buffer + size);
  std::free(buffer);

  test::ScratchDir dir;
  ASSERT_TRUE(test::WriteFile(dir.file("cmyk.jpg"), file));
  Bitmap b;
  ASSERT_TRUE(WicLoadImage(dir.file("cmyk.jpg"), b));
  for (int q = 0; q < 4; ++q) {
    const Rgb c = b.pixel((q % 2) * 16 + 8, (q / 2) * 16 + 8);  // centre of the quadrant
    EXPECT_NEAR(RedOf(c), RedOf(expected[q]), 3) << q;
    EXPECT_NEAR(GreenOf(c), GreenOf(expected[q]), 3) << q;
    EXPECT_NEAR(BlueOf(c), BlueOf(expected[q]), 3) << q;
  }
}

TEST(Load, AnimatedGifGivesFirstFrame) {
  test::ScratchDir dir;
  const std::string path = dir.file("anim.gif");
  int error = 0;
  GifFileType* gif = EGifOpenFileName(path.c_str(), false, &error);
  ASSERT_NE(gif, nullptr);
  GifColorType colours[4] = {{255, 0, 0}, {0, 0, 255}, {0, 255, 0}, {9, 9, 9}};
  ColorMapObject* map = GifMakeMapObject(4, colours);
  EGifSetGifVersion(gif, true);
  ASSERT_EQ(EGifPutScreenDesc(gif, 6, 4, 2, 0, map), GIF_OK);
  for (GifPixelType index : {GifPixelType{0}, GifPixelType{1}}) {  // red frame, then blue
    ASSERT_EQ(EGifPutImageDesc(gif, 0, 0, 6, 4, false, nullptr), GIF_OK);
    GifPixelType line[6] = {index, index, index, index, index, index};
    for (int y = 0; y < 4; ++y) ASSERT_EQ(EGifPutLine(gif, line, 6), GIF_OK);
  }
  EGifCloseFile(gif, &error);
  GifFreeMapObject(map);

  Bitmap b;
  ASSERT_TRUE(WicLoadImage(path, b));
  EXPECT_EQ(b.width(), 6);
  EXPECT_EQ(b.pixel(5, 3), MakeRgb(255, 0, 0));
}

TEST(Load, AnimatedWebpGivesFirstFrame) {
  WebPAnimEncoderOptions options;
  ASSERT_TRUE(WebPAnimEncoderOptionsInit(&options));
  WebPAnimEncoder* encoder = WebPAnimEncoderNew(6, 4, &options);
  ASSERT_NE(encoder, nullptr);
  WebPConfig config;
  WebPConfigInit(&config);
  config.lossless = 1;
  for (int frame = 0; frame < 2; ++frame) {  // red, then blue
    WebPPicture picture;
    WebPPictureInit(&picture);
    picture.width = 6, picture.height = 4, picture.use_argb = 1;
    ASSERT_TRUE(WebPPictureAlloc(&picture));
    for (int i = 0; i < 24; ++i) picture.argb[i] = frame == 0 ? 0xFFFF0000u : 0xFF0000FFu;
    EXPECT_TRUE(WebPAnimEncoderAdd(encoder, &picture, frame * 100, &config));
    WebPPictureFree(&picture);
  }
  WebPAnimEncoderAdd(encoder, nullptr, 200, nullptr);
  WebPData data;
  WebPDataInit(&data);
  ASSERT_TRUE(WebPAnimEncoderAssemble(encoder, &data));
  const Bytes file(data.bytes, data.bytes + data.size);
  WebPDataClear(&data);
  WebPAnimEncoderDelete(encoder);

  test::ScratchDir dir;
  ASSERT_TRUE(test::WriteFile(dir.file("anim.webp"), file));
  Bitmap b;
  ASSERT_TRUE(WicLoadImage(dir.file("anim.webp"), b));
  EXPECT_EQ(b.width(), 6);
  EXPECT_EQ(b.height(), 4);
  EXPECT_EQ(b.pixel(5, 3), MakeRgb(255, 0, 0));
}

TEST(Load, MultiPageTiffGivesFirstPage) {
  test::ScratchDir dir;
  const std::string path = dir.file("pages.tif");
  TIFF* tif = TIFFOpen(path.c_str(), "w");
  ASSERT_NE(tif, nullptr);
  for (int page = 0; page < 2; ++page) {
    const int width = page == 0 ? 5 : 9;
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, width);
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, 3);
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 8);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 3);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    std::vector<std::uint8_t> row(3 * width);
    for (int x = 0; x < width; ++x) row[3 * x + page] = 255;  // page 0 red, page 1 green
    for (int y = 0; y < 3; ++y) TIFFWriteScanline(tif, row.data(), y, 0);
    TIFFWriteDirectory(tif);
  }
  TIFFClose(tif);

  Bitmap b;
  ASSERT_TRUE(WicLoadImage(path, b));
  EXPECT_EQ(b.width(), 5);
  EXPECT_EQ(b.pixel(4, 2), MakeRgb(255, 0, 0));
}

}  // namespace
}  // namespace lumivore
