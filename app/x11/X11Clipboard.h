// The picture on the CLIPBOARD selection through Qt's clipboard, which also
// hands it to a running clipboard manager when the program ends.
#pragma once

#include <QByteArray>

#include "imaging/Bitmap.h"

namespace lumivore {

// Offers `picture` as image/png and image/bmp; each type is encoded when a
// program first asks for it, unless given already encoded here. Needs a
// QGuiApplication. True when this program then owns the clipboard.
bool OfferPictureOnClipboard(Bitmap picture, QByteArray png = {}, QByteArray bmp = {});

}  // namespace lumivore
