#include <QAction>
#include <QDesktopServices>
#include <QLineEdit>
#include <QMenu>
#include <QPainter>
#include <QToolButton>
#include <QUrl>

#include "tests/handler/PictureFixture.h"

namespace lumivore {
namespace {

// Takes the addresses the program asks the desktop to open.
class UrlSink : public QObject {
  Q_OBJECT
 public:
  UrlSink() {
    for (const char* scheme : {"file", "https", "http"})
      QDesktopServices::setUrlHandler(scheme, this, "open");
  }
  ~UrlSink() override {
    for (const char* scheme : {"file", "https", "http"}) QDesktopServices::unsetUrlHandler(scheme);
  }
  Q_INVOKABLE void open(const QUrl& url) { opened.push_back(url); }
  std::vector<QUrl> opened;
};

class PopupMenu : public PictureFixture {
 protected:
  // One line per entry: depth marks, name, caption, Tag, enabled; hidden
  // entries are left out.
  static void Walk(const QMenu* menu, const QString& depth, QStringList& out) {
    for (QAction* a : menu->actions()) {
      if (!a->isVisible()) continue;
      if (a->isSeparator()) {
        out << depth + a->objectName() + " -";
        continue;
      }
      out << QString("%1%2 \"%3\" %4 %5")
                 .arg(depth, a->objectName(), a->text(), a->data().toString(),
                      a->isEnabled() ? "on" : "off");
      if (a->menu()) Walk(a->menu(), depth + ">", out);
    }
  }
  QStringList tree() {
    form->UpdateActions();
    QStringList out;
    Walk(form->PopupMenu1, "", out);
    return out;
  }
};

const char* const kFullTree[] = {
    "ChgSizeItem \"サイズ変更(&S)\" 0 %P",
    ">Size25Item \"25%\" 25 %P",
    ">Size50Item \"50%\" 50 %P",
    ">Size75Item \"75%\" 75 %P",
    ">Pop_s3 -",
    ">Size150Item \"150%\" 150 %P",
    ">Size200Item \"200%\" 200 %P",
    "TrimItem \"トリミング(&T)\" 0 %T",
    "ColorItem \"カラー(&C)\" 0 %P",
    ">Col2Item \"減色: モノクロ (&2)\" 2 on",
    ">Col16Item \"減色: 16色 (&4)\" 16 on",
    ">Col256Item \"減色: 256色 (&8)\" 256 on",
    ">Pop_s11 -",
    ">GrayItem \"グレースケール(&G)\" -2 on",
    ">SepiaItem \"セピア(&S)\" 0 on",
    ">Pos_s12 -",
    ">NegColItem \"ネガポジ反転(&N)\" 0 %P",
    "ImageItem \"イメージ(&I)\" 0 %P",
    ">RotR90Item \"右に90度回転 (R)\" 0 %P",
    ">RotL90Item \"左に90度回転 (&L)\" 1 %P",
    ">Pop_s21 -",
    ">RevLrItem \"左右反転\" 0 %P",
    ">RevTbItem \"上下反転\" 1 %P",
    ">Pop_s22 -",
    ">MosicItem \"モザイク(&M)\" 0 %P",
    ">>Mosic2Item \"サイズ=2 (&2)\" 2 %P",
    ">>Mosic4Item \"サイズ=4 (&4)\" 4 %P",
    ">>Mosic8Item \"サイズ=8 (&8)\" 8 %P",
    ">>Mosic12Item \"サイズ=12\" 12 %P",
    ">>Mosic16Item \"サイズ=16\" 0 %P",
    "MouseCsrItem \"カーソル貼り付け(&M) \" 0 %P",
    ">MouseCsrItemGrid \"\"  on",
    "UndoItem \"元に戻す(&U)\" 0 %U",
    "Pop_s1 -",
    "ShowItem \"表示(&V)\" 0 on",
    ">ShowClsItem \"クラス名を非表示(&C)\" 0 on",
    ">ShowTxtItem \"テキストを非表示(&T)\" 0 on",
    ">CapColItem \"杖位置のﾋﾟｸｾﾙ色取得(&P)\" 0 on",
    ">>HideColItem \"非表示(&0)\" 0 on",
    ">>ColFmt2Item \"10進 R,G,B(&1)\" 1 on",
    ">>ColFmt1Item \"COLORREF値(&2)\" 2 on",
    ">>ColFmt3Item \"HTML形式 (&3)\" 3 on",
    ">ShowSttBarItem \"ステータスバー非表示(&S)\" 0 on",
    ">Pop_s4 -",
    ">BgColItem \"背景色(&B)...\" 0 on",
    "OptionItem \"オプション設定(&O)\" 0 on",
    "Pop_s2 -",
    "HelpItem \"ヘルプ(&H)\" 0 on",
    "AboutItem \"バージョン情報(&A)\" 0 on",
    ">AbautInf1Item \"\" 1001 on",
    ">AboutInf2Item \"\" 1002 on",
    ">GoWebItem \"Webページへ(&H)\" 0 on",
};

// The expected tree; %P, %T and %U stand for the states of the editing
// submenus and the commands that need a picture, trim and undo; `shortForm`
// leaves out View, Options and About. The reductions and sepia are enabled by
// the picture's storage format alone: without a picture their submenu is
// what is disabled. The cursor shapes are one grid entry.
QStringList Expected(bool picture, bool trim, bool undo, bool shortForm) {
  QStringList out;
  bool skipping = false;
  for (QString line : kFullTree) {
    const bool top = !line.startsWith('>');
    if (top) {
      skipping = shortForm && (line.startsWith("ShowItem") || line.startsWith("OptionItem") ||
                               line.startsWith("AboutItem"));
    }
    if (skipping) continue;
    line.replace("%P", picture ? "on" : "off");
    line.replace("%T", trim ? "on" : "off");
    line.replace("%U", undo ? "on" : "off");
    out << line;
  }
  return out;
}

// Compares line by line, so a failure names the entries that differ.
void ExpectTree(const QStringList& actual, const QStringList& expected) {
  for (qsizetype i = 0; i < std::max(actual.size(), expected.size()); ++i)
    EXPECT_EQ(actual.value(i).toStdString(), expected.value(i).toStdString()) << "line " << i;
}

TEST_F(PopupMenu, MenuButton_OpensTheWholeTreeWithEditingDisabledWithoutPicture) {
  TLumivoreForm& f = start();
  f.move(40, 40);
  QApplication::processEvents();
  f.MenuBtn->click();
  ASSERT_TRUE(f.PopupMenu1->isVisible());
  ExpectTree(tree(), Expected(false, false, false, false));
  // The first entry's caption is drawn with its accelerator letter.
  EXPECT_EQ(f.UndoItem->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_Z));
}

TEST_F(PopupMenu, WithPictureAndSelection_EnablesTheEditingSubmenusAndTrim) {
  TLumivoreForm& f = withPicture(200, 100);
  f.FSelRect = Rect{1, 1, 50, 50};
  f.PlaceSelShape();
  f.MenuBtn->click();
  ExpectTree(tree(), Expected(true, true, false, false));
  f.PopupMenu1->close();
  f.TrimItem->trigger();
  ExpectTree(tree(), Expected(true, false, true, false));
}

TEST_F(PopupMenu, ShortAndFullForm_SwitchWithTheWayTheMenuOpens) {
  TLumivoreForm& f = withPicture(200, 100);
  f.ShowMenu(f.SelShape);
  ExpectTree(tree(), Expected(true, false, false, true));
  // The two separators that meet show as one line.
  const bool oneHidden = f.PopupMenu1->actionGeometry(f.Pop_s1).isEmpty() !=
                         f.PopupMenu1->actionGeometry(f.Pop_s2).isEmpty();
  EXPECT_TRUE(oneHidden);
  f.PopupMenu1->close();
  f.MenuBtn->click();
  ExpectTree(tree(), Expected(true, false, false, false));
  f.PopupMenu1->close();
  f.ShowMenu(f.ScrollBox1);
  ExpectTree(tree(), Expected(true, false, false, true));
}

TEST_F(PopupMenu, MenuButton_OpensAtTheSamePlaceWhereverThePointerIs) {
  TLumivoreForm& f = start();
  f.move(40, 40);
  QApplication::processEvents();
  const QPoint expected = f.ToolBar1->mapToGlobal(QPoint(f.MenuBtn->x() + 16, 16));
  for (Point pointer : {Point{0, 0}, Point{700, 500}, Point{60, 60}}) {
    desktop.pointer = pointer;
    f.MenuBtn->click();
    EXPECT_EQ(f.PopupMenu1->pos(), expected);
    f.PopupMenu1->close();
  }
  // A right click opens at the pointer.
  desktop.pointer = Point{300, 200};
  f.ShowMenu(f.ScrollBox1);
  EXPECT_EQ(f.PopupMenu1->pos(), QPoint(300, 200));
}

// The same captions in a menu of the library's own, for the default sizes.
QSize DefaultSize(const QMenu* like, QAction* entry) {
  QMenu plain;
  plain.setFont(like->font());
  QList<QAction*> copies;
  for (QAction* a : like->actions()) {
    QAction* c = a->isSeparator() ? plain.addSeparator() : plain.addAction(a->text());
    if (a->menu()) c->setMenu(new QMenu(&plain));
    c->setShortcut(a->shortcut());
    c->setVisible(a->isVisible());
    copies << c;
  }
  plain.adjustSize();
  return plain.actionGeometry(copies[like->actions().indexOf(entry)]).size();
}

TEST_F(PopupMenu, MeasuredEntries_AreEightWiderAndTwoTaller) {
  TLumivoreForm& f = start();
  struct Entry {
    QMenu* menu;
    QAction* item;
    bool measured;
  };
  const Entry entries[] = {{f.ChgSizeItem, f.Size25Item, true},
                           {f.ChgSizeItem, f.Size200Item, true},
                           {f.ColorItem, f.Col2Item, true},
                           {f.ColorItem, f.GrayItem, false},
                           {f.ImageItem, f.RotR90Item, false},
                           {f.MosicItem, f.Mosic12Item, false},
                           {f.CapColItem, f.ColFmt3Item, true},
                           {f.ShowItem, f.BgColItem, true},
                           {f.PopupMenu1, f.TrimItem, true},
                           {f.PopupMenu1, f.UndoItem, false},
                           {f.PopupMenu1, f.HelpItem, false},
                           {f.PopupMenu1, f.ChgSizeItem->menuAction(), true},
                           {f.PopupMenu1, f.ImageItem->menuAction(), false}};
  for (const Entry& e : entries) {
    e.menu->adjustSize();
    const QSize plain = DefaultSize(e.menu, e.item);
    const QSize own = e.menu->actionGeometry(e.item).size();
    EXPECT_EQ(own.height(), plain.height() + (e.measured ? 2 : 0))
        << e.item->objectName().toStdString();
    // The menu is as wide as its widest entry: in menus where every entry is
    // measured the width grows by 8.
    if (e.menu == f.ChgSizeItem || e.menu == f.CapColItem) {
      EXPECT_EQ(own.width(), plain.width() + 8) << e.item->objectName().toStdString();
    }
    if (e.menu == f.ImageItem || e.menu == f.MosicItem) {
      EXPECT_EQ(own.width(), plain.width()) << e.item->objectName().toStdString();
    }
  }
  f.AboutItem->adjustSize();
  const QFontMetrics fm(f.AboutItem->font());
  EXPECT_GE(f.AboutItem->actionGeometry(f.AbautInf1Item).width(),
            fm.horizontalAdvance(" Version 0.00") + 44);
}

TEST_F(PopupMenu, VersionText_UsesTheLocaleDecimalSeparator) {
  EXPECT_EQ(TLumivoreForm::VersionText(155), "Version 1.55");
  EXPECT_EQ(TLumivoreForm::VersionText(200), "Version 2.00");
  QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
  EXPECT_EQ(TLumivoreForm::VersionText(155), "Version 1,55");
  QLocale::setDefault(QLocale::c());
}

// Pixels of r more than half covered by white writing on black: the count
// does not hang on how a font's edges are smoothed.
int WhitePixels(const QImage& img, const QRect& r) {
  int n = 0;
  for (int y = r.top(); y <= r.bottom(); ++y)
    for (int x = r.left(); x <= r.right(); ++x) n += qGray(img.pixel(x, y)) >= 128;
  return n;
}

// `text` written in white on black, its cell's top-left corner at `at`.
QImage TextOnBlack(QSize size, const QFont& font, QPoint at, const QString& text) {
  QImage out(size, QImage::Format_RGB32);
  out.fill(Qt::black);
  QPainter p(&out);
  p.setFont(font);
  p.setPen(Qt::white);
  p.drawText(at.x(), at.y() + p.fontMetrics().ascent(), text);
  return out;
}

TEST_F(PopupMenu, AboutEntries_DrawNameVersionIconAndOneSunkenBox) {
  TLumivoreForm& f = start();
  f.AboutItem->popup(QPoint(50, 50));
  QApplication::processEvents();
  const QImage img = f.AboutItem->grab().toImage().convertToFormat(QImage::Format_RGB32);
  const QRect r1 = f.AboutItem->actionGeometry(f.AbautInf1Item);
  const QRect r2 = f.AboutItem->actionGeometry(f.AboutInf2Item);
  ASSERT_EQ(r1.bottom() + 1, r2.top());
  ASSERT_GE(r1.height(), 16);

  // Black behind everything: a point right of the texts, inside the box.
  EXPECT_EQ(img.pixelColor(r1.right() - 3, r1.center().y()), QColor(Qt::black));
  EXPECT_EQ(img.pixelColor(r2.right() - 3, r2.center().y()), QColor(Qt::black));
  // White writing where the name and the version stand, nowhere left of them
  // but the icon.
  const QRect name(r1.left() + 44, r1.top() + 2, r1.width() - 50, r1.height() - 3);
  const QRect version(r2.left() + 48, r2.top() + 2, r2.width() - 54, r2.height() - 4);
  EXPECT_GT(WhitePixels(img, name), 10);
  EXPECT_GT(WhitePixels(img, version), 10);
  // Exactly those texts, in the menu's font (the name in bold), at their places.
  QFont bold = f.AboutItem->font();
  bold.setBold(true);
  EXPECT_EQ(img.copy(name),
            TextOnBlack(r1.size(), bold, {44, 2}, "Lumivore").copy(name.translated(-r1.topLeft())));
  EXPECT_EQ(img.copy(version),
            TextOnBlack(r2.size(), f.AboutItem->font(), {48, 2}, TLumivoreForm::VersionText(155))
                .copy(version.translated(-r2.topLeft())));
  // The bold name is heavier than the same text would be in the plain font.
  QImage plainName(200, 40, QImage::Format_RGB32);
  plainName.fill(Qt::black);
  {
    QPainter p(&plainName);
    p.setFont(f.AboutItem->font());
    p.setPen(Qt::white);
    p.drawText(QPoint(0, 30), "Lumivore");
  }
  EXPECT_GT(WhitePixels(img, name), WhitePixels(plainName, plainName.rect()));

  // The icon: its upper half at the bottom of the first entry, its lower half
  // at the top of the second, both over black.
  QImage icon(32, 32, QImage::Format_RGB32);
  icon.fill(Qt::black);
  {
    QPainter p(&icon);
    p.drawPixmap(0, 0, f.windowIcon().pixmap(32, 32));
  }
  const QPoint iconAt(r1.left() + 4, r2.top() - 16);
  int differing = 0;
  for (int y = 1; y < 31; ++y)
    for (int x = 1; x < 31; ++x) differing += img.pixel(iconAt + QPoint(x, y)) != icon.pixel(x, y);
  EXPECT_EQ(differing, 0);
  EXPECT_NE(icon.copy(0, 0, 32, 16), icon.copy(0, 16, 32, 16)) << "halves should differ";

  // One sunken box around both: shadow on the left and top, light on the
  // right and bottom, no line between the entries.
  const QRgb shadow = f.palette().color(QPalette::Dark).rgb();
  const QRgb light = f.palette().color(QPalette::Light).rgb();
  ASSERT_NE(shadow, light);
  for (int y : {r1.top() + 1, r1.bottom(), r2.top(), r2.bottom() - 1}) {
    EXPECT_EQ(img.pixel(r1.left(), y), shadow) << y;
    EXPECT_EQ(img.pixel(r1.right(), y), light) << y;
  }
  EXPECT_EQ(img.pixel(r1.center().x(), r1.top()), shadow);
  EXPECT_EQ(img.pixel(r2.center().x(), r2.bottom()), light);
  EXPECT_EQ(img.pixel(r1.right() - 3, r1.bottom()), QColor(Qt::black).rgb());
  EXPECT_EQ(img.pixel(r2.right() - 3, r2.top()), QColor(Qt::black).rgb());

  // Highlighting an entry does not change its look.
  f.AboutItem->setActiveAction(f.AbautInf1Item);
  QApplication::processEvents();
  EXPECT_EQ(f.AboutItem->grab().toImage().convertToFormat(QImage::Format_RGB32).copy(r1),
            img.copy(r1));
}

TEST_F(PopupMenu, HelpWebAndF1_OpenTheHelpFileAndTheWebPage) {
  UrlSink sink;
  TLumivoreForm& f = start();
  f.HelpItem->trigger();
  f.GoWebItem->trigger();
  ASSERT_EQ(sink.opened.size(), 2u);
  EXPECT_EQ(sink.opened[0], QUrl::fromLocalFile(dir_.filePath("lumivore.CHM")));
  EXPECT_EQ(sink.opened[1], QUrl("https://lumivore.example/"));

  // F1 in the window and in the open menu.
  QTest::keyClick(f.ClsNamEdit, Qt::Key_F1);
  f.move(40, 40);
  f.MenuBtn->click();
  QTest::keyClick(f.PopupMenu1, Qt::Key_F1);
  ASSERT_EQ(sink.opened.size(), 4u);
  EXPECT_EQ(sink.opened[2], sink.opened[0]);
  EXPECT_EQ(sink.opened[3], sink.opened[0]);
  // Other keys are not help requests.
  QTest::keyClick(f.ClsNamEdit, Qt::Key_F2);
  EXPECT_EQ(sink.opened.size(), 4u);
}

TEST_F(PopupMenu, UndoEntry_RunsTheUndoAction) {
  TLumivoreForm& f = withPicture(50, 40);
  f.PushUndo();
  f.FWorkImage.clear();
  f.ShowWorkingImage();
  f.UpdateActions();
  ASSERT_TRUE(f.UndoItem->isEnabled());
  f.UndoItem->trigger();
  EXPECT_EQ(f.FWorkImage.width(), 50);
  EXPECT_FALSE(f.UndoItem->isEnabled());
  // Ctrl+Z in the window, with the entry showing the same shortcut, undoes once.
  f.PushUndo();
  f.PushUndo();
  f.FWorkImage.clear();
  f.UpdateActions();
  f.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&f));
  QTest::keyClick(&f, Qt::Key_Z, Qt::ControlModifier);
  EXPECT_EQ(f.FWorkImage.width(), 50);
  EXPECT_EQ(f.FUndoList.size(), 1);
}

}  // namespace
}  // namespace lumivore

#include "PopupMenuTest.moc"
