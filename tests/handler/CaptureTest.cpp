#include <QAction>
#include <QApplication>
#include <QLineEdit>
#include <QScrollBar>
#include <QTest>
#include <QToolButton>
#include <algorithm>

#include "tests/handler/FormFixture.h"

namespace lumivore {
namespace {

constexpr Rgb kRed = MakeRgb(255, 0, 0);
constexpr Rgb kGreen = MakeRgb(0, 200, 0);

class Capture : public FormFixture {
 protected:
  // A window on the scripted desktop, painted in one colour.
  WindowId addWindow(const char* cls, const char* title, Rect r, Rgb colour) {
    desktop.fillScreen(r, colour);
    return desktop.addWindow(cls, title, r);
  }
  Rect mainWindowRect() const {
    const QRect g = form->frameGeometry();
    return Rect{g.left(), g.top(), g.right() + 1, g.bottom() + 1};
  }
  void press(Qt::MouseButton b = Qt::LeftButton) {
    form->CapToolImgMouseDown(b, Qt::NoModifier, QPoint(10, 10));
  }
  void release(Qt::MouseButton b = Qt::LeftButton, Qt::KeyboardModifiers m = Qt::NoModifier) {
    form->CapToolImgMouseUp(b, m, QPoint(10, 10));
  }
  // Press on the wand, move to `p`, one tick, release.
  void captureAt(Point p, Qt::KeyboardModifiers m = Qt::NoModifier) {
    press();
    desktop.pointer = p;
    form->Timer1Timer();
    release(Qt::LeftButton, m);
  }
  bool hidTheWindow() const { return desktop.syncs > 0; }
};

TEST_F(Capture, Release_GrabsTheTargetIntoTheWorkingImage) {
  start();
  addWindow("XTerm", "shell", Rect{100, 100, 400, 300}, kGreen);
  desktop.fillScreen(Rect{100, 100, 110, 110}, kRed);
  captureAt(Point{200, 200});
  TLumivoreForm& f = *form;
  ASSERT_EQ(f.FWorkImage.width(), 300);
  ASSERT_EQ(f.FWorkImage.height(), 200);
  EXPECT_EQ(f.FWorkImage.format(), PixelFormat::Bgr24);
  EXPECT_EQ(f.FWorkImage.pixel(0, 0), kRed);
  EXPECT_EQ(f.FWorkImage.pixel(10, 10), kGreen);
  EXPECT_EQ(f.ClsNamEdit->text(), "XTerm");
  EXPECT_EQ(f.WndTxtEdit->text(), "shell");
  EXPECT_EQ(f.StatusBar1->text(), QString::fromUtf8("画像サイズ:  300 \u00d7 200 "));
  EXPECT_FALSE(f.FCapturing);
  EXPECT_EQ(f.CapToolImg->pixmap().toImage(), f.MrkImageList[1].toImage());
  // The copy and save buttons light up on the next tick.
  EXPECT_FALSE(f.CopyBtn->isEnabled());
  f.Timer1Timer();
  EXPECT_TRUE(f.CopyBtn->isEnabled());
  EXPECT_TRUE(f.SaveBtn->isEnabled());
}

TEST_F(Capture, Release_PutsThePointerBesideTheToolBar) {
  start();
  addWindow("XTerm", "shell", Rect{100, 100, 400, 300}, kGreen);
  captureAt(Point{200, 200});
  const QPoint expected = form->ToolPanel->mapToGlobal(QPoint(103 + 16, 21));
  EXPECT_EQ(form->ToolBar1->width(), 103);
  EXPECT_EQ(desktop.pointer, (Point{expected.x(), expected.y()}));
}

struct HideCase {
  const char* name;
  // Where the target lies relative to the main window.
  enum Place { Elsewhere, PartlyUnder, Inside, WholeWindow } place;
  bool hides;
};

class HideDecision : public Capture, public ::testing::WithParamInterface<HideCase> {};

TEST_P(HideDecision, HidesUnlessTheTargetLiesWhollyInsideTheMainWindow) {
  start();
  const Rect m = mainWindowRect();
  Rect target;
  switch (GetParam().place) {
    case HideCase::Elsewhere:
      target = Rect{0, 0, 100, 100};
      break;
    case HideCase::PartlyUnder:
      target = Rect{m.left - 50, m.top + 10, m.left + 50, m.top + 60};
      break;
    case HideCase::Inside:
      target = Rect{m.left + 5, m.top + 30, m.left + 60, m.top + 50};
      break;
    case HideCase::WholeWindow:
      target = m;
      break;
  }
  form->FHideWait = 250;
  addWindow("Target", "t", target, kGreen);
  captureAt(Point{target.left + 2, target.top + 2});
  EXPECT_EQ(hidTheWindow(), GetParam().hides);
  EXPECT_EQ(std::count(desktop.sleeps.begin(), desktop.sleeps.end(), 250),
            GetParam().hides ? 1 : 0);
  EXPECT_TRUE(form->isVisible());
  EXPECT_EQ(form->FWorkImage.width(), target.width());
}

INSTANTIATE_TEST_SUITE_P(Capture, HideDecision,
                         ::testing::Values(HideCase{"Elsewhere", HideCase::Elsewhere, true},
                                           HideCase{"PartlyUnder", HideCase::PartlyUnder, true},
                                           HideCase{"Inside", HideCase::Inside, false},
                                           HideCase{"TitleBar", HideCase::WholeWindow, false}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(Capture, CtrlRelease_WaitsCaptureWaitAndTakesTheWindowUnderThePointerThen) {
  struct Case {
    int captureWait;
    Qt::KeyboardModifiers mods;
    bool waits;
  };
  for (const Case& c : {Case{3000, Qt::ControlModifier, true}, Case{0, Qt::ControlModifier, false},
                        Case{-5, Qt::ControlModifier, false}, Case{3000, Qt::NoModifier, false}}) {
    desktop = ScriptedDesktop();
    start();
    addWindow("First", "a", Rect{0, 0, 100, 100}, kGreen);
    form->FCaptureWait = c.captureWait;
    captureAt(Point{50, 50}, c.mods);
    EXPECT_EQ(std::count(desktop.sleeps.begin(), desktop.sleeps.end(), 3000), c.waits ? 1 : 0)
        << c.captureWait;
    EXPECT_EQ(form->ClsNamEdit->text(), "First");
    form.reset();
  }
}

TEST_F(Capture, CtrlRelease_DuringTheDelay_ThePointerIsTheUsersAndTheStopwatchShows) {
  for (Qt::MouseButton button : {Qt::LeftButton, Qt::RightButton}) {
    SCOPED_TRACE(button == Qt::LeftButton ? "left" : "right");
    desktop = ScriptedDesktop();
    start();
    addWindow("Target", "t", Rect{0, 0, 100, 100}, kGreen);
    form->FCaptureWait = 3000;
    press();
    desktop.pointer = Point{50, 50};
    form->Timer1Timer();
    ASSERT_EQ(QWidget::mouseGrabber(), form->CapToolImg);
    ASSERT_NE(QApplication::overrideCursor(), nullptr);
    int waits = 0;
    desktop.whileSleeping = [&](int ms) {
      if (ms != 3000) return;
      ++waits;
      // No grab and no wand: clicks, menus and tooltips reach the target.
      EXPECT_EQ(QWidget::mouseGrabber(), nullptr);
      EXPECT_EQ(QApplication::overrideCursor(), nullptr);
      EXPECT_GT(desktop.syncs, 0) << "the ungrab may still wait in the output buffer";
      EXPECT_EQ(form->CapToolImg->pixmap().toImage(), form->MrkImageList[2].toImage());
    };
    release(button, Qt::ControlModifier);
    EXPECT_EQ(waits, 1);
    desktop.whileSleeping = nullptr;
    if (button == Qt::RightButton) {
      // Capture mode goes on, and the left release is still reported here.
      EXPECT_TRUE(form->FCapturing);
      EXPECT_EQ(QWidget::mouseGrabber(), form->CapToolImg);
      EXPECT_NE(QApplication::overrideCursor(), nullptr);
      release();
    }
    EXPECT_FALSE(form->FCapturing);
    EXPECT_EQ(QWidget::mouseGrabber(), nullptr);
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    EXPECT_EQ(form->ClsNamEdit->text(), "Target");
    form.reset();
  }
}

TEST_F(Capture, RightButton_NeitherStartsNorEndsCapture) {
  start();
  press(Qt::RightButton);
  EXPECT_FALSE(form->FCapturing);
  press();
  ASSERT_TRUE(form->FCapturing);
  // A press while capturing is ignored; another button's release keeps capture on.
  press();
  release(Qt::RightButton);
  EXPECT_TRUE(form->FCapturing);
  release();
  EXPECT_FALSE(form->FCapturing);
}

TEST_F(Capture, GrabMemory_IsKeptWhileDraggingAndLetGoOnceThePictureIsTaken) {
  start();
  addWindow("A", "a", Rect{0, 0, 50, 40}, kGreen);
  addWindow("B", "b", Rect{60, 0, 90, 30}, kRed);
  press();
  for (Point p : {Point{5, 5}, Point{70, 5}, Point{6, 6}}) {
    desktop.pointer = p;
    form->Timer1Timer();
  }
  // Each new target was grabbed into the same memory; none was let go.
  EXPECT_EQ(desktop.screenLog,
            (std::vector<std::string>{"grab 50x40", "grab 30x30", "grab 50x40"}));
  release();
  ASSERT_FALSE(form->FWorkImage.empty());
  ASSERT_FALSE(desktop.screenLog.empty());
  EXPECT_EQ(desktop.screenLog.back(), "release");
  EXPECT_EQ(std::count(desktop.screenLog.begin(), desktop.screenLog.end(), "release"), 1);
}

TEST_F(Capture, Press_EmptiesThePictureButKeepsTheUndoHistory) {
  start();
  addWindow("A", "a", Rect{0, 0, 50, 40}, kGreen);
  captureAt(Point{5, 5});
  form->PushUndo();
  press();
  EXPECT_TRUE(form->FWorkImage.empty());
  EXPECT_EQ(form->FUndoList.size(), 1);
  EXPECT_EQ(form->StatusBar1->text(), "");
  EXPECT_EQ(form->CapToolImg->pixmap().toImage(), form->MrkImageList[0].toImage());
}

TEST_F(Capture, Tick_PreviewsEachNewTargetAndPlaysTheChangeSoundOncePerChange) {
  start();
  addWindow("A", "first", Rect{0, 0, 100, 100}, kGreen);
  addWindow("B", "second", Rect{200, 0, 300, 50}, kRed);
  form->FChgSound = "/snd/change.wav";
  press();
  for (Point p : {Point{10, 10}, Point{20, 20}, Point{250, 10}, Point{260, 20}, Point{10, 10}}) {
    desktop.pointer = p;
    form->Timer1Timer();
  }
  EXPECT_EQ(desktop.soundsPlayed.size(), 3u);
  EXPECT_EQ(form->ClsNamEdit->text(), "A");
  EXPECT_EQ(form->FViewBitmap.width(), 100);
  EXPECT_EQ(form->FViewBitmap.pixel(5, 5), kGreen);
}

TEST_F(Capture, PixelColourTexts_ForPureRed) {
  struct Case {
    int format;
    const char* text;
  };
  start();
  desktop.fillScreen(Rect{0, 0, 10, 10}, kRed);
  press();
  desktop.pointer = Point{5, 5};
  for (const Case& c :
       {Case{1, "255,  0,  0"}, Case{2, "0x000000ff"}, Case{3, "#ff0000"}, Case{4, ""}}) {
    form->FColValFmt = c.format;
    form->Timer1Timer();
    EXPECT_EQ(form->ColValEdit->text(), c.text) << c.format;
    EXPECT_EQ(form->ColPanel->palette().color(QPalette::Window), QColor(255, 0, 0));
  }
  EXPECT_EQ(TLumivoreForm::ColourText(1, 0x00ff8000), "  0,128,255");
  EXPECT_EQ(TLumivoreForm::ColourText(2, 0x00ff8000), "0x00ff8000");
  EXPECT_EQ(TLumivoreForm::ColourText(3, 0x00ff8000), "#0080ff");
}

TEST_F(Capture, ShapedWindow_OutsideItsShapeIsTheBackgroundColour) {
  start();
  form->FImgBgColor = 0x00ff0000;  // blue
  const Rect r{10, 10, 60, 40};
  const WindowId w = addWindow("XEyes", "xeyes", r, kGreen);
  // Every pixel of the window has its own colour, so a shifted copy shows.
  for (int y = r.top; y < r.bottom; ++y)
    for (int x = r.left; x < r.right; ++x)
      desktop.fillScreen(Rect{x, y, x + 1, y + 1}, MakeRgb(x, y, 99));
  const std::vector<Rect> shape{{10, 0, 40, 30}, {0, 10, 50, 20}};
  desktop.window(w)->shape = shape;
  form->GrabWindowImage(w);
  const Bitmap& v = form->FViewBitmap;
  ASSERT_EQ(v.width(), 50);
  ASSERT_EQ(v.height(), 30);
  for (int y = 0; y < 30; ++y) {
    for (int x = 0; x < 50; ++x) {
      const bool inside = std::any_of(shape.begin(), shape.end(), [&](const Rect& s) {
        return s.contains({x, y});
      });
      ASSERT_EQ(v.pixel(x, y), inside ? MakeRgb(r.left + x, r.top + y, 99) : MakeRgb(0, 0, 255))
          << x << "," << y;
    }
  }
}

TEST_F(Capture, Grab_CutsToTheScreenOnOneMonitorOnly) {
  start();
  const WindowId w = addWindow("Big", "b", Rect{-100, -50, 300, 200}, kGreen);
  form->GrabWindowImage(w);
  EXPECT_EQ(form->FViewBitmap.width(), 300);
  EXPECT_EQ(form->FViewBitmap.height(), 200);
  desktop.setMonitors({Rect{0, 0, 1920, 1080}, Rect{-1280, 0, 0, 1024}});
  form->GrabWindowImage(w);
  EXPECT_EQ(form->FViewBitmap.width(), 400);
  EXPECT_EQ(form->FViewBitmap.height(), 250);
}

TEST_F(Capture, Grab_CutsLongClassNamesAndTextsTo254Characters) {
  start();
  const std::string longText(300, 'x');
  const WindowId w = desktop.addWindow(longText, longText, Rect{0, 0, 5, 5});
  form->GrabWindowImage(w);
  EXPECT_EQ(form->ClsNamEdit->text().size(), 254);
  EXPECT_EQ(form->WndTxtEdit->text().size(), 254);
}

TEST_F(Capture, Grab_WindowWithoutAreaOrGone_ShowsOnlyItsNameOnBackground) {
  start();
  const WindowId big = addWindow("Big", "b", Rect{0, 0, 30, 20}, kGreen);
  form->GrabWindowImage(big);
  const QString status = form->StatusBar1->text();
  // Minimised: far outside the screen, so nothing of it is left after the cut.
  const WindowId away = desktop.addWindow("Away", "gone", Rect{-32000, -32000, -31800, -31900});
  form->GrabWindowImage(away);
  EXPECT_EQ(form->ClsNamEdit->text(), "Away");
  EXPECT_EQ(form->FViewBitmap.width(), 30);
  EXPECT_EQ(form->FViewBitmap.pixel(3, 3), MakeRgb(0, 0, 0));
  EXPECT_EQ(form->StatusBar1->text(), status);
  // A window that vanished between the lookup and the grab: empty rows and
  // the view cleared, as for a window without area.
  form->GrabWindowImage(big);
  ASSERT_EQ(form->FViewBitmap.pixel(3, 3), kGreen);
  desktop.removeWindow(big);
  form->GrabWindowImage(big);
  EXPECT_EQ(form->FViewBitmap.width(), 30);
  EXPECT_EQ(form->FViewBitmap.pixel(3, 3), MakeRgb(0, 0, 0));
  EXPECT_EQ(form->ClsNamEdit->text(), "");
  EXPECT_EQ(form->WndTxtEdit->text(), "");
  EXPECT_EQ(form->StatusBar1->text(), status);
  // No window at all changes nothing.
  form->GrabWindowImage(away);
  form->GrabWindowImage(0);
  EXPECT_EQ(form->ClsNamEdit->text(), "Away");
  EXPECT_EQ(form->FViewBitmap.width(), 30);
}

// ---------------------------------------------------------------------------

using WorkingImage = FormFixture;

Bitmap Solid(int w, int h, Rgb c) {
  Bitmap b;
  b.allocate(w, h, PixelFormat::Bgr24);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) b.setPixel(x, y, c);
  return b;
}

TEST_F(WorkingImage, TwentyOneEditsThenTwentyUndos_RestoreTheStateAfterTheFirstEdit) {
  TLumivoreForm& f = start();
  f.FWorkImage = Solid(1, 1, 0);
  for (int i = 1; i <= 21; ++i) {
    f.PushUndo();
    f.FWorkImage = Solid(i, 1, MakeRgb(i, 0, 0));
    f.ShowWorkingImage();
  }
  EXPECT_EQ(f.FUndoList.size(), 20);
  f.UpdateActions();
  for (int i = 0; i < 20; ++i) {
    ASSERT_TRUE(f.UndoAction->isEnabled()) << i;
    f.UndoAction->trigger();
  }
  EXPECT_EQ(f.FWorkImage, Solid(1, 1, MakeRgb(1, 0, 0)));
  EXPECT_EQ(f.FViewBitmap.pixel(0, 0), MakeRgb(1, 0, 0));
  EXPECT_FALSE(f.UndoAction->isEnabled());
}

TEST_F(WorkingImage, CtrlZ_UndoesTheLastEdit) {
  TLumivoreForm& f = start();
  f.FWorkImage = Solid(4, 4, kRed);
  f.PushUndo();
  f.FWorkImage = Solid(8, 8, kGreen);
  f.ShowWorkingImage();
  f.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&f));
  QTest::keyClick(f.windowHandle(), Qt::Key_Z, Qt::ControlModifier);
  EXPECT_EQ(f.FWorkImage, Solid(4, 4, kRed));
}

TEST_F(WorkingImage, UndoAfterACapture_BringsBackTheNewestSnapshot) {
  TLumivoreForm& f = start();
  f.FWorkImage = Solid(4, 4, kRed);
  f.PushUndo();
  f.FWorkImage = Solid(5, 5, kRed);
  desktop.fillScreen(Rect{0, 0, 20, 20}, kGreen);
  desktop.addWindow("W", "w", Rect{0, 0, 20, 20});
  f.CapToolImgMouseDown(Qt::LeftButton, {}, {});
  desktop.pointer = Point{3, 3};
  f.Timer1Timer();
  f.CapToolImgMouseUp(Qt::LeftButton, {}, {});
  ASSERT_EQ(f.FWorkImage.width(), 20);
  f.UndoActionExecute(f.UndoAction);
  EXPECT_EQ(f.FWorkImage, Solid(4, 4, kRed));
}

TEST_F(WorkingImage, StatusLine_TellsSizeFormatAndSelection) {
  struct Case {
    PixelFormat format;
    const char* suffix;
  };
  TLumivoreForm& f = start();
  EXPECT_EQ(f.StatusBar1->text(), "");
  for (const Case& c :
       {Case{PixelFormat::Bgr24, ""}, Case{PixelFormat::Indexed1, "(モノクロ)"},
        Case{PixelFormat::Indexed4, "(16色)"}, Case{PixelFormat::Indexed8, "(256色)"}}) {
    f.FWorkImage.allocate(1234, 56, c.format);
    f.UpdateStatus();
    EXPECT_EQ(f.StatusBar1->text(),
              QString::fromUtf8("画像サイズ: 1234 \u00d7  56 ") + QString::fromUtf8(c.suffix));
  }
  f.FSelRect = Rect{10, 20, 110, 70};
  f.PlaceSelShape();
  EXPECT_EQ(f.StatusBar1->text(),
            QString::fromUtf8("選択中 (  10,  20- 110,  70) : (100\u00d7 50)"));
  f.FSelMoving = true;
  f.UpdateStatus();
  EXPECT_TRUE(f.StatusBar1->text().startsWith(QString::fromUtf8("移動中 (")));
}

TEST_F(WorkingImage, SelectionFrame_FollowsTheScrollPosition) {
  TLumivoreForm& f = start();
  f.FWorkImage = Solid(2000, 1500, kGreen);
  f.ShowWorkingImage();
  f.ScrollBox1->horizontalScrollBar()->setValue(300);
  f.ScrollBox1->verticalScrollBar()->setValue(200);
  f.FSelRect = Rect{310, 220, 400, 300};
  f.PlaceSelShape();
  EXPECT_EQ(f.SelShape->geometry(), QRect(10, 20, 90, 80));
  EXPECT_TRUE(f.SelShape->isVisibleTo(&f));
  f.FSelRect = Rect{5, 5, 5, 9};
  f.PlaceSelShape();
  EXPECT_FALSE(f.SelShape->isVisibleTo(&f));
}

struct EnableCase {
  PixelFormat format;
  bool resize, reduce2, reduce16, reduce256, gray, sepia, undo;
};

TEST_F(WorkingImage, EditingActions_FollowTheEnablingTable) {
  using enum PixelFormat;
  TLumivoreForm& f = start();
  for (const EnableCase& c :
       {EnableCase{None, false, true, true, true, true, true, false},
        EnableCase{Bgr24, true, true, true, true, true, true, true},
        EnableCase{Indexed8, true, true, true, false, false, false, true},
        EnableCase{Indexed4, true, true, false, false, false, false, true},
        EnableCase{Indexed1, true, false, false, false, false, false, true}}) {
    if (c.format == None) {
      f.FWorkImage.clear();
      f.FUndoList.clear();
    } else {
      f.FWorkImage.allocate(3, 3, c.format);
      f.FUndoList.clear();
      f.FUndoList.push(f.FWorkImage);
    }
    for (QAction* a : f.ActionList1) a->setEnabled(!a->isEnabled());
    for (QAction* a : {f.Resize25Action, f.Resize50Action, f.Resize75Action, f.Resize150Action,
                       f.Resize200Action})
      f.ResizeActionUpdate(a);
    for (QAction* a : {f.Reduce2Action, f.Reduce16Action, f.Reduce256Action, f.GrayAction})
      f.ReduceActionUpdate(a);
    f.SepiaActionUpdate(f.SepiaAction);
    f.NegColActionUpdate(f.NegColAction);
    f.RotateActionUpdate(f.RotateRAction);
    f.ReverseActionUpdate(f.ReverseULAction);
    f.MosicIActionUpdate(f.MosicI12Action);
    f.UndoActionUpdate(f.UndoAction);
    const int bits = BitsPerPixel(c.format);
    for (QAction* a : {f.Resize25Action, f.Resize200Action, f.NegColAction, f.RotateRAction,
                       f.ReverseULAction, f.MosicI12Action})
      EXPECT_EQ(a->isEnabled(), c.resize) << bits << a->objectName().toStdString();
    EXPECT_EQ(f.Reduce2Action->isEnabled(), c.reduce2) << bits;
    EXPECT_EQ(f.Reduce16Action->isEnabled(), c.reduce16) << bits;
    EXPECT_EQ(f.Reduce256Action->isEnabled(), c.reduce256) << bits;
    EXPECT_EQ(f.GrayAction->isEnabled(), c.gray) << bits;
    EXPECT_EQ(f.SepiaAction->isEnabled(), c.sepia) << bits;
    EXPECT_EQ(f.UndoAction->isEnabled(), c.undo) << bits;
  }
  // A sender that is not an action is left alone; so is an unknown Tag.
  f.ResizeActionUpdate(f.StatusBar1);
  QAction other;
  other.setData(99);
  other.setEnabled(false);
  f.ReduceActionUpdate(&other);
  EXPECT_FALSE(other.isEnabled());
}

TEST_F(WorkingImage, TrimAction_IsEnabledOnlyWithAVisibleNonEmptySelection) {
  TLumivoreForm& f = start();
  f.FWorkImage = Solid(50, 50, kGreen);
  f.FSelRect = Rect{1, 1, 10, 10};
  f.PlaceSelShape();
  f.TrimActionUpdate(f.TrimAction);
  EXPECT_TRUE(f.TrimAction->isEnabled());
  f.SelShape->hide();
  f.TrimActionUpdate(f.TrimAction);
  EXPECT_FALSE(f.TrimAction->isEnabled());
}

}  // namespace
}  // namespace lumivore
