#include "imaging/Filters.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <unordered_map>

#include "imaging/PixelKernels.h"
#include "imaging/RowBands.h"

namespace lumivore {
namespace {

bool IsFullColour(const Bitmap& b) {
  return !b.empty() && (b.format() == PixelFormat::Bgr24 || b.format() == PixelFormat::Bgrx32);
}

int BytesPerPixel(const Bitmap& b) { return b.format() == PixelFormat::Bgrx32 ? 4 : 3; }

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

// Runs `rowOp(source row, destination row)` over every row, bands of rows on
// all cores, in place when `out` is the source and `format` its format, else
// into a fresh bitmap of `format` that replaces `out` at the end.
template <typename RowOp>
bool MapRows(const Bitmap& source, Bitmap& out, PixelFormat format, RowOp rowOp) {
  const bool inPlace = &source == &out && source.format() == format;
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

// Rows [begin, end) of the 32-bit `view` into `copy`, a bitmap of its size
// that is 32-bit (the rows as they are) or 24-bit (the fourth bytes dropped).
void CopyShownRows(const Bitmap& view, Bitmap& copy, int begin, int end) {
  if (end <= begin) return;
  if (copy.format() == PixelFormat::Bgrx32) {
    std::memcpy(copy.row(begin), view.row(begin), view.stride() * std::size_t(end - begin));
    return;
  }
  for (int y = begin; y < end; ++y) Bgrx32ToBgr24Row(view.row(y), copy.row(y), view.width());
}

// A new full-colour picture of `format` for the 32-bit `view`: false for
// another view or format, or when memory runs out.
bool AllocateForView(const Bitmap& view, PixelFormat format, Bitmap& fresh) {
  return view.format() == PixelFormat::Bgrx32 &&
         (format == PixelFormat::Bgr24 || format == PixelFormat::Bgrx32) &&
         fresh.allocate(view.width(), view.height(), format);
}

// Makes `out`, a new bitmap of `format` (with `palette`), from the rows of
// the 32-bit `view` with `rowOp(view row, new row)`, and redraws each view
// row from its new row at once, while both are in cache: what MapRows and
// then ConvertToBgrx32(out, view) give, in one pass. False, nothing changed,
// when the view is not 32-bit or memory runs out.
template <typename RowOp>
bool MapShownRows(Bitmap& view, Bitmap& out, PixelFormat format, const std::vector<Rgb>& palette,
                  RowOp rowOp) {
  if (view.empty() || view.format() != PixelFormat::Bgrx32) return false;
  Bitmap fresh;
  if (!fresh.allocate(view.width(), view.height(), format)) return false;
  if (IsIndexed(format)) fresh.setPalette(palette);
  const RowsToBgrx32 redraw(format, palette);
  const int width = view.width();
  // Nothing here throws: every band completes.
  ForRowBands(view.height(), std::size_t(width) * view.height(), [&](int begin, int end) {
    RowOp op = rowOp;  // a private copy: no byte store aliases it
    for (int y = begin; y < end; ++y) {
      op(view.row(y), fresh.row(y));
      redraw(fresh.row(y), view.row(y), width);
    }
  });
  out = std::move(fresh);
  return true;
}

// The 32-bit pixels of a row inverted in place, their fourth bytes kept.
void InvertRow32(std::uint8_t* row, std::size_t pixels) {
  for (std::size_t i = 0; i < 4 * pixels; i += 4) {
    std::uint32_t v;
    std::memcpy(&v, row + i, 4);
    v ^= 0x00FFFFFFu;
    std::memcpy(row + i, &v, 4);
  }
}

// The negative of full-colour rows.
bool InvertFullColour(const Bitmap& source, Bitmap& out) {
  const std::size_t rowBytes = std::size_t(source.width()) * BytesPerPixel(source);
  if (source.format() == PixelFormat::Bgrx32) {
    return MapRows(
        source, out, source.format(),
        [rowBytes](const std::uint8_t* s, std::uint8_t* d) {
          if (d != s) std::memcpy(d, s, rowBytes);
          InvertRow32(d, rowBytes / 4);
        });
  }
  return MapRows(
      source, out, source.format(),
      [rowBytes](const std::uint8_t* s, std::uint8_t* d) {
        for (std::size_t i = 0; i < rowBytes; ++i) d[i] = static_cast<std::uint8_t>(~s[i]);
      });
}

// The tone offsets, worked out once in floating point and truncated toward
// zero: -35 for blue, -13 for green (subtracted), 22 for red.
const std::array<int, 3>& SepiaOffsets() {
  static const std::array<int, 3> offsets = {
      static_cast<int>(1.4026 * (-0.1) * 255),
      -static_cast<int>(0.3444 * 0.05 * 255 + 0.7114 * (-0.1) * 255),
      static_cast<int>(1.733 * 0.05 * 255)};
  return offsets;
}

}  // namespace

bool SepiaTone(Bitmap& bitmap) { return SepiaTone(bitmap, bitmap); }

bool SepiaTone(const Bitmap& source, Bitmap& out) {
  if (!IsFullColour(source)) return false;
  const int* offsets = SepiaOffsets().data();
  const bool inPlace = &source == &out;
  const int inStep = BytesPerPixel(source), outStep = inPlace ? inStep : 3;
  const std::size_t width = source.width();
  return MapRows(source, out, inPlace ? source.format() : PixelFormat::Bgr24,
                 [=](const std::uint8_t* s, std::uint8_t* d) {
                   SepiaRow(s, inStep, d, outStep, width, offsets);
                 });
}

bool SepiaShownPicture(Bitmap& view, Bitmap& out) {
  const int width = view.width();
  return MapShownRows(view, out, PixelFormat::Bgr24, {},
                      [width](const std::uint8_t* s, std::uint8_t* d) {
                        SepiaRow(s, 4, d, 3, std::size_t(width), SepiaOffsets().data());
                      });
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
  return IsFullColour(source) && InvertFullColour(source, out);
}

bool InvertShownPicture(Bitmap& view, Bitmap& out, PixelFormat format) {
  Bitmap fresh;
  if (!AllocateForView(view, format, fresh)) return false;
  const int width = view.width();
  ForRowBands(view.height(), std::size_t(width) * view.height(), [&](int begin, int end) {
    for (int y = begin; y < end; ++y) {
      InvertRow32(view.row(y), std::size_t(width));
      CopyShownRows(view, fresh, y, y + 1);
    }
  });
  out = std::move(fresh);
  return true;
}

namespace {

// The mosaic of `source` written to `target` (the source itself, or a
// bitmap of its size and format); with `copy` (the source's size; 32-bit,
// or 24-bit for a 32-bit source), each finished block row also goes there
// while it is still in cache, and so do the rows outside the area. Where the
// target is not the source, the pixels outside the area are copied to it.
bool MosaicRows(const Bitmap& source, Bitmap& target, Bitmap* copy, int left, int top, int right,
                int bottom, int n) {
  const std::size_t stride = source.stride();
  const bool fresh = &target != &source;
  const auto outside = [&](int begin, int end) {
    if (fresh && end > begin)
      std::memcpy(target.row(begin), source.row(begin), stride * std::size_t(end - begin));
    if (copy) CopyShownRows(source, *copy, begin, end);
  };
  left = std::max(left, 0), top = std::max(top, 0);
  right = std::min(right, source.width()), bottom = std::min(bottom, source.height());
  if (left >= right || top >= bottom) top = bottom = 0;  // nothing to pixelate, only rows to copy
  const int below = source.height() - bottom;
  ForRowBands(top, std::size_t(source.width()) * top, outside);
  ForRowBands(below, std::size_t(source.width()) * below,
              [&](int begin, int end) { outside(bottom + begin, bottom + end); });
  if (top >= bottom) return true;
  const int step = BytesPerPixel(source);
  const int width = right - left;
  const std::size_t rowBytes = std::size_t(width) * step;
  const int blocks = (width - 1) / n + 1;
  const int blockRows = (bottom - top - 1) / n + 1;
  // Column sums of bytes stay within 16 bits over this many rows.
  constexpr int kRowsPerColumnSum = 65535 / 255;
  // Bands of block rows run on all cores, each with its own sums.
  return ForRowBands(blockRows, std::size_t(width) * (bottom - top), [&](int first, int last) {
    // Per byte of the area's row: its sum down the rows of the block row.
    std::vector<std::uint16_t> columns(rowBytes);
    // Per block column: blue, green and red sums over the block's cells.
    std::vector<std::uint64_t> sums(3 * std::size_t(blocks));
    // One row of the area in its block colours (and a byte to spare: each
    // pixel is written as a whole word).
    std::vector<std::uint8_t> pattern(rowBytes + 1);
    for (int i = first; i < last; ++i) {
      // Block ends are worked out as start + min(n, rest), never start + n,
      // which could overflow for a huge n.
      const int y0 = top + static_cast<int>(static_cast<long long>(i) * n);
      const int y1 = y0 + std::min(n, bottom - y0);
      std::fill(sums.begin(), sums.end(), 0);
      for (int y = y0; y < y1;) {
        const int end = y + std::min(kRowsPerColumnSum, y1 - y);
        std::fill(columns.begin(), columns.end(), 0);
        for (; y < end; ++y)
          AddBytesTo(source.row(y) + std::size_t(left) * step, columns.data(), rowBytes);
        const std::uint16_t* c = columns.data();
        std::uint64_t* s = sums.data();
        for (int x0 = 0, x1; x0 < width; x0 = x1, s += 3) {
          x1 = x0 + std::min(n, width - x0);
          std::uint64_t b = 0, g = 0, r = 0;
          for (int x = x0; x < x1; ++x, c += step) b += c[0], g += c[1], r += c[2];
          s[0] += b, s[1] += g, s[2] += r;
        }
      }
      const std::uint64_t rows = std::uint64_t(y1 - y0);
      std::uint8_t* p = pattern.data();
      const std::uint64_t* s = sums.data();
      for (int x0 = 0, x1; x0 < width; x0 = x1, s += 3) {
        x1 = x0 + std::min(n, width - x0);
        // Truncated averages. Sums stay far below 2^53, where the rounded
        // quotient of two doubles could reach the next integer: dividing in
        // double precision is exact here, and quicker than in integers.
        const double cells = double(rows * std::uint64_t(x1 - x0));
        const std::uint8_t colour[4] = {static_cast<std::uint8_t>(double(s[0]) / cells),
                                        static_cast<std::uint8_t>(double(s[1]) / cells),
                                        static_cast<std::uint8_t>(double(s[2]) / cells), 0};
        for (int x = x0; x < x1; ++x, p += step) std::memcpy(p, colour, 4);
      }
      // Every row of the block row takes the pattern; 32-bit pixels keep
      // their fourth byte. A 24-bit row of a new picture needs only the
      // pixels beside the area from the source.
      for (int y = y0; y < y1; ++y) {
        std::uint8_t* d = target.row(y);
        if (step == 3) {
          if (fresh) {
            std::memcpy(d, source.row(y), std::size_t(left) * 3);
            std::memcpy(d + std::size_t(right) * 3, source.row(y) + std::size_t(right) * 3,
                        std::size_t(source.width() - right) * 3);
          }
          std::memcpy(d + std::size_t(left) * 3, pattern.data(), rowBytes);
        } else {
          if (fresh) std::memcpy(d, source.row(y), stride);
          CopyColoursOf32(pattern.data(), d + std::size_t(left) * 4, std::size_t(width));
        }
      }
      if (copy) CopyShownRows(target, *copy, y0, y1);
    }
  });
}

}  // namespace

bool Mosaic(Bitmap& bitmap, int left, int top, int right, int bottom, int n) {
  if (!IsFullColour(bitmap) || n < 1) return false;
  return MosaicRows(bitmap, bitmap, nullptr, left, top, right, bottom, n);
}

bool Mosaic(const Bitmap& source, Bitmap& out, int left, int top, int right, int bottom, int n) {
  if (!IsFullColour(source) || n < 1) return false;
  Bitmap fresh;
  if (!fresh.allocate(source.width(), source.height(), source.format()) ||
      !MosaicRows(source, fresh, nullptr, left, top, right, bottom, n))
    return false;
  out = std::move(fresh);
  return true;
}

bool MosaicShownPicture(Bitmap& view, Bitmap& out, PixelFormat format, int left, int top,
                        int right, int bottom, int n) {
  Bitmap fresh;
  if (n < 1 || !AllocateForView(view, format, fresh) ||
      !MosaicRows(view, view, &fresh, left, top, right, bottom, n))
    return false;
  out = std::move(fresh);
  return true;
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
  const int step = BytesPerPixel(bitmap);
  const std::size_t width = bitmap.width();
  if (!MapRows(bitmap, result, PixelFormat::Indexed1,
               [=](const std::uint8_t* s, std::uint8_t* d) { MonoRow(s, step, d, width); }))
    return false;
  result.setPalette(MonoPalette());
  return true;
}

bool ReduceShownPicture(Bitmap& view, Bitmap& out, int colours) {
  if (colours != 2 && colours != 16) return false;
  const bool mono = colours == 2;
  return MapShownRows(view, out, mono ? PixelFormat::Indexed1 : PixelFormat::Indexed4,
                      mono ? MonoPalette() : StandardPalette16(),
                      [mono, width = std::size_t(view.width())](const std::uint8_t* s,
                                                                std::uint8_t* d) {
                        (mono ? MonoRow : Nearest16Row)(s, 4, d, width);
                      });
}

bool ReduceTo16Colours(const Bitmap& bitmap, Bitmap& result) {
  if (!IsFullColour(bitmap)) return false;
  const int step = BytesPerPixel(bitmap);
  const std::size_t width = bitmap.width();
  if (!MapRows(bitmap, result, PixelFormat::Indexed4,
               [=](const std::uint8_t* s, std::uint8_t* d) { Nearest16Row(s, step, d, width); }))
    return false;
  result.setPalette(StandardPalette16());
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
