// JPEG through libjpeg-turbo. Library errors longjmp back to the routine that
// set the jump; every C++ object that must be cleaned up is constructed
// before setjmp, and only C calls run between setjmp and a possible longjmp.
#include <csetjmp>
#include <cstdio>
#include <memory>
#include <vector>

#include "imaging/Codec.h"

// jpeglib.h needs size_t and FILE declared first.
#include <jpeglib.h>

namespace lumivore::codec {
namespace {

struct ErrorManager {
  jpeg_error_mgr mgr;
  std::jmp_buf jump;
};

[[noreturn]] void OnError(j_common_ptr info) {
  std::longjmp(reinterpret_cast<ErrorManager*>(info->err)->jump, 1);
}
void OnMessage(j_common_ptr) {}  // warnings about corrupt data are not printed

// A hostile progressive file can hold thousands of tiny scans, each of which
// costs a pass over the whole coefficient buffer. No real encoder writes
// more than a few dozen.
constexpr int kMaxScans = 1000;
void OnProgress(j_common_ptr info) {
  auto* d = reinterpret_cast<j_decompress_ptr>(info);
  if (info->is_decompressor && d->input_scan_number > kMaxScans) OnError(info);
}

void InstallErrorManager(jpeg_error_mgr& mgr) {
  jpeg_std_error(&mgr);
  mgr.error_exit = OnError;
  mgr.output_message = OnMessage;
}

struct DecompressGuard {
  jpeg_decompress_struct* info;
  ~DecompressGuard() { jpeg_destroy_decompress(info); }
};
struct CompressGuard {
  jpeg_compress_struct* info;
  ~CompressGuard() { jpeg_destroy_compress(info); }
};

// Collects the compressed stream in a byte vector. (jpeg_mem_dest is not
// used: after an error its caller-visible buffer pointer can be stale.)
struct VectorDestination {
  jpeg_destination_mgr pub;
  Bytes* out;
  JOCTET block[1 << 16];
};

bool Append(Bytes& out, const JOCTET* data, std::size_t size) {
  try {
    out.insert(out.end(), data, data + size);
    return true;
  } catch (...) {
    return false;
  }
}
void InitDestination(j_compress_ptr info) {
  auto* dest = reinterpret_cast<VectorDestination*>(info->dest);
  dest->pub.next_output_byte = dest->block;
  dest->pub.free_in_buffer = sizeof dest->block;
}
boolean EmptyDestination(j_compress_ptr info) {
  auto* dest = reinterpret_cast<VectorDestination*>(info->dest);
  if (!Append(*dest->out, dest->block, sizeof dest->block))
    OnError(reinterpret_cast<j_common_ptr>(info));
  InitDestination(info);
  return TRUE;
}
void TermDestination(j_compress_ptr info) {
  auto* dest = reinterpret_cast<VectorDestination*>(info->dest);
  const std::size_t used = sizeof dest->block - dest->pub.free_in_buffer;
  if (!Append(*dest->out, dest->block, used)) OnError(reinterpret_cast<j_common_ptr>(info));
}

// Adobe writes CMYK inverted (0 = full ink); other writers store plain ink.
void CmykRowToBgr(const JSAMPLE* s, std::uint8_t* d, int width, bool inverted) {
  for (int x = 0; x < width; ++x, s += 4, d += 3) {
    int c = s[0], m = s[1], y = s[2], k = s[3];
    if (!inverted) c = 255 - c, m = 255 - m, y = 255 - y, k = 255 - k;
    d[0] = static_cast<std::uint8_t>((y * k + 127) / 255);
    d[1] = static_cast<std::uint8_t>((m * k + 127) / 255);
    d[2] = static_cast<std::uint8_t>((c * k + 127) / 255);
  }
}

}  // namespace

bool DecodeJpeg(ByteView in, Bitmap& out) {
  jpeg_decompress_struct info{};
  ErrorManager error{};
  jpeg_progress_mgr progress{};
  Bitmap bitmap;
  std::vector<JSAMPLE> cmykRow;
  DecompressGuard guard{&info};
  info.err = &error.mgr;
  InstallErrorManager(error.mgr);
  if (setjmp(error.jump)) return false;

  jpeg_create_decompress(&info);
  progress.progress_monitor = OnProgress;
  info.progress = &progress;
  info.mem->max_memory_to_use = static_cast<long>(LibraryMemoryLimit());
  jpeg_mem_src(&info, in.data, static_cast<unsigned long>(in.size));
  if (jpeg_read_header(&info, TRUE) != JPEG_HEADER_OK) return false;
  // Only 8-bit samples are read; 12-bit files are refused here.
  if (info.data_precision != 8) return false;
  // Huffman coding spends at least one bit on every 8 x 8 block (its DC
  // difference), so a file holds at least one byte per 512 pixels; without
  // that check a header alone would make libjpeg allocate (and for
  // progressive files clear) buffers for the whole claimed picture. Arithmetic
  // coding can go below one bit per block; it gets a looser bound.
  if (!DataCanHold(info.image_width, info.image_height, in.size, info.arith_code ? 8192 : 512)) {
    return false;
  }
  const bool cmyk = info.jpeg_color_space == JCS_CMYK || info.jpeg_color_space == JCS_YCCK;
  info.out_color_space = cmyk ? JCS_CMYK : JCS_EXT_BGR;
  jpeg_start_decompress(&info);
  const int width = static_cast<int>(info.output_width);
  const int height = static_cast<int>(info.output_height);
  if (!bitmap.allocate(width, height, PixelFormat::Bgr24)) return false;
  if (cmyk) cmykRow.resize(4 * std::size_t(width));
  while (info.output_scanline < info.output_height) {
    const int y = static_cast<int>(info.output_scanline);
    JSAMPROW row = cmyk ? cmykRow.data() : bitmap.row(y);
    if (jpeg_read_scanlines(&info, &row, 1) != 1) return false;
    if (cmyk) CmykRowToBgr(cmykRow.data(), bitmap.row(y), width, info.saw_Adobe_marker);
  }
  // The rest of the file (trailing markers) does not matter for the picture.
  jpeg_abort_decompress(&info);
  out = std::move(bitmap);
  return true;
}

namespace {

// `source` is 24- or 32-bit.
bool Compress(const Bitmap* const source, const EncodeOptions options, Bytes& out) {
  jpeg_compress_struct info{};
  ErrorManager error{};
  Bytes encoded;
  auto dest = std::make_unique<VectorDestination>();
  dest->pub.init_destination = InitDestination;
  dest->pub.empty_output_buffer = EmptyDestination;
  dest->pub.term_destination = TermDestination;
  dest->out = &encoded;
  CompressGuard guard{&info};
  info.err = &error.mgr;
  InstallErrorManager(error.mgr);
  if (setjmp(error.jump)) return false;

  jpeg_create_compress(&info);
  info.dest = &dest->pub;
  info.image_width = static_cast<JDIMENSION>(source->width());
  info.image_height = static_cast<JDIMENSION>(source->height());
  const bool padded = source->format() == PixelFormat::Bgrx32;
  info.input_components = padded ? 4 : 3;
  info.in_color_space = padded ? JCS_EXT_BGRX : JCS_EXT_BGR;
  // Encoder defaults kept: baseline Huffman tables without optimisation,
  // the accurate integer DCT, JFIF header, 4:2:0 chroma unless asked.
  jpeg_set_defaults(&info);
  // ImageQuality 0.0 .. 1.0 is the IJG quality scale 0 .. 100 (0 acts as 1).
  jpeg_set_quality(&info, static_cast<int>(options.quality * 100.0f + 0.5f), TRUE);
  static constexpr int kLumaFactors[4][2] = {{2, 2}, {2, 2}, {2, 1}, {1, 1}};
  info.comp_info[0].h_samp_factor = kLumaFactors[options.subsampling][0];
  info.comp_info[0].v_samp_factor = kLumaFactors[options.subsampling][1];
  jpeg_start_compress(&info, TRUE);
  while (info.next_scanline < info.image_height) {
    JSAMPROW row = const_cast<JSAMPROW>(source->row(static_cast<int>(info.next_scanline)));
    jpeg_write_scanlines(&info, &row, 1);
  }
  jpeg_finish_compress(&info);
  out = std::move(encoded);
  return true;
}

}  // namespace

bool EncodeJpeg(const Bitmap& bitmap, const EncodeOptions& options, Bytes& out) {
  // The quality option must lie in 0.0 .. 1.0; anything else is refused.
  if (!(options.quality >= 0.0f && options.quality <= 1.0f)) return false;
  if (!IsIndexed(bitmap.format())) return Compress(&bitmap, options, out);
  Bitmap converted;  // JPEG has no palette
  return To24(bitmap, converted) && Compress(&converted, options, out);
}

}  // namespace lumivore::codec
