// The program's pictures and pointer shapes drawn for a screen's scale.
//
// Each picture of the resources also exists drawn at twice its size
// (NAME@2x.png, made by the same script): on a screen at 150 % or 200 % that
// drawing is used, brought to the size the scale asks for, so icons and
// pointers are as large as beside other programs and not blown-up bitmaps.
#pragma once

#include <QCursor>
#include <QImage>
#include <QPixmap>
#include <QPoint>
#include <QString>

namespace lumivore {

// The picture at `path` (":/images/NAME.png") for a scale: its size times
// the scale in pixels, with the scale as its device pixel ratio, so it
// covers the picture's own size in logical pixels.
QPixmap PictureForScale(const QString& path, qreal scale);

// A pointer shape from such a picture, as large on the screen as the scale
// asks; `hotSpot` is given in pixels of the picture at its own size and lands
// on the same point of the larger drawing.
QCursor CursorForScale(const QString& path, QPoint hotSpot, qreal scale);

// The hot spot of a picture's pixel (x, y) at its own size, in pixels of the
// picture for `scale`.
QPoint ScaledHotSpot(QPoint hotSpot, qreal scale);

}  // namespace lumivore
