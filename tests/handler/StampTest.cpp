// The cursor stamp on the real main window: the submenu of 20 shapes, stamp
// mode with its pointer confinement, the stamp itself and its cancelling.
#include <QAction>
#include <QMenu>
#include <QToolButton>
#include <QPainter>

#include "editing/StampCursors.h"
#include "imaging/Filters.h"
#include "tests/handler/PictureFixture.h"

namespace lumivore {
namespace {

class Stamp : public PictureFixture {
 protected:
  TLumivoreForm& withWhite(int width, int height) {
    TLumivoreForm& f = withPicture(width, height);
    for (int y = 0; y < height; ++y)
      for (int x = 0; x < width; ++x) f.FWorkImage.setPixel(x, y, MakeRgb(255, 255, 255));
    f.ShowWorkingImage();
    return f;
  }
  static const TStampCursor& entry(short id) {
    for (const TStampCursor& c : StampCursors)
      if (c.id == id) return c;
    throw std::runtime_error("no such cursor");
  }
  QAction* item(short id) {
    for (QAction* a : form->MouseCsrItems)
      if (a->data().toInt() == id) return a;
    return nullptr;
  }
  // The client area of the view on the screen, exactly.
  Rect viewClient() const {
    QWidget* client = form->ScrollBox1->viewport();
    const QPoint o = client->mapToGlobal(QPoint(0, 0));
    return Rect{o.x(), o.y(), o.x() + client->width(), o.y() + client->height()};
  }
  void expectModeEnded() {
    EXPECT_FALSE(form->FStampMode);
    EXPECT_EQ(desktop.clip, std::nullopt);
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
  }
};

TEST_F(Stamp, Submenu_ShowsTwentyShapesInTwoColumnsOfTen) {
  TLumivoreForm& f = withPicture(50, 50);
  ASSERT_EQ(f.MouseCsrItems.size(), 20);
  for (int i = 0; i < 20; ++i) EXPECT_EQ(f.MouseCsrItems[i]->data().toInt(), StampCursors[i].id);
  auto* grid = f.MouseCsrItem->findChild<QWidget*>("MouseCsrGrid");
  ASSERT_NE(grid, nullptr);
  f.MenuBtn->click();
  f.MouseCsrItem->popup(QPoint(100, 100));
  QApplication::processEvents();
  ASSERT_TRUE(grid->isVisible());
  // Two columns of 40 x 36 entries with a bar between them.
  EXPECT_GE(grid->width(), 80);
  EXPECT_LT(grid->width(), 100);
  EXPECT_EQ(grid->height(), 360);
  // Each entry shows its shape at (8, 2) inside its cell: the first column
  // starts with the arrow, the second with the hourglass.
  const QImage shown = grid->grab().toImage().convertToFormat(QImage::Format_RGB32);
  const int secondColumn = grid->width() - 40;
  const struct {
    short id;
    QPoint cell;
  } cells[] = {{cr::Arrow, {0, 0}}, {cr::HourGlass, {secondColumn, 0}},
               {cr::HandPoint, {secondColumn, 9 * 36}}, {-18, {0, 9 * 36}}};
  for (const auto& c : cells) {
    const QImage shape(entry(c.id).image);
    int checked = 0;
    for (int y = 0; y < 32; ++y)
      for (int x = 0; x < 32; ++x)
        if (qAlpha(shape.pixel(x, y)) == 255) {
          ASSERT_EQ(shown.pixel(c.cell + QPoint(8 + x, 2 + y)) & 0xFFFFFF,
                    shape.pixel(x, y) & 0xFFFFFF)
              << c.id << " at " << x << "," << y;
          ++checked;
        }
    EXPECT_GT(checked, 20) << c.id;
  }
  f.PopupMenu1->close();
}

TEST_F(Stamp, ChoosingAShape_ConfinesThePointerShowsTheShapeAndClearsTheSelection) {
  TLumivoreForm& f = withPicture(300, 200);
  f.FSelRect = Rect{10, 10, 40, 40};
  f.PlaceSelShape();
  // The pointer is on the menu, outside the view.
  desktop.pointer = Point{5, 5};
  item(cr::HandPoint)->trigger();
  EXPECT_TRUE(f.FStampMode);
  EXPECT_EQ(desktop.clip, viewClient());
  const Rect clip = viewClient();
  EXPECT_EQ(desktop.pointer, (Point{clip.left, clip.top}));
  EXPECT_EQ(f.FSelRect, Rect{});
  EXPECT_FALSE(f.SelShape->isVisible());
  EXPECT_EQ(status(), QString::fromUtf8("マウスカーソル貼り付け中..."));
  // The pointer is the stamp's own image, its hot spot the stamp's offset.
  const QCursor* cursor = QApplication::overrideCursor();
  ASSERT_NE(cursor, nullptr);
  EXPECT_EQ(cursor->hotSpot(), QPoint(7, 1));
  const QImage expected = QImage(entry(cr::HandPoint).image).convertToFormat(QImage::Format_ARGB32);
  EXPECT_EQ(cursor->pixmap().toImage().convertToFormat(QImage::Format_ARGB32), expected);
}

struct PlaceCase {
  short id;
  QPoint press, corner;
};

TEST_F(Stamp, LeftPress_PaintsTheShapeWithItsOffsetOnThePressedPixel) {
  const PlaceCase cases[] = {
      {cr::Arrow, {50, 40}, {40, 30}},
      {cr::HandPoint, {50, 40}, {43, 39}},
      {cr::Drag, {50, 40}, {50, 40}},
      // Near the corner: parts outside the picture are clipped.
      {cr::Arrow, {95, 75}, {85, 65}},
  };
  for (const PlaceCase& c : cases) {
    TLumivoreForm& f = withWhite(100, 80);
    item(c.id)->trigger();
    QTest::mousePress(f.Image1, Qt::LeftButton, {}, c.press);
    QImage expected(100, 80, QImage::Format_RGB32);
    expected.fill(Qt::white);
    {
      QPainter p(&expected);
      p.drawImage(c.corner, QImage(entry(c.id).image));
    }
    int changed = 0;
    for (int y = 0; y < 80; ++y)
      for (int x = 0; x < 100; ++x) {
        const Rgb got = f.FWorkImage.pixel(x, y);
        ASSERT_EQ(got, expected.pixel(x, y) & 0xFFFFFF) << c.id << " at " << x << "," << y;
        if (got != MakeRgb(255, 255, 255)) {
          ++changed;
          EXPECT_TRUE(x >= c.corner.x() && x < c.corner.x() + 32 && y >= c.corner.y() &&
                      y < c.corner.y() + 32);
        }
      }
    EXPECT_GT(changed, 5) << c.id;
    EXPECT_EQ(f.FUndoList.size(), 1);
    expectModeEnded();
    QTest::mouseRelease(f.Image1, Qt::LeftButton, {}, c.press);
  }
}

TEST_F(Stamp, OtherPresses_EndTheModeWithoutPaintingOrSnapshot) {
  const struct {
    Qt::MouseButton button;
    QPoint at;
  } cases[] = {{Qt::RightButton, {20, 20}}, {Qt::MiddleButton, {20, 20}},
               {Qt::LeftButton, {101, 20}}, {Qt::LeftButton, {20, 81}}};
  for (const auto& c : cases) {
    TLumivoreForm& f = withWhite(100, 80);
    const Bitmap before = f.FWorkImage;
    item(cr::Arrow)->trigger();
    QTest::mousePress(f.Image1, c.button, {}, c.at);
    expectModeEnded();
    EXPECT_EQ(f.FWorkImage, before);
    EXPECT_TRUE(f.FUndoList.isEmpty());
    // A right press in stamp mode opens no menu.
    EXPECT_EQ(QApplication::activePopupWidget(), nullptr);
    EXPECT_EQ(status(), QString::fromUtf8("画像サイズ:  100 ×  80 "));
  }
}

TEST_F(Stamp, ArrowKeys_MoveThePointerOnePixelAndStayInsideTheView) {
  TLumivoreForm& f = withPicture(300, 200);
  item(cr::Cross)->trigger();
  const Rect clip = viewClient();
  desktop.pointer = Point{clip.left + 1, clip.top};
  const struct {
    Qt::Key key;
    Point expected;
  } steps[] = {
      {Qt::Key_Left, {clip.left, clip.top}},     {Qt::Key_Left, {clip.left, clip.top}},
      {Qt::Key_Up, {clip.left, clip.top}},       {Qt::Key_Down, {clip.left, clip.top + 1}},
      {Qt::Key_Right, {clip.left + 1, clip.top + 1}},
  };
  for (const auto& s : steps) {
    QTest::keyClick(f.ScrollBox1, s.key, Qt::ShiftModifier);
    EXPECT_EQ(desktop.pointer, s.expected);
  }
  desktop.pointer = Point{clip.right - 1, clip.bottom - 1};
  QTest::keyClick(f.ScrollBox1, Qt::Key_Right);
  QTest::keyClick(f.ScrollBox1, Qt::Key_Down, Qt::ControlModifier);
  EXPECT_EQ(desktop.pointer, (Point{clip.right - 1, clip.bottom - 1}));
  EXPECT_TRUE(f.FStampMode);
}

TEST_F(Stamp, OnASixteenColourPicture_LeavesFullColourAndUndoRemovesIt) {
  TLumivoreForm& f = withWhite(100, 80);
  ASSERT_TRUE(ReduceTo16Colours(f.FWorkImage, f.FWorkImage));
  f.ShowWorkingImage();
  const Bitmap before = f.FWorkImage;
  item(cr::IBeam)->trigger();
  QTest::mousePress(f.Image1, Qt::LeftButton, {}, QPoint(30, 30));
  EXPECT_FALSE(IsIndexed(f.FWorkImage.format()));
  EXPECT_FALSE(status().endsWith(QString::fromUtf8("(16色)")));
  f.UndoAction->trigger();
  EXPECT_EQ(f.FWorkImage, before);
}

TEST_F(Stamp, UndoWhileWaiting_EndsTheModeAndRestoresThePicture) {
  TLumivoreForm& f = withWhite(100, 80);
  const Bitmap white = f.FWorkImage;
  f.NegColAction->trigger();
  item(cr::Arrow)->trigger();
  QTest::keyClick(&f, Qt::Key_Z, Qt::ControlModifier);
  expectModeEnded();
  EXPECT_EQ(f.FWorkImage, white);
  // The next press draws a selection again.
  QTest::mousePress(f.Image1, Qt::LeftButton, {}, QPoint(10, 10));
  EXPECT_TRUE(f.FSelDrawing);
  EXPECT_EQ(f.FWorkImage, white);
  QTest::mouseRelease(f.Image1, Qt::LeftButton, {}, QPoint(10, 10));
}

TEST_F(Stamp, EndsWhenTheWindowIsHiddenOrClosed) {
  TLumivoreForm& f = withPicture(100, 80);
  item(cr::Arrow)->trigger();
  ASSERT_TRUE(f.FStampMode);
  f.hide();
  QApplication::processEvents();
  expectModeEnded();
  f.show();
  item(cr::Arrow)->trigger();
  ASSERT_TRUE(desktop.clip.has_value());
  form.reset();
  EXPECT_EQ(desktop.clip, std::nullopt);
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

TEST_F(Stamp, Keyboard_ChoosesAShapeInTheSubmenu) {
  TLumivoreForm& f = withPicture(100, 80);
  f.MenuBtn->click();
  QTest::keyClick(QApplication::activePopupWidget(), Qt::Key_M);
  QApplication::processEvents();
  ASSERT_EQ(QApplication::activePopupWidget(), f.MouseCsrItem);
  // Down to the second entry, right to the second column, Return.
  for (Qt::Key key : {Qt::Key_Down, Qt::Key_Right, Qt::Key_Return}) {
    // Keys reach the open menu's focused child, as the application routes them.
    QWidget* menu = QApplication::activePopupWidget();
    ASSERT_NE(menu, nullptr);
    QTest::keyClick(menu->focusWidget() ? menu->focusWidget() : menu, key);
    QApplication::processEvents();
  }
  EXPECT_EQ(QApplication::activePopupWidget(), nullptr);
  ASSERT_TRUE(f.FStampMode);
  EXPECT_EQ(f.FStampCursor, StampCursors[11].id);
  QTest::mousePress(f.Image1, Qt::RightButton, {}, QPoint(5, 5));
  expectModeEnded();
}

}  // namespace
}  // namespace lumivore
