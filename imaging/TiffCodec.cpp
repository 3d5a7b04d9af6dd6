// TIFF through libtiff, reading the first page of a file from memory and
// writing into memory. Messages go to per-handle handlers that drop them, so
// nothing reaches the terminal and no global libtiff state is changed.
#include <tiffio.h>

#include <algorithm>
#include <cstdarg>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "imaging/Codec.h"

namespace lumivore::codec {
namespace {

struct Stream {
  const std::uint8_t* data = nullptr;  // reading
  Bytes* out = nullptr;                // writing
  std::size_t size = 0;
  std::size_t pos = 0;
};

tmsize_t ReadProc(thandle_t h, void* buffer, tmsize_t length) {
  auto* s = static_cast<Stream*>(h);
  const std::uint8_t* base = s->out ? s->out->data() : s->data;
  const std::size_t size = s->out ? s->out->size() : s->size;
  if (length < 0 || s->pos >= size) return 0;
  const std::size_t n = std::min<std::size_t>(std::size_t(length), size - s->pos);
  std::memcpy(buffer, base + s->pos, n);
  s->pos += n;
  return static_cast<tmsize_t>(n);
}

tmsize_t WriteProc(thandle_t h, void* buffer, tmsize_t length) {
  auto* s = static_cast<Stream*>(h);
  if (!s->out || length < 0) return -1;
  try {
    if (s->pos + std::size_t(length) > s->out->size()) s->out->resize(s->pos + std::size_t(length));
  } catch (...) {
    return -1;
  }
  std::memcpy(s->out->data() + s->pos, buffer, std::size_t(length));
  s->pos += std::size_t(length);
  return length;
}

toff_t SeekProc(thandle_t h, toff_t offset, int whence) {
  auto* s = static_cast<Stream*>(h);
  const std::size_t size = s->out ? s->out->size() : s->size;
  std::uint64_t base = whence == SEEK_CUR ? s->pos : whence == SEEK_END ? size : 0;
  const std::uint64_t target = base + offset;
  if (target > (1ULL << 40)) return static_cast<toff_t>(-1);
  s->pos = static_cast<std::size_t>(target);
  return target;
}

int CloseProc(thandle_t) { return 0; }
toff_t SizeProc(thandle_t h) {
  auto* s = static_cast<Stream*>(h);
  return s->out ? s->out->size() : s->size;
}
int MapProc(thandle_t h, void** base, toff_t* size) {
  auto* s = static_cast<Stream*>(h);
  if (s->out) return 0;
  *base = const_cast<std::uint8_t*>(s->data);
  *size = s->size;
  return 1;
}
void UnmapProc(thandle_t, void*, toff_t) {}

int DropMessage(TIFF*, void*, const char*, const char*, va_list) { return 1; }

struct TiffHandle {
  TIFF* tif = nullptr;
  ~TiffHandle() {
    if (tif) TIFFClose(tif);
  }
};

TIFF* Open(Stream& stream, const char* mode) {
  std::unique_ptr<TIFFOpenOptions, void (*)(TIFFOpenOptions*)> options(TIFFOpenOptionsAlloc(),
                                                                       TIFFOpenOptionsFree);
  if (!options) return nullptr;
  TIFFOpenOptionsSetErrorHandlerExtR(options.get(), DropMessage, nullptr);
  TIFFOpenOptionsSetWarningHandlerExtR(options.get(), DropMessage, nullptr);
  TIFFOpenOptionsSetMaxSingleMemAlloc(options.get(), static_cast<tmsize_t>(LibraryMemoryLimit()));
  return TIFFClientOpenExt("memory", mode, &stream, ReadProc, WriteProc, SeekProc, CloseProc,
                           SizeProc, MapProc, UnmapProc, options.get());
}

std::uint8_t FloatToByte(double v) {
  if (!(v > 0.0)) return 0;  // also NaN
  if (v >= 1.0) return 255;
  return static_cast<std::uint8_t>(v * 255.0 + 0.5);
}

// Collects decoded 24-bit rows in bands and builds the picture only once all
// rows are there. Memory thus grows with the data actually decoded, not with
// the size a header claims (a few bytes of TIFF can claim a huge picture whose
// strips are missing), and freeing each band as it is copied keeps the peak
// near one picture.
class RowCollector {
 public:
  // Rows decoded at a time where the decoder lets us choose.
  static constexpr std::uint32_t kBandRows = 64;
  explicit RowCollector(std::uint32_t width) : rowBytes_(3 * std::size_t{width}) {}
  // Room for the next `rows` rows, to be filled by the caller.
  std::uint8_t* append(std::uint32_t rows) {
    bands_.emplace_back(rows * rowBytes_);
    return bands_.back().data();
  }
  // Bands appended in the picture's order, or bottom band first when
  // `bottomUp`; each band's own rows are top row first.
  bool finish(std::uint32_t width, std::uint32_t height, bool bottomUp, Bitmap& out) {
    Bitmap bitmap;
    if (!bitmap.allocate(static_cast<int>(width), static_cast<int>(height), PixelFormat::Bgr24)) {
      return false;
    }
    std::size_t done = 0;
    for (std::vector<std::uint8_t>& band : bands_) {
      const std::size_t rows = band.size() / rowBytes_;
      if (done + rows > height) return false;
      const std::size_t top = bottomUp ? height - done - rows : done;
      for (std::size_t r = 0; r < rows; ++r) {
        std::memcpy(bitmap.row(static_cast<int>(top + r)), band.data() + r * rowBytes_, rowBytes_);
      }
      done += rows;
      std::vector<std::uint8_t>().swap(band);
    }
    if (done != height) return false;
    out = std::move(bitmap);
    return true;
  }

 private:
  std::size_t rowBytes_;
  std::vector<std::vector<std::uint8_t>> bands_;
};

// Floating-point samples (grey or RGB, contiguous), nominal range 0.0 .. 1.0,
// which the RGBA interface of libtiff does not read.
bool DecodeFloat(TIFF* tif, Bitmap& out) {
  std::uint32_t width = 0, height = 0;
  std::uint16_t bits = 0, samples = 1, planar = PLANARCONFIG_CONTIG;
  TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &width);
  TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &height);
  TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &bits);
  TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &samples);
  TIFFGetFieldDefaulted(tif, TIFFTAG_PLANARCONFIG, &planar);
  if ((bits != 32 && bits != 64) || samples < 1 || samples > 4 || samples == 2 ||
      planar != PLANARCONFIG_CONTIG || TIFFIsTiled(tif) || !PictureSizeAllowed(width, height)) {
    return false;
  }
  const tmsize_t scanline = TIFFScanlineSize(tif);
  if (scanline < tmsize_t(width) * samples * (bits / 8)) return false;
  std::vector<std::uint8_t> line(static_cast<std::size_t>(scanline));
  RowCollector rows(width);
  for (std::uint32_t y = 0; y < height; ++y) {
    if (TIFFReadScanline(tif, line.data(), y, 0) < 0) return false;
    std::uint8_t* d = rows.append(1);
    for (std::uint32_t x = 0; x < width; ++x, d += 3) {
      double v[3];
      for (int c = 0; c < 3; ++c) {
        const std::size_t i = std::size_t(x) * samples + (samples >= 3 ? c : 0);
        if (bits == 32) {
          float f;
          std::memcpy(&f, line.data() + 4 * i, 4);
          v[c] = f;
        } else {
          std::memcpy(&v[c], line.data() + 8 * i, 8);
        }
      }
      d[0] = FloatToByte(v[2]), d[1] = FloatToByte(v[1]), d[2] = FloatToByte(v[0]);
    }
  }
  return rows.finish(width, height, false, out);
}

// 8-bit grey or RGB in strips, possibly with extra (alpha) samples: read
// the stored values directly, so any alpha is dropped without touching the
// colours. Returns false with `handled` unset when the file needs the
// general path.
bool DecodePlain(TIFF* tif, Bitmap& out, bool& handled) {
  handled = false;
  std::uint32_t width = 0, height = 0;
  std::uint16_t bits = 0, samples = 1, planar = PLANARCONFIG_CONTIG, photometric = 0;
  std::uint16_t orientation = ORIENTATION_TOPLEFT, compression = COMPRESSION_NONE;
  if (!TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &width) ||
      !TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &height) ||
      !TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &photometric)) {
    return false;
  }
  TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &bits);
  TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &samples);
  TIFFGetFieldDefaulted(tif, TIFFTAG_PLANARCONFIG, &planar);
  TIFFGetFieldDefaulted(tif, TIFFTAG_ORIENTATION, &orientation);
  TIFFGetFieldDefaulted(tif, TIFFTAG_COMPRESSION, &compression);
  const bool grey = photometric == PHOTOMETRIC_MINISBLACK || photometric == PHOTOMETRIC_MINISWHITE;
  if (bits != 8 || planar != PLANARCONFIG_CONTIG || TIFFIsTiled(tif) ||
      orientation != ORIENTATION_TOPLEFT || compression == COMPRESSION_OJPEG ||
      compression == COMPRESSION_JPEG || !(grey || photometric == PHOTOMETRIC_RGB) ||
      samples < (grey ? 1 : 3)) {
    return false;
  }
  handled = true;
  if (!PictureSizeAllowed(width, height)) return false;
  const tmsize_t scanline = TIFFScanlineSize(tif);
  if (scanline < tmsize_t(width) * samples) return false;
  std::vector<std::uint8_t> line(static_cast<std::size_t>(scanline));
  RowCollector rows(width);
  const std::uint8_t invert = photometric == PHOTOMETRIC_MINISWHITE ? 0xFF : 0;
  for (std::uint32_t y = 0; y < height; ++y) {
    if (TIFFReadScanline(tif, line.data(), y, 0) < 0) return false;
    const std::uint8_t* s = line.data();
    std::uint8_t* d = rows.append(1);
    for (std::uint32_t x = 0; x < width; ++x, s += samples, d += 3) {
      if (grey) {
        d[0] = d[1] = d[2] = static_cast<std::uint8_t>(s[0] ^ invert);
      } else {
        d[0] = s[2], d[1] = s[1], d[2] = s[0];
      }
    }
  }
  return rows.finish(width, height, false, out);
}

struct RgbaImage {
  TIFFRGBAImage img{};
  bool begun = false;
  ~RgbaImage() {
    if (begun) TIFFRGBAImageEnd(&img);
  }
};

}  // namespace

bool DecodeTiff(ByteView in, Bitmap& out) {
  Stream stream{in.data, nullptr, in.size, 0};
  TiffHandle h{Open(stream, "r")};
  if (!h.tif) return false;
  std::uint16_t sampleFormat = SAMPLEFORMAT_UINT;
  TIFFGetFieldDefaulted(h.tif, TIFFTAG_SAMPLEFORMAT, &sampleFormat);
  if (sampleFormat == SAMPLEFORMAT_IEEEFP) return DecodeFloat(h.tif, out);
  bool handled = false;
  const bool plain = DecodePlain(h.tif, out, handled);
  if (handled) return plain;

  // libtiff's RGBA interface covers every photometric interpretation, bit
  // depth, planar layout, tiling and old-style JPEG; it also honours the
  // Orientation tag.
  char message[1024];
  RgbaImage rgba;
  if (!TIFFRGBAImageOK(h.tif, message)) return false;
  if (!TIFFRGBAImageBegin(&rgba.img, h.tif, 0, message)) return false;
  rgba.begun = true;
  const std::uint32_t width = rgba.img.width;
  const std::uint32_t height = rgba.img.height;
  if (!PictureSizeAllowed(width, height)) return false;
  // Unassociated alpha would be multiplied into the colours; make that table
  // the identity so the stored colours come through unchanged.
  if (rgba.img.UaToAa) {
    for (int a = 0; a < 256; ++a) {
      for (int v = 0; v < 256; ++v) rgba.img.UaToAa[a * 256 + v] = static_cast<std::uint8_t>(v);
    }
  }
  rgba.img.req_orientation = ORIENTATION_TOPLEFT;
  // Read in bands of rows. libtiff mirrors each band on its own for files
  // stored bottom row first; their bands then go in from the bottom up.
  std::uint16_t orientation = ORIENTATION_TOPLEFT;
  TIFFGetFieldDefaulted(h.tif, TIFFTAG_ORIENTATION, &orientation);
  const bool bottomUp = orientation == ORIENTATION_BOTLEFT || orientation == ORIENTATION_BOTRIGHT ||
                        orientation == ORIENTATION_LEFTBOT || orientation == ORIENTATION_RIGHTBOT;
  // libtiff starts a band only at the first row of a strip or tile: bands
  // are whole strips (or rows of tiles), several small ones together.
  std::uint32_t unit = height;
  if (TIFFIsTiled(h.tif)) {
    TIFFGetField(h.tif, TIFFTAG_TILELENGTH, &unit);
  } else {
    TIFFGetFieldDefaulted(h.tif, TIFFTAG_ROWSPERSTRIP, &unit);
  }
  unit = std::clamp<std::uint32_t>(unit, 1, height);
  const std::uint32_t bandRows =
      std::min(height, std::max<std::uint32_t>(1, RowCollector::kBandRows / unit) * unit);
  std::vector<std::uint32_t> raster(std::size_t{width} * bandRows);
  RowCollector rows(width);
  // A strip or tile that fails to decode is left as libtiff fills it, as
  // slightly broken files still show most of their picture; but a picture
  // whose bands mostly fail has no data behind its header and is refused
  // before it grows further.
  int bands = 0, failed = 0;
  for (std::uint32_t y = 0; y < height; y += bandRows) {
    const std::uint32_t count = std::min(bandRows, height - y);
    rgba.img.row_offset = static_cast<int>(y);
    rgba.img.col_offset = 0;
    ++bands;
    if (!TIFFRGBAImageGet(&rgba.img, raster.data(), width, count) && ++failed > 2 &&
        2 * failed > bands) {
      return false;
    }
    std::uint8_t* d = rows.append(count);
    for (std::size_t i = 0; i < std::size_t{width} * count; ++i, d += 3) {
      d[0] = static_cast<std::uint8_t>(TIFFGetB(raster[i]));
      d[1] = static_cast<std::uint8_t>(TIFFGetG(raster[i]));
      d[2] = static_cast<std::uint8_t>(TIFFGetR(raster[i]));
    }
  }
  std::vector<std::uint32_t>().swap(raster);
  return rows.finish(width, height, bottomUp, out);
}

namespace {

// Compression option -> libtiff scheme. 0 ("don't care") and values the
// caller did not pass take LZW: lossless, understood by every reader and
// small for screen pictures.
std::uint16_t SchemeFor(int method) {
  switch (method) {
    case 1:
      return COMPRESSION_NONE;
    case 2:
      return COMPRESSION_CCITTFAX3;
    case 3:
      return COMPRESSION_CCITTFAX4;
    case 5:
      return COMPRESSION_CCITTRLE;
    case 6:
      return COMPRESSION_ADOBE_DEFLATE;
    default:  // 0, 4, 7
      return COMPRESSION_LZW;
  }
}

int Luminance(Rgb c) { return (77 * RedOf(c) + 150 * GreenOf(c) + 29 * BlueOf(c) + 128) >> 8; }

}  // namespace

bool EncodeTiff(const Bitmap& bitmap, const EncodeOptions& options, Bytes& out) {
  const int method = options.tiffCompression;
  // The fax schemes (CCITT G3, G4, RLE) only take 1-bit data: the picture is
  // written as black and white, a pixel black when its luminance is below
  // half.
  const bool bilevel = method == 2 || method == 3 || method == 5;
  const bool indexed = !bilevel && IsIndexed(bitmap.format());
  const int width = bitmap.width();
  const int height = bitmap.height();

  Bytes encoded;
  Stream stream{nullptr, &encoded, 0, 0};
  TiffHandle h{Open(stream, "w")};
  if (!h.tif) return false;
  TIFF* tif = h.tif;
  const std::uint16_t bits = bilevel ? 1 : indexed ? BitsPerPixel(bitmap.format()) : 8;
  const std::uint16_t samples = (bilevel || indexed) ? 1 : 3;
  const std::uint16_t photometric = bilevel   ? PHOTOMETRIC_MINISWHITE
                                    : indexed ? PHOTOMETRIC_PALETTE
                                              : PHOTOMETRIC_RGB;
  bool ok = TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, static_cast<std::uint32_t>(width)) &&
            TIFFSetField(tif, TIFFTAG_IMAGELENGTH, static_cast<std::uint32_t>(height)) &&
            TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, bits) &&
            TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, samples) &&
            TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, photometric) &&
            TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG) &&
            TIFFSetField(tif, TIFFTAG_COMPRESSION, SchemeFor(method)) &&
            TIFFSetField(tif, TIFFTAG_XRESOLUTION, 96.0) &&
            TIFFSetField(tif, TIFFTAG_YRESOLUTION, 96.0) &&
            TIFFSetField(tif, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
  // Horizontal differencing only suits continuous-tone samples, never
  // palette indices.
  if (ok && method == 7 && !indexed)
    ok = TIFFSetField(tif, TIFFTAG_PREDICTOR, PREDICTOR_HORIZONTAL);
  std::vector<std::uint16_t> map[3];
  if (ok && indexed) {
    const std::size_t entries = std::size_t{1} << bits;
    for (auto& m : map) m.assign(entries, 0);
    for (std::size_t i = 0; i < entries && i < bitmap.palette().size(); ++i) {
      const Rgb c = bitmap.palette()[i];
      map[0][i] = static_cast<std::uint16_t>(RedOf(c) * 257);
      map[1][i] = static_cast<std::uint16_t>(GreenOf(c) * 257);
      map[2][i] = static_cast<std::uint16_t>(BlueOf(c) * 257);
    }
    ok = TIFFSetField(tif, TIFFTAG_COLORMAP, map[0].data(), map[1].data(), map[2].data());
  }
  ok = ok && TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, TIFFDefaultStripSize(tif, 0));
  if (!ok) return false;

  // libtiff may change a row in place (predictor, bit order): always hand it
  // a scratch copy.
  std::vector<std::uint8_t> line(std::max<std::size_t>(bitmap.stride(), 3 * std::size_t(width)));
  for (int y = 0; y < height; ++y) {
    const std::uint8_t* s = bitmap.row(y);
    if (bilevel) {
      std::fill(line.begin(), line.end(), 0);
      for (int x = 0; x < width; ++x) {
        if (Luminance(bitmap.pixel(x, y)) < 128)
          line[x >> 3] |= static_cast<std::uint8_t>(0x80 >> (x & 7));
      }
    } else if (indexed) {
      std::memcpy(line.data(), s, bitmap.stride());
    } else {
      const int step = bitmap.format() == PixelFormat::Bgrx32 ? 4 : 3;
      for (int x = 0; x < width; ++x, s += step) {
        line[3 * x] = s[2], line[3 * x + 1] = s[1], line[3 * x + 2] = s[0];
      }
    }
    if (TIFFWriteScanline(tif, line.data(), static_cast<std::uint32_t>(y), 0) < 0) return false;
  }
  if (!TIFFFlush(tif)) return false;
  TIFFClose(h.tif);
  h.tif = nullptr;
  out = std::move(encoded);
  return true;
}

}  // namespace lumivore::codec
