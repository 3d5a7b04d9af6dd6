// The main gesture: press on the wand, drag it over the screen while the
// window under the pointer is tracked every 100 ms, release to capture it.
#include <QApplication>
#include <QLineEdit>
#include <QPointer>
#include <QToolButton>

#include "app/DevicePixels.h"
#include "app/Unit1.h"
#include "util/Userfunc.h"

namespace lumivore {

namespace {

enum MarkPicture { kBlank = 0, kWand = 1, kStopwatch = 2 };

}  // namespace

QString TLumivoreForm::ColourText(int format, std::uint32_t colorRef) {
  return QString::fromStdString(lumivore::ColourText(format, colorRef));
}

void TLumivoreForm::CapToolImgMouseDown(Qt::MouseButton button, Qt::KeyboardModifiers, QPoint) {
  if (FCapturing || button != Qt::LeftButton) return;
  FWorkImage.clear();
  FSelRect = Rect{};
  PlaceSelShape();
  TakeCapturePointer();
  CapToolImg->setPixmap(MrkImageList.value(kBlank));
  CapToolImg->repaint();
  FCapturing = true;
}

void TLumivoreForm::TakeCapturePointer() {
  // The wand is the pointer over every window until the release, and the
  // release is reported here wherever it happens.
  QApplication::setOverrideCursor(captureCursor());
  CapToolImg->grabMouse(captureCursor());
}

void TLumivoreForm::ReleaseCapturePointer() {
  if (QWidget::mouseGrabber() == CapToolImg) CapToolImg->releaseMouse();
  while (QApplication::overrideCursor()) QApplication::restoreOverrideCursor();
}

void TLumivoreForm::Timer1Timer() {
  const bool picture = !FWorkImage.empty();
  CopyBtn->setEnabled(picture);
  SaveBtn->setEnabled(picture);
  UpdateActions();
  // While the desktop takes the picture the view keeps what it showed.
  if (!FCapturing || FAwaitingDesktop) return;

  const Point pos = platform_.cursorPos();
  const WindowId wnd = platform_.windowFromPoint(pos);
  if (wnd != FTargetWnd) {
    FTargetWnd = wnd;
    GrabWindowImage(wnd);
    PlaySettingSound(FChgSound);
  }
  if (FColValFmt < 1) return;
  const Rgb pixel = platform_.screenPixel(pos).value_or(0);
  QPalette p = ColPanel->palette();
  p.setColor(QPalette::Window, QColor(RedOf(pixel), GreenOf(pixel), BlueOf(pixel)));
  ColPanel->setPalette(p);
  ColValEdit->setText(ColourText(FColValFmt, ColorRefFromRgb(pixel)));
}

void TLumivoreForm::CapToolImgMouseUp(Qt::MouseButton button, Qt::KeyboardModifiers shift, QPoint) {
  if (!FCapturing || FAwaitingDesktop) return;
  const bool delayed = (shift & Qt::ControlModifier) && FCaptureWait > 0;
  if (delayed) {
    // The delay is there for the user to open a menu or a tooltip in the
    // target program: the pointer is theirs again, with its own shapes, and
    // only the stopwatch tells that a capture is coming. The ungrab and the
    // picture must reach the server before the program stops to wait.
    ReleaseCapturePointer();
    CapToolImg->setPixmap(MrkImageList.value(kStopwatch));
    CapToolImg->repaint();
    platform_.sync();
    platform_.sleep(FCaptureWait);
  }
  FTargetWnd = platform_.windowFromPoint(platform_.cursorPos());
  if (button != Qt::LeftButton) {
    // Capture mode goes on: the left button's release must still come here.
    if (delayed) TakeCapturePointer();
    return;
  }
  if (!FTargetWnd && platform_.showsWindowsBeyondX()) {
    CaptureThroughDesktop();
    return;
  }

  // Hide unless the target lies wholly inside the main window.
  const Rect target = platform_.windowRect(FTargetWnd).value_or(Rect{});
  const Rect mine = DeviceRect(frameGeometry());
  if (IntersectRect(target, mine) != target) {
    hide();
    // The unmap must reach the server before the wait, so the windows below
    // get their time to repaint.
    platform_.sync();
    platform_.sleep(std::max(0, FHideWait));
    GrabWindowImage(FTargetWnd);
    show();
  }
  FWorkImage = FViewBitmap;
  FWorkImage.convertTo24();
  EndCapture(true);
}

void TLumivoreForm::CaptureThroughDesktop() {
  // X shows no window here, yet the desktop may show one of its own (a
  // Wayland session's): the desktop takes the picture itself, after the user
  // chose the window in its dialog, and answers later. Capture mode lasts
  // until then, with the window hidden as for any capture and the tracking
  // paused; the pointer is the user's again for the dialog.
  FAwaitingDesktop = true;
  ReleaseCapturePointer();
  hide();
  platform_.sync();
  platform_.sleep(std::max(0, FHideWait));
  QPointer<TLumivoreForm> self(this);
  platform_.captureThroughDesktop([self](Platform::DesktopShot result, Bitmap picture) {
    if (self) self->DesktopShotAnswered(result, std::move(picture));
  });
}

void TLumivoreForm::DesktopShotAnswered(Platform::DesktopShot result, Bitmap picture) {
  using Shot = Platform::DesktopShot;
  const bool taken = result == Shot::Taken && !picture.empty();
  if (taken) {
    FWorkImage = std::move(picture);
    FWorkImage.convertTo24();
    ShowWorkingImage();
  } else {
    // No picture: the capture ends as over no window at all, with the view
    // as it was.
    FWorkImage = FViewBitmap;
    FWorkImage.convertTo24();
  }
  // Shown while capture mode is still on: the show handler applies nothing.
  show();
  FAwaitingDesktop = false;
  EndCapture(taken);
  if (taken) return;
  StatusBar1->setText(QString::fromUtf8(
      result == Shot::Cancelled ? "デスクトップのキャプチャーは取り消されました"
      : result == Shot::Unavailable ? "この種類のウィンドウはここではキャプチャーできません"
                                    : "デスクトップから画像を受け取れませんでした"));
}

void TLumivoreForm::EndCapture(bool playSound) {
  FSelRect = Rect{};
  PlaceSelShape();
  FCapturing = false;
  ReleaseCapturePointer();
  // The picture is taken: what the grabs kept for the next one (as large as
  // the picture) is not needed before the next drag.
  platform_.releaseGrabMemory();
  CapToolImg->setPixmap(MrkImageList.value(kWand));
  CapToolImg->repaint();
  platform_.setCursorPos(
      DevicePoint(ToolPanel, QPoint(ToolBar1->width() + 16, ToolPanel->height() / 2)));
  if (playSound) PlaySettingSound(FCapSound);
}

}  // namespace lumivore
