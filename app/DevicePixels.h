// Where Qt's logical pixels meet X's device pixels.
//
// With high-DPI scaling Qt places widgets, mouse positions and the pointer in
// logical pixels: device pixels divided by the scale of the screen they are
// on (2 on a 200 % desktop). The screen's top-left corner is the same in
// both; inside a screen, distances are scaled. The platform layer, the
// settings file and the picture speak device pixels. Every crossing goes
// through these functions.
#pragma once

#include <QMargins>
#include <QPoint>
#include <QRect>

#include "app/Platform.h"

class QMouseEvent;
class QPainter;
class QScreen;
class QWidget;

namespace lumivore {

// The scale of the screen a widget's window is on (1 without scaling).
qreal ScaleOf(const QWidget* w);

// A point of a widget (its own logical coordinates) as a device point of the
// screen; the device pixel it lies in.
Point DevicePoint(const QWidget* w, QPointF local);
// A rectangle of a widget (its own logical coordinates) in device pixels of
// the screen.
Rect DeviceRect(const QWidget* w, const QRect& local);
// A rectangle of Qt's global logical coordinates in device pixels, scaled by
// the screen holding its top-left corner.
Rect DeviceRect(const QRect& global);

// The screen holding a device point (the primary one when none does).
QScreen* ScreenAtDevice(Point p);
// A device point in Qt's global logical coordinates.
QPoint LogicalPoint(Point p);
// A device rectangle in Qt's global logical coordinates, scaled by the screen
// holding its top-left corner.
QRect LogicalRect(const Rect& r);

// A widget's size in device pixels.
QSize DeviceSize(const QWidget* w);

// Margins scaled from logical to device pixels and back.
QMargins DeviceMargins(const QMargins& m, qreal scale);
QMargins LogicalMargins(const QMargins& m, qreal scale);

// Lets a painter on a widget draw in pixels of the paint device (the window's
// surface: screen pixels), with (0, 0) at the pixel where the widget's
// top-left corner lies: one unit is one screen pixel, whatever the scale.
void PaintInDevicePixels(QPainter& painter);
// Where a point of `w` (logical) lies in device pixels of w's window.
QPointF WindowPixel(const QWidget* w, QPointF local);
// The device pixel of w's window where w's top-left corner lies, as
// PaintInDevicePixels rounds it.
QPoint WindowPixelOf(const QWidget* w);
// The device pixel of w's window under a mouse event that `w` received. Qt
// rounds the position it hands a child widget to whole logical pixels (half
// a screen pixel off at 200 %); the event's position in the window (its scene
// position) is exact where the window system delivered it. An event made by
// the program or a test may carry its position in `w` as the scene position:
// a scene position that the rounding cannot explain is not taken.
QPoint WindowPixelAt(const QWidget* w, const QMouseEvent& e);

}  // namespace lumivore
