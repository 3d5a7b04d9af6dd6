// WebP reading through libwebp (still pictures; the first frame's bitstream
// of an animation is not extracted).
#include <webp/decode.h>

#include "imaging/Codec.h"

namespace lumivore::codec {

bool DecodeWebp(ByteView in, Bitmap& out) {
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

}  // namespace lumivore::codec
