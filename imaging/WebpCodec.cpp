// WebP reading through libwebp. An animation gives its first frame's own
// picture (like a GIF frame, without compositing onto the canvas).
#include <webp/decode.h>
#include <webp/demux.h>

#include <memory>

#include "imaging/Codec.h"

namespace lumivore::codec {
namespace {

bool DecodeStill(ByteView in, Bitmap& out) {
  WebPBitstreamFeatures features;
  if (WebPGetFeatures(in.data, in.size, &features) != VP8_STATUS_OK) return false;
  if (features.has_animation) return false;
  if (!PictureSizeAllowed(features.width, features.height)) return false;
  Bitmap bitmap;
  if (!bitmap.allocate(features.width, features.height, PixelFormat::Bgr24)) return false;
  // BGR output drops alpha without blending: stored colours are kept.
  if (!WebPDecodeBGRInto(in.data, in.size, bitmap.bits(), bitmap.byteSize(),
                         static_cast<int>(bitmap.stride()))) {
    return false;
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
