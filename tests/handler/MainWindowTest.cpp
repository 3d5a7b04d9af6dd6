#include <QFontInfo>
#include <QFontMetrics>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QScopeGuard>
#include <QScrollArea>
#include <QTest>
#include <QToolTip>

#include "tests/handler/FormFixture.h"
#include "ui/UiFont.h"

namespace lumivore {
namespace {

using MainWindow = FormFixture;

QRect Outer(const TLumivoreForm& f) { return f.frameGeometry(); }

TEST_F(MainWindow, FirstRun_OpensCentredWithDefaultRowsAndPointerOnCaptureTool) {
  TLumivoreForm& f = start();
  EXPECT_EQ(Outer(f), QRect(850, 420, 220, 240));
  EXPECT_TRUE(f.ClsNamPanel->isVisible());
  EXPECT_TRUE(f.WndTxtPanel->isVisible());
  EXPECT_TRUE(f.StatusBar1->isVisible());
  EXPECT_FALSE(f.PixColPanel->isVisible());
  EXPECT_EQ(f.ScrollBox1->viewport()->palette().color(QPalette::Window), QColor(Qt::black));
  const QPoint centre = f.CapToolPanel->mapToGlobal(QPoint(20, 20));
  EXPECT_EQ(desktop.pointer, (Point{centre.x(), centre.y()}));
  EXPECT_TRUE(f.isWindow());
  EXPECT_TRUE(f.windowFlags() & Qt::WindowStaysOnTopHint);
  // The minimum applies to the outer width, frame included.
  EXPECT_EQ(f.minimumWidth() + f.frameGeometry().width() - f.width(), 218);
  // The stored version is raised as soon as the window is created.
  EXPECT_EQ(readIni(), "[General]\nVersion=155\n");
  EXPECT_TRUE(messages.empty());
}

TEST_F(MainWindow, Close_WritesEveryKeyInOrderWithDefaults) {
  start();
  closeForm();
  EXPECT_EQ(QString::fromUtf8(readIni()), QString("[General]\n"
                                                  "Version=155\n"
                                                  "WinState=0\n"
                                                  "WinLeft=850\n"
                                                  "WinTop=420\n"
                                                  "WinWidth=220\n"
                                                  "WinHeight=240\n"
                                                  "ShowClsName=1\n"
                                                  "ShowWndText=1\n"
                                                  "ShowSttBar=1\n"
                                                  "LastDir=\n"
                                                  "LastDefExt=BMP\n"
                                                  "ImgBgColor=0\n"
                                                  "ColValFmt=0\n"
                                                  "[Option]\n"
                                                  "HideWait=100\n"
                                                  "CaptureWait=3000\n"
                                                  "JpegQuality=100\n"
                                                  "ScaleOpt=0\n"
                                                  "ExtAllIcon=1\n"
                                                  "[Sound]\n"
                                                  "ChgImage=\n"
                                                  "CapImage=\n"
                                                  "[OnCopy]\n"
                                                  "ActWndClass=\n"
                                                  "ActWndTitle=\n"
                                                  "ActWndTitleR=\n"
                                                  "CmdLine=\n"
                                                  "SendKey=\n"
                                                  "[OnSave]\n"
                                                  "CmdLine=\n"));
}

TEST_F(MainWindow, DesignedFonts_AreTheIpaGothicsWhateverElseIsInstalled) {
  TLumivoreForm& f = start();
  UseUiFontEverywhere();  // as the program does at its start
  QMessageBox box(QMessageBox::Critical, "Lumivore", QString::fromUtf8("書き込めません"));
  const QLabel* boxText = box.findChild<QLabel*>("qt_msgbox_label");
  ASSERT_NE(boxText, nullptr);
  struct FontCase {
    const char* what;
    QFont font;
    const char* family;
    int pixels;
    bool fixed;
  };
  const FontCase cases[] = {
      {"window", f.font(), "IPAPGothic", 12, false},
      {"menu", f.PopupMenu1->font(), "IPAPGothic", 12, false},
      {"submenu", f.AboutItem->font(), "IPAPGothic", 12, false},
      {"dialog", UiFont("ＭＳ Ｐゴシック", 13), "IPAPGothic", 13, false},
      {"half-width name", UiFont("MS PGothic", 12), "IPAPGothic", 12, false},
      {"fixed pitch", UiFont("ＭＳ ゴシック", 13), "IPAGothic", 13, true},
      {"message box", boxText->font(), "IPAPGothic", 12, false},
      {"tooltip", QToolTip::font(), "IPAPGothic", 12, false},
  };
  for (const FontCase& c : cases) {
    const QFontInfo info(c.font);
    EXPECT_EQ(info.family(), c.family) << c.what;
    EXPECT_EQ(info.pixelSize(), c.pixels) << c.what;
    const QFontMetrics m(c.font);
    EXPECT_EQ(m.horizontalAdvance('i') == m.horizontalAdvance('M'), c.fixed) << c.what;
  }
}

struct PlacementCase {
  const char* name;
  const char* ini;
  int monitors;
  QRect outer;
};

class Placement : public FormFixture, public ::testing::WithParamInterface<PlacementCase> {};

TEST_P(Placement, StoredBoundsAreClampedOnlyOnASingleMonitor) {
  const PlacementCase& c = GetParam();
  writeIni(c.ini);
  if (c.monitors == 2) desktop.setMonitors({Rect{0, 0, 1920, 1080}, Rect{1920, 0, 3200, 1024}});
  EXPECT_EQ(start().requestedOuter(), c.outer);
}

INSTANTIATE_TEST_SUITE_P(
    MainWindow, Placement,
    ::testing::Values(
        PlacementCase{"Stored", "[General]\nWinLeft=100\nWinTop=50\nWinWidth=300\nWinHeight=400\n",
                      1, QRect(100, 50, 300, 400)},
        PlacementCase{"NegativeLeftAndTop", "[General]\nWinLeft=-50\nWinTop=-7\n", 1,
                      QRect(0, 0, 220, 240)},
        PlacementCase{"BeyondRightAndBottom", "[General]\nWinLeft=1800\nWinTop=1000\n", 1,
                      QRect(1700, 840, 220, 240)},
        PlacementCase{"CentredOnStoredSize", "[General]\nWinWidth=400\nWinHeight=300\n", 1,
                      QRect(760, 390, 400, 300)},
        // The minimum width comes first: centring and clamping use the width
        // the window gets.
        PlacementCase{"NarrowerThanMinimumCentred", "[General]\nWinWidth=100\n", 1,
                      QRect(851, 420, 218, 240)},
        PlacementCase{"NarrowerThanMinimumAtTheRight", "[General]\nWinLeft=1800\nWinWidth=100\n", 1,
                      QRect(1702, 420, 218, 240)},
        // The right edge is corrected after the left one.
        PlacementCase{"WiderThanTheScreen", "[General]\nWinLeft=100\nWinWidth=2500\n", 1,
                      QRect(-580, 420, 2500, 240)},
        PlacementCase{"TwoMonitorsKeepNegative", "[General]\nWinLeft=-50\nWinTop=-7\n", 2,
                      QRect(-50, -7, 220, 240)},
        PlacementCase{"TwoMonitorsKeepNegativeLeft", "[General]\nWinLeft=-50\nWinTop=7\n", 2,
                      QRect(-50, 7, 220, 240)},
        PlacementCase{"TwoMonitorsKeepBeyond", "[General]\nWinLeft=2500\nWinTop=100\n", 2,
                      QRect(2500, 100, 220, 240)},
        PlacementCase{"GarbageGivesDefaults",
                      "junk line\n[General\nWinLeft=abc\nWinTop=\xff\xfe\nWinWidth=1e3\n"
                      "WinHeight=99999999999\n",
                      1, QRect(850, 420, 220, 240)}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(MainWindow, FirstStart_CentredOnThePrimaryMonitorWhereverItLies) {
  // The primary monitor has another one on its left, so it starts at x = 960.
  desktop.setMonitors({Rect{960, 0, 2880, 1080}, Rect{0, 0, 960, 1080}});
  EXPECT_EQ(start().requestedOuter(), QRect(1810, 420, 220, 240));
}

TEST_F(MainWindow, VersionKey_IsRaisedButNeverLowered) {
  writeIni("[General]\nVersion=200\n");
  start(false);
  EXPECT_EQ(readIni(), "[General]\nVersion=200\n");
  form.reset();
  writeIni("[General]\nVersion=120\n");
  start(false);
  EXPECT_EQ(readIni(), "[General]\nVersion=155\n");
}

TEST_F(MainWindow, HexBackgroundColour_IsReadAndWrittenBackInDecimal) {
  for (const char* value : {"$FF", "0xff"}) {
    writeIni(QByteArray("[General]\nImgBgColor=") + value + "\n");
    TLumivoreForm& f = start();
    EXPECT_EQ(f.FImgBgColor, 255u);
    EXPECT_EQ(f.ScrollBox1->viewport()->palette().color(QPalette::Window), QColor(Qt::red));
    closeForm();
    EXPECT_TRUE(readIni().contains("\nImgBgColor=255\n")) << value;
    form.reset();
  }
}

TEST_F(MainWindow, SoundPaths_AreResolvedBesideTheExecutable) {
  ASSERT_TRUE(QDir(dir_.path()).mkdir("snd"));
  QFile wav(dir_.filePath("snd/cap.wav"));
  ASSERT_TRUE(wav.open(QIODevice::WriteOnly));
  wav.close();
  writeIni("[Sound]\nCapImage=snd/cap.wav\nChgImage=snd/missing.wav\n");
  TLumivoreForm& f = start();
  EXPECT_EQ(f.FCapSound, dir_.filePath("snd/cap.wav"));
  EXPECT_EQ(f.FChgSound, "");
  closeForm();
  EXPECT_EQ(iniValue("Sound", "CapImage"), dir_.filePath("snd/cap.wav"));
  EXPECT_EQ(iniValue("Sound", "ChgImage"), "");
}

// An installed copy: its folder takes no new files, not even from root (the kernel's process
// folder stands in for a program folder on a read-only system), so the settings file, the help
// file and relative sound paths all live in the user's configuration folder.
TEST_F(MainWindow, ProgramFolderNotWritable_SettingsHelpAndSoundsLiveInTheUserConfigFolder) {
  const QByteArray oldXdg = qgetenv("XDG_CONFIG_HOME");
  const auto restore = qScopeGuard([&] { qputenv("XDG_CONFIG_HOME", oldXdg); });
  qputenv("XDG_CONFIG_HOME", QFile::encodeName(dir_.filePath("config")));
  const QString folder = dir_.filePath("config/lumivore");
  const QString ini = folder + "/lumivore.INI";
  const QString exe = "/proc/self/lumivore";
  auto startInstalled = [&] {
    form = std::make_unique<TLumivoreForm>(desktop, exe);
    form->show();
    QApplication::processEvents();
    return form.get();
  };

  // First start: the folder is made and the file written there, on every close, silently.
  TLumivoreForm* f = startInstalled();
  EXPECT_EQ(f->iniFileName(), ini);
  EXPECT_EQ(f->helpFileName(), folder + "/lumivore.CHM");
  closeForm();
  form.reset();
  EXPECT_TRUE(messages.empty());
  QFile written(ini);
  ASSERT_TRUE(written.open(QIODevice::ReadOnly));
  const QByteArray text = written.readAll();
  EXPECT_TRUE(text.startsWith("[General]\nVersion=155\nWinState=0\nWinLeft=850\nWinTop=420\n"));
  EXPECT_TRUE(text.endsWith("[OnSave]\nCmdLine=\n"));

  // Second start: the stored placement applies, and a relative sound path is taken beside the
  // settings file and written back in full.
  ASSERT_TRUE(QDir(folder).mkdir("snd"));
  QFile wav(folder + "/snd/cap.wav");
  ASSERT_TRUE(wav.open(QIODevice::WriteOnly));
  wav.close();
  IniFile edit(QFile::encodeName(ini).toStdString());
  ASSERT_TRUE(edit.WriteString("Sound", "CapImage", "snd/cap.wav"));
  ASSERT_TRUE(edit.WriteInteger("General", "WinLeft", 100));
  ASSERT_TRUE(edit.WriteInteger("General", "WinTop", 50));
  f = startInstalled();
  EXPECT_EQ(f->requestedOuter().topLeft(), QPoint(100, 50));
  EXPECT_EQ(f->FCapSound, folder + "/snd/cap.wav");
  closeForm();
  EXPECT_TRUE(messages.empty());
  EXPECT_EQ(edit.ReadString("Sound", "CapImage", "?"), (folder + "/snd/cap.wav").toStdString());
  EXPECT_EQ(edit.ReadInteger("General", "WinLeft", 0), 100);
}

TEST_F(MainWindow, Maximised_WritesStateTwoWithNormalBoundsAndReopensMaximised) {
  writeIni("[General]\nWinLeft=100\nWinTop=50\nWinWidth=300\nWinHeight=400\n");
  TLumivoreForm& f = start();
  f.showMaximized();
  QApplication::processEvents();
  ASSERT_TRUE(f.isMaximized());
  closeForm();
  EXPECT_EQ(iniValue("General", "WinState"), "2");
  EXPECT_EQ(iniValue("General", "WinLeft"), "100");
  EXPECT_EQ(iniValue("General", "WinTop"), "50");
  EXPECT_EQ(iniValue("General", "WinWidth"), "300");
  EXPECT_EQ(iniValue("General", "WinHeight"), "400");
  form.reset();
  EXPECT_TRUE(start().isMaximized());
}

TEST_F(MainWindow, Minimised_WritesStateZero) {
  TLumivoreForm& f = start();
  f.showMinimized();
  QApplication::processEvents();
  closeForm();
  EXPECT_TRUE(readIni().contains("WinState=0\nWinLeft=850\nWinTop=420\n"));
}

TEST_F(MainWindow, ViewSettings_AreAppliedAtFirstShow) {
  writeIni("[General]\nShowClsName=0\nShowWndText=0\nShowSttBar=0\nColValFmt=2\n");
  TLumivoreForm& f = start();
  EXPECT_FALSE(f.ClsNamPanel->isVisible());
  EXPECT_FALSE(f.WndTxtPanel->isVisible());
  EXPECT_FALSE(f.StatusBar1->isVisible());
  EXPECT_TRUE(f.PixColPanel->isVisible());
  EXPECT_EQ(f.FColValFmt, 2);
  // The rows below move up: the scroll box starts right under the tool panel.
  EXPECT_EQ(f.ScrollBox1->y(), f.ToolPanel->height() + f.PixColPanel->height());
  closeForm();
  EXPECT_TRUE(readIni().contains("ShowClsName=0\nShowWndText=0\nShowSttBar=0\n"));
}

TEST_F(MainWindow, UnwritableSettingsFile_ShowsMessageAndStillCloses) {
  // A folder where the file should be: no write can succeed, even as root.
  ASSERT_TRUE(QDir(dir_.path()).mkdir("lumivore.INI"));
  TLumivoreForm& f = start();
  messages.clear();
  closeForm();
  EXPECT_FALSE(f.isVisible());
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0], "Lumivore: " + iniPath() + QString::fromUtf8(" に書き込めません"));
  EXPECT_TRUE(QFileInfo(iniPath()).isDir());
}

TEST_F(MainWindow, Escape_ClosesTheWindowThroughTheCancelButton) {
  TLumivoreForm& f = start();
  f.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&f));
  QTest::keyClick(f.windowHandle(), Qt::Key_Escape);
  // A shortcut presses its button with a short animation.
  for (int i = 0; i < 100 && f.isVisible(); ++i) QTest::qWait(10);
  EXPECT_FALSE(f.isVisible());
  EXPECT_TRUE(readIni().contains("[OnSave]\nCmdLine=\n"));
}

TEST_F(MainWindow, ArrowKeys_NeverMoveTheFocusBetweenControls) {
  TLumivoreForm& f = start();
  f.activateWindow();
  f.ClsNamEdit->setFocus();
  QApplication::processEvents();
  for (Qt::Key key : {Qt::Key_Down, Qt::Key_Right, Qt::Key_Up, Qt::Key_Left}) {
    QTest::keyClick(f.ClsNamEdit, key);
    EXPECT_EQ(QApplication::focusWidget(), f.ClsNamEdit);
  }
}

TEST_F(MainWindow, LayoutRows_StretchAndAnchorWithTheWindowWidth) {
  TLumivoreForm& f = start();
  f.PixColPanel->show();
  f.resize(400, 300);
  QApplication::processEvents();
  // Edits keep their left edge and their designed gap to the right edge.
  EXPECT_EQ(f.ClsNamEdit->geometry(), QRect(56, 3, 400 - 56 - 2, 20));
  EXPECT_EQ(f.ColValEdit->geometry(), QRect(56, 3, 400 - 56 - 76, 20));
  EXPECT_EQ(f.ColPanel->geometry(), QRect(400 - 3 - 72, 2, 72, 21));
  EXPECT_EQ(f.CapToolPanel->geometry(), QRect(400 - 1 - 40, 1, 40, 40));
  EXPECT_EQ(f.Label3->x(), 400 - 94);
}

}  // namespace
}  // namespace lumivore
