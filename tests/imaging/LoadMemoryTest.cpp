// Memory a load costs. A header can claim a picture far larger than the data
// behind it; loading such a file must fail without taking memory for the
// claimed picture, and a real load must stay within about twice its final
// picture. Each load runs in a forked child whose peak resident size is
// measured, so one test's allocations cannot hide or blame another's.
#include <gif_lib.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <tiffio.h>
#include <unistd.h>
#include <webp/encode.h>
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string_view>

#include "TestSupport.h"
#include "imaging/Usr_wic.h"

// jpeglib.h needs size_t and FILE declared first.
#include <jpeglib.h>

namespace lumivore {
namespace {

using test::Bytes;

// Just below the largest picture the loader accepts, so that only the data
// behind the header can decide.
constexpr int kClaimed = 11585;  // 11585^2 < 2^27
constexpr long long kMiB = 1 << 20;

// AddressSanitizer writes shadow memory for every allocation and holds freed
// blocks back, so resident sizes tell nothing about the loader there; the
// loads still run and must still fail or succeed.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kSizesMeaningful = false;
#else
constexpr bool kSizesMeaningful = true;
#endif

struct LoadCost {
  bool loaded = false;
  long long width = 0, height = 0;
  long long peakBytes = 0;  // growth of the child's (or its helper's) peak resident size
};

long long MaxRssBytes(int who) {
  rusage usage{};
  getrusage(who, &usage);
  return static_cast<long long>(usage.ru_maxrss) * 1024;
}

// Loads `path` in a child process and reports what it cost.
LoadCost MeasureLoad(const std::string& path) {
  int fds[2];
  if (::pipe(fds) != 0) return {};
  const pid_t child = ::fork();
  if (child == 0) {
    ::close(fds[0]);
    LoadCost cost;
    const long long before = MaxRssBytes(RUSAGE_SELF);
    Bitmap bitmap;
    cost.loaded = WicLoadImage(path, bitmap);
    cost.width = bitmap.width(), cost.height = bitmap.height();
    // A decoder that works in a helper process of its own counts with it.
    cost.peakBytes = std::max(MaxRssBytes(RUSAGE_SELF) - before, MaxRssBytes(RUSAGE_CHILDREN));
    const bool sent = ::write(fds[1], &cost, sizeof cost) == sizeof cost;
    ::_exit(sent ? 0 : 1);
  }
  ::close(fds[1]);
  LoadCost cost;
  const bool got = ::read(fds[0], &cost, sizeof cost) == sizeof cost;
  ::close(fds[0]);
  int status = 0;
  ::waitpid(child, &status, 0);
  EXPECT_TRUE(got && WIFEXITED(status) && WEXITSTATUS(status) == 0) << path;
  return cost;
}

void PutU16(Bytes& d, std::size_t at, std::uint32_t v) {
  d[at] = static_cast<std::uint8_t>(v), d[at + 1] = static_cast<std::uint8_t>(v >> 8);
}
void PutU32(Bytes& d, std::size_t at, std::uint32_t v) {
  PutU16(d, at, v & 0xFFFF), PutU16(d, at + 2, v >> 16);
}
void PutU16Big(Bytes& d, std::size_t at, std::uint32_t v) {
  d[at] = static_cast<std::uint8_t>(v >> 8), d[at + 1] = static_cast<std::uint8_t>(v);
}
void PutU32Big(Bytes& d, std::size_t at, std::uint32_t v) {
  PutU16Big(d, at, v >> 16), PutU16Big(d, at + 2, v & 0xFFFF);
}

// A BMP whose RLE data paints one run and ends.
Bytes RleBmp(int bits, int width, int height) {
  Bytes d(54 + 4 * 16, 0);
  d[0] = 'B', d[1] = 'M';
  PutU32(d, 10, static_cast<std::uint32_t>(d.size()));
  PutU32(d, 14, 40);
  PutU32(d, 18, static_cast<std::uint32_t>(width));
  PutU32(d, 22, static_cast<std::uint32_t>(height));
  d[26] = 1, d[28] = static_cast<std::uint8_t>(bits);
  d[30] = bits == 8 ? 1 : 2;
  for (int i = 0; i < 16; ++i) PutU32(d, 54 + 4 * i, 0x00FFFFFFu / 15 * i);
  for (std::uint8_t b : {255, 3, 0, 0, 0, 1}) d.push_back(b);
  return d;
}

Bytes PlainBmp(int width, int height) {
  Bytes d = RleBmp(24, width, height);
  d[30] = 0;
  PutU32(d, 10, 54);
  d.resize(54 + 300);
  return d;
}

// A small real JPEG with the frame header's size patched.
Bytes PatchedJpeg(bool progressive, int width, int height) {
  jpeg_compress_struct info{};
  jpeg_error_mgr error{};
  info.err = jpeg_std_error(&error);
  jpeg_create_compress(&info);
  unsigned char* buffer = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&info, &buffer, &size);
  info.image_width = 32, info.image_height = 32, info.input_components = 3;
  info.in_color_space = JCS_RGB;
  jpeg_set_defaults(&info);
  if (progressive) jpeg_simple_progression(&info);
  jpeg_start_compress(&info, TRUE);
  std::vector<JSAMPLE> row(3 * 32);
  for (int y = 0; y < 32; ++y) {
    for (int i = 0; i < 96; ++i) row[i] = static_cast<JSAMPLE>(i * 7 + y * 13);
    JSAMPROW p = row.data();
    jpeg_write_scanlines(&info, &p, 1);
  }
  jpeg_finish_compress(&info);
  jpeg_destroy_compress(&info);
  Bytes d(buffer, buffer + size);
  std::free(buffer);
  for (std::size_t i = 2; i + 9 < d.size(); ++i) {
    if (d[i] == 0xFF && (d[i + 1] == 0xC0 || d[i + 1] == 0xC2)) {
      PutU16Big(d, i + 5, static_cast<std::uint32_t>(height));
      PutU16Big(d, i + 7, static_cast<std::uint32_t>(width));
      break;
    }
  }
  return d;
}

// A PNG of one flat colour: small whatever its size, and valid.
Bytes FlatPng(int width, int height, const test::ScratchDir& dir) {
  Bitmap flat;
  flat.allocate(width, height, PixelFormat::Bgr24);
  for (int y = 0; y < height; ++y) std::memset(flat.row(y), 0x80, 3 * std::size_t(width));
  const std::string path = dir.file("flat.png");
  if (!WicSaveImage(path, flat, 100, 0, 0)) return {};
  return test::ReadFile(path).value_or(Bytes{});
}

// A small PNG whose header (and its checksum) claims another size.
Bytes PatchedPng(int width, int height, const test::ScratchDir& dir) {
  Bytes d = FlatPng(16, 16, dir);
  if (d.size() < 33) return {};
  PutU32Big(d, 16, static_cast<std::uint32_t>(width));
  PutU32Big(d, 20, static_cast<std::uint32_t>(height));
  PutU32Big(d, 29, static_cast<std::uint32_t>(crc32(0, d.data() + 12, 17)));
  return d;
}

Bytes PatchedGif(int width, int height, const test::ScratchDir& dir) {
  Bitmap small;
  small.allocate(16, 16, PixelFormat::Bgr24);
  const std::string path = dir.file("small.gif");
  if (!WicSaveImage(path, small, 100, 0, 0)) return {};
  Bytes d = test::ReadFile(path).value_or(Bytes{});
  if (d.size() < 13) return {};
  PutU16(d, 6, static_cast<std::uint32_t>(width));
  PutU16(d, 8, static_cast<std::uint32_t>(height));
  const std::size_t table = (d[10] & 0x80) ? 3u << ((d[10] & 7) + 1) : 0;
  std::size_t at = 13 + table;
  while (at < d.size() && d[at] == 0x21) {  // skip extensions up to the image
    at += 2;
    while (at < d.size() && d[at] != 0) at += d[at] + 1;
    ++at;
  }
  if (at + 9 > d.size() || d[at] != 0x2C) return {};
  PutU16(d, at + 5, static_cast<std::uint32_t>(width));
  PutU16(d, at + 7, static_cast<std::uint32_t>(height));
  return d;
}

// A TIFF with one row per strip of which only the first holds data.
Bytes SparseTiff(bool palette, int width, int height, const test::ScratchDir& dir) {
  const std::string path = dir.file("sparse.tif");
  TIFFSetWarningHandler(nullptr);
  TIFF* tif = TIFFOpen(path.c_str(), "w");
  if (!tif) return {};
  TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, width);
  TIFFSetField(tif, TIFFTAG_IMAGELENGTH, height);
  TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 8);
  TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, palette ? 1 : 3);
  TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, palette ? PHOTOMETRIC_PALETTE : PHOTOMETRIC_RGB);
  TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
  TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, 1);
  std::vector<std::uint16_t> map(256);
  for (int i = 0; i < 256; ++i) map[i] = static_cast<std::uint16_t>(i * 257);
  if (palette) TIFFSetField(tif, TIFFTAG_COLORMAP, map.data(), map.data(), map.data());
  std::vector<std::uint8_t> row(std::size_t(width) * (palette ? 1 : 3), 7);
  TIFFWriteScanline(tif, row.data(), 0, 0);
  TIFFClose(tif);
  return test::ReadFile(path).value_or(Bytes{});
}

// A small lossy WebP whose frame header claims another size.
Bytes PatchedWebp(int width, int height) {
  std::vector<std::uint8_t> rgb(16 * 16 * 3, 90);
  std::uint8_t* out = nullptr;
  const std::size_t size = WebPEncodeRGB(rgb.data(), 16, 16, 48, 80, &out);
  Bytes d(out, out + size);
  WebPFree(out);
  if (d.size() < 30 || std::memcmp(d.data() + 12, "VP8 ", 4) != 0) return {};
  PutU16(d, 26, static_cast<std::uint32_t>(width));
  PutU16(d, 28, static_cast<std::uint32_t>(height));
  return d;
}

// A small JPEG XR whose image header claims another size (the container's
// own size tags are patched to match).
Bytes PatchedJxr(int width, int height, const test::ScratchDir& dir) {
  const std::string path = dir.file("small.wdp");
  if (!WicSaveImage(path, test::MakePattern(16, 16), 90, 0, 0)) return {};
  Bytes d = test::ReadFile(path).value_or(Bytes{});
  const std::string_view signature("WMPHOTO\0", 8);
  const auto at = std::search(d.begin(), d.end(), signature.begin(), signature.end());
  if (at == d.end() || at + 20 > d.end()) return {};
  const std::size_t header = static_cast<std::size_t>(at - d.begin());
  if (d[header + 10] & 0x80) {  // short header: 16-bit sizes
    PutU16Big(d, header + 12, static_cast<std::uint32_t>(width - 1));
    PutU16Big(d, header + 14, static_cast<std::uint32_t>(height - 1));
  } else {
    PutU32Big(d, header + 12, static_cast<std::uint32_t>(width - 1));
    PutU32Big(d, header + 16, static_cast<std::uint32_t>(height - 1));
  }
  // Container tags 0xBC80 and 0xBC81 (width, height) in the first directory.
  const std::size_t ifd = d[4] | (d[5] << 8) | (d[6] << 16) | (d[7] << 24);
  const std::size_t entries = d[ifd] | (d[ifd + 1] << 8);
  for (std::size_t i = 0; i < entries; ++i) {
    const std::size_t e = ifd + 2 + 12 * i;
    const std::uint32_t tag = d[e] | (d[e + 1] << 8);
    if (tag == 0xBC80 || tag == 0xBC81) {
      const std::uint32_t v = static_cast<std::uint32_t>(tag == 0xBC80 ? width : height);
      if ((d[e + 2] | (d[e + 3] << 8)) == 3) {
        PutU16(d, e + 8, v);
      } else {
        PutU32(d, e + 8, v);
      }
    }
  }
  return d;
}

TEST(LoadMemory, HeadersClaimingHugePicturesCostNoMemory) {
  test::ScratchDir dir;
  const struct {
    const char* name;
    std::function<Bytes()> make;
  } kCases[] = {
      {"rle8.bmp", [] { return RleBmp(8, kClaimed, kClaimed); }},
      {"rle4.bmp", [] { return RleBmp(4, kClaimed, kClaimed); }},
      {"plain.bmp", [] { return PlainBmp(kClaimed, kClaimed); }},
      {"baseline.jpg", [] { return PatchedJpeg(false, kClaimed, kClaimed); }},
      {"progressive.jpg", [] { return PatchedJpeg(true, kClaimed, kClaimed); }},
      {"header.png", [&] { return PatchedPng(kClaimed, kClaimed, dir); }},
      {"header.gif", [&] { return PatchedGif(kClaimed, kClaimed, dir); }},
      {"palette.tif", [&] { return SparseTiff(true, kClaimed, kClaimed, dir); }},
      {"rgb.tif", [&] { return SparseTiff(false, kClaimed, kClaimed, dir); }},
      {"header.webp", [] { return PatchedWebp(kClaimed, kClaimed); }},
      {"header.wdp", [&] { return PatchedJxr(kClaimed, kClaimed, dir); }},
      // Beyond the size limit: refused from the header alone.
      {"giant.png", [&] { return PatchedPng(26000, 27000, dir); }},
  };
  for (const auto& c : kCases) {
    const Bytes file = c.make();
    ASSERT_FALSE(file.empty()) << c.name;
    ASSERT_TRUE(test::WriteFile(dir.file(c.name), file));
    const LoadCost cost = MeasureLoad(dir.file(c.name));
    EXPECT_FALSE(cost.loaded) << c.name << " (" << file.size() << " bytes)";
    // The claimed picture alone would be 384 MiB.
    if (kSizesMeaningful) {
      EXPECT_LT(cost.peakBytes, 32 * kMiB) << c.name << " (" << file.size() << " bytes)";
    }
  }
}

TEST(LoadMemory, RealLoadStaysWithinTwiceItsPicture) {
  // A flat picture is a small file for every coding; it loads, at a cost
  // bounded by the picture it gives.
  test::ScratchDir dir;
  const int width = 4000, height = 3000;
  ASSERT_TRUE(test::WriteFile(dir.file("flat.png"), FlatPng(width, height, dir)));
  Bitmap flat;
  ASSERT_TRUE(WicLoadImage(dir.file("flat.png"), flat));
  for (const char* name : {"flat.tif", "flat.webp", "flat.jpg"}) {
    // WebP is not written by the program; libwebp makes it.
    if (std::string(name) == "flat.webp") {
      std::vector<std::uint8_t> rgb(std::size_t(width) * height * 3, 0x80);
      std::uint8_t* out = nullptr;
      const std::size_t size = WebPEncodeLosslessRGB(rgb.data(), width, height, 3 * width, &out);
      ASSERT_TRUE(test::WriteFile(dir.file(name), Bytes(out, out + size)));
      WebPFree(out);
    } else {
      ASSERT_TRUE(WicSaveImage(dir.file(name), flat, 90, 0, 0)) << name;
    }
  }
  const long long picture = 3LL * width * height;
  for (const char* name : {"flat.png", "flat.tif", "flat.webp", "flat.jpg"}) {
    const LoadCost cost = MeasureLoad(dir.file(name));
    EXPECT_TRUE(cost.loaded) << name;
    EXPECT_EQ(cost.width, width) << name;
    EXPECT_EQ(cost.height, height) << name;
    if (kSizesMeaningful) {
      EXPECT_LT(cost.peakBytes, 2 * picture + 8 * kMiB) << name;
    }
  }
}

}  // namespace
}  // namespace lumivore
