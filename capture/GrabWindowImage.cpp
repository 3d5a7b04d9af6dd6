// Turns a window into a picture: its class name and text in the rows, its
// pixels as they are on the screen in the view, cut to its shape.
#include <QLineEdit>

#include "app/Unit1.h"
#include "capture/WindowPicture.h"

namespace lumivore {

namespace {

// The class name and text are shown cut to 254 characters.
constexpr int kMaxTextLength = 254;

void Fill(Bitmap& b, Rgb colour) {
  for (int y = 0; y < b.height(); ++y)
    for (int x = 0; x < b.width(); ++x) b.setPixel(x, y, colour);
}

}  // namespace

void TLumivoreForm::GrabWindowImage(WindowId wnd) {
  if (!wnd) return;
  ClsNamEdit->setText(QString::fromStdString(platform_.className(wnd)).left(kMaxTextLength));
  WndTxtEdit->setText(QString::fromStdString(platform_.windowText(wnd)).left(kMaxTextLength));
  const Rgb background = RgbFromColorRef(FImgBgColor);
  Fill(FViewBitmap, background);
  Image1->update();
  // A window that vanished since it was found has no name, text or area any
  // more: the rows and the view show just that, as for a window with no area.
  const std::optional<Rect> found = platform_.windowRect(wnd);
  if (!found) return;

  const Rect r = CutToScreen(platform_, *found);
  const int width = r.right - r.left;
  const int height = r.bottom - r.top;
  if (width <= 0 || height <= 0) return;

  FScrollRange = QSize(width, height);
  ApplyScrollRange();
  const std::optional<std::vector<Rect>> shape = platform_.windowShape(wnd);
  Bitmap screen;
  if (!platform_.grabWindow(wnd, r, screen)) {
    // Nothing could be read: the view keeps the background colour.
    FViewBitmap.allocate(width, height, PixelFormat::Bgrx32);
    Fill(FViewBitmap, background);
  } else if (!shape) {
    FViewBitmap = std::move(screen);
  } else {
    // Only the pixels inside the window's shape; the shape keeps its origin
    // at the picture's corner even where the screen edge cut the window.
    FViewBitmap = CutToShape(screen, *shape, background);
  }
  Image1->update();
  UpdateStatus();
}

}  // namespace lumivore
