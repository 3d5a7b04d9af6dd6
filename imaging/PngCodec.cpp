// PNG decoding through libpng (the encoder is in PngEncoder.cpp). Errors
// longjmp back through libpng's jump buffer; objects needing cleanup are
// constructed before setjmp.
#include <png.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "imaging/Codec.h"

namespace lumivore::codec {
namespace {

struct Reader {
  ByteView in;
  std::size_t pos = 0;
};

void ReadData(png_structp png, png_bytep data, png_size_t length) {
  auto* r = static_cast<Reader*>(png_get_io_ptr(png));
  if (length > r->in.size - r->pos) png_error(png, "truncated");
  std::memcpy(data, r->in.data + r->pos, length);
  r->pos += length;
}

[[noreturn]] void OnError(png_structp png, png_const_charp) { png_longjmp(png, 1); }
void OnWarning(png_structp, png_const_charp) {}

struct ReadGuard {
  png_structp png = nullptr;
  png_infop info = nullptr;
  ~ReadGuard() { png_destroy_read_struct(&png, &info, nullptr); }
};

// Decodes into 24-bit BGR, or with `keepAlpha` into 32-bit BGRA (the fourth
// byte the alpha, 255 where the file has none).
bool DecodePngTo(ByteView in, Bitmap& out, bool keepAlpha) {
  Reader reader{in, 0};
  Bitmap bitmap;
  std::vector<png_bytep> rows;
  ReadGuard g;
  g.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, OnError, OnWarning);
  if (!g.png) return false;
  g.info = png_create_info_struct(g.png);
  if (!g.info) return false;
  if (setjmp(png_jmpbuf(g.png))) return false;

  png_set_read_fn(g.png, &reader, ReadData);
  png_set_chunk_malloc_max(g.png,
                           LibraryMemoryLimit() < 64u << 20 ? LibraryMemoryLimit() : 64u << 20);
  png_read_info(g.png, g.info);
  png_uint_32 width = 0, height = 0;
  int depth = 0, type = 0, interlace = 0;
  png_get_IHDR(g.png, g.info, &width, &height, &depth, &type, &interlace, nullptr, nullptr);
  // Deflate packs at most 1032 bytes into one, so the file must hold at least
  // that share of the picture's raw rows; checked before allocating them.
  const int bitsPerPixel = png_get_channels(g.png, g.info) * depth;
  if (bitsPerPixel <= 0 || !DataCanHold(width, height, in.size, 1032 * 8 / bitsPerPixel)) {
    return false;
  }

  // Everything becomes 8-bit BGR. Without `keepAlpha`, alpha and tRNS are
  // dropped without blending, so transparent pixels keep their stored
  // colours; no gamma or colour-profile correction is applied.
  const bool hasAlpha =
      (type & PNG_COLOR_MASK_ALPHA) || png_get_valid(g.png, g.info, PNG_INFO_tRNS);
  if (type == PNG_COLOR_TYPE_PALETTE) png_set_palette_to_rgb(g.png);
  if (type == PNG_COLOR_TYPE_GRAY && depth < 8) png_set_expand_gray_1_2_4_to_8(g.png);
  if (depth == 16) png_set_scale_16(g.png);
  // (Palette expansion also turns tRNS into alpha.)
  if (hasAlpha && !keepAlpha) png_set_strip_alpha(g.png);
  if (hasAlpha && keepAlpha) png_set_tRNS_to_alpha(g.png);
  if (!hasAlpha && keepAlpha) png_set_add_alpha(g.png, 0xFF, PNG_FILLER_AFTER);
  if (type == PNG_COLOR_TYPE_GRAY || type == PNG_COLOR_TYPE_GRAY_ALPHA) png_set_gray_to_rgb(g.png);
  png_set_bgr(g.png);
  png_set_interlace_handling(g.png);
  png_read_update_info(g.png, g.info);
  const std::size_t channels = keepAlpha ? 4 : 3;
  if (png_get_rowbytes(g.png, g.info) != channels * std::size_t{width}) return false;

  if (!bitmap.allocate(static_cast<int>(width), static_cast<int>(height),
                       keepAlpha ? PixelFormat::Bgrx32 : PixelFormat::Bgr24)) {
    return false;
  }
  rows.resize(height);
  for (png_uint_32 y = 0; y < height; ++y) rows[y] = bitmap.row(static_cast<int>(y));
  png_read_image(g.png, rows.data());
  out = std::move(bitmap);
  return true;
}

}  // namespace

bool DecodePng(ByteView in, Bitmap& out) { return DecodePngTo(in, out, false); }

bool DecodePngWithAlpha(ByteView in, Bitmap& out) { return DecodePngTo(in, out, true); }

}  // namespace lumivore::codec
