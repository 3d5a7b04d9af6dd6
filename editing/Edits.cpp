// The editing commands of the popup menu: sepia, negative and mosaic; resize,
// rotation, mirroring, colour reduction and grey scale. Each records an undo
// snapshot, builds the new picture with the bitmap functions of imaging/ and
// brings the view and the status line up to date.
#include <QAction>
#include <QApplication>
#include <climits>

#include "app/Unit1.h"
#include "imaging/Filters.h"
#include "imaging/Usr_wic.h"
#include "ui/AppCursor.h"

namespace lumivore {

void TLumivoreForm::ConnectEdits() {
  using F = TLumivoreForm;
  ConnectAction(SepiaAction, &F::SepiaActionExecute, &F::SepiaActionUpdate);
  ConnectAction(NegColAction, &F::NegColActionExecute, &F::NegColActionUpdate);
  for (QAction* a : {MosicI2Action, MosicI4Action, MosicI8Action, MosicI12Action, MosicI16Action})
    ConnectAction(a, &F::MosicIActionExecute, &F::MosicIActionUpdate);
  for (QAction* a :
       {Resize25Action, Resize50Action, Resize75Action, Resize150Action, Resize200Action})
    ConnectAction(a, &F::ResizeActionExecute, &F::ResizeActionUpdate);
  for (QAction* a : {Reduce2Action, Reduce16Action, Reduce256Action, GrayAction})
    ConnectAction(a, &F::ReduceActionExecute, &F::ReduceActionUpdate);
  for (QAction* a : {RotateRAction, RotateLAction})
    ConnectAction(a, &F::RotateActionExecute, &F::RotateActionUpdate);
  for (QAction* a : {ReverseLRAction, ReverseULAction})
    ConnectAction(a, &F::ReverseActionExecute, &F::ReverseActionUpdate);
}

void TLumivoreForm::ShowProgress(const char* text) {
  StatusBar1->setText(QString::fromUtf8(text));
  // The work that follows blocks the event loop: paint now and make sure the
  // server has it, so a long edit never looks frozen.
  StatusBar1->repaint();
  ToolPanel->repaint();
  platform_.sync();
}

void TLumivoreForm::SepiaActionExecute(QAction*) {
  if (FWorkImage.empty()) return;
  ShowProgress("セピア処理中...");
  if (!IsIndexed(FWorkImage.format()) && ViewFitsWorkingImage()) {
    // The view has the picture's colours: tone it into the new picture and
    // redraw it in the same pass.
    PushUndoMoving();
    if (!SepiaShownPicture(FViewBitmap, FWorkImage)) return TakeBackUndoStep();
    ShowViewAsIs();
    return;
  }
  // The snapshot stays as it is (unpacked) while it is read here.
  const auto snapshot = PushUndoMoving();
  const Bitmap& before = *snapshot;
  if (!SepiaTone(before, FWorkImage)) {
    // A palette picture is made 24-bit first.
    FWorkImage = before;
    FWorkImage.convertTo24();
    SepiaTone(FWorkImage);
  }
  ShowWorkingImage();
}

void TLumivoreForm::NegColActionExecute(QAction*) {
  if (FWorkImage.empty()) return;
  ShowProgress("ネガポジ反転中...");
  if (!IsIndexed(FWorkImage.format()) && ViewFitsWorkingImage()) {
    // The view has the picture's colours: invert it in place and make the
    // new picture from it in the same pass; the old one goes to the undo
    // list without a copy of its own.
    const PixelFormat format = FWorkImage.format();
    PushUndoMoving();
    if (!InvertShownPicture(FViewBitmap, FWorkImage, format)) return TakeBackUndoStep();
    ShowViewAsIs();
    return;
  }
  // Inverted palette colours are mapped into the palette.
  const auto snapshot = PushUndoMoving();
  const Bitmap& before = *snapshot;
  if (!InvertColours(before, FWorkImage)) return TakeBackUndoStep();
  ShowWorkingImage();
}

void TLumivoreForm::MosicIActionExecute(QAction* sender) {
  if (!sender || FWorkImage.empty()) return;
  const int n = sender->data().toInt();
  if (n < 1) return;
  SetAppCursor(QCursor(Qt::WaitCursor));
  ShowProgress("モザイク処理中...");
  const bool selection = SelShape->isVisibleTo(this) && !FSelRect.isEmpty();
  const Rect area =
      selection ? SelectionInPicture() : Rect{0, 0, FWorkImage.width(), FWorkImage.height()};
  if (!IsIndexed(FWorkImage.format()) && ViewFitsWorkingImage()) {
    // Pixelate the view, which has the picture's colours, and make the new
    // picture from it in the same pass.
    const PixelFormat format = FWorkImage.format();
    PushUndoMoving();
    if (!MosaicShownPicture(FViewBitmap, FWorkImage, format, area.left, area.top, area.right,
                            area.bottom, n))
      return TakeBackUndoStep();
    ShowViewAsIs();
    return;
  }
  PushUndo();
  if (IsIndexed(FWorkImage.format())) {
    // Averages are new colours: work in full colour, then map into the palette.
    Bitmap work;
    Mosaic(FViewBitmap, work, area.left, area.top, area.right, area.bottom, n);
    DrawIntoPalette(work, FWorkImage);
  } else {
    Mosaic(FWorkImage, area.left, area.top, area.right, area.bottom, n);
  }
  ShowWorkingImage();
}

void TLumivoreForm::ResizeActionExecute(QAction* sender) {
  if (!sender || FWorkImage.empty()) return;
  PushUndo();
  const long long w = FWorkImage.width(), h = FWorkImage.height();
  long long nw = w, nh = h;
  switch (sender->data().toInt()) {
    case 25:
      nw = w / 4, nh = h / 4;
      break;
    case 50:
      nw = w / 2, nh = h / 2;
      break;
    case 75:
      nw = 3 * w / 4, nh = 3 * h / 4;
      break;
    case 150:
      nw = 3 * w / 2, nh = 3 * h / 2;
      break;
    case 200:
      nw = 2 * w, nh = 2 * h;
      break;
    default:
      break;
  }
  // A size of 0 (a tiny picture at 25 % or 50 %) leaves the picture as it is.
  Bitmap source = FWorkImage;
  WicScaleImage(source, FWorkImage, 0.0, static_cast<int>(std::min(nw, (long long)INT_MAX)),
                static_cast<int>(std::min(nh, (long long)INT_MAX)), FScaleOpt);
  ShowWorkingImage();
  FSelRect = Rect{};
  PlaceSelShape();
}

void TLumivoreForm::ReduceActionExecute(QAction* sender) {
  if (!sender || FWorkImage.empty()) return;
  ShowProgress("減色処理中...");
  // Every reduction starts from the displayed pixels in full colour, so the
  // working image can go to the undo list as it is, without a copy.
  PushUndoMoving();
  switch (sender->data().toInt()) {
    case -2:
      if (!GrayScale(FViewBitmap, FWorkImage)) FWorkImage = FViewBitmap;
      break;
    case 2:
    case 16:
      // The view is redrawn in the same pass.
      if (ReduceShownPicture(FViewBitmap, FWorkImage, sender->data().toInt())) {
        ShowViewAsIs();
        return;
      }
      FWorkImage = FViewBitmap;
      break;
    case 256:
      if (!ReduceTo256Colours(FViewBitmap, FWorkImage)) FWorkImage = FViewBitmap;
      break;
    default:
      FWorkImage = FViewBitmap;
      break;
  }
  ShowWorkingImage();
}

void TLumivoreForm::RotateActionExecute(QAction* sender) {
  if (!sender || FWorkImage.empty()) return;
  ShowProgress("回転処理中...");
  const unsigned code = sender->data().toInt() == 0 ? 1 : 3;
  const auto snapshot = PushUndoMoving();
  const Bitmap& before = *snapshot;
  if (!IsIndexed(before.format())) {
    // The turned picture is built apart from the old one, which becomes the
    // undo snapshot as it is.
    if (!FlipRotate(before, FWorkImage, code)) FWorkImage = before;
  } else {
    FWorkImage = before;
    Bitmap turned;
    FlipRotate(FViewBitmap, turned, code);
    // A palette picture keeps its storage format and palette.
    Bitmap kept;
    if (!turned.empty() && kept.allocate(turned.width(), turned.height(), before.format())) {
      kept.setPalette(before.palette());
      if (DrawIntoPalette(turned, kept)) FWorkImage = std::move(kept);
    }
  }
  ShowWorkingImage();
}

void TLumivoreForm::ReverseActionExecute(QAction* sender) {
  if (!sender || FWorkImage.empty()) return;
  const unsigned code = sender->data().toInt() == 0 ? 4 : 5;
  if (ViewFitsWorkingImage()) {
    // The view has the picture's colours: mirror it in place and make the
    // new picture from it in the same pass.
    PushUndoMoving();
    if (!MirrorShownPicture(FViewBitmap, FWorkImage, code)) return TakeBackUndoStep();
    ShowViewAsIs();
    return;
  }
  const auto snapshot = PushUndoMoving();
  const Bitmap& before = *snapshot;
  if (!FlipRotate(before, FWorkImage, code)) return TakeBackUndoStep();
  ShowWorkingImage();
}

}  // namespace lumivore
