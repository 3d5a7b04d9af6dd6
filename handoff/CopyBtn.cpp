// The copy button: the picture to the clipboard, then, unless Shift is held,
// the configured window brought forward (or the configured program started)
// and the key sequence typed into it.
#include <QToolButton>

#include "app/Unit1.h"
#include "editing/CropBitmap.h"
#include "handoff/HandOff.h"
#include "handoff/KeySequence.h"
#include "util/Dialogs.h"

namespace lumivore {

namespace {
// How long an activated window may take to get the focus before the keys go
// out anyway: the window manager answers the request on its own time.
constexpr int kFocusWaitMs = 1000;
}  // namespace

void TLumivoreForm::ConnectHandOff() {
  connect(CopyBtn, &QToolButton::clicked, this, [this] { CopyBtnClick(CopyBtn); });
  connect(SaveBtn, &QToolButton::clicked, this, [this] { SaveBtnClick(SaveBtn); });
}

Bitmap TLumivoreForm::HandOffPicture() const {
  if (SelShape->isVisibleTo(this) && !FSelRect.isEmpty()) {
    const Rect part = SelectionInPicture();
    if (!part.isEmpty()) {
      // A part goes out in full colour, never with a palette.
      Bitmap picture = CropBitmap(FWorkImage, part);
      picture.convertTo24();
      return picture;
    }
  }
  return FWorkImage;
}

void TLumivoreForm::CopyBtnClick(QObject*) {
  if (FWorkImage.empty()) return;
  if (!platform_.setClipboardImage(HandOffPicture())) {
    ApplicationErrorBox(QString::fromUtf8("クリップボード %1 を開けません").arg("CLIPBOARD"));
    return;
  }
  if (platform_.isKeyDown(vk::Shift)) return;
  if (const WindowId target = FindActWnd(platform_, FActWndClass, FActWndTitle, FActWndTitleR)) {
    if (platform_.isIconic(target)) platform_.restoreWindow(target);
    platform_.activateWindow(target);
    platform_.waitForFocus(target, kFocusWaitMs);
  } else {
    RunProgram(platform_, FCopyCmdLine, 30000);
  }
  if (!SendKeys(platform_, FSendKey.toStdU16String(), 50))
    ApplicationErrorBox(QString::fromUtf8("範囲チェックエラー"));
}

}  // namespace lumivore
