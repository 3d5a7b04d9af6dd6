#include "TestSupport.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <memory>

namespace lumivore::test {

ScratchDir::ScratchDir() {
  const char* base = std::getenv("TMPDIR");
  std::string pattern = std::string(base && *base ? base : "/tmp") + "/lumivore-imaging-XXXXXX";
  if (::mkdtemp(pattern.data())) path_ = pattern;
}

ScratchDir::~ScratchDir() {
  if (path_.empty()) return;
  std::string command = "chmod -R u+w '" + path_ + "' 2>/dev/null; rm -rf '" + path_ + "'";
  if (std::system(command.c_str()) != 0) {
    // Nothing more to do: a leftover temp folder is harmless.
  }
}

std::optional<Bytes> ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool WriteFile(const std::string& path, const Bytes& data) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
  return static_cast<bool>(out);
}

std::vector<std::string> ListDir(const std::string& path) {
  std::vector<std::string> names;
  std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(path.c_str()), ::closedir);
  if (!dir) return names;
  while (dirent* e = ::readdir(dir.get())) {
    const std::string name = e->d_name;
    if (name != "." && name != "..") names.push_back(name);
  }
  return names;
}

std::string TestDataRoot() {
  const std::string root = LUMIVORE_TESTDATA;
  struct stat st {};
  if (::stat((root + "/MANIFEST.tsv").c_str(), &st) != 0) return "";
  return root;
}

Bitmap MakePattern(int width, int height, PixelFormat format) {
  Bitmap b;
  b.allocate(width, height, PixelFormat::Bgr24);
  std::uint32_t seed = 12345;
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      seed = seed * 1664525u + 1013904223u;
      Rgb c;
      if (x < width / 3) {  // flat blocks with hard edges
        c = ((x / 7 + y / 5) & 1) ? MakeRgb(250, 250, 250) : MakeRgb(20, 40, 200);
      } else if (x < 2 * width / 3) {  // gradient
        c = MakeRgb(static_cast<std::uint8_t>(x * 255 / width),
                    static_cast<std::uint8_t>(y * 255 / height),
                    static_cast<std::uint8_t>((x + y) & 0xFF));
      } else {  // noise
        c = MakeRgb(static_cast<std::uint8_t>(seed >> 24), static_cast<std::uint8_t>(seed >> 16),
                    static_cast<std::uint8_t>(seed >> 8));
      }
      b.setPixel(x, y, c);
    }
  }
  if (format == PixelFormat::Bgrx32) {
    Bitmap wide;
    wide.allocate(width, height, PixelFormat::Bgrx32);
    for (int y = 0; y < height; ++y) {
      for (int x = 0; x < width; ++x) {
        wide.setPixel(x, y, b.pixel(x, y));
        wide.row(y)[4 * x + 3] = static_cast<std::uint8_t>(x * 37 + y);  // must be ignored
      }
    }
    return wide;
  }
  return b;
}

std::optional<std::string> RunCommand(const std::string& command) {
  std::unique_ptr<FILE, int (*)(FILE*)> pipe(::popen(command.c_str(), "r"), ::pclose);
  if (!pipe) return std::nullopt;
  std::string out;
  char buffer[65536];
  std::size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe.get())) > 0) out.append(buffer, n);
  if (::pclose(pipe.release()) != 0) return std::nullopt;
  return out;
}

namespace {
std::optional<Bytes> Convert(const std::string& path, std::size_t size, const std::string& options,
                             const std::string& output) {
  const auto out =
      RunCommand("convert '" + path + "[0]' " + options + " -depth 8 " + output + ":- 2>/dev/null");
  if (!out || out->size() != size) return std::nullopt;
  return Bytes(out->begin(), out->end());
}
}  // namespace

std::optional<Bytes> ReferenceRgb(const std::string& path, int width, int height,
                                  const std::string& options) {
  return Convert(path, 3 * std::size_t(width) * height, options + " -alpha off", "rgb");
}

std::optional<Bytes> ReferenceRgba(const std::string& path, int width, int height,
                                   const std::string& options) {
  return Convert(path, 4 * std::size_t(width) * height, options, "rgba");
}

Difference Compare(const Bitmap& bitmap, const Bytes& rgb) {
  Difference d;
  long long total = 0;
  for (int y = 0; y < bitmap.height(); ++y) {
    for (int x = 0; x < bitmap.width(); ++x) {
      const Rgb c = bitmap.pixel(x, y);
      const std::uint8_t* r = rgb.data() + 3 * (std::size_t(y) * bitmap.width() + x);
      for (int k = 0; k < 3; ++k) {
        const int ours = k == 0 ? RedOf(c) : k == 1 ? GreenOf(c) : BlueOf(c);
        const int diff = std::abs(ours - r[k]);
        d.max = std::max(d.max, diff);
        total += diff;
      }
    }
  }
  d.mean = total / (3.0 * bitmap.width() * bitmap.height());
  return d;
}

// The filter type byte that starts each row of a PNG file's image data, read
// with zlib from the joined IDAT chunks; empty when the file is not readable.
std::vector<int> PngRowFilters(const Bytes& d) {
  if (d.size() < 33) return {};
  auto be32 = [&d](std::size_t at) {
    return std::uint32_t(d[at]) << 24 | std::uint32_t(d[at + 1]) << 16 |
           std::uint32_t(d[at + 2]) << 8 | d[at + 3];
  };
  const std::uint32_t width = be32(16), height = be32(20);
  const int bitsPerPixel = d[24] * (d[25] == 2 ? 3 : d[25] == 6 ? 4 : 1);
  const std::size_t stride = 1 + (std::size_t(width) * bitsPerPixel + 7) / 8;
  Bytes idat;
  for (std::size_t at = 8; at + 12 <= d.size();) {
    const std::uint32_t length = be32(at);
    if (at + 12 + length > d.size()) return {};
    if (std::equal(d.begin() + at + 4, d.begin() + at + 8, "IDAT"))
      idat.insert(idat.end(), d.begin() + at + 8, d.begin() + at + 8 + length);
    at += 12 + length;
  }
  Bytes raw(stride * height);
  uLongf size = raw.size();
  if (uncompress(raw.data(), &size, idat.data(), idat.size()) != Z_OK || size != raw.size())
    return {};
  std::vector<int> filters;
  for (std::size_t y = 0; y < height; ++y) filters.push_back(raw[y * stride]);
  return filters;
}

}  // namespace lumivore::test
