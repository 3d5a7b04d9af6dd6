// GIF through giflib: the first image of a file is read; writing makes a
// single-image GIF.
#include <gif_lib.h>
#include <libimagequant.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <unordered_map>
#include <vector>

#include "imaging/Codec.h"

namespace lumivore::codec {
namespace {

struct Reader {
  ByteView in;
  std::size_t pos = 0;
};

int ReadData(GifFileType* gif, GifByteType* data, int length) {
  auto* r = static_cast<Reader*>(gif->UserData);
  const std::size_t n =
      std::min<std::size_t>(std::size_t(std::max(length, 0)), r->in.size - r->pos);
  std::memcpy(data, r->in.data + r->pos, n);
  r->pos += n;
  return static_cast<int>(n);
}

int WriteData(GifFileType* gif, const GifByteType* data, int length) {
  auto* out = static_cast<Bytes*>(gif->UserData);
  try {
    out->insert(out->end(), data, data + length);
    return length;
  } catch (...) {
    return 0;  // giflib turns a short write into an error
  }
}

struct DecoderGuard {
  GifFileType* gif;
  ~DecoderGuard() {
    int error = 0;
    if (gif) DGifCloseFile(gif, &error);
  }
};

struct MapGuard {
  ColorMapObject* map;
  ~MapGuard() { GifFreeMapObject(map); }
};

bool DecodeFirstImage(GifFileType* gif, std::size_t fileSize, Bitmap& out) {
  if (DGifGetImageDesc(gif) != GIF_OK) return false;
  const GifImageDesc& desc = gif->Image;
  // An LZW code of at least 12 bits stands for at most 4096 pixels, so the
  // file must hold at least one byte per 2731 pixels; checked before
  // allocating the picture.
  if (!DataCanHold(desc.Width, desc.Height, fileSize, 2731)) return false;
  const ColorMapObject* map = desc.ColorMap ? desc.ColorMap : gif->SColorMap;
  if (!map || !map->Colors) return false;
  // Indices beyond the colour map read as black.
  std::uint8_t bgr[256][3] = {};
  for (int i = 0; i < std::min(map->ColorCount, 256); ++i) {
    bgr[i][0] = map->Colors[i].Blue, bgr[i][1] = map->Colors[i].Green,
    bgr[i][2] = map->Colors[i].Red;
  }
  Bitmap bitmap;
  if (!bitmap.allocate(desc.Width, desc.Height, PixelFormat::Bgr24)) return false;
  std::vector<GifPixelType> line(static_cast<std::size_t>(desc.Width));
  const auto readRow = [&](int y) {
    if (DGifGetLine(gif, line.data(), desc.Width) != GIF_OK) return false;
    std::uint8_t* d = bitmap.row(y);
    for (int x = 0; x < desc.Width; ++x, d += 3) std::memcpy(d, bgr[line[x]], 3);
    return true;
  };
  if (desc.Interlace) {
    static constexpr int kStart[] = {0, 4, 2, 1};
    static constexpr int kStep[] = {8, 8, 4, 2};
    for (int pass = 0; pass < 4; ++pass) {
      for (int y = kStart[pass]; y < desc.Height; y += kStep[pass]) {
        if (!readRow(y)) return false;
      }
    }
  } else {
    for (int y = 0; y < desc.Height; ++y) {
      if (!readRow(y)) return false;
    }
  }
  out = std::move(bitmap);
  return true;
}

// An exact palette when the picture has at most 256 colours (the usual case
// for screenshots); false when it has more.
bool ExactPalette(const Bitmap& bitmap, std::vector<Rgb>& palette,
                  std::vector<GifPixelType>& indices) {
  std::unordered_map<Rgb, GifPixelType> seen;
  indices.resize(std::size_t(bitmap.width()) * bitmap.height());
  const int step = bitmap.format() == PixelFormat::Bgrx32 ? 4 : 3;
  Rgb last = 0xFFFFFFFF;
  GifPixelType lastIndex = 0;
  for (int y = 0; y < bitmap.height(); ++y) {
    const std::uint8_t* s = bitmap.row(y);
    GifPixelType* d = indices.data() + std::size_t(y) * bitmap.width();
    for (int x = 0; x < bitmap.width(); ++x, s += step) {
      const Rgb c = MakeRgb(s[2], s[1], s[0]);
      if (c != last) {
        auto [it, inserted] = seen.emplace(c, static_cast<GifPixelType>(palette.size()));
        if (inserted) {
          if (palette.size() == 256) return false;
          palette.push_back(c);
        }
        last = c;
        lastIndex = it->second;
      }
      d[x] = lastIndex;
    }
  }
  return true;
}

// Hands libimagequant one row at a time as RGBA, so no full RGBA copy of the
// picture is made.
void RgbaRow(liq_color out[], int row, int width, void* user) {
  const auto* bitmap = static_cast<const Bitmap*>(user);
  const int step = bitmap->format() == PixelFormat::Bgrx32 ? 4 : 3;
  const std::uint8_t* s = bitmap->row(row);
  for (int x = 0; x < width; ++x, s += step) out[x] = {s[2], s[1], s[0], 255};
}

// More than 256 colours: libimagequant chooses the palette (a median cut
// refined by k-means in a perceptual colour space) and maps the pixels to it
// without dithering. On screenshots, with their flat areas, text edges and few
// photo regions, it stays far closer to the picture than a plain median cut.
bool QuantisedPalette(const Bitmap& bitmap, std::vector<Rgb>& palette,
                      std::vector<GifPixelType>& indices) {
  std::unique_ptr<liq_attr, void (*)(liq_attr*)> attr(liq_attr_create(), liq_attr_destroy);
  if (!attr || liq_set_max_colors(attr.get(), 256) != LIQ_OK) return false;
  std::unique_ptr<liq_image, void (*)(liq_image*)> image(
      liq_image_create_custom(attr.get(), RgbaRow, const_cast<Bitmap*>(&bitmap), bitmap.width(),
                              bitmap.height(), 0.0),
      liq_image_destroy);
  if (!image) return false;
  liq_result* raw = nullptr;
  if (liq_image_quantize(image.get(), attr.get(), &raw) != LIQ_OK) return false;
  std::unique_ptr<liq_result, void (*)(liq_result*)> result(raw, liq_result_destroy);
  if (liq_set_dithering_level(result.get(), 0.0f) != LIQ_OK) return false;
  indices.resize(std::size_t(bitmap.width()) * bitmap.height());
  if (liq_write_remapped_image(result.get(), image.get(), indices.data(), indices.size()) !=
      LIQ_OK) {
    return false;
  }
  const liq_palette* colours = liq_get_palette(result.get());
  palette.clear();
  for (unsigned i = 0; i < colours->count; ++i) {
    palette.push_back(MakeRgb(colours->entries[i].r, colours->entries[i].g, colours->entries[i].b));
  }
  return true;
}

}  // namespace

bool DecodeGif(ByteView in, Bitmap& out) {
  Reader reader{in, 0};
  int error = 0;
  DecoderGuard guard{DGifOpen(&reader, ReadData, &error)};
  if (!guard.gif) return false;
  for (;;) {
    GifRecordType type = UNDEFINED_RECORD_TYPE;
    if (DGifGetRecordType(guard.gif, &type) != GIF_OK) return false;
    if (type == IMAGE_DESC_RECORD_TYPE) return DecodeFirstImage(guard.gif, in.size, out);
    if (type != EXTENSION_RECORD_TYPE) return false;  // the end, without any image
    int code = 0;
    GifByteType* block = nullptr;
    if (DGifGetExtension(guard.gif, &code, &block) != GIF_OK) return false;
    while (block) {
      if (DGifGetExtensionNext(guard.gif, &block) != GIF_OK) return false;
    }
  }
}

bool EncodeGif(const Bitmap& bitmap, Bytes& out) {
  if (bitmap.width() > 65535 || bitmap.height() > 65535) return false;
  std::vector<Rgb> palette;
  std::vector<GifPixelType> indices;
  if (IsIndexed(bitmap.format())) {
    palette = bitmap.palette();  // the bitmap's own palette is kept
    indices.resize(std::size_t(bitmap.width()) * bitmap.height());
    std::size_t used = 0;
    for (int y = 0; y < bitmap.height(); ++y) {
      for (int x = 0; x < bitmap.width(); ++x) {
        const int index = bitmap.index(x, y);
        used = std::max(used, std::size_t(index) + 1);
        indices[std::size_t(y) * bitmap.width() + x] = static_cast<GifPixelType>(index);
      }
    }
    if (palette.size() < used) palette.resize(used, 0);  // missing entries are black
  } else if (!ExactPalette(bitmap, palette, indices)) {
    palette.clear();
    if (!QuantisedPalette(bitmap, palette, indices)) return false;
  }
  // GIF colour tables hold a power of two entries, at least two.
  int bits = 1;
  while ((1u << bits) < palette.size()) ++bits;
  std::vector<GifColorType> colours(std::size_t{1} << bits, GifColorType{0, 0, 0});
  for (std::size_t i = 0; i < palette.size() && i < colours.size(); ++i) {
    colours[i] = {RedOf(palette[i]), GreenOf(palette[i]), BlueOf(palette[i])};
  }
  MapGuard map{GifMakeMapObject(static_cast<int>(colours.size()), colours.data())};
  if (!map.map) return false;

  Bytes encoded;
  int error = 0;
  GifFileType* gif = EGifOpen(&encoded, WriteData, &error);
  if (!gif) return false;
  bool ok = EGifPutScreenDesc(gif, bitmap.width(), bitmap.height(), bits, 0, map.map) == GIF_OK &&
            EGifPutImageDesc(gif, 0, 0, bitmap.width(), bitmap.height(), false, nullptr) == GIF_OK;
  for (int y = 0; ok && y < bitmap.height(); ++y) {
    ok = EGifPutLine(gif, indices.data() + std::size_t(y) * bitmap.width(), bitmap.width()) ==
         GIF_OK;
  }
  // EGifCloseFile writes the trailer and frees the handle, also after an error.
  ok = EGifCloseFile(gif, &error) == GIF_OK && ok;
  if (!ok) return false;
  out = std::move(encoded);
  return true;
}

}  // namespace lumivore::codec
