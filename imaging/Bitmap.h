// The program's bitmap: a plain pixel container with no GUI dependency.
//
// Rows are stored top row first, each padded to a multiple of four bytes so
// that the GUI can wrap the storage without copying. 24-bit pixels are three
// bytes blue, green, red; 32-bit pixels are blue, green, red and an ignored
// fourth byte. Palette formats keep their indices packed most significant bit
// first, as BMP files do.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <new>
#include <utility>
#include <vector>

namespace lumivore {

enum class PixelFormat : std::uint8_t {
  None = 0,
  Indexed1 = 1,
  Indexed4 = 4,
  Indexed8 = 8,
  Bgr24 = 24,
  Bgrx32 = 32,
};

// A colour as 0x00RRGGBB (the layout of QRgb without its alpha byte).
using Rgb = std::uint32_t;

constexpr Rgb MakeRgb(std::uint8_t r, std::uint8_t g, std::uint8_t b) {
  return (Rgb{r} << 16) | (Rgb{g} << 8) | Rgb{b};
}
constexpr std::uint8_t RedOf(Rgb c) { return static_cast<std::uint8_t>(c >> 16); }
constexpr std::uint8_t GreenOf(Rgb c) { return static_cast<std::uint8_t>(c >> 8); }
constexpr std::uint8_t BlueOf(Rgb c) { return static_cast<std::uint8_t>(c); }

// A platform colour value (red in bits 0-7, green 8-15, blue 16-23) to Rgb and back.
constexpr Rgb RgbFromColorRef(std::uint32_t v) {
  return MakeRgb(static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8),
                 static_cast<std::uint8_t>(v >> 16));
}
constexpr std::uint32_t ColorRefFromRgb(Rgb c) {
  return std::uint32_t{RedOf(c)} | (std::uint32_t{GreenOf(c)} << 8) |
         (std::uint32_t{BlueOf(c)} << 16);
}

// Pixel storage that comes zeroed without a pass over it. A large block is
// mapped straight from the system as fresh pages, which the system zeroes
// as each is first touched, by the code that fills it (several threads at
// once, for the transforms); calloc would often hand back memory freed
// before and clear all of it on one core first. Small blocks come from
// calloc. Value-initialising an element writes nothing, which is only right
// on such memory: pixel vectors are made at their final size and never
// grown. `AllocateZeroed` throws std::bad_alloc when memory runs out;
// `FreeZeroed` takes the same size back.
void* AllocateZeroed(std::size_t bytes);
void FreeZeroed(void* block, std::size_t bytes);
// Asks the system to back a large block with huge pages where it can: a
// 4K picture then takes a few hundred page faults instead of tens of
// thousands.
void AdviseLargePages(void* block, std::size_t bytes);

template <typename T>
struct ZeroedAllocator {
  using value_type = T;
  ZeroedAllocator() = default;
  template <typename U>
  ZeroedAllocator(const ZeroedAllocator<U>&) {}
  T* allocate(std::size_t n) {
    if (n > SIZE_MAX / sizeof(T)) throw std::bad_alloc();
    return static_cast<T*>(AllocateZeroed(n * sizeof(T)));
  }
  void deallocate(T* p, std::size_t n) { FreeZeroed(p, n * sizeof(T)); }
  template <typename U>
  void construct(U*) noexcept {}
  template <typename U, typename... Args>
  void construct(U* p, Args&&... args) {
    ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
  }
  friend bool operator==(const ZeroedAllocator&, const ZeroedAllocator&) { return true; }
};

int BitsPerPixel(PixelFormat f);
bool IsIndexed(PixelFormat f);

class Bitmap {
 public:
  Bitmap() = default;
  // Copies are one memcpy of the pixels (the vector's own copy goes byte by
  // byte through the allocator); a copy assigned over storage of the same
  // size is written where it is.
  Bitmap(const Bitmap& other);
  Bitmap& operator=(const Bitmap& other);
  Bitmap(Bitmap&&) noexcept = default;
  Bitmap& operator=(Bitmap&&) noexcept = default;

  int width() const { return width_; }
  int height() const { return height_; }
  PixelFormat format() const { return format_; }
  // Empty: no picture at all (no size or no format).
  bool empty() const { return width_ <= 0 || height_ <= 0 || format_ == PixelFormat::None; }
  std::size_t stride() const { return stride_; }
  std::size_t byteSize() const { return pixels_.size(); }

  std::uint8_t* row(int y) { return pixels_.data() + static_cast<std::size_t>(y) * stride_; }
  const std::uint8_t* row(int y) const {
    return pixels_.data() + static_cast<std::size_t>(y) * stride_;
  }
  std::uint8_t* bits() { return pixels_.data(); }
  const std::uint8_t* bits() const { return pixels_.data(); }

  const std::vector<Rgb>& palette() const { return palette_; }
  void setPalette(std::vector<Rgb> palette) { palette_ = std::move(palette); }

  // Gives the bitmap a new size and format with zeroed pixels. Palette formats
  // get a grey ramp until setPalette is called. Returns false, leaving the
  // bitmap untouched, when the size is not positive or would not fit in memory
  // limits of 2^31 bytes.
  bool allocate(int width, int height, PixelFormat format);
  void clear();
  // Gives the bitmap a new size and format over the storage it already has,
  // when that holds exactly the bytes needed: the old bytes stay, for the
  // caller to write over (a turned picture of the same size, for one).
  // False, changing nothing, otherwise.
  bool reshape(int width, int height, PixelFormat format);

  // The colour of one pixel, whatever the format.
  Rgb pixel(int x, int y) const;
  // Sets one pixel of a 24- or 32-bit bitmap, or one index of a palette bitmap.
  void setPixel(int x, int y, Rgb colour);
  void setIndex(int x, int y, int index);
  int index(int x, int y) const;

  // Converts the pixels in place to 24-bit. An empty bitmap stays empty.
  void convertTo24();
  // Converts to a palette format, mapping each pixel to the nearest colour of
  // the given palette (at most 2^bits entries). Returns false for a non-palette
  // format or a palette that is too large or empty.
  bool convertToIndexed(PixelFormat format, const std::vector<Rgb>& palette);

  friend bool operator==(const Bitmap& a, const Bitmap& b);

 private:
  int width_ = 0;
  int height_ = 0;
  PixelFormat format_ = PixelFormat::None;
  std::size_t stride_ = 0;
  std::vector<std::uint8_t, ZeroedAllocator<std::uint8_t>> pixels_;
  std::vector<Rgb> palette_;
};

// Row stride in bytes for a width and format, padded to four bytes; 0 on overflow.
std::size_t StrideFor(int width, PixelFormat format);
// Index of the palette colour nearest to c (squared RGB distance, first wins ties).
int NearestPaletteIndex(const std::vector<Rgb>& palette, Rgb c);

// Rows of any format as 32-bit pixels, as the screen shows them: palette
// and 24-bit pixels get a zero fourth byte, 32-bit rows are copied as they
// are. Each byte of palette indices is looked up whole, as the run of pixels
// it stands for.
class RowsToBgrx32 {
 public:
  RowsToBgrx32(PixelFormat format, const std::vector<Rgb>& palette);
  void operator()(const std::uint8_t* row, std::uint8_t* out, int width) const;

 private:
  PixelFormat format_;
  int perByte_;                      // pixels per byte of indices
  std::vector<std::uint32_t> runs_;  // per byte value, its perByte_ pixels
};

// The picture as 32-bit pixels, as the screen shows it: palette and 24-bit
// pixels get a zero fourth byte, 32-bit pixels are copied as they are. A
// `view` whose storage holds exactly the bytes needed (the same size, or
// turned) is written over in place: a large picture then costs one pass over
// its pixels, not a fresh allocation as well. Otherwise it is replaced.
// False, `view` untouched, for an empty picture or when memory runs out.
bool ConvertToBgrx32(const Bitmap& source, Bitmap& view);

}  // namespace lumivore
