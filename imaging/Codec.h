// Internal interface between the public imaging routines and the codecs.
// Decoders read from memory and fill a fresh 24-bit bitmap; encoders write a
// complete file image into memory. Neither prints nor throws through C code.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "imaging/Bitmap.h"

namespace lumivore::codec {

using Bytes = std::vector<std::uint8_t>;

struct ByteView {
  const std::uint8_t* data = nullptr;
  std::size_t size = 0;
};

// The largest picture any decoder accepts: at most 65535 pixels a side and
// 2^27 pixels (134 megapixels, 384 MiB as 24-bit) in all. That holds the
// largest photos of today's cameras (about 100 megapixels) and a desktop of
// four 8K screens, and keeps a header from asking for gigabytes.
constexpr long long kMaxPictureSide = 65535;
constexpr long long kMaxPicturePixels = 1LL << 27;

// True when a W x H picture may be decoded: positive and within the limits
// above (so its 24-bit buffer also stays far below 2^31 bytes).
bool PictureSizeAllowed(long long width, long long height);

// True when `dataBytes` bytes of coded data can describe a W x H picture for a
// coding that spends at least one byte per `maxPixelsPerByte` pixels. Decoders
// call it before allocating the picture, so that a tiny file claiming a huge
// picture is refused without costing memory.
bool DataCanHold(long long width, long long height, std::size_t dataBytes,
                 long long maxPixelsPerByte);

// The largest single allocation a codec library may make on our behalf.
std::size_t LibraryMemoryLimit();

enum class FileFormat { Unknown, Bmp, Jpeg, Png, Gif, Tiff, Jxr, Webp };

// Recognises a file's format from its first bytes.
FileFormat DetectFormat(ByteView in);

// Decodes any recognised format into a 24-bit bitmap. `out` is only
// meaningful when true is returned.
bool DecodeImage(ByteView in, Bitmap& out);

bool DecodeBmp(ByteView in, Bitmap& out);
bool DecodeJpeg(ByteView in, Bitmap& out);
bool DecodePng(ByteView in, Bitmap& out);
// A PNG as 32-bit BGRA: the fourth byte holds the alpha (255 where the file has none).
bool DecodePngWithAlpha(ByteView in, Bitmap& out);
bool DecodeGif(ByteView in, Bitmap& out);
bool DecodeTiff(ByteView in, Bitmap& out);
bool DecodeJxr(ByteView in, Bitmap& out);
bool DecodeWebp(ByteView in, Bitmap& out);

// Encoder options as the caller gives them; each encoder takes what applies.
struct EncodeOptions {
  float quality = 1.0f;     // 0.0 .. 1.0; anything else is refused
  int subsampling = 0;      // JPEG: 0 default, 1 4:2:0, 2 4:2:2, 3 4:4:4
  int tiffCompression = 0;  // 0 don't care .. 7 LZW with predictor
};

bool EncodeBmp(const Bitmap& bitmap, Bytes& out);
bool EncodeJpeg(const Bitmap& bitmap, const EncodeOptions& options, Bytes& out);
bool EncodePng(const Bitmap& bitmap, Bytes& out);
bool EncodeGif(const Bitmap& bitmap, Bytes& out);
bool EncodeTiff(const Bitmap& bitmap, const EncodeOptions& options, Bytes& out);
bool EncodeJxr(const Bitmap& bitmap, const EncodeOptions& options, Bytes& out);

// A 24-bit copy of any bitmap (a plain copy when it already is 24-bit);
// false when memory runs out.
bool To24(const Bitmap& in, Bitmap& out);

// Whole-file input and crash-safe output.
bool ReadWholeFile(const std::string& path, Bytes& out);
// Writes data to a new file beside the target and renames it over the target
// only after everything reached the disk. A symbolic link is followed, an
// existing file keeps its permission bits, a folder is refused.
bool WriteFileAtomically(const std::string& path, const Bytes& data);

}  // namespace lumivore::codec
