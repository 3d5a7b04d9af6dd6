#include "imaging/Filters.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <type_traits>
#include <unordered_map>

#include "imaging/RowBands.h"

namespace lumivore {
namespace {

bool IsFullColour(const Bitmap& b) {
  return !b.empty() && (b.format() == PixelFormat::Bgr24 || b.format() == PixelFormat::Bgrx32);
}

int BytesPerPixel(const Bitmap& b) { return b.format() == PixelFormat::Bgrx32 ? 4 : 3; }

std::uint8_t Clamp8(int v) { return static_cast<std::uint8_t>(std::clamp(v, 0, 255)); }

// Maps colours to the nearest entry of one palette, remembering each answer:
// the pictures mapped here hold few distinct colours.
class PaletteMapper {
 public:
  explicit PaletteMapper(const std::vector<Rgb>& palette) : palette_(palette) {}
  int operator()(Rgb c) {
    if (c == lastColour_ && last_ >= 0) return last_;
    auto [it, fresh] = cache_.try_emplace(c, 0);
    if (fresh) it->second = NearestPaletteIndex(palette_, c);
    lastColour_ = c;
    last_ = it->second;
    return last_;
  }

 private:
  const std::vector<Rgb>& palette_;
  std::unordered_map<Rgb, int> cache_;
  Rgb lastColour_ = 0;
  int last_ = -1;
};

// Nearest entries of the 16-colour palette for every cell of 8 x 8 x 8
// colour values. The set of colours nearest to one entry (ties going to the
// first entry) is an intersection of half-spaces, hence convex: when the
// eight corners of a cell share their nearest entry, so does the whole cell.
// Cells split between entries hold kMixed and are searched pixel by pixel.
constexpr std::uint8_t kMixed = 0xFF;

const std::array<std::uint8_t, 32 * 32 * 32>& Nearest16Cells() {
  static const auto cells = [] {
    const std::vector<Rgb>& palette = StandardPalette16();
    // Nearest entry at each corner value 8k and 8k + 7 of every channel.
    auto corner = [](int i) { return (i >> 1) * 8 + (i & 1) * 7; };
    std::vector<std::uint8_t> atCorner(64 * 64 * 64);
    for (int r = 0; r < 64; ++r)
      for (int g = 0; g < 64; ++g)
        for (int b = 0; b < 64; ++b) {
          const Rgb c = MakeRgb(corner(r), corner(g), corner(b));
          atCorner[(r * 64 + g) * 64 + b] =
              static_cast<std::uint8_t>(NearestPaletteIndex(palette, c));
        }
    std::array<std::uint8_t, 32 * 32 * 32> out{};
    for (int r = 0; r < 32; ++r)
      for (int g = 0; g < 32; ++g)
        for (int b = 0; b < 32; ++b) {
          const std::uint8_t first = atCorner[((2 * r) * 64 + 2 * g) * 64 + 2 * b];
          std::uint8_t value = first;
          for (int k = 1; k < 8 && value != kMixed; ++k) {
            const int cr = 2 * r + (k >> 2), cg = 2 * g + ((k >> 1) & 1), cb = 2 * b + (k & 1);
            if (atCorner[(cr * 64 + cg) * 64 + cb] != first) value = kMixed;
          }
          out[(r * 32 + g) * 32 + b] = value;
        }
    return out;
  }();
  return cells;
}

// Runs `rowOp(source row, destination row)` over every row, bands of rows on
// all cores, in place when `out` is the source, else into a fresh bitmap of
// `format` that replaces `out` at the end.
template <typename RowOp>
bool MapRows(const Bitmap& source, Bitmap& out, PixelFormat format, RowOp rowOp) {
  const bool inPlace = &source == &out;
  Bitmap fresh;
  if (!inPlace && !fresh.allocate(source.width(), source.height(), format)) return false;
  Bitmap& target = inPlace ? out : fresh;
  const bool ok = ForRowBands(source.height(), std::size_t(source.width()) * source.height(),
                              [&](int begin, int end) {
                                RowOp op = rowOp;  // a private copy: no byte store aliases it
                                for (int y = begin; y < end; ++y) op(source.row(y), target.row(y));
                              });
  if (!ok) return false;
  if (!inPlace) out = std::move(fresh);
  return true;
}

}  // namespace

bool SepiaTone(Bitmap& bitmap) { return SepiaTone(bitmap, bitmap); }

bool SepiaTone(const Bitmap& source, Bitmap& out) {
  if (!IsFullColour(source)) return false;
  // The tone offsets, worked out once in floating point and truncated toward
  // zero: -35 for blue, -13 for green (subtracted), 22 for red.
  const int blueOffset = static_cast<int>(1.4026 * (-0.1) * 255);
  const int greenOffset = static_cast<int>(0.3444 * 0.05 * 255 + 0.7114 * (-0.1) * 255);
  const int redOffset = static_cast<int>(1.733 * 0.05 * 255);
  const bool inPlace = &source == &out;
  const int width = source.width();
  // Plain arithmetic on fixed pixel sizes, which the compiler turns into
  // vector code (a table lookup per pixel would not vectorise).
  const auto tone = [=](auto inStep, auto outStep) {
    return [=](const std::uint8_t* s, std::uint8_t* d, int n) {
      // Byte stores may alias the captured values: the loop uses local copies.
      const int ob = blueOffset, og = -greenOffset, orr = redOffset;
      for (int x = 0; x < n; ++x, s += inStep, d += outStep) {
        const int y = static_cast<int>((114u * s[0] + 587u * s[1] + 299u * s[2]) / 1000u);
        d[0] = Clamp8(y + ob);
        d[1] = Clamp8(y + og);
        d[2] = Clamp8(y + orr);
      }
    };
  };
  const auto wholeRow = [width](auto tonePixels) {
    return [=](const std::uint8_t* s, std::uint8_t* d) { tonePixels(s, d, width); };
  };
  using Three = std::integral_constant<int, 3>;
  using Four = std::integral_constant<int, 4>;
  if (!inPlace) {
    return BytesPerPixel(source) == 3
               ? MapRows(source, out, PixelFormat::Bgr24, wholeRow(tone(Three{}, Three{})))
               : MapRows(source, out, PixelFormat::Bgr24, wholeRow(tone(Four{}, Three{})));
  }
  // In place the row is read through a small copy, so that reads and writes
  // never overlap and the vector loop is taken.
  const auto viaChunks = [width](auto step, auto tonePixels) {
    return [=](const std::uint8_t* s, std::uint8_t* d) {
      constexpr int kChunk = 256;
      std::uint8_t chunk[kChunk * decltype(step)::value];
      for (int x = 0; x < width; x += kChunk) {
        const int n = std::min(kChunk, width - x);
        const std::size_t at = std::size_t(x) * step;
        std::memcpy(chunk, s + at, std::size_t(n) * step);
        tonePixels(chunk, d + at, n);
      }
    };
  };
  return BytesPerPixel(source) == 3
             ? MapRows(source, out, PixelFormat::Bgr24, viaChunks(Three{}, tone(Three{}, Three{})))
             : MapRows(source, out, PixelFormat::Bgr24, viaChunks(Four{}, tone(Four{}, Four{})));
}

bool InvertColours(Bitmap& bitmap) { return InvertColours(bitmap, bitmap); }

bool InvertColours(const Bitmap& source, Bitmap& out) {
  if (source.empty()) return false;
  if (IsIndexed(source.format())) {
    // The inverse of each entry, mapped back into the palette.
    const std::vector<Rgb>& palette = source.palette();
    std::vector<int> inverse(std::size_t{1} << BitsPerPixel(source.format()), 0);
    for (std::size_t i = 0; i < inverse.size(); ++i) {
      const Rgb c = i < palette.size() ? palette[i] : 0;
      inverse[i] = NearestPaletteIndex(palette, ~c & 0xFFFFFFu);
    }
    Bitmap result = source;
    for (int y = 0; y < result.height(); ++y)
      for (int x = 0; x < result.width(); ++x) result.setIndex(x, y, inverse[result.index(x, y)]);
    out = std::move(result);
    return true;
  }
  if (!IsFullColour(source)) return false;
  const std::size_t rowBytes = std::size_t(source.width()) * BytesPerPixel(source);
  if (source.format() == PixelFormat::Bgrx32) {
    return MapRows(source, out, source.format(),
                   [rowBytes](const std::uint8_t* s, std::uint8_t* d) {
                     for (std::size_t i = 0; i < rowBytes; i += 4) {
                       std::uint32_t v;
                       std::memcpy(&v, s + i, 4);
                       v ^= 0x00FFFFFFu;  // the fourth byte stays
                       std::memcpy(d + i, &v, 4);
                     }
                   });
  }
  return MapRows(source, out, source.format(), [rowBytes](const std::uint8_t* s, std::uint8_t* d) {
    for (std::size_t i = 0; i < rowBytes; ++i) d[i] = static_cast<std::uint8_t>(~s[i]);
  });
}

bool Mosaic(Bitmap& bitmap, int left, int top, int right, int bottom, int n) {
  if (!IsFullColour(bitmap) || n < 1) return false;
  left = std::max(left, 0), top = std::max(top, 0);
  right = std::min(right, bitmap.width()), bottom = std::min(bottom, bitmap.height());
  if (left >= right || top >= bottom) return true;
  const int step = BytesPerPixel(bitmap);
  const int blocks = (right - left - 1) / n + 1;
  const int blockRows = (bottom - top - 1) / n + 1;
  // Bands of block rows run on all cores, each with its own sums.
  return ForRowBands(blockRows, std::size_t(right - left) * (bottom - top),
                     [&](int first, int last) {
                       // Per block column: blue, green and red sums over the block's cells.
                       std::vector<std::uint64_t> sums(3 * std::size_t(blocks));
                       for (int i = first; i < last; ++i) {
                         // Block ends are worked out as start + min(n, rest), never start + n,
                         // which could overflow for a huge n.
                         const int y0 = top + static_cast<int>(static_cast<long long>(i) * n);
                         const int y1 = y0 + std::min(n, bottom - y0);
                         std::fill(sums.begin(), sums.end(), 0);
                         for (int y = y0; y < y1; ++y) {
                           const std::uint8_t* p = bitmap.row(y) + std::size_t(left) * step;
                           std::uint64_t* s = sums.data();
                           for (int x0 = left, x1; x0 < right; x0 = x1, s += 3) {
                             x1 = x0 + std::min(n, right - x0);
                             std::uint64_t b = 0, g = 0, r = 0;
                             for (int x = x0; x < x1; ++x, p += step)
                               b += p[0], g += p[1], r += p[2];
                             s[0] += b, s[1] += g, s[2] += r;
                           }
                         }
                         const std::uint64_t rows = std::uint64_t(y1 - y0);
                         for (int y = y0; y < y1; ++y) {
                           std::uint8_t* p = bitmap.row(y) + std::size_t(left) * step;
                           const std::uint64_t* s = sums.data();
                           for (int x0 = left, x1; x0 < right; x0 = x1, s += 3) {
                             x1 = x0 + std::min(n, right - x0);
                             const std::uint64_t cells = rows * std::uint64_t(x1 - x0);
                             const auto b = static_cast<std::uint8_t>(s[0] / cells);
                             const auto g = static_cast<std::uint8_t>(s[1] / cells);
                             const auto r = static_cast<std::uint8_t>(s[2] / cells);
                             for (int x = x0; x < x1; ++x, p += step) p[0] = b, p[1] = g, p[2] = r;
                           }
                         }
                       }
                     });
}

const std::vector<Rgb>& MonoPalette() {
  static const std::vector<Rgb> palette = {MakeRgb(0, 0, 0), MakeRgb(255, 255, 255)};
  return palette;
}

const std::vector<Rgb>& StandardPalette16() {
  static const std::vector<Rgb> palette = {
      MakeRgb(0, 0, 0),       MakeRgb(128, 0, 0),   MakeRgb(0, 128, 0),   MakeRgb(128, 128, 0),
      MakeRgb(0, 0, 128),     MakeRgb(128, 0, 128), MakeRgb(0, 128, 128), MakeRgb(192, 192, 192),
      MakeRgb(128, 128, 128), MakeRgb(255, 0, 0),   MakeRgb(0, 255, 0),   MakeRgb(255, 255, 0),
      MakeRgb(0, 0, 255),     MakeRgb(255, 0, 255), MakeRgb(0, 255, 255), MakeRgb(255, 255, 255),
  };
  return palette;
}

bool ReduceToMono(const Bitmap& bitmap, Bitmap& result) {
  if (!IsFullColour(bitmap)) return false;
  Bitmap out;
  if (!out.allocate(bitmap.width(), bitmap.height(), PixelFormat::Indexed1)) return false;
  out.setPalette(MonoPalette());
  const int step = BytesPerPixel(bitmap);
  const int width = bitmap.width(), height = bitmap.height();
  // White is nearer exactly when r + g + b > 382.5 (squared distances).
  const auto white = [](const std::uint8_t* p) {
    return unsigned(p[0]) + p[1] + p[2] >= 383u ? 1u : 0u;
  };
  const bool ok = ForRowBands(height, std::size_t(width) * height, [&](int begin, int end) {
    const int wd = width, st = step;  // locals: byte stores cannot alias them
    for (int y = begin; y < end; ++y) {
      const std::uint8_t* p = bitmap.row(y);
      std::uint8_t* d = out.row(y);
      int x0 = 0;
      for (; x0 + 8 <= wd; x0 += 8, p += 8 * st) {
        unsigned byte = 0;
        for (int k = 0; k < 8; ++k) byte = (byte << 1) | white(p + k * st);
        *d++ = static_cast<std::uint8_t>(byte);
      }
      if (x0 < wd) {
        unsigned byte = 0;
        for (int x = x0; x < wd; ++x, p += st) byte = (byte << 1) | white(p);
        *d = static_cast<std::uint8_t>(byte << (8 - (wd - x0)));
      }
    }
  });
  if (!ok) return false;
  result = std::move(out);
  return true;
}

bool ReduceTo16Colours(const Bitmap& bitmap, Bitmap& result) {
  if (!IsFullColour(bitmap)) return false;
  Bitmap out;
  if (!out.allocate(bitmap.width(), bitmap.height(), PixelFormat::Indexed4)) return false;
  const std::vector<Rgb>& palette = StandardPalette16();
  out.setPalette(palette);
  const auto& cells = Nearest16Cells();
  const auto nearest = [&](const std::uint8_t* p) {
    const std::uint8_t cell = cells[((p[2] >> 3) << 10) | ((p[1] >> 3) << 5) | (p[0] >> 3)];
    return cell != kMixed ? unsigned(cell)
                          : unsigned(NearestPaletteIndex(palette, MakeRgb(p[2], p[1], p[0])));
  };
  const int step = BytesPerPixel(bitmap);
  const int w = bitmap.width();
  const int h = bitmap.height();
  const bool ok = ForRowBands(h, std::size_t(w) * h, [&](int begin, int end) {
    const int wd = w, st = step;  // locals: byte stores cannot alias them
    for (int y = begin; y < end; ++y) {
      const std::uint8_t* p = bitmap.row(y);
      std::uint8_t* d = out.row(y);
      int x = 0;
      for (; x + 1 < wd; x += 2, p += 2 * st)
        *d++ = static_cast<std::uint8_t>((nearest(p) << 4) | nearest(p + st));
      if (x < wd) *d = static_cast<std::uint8_t>(nearest(p) << 4);
    }
  });
  if (!ok) return false;
  result = std::move(out);
  return true;
}

bool DrawIntoPalette(const Bitmap& source, Bitmap& destination) {
  if (!IsFullColour(source) || !IsIndexed(destination.format()) ||
      source.width() != destination.width() || source.height() != destination.height())
    return false;
  PaletteMapper map(destination.palette());
  for (int y = 0; y < source.height(); ++y)
    for (int x = 0; x < source.width(); ++x) destination.setIndex(x, y, map(source.pixel(x, y)));
  return true;
}

}  // namespace lumivore
