#include "imaging/Usr_wic.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <string_view>

#include "imaging/Codec.h"

namespace lumivore {
namespace codec {

bool PictureSizeAllowed(long long width, long long height) {
  return width > 0 && height > 0 && width <= kMaxPictureSide && height <= kMaxPictureSide &&
         width * height <= kMaxPicturePixels;
}

bool DataCanHold(long long width, long long height, std::size_t dataBytes,
                 long long maxPixelsPerByte) {
  // Both sides are at most 2^16 and the product at most 2^27, so nothing overflows.
  return PictureSizeAllowed(width, height) &&
         width * height <= static_cast<long long>(std::min<std::size_t>(dataBytes, 1ULL << 32)) *
                               maxPixelsPerByte;
}

// Twice the largest picture: room for a library's own full-size buffers.
std::size_t LibraryMemoryLimit() { return std::size_t{8} * kMaxPicturePixels; }

FileFormat DetectFormat(ByteView in) {
  const auto starts = [&](std::string_view magic, std::size_t at = 0) {
    return in.size >= at + magic.size() &&
           std::memcmp(in.data + at, magic.data(), magic.size()) == 0;
  };
  using namespace std::string_view_literals;
  if (starts("BM"sv)) return FileFormat::Bmp;
  if (starts("\xFF\xD8\xFF"sv)) return FileFormat::Jpeg;
  if (starts("\x89PNG\r\n\x1A\n"sv)) return FileFormat::Png;
  if (starts("GIF87a"sv) || starts("GIF89a"sv)) return FileFormat::Gif;
  // Classic and big TIFF, both byte orders.
  if (starts("II*\0"sv) || starts("MM\0*"sv) || starts("II+\0"sv) || starts("MM\0+"sv)) {
    return FileFormat::Tiff;
  }
  // JPEG XR, and HD Photo files written before the standard (version byte 0).
  if (starts("II\xBC\x01"sv) || starts("II\xBC\x00"sv)) return FileFormat::Jxr;
  if (starts("RIFF"sv) && starts("WEBP"sv, 8)) return FileFormat::Webp;
  return FileFormat::Unknown;
}

bool DecodeImage(ByteView in, Bitmap& out) {
  switch (DetectFormat(in)) {
    case FileFormat::Bmp:
      return DecodeBmp(in, out);
    case FileFormat::Jpeg:
      return DecodeJpeg(in, out);
    case FileFormat::Png:
      return DecodePng(in, out);
    case FileFormat::Gif:
      return DecodeGif(in, out);
    case FileFormat::Tiff:
      return DecodeTiff(in, out);
    case FileFormat::Jxr:
      return DecodeJxr(in, out);
    case FileFormat::Webp:
      return DecodeWebp(in, out);
    case FileFormat::Unknown:
      break;
  }
  return false;
}

bool To24(const Bitmap& in, Bitmap& out) {
  out = in;
  out.convertTo24();
  return out.format() == PixelFormat::Bgr24;
}

}  // namespace codec

namespace {

enum class Container { None, Bmp, Jpeg, Png, Gif, Tiff, Wmp };

// The extension is the text from the last dot of the last path component,
// upper-cased; the first list that contains it anywhere names the container.
// Lists are searched as substrings on purpose, so ".J" writes JPEG and a
// trailing lone dot writes BMP.
Container ContainerForName(const std::string& fileName) {
  const std::size_t slash = fileName.rfind('/');
  const std::size_t start = slash == std::string::npos ? 0 : slash + 1;
  const std::size_t dot = fileName.rfind('.');
  if (dot == std::string::npos || dot < start) return Container::None;
  std::string ext = fileName.substr(dot);
  for (char& c : ext) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  static constexpr struct {
    std::string_view list;
    Container container;
  } kLists[] = {
      {".BMP.", Container::Bmp}, {".JPG.JPEG.JPE.", Container::Jpeg}, {".PNG.", Container::Png},
      {".GIF.", Container::Gif}, {".TIF.", Container::Tiff},          {".HDP.WDP.", Container::Wmp},
  };
  for (const auto& entry : kLists) {
    if (entry.list.find(ext) != std::string_view::npos) return entry.container;
  }
  return Container::None;
}

// Quality 100 and above is 1.0; below, quality / 100 as the nearest float,
// with no lower clamp: a negative value reaches the encoder, which refuses it.
float QualityOption(int quality) {
  return quality >= 100 ? 1.0f : static_cast<float>(quality / 100.0);
}

}  // namespace

// A file loads as its first frame or page. None of the decoders used here
// offers a preview picture distinct from the image (an EXIF thumbnail in a
// JPEG is metadata, not a preview), so there is no preview to prefer.
bool WicLoadImage(const std::string& fileName, Bitmap& bitmap) {
  try {
    codec::Bytes data;
    if (!codec::ReadWholeFile(fileName, data)) return false;
    Bitmap decoded;
    if (!codec::DecodeImage({data.data(), data.size()}, decoded)) return false;
    if (decoded.format() != PixelFormat::Bgr24 || decoded.empty()) return false;
    bitmap = std::move(decoded);
    return true;
  } catch (...) {  // std::bad_alloc from a container
    return false;
  }
}

bool WicCanEncode(const std::string& fileName) {
  return ContainerForName(fileName) != Container::None;
}

bool WicEncodeImage(const std::string& fileName, const Bitmap& bitmap, int quality, int subsampling,
                    int tiffCompression, std::vector<std::uint8_t>& out) {
  const Container container = ContainerForName(fileName);
  if (container == Container::None) return false;
  if (bitmap.empty()) return false;
  try {
    codec::EncodeOptions options;
    options.quality = QualityOption(quality);
    // Out-of-range values are not passed on: the encoder uses its default.
    options.subsampling = (subsampling >= 0 && subsampling <= 3) ? subsampling : 0;
    options.tiffCompression = (tiffCompression >= 0 && tiffCompression <= 7) ? tiffCompression : 0;
    switch (container) {
      case Container::Bmp:
        return codec::EncodeBmp(bitmap, out);
      case Container::Jpeg:
        return codec::EncodeJpeg(bitmap, options, out);
      case Container::Png:
        return codec::EncodePng(bitmap, out);
      case Container::Gif:
        return codec::EncodeGif(bitmap, out);
      case Container::Tiff:
        return codec::EncodeTiff(bitmap, options, out);
      case Container::Wmp:
        return codec::EncodeJxr(bitmap, options, out);
      case Container::None:
        break;
    }
    return false;
  } catch (...) {
    return false;
  }
}

bool WicSaveImage(const std::string& fileName, const Bitmap& bitmap, int quality, int subsampling,
                  int tiffCompression) {
  try {
    codec::Bytes out;
    return WicEncodeImage(fileName, bitmap, quality, subsampling, tiffCompression, out) &&
           codec::WriteFileAtomically(fileName, out);
  } catch (...) {
    return false;
  }
}

}  // namespace lumivore
