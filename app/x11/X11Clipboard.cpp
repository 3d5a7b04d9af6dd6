// The picture on the CLIPBOARD selection, through Qt's clipboard (which also
// hands it to a running clipboard manager when the program ends).
#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>

#include "app/x11/X11Platform.h"
#include "imaging/Usr_wic.h"

namespace lumivore {

namespace {

QByteArray Encoded(const Bitmap& image, const char* extension) {
  std::vector<std::uint8_t> bytes;
  if (!WicEncodeImage(extension, image, 100, 0, 0, bytes)) return {};
  return QByteArray(reinterpret_cast<const char*>(bytes.data()),
                    static_cast<qsizetype>(bytes.size()));
}

}  // namespace

// Encoded by the program's own codecs, so a pasted picture is exactly as
// small as a saved PNG and holds the same pixels.
bool X11Platform::setClipboardImage(const Bitmap& image) {
  QClipboard* clipboard = QGuiApplication::clipboard();
  if (!clipboard || image.empty()) return false;
  const QByteArray png = Encoded(image, ".png");
  const QByteArray bmp = Encoded(image, ".bmp");
  if (png.isEmpty() || bmp.isEmpty()) return false;
  auto* data = new QMimeData;
  data->setData("image/png", png);
  data->setData("image/bmp", bmp);
  clipboard->setMimeData(data, QClipboard::Clipboard);
  return clipboard->ownsClipboard();
}

}  // namespace lumivore
