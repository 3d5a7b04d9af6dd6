#include "app/DevicePixels.h"

#include <QGuiApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QWidget>
#include <cmath>

namespace lumivore {

namespace {

// A point that Qt computed from a whole device pixel may come back a hair
// below it after the division and multiplication by the scale.
constexpr qreal kSlack = 1.0 / 64;

QScreen* ScreenOf(const QWidget* w) {
  QScreen* s = w ? w->screen() : nullptr;
  return s ? s : QGuiApplication::primaryScreen();
}

// A global logical point in device pixels of `screen`.
QPointF ToDevice(QScreen* screen, QPointF global) {
  if (!screen) return global;
  const QPointF origin = screen->geometry().topLeft();
  return origin + (global - origin) * screen->devicePixelRatio();
}

}  // namespace

qreal ScaleOf(const QWidget* w) { return w ? w->devicePixelRatioF() : 1.0; }

Point DevicePoint(const QWidget* w, QPointF local) {
  const QPointF d = ToDevice(ScreenOf(w), w->mapToGlobal(local));
  return Point{static_cast<int>(std::floor(d.x() + kSlack)),
               static_cast<int>(std::floor(d.y() + kSlack))};
}

Rect DeviceRect(const QWidget* w, const QRect& local) {
  QScreen* screen = ScreenOf(w);
  const QPointF a = ToDevice(screen, w->mapToGlobal(QPointF(local.topLeft())));
  const QPointF b = ToDevice(
      screen, w->mapToGlobal(QPointF(local.topLeft()) + QPointF(local.width(), local.height())));
  return Rect{qRound(a.x()), qRound(a.y()), qRound(b.x()), qRound(b.y())};
}

Rect DeviceRect(const QRect& global) {
  QScreen* screen = QGuiApplication::screenAt(global.topLeft());
  if (!screen) screen = QGuiApplication::primaryScreen();
  const QPointF a = ToDevice(screen, QPointF(global.topLeft()));
  const qreal s = screen ? screen->devicePixelRatio() : 1.0;
  const int left = qRound(a.x()), top = qRound(a.y());
  return Rect{left, top, left + qRound(global.width() * s), top + qRound(global.height() * s)};
}

QScreen* ScreenAtDevice(Point p) {
  for (QScreen* s : QGuiApplication::screens()) {
    const QRect g = s->geometry();
    const qreal scale = s->devicePixelRatio();
    const QRect device(g.topLeft(), QSize(qRound(g.width() * scale), qRound(g.height() * scale)));
    if (device.contains(p.x, p.y)) return s;
  }
  return QGuiApplication::primaryScreen();
}

QPoint LogicalPoint(Point p) {
  QScreen* screen = ScreenAtDevice(p);
  if (!screen) return QPoint(p.x, p.y);
  const QPointF origin = screen->geometry().topLeft();
  return (origin + (QPointF(p.x, p.y) - origin) / screen->devicePixelRatio()).toPoint();
}

QRect LogicalRect(const Rect& r) {
  QScreen* screen = ScreenAtDevice(Point{r.left, r.top});
  const qreal s = screen ? screen->devicePixelRatio() : 1.0;
  return QRect(LogicalPoint(Point{r.left, r.top}),
               QSize(qRound(r.width() / s), qRound(r.height() / s)));
}

QSize DeviceSize(const QWidget* w) {
  const qreal s = ScaleOf(w);
  return QSize(qRound(w->width() * s), qRound(w->height() * s));
}

QMargins DeviceMargins(const QMargins& m, qreal scale) {
  return QMargins(qRound(m.left() * scale), qRound(m.top() * scale), qRound(m.right() * scale),
                  qRound(m.bottom() * scale));
}

QMargins LogicalMargins(const QMargins& m, qreal scale) { return DeviceMargins(m, 1 / scale); }

void PaintInDevicePixels(QPainter& painter) {
  const QTransform device = painter.deviceTransform();
  const QPointF corner = device.map(QPointF(0, 0));
  painter.setWorldTransform(QTransform::fromTranslate(qRound(corner.x()), qRound(corner.y())) *
                            device.inverted());
}

QPointF WindowPixel(const QWidget* w, QPointF local) {
  return w->mapTo(w->window(), local) * ScaleOf(w);
}

QPoint WindowPixelOf(const QWidget* w) { return WindowPixel(w, QPointF(0, 0)).toPoint(); }

QPoint WindowPixelAt(const QWidget* w, const QMouseEvent& e) {
  const QPointF mapped = w->mapTo(w->window(), e.position());
  const QPointF scene = e.scenePosition();
  const bool rounded =
      std::abs(scene.x() - mapped.x()) <= 0.5 && std::abs(scene.y() - mapped.y()) <= 0.5;
  const QPointF d = (rounded ? scene : mapped) * ScaleOf(w);
  return QPoint(static_cast<int>(std::floor(d.x() + kSlack)),
                static_cast<int>(std::floor(d.y() + kSlack)));
}

}  // namespace lumivore
