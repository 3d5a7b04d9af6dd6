#include <QAction>
#include <QColorDialog>
#include <QLineEdit>
#include <QMenu>
#include <QTimer>
#include <QToolButton>

#include "tests/handler/PictureFixture.h"

namespace lumivore {
namespace {

using ViewToggles = PictureFixture;

struct ToggleCase {
  const char* name;
  QAction* TLumivoreForm::*item;
  QWidget* (*row)(TLumivoreForm&);
  const char* hideCaption;
  const char* showCaption;
};

class ViewToggle : public ViewToggles, public ::testing::WithParamInterface<ToggleCase> {};

TEST_P(ViewToggle, CaptionTellsWhatTheEntryWillDo) {
  const ToggleCase& c = GetParam();
  TLumivoreForm& f = start();
  QAction* item = f.*c.item;
  QWidget* row = c.row(f);
  f.ShowItem->popup(QPoint(10, 10));
  EXPECT_EQ(item->text(), QString::fromUtf8(c.hideCaption));
  const int imageArea = f.ScrollBox1->height();
  const int rowHeight = row->height();
  item->trigger();
  QApplication::processEvents();
  EXPECT_FALSE(row->isVisible());
  f.UpdateActions();
  EXPECT_EQ(item->text(), QString::fromUtf8(c.showCaption));
  // The image area takes the row's height; the window keeps its size.
  EXPECT_EQ(f.ScrollBox1->height(), imageArea + rowHeight);
  item->trigger();
  QApplication::processEvents();
  f.UpdateActions();
  EXPECT_TRUE(row->isVisible());
  EXPECT_EQ(item->text(), QString::fromUtf8(c.hideCaption));
  EXPECT_EQ(f.ScrollBox1->height(), imageArea);
}

INSTANTIATE_TEST_SUITE_P(
    ViewToggles, ViewToggle,
    ::testing::Values(ToggleCase{"ClassName", &TLumivoreForm::ShowClsItem,
                                 [](TLumivoreForm& f) -> QWidget* { return f.ClsNamPanel; },
                                 "クラス名を非表示(&C)", "クラス名を表示(&C)"},
                      ToggleCase{"WindowText", &TLumivoreForm::ShowTxtItem,
                                 [](TLumivoreForm& f) -> QWidget* { return f.WndTxtPanel; },
                                 "テキストを非表示(&T)", "テキストを表示(&T)"},
                      ToggleCase{"StatusBar", &TLumivoreForm::ShowSttBarItem,
                                 [](TLumivoreForm& f) -> QWidget* { return f.StatusBar1; },
                                 "ステータスバー非表示(&S)", "ステータスバー表示(&S)"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ViewToggles, AllRowsHiddenAndShown_ComeBackInTheirPlaces) {
  TLumivoreForm& f = start();
  f.ColFmt2Item->trigger();
  QApplication::processEvents();
  const QList<QWidget*> rows = {f.ToolPanel,   f.ClsNamPanel, f.WndTxtPanel,
                                f.PixColPanel, f.ScrollBox1,  f.StatusBar1};
  QList<QRect> before;
  for (QWidget* w : rows) before << w->geometry();
  f.ShowClsItem->trigger();
  f.ShowTxtItem->trigger();
  f.ShowSttBarItem->trigger();
  f.HideColItem->trigger();
  QApplication::processEvents();
  // Only the tool bar and the image area are left.
  EXPECT_EQ(f.ScrollBox1->geometry(),
            QRect(0, f.ToolPanel->height(), f.width(), f.height() - f.ToolPanel->height()));
  f.ShowSttBarItem->trigger();
  f.ColFmt3Item->trigger();
  f.ShowTxtItem->trigger();
  f.ShowClsItem->trigger();
  QApplication::processEvents();
  for (qsizetype i = 0; i < rows.size(); ++i)
    EXPECT_EQ(rows[i]->geometry(), before[i]) << rows[i]->objectName().toStdString();
}

TEST_F(ViewToggles, ColourFormat_ShowsOrHidesThePixelRowKeepingItsText) {
  TLumivoreForm& f = start();
  f.ColValEdit->setText("255,  0,  0");
  struct Step {
    QAction* item;
    int format;
  };
  for (const Step& s : {Step{f.ColFmt3Item, 3}, Step{f.HideColItem, 0}, Step{f.ColFmt2Item, 1},
                        Step{f.ColFmt1Item, 2}, Step{f.HideColItem, 0}, Step{f.ColFmt3Item, 3}}) {
    s.item->trigger();
    EXPECT_EQ(f.FColValFmt, s.format);
    EXPECT_EQ(f.PixColPanel->isVisible(), s.format > 0);
  }
  EXPECT_EQ(f.ColValEdit->text(), "255,  0,  0");
  closeForm();
  EXPECT_EQ(iniValue("General", "ColValFmt"), "3");
}

// Answers the colour dialog once it is open.
void AnswerColourDialog(const QColor& colour, bool accept) {
  QTimer::singleShot(0, [colour, accept] {
    auto* dialog = qobject_cast<QColorDialog*>(QApplication::activeModalWidget());
    ASSERT_NE(dialog, nullptr);
    dialog->setCurrentColor(colour);
    if (accept)
      dialog->accept();
    else
      dialog->reject();
  });
}

TEST_F(ViewToggles, BackgroundColour_EmptiesThePictureWithoutUndoStep) {
  TLumivoreForm& f = withPicture(60, 40);
  f.FSelRect = Rect{5, 5, 20, 20};
  f.PlaceSelShape();
  f.PushUndo();
  const QString statusBefore = status();
  QTest::qWait(150);
  ASSERT_TRUE(f.CopyBtn->isEnabled());

  AnswerColourDialog(QColor(0, 0, 255), false);
  f.BgColItem->trigger();
  EXPECT_EQ(f.FWorkImage.width(), 60);
  EXPECT_EQ(f.FImgBgColor, 0u);

  AnswerColourDialog(QColor(10, 20, 200), true);
  f.BgColItem->trigger();
  EXPECT_TRUE(f.FWorkImage.empty());
  EXPECT_EQ(f.FImgBgColor, 0xC8140Au);
  EXPECT_EQ(f.ScrollBox1->viewport()->palette().color(QPalette::Window), QColor(10, 20, 200));
  ASSERT_EQ(f.FViewBitmap.width(), f.Image1->width());
  ASSERT_EQ(f.FViewBitmap.height(), f.Image1->height());
  EXPECT_EQ(f.FViewBitmap.pixel(0, 0), MakeRgb(10, 20, 200));
  EXPECT_EQ(f.FViewBitmap.pixel(f.FViewBitmap.width() - 1, f.FViewBitmap.height() - 1),
            MakeRgb(10, 20, 200));
  // Nothing else changes: history, frame and status line stay.
  EXPECT_EQ(f.FUndoList.size(), 1);
  EXPECT_TRUE(f.SelShape->isVisible());
  EXPECT_EQ(status(), statusBefore);
  // The next tick greys out copy and save; the editing submenus follow.
  EXPECT_TRUE(QTest::qWaitFor([&] { return !f.CopyBtn->isEnabled(); }, 300));
  EXPECT_FALSE(f.SaveBtn->isEnabled());
  EXPECT_FALSE(f.ChgSizeItem->menuAction()->isEnabled());

  // The same colour again still empties a new picture.
  f.UndoItem->trigger();
  ASSERT_FALSE(f.FWorkImage.empty());
  AnswerColourDialog(QColor(10, 20, 200), true);
  f.BgColItem->trigger();
  EXPECT_TRUE(f.FWorkImage.empty());
  closeForm();
  EXPECT_EQ(iniValue("General", "ImgBgColor"), QString::number(0xC8140A));
}

}  // namespace
}  // namespace lumivore
