// The 256-colour reduction through libjpeg-turbo: the picture is encoded as
// a baseline JPEG at quality 90 and decoded again with the library's colour
// quantiser, so the result carries the JPEG artefacts as well as the reduced
// palette. Library errors longjmp back to the routine that set the jump;
// every C++ object that needs cleaning up is constructed before setjmp.
#include <csetjmp>
#include <cstdio>

#include "imaging/Codec.h"
#include "imaging/Filters.h"

// jpeglib.h needs size_t and FILE declared first.
#include <jpeglib.h>

namespace lumivore {
namespace {

constexpr int kQuantisedColours = 236;

struct QuantiseErrors {
  jpeg_error_mgr mgr;
  std::jmp_buf jump;
};

[[noreturn]] void QuantiseError(j_common_ptr info) {
  std::longjmp(reinterpret_cast<QuantiseErrors*>(info->err)->jump, 1);
}
void QuantiseMessage(j_common_ptr) {}

struct QuantiseGuard {
  jpeg_decompress_struct* info;
  ~QuantiseGuard() { jpeg_destroy_decompress(info); }
};

bool DecodeQuantised(const codec::Bytes& file, Bitmap& out) {
  jpeg_decompress_struct info{};
  QuantiseErrors errors{};
  Bitmap bitmap;
  std::vector<Rgb> palette;
  QuantiseGuard guard{&info};
  info.err = jpeg_std_error(&errors.mgr);
  errors.mgr.error_exit = QuantiseError;
  errors.mgr.output_message = QuantiseMessage;
  if (setjmp(errors.jump)) return false;

  jpeg_create_decompress(&info);
  jpeg_mem_src(&info, file.data(), static_cast<unsigned long>(file.size()));
  if (jpeg_read_header(&info, TRUE) != JPEG_HEADER_OK) return false;
  info.out_color_space = JCS_RGB;
  // The decoder's defaults otherwise: two-pass quantiser, Floyd-Steinberg.
  info.quantize_colors = TRUE;
  info.desired_number_of_colors = kQuantisedColours;
  info.two_pass_quantize = TRUE;
  info.dither_mode = JDITHER_FS;
  jpeg_start_decompress(&info);
  if (!bitmap.allocate(static_cast<int>(info.output_width), static_cast<int>(info.output_height),
                       PixelFormat::Indexed8))
    return false;
  while (info.output_scanline < info.output_height) {
    JSAMPROW row = bitmap.row(static_cast<int>(info.output_scanline));
    if (jpeg_read_scanlines(&info, &row, 1) != 1) return false;
  }
  // The two-pass quantiser settles its colour map while the scanlines are read.
  if (!info.colormap || info.out_color_components != 3) return false;
  for (int i = 0; i < info.actual_number_of_colors; ++i) {
    palette.push_back(MakeRgb(info.colormap[0][i], info.colormap[1][i], info.colormap[2][i]));
  }
  jpeg_finish_decompress(&info);
  bitmap.setPalette(std::move(palette));
  out = std::move(bitmap);
  return true;
}

}  // namespace

bool ReduceTo256Colours(const Bitmap& source, Bitmap& out) {
  if (source.empty() || IsIndexed(source.format())) return false;
  try {
    codec::EncodeOptions options;
    options.quality = 0.9f;
    codec::Bytes file;
    if (!codec::EncodeJpeg(source, options, file)) return false;
    return DecodeQuantised(file, out);
  } catch (...) {  // std::bad_alloc from a container
    return false;
  }
}

}  // namespace lumivore
