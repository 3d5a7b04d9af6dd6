// Captures where X shows no window but the desktop shows one of its own: the
// desktop is asked for the picture, and its answer ends the capture.
#include <QApplication>
#include <QLineEdit>

#include "tests/handler/FormFixture.h"

namespace lumivore {
namespace {

using Shot = Platform::DesktopShot;

constexpr Rgb kBlue = MakeRgb(0, 0, 230);
constexpr Rgb kGreen = MakeRgb(0, 200, 0);
constexpr Rgb kRed = MakeRgb(255, 0, 0);
// Where X shows nothing of its own.
constexpr Point kNowhere{700, 500};

Bitmap Solid(int w, int h, Rgb c, PixelFormat format = PixelFormat::Bgr24) {
  Bitmap b;
  b.allocate(w, h, format);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) b.setPixel(x, y, c);
  return b;
}

class DesktopCapture : public FormFixture {
 protected:
  // A window X knows at (0,0)-(40,30), green; the rest of the screen is
  // where X shows nothing of its own.
  void SetUp() override {
    FormFixture::SetUp();
    desktop.windowsBeyondX = true;
    desktop.fillScreen(Rect{0, 0, 40, 30}, kGreen);
    desktop.addWindow("XTerm", "shell", Rect{0, 0, 40, 30});
    start();
    form->FCapSound = "/snd/capture.wav";
    // A picture edited once: its snapshot is the newest undo step.
    form->FWorkImage = Solid(4, 4, kRed);
    form->PushUndo();
    form->FWorkImage = Solid(6, 6, kRed);
    form->ShowWorkingImage();
  }
  // Press on the wand, pass over the X window (its preview stays in the
  // view), release at `p`.
  void dragTo(Point p) {
    form->CapToolImgMouseDown(Qt::LeftButton, Qt::NoModifier, QPoint(10, 10));
    desktop.pointer = Point{5, 5};
    form->Timer1Timer();
    desktop.pointer = p;
    form->Timer1Timer();
    form->CapToolImgMouseUp(Qt::LeftButton, Qt::NoModifier, QPoint(10, 10));
  }
};

struct AnswerCase {
  const char* name;
  Shot answer;
  const char* status;  // nullptr: the size of the desktop's picture
};

class DesktopAnswer : public DesktopCapture, public ::testing::WithParamInterface<AnswerCase> {};

TEST_P(DesktopAnswer, EndsTheCaptureAsACaptureDoes) {
  // A 32-bit picture with a mark in its corner, as the portal's file gives one.
  Bitmap shot = Solid(70, 50, kBlue, PixelFormat::Bgrx32);
  shot.setPixel(0, 0, kRed);
  desktop.desktopShotAnswer = std::make_pair(GetParam().answer, shot);
  dragTo(kNowhere);

  TLumivoreForm& f = *form;
  EXPECT_EQ(desktop.desktopShotRequests, 1);
  EXPECT_TRUE(f.isVisible());
  EXPECT_FALSE(f.FCapturing);
  EXPECT_EQ(f.CapToolImg->pixmap().toImage(), f.MrkImageList[1].toImage());
  // The undo history is a capture's: untouched.
  EXPECT_EQ(f.FUndoList.size(), 1);
  if (!GetParam().status) {
    ASSERT_EQ(f.FWorkImage.width(), 70);
    ASSERT_EQ(f.FWorkImage.height(), 50);
    EXPECT_EQ(f.FWorkImage.format(), PixelFormat::Bgr24);
    EXPECT_EQ(f.FWorkImage.pixel(0, 0), kRed);
    EXPECT_EQ(f.FWorkImage.pixel(69, 49), kBlue);
    EXPECT_EQ(f.FViewBitmap.pixel(69, 49), kBlue);
    EXPECT_EQ(f.StatusBar1->text(), QString::fromUtf8("画像サイズ:   70 \u00d7  50 "));
    EXPECT_EQ(desktop.soundsPlayed, std::vector<std::string>{"/snd/capture.wav"});
  } else {
    // Nothing came: the picture is the view as it was, the X window's
    // preview, and no capture sound plays.
    ASSERT_EQ(f.FWorkImage.width(), 40);
    EXPECT_EQ(f.FWorkImage.pixel(20, 20), kGreen);
    EXPECT_EQ(f.FViewBitmap.width(), 40);
    EXPECT_EQ(f.StatusBar1->text(), QString::fromUtf8(GetParam().status));
    EXPECT_TRUE(desktop.soundsPlayed.empty());
  }
  // Undo brings back the newest snapshot, as after any capture.
  f.UndoActionExecute(f.UndoAction);
  EXPECT_EQ(f.FWorkImage, Solid(4, 4, kRed));
}

INSTANTIATE_TEST_SUITE_P(
    DesktopCapture, DesktopAnswer,
    ::testing::Values(
        AnswerCase{"Taken", Shot::Taken, nullptr},
        AnswerCase{"Cancelled", Shot::Cancelled, "デスクトップのキャプチャーは取り消されました"},
        AnswerCase{"Failed", Shot::Failed, "デスクトップから画像を受け取れませんでした"},
        AnswerCase{"Unavailable", Shot::Unavailable,
                   "この種類のウィンドウはここではキャプチャーできません"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(DesktopCapture, WhileTheDesktopAnswers_HiddenTrackingPausedAndTheWandIgnored) {
  form->FHideWait = 80;
  dragTo(kNowhere);
  TLumivoreForm& f = *form;
  ASSERT_TRUE(desktop.desktopShotPending);
  EXPECT_FALSE(f.isVisible());
  EXPECT_GE(desktop.syncs, 1);
  EXPECT_EQ(desktop.sleeps, std::vector<int>{80});
  EXPECT_TRUE(f.FCapturing);
  // The pointer is the user's for the desktop's dialog.
  EXPECT_EQ(QWidget::mouseGrabber(), nullptr);
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
  // Over the X window again: no preview, no second request, no capture.
  desktop.pointer = Point{5, 5};
  desktop.fillScreen(Rect{0, 0, 40, 30}, kRed);
  f.Timer1Timer();
  f.CapToolImgMouseDown(Qt::LeftButton, Qt::NoModifier, QPoint(10, 10));
  f.CapToolImgMouseUp(Qt::LeftButton, Qt::NoModifier, QPoint(10, 10));
  EXPECT_EQ(f.FViewBitmap.pixel(5, 5), kGreen);
  EXPECT_EQ(desktop.desktopShotRequests, 1);
  EXPECT_TRUE(f.FWorkImage.empty());

  desktop.desktopShotPending(Shot::Taken, Solid(9, 8, kBlue));
  EXPECT_TRUE(f.isVisible());
  EXPECT_FALSE(f.FCapturing);
  EXPECT_EQ(f.FWorkImage, Solid(9, 8, kBlue));
}

TEST_F(DesktopCapture, AnAnswerAfterTheWindowClosed_IsDropped) {
  dragTo(kNowhere);
  ASSERT_TRUE(desktop.desktopShotPending);
  form.reset();
  desktop.desktopShotPending(Shot::Taken, Solid(9, 8, kBlue));
}

struct NoRequestCase {
  const char* name;
  bool windowsBeyondX;
  Point release;
  int width;  // of the picture after the release
};

class NoDesktopRequest : public DesktopCapture,
                         public ::testing::WithParamInterface<NoRequestCase> {};

TEST_P(NoDesktopRequest, TheCaptureIsXs) {
  desktop.windowsBeyondX = GetParam().windowsBeyondX;
  dragTo(GetParam().release);
  EXPECT_EQ(desktop.desktopShotRequests, 0);
  EXPECT_FALSE(form->FCapturing);
  EXPECT_EQ(form->FWorkImage.width(), GetParam().width);
  EXPECT_EQ(form->StatusBar1->text(),
            QString::fromUtf8("画像サイズ: %1 \u00d7  30 ").arg(GetParam().width, 4));
}

INSTANTIATE_TEST_SUITE_P(DesktopCapture, NoDesktopRequest,
                         ::testing::Values(
                             // A plain X desktop: over nothing, the last preview as ever.
                             NoRequestCase{"PlainXOverNothing", false, kNowhere, 40},
                             // An X window under the pointer is X's to capture, on any desktop.
                             NoRequestCase{"XWindowInAWaylandSession", true, Point{7, 7}, 40}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace lumivore
