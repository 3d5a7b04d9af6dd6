// The selection rectangle: drawn with the mouse on the view, moved by dragging
// its frame or with the arrow keys, resized with Ctrl and the arrow keys, and
// the picture trimmed to it.
#include <QAction>
#include <QMouseEvent>
#include <QScrollArea>
#include <QScrollBar>
#include <cmath>
#include <cstring>

#include "app/DevicePixels.h"
#include "app/Unit1.h"
#include "editing/CropBitmap.h"
#include "ui/AppCursor.h"

namespace lumivore {

namespace {

// Keeps a moved rectangle inside the picture, keeping its size; the order of
// the corrections decides where a rectangle larger than the picture ends up.
void KeepInside(Rect& r, int width, int height) {
  auto shift = [&r](int dx, int dy) {
    r.left += dx, r.right += dx;
    r.top += dy, r.bottom += dy;
  };
  if (r.left < 0) shift(-r.left, 0);
  if (r.top < 0) shift(0, -r.top);
  if (r.right > width) shift(width - r.right, 0);
  if (r.bottom > height) shift(0, height - r.bottom);
}

}  // namespace

Bitmap CropBitmap(const Bitmap& src, const Rect& r) {
  Bitmap out;
  if (!out.allocate(r.width(), r.height(), src.format())) return out;
  out.setPalette(src.palette());
  const int bits = BitsPerPixel(src.format());
  for (int y = 0; y < r.height(); ++y) {
    if (bits >= 8) {
      const std::size_t bytes = bits / 8;
      std::memcpy(out.row(y), src.row(r.top + y) + r.left * bytes, r.width() * bytes);
    } else {
      for (int x = 0; x < r.width(); ++x) out.setIndex(x, y, src.index(r.left + x, r.top + y));
    }
  }
  return out;
}

void TLumivoreForm::ConnectSelection() {
  ConnectAction(TrimAction, &TLumivoreForm::TrimActionExecute, &TLumivoreForm::TrimActionUpdate);
  Image1->installEventFilter(this);
  SelShape->installEventFilter(this);
  // A move without a button held tells that the release of a drawing or a
  // frame move went elsewhere.
  Image1->setMouseTracking(true);
  SelShape->setMouseTracking(true);
  // The frame lies over the view's viewport, so it follows the scrolling.
  auto follow = [this] { SelShape->place(FSelRect); };
  connect(ScrollBox1->horizontalScrollBar(), &QScrollBar::valueChanged, this, follow);
  connect(ScrollBox1->verticalScrollBar(), &QScrollBar::valueChanged, this, follow);
}

bool TLumivoreForm::SelectionMouseEvent(QObject* watched, QEvent* e) {
  if (watched != Image1 && watched != SelShape) return false;
  const QEvent::Type type = e->type();
  if (type != QEvent::MouseButtonPress && type != QEvent::MouseMove &&
      type != QEvent::MouseButtonRelease && type != QEvent::MouseButtonDblClick)
    return false;
  auto* m = static_cast<QMouseEvent*>(e);
  const bool onView = watched == Image1;
  // The handlers work in picture pixels: on the view, the pixel under the
  // pointer; on the frame, that pixel counted from the frame's corner.
  QPoint pos = Image1->pictureAt(static_cast<QWidget*>(watched), *m);
  if (!onView) pos -= QPoint(FSelRect.left, FSelRect.top);
  if (type == QEvent::MouseMove) {
    if (onView)
      Image1MouseMove(m->buttons(), m->modifiers(), pos);
    else
      SelShapeMouseMove(m->buttons(), m->modifiers(), pos);
  } else if (type == QEvent::MouseButtonRelease) {
    if (onView)
      Image1MouseUp(m->button(), m->modifiers(), pos);
    else
      SelShapeMouseUp(m->button(), m->modifiers(), pos);
  } else if (onView) {
    Image1MouseDown(m->button(), m->modifiers(), pos);
  } else {
    SelShapeMouseDown(m->button(), m->modifiers(), pos);
  }
  return true;
}

void TLumivoreForm::Image1MouseDown(Qt::MouseButton button, Qt::KeyboardModifiers, QPoint pos) {
  if (FStampMode) {
    StampMouseDown(button, pos);
    return;
  }
  if (FWorkImage.empty()) return;
  if (button == Qt::LeftButton) {
    // Presses on the empty part of the view beyond the picture are ignored.
    if (pos.x() > FWorkImage.width() || pos.y() > FWorkImage.height()) return;
    QWidget* client = ScrollBox1->viewport();
    Rect area = DeviceRect(client, client->rect());
    ++area.right;
    ++area.bottom;
    platform_.clipCursor(area);
    FSelRect = Rect{pos.x(), pos.y(), pos.x(), pos.y()};
    FAnchorX = pos.x();
    FAnchorY = pos.y();
    PlaceSelShape();
    FSelDrawing = true;
  } else if (button == Qt::RightButton) {
    ShowMenu(ScrollBox1);
  }
}

void TLumivoreForm::Image1MouseMove(Qt::MouseButtons buttons, Qt::KeyboardModifiers, QPoint pos) {
  if (!FSelDrawing) return;
  if (!(buttons & Qt::LeftButton)) {
    CancelSelGestures();
    return;
  }
  // The confined pointer keeps to the view; absolute pointer devices are not
  // held by the confinement, so the left and top edges are kept here too.
  const int x = std::clamp(pos.x(), 0, FWorkImage.width());
  const int y = std::clamp(pos.y(), 0, FWorkImage.height());
  FSelRect = Rect{std::min(x, FAnchorX), std::min(y, FAnchorY), std::max(x, FAnchorX),
                  std::max(y, FAnchorY)};
  PlaceSelShape();
}

void TLumivoreForm::Image1MouseUp(Qt::MouseButton, Qt::KeyboardModifiers, QPoint) {
  platform_.clipCursor(std::nullopt);
  FSelDrawing = false;
  UpdateStatus();
}

void TLumivoreForm::CancelSelGestures() {
  if (FSelDrawing) Image1MouseUp(Qt::NoButton, Qt::NoModifier, QPoint());
  if (FSelMoving) SelShapeMouseUp(Qt::NoButton, Qt::NoModifier, QPoint());
}

void TLumivoreForm::SelShapeMouseDown(Qt::MouseButton button, Qt::KeyboardModifiers, QPoint pos) {
  if (button == Qt::RightButton) {
    ShowMenu(SelShape);
    return;
  }
  if (FWorkImage.empty()) return;
  FSelMoving = true;
  SetAppCursor(QCursor(Qt::SizeAllCursor));
  FAnchorX = pos.x();
  FAnchorY = pos.y();
  UpdateStatus();
}

void TLumivoreForm::SelShapeMouseMove(Qt::MouseButtons buttons, Qt::KeyboardModifiers, QPoint pos) {
  if (!FSelMoving) return;
  if (buttons == Qt::NoButton) {
    CancelSelGestures();
    return;
  }
  // The frame follows the rectangle, so this is the movement since the last event.
  const int dx = pos.x() - FAnchorX;
  const int dy = pos.y() - FAnchorY;
  FSelRect = Rect{FSelRect.left + dx, FSelRect.top + dy, FSelRect.right + dx, FSelRect.bottom + dy};
  KeepInside(FSelRect, FWorkImage.width(), FWorkImage.height());
  PlaceSelShape();
}

void TLumivoreForm::SelShapeMouseUp(Qt::MouseButton, Qt::KeyboardModifiers, QPoint) {
  if (FSelMoving) SetAppCursor(std::nullopt);
  FSelMoving = false;
  UpdateStatus();
}

bool TLumivoreForm::CMDialogKey(int vk, Qt::KeyboardModifiers) {
  if (vk < vk::Left || vk > vk::Down) return false;
  if (FStampMode) return StampKey(vk);
  // Without a picture there is nothing to keep the rectangle inside of.
  if (FSelDrawing || FSelMoving || FSelRect.isEmpty() || FWorkImage.empty()) return false;
  const int width = FWorkImage.width();
  const int height = FWorkImage.height();
  Rect& r = FSelRect;
  if (platform_.isKeyDown(vk::Control)) {
    // Resize at the right or bottom edge; left and top stay.
    if (vk == vk::Left) --r.right;
    if (vk == vk::Up) --r.bottom;
    if (vk == vk::Right && r.right < width) ++r.right;
    if (vk == vk::Down && r.bottom < height) ++r.bottom;
    PlaceSelShape();
    return true;
  }
  // Jump to the neighbouring tile of the selection's own size, or one pixel with Shift.
  const bool fine = platform_.isKeyDown(vk::Shift);
  const int stepX = fine ? 1 : r.width();
  const int stepY = fine ? 1 : r.height();
  const int dx = vk == vk::Left ? -stepX : vk == vk::Right ? stepX : 0;
  const int dy = vk == vk::Up ? -stepY : vk == vk::Down ? stepY : 0;
  FSelMoving = true;
  r = Rect{r.left + dx, r.top + dy, r.right + dx, r.bottom + dy};
  KeepInside(r, width, height);
  PlaceSelShape();
  FSelMoving = false;
  // Keep the frame in sight vertically; the scroll box counts logical pixels.
  QScrollBar* vertical = ScrollBox1->verticalScrollBar();
  const int scroll = static_cast<int>(std::ceil(stepY / ScaleOf(Image1)));
  if (SelShape->y() + SelShape->height() > ScrollBox1->viewport()->height())
    vertical->setValue(vertical->value() + scroll);
  else if (SelShape->y() < 0)
    vertical->setValue(vertical->value() - scroll);
  UpdateStatus();
  return true;
}

Rect TLumivoreForm::SelectionInPicture() const {
  return IntersectRect(FSelRect, Rect{0, 0, FWorkImage.width(), FWorkImage.height()});
}

void TLumivoreForm::TrimActionExecute(QAction*) {
  if (FWorkImage.empty() || !SelShape->isVisibleTo(this) || FSelRect.isEmpty()) return;
  const Rect part = SelectionInPicture();
  if (part.isEmpty()) return;
  Bitmap trimmed = CropBitmap(FWorkImage, part);
  if (trimmed.empty()) return;
  PushUndo();
  FWorkImage = std::move(trimmed);
  // The rectangle is remembered: undo or an arrow key brings the frame back.
  SelShape->hide();
  ShowWorkingImage();
}

}  // namespace lumivore
