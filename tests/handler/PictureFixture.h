// The main window holding a picture whose every pixel tells its place.
#pragma once

#include <QScrollArea>
#include <QTest>

#include "tests/handler/FormFixture.h"

namespace lumivore {

// Red is x, green is y (low bytes), blue carries the high bits of both.
inline Rgb PatternAt(int x, int y) {
  return MakeRgb(x & 0xFF, y & 0xFF, ((x >> 8) & 0x0F) | (((y >> 8) & 0x0F) << 4));
}

class PictureFixture : public FormFixture {
 protected:
  // Shows the window at a place where its popups fit on the offscreen
  // screen, with a pattern picture as the working image.
  TLumivoreForm& withPicture(int width, int height) {
    TLumivoreForm& f = start();
    f.move(40, 40);
    QApplication::processEvents();
    Bitmap b;
    b.allocate(width, height, PixelFormat::Bgr24);
    for (int y = 0; y < height; ++y)
      for (int x = 0; x < width; ++x) b.setPixel(x, y, PatternAt(x, y));
    f.FWorkImage = b;
    f.ShowWorkingImage();
    // The copy and save buttons follow the picture on the timer's next tick;
    // give it now, whether or not a tick before the picture disabled them.
    f.Timer1Timer();
    return f;
  }
  // The viewport's client area on the screen, widened by one pixel at the
  // right and the bottom, as the drawing confines the pointer to it.
  Rect confinement() const {
    QWidget* client = form->ScrollBox1->viewport();
    const QPoint o = client->mapToGlobal(QPoint(0, 0));
    return Rect{o.x(), o.y(), o.x() + client->width() + 1, o.y() + client->height() + 1};
  }
  QString status() const { return form->StatusBar1->text(); }
};

}  // namespace lumivore
