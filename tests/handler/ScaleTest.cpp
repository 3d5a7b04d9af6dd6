// The main window on a screen at a scale (run with QT_SCALE_FACTOR=2 and 1.5
// as well as at 100 %): Qt lays the window out in logical pixels, while the
// picture, the settings file and the desktop keep screen (device) pixels.
#include <QAction>
#include <QScrollBar>
#include <QWindow>
#include <cmath>

#include "app/DevicePixels.h"
#include "tests/handler/PictureFixture.h"

namespace lumivore {
namespace {

class Scale : public PictureFixture {
 protected:
  void SetUp() override {
    PictureFixture::SetUp();
    // A run at a scale must really be at that scale.
    scale = qEnvironmentVariable("QT_SCALE_FACTOR", "1").toDouble();
  }

  // The window's pixels as the screen gets them, one entry per device pixel.
  QImage windowPixels() const {
    QImage shot = form->grab().toImage().convertToFormat(QImage::Format_RGB32);
    EXPECT_EQ(shot.devicePixelRatio(), scale);
    return shot;
  }
  // Where picture pixel (0, 0) lies in windowPixels(): the pattern tells
  // which picture pixel a screen pixel in the middle of the view shows.
  QPoint pictureCorner(const QImage& shot) const {
    QWidget* box = form->ScrollBox1->viewport();
    const QPoint probe = (QPointF(box->mapTo(form.get(), box->rect().center())) * scale).toPoint();
    const QRgb c = shot.pixel(probe);
    const int x = qRed(c) | ((qBlue(c) & 0x0F) << 8);
    const int y = qGreen(c) | ((qBlue(c) >> 4) << 8);
    return probe - QPoint(x, y);
  }
  // The error a round trip through logical pixels may bring at this scale.
  int slack() const { return scale == std::floor(scale) ? 0 : 1; }
  // A mouse event on the view over a device pixel of the window, as Qt hands
  // it on from the window system: the position in the window exact, the one
  // in the view rounded to whole logical pixels.
  void mouse(QEvent::Type type, QPoint windowPixel, Qt::MouseButtons buttons) {
    const QPointF scene = QPointF(windowPixel) / scale;
    const QPointF local =
        (scene - QPointF(form->Image1->mapTo(form.get(), QPoint(0, 0)))).toPoint();
    const Qt::MouseButton button = type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton;
    QMouseEvent e(type, local, scene, form->Image1->mapToGlobal(local), button, buttons,
                  Qt::NoModifier);
    QApplication::sendEvent(form->Image1, &e);
  }

  qreal scale = 1;
};

TEST_F(Scale, RunsAtTheScaleItWasStartedWith) {
  TLumivoreForm& f = withPicture(40, 30);
  EXPECT_EQ(f.devicePixelRatioF(), scale);
  EXPECT_EQ(f.windowHandle()->devicePixelRatio(), scale);
}

TEST_F(Scale, View_DrawsEachPicturePixelOnOneScreenPixel) {
  TLumivoreForm& f = withPicture(500, 400);
  // Scrolled, so the view's corner lies left of and above the box's.
  f.ScrollBox1->horizontalScrollBar()->setValue(7);
  f.ScrollBox1->verticalScrollBar()->setValue(5);
  const QImage shot = windowPixels();
  const QPoint corner = pictureCorner(shot);
  const QRect box(WindowPixelOf(f.ScrollBox1->viewport()), DeviceSize(f.ScrollBox1->viewport()));
  ASSERT_FALSE(box.isEmpty());
  int checked = 0;
  for (int y = box.top() + 1; y < box.bottom(); ++y)
    for (int x = box.left() + 1; x < box.right(); ++x) {
      const QPoint p(x - corner.x(), y - corner.y());
      ASSERT_EQ(shot.pixel(x, y) & 0xFFFFFF, PatternAt(p.x(), p.y()))
          << "screen pixel " << x << "," << y;
      ++checked;
    }
  EXPECT_GT(checked, 10000);
  // The scroll range reaches the picture's last pixels.
  QScrollBar* h = f.ScrollBox1->horizontalScrollBar();
  h->setValue(h->maximum());
  const QImage end = windowPixels();
  const QPoint last = pictureCorner(end) + QPoint(499, 100);
  EXPECT_LT(last.x(), box.right() + 1);
  EXPECT_EQ(end.pixel(last) & 0xFFFFFF, PatternAt(499, 100));
}

struct DragCase {
  const char* name;
  QPoint from, to;  // picture pixels pressed and released on
  Rect expected;
};

class ScaleDrag : public Scale, public ::testing::WithParamInterface<DragCase> {};

TEST_P(ScaleDrag, SelectionCoversThePicturePixelsUnderThePointer) {
  const DragCase& c = GetParam();
  TLumivoreForm& f = withPicture(300, 200);
  const QPoint corner = pictureCorner(windowPixels());
  mouse(QEvent::MouseButtonPress, corner + c.from, Qt::LeftButton);
  mouse(QEvent::MouseMove, corner + c.to, Qt::LeftButton);
  mouse(QEvent::MouseButtonRelease, corner + c.to, Qt::NoButton);
  EXPECT_EQ(f.FSelRect, c.expected);
  // The frame is drawn on the picture's own pixels: red on its outline, the
  // picture just inside.
  const QImage shot = windowPixels();
  const Rect& r = c.expected;
  for (QPoint p : {QPoint(r.left, r.top), QPoint(r.right - 1, r.bottom - 1),
                   QPoint(r.left, r.bottom - 1), QPoint(r.right - 1, r.top)})
    EXPECT_EQ(shot.pixel(corner + p) & 0xFFFFFF, 0xFF0000u) << p.x() << "," << p.y();
  const QPoint inside(r.left + 1, r.top + 1);
  EXPECT_EQ(shot.pixel(corner + inside) & 0xFFFFFF, PatternAt(inside.x(), inside.y()));
  const QPoint outside(r.left - 1, r.top - 1);
  if (outside.x() >= 0 && outside.y() >= 0)
    EXPECT_EQ(shot.pixel(corner + outside) & 0xFFFFFF, PatternAt(outside.x(), outside.y()));
}

INSTANTIATE_TEST_SUITE_P(
    Scale, ScaleDrag,
    ::testing::Values(DragCase{"OddCorners", {11, 21}, {101, 71}, {11, 21, 101, 71}},
                      DragCase{"EvenCorners", {10, 20}, {100, 70}, {10, 20, 100, 70}},
                      DragCase{"UpLeftThreePixelsApart", {34, 18}, {31, 15}, {31, 15, 34, 18}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(Scale, ArrowKeys_MoveTheSelectionOnePicturePixel) {
  TLumivoreForm& f = withPicture(300, 200);
  const QPoint corner = pictureCorner(windowPixels());
  mouse(QEvent::MouseButtonPress, corner + QPoint(11, 21), Qt::LeftButton);
  mouse(QEvent::MouseMove, corner + QPoint(51, 41), Qt::LeftButton);
  mouse(QEvent::MouseButtonRelease, corner + QPoint(51, 41), Qt::NoButton);
  desktop.pressKey(vk::Shift, true);
  QTest::keyClick(f.ScrollBox1, Qt::Key_Right, Qt::ShiftModifier);
  QTest::keyClick(f.ScrollBox1, Qt::Key_Down, Qt::ShiftModifier);
  desktop.pressKey(vk::Shift, false);
  EXPECT_EQ(f.FSelRect, (Rect{12, 22, 52, 42}));
  const QImage shot = windowPixels();
  EXPECT_EQ(shot.pixel(corner + QPoint(12, 22)) & 0xFFFFFF, 0xFF0000u);
  EXPECT_EQ(shot.pixel(corner + QPoint(11, 21)) & 0xFFFFFF, PatternAt(11, 21));
}

TEST_F(Scale, StampPointer_IsAsLargeAsTheScaleWithItsHotSpotOnTheSamePoint) {
  TLumivoreForm& f = withPicture(300, 200);
  // The pointing hand, 32 x 32 at 100 % with its hot spot at (7, 1).
  for (QAction* item : f.MouseCsrItems)
    if (item->data().toInt() == -21) item->trigger();
  const QCursor* cursor = QApplication::overrideCursor();
  ASSERT_NE(cursor, nullptr);
  // X makes the pointer from the picture's own pixels and takes the hot spot
  // in those pixels.
  EXPECT_EQ(cursor->pixmap().size(), QSize(qRound(32 * scale), qRound(32 * scale)));
  EXPECT_EQ(cursor->hotSpot(), QPoint(qRound(7 * scale), qRound(1 * scale)));
  f.EndStampMode();
}

TEST_F(Scale, StoredBounds_AreScreenPixelsBothWays) {
  // Bounds stored at any scale mean the same place on the desktop; at a
  // fractional scale Qt's whole logical pixels round them by up to one.
  writeIni("[General]\nWinLeft=300\nWinTop=200\nWinWidth=600\nWinHeight=500\n");
  TLumivoreForm& f = start();
  const Rect shown = DeviceRect(f.frameGeometry());
  const Rect stored{300, 200, 900, 700};
  EXPECT_LE(std::abs(shown.left - stored.left), slack());
  EXPECT_LE(std::abs(shown.top - stored.top), slack());
  EXPECT_LE(std::abs(shown.right - stored.right), slack());
  EXPECT_LE(std::abs(shown.bottom - stored.bottom), slack());
  // The pointer is put in the device pixel under the capture tool's centre.
  const QPointF centre = QPointF(f.CapToolPanel->mapToGlobal(QPoint(20, 20))) * scale;
  EXPECT_EQ(desktop.pointer, (Point{static_cast<int>(std::floor(centre.x())),
                                    static_cast<int>(std::floor(centre.y()))}));
  closeForm();
  const auto stays = [this](const char* key, int value) {
    EXPECT_LE(std::abs(iniValue("General", key).toInt() - value), slack()) << key;
  };
  stays("WinLeft", 300);
  stays("WinTop", 200);
  stays("WinWidth", 600);
  stays("WinHeight", 500);
}

TEST_F(Scale, FirstRun_DesignedSizeAtTheScreensScale) {
  TLumivoreForm& f = start();
  const QSize outer = f.frameGeometry().size();
  EXPECT_LE(std::abs(outer.width() - 220), slack());
  EXPECT_LE(std::abs(outer.height() - 240), slack());
  closeForm();
  const auto stored = [this](const char* key) { return iniValue("General", key).toInt(); };
  EXPECT_LE(std::abs(stored("WinWidth") - qRound(220 * scale)), slack());
  EXPECT_LE(std::abs(stored("WinHeight") - qRound(240 * scale)), slack());
  // Centred on the primary monitor of the desktop, in its own pixels.
  EXPECT_LE(std::abs(stored("WinLeft") - (1920 - qRound(220 * scale)) / 2), slack());
}

}  // namespace
}  // namespace lumivore
