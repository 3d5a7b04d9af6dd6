// WebP reading through libwebp. An animation gives its first frame's own
// picture (like a GIF frame, without compositing onto the canvas).
#include <webp/decode.h>
#include <webp/demux.h>

#include <cstring>
#include <memory>

#include "imaging/Codec.h"

namespace lumivore::codec {
namespace {

bool DecodeStill(ByteView in, Bitmap& out) {
  WebPBitstreamFeatures features;
  if (WebPGetFeatures(in.data, in.size, &features) != VP8_STATUS_OK) return false;
  if (features.has_animation) return false;
  if (!PictureSizeAllowed(features.width, features.height)) return false;
  // Lossless data can describe a flat picture in a few bytes, so the size of
  // the file tells nothing. libwebp decodes into a buffer of its own that it
  // does not clear: memory is taken only for rows actually decoded, and a
  // file whose data breaks off early costs little. The picture is allocated
  // once the decode has succeeded.
  // BGR output drops alpha without blending: stored colours are kept.
  int width = 0, height = 0;
  std::unique_ptr<std::uint8_t, void (*)(void*)> pixels(
      WebPDecodeBGR(in.data, in.size, &width, &height), WebPFree);
  if (!pixels || width != features.width || height != features.height) return false;
  Bitmap bitmap;
  if (!bitmap.allocate(width, height, PixelFormat::Bgr24)) return false;
  const std::size_t rowBytes = 3 * std::size_t(width);
  for (int y = 0; y < height; ++y) {
    std::memcpy(bitmap.row(y), pixels.get() + rowBytes * y, rowBytes);
  }
  out = std::move(bitmap);
  return true;
}

}  // namespace

bool DecodeWebp(ByteView in, Bitmap& out) {
  WebPBitstreamFeatures features;
  if (WebPGetFeatures(in.data, in.size, &features) != VP8_STATUS_OK) return false;
  if (!features.has_animation) return DecodeStill(in, out);
  const WebPData data{in.data, in.size};
  std::unique_ptr<WebPDemuxer, void (*)(WebPDemuxer*)> demux(WebPDemux(&data), WebPDemuxDelete);
  if (!demux) return false;
  WebPIterator frame;
  if (!WebPDemuxGetFrame(demux.get(), 1, &frame)) return false;
  const bool ok = DecodeStill({frame.fragment.bytes, frame.fragment.size}, out);
  WebPDemuxReleaseIterator(&frame);
  return ok;
}

}  // namespace lumivore::codec
