// Scaling, flipping/rotating and grey conversion of bitmaps. Every routine
// builds its result in a fresh bitmap and moves it into place only on
// success, so a failure leaves the result bitmap as it was.
#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <vector>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

#include "imaging/Codec.h"
#include "imaging/PixelKernels.h"
#include "imaging/RowBands.h"
#include "imaging/Usr_wic.h"

namespace lumivore {
namespace {

bool ResultSizeAllowed(long long width, long long height) {
  return width > 0 && height > 0 && 3 * width * height < (1LL << 31);
}

// Makes a bitmap 24-bit in place; false when that was impossible.
bool MakeBgr24(Bitmap& bitmap) {
  if (bitmap.empty()) return false;
  bitmap.convertTo24();
  return bitmap.format() == PixelFormat::Bgr24;
}

// ---------------------------------------------------------------- scaling

constexpr int kWeightBits = 14;
constexpr int kWeightOne = 1 << kWeightBits;
// Horizontal results keep 8 bits below the integer grey level.
constexpr int kMidShift = kWeightBits - 8;

enum class Kernel { Linear, Cubic, Area };

// For each output position, the first source index and `taps` fixed-point
// weights (zero-padded), summing to exactly kWeightOne. Indices outside the
// source fold onto the edge pixel.
struct FilterTable {
  int taps = 0;
  std::vector<int> start;
  std::vector<int> weights;  // taps entries per output
};

double Cubic(double x) {  // Catmull-Rom (a = -0.5)
  x = std::fabs(x);
  if (x < 1.0) return (1.5 * x - 2.5) * x * x + 1.0;
  if (x < 2.0) return ((-0.5 * x + 2.5) * x - 4.0) * x + 2.0;
  return 0.0;
}

FilterTable MakeTable(int source, int dest, Kernel kernel) {
  const double scale = double(source) / dest;
  std::vector<std::vector<std::pair<int, double>>> all(dest);
  FilterTable t;
  t.taps = 1;
  t.start.resize(dest);
  for (int i = 0; i < dest; ++i) {
    auto& contributions = all[i];
    if (kernel == Kernel::Area) {
      // Fant: the share of each source pixel in the output pixel's footprint.
      const double lo = i * scale, hi = (i + 1) * scale;
      for (int j = int(std::floor(lo)); j < hi && j < source; ++j) {
        const double overlap = std::min(hi, j + 1.0) - std::max(lo, double(j));
        if (overlap > 1e-9) contributions.push_back({j, overlap});
      }
      if (contributions.empty()) contributions.push_back({std::min(int(lo), source - 1), 1.0});
    } else {
      const double centre = (i + 0.5) * scale - 0.5;
      const int base = int(std::floor(centre));
      const double f = centre - base;
      if (kernel == Kernel::Linear) {
        contributions = {{base, 1.0 - f}, {base + 1, f}};
      } else {
        for (int k = -1; k <= 2; ++k) contributions.push_back({base + k, Cubic(k - f)});
      }
    }
    int first = source - 1, last = 0;
    for (auto& [index, w] : contributions) {
      index = std::clamp(index, 0, source - 1);
      first = std::min(first, index), last = std::max(last, index);
    }
    t.start[i] = first;
    t.taps = std::max(t.taps, last - first + 1);
  }
  // Every row of weights is t.taps wide and starts early enough to stay
  // inside the source; weights sum to kWeightOne exactly.
  t.weights.assign(std::size_t(dest) * t.taps, 0);
  std::vector<double> w(t.taps);
  for (int i = 0; i < dest; ++i) {
    t.start[i] = std::min(t.start[i], source - t.taps);
    std::fill(w.begin(), w.end(), 0.0);
    double sum = 0.0;
    for (const auto& [index, weight] : all[i]) w[index - t.start[i]] += weight, sum += weight;
    int* row = t.weights.data() + std::size_t(i) * t.taps;
    if (kernel == Kernel::Area) {
      // Each weight is the step between rounded running totals, so the
      // rounding error is spread over all taps and never builds up: at large
      // ratios the weights are a few units each, and giving the whole
      // remainder to one tap would skew the average towards that pixel.
      double running = 0.0;
      int given = 0;
      for (int k = 0; k < t.taps; ++k) {
        running += w[k] / sum * kWeightOne;
        const int upTo = k + 1 == t.taps ? kWeightOne : static_cast<int>(std::lround(running));
        row[k] = upTo - given;
        given = upTo;
      }
      continue;
    }
    int total = 0, biggest = 0;
    for (int k = 0; k < t.taps; ++k) {
      row[k] = static_cast<int>(std::lround(w[k] / sum * kWeightOne));
      total += row[k];
      if (std::abs(row[k]) > std::abs(row[biggest])) biggest = k;
    }
    row[biggest] += kWeightOne - total;
  }
  return t;
}

// Horizontal pass of one row; Taps > 0 fixes the tap count at compile time
// so the common two- and four-tap kernels unroll.
template <int Taps>
void FilterRow(const std::uint8_t* s, int* d, const FilterTable& t, int width) {
  const int taps = Taps > 0 ? Taps : t.taps;
  const int half = 1 << (kMidShift - 1);
  const int* w = t.weights.data();
  for (int x = 0; x < width; ++x, d += 3, w += taps) {
    const std::uint8_t* p = s + 3 * t.start[x];
    int b = half, g = half, r = half;
    for (int k = 0; k < taps; ++k, p += 3) {
      b += w[k] * p[0], g += w[k] * p[1], r += w[k] * p[2];
    }
    d[0] = b >> kMidShift, d[1] = g >> kMidShift, d[2] = r >> kMidShift;
  }
}

std::uint8_t Clamp8(int v) { return static_cast<std::uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v); }

template <int Taps>
void BlendRows(const int* const* rows, const int* w, std::uint8_t* d, std::size_t count, int taps) {
  if constexpr (Taps > 0) taps = Taps;
  constexpr int shift = kWeightBits + 8;
  for (std::size_t i = 0; i < count; ++i) {
    int sum = 1 << (shift - 1);
    for (int k = 0; k < taps; ++k) sum += w[k] * rows[k][i];
    d[i] = Clamp8(sum >> shift);
  }
}

// Separable resampling of output rows [yBegin, yEnd): each source row is
// filtered horizontally once into a small ring of rows, and output rows
// blend the ring vertically.
void ScaleRows(const Bitmap& src, Bitmap& dst, const FilterTable& h, const FilterTable& v,
               int yBegin, int yEnd) {
  const int dw = dst.width();
  const int ringRows = v.taps;
  const std::size_t rowInts = 3 * std::size_t(dw);
  std::vector<int> ring(rowInts * ringRows);
  std::vector<int> ringSource(ringRows, -1);
  std::vector<const int*> rows(ringRows);
  const auto filter = h.taps == 2 ? FilterRow<2> : h.taps == 4 ? FilterRow<4> : FilterRow<0>;
  const auto blend = v.taps == 2 ? BlendRows<2> : v.taps == 4 ? BlendRows<4> : BlendRows<0>;
  for (int y = yBegin; y < yEnd; ++y) {
    for (int k = 0; k < v.taps; ++k) {
      const int sy = v.start[y] + k;
      const int slot = sy % ringRows;
      int* buffer = ring.data() + rowInts * slot;
      if (ringSource[slot] != sy) {
        filter(src.row(sy), buffer, h, dw);
        ringSource[slot] = sy;
      }
      rows[k] = buffer;
    }
    blend(rows.data(), v.weights.data() + std::size_t(y) * v.taps, dst.row(y), rowInts, v.taps);
  }
}

// Vertical pass of one output row straight from the source rows: the bytes
// are contiguous, so the compiler vectorises the loop.
template <int Taps>
void BlendSourceRows(const std::uint8_t* const* rows, const int* w, int* d, std::size_t count,
                     int taps) {
  if constexpr (Taps > 0) taps = Taps;
  const int half = 1 << (kMidShift - 1);
  for (std::size_t i = 0; i < count; ++i) {
    int sum = half;
    for (int k = 0; k < taps; ++k) sum += w[k] * rows[k][i];
    d[i] = sum >> kMidShift;
  }
}

template <int Taps>
void FilterMidRow(const int* s, std::uint8_t* d, const FilterTable& t, int width) {
  const int taps = Taps > 0 ? Taps : t.taps;
  constexpr int shift = kWeightBits + 8;
  const int* w = t.weights.data();
  for (int x = 0; x < width; ++x, d += 3, w += taps) {
    const int* p = s + 3 * t.start[x];
    int b = 1 << (shift - 1), g = b, r = b;
    for (int k = 0; k < taps; ++k, p += 3) {
      b += w[k] * p[0], g += w[k] * p[1], r += w[k] * p[2];
    }
    d[0] = Clamp8(b >> shift), d[1] = Clamp8(g >> shift), d[2] = Clamp8(r >> shift);
  }
}

// When the height shrinks, blending rows first means the (scalar)
// horizontal pass runs once per output row instead of once per source row.
void ShrinkRows(const Bitmap& src, Bitmap& dst, const FilterTable& h, const FilterTable& v,
                int yBegin, int yEnd) {
  std::vector<int> mid(3 * std::size_t(src.width()));
  std::vector<const std::uint8_t*> rows(v.taps);
  const auto blend = v.taps == 2   ? BlendSourceRows<2>
                     : v.taps == 4 ? BlendSourceRows<4>
                                   : BlendSourceRows<0>;
  const auto filter = h.taps == 2   ? FilterMidRow<2>
                      : h.taps == 4 ? FilterMidRow<4>
                                    : FilterMidRow<0>;
  for (int y = yBegin; y < yEnd; ++y) {
    for (int k = 0; k < v.taps; ++k) rows[k] = src.row(v.start[y] + k);
    blend(rows.data(), v.weights.data() + std::size_t(y) * v.taps, mid.data(), mid.size(), v.taps);
    filter(mid.data(), dst.row(y), h, dst.width());
  }
}

// Nearest neighbour, the source pixel under each output pixel's centre.
// Output rows of the same source row are copies of the first one; pixels
// are moved four bytes at a time (the fourth byte is overwritten by the next
// pixel), except where that would reach past the source row or the output
// row.
bool ScaleNearest(const Bitmap& src, Bitmap& dst) {
  const int sw = src.width(), sh = src.height(), dw = dst.width(), dh = dst.height();
  std::vector<std::uint32_t> xOffset(dw);
  int wide = 0;  // output pixels [0, wide) may be moved as four bytes
  for (int x = 0; x < dw; ++x) {
    const int sx = std::min(int((x + 0.5) * sw / dw), sw - 1);
    xOffset[x] = 3 * sx;
    if (sx < sw - 1 && x < dw - 1) wide = x + 1;
  }
  const auto sourceRow = [&](int y) { return std::min(int((y + 0.5) * sh / dh), sh - 1); };
  return ForRowBands(dh, std::size_t(dw) * dh, [&](int begin, int end) {
    for (int y = begin; y < end; ++y) {
      std::uint8_t* d = dst.row(y);
      if (y > begin && sourceRow(y) == sourceRow(y - 1)) {
        std::memcpy(d, dst.row(y - 1), 3 * std::size_t(dw));
        continue;
      }
      const std::uint8_t* s = src.row(sourceRow(y));
      int x = 0;
      for (; x < wide; ++x, d += 3) std::memcpy(d, s + xOffset[x], 4);
      for (; x < dw; ++x, d += 3) std::memcpy(d, s + xOffset[x], 3);
    }
  });
}

bool ScaleSeparable(const Bitmap& src, Bitmap& dst, Kernel kernel) {
  const FilterTable h = MakeTable(src.width(), dst.width(), kernel);
  const FilterTable v = MakeTable(src.height(), dst.height(), kernel);
  const bool shrinking = dst.height() < src.height();
  return ForRowBands(dst.height(), std::size_t(dst.width()) * dst.height(),
                     [&](int begin, int end) {
                       (shrinking ? ShrinkRows : ScaleRows)(src, dst, h, v, begin, end);
                     });
}

// ------------------------------------------------------ flipping, rotating
//
// Results are 24-bit; sources are read as they are, 24-bit (`Step` 3) or
// 32-bit (`Step` 4). Where the processor has byte shuffles (SSSE3), four
// pixels move at a time: a quarter turn transposes 4 x 4 blocks of pixels in
// registers, a mirror reverses four pixels at once. The plain loops do
// the rest: the edges of blocks and pictures, and every pixel elsewhere.

// One source pixel as the low three bytes of a little-endian word: a
// 32-bit pixel with its ignored byte, a 24-bit one with the byte after it,
// which the caller makes sure lies inside the picture.
std::uint32_t LoadPixel(const std::uint8_t* p) {
  static_assert(std::endian::native == std::endian::little);
  std::uint32_t v;
  std::memcpy(&v, p, 4);
  return v;
}

// Writes `n` 24-bit pixels to `d`, taken from `s`, `s + step`, `s + 2 step`
// and so on (`Step` bytes each). Four pixels at a time are packed into three
// words and stored whole; the few left over are stored three bytes each, so
// nothing is written past the row. `wide` says that a four-byte read at each
// source pixel stays inside the picture (only the last pixel of a 24-bit
// picture without row padding has no byte after it).
template <int Step>
void GatherRow(const std::uint8_t* s, std::ptrdiff_t step, std::uint8_t* d, int n, bool wide) {
  int i = 0;
  if (Step == 4 || wide) {
    for (; i + 4 <= n; i += 4, s += 4 * step, d += 12) {
      const std::uint32_t a = LoadPixel(s), b = LoadPixel(s + step), c = LoadPixel(s + 2 * step),
                          e = LoadPixel(s + 3 * step);
      const std::uint32_t words[3] = {(a & 0xFFFFFF) | b << 24, (b >> 8 & 0xFFFF) | c << 16,
                                      (c >> 16 & 0xFF) | e << 8};
      std::memcpy(d, words, 12);
    }
  }
  for (; i < n; ++i, s += step, d += 3) d[0] = s[0], d[1] = s[1], d[2] = s[2];
}

// True when `bytes` bytes can be read at each of `n` pixels from `s` on,
// `step` bytes apart, without passing `end`.
bool ReadsFit(const std::uint8_t* s, std::ptrdiff_t step, int n, int bytes,
              const std::uint8_t* end) {
  const std::uint8_t* last = step > 0 ? s + (n - 1) * step : s;
  return end - last >= bytes;
}

#if defined(__x86_64__) || defined(__i386__)
#define LUMIVORE_SSSE3 __attribute__((target("ssse3")))

bool HasByteShuffle() {
  static const bool has = __builtin_cpu_supports("ssse3");
  return has;
}

// Four pixels from `p` on as four 32-bit lanes; a 24-bit load reads 16
// bytes, four more than the pixels, which the caller makes sure exist.
template <int Step>
LUMIVORE_SSSE3 __m128i LoadFour(const std::uint8_t* p) {
  const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
  if constexpr (Step == 4) return v;
  return _mm_shuffle_epi8(v, _mm_setr_epi8(0, 1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11, -1));
}

// Stores four 32-bit lanes as four 24-bit pixels: exactly 12 bytes.
LUMIVORE_SSSE3 void StoreFour(std::uint8_t* d, __m128i v) {
  v = _mm_shuffle_epi8(v, _mm_setr_epi8(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1));
  _mm_storel_epi64(reinterpret_cast<__m128i*>(d), v);
  const std::uint32_t high = static_cast<std::uint32_t>(_mm_cvtsi128_si32(_mm_srli_si128(v, 8)));
  std::memcpy(d + 8, &high, 4);
}

// One tile of a quarter turn, result rows [y0, y1) and columns [x0, x1),
// in 4 x 4 blocks: four source rows, `step` apart, give four result rows.
// Clockwise, result row y + k is source column y + k; else it is source
// column w - 1 - y - k, so the lanes come out in reverse. The tiles are
// tall and narrow, so the source is read along its rows, which the
// processor fetches ahead by itself; the result rows are written a few
// bytes each, so their lines are fetched ahead here, `kAhead` rows early.
// Returns the result rows done; every row done has all its columns
// [x0, x1) written.
template <int Step, bool Clockwise>
LUMIVORE_SSSE3 int TurnBlocks(const Bitmap& src, Bitmap& dst, std::ptrdiff_t step, int y0, int y1,
                              int x0, int x1, const std::uint8_t* end) {
  constexpr int kAhead = 32;
  const int w = src.width(), h = src.height();
  int y = y0;
  for (; y + 4 <= y1; y += 4) {
    const std::size_t column = Clockwise ? y : w - 4 - y;
    std::uint8_t* d[4] = {dst.row(y), dst.row(y + 1), dst.row(y + 2), dst.row(y + 3)};
    if (y + kAhead + 4 <= dst.height()) {
      for (int k = 0; k < 4; ++k) {
        const std::uint8_t* ahead = dst.row(y + kAhead + k) + 3 * std::size_t(x0);
        __builtin_prefetch(ahead, 1);
        __builtin_prefetch(ahead + 3 * std::size_t(x1 - x0) - 1, 1);
      }
    }
    int x = x0;
    for (; x + 4 <= x1; x += 4) {
      const std::uint8_t* s = src.row(Clockwise ? h - 1 - x : x) + Step * column;
      if (end - (Clockwise ? s : s + 3 * step) < 16) break;  // the picture's last bytes
      const __m128i r0 = LoadFour<Step>(s), r1 = LoadFour<Step>(s + step),
                    r2 = LoadFour<Step>(s + 2 * step), r3 = LoadFour<Step>(s + 3 * step);
      const __m128i t0 = _mm_unpacklo_epi32(r0, r1), t1 = _mm_unpackhi_epi32(r0, r1),
                    t2 = _mm_unpacklo_epi32(r2, r3), t3 = _mm_unpackhi_epi32(r2, r3);
      const __m128i lanes[4] = {_mm_unpacklo_epi64(t0, t2), _mm_unpackhi_epi64(t0, t2),
                                _mm_unpacklo_epi64(t1, t3), _mm_unpackhi_epi64(t1, t3)};
      for (int k = 0; k < 4; ++k)
        StoreFour(d[k] + 3 * std::size_t(x), lanes[Clockwise ? k : 3 - k]);
    }
    for (int k = 0; k < 4 && x < x1; ++k) {
      const std::uint8_t* s = src.row(Clockwise ? h - 1 - x : x) +
                              Step * std::size_t(Clockwise ? y + k : w - 1 - y - k);
      GatherRow<Step>(s, step, d[k] + 3 * std::size_t(x), x1 - x,
                      ReadsFit(s, step, x1 - x, 4, end));
    }
  }
  return y - y0;
}

// `n` pixels of a source row, from `s` on, reversed or not, into `d`: four
// at a time as far as 16-byte reads stay inside the picture. Returns the
// pixels done, a multiple of four.
template <int Step>
LUMIVORE_SSSE3 int CopyFours(const std::uint8_t* s, bool reverse, std::uint8_t* d, int n,
                             const std::uint8_t* end) {
  int i = 0;
  for (; i + 4 <= n; i += 4, d += 12) {
    const std::uint8_t* p = reverse ? s - Step * (i + 3) : s + Step * i;  // leftmost of the four
    if (end - p < 16) break;
    const __m128i v = LoadFour<Step>(p);
    StoreFour(d, reverse ? _mm_shuffle_epi32(v, 0x1B) : v);
  }
  return i;
}
#else
bool HasByteShuffle() { return false; }

template <int Step, bool Clockwise>
int TurnBlocks(const Bitmap&, Bitmap&, std::ptrdiff_t, int, int, int, int, const std::uint8_t*) {
  return 0;
}

template <int Step>
int CopyFours(const std::uint8_t*, bool, std::uint8_t*, int, const std::uint8_t*) {
  return 0;
}
#endif

// Turns a quarter: the result's row y is the source's column y, read bottom
// up (clockwise) or the source's column w - 1 - y, read top down
// (anticlockwise). It is walked in tiles of `kTileRows` result rows by
// `kTileColumns` columns (see TurnBlocks for their shape); each band of
// result rows runs on its own core, which also takes the fresh pages of its
// rows.
template <int Step, bool Clockwise>
bool TurnQuarter(const Bitmap& src, Bitmap& dst) {
  constexpr int kTileRows = 256, kTileColumns = 8;
  const int w = src.width(), h = src.height();
  const std::ptrdiff_t stride = static_cast<std::ptrdiff_t>(src.stride());
  const std::uint8_t* end = src.bits() + src.byteSize();
  // Result pixel (x, y) comes from source (y, h - 1 - x) or (w - 1 - y, x).
  const std::ptrdiff_t step = Clockwise ? -stride : stride;
  const bool blocks = HasByteShuffle();
  return ForRowBands(dst.height(), std::size_t(w) * h, [&](int yBegin, int yEnd) {
    for (int ty = yBegin; ty < yEnd; ty += kTileRows) {
      const int tyEnd = std::min(ty + kTileRows, yEnd);
      for (int tx = 0; tx < h; tx += kTileColumns) {
        const int txEnd = std::min(tx + kTileColumns, h);
        int y = ty;
        if (blocks) y += TurnBlocks<Step, Clockwise>(src, dst, step, ty, tyEnd, tx, txEnd, end);
        for (; y < tyEnd; ++y) {
          const std::uint8_t* s =
              src.row(Clockwise ? h - 1 - tx : tx) + Step * std::size_t(Clockwise ? y : w - 1 - y);
          GatherRow<Step>(s, step, dst.row(y) + 3 * std::size_t(tx), txEnd - tx,
                          ReadsFit(s, step, txEnd - tx, 4, end));
        }
      }
    }
  });
}

// Mirrors (code 4), turns upside down (5) or half round (2) into `result`;
// with `shown`, each new row is drawn there too as a 32-bit row while it is
// still in cache. `shown` may be the source itself for code 4, where each
// row is read whole before it is drawn again.
template <int Step>
bool FlipRows(const Bitmap& bitmap, Bitmap& result, unsigned code, Bitmap* shown) {
  const int w = bitmap.width(), h = bitmap.height();
  const std::uint8_t* end = bitmap.bits() + bitmap.byteSize();
  const bool reverse = code != 5;
  const std::ptrdiff_t step = reverse ? -Step : Step;
  const bool fours = HasByteShuffle();
  return ForRowBands(h, std::size_t(w) * h, [&](int begin, int stop) {
    for (int y = begin; y < stop; ++y) {
      const std::uint8_t* s = bitmap.row(code == 4 ? y : h - 1 - y);
      std::uint8_t* d = result.row(y);
      if (!reverse && Step == 3) {
        std::memcpy(d, s, 3 * std::size_t(w));
      } else {
        if (reverse) s += Step * std::size_t(w - 1);
        const int done = fours ? CopyFours<Step>(s, reverse, d, w, end) : 0;
        s += step * done;
        GatherRow<Step>(s, step, d + 3 * std::size_t(done), w - done,
                        ReadsFit(s, step, w - done, 4, end));
      }
      if (shown) Bgr24ToBgrx32Row(d, shown->row(y), std::size_t(w));
    }
  });
}

}  // namespace

bool WicScaleImage(Bitmap& source, Bitmap& destination, double factor, int width, int height,
                   int mode) {
  if (!(factor > 0) && (width == 0 || height == 0)) return false;
  try {
    if (!MakeBgr24(source)) return false;
    long long w = width, h = height;
    if (factor > 0) {
      w = static_cast<long long>(std::min(source.width() * factor, 4e9));
      h = static_cast<long long>(std::min(source.height() * factor, 4e9));
    }
    if (!ResultSizeAllowed(w, h)) return false;
    Bitmap result;
    if (!result.allocate(static_cast<int>(w), static_cast<int>(h), PixelFormat::Bgr24))
      return false;
    bool ok = true;
    switch (mode) {
      case 1:
        ok = ScaleSeparable(source, result, Kernel::Linear);
        break;
      case 2:
        ok = ScaleSeparable(source, result, Kernel::Cubic);
        break;
      case 3:
        ok = ScaleSeparable(source, result, Kernel::Area);
        break;
      default:
        ok = ScaleNearest(source, result);
        break;
    }
    if (!ok) return false;
    destination = std::move(result);
    return true;
  } catch (...) {
    return false;
  }
}

bool FlipRotate(const Bitmap& source, Bitmap& out, unsigned code) {
  try {
    if (source.empty()) return false;
    // A 32-bit picture is read as it is; others are made 24-bit first.
    const bool wide = code >= 1 && code <= 5 && source.format() == PixelFormat::Bgrx32;
    Bitmap converted;
    const Bitmap* from = &source;
    if (!wide && source.format() != PixelFormat::Bgr24) {
      converted = source;
      if (!MakeBgr24(converted)) return false;
      from = &converted;
    }
    if (code < 1 || code > 5) {  // only the 24-bit conversion
      if (from != &source)
        out = std::move(converted);
      else if (&out != &source)
        out = source;
      return true;
    }
    const int w = from->width(), h = from->height();
    const bool turn = code == 1 || code == 3;
    Bitmap result;
    if (!result.allocate(turn ? h : w, turn ? w : h, PixelFormat::Bgr24)) return false;
    const auto turner = code == 1 ? (wide ? TurnQuarter<4, true> : TurnQuarter<3, true>)
                                  : (wide ? TurnQuarter<4, false> : TurnQuarter<3, false>);
    const bool ok = turn ? turner(*from, result)
                         : (wide ? FlipRows<4> : FlipRows<3>)(*from, result, code, nullptr);
    if (!ok) return false;
    out = std::move(result);
    return true;
  } catch (...) {
    return false;
  }
}

bool MirrorShownPicture(Bitmap& view, Bitmap& out, unsigned code) {
  try {
    if (view.empty() || view.format() != PixelFormat::Bgrx32 || (code != 4 && code != 5))
      return false;
    const int w = view.width(), h = view.height();
    Bitmap result;
    if (!result.allocate(w, h, PixelFormat::Bgr24)) return false;
    const bool ok =
        code == 4 ? FlipRows<4>(view, result, 4, &view)
                  // Rows trade places in pairs, both read before either is drawn again.
                  : ForRowBands((h + 1) / 2, std::size_t(w) * h, [&](int begin, int end) {
                      for (int y = begin; y < end; ++y) {
                        const int z = h - 1 - y;
                        Bgrx32ToBgr24Row(view.row(z), result.row(y), std::size_t(w));
                        Bgrx32ToBgr24Row(view.row(y), result.row(z), std::size_t(w));
                        Bgr24ToBgrx32Row(result.row(y), view.row(y), std::size_t(w));
                        Bgr24ToBgrx32Row(result.row(z), view.row(z), std::size_t(w));
                      }
                    });
    if (!ok) return false;
    out = std::move(result);
    return true;
  } catch (...) {
    return false;
  }
}

bool WicFlipRotate(Bitmap& bitmap, unsigned code) { return FlipRotate(bitmap, bitmap, code); }

bool GrayScale(const Bitmap& source, Bitmap& out) {
  if (source.empty()) return false;
  try {
    // ITU-R BT.601 luma weights in 8-bit fixed point; the largest sum,
    // 256 * 255 + 128, still fits 16 bits, so the loop vectorises.
    const auto grey = [](unsigned r, unsigned g, unsigned b) {
      return static_cast<std::uint8_t>((77 * r + 150 * g + 29 * b + 128) >> 8);
    };
    Bitmap result;
    if (!result.allocate(source.width(), source.height(), PixelFormat::Bgr24)) return false;
    const PixelFormat format = source.format();
    std::uint8_t paletteGrey[256] = {};
    if (IsIndexed(format)) {
      const auto& palette = source.palette();
      for (std::size_t i = 0; i < palette.size() && i < 256; ++i) {
        paletteGrey[i] = grey(RedOf(palette[i]), GreenOf(palette[i]), BlueOf(palette[i]));
      }
    }
    const int step = format == PixelFormat::Bgrx32 ? 4 : 3;
    const int width = source.width();
    const bool ok =
        ForRowBands(source.height(), std::size_t(width) * source.height(), [&](int begin, int end) {
          const int w = width, st = step;  // locals: byte stores cannot alias them
          for (int y = begin; y < end; ++y) {
            std::uint8_t* d = result.row(y);
            if (IsIndexed(format)) {
              for (int x = 0; x < w; ++x, d += 3)
                d[0] = d[1] = d[2] = paletteGrey[source.index(x, y)];
            } else {
              const std::uint8_t* s = source.row(y);
              for (int x = 0; x < w; ++x, d += 3, s += st)
                d[0] = d[1] = d[2] = grey(s[2], s[1], s[0]);
            }
          }
        });
    if (!ok) return false;
    out = std::move(result);
    return true;
  } catch (...) {
    return false;
  }
}

bool WicGrayScale(Bitmap& bitmap) { return GrayScale(bitmap, bitmap); }

}  // namespace lumivore
