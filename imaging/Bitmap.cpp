#include "imaging/Bitmap.h"

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstring>

#include "imaging/PixelKernels.h"
#include "imaging/RowBands.h"

namespace lumivore {

void AdviseLargePages(void* block, std::size_t bytes) {
#ifdef MADV_HUGEPAGE
  constexpr std::uintptr_t kHuge = std::uintptr_t{2} << 20;
  const std::uintptr_t start = (reinterpret_cast<std::uintptr_t>(block) + kHuge - 1) & ~(kHuge - 1);
  const std::uintptr_t end = (reinterpret_cast<std::uintptr_t>(block) + bytes) & ~(kHuge - 1);
  if (end > start) madvise(reinterpret_cast<void*>(start), end - start, MADV_HUGEPAGE);
#else
  (void)block, (void)bytes;
#endif
}

namespace {
#if defined(__has_feature)
#define LUMIVORE_HAS_FEATURE(x) __has_feature(x)
#else
#define LUMIVORE_HAS_FEATURE(x) 0
#endif
// Blocks from this size on are mapped by themselves. Under AddressSanitizer
// everything comes from calloc, so that reads past a bitmap are caught.
#if defined(__SANITIZE_ADDRESS__) || LUMIVORE_HAS_FEATURE(address_sanitizer)
constexpr std::size_t kMappedFrom = SIZE_MAX;
#else
constexpr std::size_t kMappedFrom = std::size_t{1} << 20;
#endif
}  // namespace

namespace {

constexpr std::size_t kLargePage = std::size_t{2} << 20;

std::size_t RoundUp(std::size_t n, std::size_t unit) { return (n + unit - 1) / unit * unit; }

// How much is mapped for a block of `bytes`: whole large pages when that
// adds at most an eighth, so that huge pages can back all of it; otherwise
// whole pages. Each small page costs a page fault when first touched, which
// takes as long as clearing a few dozen pages, and many times that under a
// hypervisor: a 1920 x 1080 picture left in small pages past its last whole
// large page takes hundreds of them.
std::size_t MappedLength(std::size_t bytes) {
  static const std::size_t page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
  const std::size_t large = RoundUp(bytes, kLargePage);
  if (bytes >= kLargePage && large - bytes <= bytes / 8) return large;
  return RoundUp(bytes, page);
}

}  // namespace

void* AllocateZeroed(std::size_t bytes) {
  if (bytes >= kMappedFrom) {
    // A block of a large page or more starts on a large page's boundary:
    // mapped with one large page to spare, which is handed back around the
    // aligned part.
    const std::size_t length = MappedLength(bytes);
    const std::size_t spare = bytes >= kLargePage ? kLargePage : 0;
    void* mapped = mmap(nullptr, length + spare, PROT_READ | PROT_WRITE,
                        MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (mapped == MAP_FAILED) throw std::bad_alloc();
    const auto start = reinterpret_cast<std::uintptr_t>(mapped);
    const std::uintptr_t block = spare ? RoundUp(start, kLargePage) : start;
    if (block > start) munmap(mapped, block - start);
    if (start + spare > block) munmap(reinterpret_cast<void*>(block + length), start + spare - block);
    AdviseLargePages(reinterpret_cast<void*>(block), length);
    return reinterpret_cast<void*>(block);
  }
  void* block = std::calloc(std::max<std::size_t>(bytes, 1), 1);
  if (!block) throw std::bad_alloc();
  return block;
}

void FreeZeroed(void* block, std::size_t bytes) {
  if (!block) return;
  if (bytes >= kMappedFrom) {
    munmap(block, MappedLength(bytes));
  } else {
    std::free(block);
  }
}

int BitsPerPixel(PixelFormat f) { return static_cast<int>(f); }

bool IsIndexed(PixelFormat f) {
  return f == PixelFormat::Indexed1 || f == PixelFormat::Indexed4 || f == PixelFormat::Indexed8;
}

std::size_t StrideFor(int width, PixelFormat format) {
  if (width <= 0 || format == PixelFormat::None) return 0;
  const std::uint64_t bits = std::uint64_t(width) * std::uint64_t(BitsPerPixel(format));
  const std::uint64_t bytes = ((bits + 31) / 32) * 4;
  if (bytes > INT_MAX) return 0;
  return static_cast<std::size_t>(bytes);
}

namespace {

std::vector<Rgb> GreyRamp(int entries) {
  std::vector<Rgb> p(entries);
  for (int i = 0; i < entries; ++i) {
    const auto v = static_cast<std::uint8_t>(entries > 1 ? i * 255 / (entries - 1) : 0);
    p[i] = MakeRgb(v, v, v);
  }
  return p;
}

}  // namespace

bool Bitmap::allocate(int width, int height, PixelFormat format) {
  if (width <= 0 || height <= 0 || format == PixelFormat::None) return false;
  const std::size_t stride = StrideFor(width, format);
  if (stride == 0) return false;
  const std::uint64_t total = std::uint64_t(stride) * std::uint64_t(height);
  if (total >= (std::uint64_t{1} << 31)) return false;
  std::vector<std::uint8_t, ZeroedAllocator<std::uint8_t>> pixels(static_cast<std::size_t>(total));
  pixels_ = std::move(pixels);
  width_ = width;
  height_ = height;
  format_ = format;
  stride_ = stride;
  palette_ = IsIndexed(format) ? GreyRamp(1 << BitsPerPixel(format)) : std::vector<Rgb>{};
  return true;
}

Bitmap::Bitmap(const Bitmap& other)
    : width_(other.width_),
      height_(other.height_),
      format_(other.format_),
      stride_(other.stride_),
      pixels_(other.pixels_.size()),  // zeroed without a pass over it
      palette_(other.palette_) {
  if (!pixels_.empty()) std::memcpy(pixels_.data(), other.pixels_.data(), pixels_.size());
}

Bitmap& Bitmap::operator=(const Bitmap& other) {
  if (this == &other) return *this;
  // Storage of the same size is written over where it is.
  if (pixels_.size() != other.pixels_.size()) return *this = Bitmap(other);
  palette_ = other.palette_;
  width_ = other.width_, height_ = other.height_, format_ = other.format_, stride_ = other.stride_;
  if (!pixels_.empty()) std::memcpy(pixels_.data(), other.pixels_.data(), pixels_.size());
  return *this;
}

void Bitmap::clear() { *this = Bitmap(); }

bool Bitmap::reshape(int width, int height, PixelFormat format) {
  if (width <= 0 || height <= 0 || format == PixelFormat::None || IsIndexed(format)) return false;
  const std::size_t stride = StrideFor(width, format);
  if (stride == 0 || std::uint64_t(stride) * std::uint64_t(height) != pixels_.size()) return false;
  width_ = width;
  height_ = height;
  format_ = format;
  stride_ = stride;
  palette_.clear();
  return true;
}

int Bitmap::index(int x, int y) const {
  const std::uint8_t* r = row(y);
  switch (format_) {
    case PixelFormat::Indexed1:
      return (r[x >> 3] >> (7 - (x & 7))) & 1;
    case PixelFormat::Indexed4:
      return (x & 1) ? (r[x >> 1] & 0x0F) : (r[x >> 1] >> 4);
    case PixelFormat::Indexed8:
      return r[x];
    default:
      return 0;
  }
}

void Bitmap::setIndex(int x, int y, int index) {
  std::uint8_t* r = row(y);
  switch (format_) {
    case PixelFormat::Indexed1: {
      const std::uint8_t mask = static_cast<std::uint8_t>(0x80 >> (x & 7));
      r[x >> 3] = static_cast<std::uint8_t>((index & 1) ? (r[x >> 3] | mask) : (r[x >> 3] & ~mask));
      break;
    }
    case PixelFormat::Indexed4: {
      std::uint8_t& b = r[x >> 1];
      b = (x & 1) ? static_cast<std::uint8_t>((b & 0xF0) | (index & 0x0F))
                  : static_cast<std::uint8_t>((b & 0x0F) | ((index & 0x0F) << 4));
      break;
    }
    case PixelFormat::Indexed8:
      r[x] = static_cast<std::uint8_t>(index);
      break;
    default:
      break;
  }
}

Rgb Bitmap::pixel(int x, int y) const {
  switch (format_) {
    case PixelFormat::Bgr24: {
      const std::uint8_t* p = row(y) + 3 * std::size_t(x);
      return MakeRgb(p[2], p[1], p[0]);
    }
    case PixelFormat::Bgrx32: {
      const std::uint8_t* p = row(y) + 4 * std::size_t(x);
      return MakeRgb(p[2], p[1], p[0]);
    }
    case PixelFormat::None:
      return 0;
    default: {
      const int i = index(x, y);
      return i < static_cast<int>(palette_.size()) ? palette_[i] : 0;
    }
  }
}

void Bitmap::setPixel(int x, int y, Rgb c) {
  switch (format_) {
    case PixelFormat::Bgr24: {
      std::uint8_t* p = row(y) + 3 * std::size_t(x);
      p[0] = BlueOf(c), p[1] = GreenOf(c), p[2] = RedOf(c);
      break;
    }
    case PixelFormat::Bgrx32: {
      std::uint8_t* p = row(y) + 4 * std::size_t(x);
      p[0] = BlueOf(c), p[1] = GreenOf(c), p[2] = RedOf(c), p[3] = 0;
      break;
    }
    case PixelFormat::None:
      break;
    default:
      setIndex(x, y, NearestPaletteIndex(palette_, c));
      break;
  }
}

void Bitmap::convertTo24() {
  if (empty() || format_ == PixelFormat::Bgr24) return;
  Bitmap out;
  if (!out.allocate(width_, height_, PixelFormat::Bgr24)) return;
  for (int y = 0; y < height_; ++y) {
    std::uint8_t* d = out.row(y);
    if (format_ == PixelFormat::Bgrx32) {
      Bgrx32ToBgr24Row(row(y), d, std::size_t(width_));
    } else {
      for (int x = 0; x < width_; ++x, d += 3) {
        const Rgb c = pixel(x, y);
        d[0] = BlueOf(c), d[1] = GreenOf(c), d[2] = RedOf(c);
      }
    }
  }
  *this = std::move(out);
}

int NearestPaletteIndex(const std::vector<Rgb>& palette, Rgb c) {
  int best = 0;
  int bestDistance = INT_MAX;
  for (int i = 0; i < static_cast<int>(palette.size()); ++i) {
    const int dr = int(RedOf(palette[i])) - RedOf(c);
    const int dg = int(GreenOf(palette[i])) - GreenOf(c);
    const int db = int(BlueOf(palette[i])) - BlueOf(c);
    const int d = dr * dr + dg * dg + db * db;
    if (d < bestDistance) {
      bestDistance = d;
      best = i;
      if (d == 0) break;
    }
  }
  return best;
}

bool Bitmap::convertToIndexed(PixelFormat format, const std::vector<Rgb>& palette) {
  if (!IsIndexed(format) || palette.empty() ||
      palette.size() > (std::size_t{1} << BitsPerPixel(format)) || empty()) {
    return false;
  }
  Bitmap out;
  if (!out.allocate(width_, height_, format)) return false;
  out.palette_ = palette;
  for (int y = 0; y < height_; ++y) {
    for (int x = 0; x < width_; ++x) out.setIndex(x, y, NearestPaletteIndex(palette, pixel(x, y)));
  }
  *this = std::move(out);
  return true;
}

RowsToBgrx32::RowsToBgrx32(PixelFormat format, const std::vector<Rgb>& palette)
    : format_(format), perByte_(IsIndexed(format) ? 8 / BitsPerPixel(format) : 0) {
  if (!perByte_) return;
  runs_.resize(256 * std::size_t(perByte_));
  const int bits = BitsPerPixel(format);
  const unsigned mask = (1u << bits) - 1;
  for (unsigned byte = 0; byte < 256; ++byte) {
    for (int k = 0; k < perByte_; ++k) {
      // The first pixel is in the top bits.
      const unsigned index = (byte >> (8 - bits * (k + 1))) & mask;
      runs_[byte * perByte_ + k] = index < palette.size() ? palette[index] & 0xFFFFFFu : 0;
    }
  }
}

void RowsToBgrx32::operator()(const std::uint8_t* row, std::uint8_t* out, int width) const {
  if (format_ == PixelFormat::Bgrx32) {
    std::memcpy(out, row, 4 * std::size_t(width));
    return;
  }
  if (format_ == PixelFormat::Bgr24) {
    Bgr24ToBgrx32Row(row, out, std::size_t(width));
    return;
  }
  if (!perByte_) return;
  const std::size_t whole = std::size_t(width) / perByte_, rest = std::size_t(width) % perByte_;
  const std::uint32_t* runs = runs_.data();
  switch (perByte_) {  // fixed copy sizes, each a single store
    case 8:
      for (std::size_t i = 0; i < whole; ++i) std::memcpy(out + i * 32, runs + 8 * row[i], 32);
      break;
    case 2:
      for (std::size_t i = 0; i < whole; ++i) std::memcpy(out + i * 8, runs + 2 * row[i], 8);
      break;
    default:
      for (std::size_t i = 0; i < whole; ++i) std::memcpy(out + i * 4, runs + row[i], 4);
      break;
  }
  if (rest) std::memcpy(out + whole * 4 * perByte_, runs + perByte_ * row[whole], 4 * rest);
}

bool ConvertToBgrx32(const Bitmap& source, Bitmap& view) {
  if (source.empty()) return false;
  if (&source == &view) {
    if (source.format() == PixelFormat::Bgrx32) return true;
    const Bitmap copy = source;
    return ConvertToBgrx32(copy, view);
  }
  Bitmap fresh;
  const bool reuse = view.reshape(source.width(), source.height(), PixelFormat::Bgrx32);
  if (!reuse && !fresh.allocate(source.width(), source.height(), PixelFormat::Bgrx32)) return false;
  Bitmap& out = reuse ? view : fresh;
  const int width = source.width();
  const RowsToBgrx32 convert(source.format(), source.palette());
  // Rows on all cores; nothing here throws, so every band completes.
  ForRowBands(source.height(), std::size_t(width) * source.height(), [&](int begin, int end) {
    for (int y = begin; y < end; ++y) convert(source.row(y), out.row(y), width);
  });
  if (!reuse) view = std::move(fresh);
  return true;
}

bool operator==(const Bitmap& a, const Bitmap& b) {
  return a.width_ == b.width_ && a.height_ == b.height_ && a.format_ == b.format_ &&
         a.palette_ == b.palette_ && a.pixels_ == b.pixels_;
}

}  // namespace lumivore
