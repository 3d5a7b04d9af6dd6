#include "ui/ScaledPictures.h"

#include <QImageReader>

namespace lumivore {

QPixmap PictureForScale(const QString& path, qreal scale) {
  const QSize size = QImageReader(path).size();
  if (scale == 1.0 || !size.isValid()) return QPixmap(path);
  // Above 100 % the drawing at twice the size, brought to the size asked
  // for; the small one blown up only where there is no larger one.
  QString large = path;
  large.insert(large.lastIndexOf('.'), "@2x");
  QPixmap picture(QImageReader(large).canRead() ? large : path);
  const QSize wanted(qRound(size.width() * scale), qRound(size.height() * scale));
  if (picture.size() != wanted)
    picture = picture.scaled(wanted, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
  picture.setDevicePixelRatio(scale);
  return picture;
}

QPoint ScaledHotSpot(QPoint hotSpot, qreal scale) {
  return QPoint(qRound(hotSpot.x() * scale), qRound(hotSpot.y() * scale));
}

QCursor CursorForScale(const QString& path, QPoint hotSpot, qreal scale) {
  // Qt on X makes the pointer from the picture's own pixels and takes the hot
  // spot as given, whatever the picture's pixel ratio: it is given in those
  // pixels.
  const QPoint hot = ScaledHotSpot(hotSpot, scale);
  return QCursor(PictureForScale(path, scale), hot.x(), hot.y());
}

}  // namespace lumivore
