// The copy and save buttons of the real main window on the scripted desktop.
#include <QComboBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QLineEdit>
#include <QListView>
#include <QToolButton>

#include "imaging/Usr_wic.h"
#include "tests/handler/PictureFixture.h"

namespace lumivore {
namespace {

using Journal = std::vector<std::string>;

std::string Hex(WindowId w) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%x", w);
  return text;
}

class HandOff : public PictureFixture {
 protected:
  // The picture's pixels inside r, as a picture of r's size.
  static bool ShowsPattern(const Bitmap& b, const Rect& r) {
    if (b.width() != r.width() || b.height() != r.height()) return false;
    for (int y = 0; y < b.height(); ++y)
      for (int x = 0; x < b.width(); ++x)
        if (b.pixel(x, y) != PatternAt(r.left + x, r.top + y)) return false;
    return true;
  }
  void select(const Rect& r) {
    form->FSelRect = r;
    form->PlaceSelShape();
  }
  // Journal entries after the clipboard one.
  Journal afterCopy() const {
    Journal j = desktop.journal;
    auto it = std::find_if(j.begin(), j.end(),
                           [](const std::string& e) { return e.rfind("clipboard", 0) == 0; });
    return it == j.end() ? Journal{} : Journal(it + 1, j.end());
  }
};

// ---- copy --------------------------------------------------------------------------------

TEST_F(HandOff, Copy_WithShiftHeld_OnlyFillsTheClipboard) {
  TLumivoreForm& f = withPicture(64, 48);
  desktop.addWindow("Editor", "paint", Rect{0, 0, 100, 100});
  f.FActWndClass = "Editor";
  f.FCopyCmdLine = "editor";
  f.FSendKey = "CTRL,V,/V,/CTRL";
  desktop.pressKey(vk::Shift, true);
  f.CopyBtn->click();
  ASSERT_TRUE(desktop.clipboard);
  EXPECT_TRUE(ShowsPattern(*desktop.clipboard, Rect{0, 0, 64, 48}));
  EXPECT_EQ(desktop.journal, Journal{"clipboard 64x48"});
  EXPECT_TRUE(messages.empty());
}

TEST_F(HandOff, Copy_TakesTheShownSelectionOrElseTheWholePicture) {
  struct Case {
    const char* what;
    Rect selection;
    bool hideFrame;
    bool emptyAfterShowing;
    Rect expected;
  };
  const Case cases[] = {
      {"selection shown", Rect{10, 20, 110, 70}, false, false, Rect{10, 20, 110, 70}},
      {"frame hidden", Rect{10, 20, 110, 70}, true, false, Rect{0, 0, 200, 150}},
      {"frame shown, rectangle empty", Rect{10, 20, 110, 70}, false, true, Rect{0, 0, 200, 150}},
      {"selection beyond the picture", Rect{150, 100, 260, 180}, false, false,
       Rect{150, 100, 200, 150}},
  };
  TLumivoreForm& f = withPicture(200, 150);
  for (const Case& c : cases) {
    select(c.selection);
    if (c.hideFrame) f.SelShape->hide();
    if (c.emptyAfterShowing) f.FSelRect.right = f.FSelRect.left;
    desktop.clipboard.reset();
    desktop.pressKey(vk::Shift, true);
    f.CopyBtn->click();
    ASSERT_TRUE(desktop.clipboard) << c.what;
    EXPECT_TRUE(ShowsPattern(*desktop.clipboard, c.expected)) << c.what;
  }
}

TEST_F(HandOff, Copy_OfAReducedPicture_KeepsItsPaletteUnlessASelectionIsTaken) {
  TLumivoreForm& f = withPicture(40, 30);
  Bitmap reduced;
  reduced.allocate(40, 30, PixelFormat::Indexed4);
  reduced.setPalette({MakeRgb(0, 0, 0), MakeRgb(255, 0, 0), MakeRgb(0, 0, 255)});
  for (int y = 0; y < 30; ++y)
    for (int x = 0; x < 40; ++x) reduced.setIndex(x, y, (x + y) % 3);
  f.FWorkImage = reduced;
  f.ShowWorkingImage();
  desktop.pressKey(vk::Shift, true);
  f.CopyBtn->click();
  ASSERT_TRUE(desktop.clipboard);
  EXPECT_EQ(*desktop.clipboard, reduced);
  select(Rect{5, 5, 15, 10});
  f.CopyBtn->click();
  ASSERT_TRUE(desktop.clipboard);
  EXPECT_EQ(desktop.clipboard->format(), PixelFormat::Bgr24);
  EXPECT_EQ(desktop.clipboard->pixel(0, 0), reduced.pixel(5, 5));
  EXPECT_EQ(desktop.clipboard->pixel(9, 4), reduced.pixel(14, 9));
}

TEST_F(HandOff, Copy_ActivatesTheTopmostVisibleMatch_RestoringItFirst) {
  TLumivoreForm& f = withPicture(20, 10);
  ScriptedDesktop::Window lower;
  lower.cls = "Editor";
  lower.title = "notes - Editor";
  lower.rect = Rect{0, 0, 50, 50};
  const WindowId low = desktop.addWindow(lower);
  ScriptedDesktop::Window minimised = lower;
  minimised.iconic = true;
  const WindowId mini = desktop.addWindow(minimised);
  ScriptedDesktop::Window hidden = lower;
  hidden.visible = false;
  desktop.addWindow(hidden);
  desktop.addWindow("Other", "notes - Editor", Rect{0, 0, 50, 50});
  f.FActWndClass = "Editor";
  f.FActWndTitleR = " - Editor";
  f.FCopyCmdLine = "editor";
  f.FSendKey = "ctrl , v , /v , /ctrl";
  f.CopyBtn->click();
  const Journal expected{"restore " + Hex(mini), "activate " + Hex(mini), "focus " + Hex(mini),
                         "key 0x11 down",        "key 0x56 down",         "key 0x56 up",
                         "key 0x11 up"};
  EXPECT_EQ(afterCopy(), expected);
  EXPECT_TRUE(desktop.processesStarted.empty());
  // One pause of 50 ms before each of the four tokens.
  EXPECT_EQ(desktop.sleeps, (std::vector<int>{50, 50, 50, 50}));
  EXPECT_NE(mini, low);
}

TEST_F(HandOff, Copy_WithoutAMatch_StartsTheProgramAndThenTypes) {
  TLumivoreForm& f = withPicture(20, 10);
  desktop.addWindow("Editor", "paint", Rect{0, 0, 100, 100});
  f.FActWndClass = "editor";  // letter case counts
  f.FCopyCmdLine = "\"/opt/my tools/paint\" --paste \"a \\\"b\\\"\"";
  f.FSendKey = "0x56";
  f.CopyBtn->click();
  EXPECT_EQ(afterCopy(), (Journal{"start /opt/my tools/paint 30000", "key 0x56 down"}));
  ASSERT_EQ(desktop.processesStarted.size(), 1u);
  EXPECT_EQ(desktop.processesStarted[0],
            (std::vector<std::string>{"/opt/my tools/paint", "--paste", "a \"b\""}));
}

TEST_F(HandOff, Copy_WithNothingConfigured_StartsNothingAndTypesIntoTheFocus) {
  TLumivoreForm& f = withPicture(20, 10);
  desktop.addWindow("Editor", "", Rect{0, 0, 100, 100});
  f.FSendKey = "ENTER,";
  f.CopyBtn->click();
  EXPECT_EQ(afterCopy(), (Journal{"key 0xd down"}));
  EXPECT_TRUE(messages.empty());
}

TEST_F(HandOff, Copy_EmptyToken_ReleasesWhatItPressedBeforeTheErrorBox) {
  TLumivoreForm& f = withPicture(20, 10);
  f.FSendKey = "CTRL,SHIFT,V,/V,,X";
  std::size_t keysWhenShown = 0;
  SetMessageSinkForTesting([&](const QString& text, const QString& caption) {
    messages.push_back(caption + ": " + text);
    keysWhenShown = desktop.keysSent.size();
  });
  f.CopyBtn->click();
  using K = ScriptedDesktop::KeyEvent;
  const std::vector<K> expected{{0x11, false}, {0x10, false}, {0x56, false},
                                {0x56, true},  {0x10, true},  {0x11, true}};
  EXPECT_EQ(desktop.keysSent, expected);
  EXPECT_EQ(keysWhenShown, expected.size());
  EXPECT_EQ(messages, std::vector<QString>{QString::fromUtf8("Lumivore: 範囲チェックエラー")});
}

TEST_F(HandOff, Copy_ClipboardRefused_ShowsTheErrorAndGoesNoFurther) {
  TLumivoreForm& f = withPicture(20, 10);
  desktop.clipboardFails = true;
  f.FCopyCmdLine = "editor";
  f.FSendKey = "V";
  f.CopyBtn->click();
  EXPECT_TRUE(desktop.journal.empty());
  EXPECT_EQ(messages, std::vector<QString>{
                          QString::fromUtf8("Lumivore: クリップボード CLIPBOARD を開けません")});
}

// ---- save --------------------------------------------------------------------------------

class Save : public HandOff {
 protected:
  // The dialog as it was shown, and what the user typed into it.
  struct Seen {
    QString title, defaultSuffix, directory, proposedName;
    QStringList shownTypes;
    bool confirmsOverwrite = false;
    int filterIndex = 0;
  };
  void answerWith(const QString& name, bool accept = true) {
    form->RunSaveDialog = [this, name, accept](QFileDialog& d) {
      seen = Seen{};
      seen.title = d.windowTitle();
      seen.defaultSuffix = d.defaultSuffix();
      seen.directory = d.directory().absolutePath();
      seen.confirmsOverwrite = !d.testOption(QFileDialog::DontConfirmOverwrite);
      if (auto* combo = d.findChild<QComboBox*>("fileTypeCombo")) {
        for (int i = 0; i < combo->count(); ++i) seen.shownTypes << combo->itemText(i);
        seen.filterIndex = combo->currentIndex() + 1;
      }
      if (auto* edit = d.findChild<QLineEdit*>("fileNameEdit")) seen.proposedName = edit->text();
      if (!accept) return int(QDialog::Rejected);
      d.selectFile(name);
      return int(QDialog::Accepted);
    };
  }
  QString path(const QString& name) const { return dir_.filePath(name); }
  Seen seen;
};

TEST_F(Save, Dialog_ShowsTheFiveTypesAndPreselectsTheLastOne) {
  TLumivoreForm& f = withPicture(20, 10);
  struct Case {
    const char* lastDefExt;
    int index;
  };
  const Case cases[] = {{"BMP", 1}, {"JPG", 2},  {"png", 3},  {"Gif", 4},
                        {"TIF", 5}, {"JPEG", 1}, {"TIFF", 1}, {"", 1}};
  for (const Case& c : cases) {
    f.FLastDefExt = c.lastDefExt;
    f.FLastDir = dir_.path();
    answerWith({}, false);
    f.SaveBtn->click();
    EXPECT_EQ(seen.filterIndex, c.index) << c.lastDefExt;
    EXPECT_EQ(seen.defaultSuffix, c.lastDefExt);
  }
  EXPECT_EQ(seen.title, QString::fromUtf8("画像を保存"));
  EXPECT_EQ(seen.directory, QFileInfo(dir_.path()).absoluteFilePath());
  EXPECT_TRUE(seen.confirmsOverwrite);
  const QStringList types{"ビットマップ (*.bmp)", "JPEGファイル(*.JPG)", "PNGファイル(*.PNG)",
                          "GIFファイル(*.GIF)", "TIFファイル(*.TIF)"};
  EXPECT_EQ(seen.shownTypes, types);
}

TEST_F(Save, WritesThePictureOrTheSelection_AndRemembersFolderAndType) {
  TLumivoreForm& f = withPicture(120, 90);
  f.FSaveCmdLine = "viewer --show \"$F\"";
  struct Case {
    const char* name;
    bool selection;
    const char* defExt;
  };
  const Case cases[] = {{"whole.png", false, "PNG"},
                        {"part of it.bmp", true, "BMP"},
                        {"shot $(true);x&y.PNG", true, "PNG"},
                        {"lossless.tif", false, "TIF"}};
  for (const Case& c : cases) {
    if (c.selection)
      select(Rect{10, 20, 20, 40});
    else
      f.SelShape->hide();
    desktop.processesStarted.clear();
    answerWith(path(c.name));
    f.SaveBtn->click();
    Bitmap written;
    ASSERT_TRUE(WicLoadImage(path(c.name).toStdString(), written)) << c.name;
    EXPECT_TRUE(ShowsPattern(written, c.selection ? Rect{10, 20, 20, 40} : Rect{0, 0, 120, 90}))
        << c.name;
    EXPECT_EQ(f.FLastDefExt, c.defExt);
    EXPECT_EQ(f.FLastDir, dir_.path());
    ASSERT_EQ(desktop.processesStarted.size(), 1u) << c.name;
    EXPECT_EQ(desktop.processesStarted[0],
              (std::vector<std::string>{"viewer", "--show", path(c.name).toStdString()}));
  }
  EXPECT_TRUE(messages.empty());
  // The next dialog proposes the last name, under the last type.
  answerWith({}, false);
  f.SaveBtn->click();
  EXPECT_EQ(seen.proposedName, "lossless.tif");
  EXPECT_EQ(seen.filterIndex, 5);
}

TEST_F(Save, Failure_ShowsTheErrorUpdatesTheSettingsAndStartsNothing) {
  TLumivoreForm& f = withPicture(20, 10);
  f.FSaveCmdLine = "uploader $F";
  answerWith(path("a.tiff"));
  f.SaveBtn->click();
  EXPECT_EQ(messages,
            std::vector<QString>{QString::fromUtf8("エラー: 画像の保存に失敗しました。")});
  EXPECT_FALSE(QFileInfo::exists(path("a.tiff")));
  EXPECT_EQ(f.FLastDefExt, "TIFF");
  EXPECT_EQ(f.FLastDir, dir_.path());
  EXPECT_TRUE(desktop.processesStarted.empty());
}

TEST_F(Save, StartsNoProgram_WithShiftHeld_WhenCancelled_OrWithoutSetting) {
  TLumivoreForm& f = withPicture(20, 10);
  f.FLastDefExt = "JPG";
  f.FSaveCmdLine = "viewer";
  desktop.pressKey(vk::Shift, true);
  answerWith(path("shift.png"));
  f.SaveBtn->click();
  desktop.pressKey(vk::Shift, false);
  EXPECT_TRUE(QFileInfo::exists(path("shift.png")));
  EXPECT_EQ(f.FLastDefExt, "PNG");

  answerWith(path("cancelled.png"), false);
  f.FLastDefExt = "GIF";
  f.SaveBtn->click();
  EXPECT_FALSE(QFileInfo::exists(path("cancelled.png")));
  EXPECT_EQ(f.FLastDefExt, "GIF");

  f.FSaveCmdLine.clear();
  answerWith(path("no program.png"));
  f.SaveBtn->click();
  EXPECT_TRUE(QFileInfo::exists(path("no program.png")));
  EXPECT_TRUE(desktop.processesStarted.empty());
  EXPECT_TRUE(messages.empty());
}

TEST_F(Save, TypeFilters_ShowNamesInAnyLetterCase) {
  TLumivoreForm& f = withPicture(20, 10);
  for (const char* name : {"a.jpg", "B.JPG", "c.Jpg", "d.png", "e.jpeg"}) {
    QFile file(path(name));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  }
  f.FLastDefExt = "JPG";
  f.FLastDir = dir_.path();
  QStringList listed;
  f.RunSaveDialog = [&](QFileDialog& d) {
    d.show();
    auto* view = d.findChild<QListView*>("listView");
    if (!view) return int(QDialog::Rejected);
    // The folder is read in the background; its six entries arrive together.
    if (!QTest::qWaitFor([&] { return view->model()->rowCount(view->rootIndex()) >= 3; }, 5000))
      return int(QDialog::Rejected);
    for (int i = 0; i < view->model()->rowCount(view->rootIndex()); ++i)
      listed << view->model()->index(i, 0, view->rootIndex()).data().toString();
    d.hide();
    return int(QDialog::Rejected);
  };
  f.SaveBtn->click();
  listed.sort();
  EXPECT_EQ(listed, (QStringList{"B.JPG", "a.jpg", "c.Jpg"}));
}

}  // namespace
}  // namespace lumivore
