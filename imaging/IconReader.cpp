// Icons of PE executables and .ico files. Layouts read here (all little-endian):
//   .ico: ICONDIR (6 bytes) + count x ICONDIRENTRY (16 bytes), images at offsets.
//   PE: "MZ" header -> "PE\0\0" + COFF header -> optional header with the data
//   directories (entry 2: resources) -> section table -> the resource tree
//   type / name / language; RT_GROUP_ICON (14) lists the images of one icon as
//   GRPICONDIRENTRY (14 bytes, the last two the RT_ICON (3) id).
//   Every image is a PNG stream or a DIB: BITMAPINFOHEADER, palette, colour
//   rows bottom-up, then a 1-bit AND mask (1 = transparent).
#include "imaging/IconReader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <map>
#include <optional>
#include <tuple>

#include "imaging/Codec.h"

namespace lumivore {
namespace {

// Icons are at most 256 x 256; a little head room for odd files, but never
// the gigantic pictures a hostile header may claim.
constexpr std::int64_t kMaxIconSide = 1024;

// Random access to the file's bytes; every read is checked against its size.
class Source {
 public:
  virtual ~Source() = default;
  virtual std::uint64_t size() const = 0;

  bool fits(std::uint64_t offset, std::uint64_t length) const {
    return offset <= size() && length <= size() - offset;
  }
  bool bytes(std::uint64_t offset, std::uint64_t length, std::vector<std::uint8_t>& out) const {
    if (!fits(offset, length)) return false;
    out.resize(static_cast<std::size_t>(length));
    return length == 0 || readAt(offset, out.size(), out.data());
  }
  std::optional<std::uint32_t> u32(std::uint64_t offset) const {
    std::uint8_t b[4];
    if (!fits(offset, 4) || !readAt(offset, 4, b)) return std::nullopt;
    return std::uint32_t{b[0]} | std::uint32_t{b[1]} << 8 | std::uint32_t{b[2]} << 16 |
           std::uint32_t{b[3]} << 24;
  }
  std::optional<std::uint16_t> u16(std::uint64_t offset) const {
    std::uint8_t b[2];
    if (!fits(offset, 2) || !readAt(offset, 2, b)) return std::nullopt;
    return static_cast<std::uint16_t>(b[0] | b[1] << 8);
  }

 private:
  virtual bool readAt(std::uint64_t offset, std::size_t length, std::uint8_t* out) const = 0;
};

class MemorySource final : public Source {
 public:
  MemorySource(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  std::uint64_t size() const override { return size_; }

 private:
  bool readAt(std::uint64_t offset, std::size_t length, std::uint8_t* out) const override {
    std::memcpy(out, data_ + offset, length);
    return true;
  }
  const std::uint8_t* data_;
  std::size_t size_;
};

// Reads pieces of a file on demand, so a large executable is never loaded whole.
class FileSource final : public Source {
 public:
  explicit FileSource(const std::string& path) {
    // O_NONBLOCK: opening a named pipe must not wait for a writer.
    fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    struct stat st {};
    if (fd_ >= 0 && ::fstat(fd_, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0)
      size_ = static_cast<std::uint64_t>(st.st_size);
  }
  ~FileSource() override {
    if (fd_ >= 0) ::close(fd_);
  }
  FileSource(const FileSource&) = delete;
  FileSource& operator=(const FileSource&) = delete;
  std::uint64_t size() const override { return size_; }

 private:
  bool readAt(std::uint64_t offset, std::size_t length, std::uint8_t* out) const override {
    std::size_t done = 0;
    while (done < length) {
      const ssize_t n = ::pread(fd_, out + done, length - done, static_cast<off_t>(offset + done));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return false;  // an error, or the file shrank meanwhile
      done += static_cast<std::size_t>(n);
    }
    return true;
  }
  int fd_ = -1;
  std::uint64_t size_ = 0;
};

// One image of an icon group, as its directory describes it.
struct Image {
  int width = 0;
  int height = 0;
  int bits = 0;
  std::uint64_t offset = 0;
  std::uint64_t size = 0;
};
using Group = std::vector<Image>;

std::uint32_t Le32(const std::uint8_t* p) {
  return std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]} << 16 |
         std::uint32_t{p[3]} << 24;
}
std::uint16_t Le16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | p[1] << 8); }

// The fields common to ICONDIRENTRY and GRPICONDIRENTRY.
Image ImageFromEntry(const std::uint8_t* e) {
  Image image;
  image.width = e[0] ? e[0] : 256;
  image.height = e[1] ? e[1] : 256;
  image.bits = Le16(e + 6);
  // Old files give only a colour count (0 meaning 256 or more).
  if (image.bits == 0) image.bits = e[2] == 2 ? 1 : e[2] == 16 ? 4 : 8;
  image.size = Le32(e + 8);
  return image;
}

// The group of a .ico file; false when the file is no icon file.
bool ReadIcoGroup(const Source& s, Group& group) {
  const auto reserved = s.u16(0), type = s.u16(2), count = s.u16(4);
  if (!reserved || !type || !count || *reserved != 0 || *type != 1 || *count == 0) return false;
  std::vector<std::uint8_t> dir;
  if (!s.bytes(6, std::uint64_t{*count} * 16, dir)) return false;
  for (std::size_t i = 0; i < *count; ++i) {
    Image image = ImageFromEntry(dir.data() + 16 * i);
    image.offset = Le32(dir.data() + 16 * i + 12);
    if (s.fits(image.offset, image.size) && image.size > 0) group.push_back(image);
  }
  return true;
}

struct Section {
  std::uint32_t virtualAddress, virtualSize, rawSize, rawOffset;
};

class PeFile {
 public:
  // The tree's bytes are read at most about twice over in all: entries may
  // point at the same directories, and a small file must not make the
  // reader walk them without end.
  explicit PeFile(const Source& s) : s_(s), budget_(2 * s.size() + 4096) {}

  // Reads the headers and finds the resource tree; false when this is no PE file.
  bool open() {
    const auto mz = s_.u16(0);
    const auto lfanew = s_.u32(0x3C);
    if (!mz || *mz != 0x5A4D || !lfanew) return false;
    const auto signature = s_.u32(*lfanew);
    if (!signature || *signature != 0x00004550) return false;
    const std::uint64_t coff = std::uint64_t{*lfanew} + 4;
    const auto sectionCount = s_.u16(coff + 2), optionalSize = s_.u16(coff + 16);
    if (!sectionCount || !optionalSize) return false;
    const std::uint64_t optional = coff + 20;
    const auto magic = s_.u16(optional);
    if (!magic) return false;
    std::uint64_t countAt = 0;
    if (*magic == 0x10B)
      countAt = optional + 92;  // PE32
    else if (*magic == 0x20B)
      countAt = optional + 108;  // PE32+
    else
      return false;
    const auto dirCount = s_.u32(countAt);
    const std::uint64_t resourceEntry = countAt + 4 + 2 * 8;
    if (!dirCount || *dirCount < 3 || resourceEntry + 8 > optional + *optionalSize) return false;
    const auto resourceRva = s_.u32(resourceEntry), resourceSize = s_.u32(resourceEntry + 4);
    if (!resourceRva || !resourceSize || *resourceRva == 0 || *resourceSize == 0) return false;

    std::vector<std::uint8_t> table;
    if (!s_.bytes(optional + *optionalSize, std::uint64_t{*sectionCount} * 40, table)) return false;
    for (std::size_t i = 0; i < *sectionCount; ++i) {
      const std::uint8_t* p = table.data() + 40 * i;
      sections_.push_back({Le32(p + 12), Le32(p + 8), Le32(p + 16), Le32(p + 20)});
    }
    const auto root = fileOffset(*resourceRva, 16);
    if (!root) return false;
    root_ = *root;
    return true;
  }

  // The icon groups in the order of the resource tree, at most `maxGroups`.
  std::vector<Group> groups(std::size_t maxGroups) {
    std::vector<Group> result;
    std::map<std::uint16_t, std::pair<std::uint64_t, std::uint64_t>> icons;
    std::vector<Entry> types;
    if (!entries(root_, types)) return result;
    for (const Entry& type : types) {
      if (type.named || !type.directory || type.id != 3) continue;
      std::vector<Entry> names;
      if (!entries(root_ + type.offset, names)) continue;
      for (const Entry& name : names) {
        if (name.named || !name.directory) continue;
        if (auto data = firstLanguage(name))
          icons.emplace(static_cast<std::uint16_t>(name.id), *data);
      }
    }
    for (const Entry& type : types) {
      if (type.named || !type.directory || type.id != 14) continue;
      std::vector<Entry> names;
      if (!entries(root_ + type.offset, names)) continue;
      for (const Entry& name : names) {
        if (result.size() >= maxGroups) break;
        if (!name.directory) continue;
        const auto data = firstLanguage(name);
        // An unreadable group still counts: it is skipped as an icon that
        // cannot be extracted.
        result.emplace_back();
        if (!data || data->second < 6) continue;
        std::vector<std::uint8_t> header;
        const auto count = s_.u16(data->first + 4);
        if (!count ||
            !read(data->first + 6,
                  std::min<std::uint64_t>(std::uint64_t{*count} * 14, data->second - 6), header))
          continue;
        for (std::size_t i = 0; i + 14 <= header.size(); i += 14) {
          Image image = ImageFromEntry(header.data() + i);
          const auto icon = icons.find(Le16(header.data() + i + 12));
          if (icon == icons.end()) continue;
          image.offset = icon->second.first;
          image.size = icon->second.second;
          result.back().push_back(image);
        }
      }
    }
    return result;
  }

 private:
  struct Entry {
    bool named;
    bool directory;
    std::uint32_t id;
    std::uint32_t offset;  // from the start of the resource tree
  };

  // The file offset of `length` bytes at a virtual address, when a section holds them.
  std::optional<std::uint64_t> fileOffset(std::uint32_t rva, std::uint64_t length) const {
    for (const Section& sec : sections_) {
      if (rva < sec.virtualAddress) continue;
      const std::uint64_t inside = rva - sec.virtualAddress;
      if (inside >= std::max(sec.virtualSize, sec.rawSize) || inside + length > sec.rawSize)
        continue;
      const std::uint64_t offset = std::uint64_t{sec.rawOffset} + inside;
      if (s_.fits(offset, length)) return offset;
    }
    return std::nullopt;
  }

  bool read(std::uint64_t offset, std::uint64_t length, std::vector<std::uint8_t>& out) {
    if (length > budget_) return false;
    budget_ -= length;
    return s_.bytes(offset, length, out);
  }

  // The entries of a resource directory, at most `limit` of them.
  bool entries(std::uint64_t at, std::vector<Entry>& out, std::uint64_t limit = UINT64_MAX) {
    const auto named = s_.u16(at + 12), ids = s_.u16(at + 14);
    if (!named || !ids) return false;
    std::vector<std::uint8_t> raw;
    if (!read(at + 16, std::min(limit, std::uint64_t{*named} + *ids) * 8, raw)) return false;
    for (std::size_t i = 0; i < raw.size(); i += 8) {
      const std::uint32_t name = Le32(raw.data() + i), data = Le32(raw.data() + i + 4);
      out.push_back({(name & 0x80000000u) != 0, (data & 0x80000000u) != 0, name & 0x7FFFFFFFu,
                     data & 0x7FFFFFFFu});
    }
    return true;
  }

  // Offset and size of the data of a name's first language.
  std::optional<std::pair<std::uint64_t, std::uint64_t>> firstLanguage(const Entry& name) {
    std::vector<Entry> languages;
    if (!entries(root_ + name.offset, languages, 1) || languages.empty() ||
        languages.front().directory)
      return std::nullopt;
    const std::uint64_t dataEntry = root_ + languages.front().offset;
    const auto rva = s_.u32(dataEntry), size = s_.u32(dataEntry + 4);
    if (!rva || !size || *size == 0) return std::nullopt;
    const auto offset = fileOffset(*rva, *size);
    if (!offset) return std::nullopt;
    return std::make_pair(*offset, std::uint64_t{*size});
  }

  const Source& s_;
  std::uint64_t budget_;
  std::vector<Section> sections_;
  std::uint64_t root_ = 0;
};

// A DIB icon image (colour rows and AND mask) into Bgrx32 with alpha.
bool DecodeDib(const std::vector<std::uint8_t>& in, Bitmap& out) {
  if (in.size() < 40) return false;
  const std::uint32_t headerSize = Le32(in.data());
  const std::int64_t width = static_cast<std::int32_t>(Le32(in.data() + 4));
  const std::int64_t height = static_cast<std::int32_t>(Le32(in.data() + 8)) / 2;
  const int bits = Le16(in.data() + 14);
  const std::uint32_t compression = Le32(in.data() + 16);
  std::uint64_t colours = Le32(in.data() + 32);
  if (headerSize < 40 || headerSize > in.size() || width <= 0 || height <= 0 ||
      width > kMaxIconSide || height > kMaxIconSide || compression != 0)
    return false;
  if (bits != 1 && bits != 4 && bits != 8 && bits != 24 && bits != 32) return false;
  if (bits <= 8 && (colours == 0 || colours > (1u << bits))) colours = 1u << bits;
  if (bits > 8) colours = 0;
  const std::uint64_t paletteAt = headerSize;
  const std::uint64_t colourAt = paletteAt + 4 * colours;
  const std::uint64_t colourStride = (static_cast<std::uint64_t>(width) * bits + 31) / 32 * 4;
  const std::uint64_t maskAt = colourAt + colourStride * height;
  const std::uint64_t maskStride = (static_cast<std::uint64_t>(width) + 31) / 32 * 4;
  if (maskAt > in.size()) return false;
  // Some files end without the mask; their pixels are then opaque (or carry alpha).
  const bool hasMask = maskAt + maskStride * height <= in.size();

  Bitmap bitmap;
  if (!bitmap.allocate(static_cast<int>(width), static_cast<int>(height), PixelFormat::Bgrx32))
    return false;
  bool anyAlpha = false;
  for (std::int64_t y = 0; y < height; ++y) {
    const std::uint8_t* src = in.data() + colourAt + colourStride * (height - 1 - y);
    std::uint8_t* dst = bitmap.row(static_cast<int>(y));
    for (std::int64_t x = 0; x < width; ++x, dst += 4) {
      if (bits == 32) {
        std::memcpy(dst, src + 4 * x, 4);
        anyAlpha = anyAlpha || dst[3] != 0;
        continue;
      }
      if (bits == 24) {
        std::memcpy(dst, src + 3 * x, 3);
      } else {
        const std::uint64_t bit = static_cast<std::uint64_t>(x) * bits;
        const int shift = 8 - bits - static_cast<int>(bit % 8);
        const unsigned index = (src[bit / 8] >> shift) & ((1u << bits) - 1);
        if (index < colours) std::memcpy(dst, in.data() + paletteAt + 4 * index, 3);
      }
      dst[3] = 255;
    }
  }
  // A 32-bit image with an all-zero alpha channel is an old-style image: its
  // mask alone tells what is transparent.
  if (bits == 32 && !anyAlpha)
    for (int y = 0; y < bitmap.height(); ++y)
      for (int x = 0; x < bitmap.width(); ++x) bitmap.row(y)[4 * x + 3] = 255;
  if (hasMask && (bits != 32 || !anyAlpha)) {
    for (std::int64_t y = 0; y < height; ++y) {
      const std::uint8_t* mask = in.data() + maskAt + maskStride * (height - 1 - y);
      std::uint8_t* dst = bitmap.row(static_cast<int>(y));
      for (std::int64_t x = 0; x < width; ++x)
        if (mask[x / 8] & (0x80 >> (x % 8))) dst[4 * x + 3] = 0;
    }
  }
  out = std::move(bitmap);
  return true;
}

bool IsPng(const std::vector<std::uint8_t>& in) {
  static const std::uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  return in.size() >= 8 && std::memcmp(in.data(), kSignature, 8) == 0;
}

bool DecodeIconPng(const std::vector<std::uint8_t>& in, Bitmap& out) {
  // The picture's size from IHDR, checked before libpng allocates anything.
  if (in.size() < 24) return false;
  const std::uint32_t width =
      static_cast<std::uint32_t>(in[16]) << 24 | in[17] << 16 | in[18] << 8 | in[19];
  const std::uint32_t height =
      static_cast<std::uint32_t>(in[20]) << 24 | in[21] << 16 | in[22] << 8 | in[23];
  if (width == 0 || height == 0 || width > kMaxIconSide || height > kMaxIconSide) return false;
  return codec::DecodePngWithAlpha({in.data(), in.size()}, out);
}

// Area-averaged resampling to 32 x 32 with premultiplied alpha, so that the
// colours of transparent pixels never bleed into the edges.
Bitmap ScaleIcon(const Bitmap& in) {
  Bitmap out;
  out.allocate(kIconSize, kIconSize, PixelFormat::Bgrx32);
  const double sx = static_cast<double>(in.width()) / kIconSize;
  const double sy = static_cast<double>(in.height()) / kIconSize;
  for (int dy = 0; dy < kIconSize; ++dy) {
    const double y0 = dy * sy, y1 = (dy + 1) * sy;
    for (int dx = 0; dx < kIconSize; ++dx) {
      const double x0 = dx * sx, x1 = (dx + 1) * sx;
      double acc[3] = {0, 0, 0}, alpha = 0, weight = 0;
      for (int y = static_cast<int>(y0); y < std::min<double>(std::ceil(y1), in.height()); ++y) {
        const double wy = std::min<double>(y1, y + 1) - std::max<double>(y0, y);
        const std::uint8_t* row = in.row(y);
        for (int x = static_cast<int>(x0); x < std::min<double>(std::ceil(x1), in.width()); ++x) {
          const double w = wy * (std::min<double>(x1, x + 1) - std::max<double>(x0, x));
          const std::uint8_t* p = row + 4 * x;
          const double a = p[3] * w;
          for (int c = 0; c < 3; ++c) acc[c] += p[c] * a;
          alpha += a;
          weight += w;
        }
      }
      std::uint8_t* d = out.row(dy) + 4 * dx;
      for (int c = 0; c < 3; ++c)
        d[c] = alpha > 0 ? static_cast<std::uint8_t>(std::lround(acc[c] / alpha)) : 0;
      d[3] = weight > 0 ? static_cast<std::uint8_t>(std::lround(alpha / weight)) : 0;
    }
  }
  return out;
}

// Lower is better: an exact 32 x 32 first, then the nearest larger size
// (scaled down), then the nearest smaller one; more colours first among equals.
std::tuple<int, int, int> Rank(const Image& image) {
  const int side = std::max(image.width, image.height);
  const int fit = image.width == kIconSize && image.height == kIconSize ? 0
                  : side > kIconSize                                    ? 1
                                                                        : 2;
  return {fit, std::abs(side - kIconSize), -image.bits};
}

// The best readable image of a group at 32 x 32. `budget` is what is left of
// the file's size for image data: images may share their bytes, and without
// it a small file could make the reader decode the same data without end.
bool DecodeGroup(const Source& s, Group group, std::uint64_t& budget, Bitmap& out) {
  std::stable_sort(group.begin(), group.end(),
                   [](const Image& a, const Image& b) { return Rank(a) < Rank(b); });
  std::vector<std::uint8_t> data;
  for (const Image& image : group) {
    if (image.size > budget) continue;
    budget -= image.size;
    Bitmap decoded;
    if (!s.bytes(image.offset, image.size, data)) continue;
    if (!(IsPng(data) ? DecodeIconPng(data, decoded) : DecodeDib(data, decoded))) continue;
    out = decoded.width() == kIconSize && decoded.height() == kIconSize ? std::move(decoded)
                                                                        : ScaleIcon(decoded);
    return true;
  }
  return false;
}

std::vector<Bitmap> ReadIcons(const Source& s, std::size_t maxIcons) {
  std::vector<Bitmap> icons;
  if (maxIcons == 0 || s.size() == 0) return icons;
  std::vector<Group> groups;
  Group single;
  if (ReadIcoGroup(s, single)) {
    groups.push_back(std::move(single));
  } else {
    PeFile pe(s);
    if (!pe.open()) return icons;
    groups = pe.groups(maxIcons);
  }
  std::uint64_t budget = s.size();
  for (const Group& group : groups) {
    Bitmap icon;
    if (DecodeGroup(s, group, budget, icon)) icons.push_back(std::move(icon));
  }
  return icons;
}

}  // namespace

std::vector<Bitmap> ReadFileIcons(const std::string& fileName, std::size_t maxIcons) {
  if (fileName.empty()) return {};
  FileSource source(fileName);
  return ReadIcons(source, maxIcons);
}

std::vector<Bitmap> ReadIconsFromMemory(const std::uint8_t* data, std::size_t size,
                                        std::size_t maxIcons) {
  if (!data) return {};
  MemorySource source(data, size);
  return ReadIcons(source, maxIcons);
}

void DrawIcon(Bitmap& target, int x, int y, const Bitmap& icon) {
  const int bytes = target.format() == PixelFormat::Bgrx32  ? 4
                    : target.format() == PixelFormat::Bgr24 ? 3
                                                            : 0;
  if (!bytes || icon.format() != PixelFormat::Bgrx32) return;
  for (int iy = std::max(0, -y); iy < icon.height() && y + iy < target.height(); ++iy) {
    const std::uint8_t* s = icon.row(iy);
    std::uint8_t* d = target.row(y + iy);
    for (int ix = std::max(0, -x); ix < icon.width() && x + ix < target.width(); ++ix) {
      const unsigned a = s[4 * ix + 3];
      std::uint8_t* p = d + bytes * (x + ix);
      for (int c = 0; c < 3; ++c)
        p[c] = static_cast<std::uint8_t>((s[4 * ix + c] * a + p[c] * (255 - a) + 127) / 255);
    }
  }
}

Bitmap LayoutIcons(const std::vector<Bitmap>& icons, int areaWidth, Rgb background) {
  const long long n = static_cast<long long>(icons.size());
  const long long k = std::max(1, areaWidth / kIconSize);
  const long long columns = std::min(n, k), rows = (n + k - 1) / k;
  Bitmap out;
  const long long width = std::max<long long>(kIconSize, columns * kIconSize);
  const long long height = std::max<long long>(kIconSize, rows * kIconSize);
  if (height > INT32_MAX ||
      !out.allocate(static_cast<int>(width), static_cast<int>(height), PixelFormat::Bgrx32))
    return out;
  for (int y = 0; y < out.height(); ++y)
    for (int x = 0; x < out.width(); ++x) out.setPixel(x, y, background);
  for (long long i = 0; i < n; ++i)
    DrawIcon(out, static_cast<int>(i % k * kIconSize), static_cast<int>(i / k * kIconSize),
             icons[i]);
  return out;
}

}  // namespace lumivore
