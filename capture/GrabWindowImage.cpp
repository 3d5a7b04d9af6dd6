// Turns a window into a picture: its class name and text in the rows, its
// pixels as they are on the screen in the view, cut to its shape.
#include <QLineEdit>
#include <cstring>

#include "app/Unit1.h"

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

  Rect r = *found;
  if (platform_.monitorCount() == 1) {
    const Rect screen = platform_.primaryScreen();
    r.left = std::max(r.left, 0);
    r.top = std::max(r.top, 0);
    r.right = std::min(r.right, screen.width());
    r.bottom = std::min(r.bottom, screen.height());
  }
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
    FViewBitmap.allocate(width, height, PixelFormat::Bgrx32);
    Fill(FViewBitmap, background);
    const Rect all{0, 0, width, height};
    for (const Rect& part : *shape) {
      const Rect c = IntersectRect(part, all);
      for (int y = c.top; y < c.bottom; ++y)
        std::memcpy(FViewBitmap.row(y) + 4 * std::size_t(c.left),
                    screen.row(y) + 4 * std::size_t(c.left), 4 * std::size_t(c.width()));
    }
  }
  Image1->update();
  UpdateStatus();
}

}  // namespace lumivore
