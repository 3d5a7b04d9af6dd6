// The popup menu with every command of the program, its two owner-drawn about
// entries, the help file and the project's web page.
#include <QAction>
#include <QDesktopServices>
#include <QKeyEvent>
#include <QLocale>
#include <QPainter>
#include <QToolButton>
#include <QUrl>

#include "app/DevicePixels.h"
#include "app/Unit1.h"
#include "options/Unit2.h"
#include "ui/OwnerDrawMenu.h"

namespace lumivore {

namespace {

// The project's web page, opened by "Webページへ(&H)".
constexpr char kWebPageUrl[] = "https://lumivore.example/";

constexpr int kMainWindowHelp = 3;
constexpr int kPopupMenuHelp = 4;
constexpr int kAboutNameTag = 1001;
constexpr int kAboutVersionTag = 1002;

// The entry shows its action's caption and enabled state and runs the action
// when clicked, as a menu item bound to an action does.
void LinkToAction(QAction* item, QAction* action) {
  auto follow = [item, action] {
    item->setText(action->text());
    item->setEnabled(action->isEnabled());
  };
  follow();
  QObject::connect(action, &QAction::changed, item, follow);
  QObject::connect(item, &QAction::triggered, action, &QAction::trigger);
}

// A raised-or-sunken edge of one pixel, drawn along the chosen sides of r: the
// shadow colour on the left and top, the highlight on the right and bottom.
void DrawSunkenOuterEdge(QPainter& p, const QRect& r, Qt::Edges sides, const QPalette& pal) {
  const QColor shadow = pal.color(QPalette::Dark);
  const QColor light = pal.color(QPalette::Light);
  if (sides & Qt::LeftEdge) p.fillRect(r.left(), r.top(), 1, r.height(), shadow);
  if (sides & Qt::TopEdge) p.fillRect(r.left(), r.top(), r.width(), 1, shadow);
  if (sides & Qt::RightEdge) p.fillRect(r.right(), r.top(), 1, r.height(), light);
  if (sides & Qt::BottomEdge) p.fillRect(r.left(), r.bottom(), r.width(), 1, light);
}

// Writes text with its cell's top-left corner at (x, y).
void TextOut(QPainter& p, int x, int y, const QString& text) {
  p.drawText(x, y + p.fontMetrics().ascent(), text);
}

}  // namespace

void TLumivoreForm::BuildPopupMenu() {
  auto* root = new TPopupMenu(this);
  root->setObjectName("PopupMenu1");
  PopupMenu1 = root;

  auto measure = [this](TPopupMenu* menu, QAction* item) {
    menu->setOnMeasureItem(item, [this](QAction* sender, const QFontMetrics& canvas, int& w,
                                        int& h) { PopMeasureItem(sender, canvas, w, h); });
  };
  auto submenu = [&](TPopupMenu* parent, QMenu*& field, const char* name, const char* caption,
                     bool measured) {
    TPopupMenu* sub = parent->addSubmenu(QString::fromUtf8(caption));
    sub->setObjectName(name);
    sub->menuAction()->setObjectName(name);
    sub->menuAction()->setData(0);
    if (measured) measure(parent, sub->menuAction());
    field = sub;
    return sub;
  };
  auto item = [&](TPopupMenu* parent, QAction*& field, const char* name, const char* caption,
                  int tag, bool measured, QAction* action = nullptr,
                  void(TLumivoreForm::*click)(QAction*) = nullptr) {
    auto* a = parent->addAction(QString::fromUtf8(caption));
    a->setObjectName(name);
    a->setData(tag);
    if (action) LinkToAction(a, action);
    if (click) connect(a, &QAction::triggered, this, [this, a, click] { (this->*click)(a); });
    if (measured) measure(parent, a);
    field = a;
    return a;
  };
  auto separator = [&](TPopupMenu* parent, QAction*& field, const char* name) {
    field = parent->addSeparator();
    field->setObjectName(name);
  };

  TPopupMenu* m = submenu(root, ChgSizeItem, "ChgSizeItem", "サイズ変更(&S)", true);
  item(m, Size25Item, "Size25Item", "25%", 25, true, Resize25Action);
  item(m, Size50Item, "Size50Item", "50%", 50, true, Resize50Action);
  item(m, Size75Item, "Size75Item", "75%", 75, true, Resize75Action);
  separator(m, Pop_s3, "Pop_s3");
  item(m, Size150Item, "Size150Item", "150%", 150, true, Resize150Action);
  item(m, Size200Item, "Size200Item", "200%", 200, true, Resize200Action);
  item(root, TrimItem, "TrimItem", "トリミング(&T)", 0, true, TrimAction);

  m = submenu(root, ColorItem, "ColorItem", "カラー(&C)", true);
  item(m, Col2Item, "Col2Item", "減色: モノクロ (&2)", 2, true, Reduce2Action);
  item(m, Col16Item, "Col16Item", "減色: 16色 (&4)", 16, true, Reduce16Action);
  item(m, Col256Item, "Col256Item", "減色: 256色 (&8)", 256, true, Reduce256Action);
  separator(m, Pop_s11, "Pop_s11");
  item(m, GrayItem, "GrayItem", "グレースケール(&G)", -2, false, GrayAction);
  item(m, SepiaItem, "SepiaItem", "セピア(&S)", 0, false, SepiaAction);
  separator(m, Pos_s12, "Pos_s12");
  item(m, NegColItem, "NegColItem", "ネガポジ反転(&N)", 0, false, NegColAction);

  m = submenu(root, ImageItem, "ImageItem", "イメージ(&I)", false);
  item(m, RotR90Item, "RotR90Item", "右に90度回転 (R)", 0, false, RotateRAction);
  item(m, RotL90Item, "RotL90Item", "左に90度回転 (&L)", 1, false, RotateLAction);
  separator(m, Pop_s21, "Pop_s21");
  item(m, RevLrItem, "RevLrItem", "左右反転", 0, false, ReverseLRAction);
  item(m, RevTbItem, "RevTbItem", "上下反転", 1, false, ReverseULAction);
  separator(m, Pop_s22, "Pop_s22");
  TPopupMenu* mosaic = submenu(m, MosicItem, "MosicItem", "モザイク(&M)", false);
  item(mosaic, Mosic2Item, "Mosic2Item", "サイズ=2 (&2)", 2, false, MosicI2Action);
  item(mosaic, Mosic4Item, "Mosic4Item", "サイズ=4 (&4)", 4, false, MosicI4Action);
  item(mosaic, Mosic8Item, "Mosic8Item", "サイズ=8 (&8)", 8, false, MosicI8Action);
  item(mosaic, Mosic12Item, "Mosic12Item", "サイズ=12", 12, false, MosicI12Action);
  item(mosaic, Mosic16Item, "Mosic16Item", "サイズ=16", 0, false, MosicI16Action);

  // The cursor entries are added by the cursor stamp.
  submenu(root, MouseCsrItem, "MouseCsrItem", "カーソル貼り付け(&M) ", false);
  item(root, UndoItem, "UndoItem", "元に戻す(&U)", 0, false, UndoAction);
  // Shown in the entry; while the menu has the focus Ctrl+Z reaches the entry,
  // otherwise the window's own shortcut of the action.
  UndoItem->setShortcut(UndoAction->shortcut());
  UndoItem->setShortcutContext(Qt::WidgetShortcut);
  separator(root, Pop_s1, "Pop_s1");

  m = submenu(root, ShowItem, "ShowItem", "表示(&V)", true);
  item(m, ShowClsItem, "ShowClsItem", "", 0, true, ShowClassAction);
  item(m, ShowTxtItem, "ShowTxtItem", "", 0, true, ShowTextAction);
  TPopupMenu* format = submenu(m, CapColItem, "CapColItem", "杖位置のﾋﾟｸｾﾙ色取得(&P)", true);
  const auto colFmt = &TLumivoreForm::ColFmtItemClick;
  item(format, HideColItem, "HideColItem", "非表示(&0)", 0, true, nullptr, colFmt);
  item(format, ColFmt2Item, "ColFmt2Item", "10進 R,G,B(&1)", 1, true, nullptr, colFmt);
  item(format, ColFmt1Item, "ColFmt1Item", "COLORREF値(&2)", 2, true, nullptr, colFmt);
  item(format, ColFmt3Item, "ColFmt3Item", "HTML形式 (&3)", 3, true, nullptr, colFmt);
  item(m, ShowSttBarItem, "ShowSttBarItem", "", 0, true, ShowSttBarAction);
  separator(m, Pop_s4, "Pop_s4");
  item(m, BgColItem, "BgColItem", "背景色(&B)...", 0, true, nullptr,
       &TLumivoreForm::BgColItemClick);

  item(root, OptionItem, "OptionItem", "オプション設定(&O)", 0, false, nullptr,
       &TLumivoreForm::OptionItemClick);
  separator(root, Pop_s2, "Pop_s2");
  item(root, HelpItem, "HelpItem", "ヘルプ(&H)", 0, false, nullptr, &TLumivoreForm::HelpItemClick);
  m = submenu(root, AboutItem, "AboutItem", "バージョン情報(&A)", true);
  for (QAction** about : {&AbautInf1Item, &AboutInf2Item}) {
    const bool first = about == &AbautInf1Item;
    item(m, *about, first ? "AbautInf1Item" : "AboutInf2Item", "",
         first ? kAboutNameTag : kAboutVersionTag, true);
    m->setOnDrawItem(*about,
                     [this](QAction* sender, QPainter& canvas, const QRect& rect, bool selected) {
                       AbautItemDrawItem(sender, canvas, rect, selected);
                     });
  }
  item(m, GoWebItem, "GoWebItem", "Webページへ(&H)", 0, true, nullptr,
       &TLumivoreForm::GoWebItemClick);

  // Enabled states and captions are brought up to date before any menu shows;
  // F1 inside any of them asks for the menu's help context.
  QList<QMenu*> menus = root->findChildren<QMenu*>();
  menus.append(root);
  for (QMenu* menu : menus) {
    menu->setProperty("helpContext", kPopupMenuHelp);
    connect(menu, &QMenu::aboutToShow, this, [this] { UpdateActions(); });
  }
  setProperty("helpContext", kMainWindowHelp);
  EditingSubmenus = {ChgSizeItem, ColorItem, ImageItem, MouseCsrItem};
  EditingSubmenuActions = {ChgSizeItem->menuAction(), ColorItem->menuAction(),
                           ImageItem->menuAction(), MouseCsrItem->menuAction()};
  connect(MenuBtn, &QToolButton::clicked, this, [this] { ShowMenu(MenuBtn); });
}

void TLumivoreForm::ShowMenu(QObject* sender) {
  // A drawing or a move cannot go on under an open menu: it takes the pointer.
  CancelSelGestures();
  QPoint at;
  const bool full = qobject_cast<QToolButton*>(sender) != nullptr;
  if (full) {
    at = ToolBar1->mapToGlobal(QPoint(MenuBtn->x() + 16, 16));
  } else {
    at = LogicalPoint(platform_.cursorPos());
  }
  // The right-click form: only the editing entries, undo and help.
  ShowItem->menuAction()->setVisible(full);
  OptionItem->setVisible(full);
  AboutItem->menuAction()->setVisible(full);
  PopupMenu1->popup(at);
}

void TLumivoreForm::PopMeasureItem(QAction* sender, const QFontMetrics& canvas, int& width,
                                   int& height) {
  if (sender->data().toInt() <= 1000) {
    width += 8;
  } else {
    width = std::max(width, canvas.horizontalAdvance(" Version 0.00") + 44);
  }
  height += 2;
}

void TLumivoreForm::AbautItemDrawItem(QAction* sender, QPainter& canvas, const QRect& rect, bool) {
  canvas.fillRect(rect, Qt::black);
  // The icon straddles both entries: drawn 16 pixels above their common edge,
  // each entry shows the half that falls inside it.
  const QPixmap icon = windowIcon().pixmap(32, 32);
  const int bottom = rect.bottom() + 1;
  switch (sender->data().toInt()) {
    case kAboutNameTag: {
      canvas.drawPixmap(rect.left() + 4, bottom - 16, icon);
      QFont bold = canvas.font();
      bold.setBold(true);
      canvas.setFont(bold);
      canvas.setPen(Qt::white);
      TextOut(canvas, rect.left() + 44, rect.top() + 2, "Lumivore");
      DrawSunkenOuterEdge(canvas, rect, Qt::LeftEdge | Qt::TopEdge | Qt::RightEdge, palette());
      break;
    }
    case kAboutVersionTag:
      canvas.drawPixmap(rect.left() + 4, rect.top() - 16, icon);
      canvas.setPen(Qt::white);
      TextOut(canvas, rect.left() + 48, rect.top() + 2, VersionText(FVersion));
      DrawSunkenOuterEdge(canvas, rect, Qt::LeftEdge | Qt::RightEdge | Qt::BottomEdge, palette());
      break;
    default:
      break;
  }
}

QString TLumivoreForm::VersionText(int version) {
  return "Version " + QLocale().toString(version * 0.01, 'f', 2);
}

void TLumivoreForm::OptionItemClick(QAction*) { OptionDlg->exec(); }

QString TLumivoreForm::helpFileName() const { return QString::fromStdString(location_.helpFile); }

void TLumivoreForm::ShowHelpContext(int) {
  // Desktop help viewers take a file, not a context number: every context
  // opens the help file at its first page. Without a viewer nothing happens.
  QDesktopServices::openUrl(QUrl::fromLocalFile(helpFileName()));
}

void TLumivoreForm::HelpItemClick(QAction*) { ShowHelpContext(0); }

void TLumivoreForm::GoWebItemClick(QAction*) { QDesktopServices::openUrl(QUrl(kWebPageUrl)); }

bool TLumivoreForm::ContextHelpKey(QObject* watched, QEvent* e) {
  if (e->type() != QEvent::KeyPress || static_cast<QKeyEvent*>(e)->key() != Qt::Key_F1 ||
      !watched->isWidgetType())
    return false;
  const int context = static_cast<QWidget*>(watched)->window()->property("helpContext").toInt();
  if (context <= 0) return false;
  ShowHelpContext(context);
  return true;
}

}  // namespace lumivore
