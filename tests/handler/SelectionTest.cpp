#include <QAction>
#include <QMenu>
#include <QScrollBar>

#include "tests/handler/PictureFixture.h"

namespace lumivore {
namespace {

using Selection = PictureFixture;

QString SelText(const char* prefix, const Rect& r) {
  return QString::fromUtf8(prefix) +
         QString::asprintf("(%4d,%4d-%4d,%4d) : (%3d", r.left, r.top, r.right, r.bottom,
                           r.width()) +
         QChar(0x00D7) + QString::asprintf("%3d)", r.height());
}

QRect FrameOf(const TLumivoreForm& f) {
  const int dx = f.ScrollBox1->horizontalScrollBar()->value();
  const int dy = f.ScrollBox1->verticalScrollBar()->value();
  return QRect(f.FSelRect.left - dx, f.FSelRect.top - dy, f.FSelRect.width(), f.FSelRect.height());
}

struct DragCase {
  const char* name;
  QPoint from, to;
  Rect expected;
};

class SelectionDrag : public Selection, public ::testing::WithParamInterface<DragCase> {};

TEST_P(SelectionDrag, DrawsTheRectangleInsideThePictureWithThePointerConfined) {
  const DragCase& c = GetParam();
  TLumivoreForm& f = withPicture(400, 300);
  QTest::mousePress(f.Image1, Qt::LeftButton, {}, c.from);
  EXPECT_TRUE(f.FSelDrawing);
  EXPECT_EQ(desktop.clip, confinement());
  QTest::mouseMove(f.Image1, c.to);
  EXPECT_EQ(f.FSelRect, c.expected);
  QTest::mouseRelease(f.Image1, Qt::LeftButton, {}, c.to);
  EXPECT_FALSE(f.FSelDrawing);
  EXPECT_EQ(desktop.clip, std::nullopt);
  EXPECT_EQ(f.FSelRect, c.expected);
  EXPECT_TRUE(f.SelShape->isVisible());
  EXPECT_EQ(f.SelShape->geometry(), FrameOf(f));
  EXPECT_EQ(status(), SelText("選択中 ", c.expected));
  EXPECT_TRUE(f.TrimAction->isEnabled());
}

INSTANTIATE_TEST_SUITE_P(
    Selection, SelectionDrag,
    ::testing::Values(DragCase{"DownRight", {10, 20}, {110, 70}, {10, 20, 110, 70}},
                      DragCase{"UpLeft", {110, 70}, {10, 20}, {10, 20, 110, 70}},
                      DragCase{"UpRight", {10, 70}, {110, 20}, {10, 20, 110, 70}},
                      DragCase{"DownLeft", {110, 20}, {10, 70}, {10, 20, 110, 70}},
                      DragCase{
                          "BeyondRightAndBottom", {350, 250}, {520, 410}, {350, 250, 400, 300}},
                      DragCase{"BeyondLeftAndTop", {50, 40}, {-30, -20}, {0, 0, 50, 40}},
                      DragCase{"FromTheRightEdge", {400, 300}, {390, 280}, {390, 280, 400, 300}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(Selection, ClickWithoutDrag_LeavesNoSelection) {
  TLumivoreForm& f = withPicture(400, 300);
  QTest::mouseClick(f.Image1, Qt::LeftButton, {}, QPoint(30, 30));
  EXPECT_EQ(f.FSelRect, (Rect{30, 30, 30, 30}));
  EXPECT_FALSE(f.SelShape->isVisible());
  EXPECT_EQ(status(), QString::fromUtf8("画像サイズ:  400 ×") + " 300 ");
  EXPECT_FALSE(f.TrimAction->isEnabled());
  EXPECT_EQ(desktop.clip, std::nullopt);
}

TEST_F(Selection, PressBeyondThePictureOrWithoutPicture_IsIgnored) {
  TLumivoreForm& f = withPicture(60, 40);
  QTest::mousePress(f.Image1, Qt::LeftButton, {}, QPoint(61, 10));
  EXPECT_FALSE(f.FSelDrawing);
  EXPECT_EQ(desktop.clip, std::nullopt);
  f.FWorkImage.clear();
  QTest::mousePress(f.Image1, Qt::LeftButton, {}, QPoint(10, 10));
  EXPECT_FALSE(f.FSelDrawing);
  QTest::mousePress(f.Image1, Qt::RightButton, {}, QPoint(10, 10));
  EXPECT_FALSE(f.PopupMenu1->isVisible());
}

TEST_F(Selection, LostRelease_EndsTheDrawingAndReleasesThePointer) {
  TLumivoreForm& f = withPicture(400, 300);
  QTest::mousePress(f.Image1, Qt::LeftButton, {}, QPoint(10, 10));
  ASSERT_TRUE(desktop.clip.has_value());
  // The release went to another client: the next move comes without a button.
  QMouseEvent move(QEvent::MouseMove, QPointF(50, 50), f.Image1->mapToGlobal(QPointF(50, 50)),
                   Qt::NoButton, Qt::NoButton, Qt::NoModifier);
  QApplication::sendEvent(f.Image1, &move);
  EXPECT_FALSE(f.FSelDrawing);
  EXPECT_EQ(desktop.clip, std::nullopt);
  // The window losing the activation does the same.
  QTest::mousePress(f.Image1, Qt::LeftButton, {}, QPoint(10, 10));
  ASSERT_TRUE(desktop.clip.has_value());
  QEvent deactivate(QEvent::WindowDeactivate);
  QApplication::sendEvent(&f, &deactivate);
  EXPECT_FALSE(f.FSelDrawing);
  EXPECT_EQ(desktop.clip, std::nullopt);
}

TEST_F(Selection, LostReleaseOfAFrameMove_EndsTheMoveAndRestoresTheCursor) {
  TLumivoreForm& f = withPicture(400, 300);
  f.FSelRect = Rect{20, 20, 60, 60};
  f.PlaceSelShape();
  // A right press during the move opens the menu, which takes the pointer.
  QTest::mousePress(f.SelShape, Qt::LeftButton, {}, QPoint(5, 5));
  ASSERT_TRUE(f.FSelMoving);
  QTest::mousePress(f.SelShape, Qt::RightButton, {}, QPoint(5, 5));
  EXPECT_TRUE(f.PopupMenu1->isVisible());
  EXPECT_FALSE(f.FSelMoving);
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
  EXPECT_EQ(status(), SelText("選択中 ", Rect{20, 20, 60, 60}));
  f.PopupMenu1->close();
  // A move without a button held: the release went elsewhere.
  QTest::mousePress(f.SelShape, Qt::LeftButton, {}, QPoint(5, 5));
  ASSERT_TRUE(f.FSelMoving);
  QMouseEvent move(QEvent::MouseMove, QPointF(9, 9), f.SelShape->mapToGlobal(QPointF(9, 9)),
                   Qt::NoButton, Qt::NoButton, Qt::NoModifier);
  QApplication::sendEvent(f.SelShape, &move);
  EXPECT_FALSE(f.FSelMoving);
  EXPECT_EQ(f.FSelRect, (Rect{20, 20, 60, 60}));
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
  EXPECT_TRUE(f.CMDialogKey(vk::Right, {}));
}

TEST_F(Selection, FrameMoveArrow_LastsAsLongAsTheMoveWhateverElseHappens) {
  TLumivoreForm& f = withPicture(400, 300);
  f.FSelRect = Rect{20, 20, 60, 60};
  f.PlaceSelShape();
  f.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&f));
  // A middle click while the left button holds the frame: its release ends
  // the move, and the left release afterwards leaves no arrow behind.
  QTest::mousePress(f.SelShape, Qt::LeftButton, {}, QPoint(5, 5));
  QTest::mousePress(f.SelShape, Qt::MiddleButton, {}, QPoint(5, 5));
  EXPECT_EQ(QApplication::overrideCursor()->shape(), Qt::SizeAllCursor);
  QTest::mouseRelease(f.SelShape, Qt::MiddleButton, {}, QPoint(5, 5));
  EXPECT_FALSE(f.FSelMoving);
  QTest::mouseRelease(f.SelShape, Qt::LeftButton, {}, QPoint(5, 5));
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
  EXPECT_EQ(f.FSelRect, (Rect{20, 20, 60, 60}));
  // Ctrl+Z in the middle of a move brings the picture back; the frame is
  // still held, so the move and its arrow go on until the release.
  f.PushUndo();
  f.FWorkImage.setPixel(0, 0, MakeRgb(1, 2, 3));
  QTest::mousePress(f.SelShape, Qt::LeftButton, {}, QPoint(5, 5));
  QTest::mouseMove(f.SelShape, QPoint(15, 5));
  QTest::keyClick(&f, Qt::Key_Z, Qt::ControlModifier);
  ASSERT_EQ(f.FWorkImage.pixel(0, 0), PatternAt(0, 0));
  ASSERT_NE(QApplication::overrideCursor(), nullptr);
  EXPECT_EQ(QApplication::overrideCursor()->shape(), Qt::SizeAllCursor);
  QTest::mouseMove(f.SelShape, QPoint(15, 5));
  EXPECT_EQ(f.FSelRect, (Rect{40, 20, 80, 60}));
  QTest::mouseRelease(f.SelShape, Qt::LeftButton, {}, QPoint(15, 5));
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

struct FrameDragCase {
  const char* name;
  QPoint by;
  Rect expected;
};

class SelectionFrameDrag : public Selection, public ::testing::WithParamInterface<FrameDragCase> {};

TEST_P(SelectionFrameDrag, MovesTheRectangleKeepingItsSizeInsideThePicture) {
  const FrameDragCase& c = GetParam();
  TLumivoreForm& f = withPicture(400, 300);
  f.FSelRect = Rect{100, 50, 200, 100};
  f.PlaceSelShape();
  const QPoint grab(10, 10);
  QTest::mousePress(f.SelShape, Qt::LeftButton, {}, grab);
  EXPECT_EQ(QApplication::overrideCursor()->shape(), Qt::SizeAllCursor);
  // Two steps: the second one starts where the frame went with the first.
  QTest::mouseMove(f.SelShape, grab + c.by / 2);
  QTest::mouseMove(f.SelShape, grab + c.by - c.by / 2);
  EXPECT_EQ(f.FSelRect, c.expected);
  EXPECT_EQ(status(), SelText("移動中 ", c.expected));
  QTest::mouseRelease(f.SelShape, Qt::LeftButton, {}, grab);
  EXPECT_FALSE(f.FSelMoving);
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
  EXPECT_EQ(status(), SelText("選択中 ", c.expected));
  EXPECT_EQ(f.SelShape->geometry(), FrameOf(f));
  EXPECT_EQ(desktop.clip, std::nullopt);
}

INSTANTIATE_TEST_SUITE_P(
    Selection, SelectionFrameDrag,
    ::testing::Values(FrameDragCase{"Inside", {30, -20}, {130, 30, 230, 80}},
                      FrameDragCase{"AgainstLeftTop", {-500, -500}, {0, 0, 100, 50}},
                      FrameDragCase{"AgainstRightBottom", {500, 500}, {300, 250, 400, 300}},
                      FrameDragCase{"AgainstRight", {250, 10}, {300, 60, 400, 110}}),
    [](const auto& info) { return std::string(info.param.name); });

struct KeyCase {
  const char* name;
  Rect start;
  int vk;
  bool ctrl, shift;
  Rect expected;
};

class SelectionKeys : public Selection, public ::testing::WithParamInterface<KeyCase> {};

TEST_P(SelectionKeys, MoveOrResizeInsideThePicture) {
  const KeyCase& k = GetParam();
  TLumivoreForm& f = withPicture(400, 300);
  f.FSelRect = k.start;
  f.PlaceSelShape();
  desktop.pressKey(vk::Control, k.ctrl);
  desktop.pressKey(vk::Shift, k.shift);
  EXPECT_TRUE(f.CMDialogKey(k.vk, {}));
  EXPECT_EQ(f.FSelRect, k.expected);
  EXPECT_EQ(f.SelShape->isVisible(), !k.expected.isEmpty());
  if (!k.expected.isEmpty()) {
    EXPECT_EQ(status(), SelText("選択中 ", k.expected));
  }
  EXPECT_FALSE(f.FSelMoving);
}

INSTANTIATE_TEST_SUITE_P(
    Selection, SelectionKeys,
    ::testing::Values(
        KeyCase{"RightJumpsOneTile", {0, 0, 100, 50}, vk::Right, false, false, {100, 0, 200, 50}},
        KeyCase{"DownJumpsOneTile", {0, 0, 100, 50}, vk::Down, false, false, {0, 50, 100, 100}},
        KeyCase{
            "RightAtTheEdgeStays", {300, 0, 400, 50}, vk::Right, false, false, {300, 0, 400, 50}},
        KeyCase{
            "RightClampsToTheEdge", {250, 0, 350, 50}, vk::Right, false, false, {300, 0, 400, 50}},
        KeyCase{"LeftAtTheEdgeStays", {0, 0, 100, 50}, vk::Left, false, false, {0, 0, 100, 50}},
        KeyCase{"UpClampsToTheTop", {0, 30, 100, 80}, vk::Up, false, false, {0, 0, 100, 50}},
        // Wider than the picture (as after a rotation): the right edge is
        // corrected last, so the left one ends outside.
        KeyCase{"WiderThanThePictureEndsAtTheRightEdge",
                {0, 0, 450, 50},
                vk::Right,
                false,
                false,
                {-50, 0, 400, 50}},
        KeyCase{
            "ShiftRightStepsOnePixel", {0, 0, 100, 50}, vk::Right, false, true, {1, 0, 101, 50}},
        KeyCase{"ShiftLeftAtTheEdgeStays", {0, 5, 100, 55}, vk::Left, false, true, {0, 5, 100, 55}},
        KeyCase{"ShiftUpStepsOnePixel", {5, 5, 105, 55}, vk::Up, false, true, {5, 4, 105, 54}},
        KeyCase{"CtrlRightGrows", {0, 0, 399, 50}, vk::Right, true, false, {0, 0, 400, 50}},
        KeyCase{
            "CtrlRightStopsAtTheWidth", {0, 0, 400, 50}, vk::Right, true, false, {0, 0, 400, 50}},
        KeyCase{"CtrlDownStopsAtTheHeight",
                {0, 250, 10, 300},
                vk::Down,
                true,
                false,
                {0, 250, 10, 300}},
        KeyCase{"CtrlUpShrinksTheBottom", {10, 10, 20, 20}, vk::Up, true, false, {10, 10, 20, 19}},
        KeyCase{
            "CtrlShiftRightIgnoresShift", {0, 0, 10, 10}, vk::Right, true, true, {0, 0, 11, 10}},
        KeyCase{
            "CtrlLeftOnOnePixelRemoves", {10, 0, 11, 50}, vk::Left, true, false, {10, 0, 10, 50}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(Selection, ArrowKeys_WithoutUsableRectangle_AreNotHandled) {
  TLumivoreForm& f = withPicture(400, 300);
  EXPECT_FALSE(f.CMDialogKey(vk::Right, {}));
  f.FSelRect = Rect{10, 0, 11, 50};
  f.PlaceSelShape();
  desktop.pressKey(vk::Control, true);
  ASSERT_TRUE(f.CMDialogKey(vk::Left, {}));
  desktop.pressKey(vk::Control, false);
  EXPECT_FALSE(f.CMDialogKey(vk::Right, {}));
  EXPECT_FALSE(f.SelShape->isVisible());
  // Not while a drawing goes on.
  QTest::mousePress(f.Image1, Qt::LeftButton, {}, QPoint(10, 10));
  QTest::mouseMove(f.Image1, QPoint(40, 40));
  EXPECT_FALSE(f.CMDialogKey(vk::Right, {}));
  EXPECT_EQ(f.FSelRect, (Rect{10, 10, 40, 40}));
}

TEST_F(Selection, ArrowKeyPress_ReachesTheSelection) {
  TLumivoreForm& f = withPicture(400, 300);
  f.FSelRect = Rect{0, 0, 100, 50};
  f.PlaceSelShape();
  QTest::keyClick(f.ScrollBox1, Qt::Key_Right);
  EXPECT_EQ(f.FSelRect, (Rect{100, 0, 200, 50}));
}

TEST_F(Selection, DownKeyBelowTheVisibleArea_ScrollsByTheStep) {
  TLumivoreForm& f = withPicture(100, 1000);
  QScrollBar* v = f.ScrollBox1->verticalScrollBar();
  const int visible = f.ScrollBox1->viewport()->height();
  ASSERT_GT(v->maximum(), 200);
  f.FSelRect = Rect{0, 0, 10, 40};
  f.PlaceSelShape();
  int expectedScroll = 0;
  for (int i = 0; i < 10; ++i) {
    ASSERT_TRUE(f.CMDialogKey(vk::Down, {}));
    // The frame is placed before the scroll, so the test reads the rectangle.
    if (f.FSelRect.bottom - expectedScroll > visible) expectedScroll += 40;
    EXPECT_EQ(v->value(), expectedScroll) << i;
    EXPECT_EQ(f.SelShape->geometry(), FrameOf(f)) << i;
  }
  ASSERT_GT(expectedScroll, 0);
  // And back up: the frame above the visible area scrolls up.
  f.FSelRect = Rect{0, expectedScroll - 40, 10, expectedScroll};
  f.PlaceSelShape();
  ASSERT_TRUE(f.CMDialogKey(vk::Up, {}));
  EXPECT_EQ(v->value(), expectedScroll - 40);
  // Never horizontally.
  EXPECT_EQ(f.ScrollBox1->horizontalScrollBar()->value(), 0);
}

TEST_F(Selection, Trim_KeepsTheSelectedPixelsAndRemembersTheRectangle) {
  TLumivoreForm& f = withPicture(400, 300);
  QTest::mousePress(f.Image1, Qt::LeftButton, {}, QPoint(10, 20));
  QTest::mouseMove(f.Image1, QPoint(110, 70));
  QTest::mouseRelease(f.Image1, Qt::LeftButton, {}, QPoint(110, 70));
  f.TrimItem->trigger();
  ASSERT_EQ(f.FWorkImage.width(), 100);
  ASSERT_EQ(f.FWorkImage.height(), 50);
  EXPECT_EQ(f.FWorkImage.format(), PixelFormat::Bgr24);
  EXPECT_EQ(f.FWorkImage.pixel(0, 0), PatternAt(10, 20));
  EXPECT_EQ(f.FWorkImage.pixel(99, 49), PatternAt(109, 69));
  EXPECT_EQ(f.FViewBitmap.pixel(0, 0), PatternAt(10, 20));
  EXPECT_FALSE(f.SelShape->isVisible());
  EXPECT_EQ(f.FSelRect, (Rect{10, 20, 110, 70}));
  EXPECT_EQ(status(), QString::fromUtf8("画像サイズ:  100 ×") + "  50 ");
  EXPECT_FALSE(f.TrimAction->isEnabled());
  EXPECT_EQ(f.FUndoList.size(), 1);

  // Undo brings back the picture and the frame where it was.
  f.UndoItem->trigger();
  EXPECT_EQ(f.FWorkImage.width(), 400);
  EXPECT_TRUE(f.SelShape->isVisible());
  EXPECT_EQ(f.SelShape->geometry(), FrameOf(f));
  EXPECT_EQ(status(), SelText("選択中 ", Rect{10, 20, 110, 70}));

  // Trim again; a plain arrow key shows the frame, moved and clamped into the new picture.
  f.TrimItem->trigger();
  ASSERT_TRUE(f.CMDialogKey(vk::Right, {}));
  EXPECT_EQ(f.FSelRect, (Rect{0, 0, 100, 50}));
  EXPECT_TRUE(f.SelShape->isVisible());
}

TEST_F(Selection, Trim_PaletteFormatAndRectangleBeyondThePicture) {
  TLumivoreForm& f = withPicture(40, 30);
  Bitmap indexed;
  indexed.allocate(40, 30, PixelFormat::Indexed4);
  indexed.setPalette({0x000000, 0xFF0000, 0x00FF00, 0x0000FF});
  for (int y = 0; y < 30; ++y)
    for (int x = 0; x < 40; ++x) indexed.setIndex(x, y, (x + y) % 4);
  f.FWorkImage = indexed;
  f.ShowWorkingImage();
  // After a rotation the rectangle may reach beyond the picture: only the
  // part inside it is kept.
  f.FSelRect = Rect{25, 3, 60, 13};
  f.PlaceSelShape();
  f.TrimActionExecute(f.TrimAction);
  ASSERT_EQ(f.FWorkImage.width(), 15);
  ASSERT_EQ(f.FWorkImage.height(), 10);
  EXPECT_EQ(f.FWorkImage.format(), PixelFormat::Indexed4);
  EXPECT_EQ(f.FWorkImage.palette(), indexed.palette());
  for (int y = 0; y < 10; ++y)
    for (int x = 0; x < 15; ++x) ASSERT_EQ(f.FWorkImage.index(x, y), (x + 25 + y + 3) % 4);
  EXPECT_EQ(status(), QString::fromUtf8("画像サイズ:   15 ×") + "  10 (16色)");
}

TEST_F(Selection, RightPress_OpensTheShortMenuAndKeepsTheSelection) {
  TLumivoreForm& f = withPicture(400, 300);
  f.FSelRect = Rect{20, 20, 60, 60};
  f.PlaceSelShape();
  for (QWidget* target : {static_cast<QWidget*>(f.SelShape), static_cast<QWidget*>(f.Image1)}) {
    desktop.pointer = Point{120, 90};
    QTest::mousePress(target, Qt::RightButton, {},
                      target == f.Image1 ? QPoint(150, 10) : QPoint(5, 5));
    ASSERT_TRUE(f.PopupMenu1->isVisible()) << target->objectName().toStdString();
    EXPECT_EQ(f.PopupMenu1->pos(), QPoint(120, 90));
    EXPECT_FALSE(f.ShowItem->menuAction()->isVisible());
    EXPECT_FALSE(f.OptionItem->isVisible());
    EXPECT_FALSE(f.AboutItem->menuAction()->isVisible());
    EXPECT_EQ(f.FSelRect, (Rect{20, 20, 60, 60}));
    EXPECT_TRUE(f.SelShape->isVisibleTo(&f));
    EXPECT_FALSE(f.FSelMoving);
    EXPECT_FALSE(f.FSelDrawing);
    f.PopupMenu1->close();
  }
}

}  // namespace
}  // namespace lumivore
