#include "app/x11/X11Clipboard.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>

#include "imaging/Usr_wic.h"

namespace lumivore {

namespace {

// Offers the picture as image/png and image/bmp, encoded by the program's own
// codecs (a pasted PNG is as small as a saved one and holds the same pixels).
// Each type is encoded when a program first asks for it, so the copy button
// does not wait for encoders that a paste may never need.
class PictureMimeData final : public QMimeData {
 public:
  PictureMimeData(Bitmap picture, QByteArray png, QByteArray bmp)
      : picture_(std::move(picture)), png_(std::move(png)), bmp_(std::move(bmp)) {}

  QStringList formats() const override { return {"image/png", "image/bmp"}; }
  bool hasFormat(const QString& type) const override { return formats().contains(type); }

 protected:
  QVariant retrieveData(const QString& type, QMetaType) const override {
    const bool png = type == "image/png";
    if (!png && type != "image/bmp") return {};
    QByteArray& encoded = png ? png_ : bmp_;
    if (encoded.isEmpty()) {
      std::vector<std::uint8_t> bytes;
      if (!WicEncodeImage(png ? ".png" : ".bmp", picture_, 100, 0, 0, bytes)) return {};
      encoded = QByteArray(reinterpret_cast<const char*>(bytes.data()),
                           static_cast<qsizetype>(bytes.size()));
    }
    return encoded;
  }

 private:
  Bitmap picture_;
  mutable QByteArray png_;
  mutable QByteArray bmp_;
};

}  // namespace

bool OfferPictureOnClipboard(Bitmap picture, QByteArray png, QByteArray bmp) {
  QClipboard* clipboard = QGuiApplication::clipboard();
  if (!clipboard || (picture.empty() && (png.isEmpty() || bmp.isEmpty()))) return false;
  clipboard->setMimeData(new PictureMimeData(std::move(picture), std::move(png), std::move(bmp)),
                         QClipboard::Clipboard);
  return clipboard->ownsClipboard();
}

}  // namespace lumivore
