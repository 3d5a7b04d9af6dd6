#pragma once

#include "app/Platform.h"
#include "imaging/Bitmap.h"

namespace lumivore {

// The pixels of r (inside the picture) as a picture of their own, in the
// same storage format and palette.
Bitmap CropBitmap(const Bitmap& src, const Rect& r);

}  // namespace lumivore
