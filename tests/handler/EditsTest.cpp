// The editing commands on the real main window: sepia, negative, mosaic,
// resize, colour reduction, rotation and mirroring, each undoable.
#include <QAction>
#include <QMenu>
#include <QPaintEvent>
#include <QToolButton>
#include <functional>
#include <set>

#include "imaging/Filters.h"
#include "tests/handler/PictureFixture.h"

namespace lumivore {
namespace {

class Edits : public PictureFixture {
 protected:
  TLumivoreForm& withColours(int width, int height, std::initializer_list<Rgb> columns) {
    TLumivoreForm& f = withPicture(width, height);
    const std::vector<Rgb> colours(columns);
    for (int y = 0; y < height; ++y)
      for (int x = 0; x < width; ++x)
        f.FWorkImage.setPixel(x, y, colours[x * colours.size() / width]);
    f.ShowWorkingImage();
    return f;
  }
  // Makes the working image a 16-colour picture of itself.
  void toSixteenColours() {
    ASSERT_TRUE(ReduceTo16Colours(form->FWorkImage, form->FWorkImage));
    form->ShowWorkingImage();
  }
  // The view must always show the working image's pixels.
  void expectViewShowsWorkingImage() {
    const Bitmap& w = form->FWorkImage;
    const Bitmap& v = form->FViewBitmap;
    ASSERT_EQ(v.width(), w.width());
    ASSERT_EQ(v.height(), w.height());
    for (int y = 0; y < w.height(); ++y)
      for (int x = 0; x < w.width(); ++x)
        ASSERT_EQ(v.pixel(x, y), w.pixel(x, y)) << "view differs at " << x << "," << y;
  }
  std::set<Rgb> colours() const {
    std::set<Rgb> out;
    const Bitmap& b = form->FWorkImage;
    for (int y = 0; y < b.height(); ++y)
      for (int x = 0; x < b.width(); ++x) out.insert(b.pixel(x, y));
    return out;
  }
  QString sizeText(int w, int h) const {
    return QString::fromUtf8("画像サイズ: ") + QString::asprintf("%4d ", w) + QChar(0x00D7) +
           QString::asprintf("%4d ", h);
  }
};

// Records what the status line showed each time it was painted, and the
// application cursor at that moment.
class PaintSpy : public QObject {
 public:
  explicit PaintSpy(QWidget* w) : widget_(w) { w->installEventFilter(this); }
  bool eventFilter(QObject* o, QEvent* e) override {
    if (o == widget_ && e->type() == QEvent::Paint) {
      texts.push_back(static_cast<QLabel*>(widget_)->text());
      const QCursor* c = QApplication::overrideCursor();
      cursors.push_back(c ? c->shape() : Qt::ArrowCursor);
    }
    return false;
  }
  std::vector<QString> texts;
  std::vector<Qt::CursorShape> cursors;

 private:
  QWidget* widget_;
};

TEST_F(Edits, Sepia_TonesTheWholePictureAndUndoBringsItBack) {
  TLumivoreForm& f =
      withColours(30, 4, {MakeRgb(0, 0, 0), MakeRgb(255, 255, 255), MakeRgb(128, 128, 128)});
  // A selection does not limit sepia.
  f.FSelRect = Rect{0, 0, 5, 2};
  f.PlaceSelShape();
  const Bitmap before = f.FWorkImage;
  f.SepiaAction->trigger();
  EXPECT_EQ(f.FWorkImage.format(), PixelFormat::Bgr24);
  EXPECT_EQ(f.FWorkImage.pixel(2, 3), MakeRgb(22, 13, 0));
  EXPECT_EQ(f.FWorkImage.pixel(15, 0), MakeRgb(255, 255, 220));
  EXPECT_EQ(f.FWorkImage.pixel(29, 3), MakeRgb(150, 141, 93));
  expectViewShowsWorkingImage();
  EXPECT_EQ(f.FUndoList.size(), 1);
  f.UndoAction->trigger();
  EXPECT_EQ(f.FWorkImage, before);
  expectViewShowsWorkingImage();
}

TEST_F(Edits, LongEdits_PaintTheirProgressTextBeforeTheWork) {
  struct Case {
    QAction* TLumivoreForm::*action;
    const char* text;
    Qt::CursorShape cursor;
  };
  const Case cases[] = {
      {&TLumivoreForm::SepiaAction, "セピア処理中...", Qt::ArrowCursor},
      {&TLumivoreForm::NegColAction, "ネガポジ反転中...", Qt::ArrowCursor},
      {&TLumivoreForm::MosicI4Action, "モザイク処理中...", Qt::WaitCursor},
      {&TLumivoreForm::Reduce16Action, "減色処理中...", Qt::ArrowCursor},
      {&TLumivoreForm::GrayAction, "減色処理中...", Qt::ArrowCursor},
      {&TLumivoreForm::RotateRAction, "回転処理中...", Qt::ArrowCursor},
  };
  TLumivoreForm& f = withPicture(64, 48);
  for (const Case& c : cases) {
    PaintSpy spy(f.StatusBar1);
    (f.*c.action)->trigger();
    const QString text = QString::fromUtf8(c.text);
    const auto painted = std::find(spy.texts.begin(), spy.texts.end(), text);
    ASSERT_NE(painted, spy.texts.end()) << c.text << " was never painted";
    EXPECT_EQ(spy.cursors[painted - spy.texts.begin()], c.cursor) << c.text;
    // The final text replaces it, and the hourglass is gone.
    EXPECT_NE(status(), text);
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    f.UndoAction->trigger();
  }
}

TEST_F(Edits, Negative_TwiceGivesThePixelsBackWithTwoSnapshots) {
  TLumivoreForm& f = withPicture(40, 30);
  const Bitmap before = f.FWorkImage;
  f.NegColAction->trigger();
  EXPECT_EQ(f.FWorkImage.pixel(3, 7), ~PatternAt(3, 7) & 0xFFFFFFu);
  expectViewShowsWorkingImage();
  EXPECT_EQ(status(), sizeText(40, 30));
  f.NegColAction->trigger();
  EXPECT_EQ(f.FUndoList.size(), 2);
  for (int y = 0; y < 30; ++y)
    for (int x = 0; x < 40; ++x) ASSERT_EQ(f.FWorkImage.pixel(x, y), before.pixel(x, y));
}

TEST_F(Edits, Negative_OfASixteenColourPictureKeepsItsPalette) {
  TLumivoreForm& f = withColours(20, 10, {MakeRgb(255, 0, 0), MakeRgb(0, 0, 128)});
  toSixteenColours();
  f.NegColAction->trigger();
  EXPECT_EQ(f.FWorkImage.format(), PixelFormat::Indexed4);
  EXPECT_TRUE(status().endsWith(QString::fromUtf8("(16色)")));
  EXPECT_EQ(f.FWorkImage.pixel(0, 0), MakeRgb(0, 255, 255));
  // (255, 255, 127) is not in the palette: silver is the nearest entry
  // (squared distances: silver 12163, yellow 16129, white 16384).
  EXPECT_EQ(f.FWorkImage.pixel(19, 9), MakeRgb(192, 192, 192));
  expectViewShowsWorkingImage();
}

TEST_F(Edits, Mosaic_OnTheSelectionChangesOnlyItsBlocks) {
  TLumivoreForm& f = withPicture(20, 20);
  const Bitmap before = f.FWorkImage;
  f.FSelRect = Rect{5, 5, 15, 15};
  f.PlaceSelShape();
  f.MosicI8Action->trigger();
  const auto average = [&](int l, int t, int r, int b) {
    unsigned sr = 0, sg = 0, sb = 0, n = 0;
    for (int y = t; y < b; ++y)
      for (int x = l; x < r; ++x, ++n) {
        const Rgb c = before.pixel(x, y);
        sr += RedOf(c), sg += GreenOf(c), sb += BlueOf(c);
      }
    return MakeRgb(sr / n, sg / n, sb / n);
  };
  const struct {
    int l, t, r, b;
  } blocks[] = {{5, 5, 13, 13}, {13, 5, 15, 13}, {5, 13, 13, 15}, {13, 13, 15, 15}};
  for (int y = 0; y < 20; ++y) {
    for (int x = 0; x < 20; ++x) {
      Rgb expected = before.pixel(x, y);
      for (const auto& k : blocks)
        if (x >= k.l && x < k.r && y >= k.t && y < k.b) expected = average(k.l, k.t, k.r, k.b);
      ASSERT_EQ(f.FWorkImage.pixel(x, y), expected) << x << "," << y;
    }
  }
  expectViewShowsWorkingImage();
  // The selection stays where it was.
  EXPECT_TRUE(f.SelShape->isVisible());
  EXPECT_EQ(f.FSelRect, (Rect{5, 5, 15, 15}));
}

TEST_F(Edits, Mosaic_TakesTheBlockSizeFromTheActionNotTheEntry) {
  TLumivoreForm& f = withPicture(10, 10);
  // The size-16 entry carries no Tag of its own; its action says 16.
  f.Mosic16Item->trigger();
  EXPECT_EQ(colours().size(), 1u);
  EXPECT_EQ(f.FUndoList.size(), 1);
}

struct ResizeCase {
  int width, height, tag, newWidth, newHeight;
};

TEST_F(Edits, Resize_SizesByTagWithTruncationAndClearsTheSelection) {
  const ResizeCase cases[] = {
      {101, 50, 75, 75, 37}, {101, 51, 150, 151, 76}, {101, 51, 50, 50, 25},
      {10, 6, 200, 20, 12},  {9, 7, 25, 2, 1},        {3, 3, 25, 3, 3},
  };
  for (const ResizeCase& c : cases) {
    for (int mode : {0, 1, 2, 3}) {
      TLumivoreForm& f = withPicture(c.width, c.height);
      f.FScaleOpt = mode;
      f.FSelRect = Rect{1, 1, 2, 2};
      f.PlaceSelShape();
      QAction* action = nullptr;
      for (QAction* a : {f.Resize25Action, f.Resize50Action, f.Resize75Action, f.Resize150Action,
                         f.Resize200Action})
        if (a->data().toInt() == c.tag) action = a;
      ASSERT_NE(action, nullptr);
      action->trigger();
      EXPECT_EQ(f.FWorkImage.width(), c.newWidth) << c.width << "x" << c.height << " " << c.tag;
      EXPECT_EQ(f.FWorkImage.height(), c.newHeight) << c.width << "x" << c.height << " " << c.tag;
      // A snapshot even when the picture could not change.
      EXPECT_EQ(f.FUndoList.size(), 1);
      EXPECT_EQ(f.FSelRect, Rect{});
      EXPECT_FALSE(f.SelShape->isVisible());
      EXPECT_EQ(status(), sizeText(c.newWidth, c.newHeight));
      expectViewShowsWorkingImage();
    }
  }
}

struct ReduceCase {
  QAction* TLumivoreForm::*action;
  PixelFormat format;
  const char* suffix;
  // Enabled afterwards: Reduce2, Reduce16, Reduce256, Gray, Sepia.
  bool enabled[5];
};

TEST_F(Edits, Reduce_SetsTheFormatTheSuffixAndTheEnablingRules) {
  const ReduceCase cases[] = {
      {&TLumivoreForm::Reduce2Action,
       PixelFormat::Indexed1,
       "(モノクロ)",
       {false, false, false, false, false}},
      {&TLumivoreForm::Reduce16Action,
       PixelFormat::Indexed4,
       "(16色)",
       {true, false, false, false, false}},
      {&TLumivoreForm::Reduce256Action,
       PixelFormat::Indexed8,
       "(256色)",
       {true, true, false, false, false}},
      {&TLumivoreForm::GrayAction, PixelFormat::Bgr24, "", {true, true, true, true, true}},
  };
  for (const ReduceCase& c : cases) {
    TLumivoreForm& f = withPicture(120, 90);
    (f.*c.action)->trigger();
    EXPECT_EQ(f.FWorkImage.format(), c.format);
    EXPECT_EQ(status(), sizeText(120, 90) + QString::fromUtf8(c.suffix));
    f.UpdateActions();
    const QAction* actions[] = {f.Reduce2Action, f.Reduce16Action, f.Reduce256Action, f.GrayAction,
                                f.SepiaAction};
    for (int i = 0; i < 5; ++i)
      EXPECT_EQ(actions[i]->isEnabled(), c.enabled[i]) << c.suffix << " action " << i;
    expectViewShowsWorkingImage();
  }
}

TEST_F(Edits, Reduce_UsesOnlyItsPaletteAndAtMost236ColoursFor256) {
  TLumivoreForm& f = withPicture(200, 120);
  // Bright and dark bands over the pattern, so both mono colours occur.
  for (int y = 0; y < 120; y += 2)
    for (int x = 0; x < 200; ++x) f.FWorkImage.setPixel(x, y, PatternAt(x, y) | 0xC0C0C0);
  f.ShowWorkingImage();
  f.Reduce2Action->trigger();
  EXPECT_EQ(colours(), (std::set<Rgb>{MakeRgb(0, 0, 0), MakeRgb(255, 255, 255)}));
  f.UndoAction->trigger();
  f.Reduce16Action->trigger();
  const std::vector<Rgb>& standard = StandardPalette16();
  for (Rgb c : colours())
    EXPECT_NE(std::find(standard.begin(), standard.end(), c), standard.end()) << std::hex << c;
  f.UndoAction->trigger();
  f.Reduce256Action->trigger();
  EXPECT_LE(colours().size(), 236u);
  EXPECT_GT(colours().size(), 16u);
  // Grey after 256 colours starts from the displayed pixels.
  const Bitmap shown = f.FViewBitmap;
  f.UndoAction->trigger();
  f.FWorkImage = shown;
  f.ShowWorkingImage();
  f.GrayAction->trigger();
  for (int y = 0; y < 120; ++y)
    for (int x = 0; x < 200; ++x) {
      const Rgb c = f.FWorkImage.pixel(x, y);
      ASSERT_TRUE(RedOf(c) == GreenOf(c) && GreenOf(c) == BlueOf(c));
    }
}

TEST_F(Edits, Reduce_SixteenColoursOfA256ColourPictureStartsFromItsDisplayedPixels) {
  TLumivoreForm& f = withPicture(90, 60);
  f.Reduce256Action->trigger();
  Bitmap expected;
  ASSERT_TRUE(ReduceTo16Colours(f.FViewBitmap, expected));
  f.Reduce16Action->trigger();
  EXPECT_EQ(f.FWorkImage, expected);
}

TEST_F(Edits, Rotate_RightThenLeftGivesTheSamePixels) {
  TLumivoreForm& f = withPicture(200, 100);
  const Bitmap before = f.FWorkImage;
  f.RotateRAction->trigger();
  EXPECT_EQ(f.FWorkImage.width(), 100);
  EXPECT_EQ(f.FWorkImage.height(), 200);
  // The former left column, read bottom up, is the top row.
  EXPECT_EQ(f.FWorkImage.pixel(0, 0), PatternAt(0, 99));
  EXPECT_EQ(f.FWorkImage.pixel(99, 0), PatternAt(0, 0));
  expectViewShowsWorkingImage();
  f.RotateLAction->trigger();
  ASSERT_EQ(f.FWorkImage.width(), 200);
  for (int y = 0; y < 100; ++y)
    for (int x = 0; x < 200; ++x) ASSERT_EQ(f.FWorkImage.pixel(x, y), before.pixel(x, y));
  EXPECT_EQ(f.FUndoList.size(), 2);
}

TEST_F(Edits, Rotate_KeepsASixteenColourPictureSixteenColour) {
  TLumivoreForm& f = withColours(200, 100, {MakeRgb(255, 0, 0), MakeRgb(0, 128, 128)});
  toSixteenColours();
  f.RotateRAction->trigger();
  EXPECT_EQ(f.FWorkImage.format(), PixelFormat::Indexed4);
  EXPECT_EQ(f.FWorkImage.palette(), StandardPalette16());
  EXPECT_EQ(f.FWorkImage.width(), 100);
  EXPECT_EQ(f.FWorkImage.height(), 200);
  EXPECT_EQ(f.FWorkImage.pixel(0, 0), MakeRgb(255, 0, 0));
  EXPECT_EQ(f.FWorkImage.pixel(0, 199), MakeRgb(0, 128, 128));
  EXPECT_TRUE(status().endsWith(QString::fromUtf8("(16色)")));
  expectViewShowsWorkingImage();
}

TEST_F(Edits, Mirror_TwiceGivesTheSamePixelsAndDropsThePalette) {
  for (QAction* TLumivoreForm::*action :
       {&TLumivoreForm::ReverseLRAction, &TLumivoreForm::ReverseULAction}) {
    TLumivoreForm& f = withPicture(31, 17);
    const Bitmap before = f.FWorkImage;
    (f.*action)->trigger();
    const bool lr = action == &TLumivoreForm::ReverseLRAction;
    EXPECT_EQ(f.FWorkImage.pixel(0, 0), lr ? PatternAt(30, 0) : PatternAt(0, 16));
    expectViewShowsWorkingImage();
    (f.*action)->trigger();
    for (int y = 0; y < 17; ++y)
      for (int x = 0; x < 31; ++x) ASSERT_EQ(f.FWorkImage.pixel(x, y), before.pixel(x, y));
    toSixteenColours();
    (f.*action)->trigger();
    EXPECT_EQ(f.FWorkImage.format(), PixelFormat::Bgr24);
    EXPECT_EQ(status(), sizeText(31, 17));
  }
}

// A capture gives a 32-bit picture, a loaded file a 24-bit one: every edit
// gives the same pixels from either, and one undo brings the picture back
// exactly as it was, format and all.
TEST_F(Edits, EveryEdit_GivesTheSamePixelsFrom32And24BitAndUndoesExactly) {
  using F = TLumivoreForm;
  for (QAction* F::*action :
       {&F::SepiaAction, &F::NegColAction, &F::MosicI4Action, &F::Resize50Action, &F::Reduce2Action,
        &F::Reduce16Action, &F::Reduce256Action, &F::GrayAction, &F::RotateRAction,
        &F::RotateLAction, &F::ReverseLRAction, &F::ReverseULAction}) {
    std::vector<Bitmap> results;
    for (const bool captured : {false, true}) {
      TLumivoreForm& f = withPicture(37, 23);
      if (captured) {
        Bitmap wide;
        ASSERT_TRUE(wide.allocate(37, 23, PixelFormat::Bgrx32));
        for (int y = 0; y < 23; ++y)
          for (int x = 0; x < 37; ++x) wide.setPixel(x, y, f.FWorkImage.pixel(x, y));
        f.FWorkImage = wide;
        f.ShowWorkingImage();
      }
      // The mosaic works on the selection; the other edits ignore it.
      f.FSelRect = Rect{3, 2, 20, 15};
      f.PlaceSelShape();
      const Bitmap before = f.FWorkImage;
      (f.*action)->trigger();
      SCOPED_TRACE((f.*action)->text().toStdString() + (captured ? " (32-bit)" : " (24-bit)"));
      expectViewShowsWorkingImage();
      results.push_back(f.FWorkImage);
      ASSERT_EQ(f.FUndoList.size(), 1);
      f.UndoAction->trigger();
      EXPECT_TRUE(f.FWorkImage == before);
      expectViewShowsWorkingImage();
    }
    const Bitmap &a = results[0], &b = results[1];
    ASSERT_EQ(a.width(), b.width());
    ASSERT_EQ(a.height(), b.height());
    for (int y = 0; y < a.height(); ++y)
      for (int x = 0; x < a.width(); ++x)
        ASSERT_EQ(a.pixel(x, y), b.pixel(x, y))
            << ((*form).*action)->text().toStdString() << " at " << x << "," << y;
  }
}

TEST_F(Edits, EditsKeepTheSelectionExceptResize) {
  TLumivoreForm& f = withPicture(60, 60);
  for (QAction* a : {f.NegColAction, f.Reduce16Action, f.RotateRAction, f.ReverseLRAction,
                     f.SepiaAction, f.GrayAction}) {
    f.UndoAction->trigger();
    f.FSelRect = Rect{10, 10, 30, 20};
    f.PlaceSelShape();
    a->trigger();
    EXPECT_EQ(f.FSelRect, (Rect{10, 10, 30, 20})) << a->objectName().toStdString();
    EXPECT_TRUE(f.SelShape->isVisible()) << a->objectName().toStdString();
  }
}

// The menu is driven by its accelerator letters, as people do.
TEST_F(Edits, MenuMnemonics_ReachTheEditsFromTheKeyboard) {
  struct Case {
    std::vector<Qt::Key> keys;
    std::function<void(TLumivoreForm&, const Bitmap&)> check;
  };
  const Case cases[] = {
      {{Qt::Key_C, Qt::Key_N},
       [](TLumivoreForm& f, const Bitmap&) {
         EXPECT_EQ(f.FWorkImage.pixel(5, 6), ~PatternAt(5, 6) & 0xFFFFFFu);
       }},
      {{Qt::Key_I, Qt::Key_M, Qt::Key_8},
       [](TLumivoreForm& f, const Bitmap& before) {
         // One 8 x 8 block: every pixel holds the block's average.
         EXPECT_EQ(f.FWorkImage.pixel(0, 0), f.FWorkImage.pixel(7, 7));
         EXPECT_NE(f.FWorkImage.pixel(0, 0), before.pixel(0, 0));
       }},
      {{Qt::Key_I, Qt::Key_L},
       [](TLumivoreForm& f, const Bitmap&) {
         EXPECT_EQ(f.FWorkImage.width(), 24);
         EXPECT_EQ(f.FWorkImage.pixel(0, 0), PatternAt(39, 0));
       }},
      {{Qt::Key_C, Qt::Key_2},
       [](TLumivoreForm& f, const Bitmap&) {
         EXPECT_EQ(f.FWorkImage.format(), PixelFormat::Indexed1);
       }},
  };
  for (const Case& c : cases) {
    TLumivoreForm& f = withPicture(40, 24);
    const Bitmap before = f.FWorkImage;
    f.MenuBtn->click();
    for (Qt::Key key : c.keys) {
      QWidget* popup = QApplication::activePopupWidget();
      ASSERT_NE(popup, nullptr) << "no menu open for key " << key;
      QTest::keyClick(popup, key);
      QApplication::processEvents();
    }
    EXPECT_EQ(QApplication::activePopupWidget(), nullptr);
    EXPECT_EQ(f.FUndoList.size(), 1);
    c.check(f, before);
  }
}

}  // namespace
}  // namespace lumivore
