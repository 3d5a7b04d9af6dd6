#include "ui/ScaledPictures.h"

#include <QIcon>
#include <QImageReader>

namespace lumivore {

QPixmap PictureForScale(const QString& path, qreal scale) {
  const QSize size = QImageReader(path).size();
  if (scale == 1.0 || !size.isValid()) return QPixmap(path);
  // QIcon takes NAME@2x.png beside the file and scales the drawing nearest
  // in size, never the small one up where the large one exists.
  QPixmap picture = QIcon(path).pixmap(size, scale);
  picture.setDevicePixelRatio(scale);
  return picture;
}

QPoint ScaledHotSpot(QPoint hotSpot, qreal scale) {
  return QPoint(qRound(hotSpot.x() * scale), qRound(hotSpot.y() * scale));
}

QCursor CursorForScale(const QString& path, QPoint hotSpot, qreal scale) {
  return QCursor(PictureForScale(path, scale), hotSpot.x(), hotSpot.y());
}

}  // namespace lumivore
