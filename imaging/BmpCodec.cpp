// Lumivore's own BMP reader and writer. The reader is deliberately strict:
// unknown header sizes, compressions, bit depths and pixel data that runs
// past the end of the file are refused rather than guessed at.
#include <array>
#include <cstring>

#include "imaging/Codec.h"

namespace lumivore::codec {
namespace {

std::uint32_t U16(const std::uint8_t* p) { return p[0] | (p[1] << 8); }
std::uint32_t U32(const std::uint8_t* p) {
  return std::uint32_t{p[0]} | (std::uint32_t{p[1]} << 8) | (std::uint32_t{p[2]} << 16) |
         (std::uint32_t{p[3]} << 24);
}

enum Compression : std::uint32_t {
  kRgb = 0,
  kRle8 = 1,
  kRle4 = 2,
  kBitFields = 3,
  kAlphaBitFields = 6
};

// One colour channel of a bit-field pixel, scaled to 0..255.
struct Channel {
  std::uint32_t mask = 0;
  int shift = 0;
  std::uint32_t max = 0;

  bool set(std::uint32_t m) {
    mask = m;
    if (m == 0) return true;
    shift = 0;
    while (((m >> shift) & 1) == 0) ++shift;
    max = m >> shift;
    return (max & (max + 1)) == 0;  // contiguous bits only
  }
  std::uint8_t operator()(std::uint32_t v) const {
    if (max == 0) return 0;
    const std::uint64_t x = (v & mask) >> shift;
    return static_cast<std::uint8_t>((x * 255 + max / 2) / max);
  }
};

struct Header {
  std::uint32_t headerSize = 0;
  std::int64_t width = 0;
  std::int64_t height = 0;  // negative: rows stored top first
  int bits = 0;
  std::uint32_t compression = kRgb;
  std::uint32_t colorsUsed = 0;
  std::uint32_t masks[3] = {0, 0, 0};
  std::size_t paletteOffset = 0;
  int paletteEntrySize = 4;
};

bool ParseHeader(ByteView in, Header& h) {
  if (in.size < 14 + 12) return false;
  const std::uint8_t* d = in.data;
  h.headerSize = U32(d + 14);
  const std::uint8_t* info = d + 14;
  if (h.headerSize == 12) {  // OS/2 1.x core header
    h.width = U16(info + 4);
    h.height = U16(info + 6);
    if (U16(info + 8) != 1) return false;
    h.bits = static_cast<int>(U16(info + 10));
    h.paletteEntrySize = 3;
  } else {
    static constexpr std::uint32_t kKnown[] = {16, 40, 52, 56, 64, 108, 124};
    bool known = false;
    for (std::uint32_t k : kKnown) known = known || h.headerSize == k;
    if (!known || in.size < 14 + std::size_t{h.headerSize}) return false;
    h.width = static_cast<std::int32_t>(U32(info + 4));
    h.height = static_cast<std::int32_t>(U32(info + 8));
    if (U16(info + 12) != 1) return false;
    h.bits = static_cast<int>(U16(info + 14));
    if (h.headerSize >= 40) {
      h.compression = U32(info + 16);
      h.colorsUsed = U32(info + 32);
    }
    // OS/2 2.x uses compression 3 and 4 for Huffman and RLE24: not supported.
    if (h.headerSize == 64 || h.headerSize == 16) {
      if (h.compression > kRle4) return false;
    }
  }
  h.paletteOffset = 14 + std::size_t{h.headerSize};
  if (h.compression == kBitFields || h.compression == kAlphaBitFields) {
    if (h.bits != 16 && h.bits != 32) return false;
    const std::uint8_t* masks = info + 40;
    if (h.headerSize == 40) {  // masks follow the header
      const std::size_t count = h.compression == kBitFields ? 3 : 4;
      if (in.size < h.paletteOffset + 4 * count) return false;
      h.paletteOffset += 4 * count;
    } else if (h.headerSize < 52) {
      return false;
    }
    for (int i = 0; i < 3; ++i) h.masks[i] = U32(masks + 4 * i);
  } else if (h.compression == kRgb) {
    if (h.bits != 1 && h.bits != 2 && h.bits != 4 && h.bits != 8 && h.bits != 16 && h.bits != 24 &&
        h.bits != 32) {
      return false;
    }
    if (h.bits == 16) h.masks[0] = 0x7C00, h.masks[1] = 0x03E0, h.masks[2] = 0x001F;
    if (h.bits == 32) h.masks[0] = 0xFF0000, h.masks[1] = 0xFF00, h.masks[2] = 0xFF;
  } else if (h.compression == kRle8) {
    if (h.bits != 8 || h.height < 0) return false;
  } else if (h.compression == kRle4) {
    if (h.bits != 4 || h.height < 0) return false;
  } else {
    return false;  // embedded JPEG/PNG and anything unknown
  }
  if (h.width <= 0 || h.height == 0 || h.height == INT32_MIN) return false;
  return PictureSizeAllowed(h.width, h.height < 0 ? -h.height : h.height);
}

// Runs of RLE4/RLE8 data. Pixels the data skips stay black.
bool DecodeRle(ByteView in, std::size_t pos, const Header& h, const std::array<Rgb, 256>& palette,
               Bitmap& out) {
  const int width = static_cast<int>(h.width);
  const int height = static_cast<int>(h.height);
  const bool four = h.compression == kRle4;
  int x = 0;
  int y = 0;  // counted from the bottom row
  // Writers fill a row's last byte with runs that reach into the padding
  // pixels past the right edge; those pixels are dropped, as other readers do.
  const auto put = [&](int index) {
    if (x == width) return;
    std::uint8_t* p = out.row(height - 1 - y) + 3 * x;
    const Rgb c = palette[index];
    p[0] = BlueOf(c), p[1] = GreenOf(c), p[2] = RedOf(c);
    ++x;
  };
  const std::uint8_t* d = in.data;
  while (pos + 2 <= in.size) {
    const int count = d[pos];
    const int value = d[pos + 1];
    pos += 2;
    if (count > 0) {
      if (y >= height) return false;
      for (int i = 0; i < count; ++i) {
        put(four ? ((i & 1) ? (value & 0x0F) : (value >> 4)) : value);
      }
      continue;
    }
    if (value == 0) {  // end of line
      x = 0;
      ++y;
    } else if (value == 1) {  // end of bitmap
      return true;
    } else if (value == 2) {  // move right and up
      if (pos + 2 > in.size) return false;
      x += d[pos];
      y += d[pos + 1];
      pos += 2;
      if (x > width || y > height) return false;
    } else {  // a literal run, padded to an even number of bytes
      const std::size_t bytes = four ? (std::size_t(value) + 1) / 2 : std::size_t(value);
      if (y >= height || pos + bytes > in.size) return false;
      for (int i = 0; i < value; ++i) {
        const std::uint8_t b = d[pos + (four ? i / 2 : i)];
        put(four ? ((i & 1) ? (b & 0x0F) : (b >> 4)) : b);
      }
      pos += (bytes + 1) & ~std::size_t{1};
    }
  }
  return true;  // data ended without an end-of-bitmap mark: keep what was drawn
}

}  // namespace

bool DecodeBmp(ByteView in, Bitmap& out) {
  Header h;
  if (!ParseHeader(in, h)) return false;
  const std::size_t pixelOffset = U32(in.data + 10);
  if (pixelOffset >= in.size) return false;

  std::array<Rgb, 256> palette{};  // indices beyond the palette read as black
  if (h.bits <= 8) {
    std::size_t count = h.colorsUsed ? h.colorsUsed : (std::size_t{1} << h.bits);
    if (count > (std::size_t{1} << h.bits)) return false;
    if (h.headerSize == 12 && pixelOffset > h.paletteOffset) {
      // OS/2 1.x has no colour count: the palette fills the gap before the pixels.
      count = std::min(count, (pixelOffset - h.paletteOffset) / 3);
    }
    if (h.paletteOffset + count * h.paletteEntrySize > in.size) return false;
    for (std::size_t i = 0; i < count; ++i) {
      const std::uint8_t* p = in.data + h.paletteOffset + i * h.paletteEntrySize;
      palette[i] = MakeRgb(p[2], p[1], p[0]);
    }
  }

  const int width = static_cast<int>(h.width);
  const bool topDown = h.height < 0;
  const int height = static_cast<int>(topDown ? -h.height : h.height);
  Bitmap bitmap;
  if (h.compression == kRle4 || h.compression == kRle8) {
    // Writers spell every pixel with runs, at most 255 pixels per two bytes;
    // a picture larger than its data could spell that way is refused before
    // it is allocated.
    if (!DataCanHold(width, height, in.size - pixelOffset, 128)) return false;
    if (!bitmap.allocate(width, height, PixelFormat::Bgr24)) return false;
    if (!DecodeRle(in, pixelOffset, h, palette, bitmap)) return false;
    out = std::move(bitmap);
    return true;
  }

  const std::size_t stride = ((std::size_t(width) * h.bits + 31) / 32) * 4;
  const std::size_t lastRow = (std::size_t(width) * h.bits + 7) / 8;
  // The last row may lack its padding; anything shorter is a truncated file.
  if (in.size - pixelOffset < stride * (height - 1) + lastRow) return false;
  Channel red, green, blue;
  if (!red.set(h.masks[0]) || !green.set(h.masks[1]) || !blue.set(h.masks[2])) return false;
  if (!bitmap.allocate(width, height, PixelFormat::Bgr24)) return false;

  for (int y = 0; y < height; ++y) {
    const std::uint8_t* s = in.data + pixelOffset + stride * (topDown ? y : height - 1 - y);
    std::uint8_t* d = bitmap.row(y);
    switch (h.bits) {
      case 24:
        std::memcpy(d, s, 3 * std::size_t(width));
        break;
      case 32:
      case 16:
        for (int x = 0; x < width; ++x, d += 3) {
          const std::uint32_t v = h.bits == 32 ? U32(s + 4 * x) : U16(s + 2 * x);
          d[0] = blue(v), d[1] = green(v), d[2] = red(v);
        }
        break;
      default: {  // 1, 2, 4, 8 bits: palette indices, most significant first
        const int perByte = 8 / h.bits;
        const int mask = (1 << h.bits) - 1;
        for (int x = 0; x < width; ++x, d += 3) {
          const int shift = 8 - h.bits * (x % perByte + 1);
          const Rgb c = palette[(s[x / perByte] >> shift) & mask];
          d[0] = BlueOf(c), d[1] = GreenOf(c), d[2] = RedOf(c);
        }
        break;
      }
    }
  }
  out = std::move(bitmap);
  return true;
}

bool EncodeBmp(const Bitmap& bitmap, Bytes& out) {
  // Palette and 24-bit bitmaps are written as they are; 32-bit ones as 32-bit
  // BI_RGB with the ignored fourth byte cleared.
  const int bits = BitsPerPixel(bitmap.format());
  const std::size_t stride = bitmap.stride();  // already BMP's four-byte padding
  const std::size_t colours = IsIndexed(bitmap.format()) ? (std::size_t{1} << bits) : 0;
  const std::size_t pixelOffset = 14 + 40 + 4 * colours;
  const std::uint64_t total = pixelOffset + std::uint64_t(stride) * bitmap.height();
  if (total >= (1ULL << 32)) return false;
  Bytes file(static_cast<std::size_t>(total), 0);
  const auto put16 = [&](std::size_t at, std::uint32_t v) {
    file[at] = static_cast<std::uint8_t>(v), file[at + 1] = static_cast<std::uint8_t>(v >> 8);
  };
  const auto put32 = [&](std::size_t at, std::uint32_t v) {
    put16(at, v & 0xFFFF), put16(at + 2, v >> 16);
  };
  file[0] = 'B', file[1] = 'M';
  put32(2, static_cast<std::uint32_t>(total));
  put32(10, static_cast<std::uint32_t>(pixelOffset));
  put32(14, 40);
  put32(18, static_cast<std::uint32_t>(bitmap.width()));
  put32(22, static_cast<std::uint32_t>(bitmap.height()));  // bottom row first
  put16(26, 1);
  put16(28, static_cast<std::uint32_t>(bits));
  put32(34, static_cast<std::uint32_t>(stride * bitmap.height()));
  put32(38, 3780), put32(42, 3780);  // 96 dpi
  put32(46, static_cast<std::uint32_t>(colours));
  for (std::size_t i = 0; i < colours; ++i) {
    const Rgb c = i < bitmap.palette().size() ? bitmap.palette()[i] : 0;
    put32(54 + 4 * i, c & 0xFFFFFF);
  }
  for (int y = 0; y < bitmap.height(); ++y) {
    std::uint8_t* d = file.data() + pixelOffset + stride * (bitmap.height() - 1 - y);
    std::memcpy(d, bitmap.row(y), stride);
    if (bits == 32) {
      for (int x = 0; x < bitmap.width(); ++x) d[4 * x + 3] = 0;
    }
  }
  out = std::move(file);
  return true;
}

}  // namespace lumivore::codec
