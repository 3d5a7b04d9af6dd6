// The working image, its undo history of 20 snapshots, the status line, the
// selection frame's place and the enabling of the editing commands.
#include <QAction>
#include <QScrollBar>
#include <cmath>

#include "app/DevicePixels.h"
#include "app/Unit1.h"
#include "ui/AppCursor.h"

namespace lumivore {

namespace {

bool IsPaletteOf(const Bitmap& b, std::initializer_list<PixelFormat> formats) {
  for (PixelFormat f : formats)
    if (b.format() == f) return true;
  return false;
}

}  // namespace

void TLumivoreForm::PushUndo() { FUndoList.push(FWorkImage); }

std::shared_ptr<const Bitmap> TLumivoreForm::PushUndoMoving() {
  std::shared_ptr<const Bitmap> before = FUndoList.push(std::move(FWorkImage));
  FWorkImage.clear();
  return before;
}

bool TLumivoreForm::ViewFitsWorkingImage() const {
  return FViewBitmap.width() == FWorkImage.width() && FViewBitmap.height() == FWorkImage.height();
}

void TLumivoreForm::TakeBackUndoStep() {
  FUndoList.takeNewest(FWorkImage);
  ShowWorkingImage();
}

void TLumivoreForm::ApplyScrollRange() {
  const QSize viewport = ScrollBox1->viewport()->size();
  // The range is in picture (screen) pixels, the scroll box in logical ones.
  const qreal scale = ScaleOf(Image1);
  const QSize range(static_cast<int>(std::ceil(FScrollRange.width() / scale)),
                    static_cast<int>(std::ceil(FScrollRange.height() / scale)));
  Image1->resize(std::max(range.width(), viewport.width()),
                 std::max(range.height(), viewport.height()));
  // Scroll bars only where the picture is larger than the box.
  ScrollBox1->horizontalScrollBar()->setRange(0, std::max(0, range.width() - viewport.width()));
  ScrollBox1->verticalScrollBar()->setRange(0, std::max(0, range.height() - viewport.height()));
}

void TLumivoreForm::ShowWorkingImage() {
  // The view is always 32-bit, whatever the working image's format.
  if (!ConvertToBgrx32(FWorkImage, FViewBitmap)) FViewBitmap.clear();
  ShowViewAsIs();
}

void TLumivoreForm::ShowViewAsIs() {
  FScrollRange = QSize(FWorkImage.width(), FWorkImage.height());
  ApplyScrollRange();
  Image1->update();
  UpdateStatus();
  // The default shape again, unless the frame is still being dragged (an
  // undo in the middle of a move): the move goes on, and so does its arrow.
  SetAppCursor(FSelMoving ? std::optional(QCursor(Qt::SizeAllCursor)) : std::nullopt);
}

void TLumivoreForm::UpdateStatus() {
  QString text;
  if (SelShape->isVisibleTo(this) && !FSelRect.isEmpty()) {
    const Rect& r = FSelRect;
    text =
        QString::fromUtf8(FSelMoving ? "移動中 " : "選択中 ") +
        QString::asprintf("(%4d,%4d-%4d,%4d) : (%3d", r.left, r.top, r.right, r.bottom, r.width()) +
        QChar(0x00D7) + QString::asprintf("%3d)", r.height());
  } else if (!FWorkImage.empty()) {
    text = QString::fromUtf8("画像サイズ: ") + QString::asprintf("%4d ", FWorkImage.width()) +
           QChar(0x00D7) + QString::asprintf("%4d ", FWorkImage.height());
    switch (FWorkImage.format()) {
      case PixelFormat::Indexed1:
        text += QString::fromUtf8("(モノクロ)");
        break;
      case PixelFormat::Indexed4:
        text += QString::fromUtf8("(16色)");
        break;
      case PixelFormat::Indexed8:
        text += QString::fromUtf8("(256色)");
        break;
      default:
        break;
    }
  }
  StatusBar1->setText(text);
  UpdateActions();
}

void TLumivoreForm::PlaceSelShape() {
  SelShape->place(FSelRect);
  SelShape->setVisible(!FSelRect.isEmpty());
  UpdateStatus();
}

void TLumivoreForm::UndoActionExecute(QAction*) {
  if (FUndoList.isEmpty()) return;
  // The picture under a pending stamp changes: the stamp is called off, so
  // the pointer shape and the confinement never outlive what they were for.
  EndStampMode();
  FUndoList.takeNewest(FWorkImage);
  ShowWorkingImage();
  // After a trim this brings the selection back where it was.
  if (!FSelRect.isEmpty()) SelShape->setVisible(true);
  UpdateStatus();
}

void TLumivoreForm::UndoActionUpdate(QObject* sender) {
  if (auto* a = qobject_cast<QAction*>(sender)) a->setEnabled(!FUndoList.isEmpty());
}

void TLumivoreForm::ActionList1Update(QAction*, bool&) {
  const bool picture = !FWorkImage.empty();
  for (QWidget* menu : EditingSubmenus) menu->setEnabled(picture);
  for (QAction* a : EditingSubmenuActions) a->setEnabled(picture);
}

void TLumivoreForm::ResizeActionUpdate(QObject* sender) {
  if (auto* a = qobject_cast<QAction*>(sender)) a->setEnabled(!FWorkImage.empty());
}

void TLumivoreForm::TrimActionUpdate(QObject* sender) {
  if (auto* a = qobject_cast<QAction*>(sender))
    a->setEnabled(SelShape->isVisibleTo(this) && !FSelRect.isEmpty());
}

void TLumivoreForm::ReduceActionUpdate(QObject* sender) {
  auto* a = qobject_cast<QAction*>(sender);
  if (!a) return;
  using enum PixelFormat;
  switch (a->data().toInt()) {
    case 2:
      a->setEnabled(FWorkImage.format() != Indexed1);
      break;
    case 16:
      a->setEnabled(!IsPaletteOf(FWorkImage, {Indexed1, Indexed4}));
      break;
    case 256:
    case -2:
      a->setEnabled(!IsPaletteOf(FWorkImage, {Indexed1, Indexed4, Indexed8}));
      break;
    default:
      break;
  }
}

void TLumivoreForm::SepiaActionUpdate(QObject* sender) {
  using enum PixelFormat;
  if (auto* a = qobject_cast<QAction*>(sender))
    a->setEnabled(!IsPaletteOf(FWorkImage, {Indexed1, Indexed4, Indexed8}));
}

void TLumivoreForm::NegColActionUpdate(QObject* sender) { ResizeActionUpdate(sender); }
void TLumivoreForm::RotateActionUpdate(QObject* sender) { ResizeActionUpdate(sender); }
void TLumivoreForm::ReverseActionUpdate(QObject* sender) { ResizeActionUpdate(sender); }
void TLumivoreForm::MosicIActionUpdate(QObject* sender) { ResizeActionUpdate(sender); }

void TLumivoreForm::ConnectAction(QAction* action, void (TLumivoreForm::*execute)(QAction*),
                                  void (TLumivoreForm::*update)(QObject*)) {
  handlers_.insert(action, {execute, update});
  connect(action, &QAction::triggered, this, [this, action] {
    const auto it = handlers_.constFind(action);
    if (it != handlers_.constEnd()) (this->*(it->execute))(action);
  });
}

void TLumivoreForm::UpdateActions() {
  for (QAction* a : ActionList1) {
    bool handled = false;
    ActionList1Update(a, handled);
    const auto it = handlers_.constFind(a);
    if (it != handlers_.constEnd()) (this->*(it->update))(a);
  }
}

}  // namespace lumivore
