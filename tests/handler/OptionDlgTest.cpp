#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>
#include <QTabBar>
#include <QTabWidget>
#include <QTest>
#include <QTimer>

#include "imaging/Usr_wic.h"
#include "options/Unit2.h"
#include "tests/handler/FormFixture.h"
#include "util/SplitToList.h"

namespace lumivore {
namespace {

class OptionDlg : public FormFixture {
 protected:
  void TearDown() override {
    TOpenDialog::SetHookForTesting(nullptr);
    FormFixture::TearDown();
  }
  // Shows the dialog (not modally, so the test can act on it).
  TOptionDlg& open() {
    TOptionDlg& d = *form->OptionDlg;
    d.show();
    QApplication::processEvents();
    return d;
  }
  void ok() {
    form->OptionDlg->OKBtn->click();
    QApplication::processEvents();
  }
  // Answers the next file-open dialog with `choice` (or cancels with ""),
  // recording how it was prepared.
  void answerOpen(const QString& choice) {
    TOpenDialog::SetHookForTesting([this, choice](TOpenDialog& d) {
      asked.push_back(d);
      d.FileName = choice;
      return !choice.isEmpty();
    });
  }
  QString exeDir() const { return dir_.path(); }
  std::vector<TOpenDialog> asked;
};

TEST_F(OptionDlg, ControlsHaveTheirCaptionsPlacesAndTabOrder) {
  start();
  TOptionDlg& d = open();
  EXPECT_EQ(d.windowTitle(), QString::fromUtf8("オプション設定"));
  EXPECT_EQ(d.size(), QSize(414, 323));
  EXPECT_EQ(d.minimumSize(), d.maximumSize());
  EXPECT_TRUE(d.isModal());
  EXPECT_EQ(d.property("helpContext").toInt(), 5);
  EXPECT_TRUE(d.OKBtn->isDefault());
  EXPECT_EQ(d.font().family(), "IPAPGothic");
  EXPECT_EQ(d.font().pixelSize(), 13);
  struct Place {
    QWidget* w;
    QRect rect;
    const char* caption;
  };
  const Place places[] = {
      {d.OKBtn, {115, 288, 80, 25}, "OK"},
      {d.CancelBtn, {219, 288, 80, 25}, "キャンセル"},
      {d.PageControl1, {0, 0, 414, 273}, nullptr},
      {d.Label1, {14, 20, 233, 15}, "取り込み時に画面が隠れる時間"},
      {d.HideWaitEdit, {256, 16, 73, 21}, nullptr},
      {d.Label2, {14, 52, 233, 15}, "Ctrl押し下げ時の取り込み遅延時間"},
      {d.CapWaitEdit, {256, 48, 73, 21}, nullptr},
      {d.GroupBox1, {8, 97, 390, 87}, "サウンド"},
      {d.Label3, {12, 26, 71, 15}, "対象変化時"},
      {d.ChgSndEdit, {89, 23, 244, 21}, nullptr},
      {d.RefChgSndBtn, {336, 23, 30, 22}, "..."},
      {d.Label4, {12, 58, 71, 15}, "確定時"},
      {d.CapSndEdit, {89, 55, 244, 21}, nullptr},
      {d.RefCapSndBtn, {336, 55, 30, 22}, "..."},
      {d.TstChgSndBtn, {368, 23, 16, 22}, ">"},
      {d.TstCapSndBtn, {368, 55, 16, 22}, ">"},
      {d.AllIconCheckBox, {24, 208, 329, 17}, "ドロップ時に全てのアイコンを取り込む"},
      {d.GroupBox2, {8, 8, 390, 113}, "アクティブにするウィンドウ"},
      {d.Label7, {7, 28, 135, 15}, "ウィンドウのクラス名"},
      {d.ActClassEdit, {146, 24, 232, 21}, nullptr},
      {d.Label8, {7, 56, 135, 15}, "タイトル(前方一致)"},
      {d.ActTitleEdit, {146, 52, 232, 21}, nullptr},
      {d.Label9, {7, 84, 135, 15}, "タイトル(後方一致)"},
      {d.ActTitle2Edit, {146, 80, 232, 21}, nullptr},
      {d.GroupBox3, {8, 128, 390, 54}, "ウィンドウが無い場合に起動するプログラム"},
      {d.CpyCmdEdit, {10, 22, 339, 21}, nullptr},
      {d.RefCpyCmdBtn, {351, 22, 30, 22}, "..."},
      {d.SendKeyEdit, {154, 196, 232, 21}, nullptr},
      {d.JpgLabel, {118, 20, 28, 15}, nullptr},
      {d.JpgTrackBar, {148, 16, 200, 33}, nullptr},
      {d.GroupBox4, {8, 73, 390, 54}, "保存後に起動するプログラム"},
      {d.SavCmdEdit, {8, 22, 342, 21}, nullptr},
      {d.RefSavCmdBtn, {351, 22, 30, 22}, "..."},
      {d.GroupBox5, {8, 8, 390, 54}, "サイズ変更のアルゴリズム"},
      {d.ScaleOptComboBox, {8, 22, 373, 21}, nullptr},
  };
  for (const Place& p : places) {
    EXPECT_EQ(p.w->geometry(), p.rect) << p.w->objectName().toStdString();
    if (!p.caption) continue;
    QString text;
    if (auto* b = qobject_cast<QAbstractButton*>(p.w)) text = b->text();
    if (auto* l = qobject_cast<QLabel*>(p.w)) text = l->text();
    if (auto* g = qobject_cast<QGroupBox*>(p.w)) text = g->title();
    EXPECT_EQ(text, QString::fromUtf8(p.caption)) << p.w->objectName().toStdString();
  }
  // Labels that fit their text start where they should.
  for (auto [label, at, caption] : {std::tuple{d.Label5, QPoint(336, 20), "ms"},
                                    {d.Label6, QPoint(336, 52), "ms"},
                                    {d.Label11, QPoint(80, 200), "送出キー"},
                                    {d.Label10, QPoint(13, 20), "Jpeg保存品質 "}}) {
    EXPECT_EQ(label->pos(), at) << caption;
    EXPECT_EQ(label->text(), QString::fromUtf8(caption));
  }
  const QStringList tabs = {"取り込み", "コピー動作", "保存動作", "その他"};
  ASSERT_EQ(d.PageControl1->count(), 4);
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(d.PageControl1->tabText(i), tabs[i]);
    EXPECT_EQ(d.PageControl1->tabBar()->tabRect(i).width(), 90);
  }
  EXPECT_EQ(d.RefChgSndBtn->toolTip(), QString::fromUtf8("参照"));
  EXPECT_EQ(d.TstCapSndBtn->toolTip(), QString::fromUtf8("テスト"));
  EXPECT_EQ(d.ScaleOptComboBox->count(), 4);
  EXPECT_EQ(d.ScaleOptComboBox->itemText(3), QString::fromUtf8("ファントリサンプリング"));
  EXPECT_FALSE(d.ScaleOptComboBox->isEditable());
  EXPECT_EQ(d.JpgTrackBar->minimum(), 1);
  EXPECT_EQ(d.JpgTrackBar->maximum(), 100);
  EXPECT_EQ(d.JpgTrackBar->tickInterval(), 10);

  // Tab walks the first page in its order, from OK round to OK again.
  d.PageControl1->setCurrentIndex(0);
  d.OKBtn->setFocus();
  QStringList walk;
  for (int i = 0; i < 12; ++i) {
    QWidget* focus = QApplication::focusWidget();
    // The page control takes the focus on its tab bar.
    walk << (focus == d.PageControl1->tabBar() ? "PageControl1" : focus->objectName());
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
  }
  EXPECT_EQ(walk.join(' ').toStdString(),
            "OKBtn CancelBtn PageControl1 HideWaitEdit CapWaitEdit ChgSndEdit RefChgSndBtn "
            "CapSndEdit RefCapSndBtn TstChgSndBtn TstCapSndBtn AllIconCheckBox");
  EXPECT_EQ(QApplication::focusWidget(), d.OKBtn);
}

TEST_F(OptionDlg, EveryOptionGoesThroughOkIntoTheFieldsAndTheSettingsFile) {
  TLumivoreForm& f = start();
  TOptionDlg& d = open();
  d.HideWaitEdit->setText("250");
  d.CapWaitEdit->setText("0");
  d.JpgTrackBar->setValue(42);
  d.AllIconCheckBox->setChecked(false);
  d.ChgSndEdit->setText("/snd/chg.wav");
  d.CapSndEdit->setText(" cap with blanks.wav ");
  d.ActClassEdit->setText("XTerm");
  d.ActTitleEdit->setText("端末");
  d.ActTitle2Edit->setText("- vim");
  d.CpyCmdEdit->setText("\"/opt/my tool/run\" -x");
  d.SendKeyEdit->setText("^V,{ENTER}");
  d.SavCmdEdit->setText("gimp \"$F\"");
  d.ScaleOptComboBox->setCurrentIndex(2);
  ok();
  EXPECT_FALSE(d.isVisible());
  EXPECT_EQ(f.FHideWait, 250);
  EXPECT_EQ(f.FCaptureWait, 0);
  EXPECT_EQ(f.FJpegQuality, 42);
  EXPECT_FALSE(f.FExtAllIcon);
  EXPECT_EQ(f.FChgSound, "/snd/chg.wav");
  EXPECT_EQ(f.FCapSound, " cap with blanks.wav ");
  EXPECT_EQ(f.FActWndClass, "XTerm");
  EXPECT_EQ(f.FActWndTitle, QString::fromUtf8("端末"));
  EXPECT_EQ(f.FActWndTitleR, "- vim");
  EXPECT_EQ(f.FCopyCmdLine, "\"/opt/my tool/run\" -x");
  EXPECT_EQ(f.FSendKey, "^V,{ENTER}");
  EXPECT_EQ(f.FSaveCmdLine, "gimp \"$F\"");
  EXPECT_EQ(f.FScaleOpt, 2);
  // Nothing is written until the window closes.
  EXPECT_EQ(iniValue("Option", "HideWait"), "?");
  closeForm();
  struct Key {
    const char *section, *key, *value;
  };
  const Key written[] = {{"Option", "HideWait", "250"},
                         {"Option", "CaptureWait", "0"},
                         {"Option", "JpegQuality", "42"},
                         {"Option", "ScaleOpt", "2"},
                         {"Option", "ExtAllIcon", "0"},
                         {"Sound", "ChgImage", "/snd/chg.wav"},
                         {"Sound", "CapImage", " cap with blanks.wav "},
                         {"OnCopy", "ActWndClass", "XTerm"},
                         {"OnCopy", "ActWndTitle", "端末"},
                         {"OnCopy", "ActWndTitleR", "- vim"},
                         {"OnCopy", "CmdLine", "\"/opt/my tool/run\" -x"},
                         {"OnCopy", "SendKey", "^V,{ENTER}"},
                         {"OnSave", "CmdLine", "gimp \"$F\""}};
  for (const Key& k : written)
    EXPECT_EQ(iniValue(k.section, k.key), QString::fromUtf8(k.value)) << k.key;
}

TEST_F(OptionDlg, ShowingLoadsTheFieldsAndCancelChangesNothing) {
  writeIni(
      "[Option]\nHideWait=-5\nCaptureWait=1234\nJpegQuality=77\nScaleOpt=1\nExtAllIcon=0\n"
      "[OnCopy]\nActWndClass=Gimp\nSendKey=^C\n");
  TLumivoreForm& f = start();
  TOptionDlg& d = open();
  EXPECT_EQ(d.HideWaitEdit->text(), "-5");
  EXPECT_EQ(d.CapWaitEdit->text(), "1234");
  EXPECT_EQ(d.JpgTrackBar->value(), 77);
  EXPECT_EQ(d.JpgLabel->text(), "77");
  EXPECT_FALSE(d.AllIconCheckBox->isChecked());
  EXPECT_EQ(d.ActClassEdit->text(), "Gimp");
  EXPECT_EQ(d.SendKeyEdit->text(), "^C");
  EXPECT_EQ(d.ScaleOptComboBox->currentIndex(), 1);

  d.CapWaitEdit->setText("9");
  d.ActClassEdit->setText("Other");
  d.PageControl1->setCurrentIndex(2);
  QTest::keyClick(&d, Qt::Key_Escape);
  QApplication::processEvents();
  EXPECT_FALSE(d.isVisible());
  EXPECT_EQ(f.FCaptureWait, 1234);
  EXPECT_EQ(f.FActWndClass, "Gimp");
  // Reopened: the old values again, on the page last used.
  open();
  EXPECT_EQ(d.CapWaitEdit->text(), "1234");
  EXPECT_EQ(d.ActClassEdit->text(), "Gimp");
  EXPECT_EQ(d.PageControl1->currentIndex(), 2);
  d.CancelBtn->click();
  EXPECT_EQ(f.FCaptureWait, 1234);
  // The negative hide time read from the file is never used as such.
  open();
  ok();
  EXPECT_EQ(f.FHideWait, 0);
}

TEST_F(OptionDlg, OutOfRangeValuesAreClampedOrGiveTheDefaults) {
  struct Case {
    const char* ini;
    const char* hideText;  // typed before OK (nullptr: left as shown)
    const char* capText;
    int quality, scaleIndex;   // shown
    int hide, capture, scale;  // stored by OK
  };
  const Case cases[] = {
      {"JpegQuality=0\nScaleOpt=7", nullptr, nullptr, 1, -1, 100, 3000, -1},
      {"JpegQuality=150\nScaleOpt=-1", "", "", 100, -1, 100, 3000, -1},
      {"JpegQuality=1\nScaleOpt=3", "99999999999", "12", 1, 3, 100, 12, 3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.ini);
    writeIni(QByteArray("[Option]\n") + c.ini + "\n");
    TLumivoreForm& f = start();
    TOptionDlg& d = open();
    EXPECT_EQ(d.JpgTrackBar->value(), c.quality);
    EXPECT_EQ(d.JpgLabel->text(), QString::number(c.quality));
    EXPECT_EQ(d.ScaleOptComboBox->currentIndex(), c.scaleIndex);
    if (c.hideText) d.HideWaitEdit->setText(c.hideText);
    if (c.capText) d.CapWaitEdit->setText(c.capText);
    ok();
    EXPECT_EQ(f.FJpegQuality, c.quality);
    EXPECT_EQ(f.FScaleOpt, c.scale);
    EXPECT_EQ(f.FHideWait, c.hide);
    EXPECT_EQ(f.FCaptureWait, c.capture);
    form.reset();
  }
}

TEST_F(OptionDlg, MillisecondFieldsTakeOnlyDigitsAndTheQualityLabelFollowsTheBar) {
  start();
  TOptionDlg& d = open();
  d.HideWaitEdit->clear();
  QTest::keyClicks(d.HideWaitEdit, "1a-2 3");
  EXPECT_EQ(d.HideWaitEdit->text(), "123");
  d.JpgTrackBar->setFocus();
  d.JpgTrackBar->setValue(50);
  QTest::keyClick(d.JpgTrackBar, Qt::Key_Right);
  EXPECT_EQ(d.JpgLabel->text(), "51");
  QTest::keyClick(d.JpgTrackBar, Qt::Key_Home);
  EXPECT_EQ(d.JpgLabel->text(), "1");
}

TEST_F(OptionDlg, BrowsingForASoundStoresItRelativeInsideTheProgramFolder) {
  start();
  TOptionDlg& d = open();
  struct Case {
    QPushButton* button;
    QLineEdit* edit;
    QString before;    // the edit's text when browsing starts
    QString chosen;    // "" cancels
    QString startDir;  // where browsing starts
    QString after;     // the edit's text afterwards
  };
  const QString here = exeDir();
  const QString upper = here.left(1) + here.mid(1, 3).toUpper() + here.mid(4);
  const Case cases[] = {
      {d.RefChgSndBtn, d.ChgSndEdit, "ding.wav", here + "/snd/a.wav", here, "snd/a.wav"},
      {d.RefCapSndBtn, d.CapSndEdit, "/usr/share/sounds/x.oga", "/usr/share/sounds/y.ogg",
       "/usr/share/sounds/", "/usr/share/sounds/y.ogg"},
      // Linux names differ by case: another folder's file keeps its full path.
      {d.RefChgSndBtn, d.ChgSndEdit, "", upper + "/b.wav", here, upper + "/b.wav"},
      {d.RefCapSndBtn, d.CapSndEdit, "snd/c.wav", "", here + "/snd/", "snd/c.wav"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.chosen.toStdString());
    c.edit->setText(c.before);
    desktop.soundsPlayed.clear();
    asked.clear();
    answerOpen(c.chosen);
    c.button->click();
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_EQ(asked[0].Title, QString::fromUtf8("サウンドファイルの指定"));
    EXPECT_TRUE(asked[0].Filter.contains("*.wav"));
    EXPECT_TRUE(asked[0].Filter.contains("*.oga"));
    EXPECT_EQ(asked[0].InitialDir, c.startDir);
    EXPECT_EQ(c.edit->text(), c.after);
    // The chosen file is played by its full path; a cancel plays nothing.
    EXPECT_EQ(desktop.soundsPlayed, c.chosen.isEmpty()
                                        ? std::vector<std::string>{}
                                        : std::vector<std::string>{c.chosen.toStdString()});
  }
  // Trying a sound plays the edit's file; a relative one from the program's folder.
  desktop.soundsPlayed.clear();
  d.ChgSndEdit->setText("snd/a.wav");
  d.CapSndEdit->clear();
  d.TstChgSndBtn->click();
  d.TstCapSndBtn->click();
  EXPECT_EQ(desktop.soundsPlayed,
            (std::vector<std::string>{(here + "/snd/a.wav").toStdString(), ""}));
  // Kept relative, the capture sound still plays from that folder once stored.
  d.CapSndEdit->setText("snd/c.wav");
  ok();
  Bitmap picture;
  picture.allocate(2, 2, PixelFormat::Bgr24);
  const std::string png = (here + "/dropped.png").toStdString();
  ASSERT_TRUE(WicSaveImage(png, picture, 100, 0, 0));
  desktop.soundsPlayed.clear();
  form->WMDropFiles({png});
  EXPECT_EQ(desktop.soundsPlayed, std::vector<std::string>{(here + "/snd/c.wav").toStdString()});
}

TEST_F(OptionDlg, BrowsingForAProgramQuotesPathsWithBlanks) {
  start();
  TOptionDlg& d = open();
  d.CpyCmdEdit->setText("old -x");
  answerOpen("/opt/My Tools/run it");
  d.RefCpyCmdBtn->click();
  EXPECT_EQ(d.CpyCmdEdit->text(), "\"/opt/My Tools/run it\"");
  ASSERT_EQ(asked.size(), 1u);
  EXPECT_EQ(asked[0].Title, QString::fromUtf8("実行プログラムの指定"));
  answerOpen("/usr/bin/gimp");
  d.RefSavCmdBtn->click();
  EXPECT_EQ(d.SavCmdEdit->text(), "/usr/bin/gimp");
  answerOpen("");
  d.RefSavCmdBtn->click();
  EXPECT_EQ(d.SavCmdEdit->text(), "/usr/bin/gimp");
  EXPECT_TRUE(desktop.soundsPlayed.empty());
}

// The real file dialog: its title, and the filter's caption shown alone, as
// the user reads it, while the patterns still pick the files.
TEST_F(OptionDlg, FileDialogsShowTheirFilterCaptionsWithoutPatterns) {
  start();
  TOptionDlg& d = open();
  const QString folder = exeDir() + "/sounds";
  ASSERT_TRUE(QDir().mkpath(folder));
  for (const char* name : {"a.wav", "b.oga", "c.txt"})
    QFile(folder + "/" + name).open(QIODevice::WriteOnly);
  d.ChgSndEdit->setText(folder + "/a.wav");
  struct Seen {
    QString title, caption;
    QStringList files;
  };
  const auto browse = [](QPushButton* button) {
    Seen seen;
    QTimer::singleShot(0, [&] {
      auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
      if (!dialog) return;
      seen.title = dialog->windowTitle();
      if (auto* combo = dialog->findChild<QComboBox*>("fileTypeCombo"))
        seen.caption = combo->currentText();
      // The list fills in from a background thread: wait for it.
      auto* model = dialog->findChild<QFileSystemModel*>();
      QTest::qWaitFor(
          [&] {
            return model && model->rowCount(model->index(dialog->directory().absolutePath())) > 0;
          },
          5000);
      const QModelIndex root = model->index(dialog->directory().absolutePath());
      for (int row = 0; row < model->rowCount(root); ++row) {
        const QModelIndex i = model->index(row, 0, root);
        if (model->flags(i) & Qt::ItemIsEnabled) seen.files << i.data().toString();
      }
      dialog->reject();
    });
    button->click();
    seen.files.sort();
    return seen;
  };
  const Seen sound = browse(d.RefChgSndBtn);
  EXPECT_EQ(sound.title, QString::fromUtf8("サウンドファイルの指定"));
  EXPECT_EQ(sound.caption, QString::fromUtf8("WAVファイル"));
  EXPECT_EQ(sound.files, (QStringList{"a.wav", "b.oga"}));
  const Seen program = browse(d.RefCpyCmdBtn);
  EXPECT_EQ(program.title, QString::fromUtf8("実行プログラムの指定"));
  EXPECT_EQ(program.caption, QString::fromUtf8("実行ファイル"));
  EXPECT_EQ(d.ChgSndEdit->text(), folder + "/a.wav");
}

TEST_F(OptionDlg, TheMenuEntryShowsTheDialogModally) {
  TLumivoreForm& f = start();
  bool sawModal = false;
  QTimer::singleShot(0, [&] {
    sawModal = f.OptionDlg->isVisible() && QApplication::activeModalWidget() == f.OptionDlg;
    f.OptionDlg->HideWaitEdit->setText("321");
    f.OptionDlg->OKBtn->click();
  });
  f.OptionItemClick(f.OptionItem);
  EXPECT_TRUE(sawModal);
  EXPECT_EQ(f.FHideWait, 321);
}

TEST(SplitToListTest, AddsThePiecesUpToTheFirstEmptyOne) {
  struct Case {
    const char* text;
    QStringList items;
  };
  const Case cases[] = {
      {"a|bb|c", {"a", "bb", "c"}},
      {"alone", {"alone"}},
      {"a||b", {"a"}},
      {"|a", {}},
      {"a|b|", {"a", "b"}},
      {"", {}},
  };
  for (const Case& c : cases) {
    QComboBox box;
    box.addItem("kept");
    SplitToList(&box, c.text, "|");
    QStringList items;
    for (int i = 1; i < box.count(); ++i) items << box.itemText(i);
    EXPECT_EQ(items, c.items) << c.text;
    EXPECT_EQ(box.itemText(0), "kept");
  }
}

}  // namespace
}  // namespace lumivore
