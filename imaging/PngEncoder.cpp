// PNG encoding. Each picture is stored in the smallest colour type that holds
// it exactly: a palette bitmap keeps its palette and depth; a 24- or 32-bit
// picture of at most 256 colours becomes grey or a palette of the fewest bits
// per pixel; anything else is 8-bit RGB. Rows are left as they are, or
// filtered with Up, or with a filter of their own, whichever a trial on a
// sample of rows finds smallest; then the whole image is deflated in one pass
// by libdeflate, whose compressor gives smaller streams than zlib's in less
// time.
#include <libdeflate.h>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <memory>
#include <vector>

#include "imaging/Codec.h"
#include "imaging/RowBands.h"

namespace lumivore::codec {
namespace {

constexpr std::uint8_t kGrey = 0, kTrueColour = 2, kPalette = 3;

// libdeflate levels, measured on the screenshot corpus of the benchmark
// against time: RGB pictures take level 6; pictures of one byte or less per
// pixel (grey, palette) have a third of the bytes to match and take level 7,
// up to 12 % smaller at a third more time. Levels 8 and up gain 1 to 6 % at
// two to eight times the time.
constexpr int kTrueColourLevel = 6;
constexpr int kSmallSampleLevel = 7;

// The distinct colours of a picture, while there are at most 256, with the
// palette index of each (in order of first appearance).
class ColourTable {
 public:
  ColourTable() { keys_.fill(kFree); }

  // The index of colour c, which is added when new; -1 once c would be the
  // 257th colour.
  int add(Rgb c) {
    std::size_t slot = Slot(c);
    while (keys_[slot] != kFree) {
      if (keys_[slot] == c) return index_[slot];
      slot = (slot + 1) & (kSlots - 1);
    }
    if (colours_.size() == 256) return -1;
    keys_[slot] = c;
    index_[slot] = static_cast<std::uint8_t>(colours_.size());
    colours_.push_back(c);
    return index_[slot];
  }

  const std::vector<Rgb>& colours() const { return colours_; }

 private:
  static constexpr std::size_t kSlots = 1024;  // a power of two, four times 256
  static constexpr Rgb kFree = 0xFF000000u;    // never a colour: those have 24 bits
  static std::size_t Slot(Rgb c) { return (c * 0x9E3779B1u) >> 22; }

  std::array<Rgb, kSlots> keys_;
  std::array<std::uint8_t, kSlots> index_{};
  std::vector<Rgb> colours_;
};

// The colour of the pixel at p in a 24- or 32-bit row.
Rgb ColourAt(const std::uint8_t* p) { return MakeRgb(p[2], p[1], p[0]); }

// How the picture is stored in the file.
struct Layout {
  std::uint8_t colourType = kTrueColour;
  int depth = 8;  // bits per sample, or per index for a palette
  std::vector<Rgb> palette;
  int greyUnit = 1;  // grey: the step between the levels that `depth` holds

  int bitsPerPixel() const { return colourType == kTrueColour ? 24 : depth; }
  // The distance in bytes between a byte and the one it is predicted from.
  int filterDistance() const { return colourType == kTrueColour ? 3 : 1; }
};

// Chooses grey, palette or true colour for a 24- or 32-bit picture; `table`
// ends up holding its colours when there are at most 256.
Layout ChooseLayout(const Bitmap& b, ColourTable& table) {
  Layout layout;
  const int step = b.format() == PixelFormat::Bgrx32 ? 4 : 3;
  bool grey = true;
  for (int y = 0; y < b.height(); ++y) {
    const std::uint8_t* p = b.row(y);
    Rgb last = 0xFF000000u;
    for (int x = 0; x < b.width(); ++x, p += step) {
      const Rgb c = ColourAt(p);
      if (c == last) continue;  // runs of one colour are the rule in screenshots
      last = c;
      if (table.add(c) < 0) return layout;
      grey = grey && p[0] == p[1] && p[1] == p[2];
    }
  }
  const std::size_t count = table.colours().size();
  const int paletteDepth = count <= 2 ? 1 : count <= 4 ? 2 : count <= 16 ? 4 : 8;
  if (grey) {
    // The fewest bits whose levels (multiples of 255, 85 or 17) hold every grey.
    for (const int depth : {1, 2, 4, 8}) {
      const int unit = 255 / ((1 << depth) - 1);
      const bool fits = std::all_of(table.colours().begin(), table.colours().end(),
                                    [unit](Rgb c) { return BlueOf(c) % unit == 0; });
      if (!fits) continue;
      // A palette of fewer bits wins over grey; at equal depth grey needs no
      // palette and its levels predict each other.
      if (depth <= paletteDepth) {
        layout.colourType = kGrey;
        layout.depth = depth;
        layout.greyUnit = unit;
        return layout;
      }
      break;
    }
  }
  layout.colourType = kPalette;
  layout.depth = paletteDepth;
  layout.palette = table.colours();
  return layout;
}

// A palette bitmap is written with its own palette and depth; the palette is
// padded with black when it is shorter than the largest index used.
Layout IndexedLayout(const Bitmap& b) {
  Layout layout;
  layout.colourType = kPalette;
  layout.depth = BitsPerPixel(b.format());
  int maxIndex = 0;
  for (int y = 0; y < b.height(); ++y) {
    for (int x = 0; x < b.width(); ++x) maxIndex = std::max(maxIndex, b.index(x, y));
  }
  layout.palette = b.palette();
  layout.palette.resize(std::max<std::size_t>(layout.palette.size(), maxIndex + 1), 0);
  layout.palette.resize(std::min<std::size_t>(layout.palette.size(), 256));
  return layout;
}

// Packs values of `depth` bits (below 8) into bytes, most significant first.
class BitPacker {
 public:
  BitPacker(std::uint8_t* out, int depth) : out_(out), depth_(depth) {}
  void put(unsigned value) {
    acc_ = (acc_ << depth_) | value;
    bits_ += depth_;
    if (bits_ == 8) *out_++ = static_cast<std::uint8_t>(acc_), acc_ = 0, bits_ = 0;
  }
  void finish() {
    if (bits_ > 0) *out_ = static_cast<std::uint8_t>(acc_ << (8 - bits_));
  }

 private:
  std::uint8_t* out_;
  int depth_;
  unsigned acc_ = 0;
  int bits_ = 0;
};

// Writes the RGB bytes of w pixels of Step bytes each (blue, green, red
// first) to out; with Step fixed the compiler vectorises the loop.
template <int Step>
void SwapRedAndBlue(const std::uint8_t* __restrict p, int w, std::uint8_t* __restrict out) {
  for (int x = 0; x < w; ++x, p += Step, out += 3) out[0] = p[2], out[1] = p[1], out[2] = p[0];
}

// Writes row y of the picture as the unfiltered bytes of a PNG row.
void RawRow(const Bitmap& b, int y, const Layout& layout, ColourTable& table, std::uint8_t* out) {
  const std::uint8_t* p = b.row(y);
  const int w = b.width();
  if (IsIndexed(b.format())) {
    std::memcpy(out, p, (std::size_t(w) * layout.depth + 7) / 8);
    return;
  }
  const int step = b.format() == PixelFormat::Bgrx32 ? 4 : 3;
  if (layout.colourType == kTrueColour) {
    if (step == 3) {
      SwapRedAndBlue<3>(p, w, out);
    } else {
      SwapRedAndBlue<4>(p, w, out);
    }
    return;
  }
  if (layout.colourType == kGrey && layout.depth == 8) {
    for (int x = 0; x < w; ++x, p += step) *out++ = p[0];
    return;
  }
  Rgb last = 0xFF000000u;
  unsigned value = 0;
  const auto valueOf = [&](const std::uint8_t* q) {
    const Rgb c = ColourAt(q);
    if (c != last) {
      last = c;
      value =
          layout.colourType == kGrey ? q[0] / layout.greyUnit : static_cast<unsigned>(table.add(c));
    }
    return value;
  };
  if (layout.depth == 8) {
    for (int x = 0; x < w; ++x, p += step) *out++ = static_cast<std::uint8_t>(valueOf(p));
    return;
  }
  BitPacker packer(out, layout.depth);
  for (int x = 0; x < w; ++x, p += step) packer.put(valueOf(p));
  packer.finish();
}

// The filter helpers are inlined into the loops that use them, which the
// compiler vectorises.
#define LUMIVORE_INLINE [[gnu::always_inline]] inline

LUMIVORE_INLINE std::uint8_t Paeth(int a, int b, int c) {
  const int pa = std::abs(b - c), pb = std::abs(a - c), pc = std::abs(a + b - 2 * c);
  return static_cast<std::uint8_t>(pa <= pb && pa <= pc ? a : pb <= pc ? b : c);
}

// A filtered byte taken as a signed value: the closer the bytes of a row are
// to zero, the better deflate does on them.
LUMIVORE_INLINE unsigned Magnitude(std::uint8_t v) {
  return static_cast<unsigned>(std::abs(static_cast<std::int8_t>(v)));
}

#if defined(__x86_64__)
#define LUMIVORE_AVX2 [[gnu::target("avx2"), gnu::always_inline]] inline

LUMIVORE_AVX2 __m256i Load(const std::uint8_t* p) {
  return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
}

// Stores 32 filtered bytes and adds their magnitudes to the four sums in sum.
LUMIVORE_AVX2 void Keep(std::uint8_t* row, __m256i v, __m256i& sum) {
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(row), v);
  sum = _mm256_add_epi64(sum, _mm256_sad_epu8(_mm256_abs_epi8(v), _mm256_setzero_si256()));
}

// The Paeth prediction of 16 bytes widened to 16 bits each.
LUMIVORE_AVX2 __m256i Paeth16(__m256i a, __m256i b, __m256i c) {
  const __m256i bc = _mm256_sub_epi16(b, c), ac = _mm256_sub_epi16(a, c);
  const __m256i pa = _mm256_abs_epi16(bc), pb = _mm256_abs_epi16(ac),
                pc = _mm256_abs_epi16(_mm256_add_epi16(bc, ac));
  // a where pa <= pb and pa <= pc, else b where pb <= pc, else c.
  const __m256i notA = _mm256_or_si256(_mm256_cmpgt_epi16(pa, pb), _mm256_cmpgt_epi16(pa, pc));
  return _mm256_blendv_epi8(a, _mm256_blendv_epi8(b, c, _mm256_cmpgt_epi16(pb, pc)), notA);
}

// FilterFive for bytes `from` (at least D) on, 32 at a time; returns the
// first byte left to do.
template <int D>
[[gnu::target("avx2")]] std::size_t FilterFiveAvx2(const std::uint8_t* raw, const std::uint8_t* up,
                                                   std::size_t from, std::size_t n,
                                                   std::uint8_t* const* rows, unsigned* costs) {
  const __m256i zero = _mm256_setzero_si256(), one = _mm256_set1_epi8(1);
  __m256i sums[5] = {zero, zero, zero, zero, zero};
  std::size_t i = from;
  for (; i + 32 <= n; i += 32) {
    const __m256i x = Load(raw + i), a = Load(raw + i - D), b = Load(up + i), c = Load(up + i - D);
    // The rounded-up mean of a and b, less one where a + b is odd.
    const __m256i average =
        _mm256_sub_epi8(_mm256_avg_epu8(a, b), _mm256_and_si256(_mm256_xor_si256(a, b), one));
    const __m256i paethLow = Paeth16(_mm256_unpacklo_epi8(a, zero), _mm256_unpacklo_epi8(b, zero),
                                     _mm256_unpacklo_epi8(c, zero));
    const __m256i paethHigh = Paeth16(_mm256_unpackhi_epi8(a, zero), _mm256_unpackhi_epi8(b, zero),
                                      _mm256_unpackhi_epi8(c, zero));
    Keep(rows[0] + i, x, sums[0]);
    Keep(rows[1] + i, _mm256_sub_epi8(x, a), sums[1]);
    Keep(rows[2] + i, _mm256_sub_epi8(x, b), sums[2]);
    Keep(rows[3] + i, _mm256_sub_epi8(x, average), sums[3]);
    Keep(rows[4] + i, _mm256_sub_epi8(x, _mm256_packus_epi16(paethLow, paethHigh)), sums[4]);
  }
  for (int k = 0; k < 5; ++k) {
    alignas(32) std::uint64_t lanes[4];
    _mm256_store_si256(reinterpret_cast<__m256i*>(lanes), sums[k]);
    costs[k] += static_cast<unsigned>(lanes[0] + lanes[1] + lanes[2] + lanes[3]);
  }
  return i;
}
#endif

// The prediction of PNG filter 0 to 4 from the byte on the left (a), the
// one above (b) and the one above and left (c).
template <int Filter>
LUMIVORE_INLINE std::uint8_t Predict(int a, int b, int c) {
  if constexpr (Filter == 0) return 0;
  if constexpr (Filter == 1) return static_cast<std::uint8_t>(a);
  if constexpr (Filter == 2) return static_cast<std::uint8_t>(b);
  if constexpr (Filter == 3) return static_cast<std::uint8_t>((a + b) >> 1);
  return Paeth(a, b, c);
}

// Filters bytes [from, n) of a row (from at least D) with one filter into
// out and returns the sum of their magnitudes: a loop the compiler
// vectorises.
template <int Filter, int D>
unsigned FilterSpan(const std::uint8_t* __restrict raw, const std::uint8_t* __restrict up,
                    std::size_t from, std::size_t n, std::uint8_t* __restrict out) {
  unsigned sum = 0;
  for (std::size_t i = from; i < n; ++i) {
    out[i] = static_cast<std::uint8_t>(raw[i] - Predict<Filter>(raw[i - D], up[i], up[i - D]));
    sum += Magnitude(out[i]);
  }
  return sum;
}

// Filters a row of n bytes the five ways of PNG (none, Sub, Up, Average,
// Paeth) into rows[0] to rows[4] and sums the magnitudes of each into
// costs; D is the distance in bytes between a byte and the one on its left.
// The bytes left of the row count as zeros.
template <int D>
void FilterFive(const std::uint8_t* raw, const std::uint8_t* up, std::size_t n,
                std::uint8_t* const* rows, unsigned* costs) {
  std::size_t i = 0;
  for (; i < std::min<std::size_t>(D, n); ++i) {
    const std::uint8_t v[5] = {raw[i], raw[i], static_cast<std::uint8_t>(raw[i] - up[i]),
                               static_cast<std::uint8_t>(raw[i] - (up[i] >> 1)),
                               static_cast<std::uint8_t>(raw[i] - up[i])};
    for (int k = 0; k < 5; ++k) rows[k][i] = v[k], costs[k] += Magnitude(v[k]);
  }
#if defined(__x86_64__)
  if (__builtin_cpu_supports("avx2")) i = FilterFiveAvx2<D>(raw, up, i, n, rows, costs);
#endif
  costs[0] += FilterSpan<0, D>(raw, up, i, n, rows[0]);
  costs[1] += FilterSpan<1, D>(raw, up, i, n, rows[1]);
  costs[2] += FilterSpan<2, D>(raw, up, i, n, rows[2]);
  costs[3] += FilterSpan<3, D>(raw, up, i, n, rows[3]);
  costs[4] += FilterSpan<4, D>(raw, up, i, n, rows[4]);
}

// Filters one row of whole-byte samples into out (the filter type byte,
// then n bytes) with the filter whose output has the smallest sum of
// magnitudes: the usual adaptive heuristic for PNG rows. `scratch` holds 5 n
// bytes; d is 1 or 3.
void FilterRow(const std::uint8_t* raw, const std::uint8_t* up, std::size_t n, int d,
               std::uint8_t* scratch, std::uint8_t* out) {
  if (std::memcmp(raw, up, n) == 0) {  // a row like the one above: Up gives zeros
    out[0] = 2;
    std::memset(out + 1, 0, n);
    return;
  }
  std::uint8_t* const rows[5] = {scratch, scratch + n, scratch + 2 * n, scratch + 3 * n,
                                 scratch + 4 * n};
  unsigned costs[5] = {0, 0, 0, 0, 0};
  if (d == 3) {
    FilterFive<3>(raw, up, n, rows, costs);
  } else {
    FilterFive<1>(raw, up, n, rows, costs);
  }
  const int best = static_cast<int>(std::min_element(costs, costs + 5) - costs);
  out[0] = static_cast<std::uint8_t>(best);
  std::memcpy(out + 1, rows[best], n);
}

// Working memory of the encoder: fresh pages, backed by huge pages where
// large, written only where the encoder writes.
using Block = std::vector<std::uint8_t, ZeroedAllocator<std::uint8_t>>;

// An unfiltered image in PNG's layout: per row a filter type byte (0), then
// the row's bytes.
struct RowImage {
  int height = 0;
  std::size_t rowBytes = 0;
  Block data;

  std::size_t stride() const { return rowBytes + 1; }
  std::size_t size() const { return stride() * height; }
  std::uint8_t* row(int y) { return data.data() + stride() * y; }
};

struct FreeCompressor {
  void operator()(libdeflate_compressor* c) const { libdeflate_free_compressor(c); }
};
using Compressor = std::unique_ptr<libdeflate_compressor, FreeCompressor>;

// A zlib stream of the data; empty when compression failed. Only the pages
// the stream reaches are ever touched.
struct Compressed {
  Block data;
  std::size_t size = 0;
};
Compressed Compress(libdeflate_compressor* compressor, const std::uint8_t* data, std::size_t size) {
  Compressed out;
  out.data.resize(libdeflate_zlib_compress_bound(compressor, size));
  out.size = libdeflate_zlib_compress(compressor, data, size, out.data.data(), out.data.size());
  return out;
}

// How the rows of a picture are filtered.
enum class Filtering {
  None,      // stored as they are
  Up,        // each row less the one above
  Adaptive,  // per row, the filter of FilterRow's choice
};

// Filters rows of an image one way or another.
class RowFilter {
 public:
  // d: the distance in bytes between a byte and the one it is predicted from.
  RowFilter(RowImage& image, int d)
      : image_(image), d_(d), zeros_(image.rowBytes, 0), scratch_(5 * image.rowBytes) {}

  // Filters row y into out (the filter type byte, then the row's bytes).
  void filter(Filtering filtering, int y, std::uint8_t* out) {
    const std::size_t n = image_.rowBytes;
    const std::uint8_t* raw = image_.row(y) + 1;
    const std::uint8_t* up = y > 0 ? image_.row(y - 1) + 1 : zeros_.data();
    switch (filtering) {
      case Filtering::None:
        out[0] = 0;
        std::memcpy(out + 1, raw, n);
        break;
      case Filtering::Up:
        out[0] = 2;
        for (std::size_t i = 0; i < n; ++i) out[i + 1] = static_cast<std::uint8_t>(raw[i] - up[i]);
        break;
      case Filtering::Adaptive:
        FilterRow(raw, up, n, d_, scratch_.data(), out);
        break;
    }
  }

 private:
  RowImage& image_;
  int d_;
  std::vector<std::uint8_t> zeros_;  // the row above the first
  std::vector<std::uint8_t> scratch_;
};

// The filtering that makes the image smallest, told by compressing a sample
// (bands of 8 rows, one band in 8) each way with libdeflate's fastest level,
// which on the screenshot corpus ranks them as the final level does. No way
// wins everywhere: text and flat areas often come out smaller unfiltered, as
// deflate then finds every repeated glyph as it is; the adaptive choice pays
// on drawn gradients and mixed desktops; photos (decoded JPEGs above all)
// come out smaller still with Up on every row, whose output repeats from row
// to row where the adaptive choice switches filters. Up is tried only where
// the adaptive filters pay at all: where they do not, Up loses too.
Filtering ChooseFiltering(RowImage& image, int d) {
  constexpr int kBand = 8, kEvery = 8;
  const std::size_t stride = image.stride();
  const bool sampled = image.height >= 2 * kBand * kEvery;
  std::vector<int> rows;
  for (int y = 0; y < image.height; ++y) {
    if (!sampled || (y / kBand) % kEvery == 0) rows.push_back(y);
  }
  // The sample's compressed size, filtered `way`; the largest size_t when
  // compression failed. A trial has buffers and a compressor of its own, so
  // that None and Adaptive are tried side by side, on two cores where there
  // are.
  const auto trial = [&](Filtering way) {
    const Compressor fastest(libdeflate_alloc_compressor(1));
    if (!fastest) return SIZE_MAX;
    RowFilter filter(image, d);
    Block sample(rows.size() * stride);
    for (std::size_t i = 0; i < rows.size(); ++i) {
      filter.filter(way, rows[i], sample.data() + i * stride);
    }
    const std::size_t size = Compress(fastest.get(), sample.data(), sample.size()).size;
    return size > 0 ? size : SIZE_MAX;
  };
  struct FirstTrials {
    const decltype(trial)& run;
    std::size_t size[2];
    std::exception_ptr error[2];
  } first{trial, {SIZE_MAX, SIZE_MAX}, {}};
  RunBands(
      2,
      [](void* context, int i) {
        auto& t = *static_cast<FirstTrials*>(context);
        try {
          t.size[i] = t.run(i == 0 ? Filtering::None : Filtering::Adaptive);
        } catch (...) {
          t.error[i] = std::current_exception();
        }
      },
      &first);
  for (const std::exception_ptr& error : first.error) {
    if (error) std::rethrow_exception(error);
  }
  const std::size_t none = first.size[0], adaptive = first.size[1];
  if (adaptive >= none) return Filtering::None;
  return trial(Filtering::Up) < adaptive ? Filtering::Up : Filtering::Adaptive;
}

// Filters every row in place, from the bottom up so that each row's upper
// neighbour is still unfiltered when it is needed.
void FilterAll(RowImage& image, Filtering filtering, int d) {
  RowFilter filter(image, d);
  std::vector<std::uint8_t> out(image.stride());
  for (int y = image.height - 1; y >= 0; --y) {
    filter.filter(filtering, y, out.data());
    std::memcpy(image.row(y), out.data(), out.size());
  }
}

void PutU32(Bytes& out, std::uint32_t v) {
  const std::uint8_t b[4] = {static_cast<std::uint8_t>(v >> 24), static_cast<std::uint8_t>(v >> 16),
                             static_cast<std::uint8_t>(v >> 8), static_cast<std::uint8_t>(v)};
  out.insert(out.end(), b, b + 4);
}

// Appends one chunk: length, type, data, CRC of type and data.
void PutChunk(Bytes& out, const char (&type)[5], const std::uint8_t* data, std::size_t size) {
  PutU32(out, static_cast<std::uint32_t>(size));
  const std::size_t start = out.size();
  out.insert(out.end(), type, type + 4);
  if (size > 0) out.insert(out.end(), data, data + size);
  PutU32(out, libdeflate_crc32(0, out.data() + start, size + 4));
}

}  // namespace

bool EncodePng(const Bitmap& bitmap, Bytes& out) {
  if (bitmap.empty()) return false;
  ColourTable table;
  const Layout layout =
      IsIndexed(bitmap.format()) ? IndexedLayout(bitmap) : ChooseLayout(bitmap, table);
  RowImage image;
  image.height = bitmap.height();
  image.rowBytes = (std::size_t(bitmap.width()) * layout.bitsPerPixel() + 7) / 8;
  image.data.resize(image.size());
  for (int y = 0; y < image.height; ++y) {
    image.row(y)[0] = 0;
    RawRow(bitmap, y, layout, table, image.row(y) + 1);
  }

  // Palette indices and packed samples are never filtered: neighbouring
  // values there are not near in colour, so differences only add noise.
  const bool filterable = layout.colourType != kPalette && layout.depth == 8;
  if (filterable) {
    const Filtering filtering = ChooseFiltering(image, layout.filterDistance());
    if (filtering != Filtering::None) FilterAll(image, filtering, layout.filterDistance());
  }
  const Compressor compressor(libdeflate_alloc_compressor(
      layout.colourType == kTrueColour ? kTrueColourLevel : kSmallSampleLevel));
  if (!compressor) return false;
  const Compressed compressed = Compress(compressor.get(), image.data.data(), image.size());
  if (compressed.size == 0) return false;
  image.data = Block();

  Bytes file;
  file.reserve(compressed.size + 1024);
  static const std::uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  file.insert(file.end(), kSignature, kSignature + 8);
  Bytes header;
  PutU32(header, static_cast<std::uint32_t>(bitmap.width()));
  PutU32(header, static_cast<std::uint32_t>(bitmap.height()));
  // Depth, colour type, deflate, adaptive filtering, no interlace.
  const std::uint8_t rest[5] = {static_cast<std::uint8_t>(layout.depth), layout.colourType, 0, 0,
                                0};
  header.insert(header.end(), rest, rest + 5);
  PutChunk(file, "IHDR", header.data(), header.size());
  if (layout.colourType == kPalette) {
    Bytes plte;
    for (const Rgb c : layout.palette) {
      plte.insert(plte.end(), {RedOf(c), GreenOf(c), BlueOf(c)});
    }
    PutChunk(file, "PLTE", plte.data(), plte.size());
  }
  // IDAT chunks hold at most 2^31 - 1 bytes each.
  constexpr std::size_t kMaxChunk = std::size_t{1} << 30;
  for (std::size_t pos = 0; pos < compressed.size; pos += kMaxChunk) {
    PutChunk(file, "IDAT", compressed.data.data() + pos, std::min(kMaxChunk, compressed.size - pos));
  }
  PutChunk(file, "IEND", nullptr, 0);
  out = std::move(file);
  return true;
}

}  // namespace lumivore::codec
