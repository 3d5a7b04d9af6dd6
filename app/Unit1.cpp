#include "app/Unit1.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QResizeEvent>
#include <QScreen>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>
#include <QWindow>
#include <algorithm>
#include <cmath>

#include "app/DevicePixels.h"
#include "app/IniFile.h"
#include "options/Unit2.h"
#include "ui/ScaledPictures.h"
#include "ui/UiFont.h"
#include "util/Userfunc.h"

namespace lumivore {

namespace {

// The designed client width the anchors of every panel refer to.
constexpr int kDesignWidth = 294;
const QColor kTeal(0, 128, 128);

QImage WrapBitmap(const Bitmap& b) {
  return QImage(b.bits(), b.width(), b.height(), static_cast<qsizetype>(b.stride()),
                QImage::Format_RGB32);
}

}  // namespace

// ---------------------------------------------------------------------------

TPanel::TPanel(QWidget* parent, int designWidth) : QFrame(parent), designWidth_(designWidth) {}

void TPanel::place(QWidget* child, int left, int top, int width, int height, Anchor anchor) {
  placed_.append({child, left, top, width, height, anchor});
  child->setGeometry(left, top, width, height);
}

void TPanel::resizeEvent(QResizeEvent* e) {
  QFrame::resizeEvent(e);
  const int grow = width() - designWidth_;
  for (const Placed& p : placed_) {
    switch (p.anchor) {
      case Left:
        p.child->setGeometry(p.left, p.top, p.width, p.height);
        break;
      case Right:
        p.child->setGeometry(p.left + grow, p.top, p.width, p.height);
        break;
      case Stretch:
        p.child->setGeometry(p.left, p.top, std::max(0, p.width + grow), p.height);
        break;
    }
  }
}

TImageView::TImageView(QWidget* parent, const Bitmap& bitmap) : QWidget(parent), bitmap_(bitmap) {
  setAttribute(Qt::WA_OpaquePaintEvent, false);
}

void TImageView::paintEvent(QPaintEvent*) {
  if (bitmap_.empty()) return;
  QPainter painter(this);
  // Drawn in screen pixels, not scaled by the screen's factor: neither
  // smoothed nor blown up.
  PaintInDevicePixels(painter);
  painter.drawImage(0, 0, WrapBitmap(bitmap_));
}

QPoint TImageView::pictureAt(const QWidget* w, const QMouseEvent& e) const {
  return WindowPixelAt(w, e) - WindowPixelOf(this);
}

QRect TImageView::logicalCover(const QWidget* w, const Rect& r) const {
  const qreal scale = ScaleOf(this);
  const QPoint origin = WindowPixelOf(this);
  const QPoint offset = w->mapTo(window(), QPoint(0, 0));
  const int left = static_cast<int>(std::floor((origin.x() + r.left) / scale));
  const int top = static_cast<int>(std::floor((origin.y() + r.top) / scale));
  const int right = static_cast<int>(std::ceil((origin.x() + r.right) / scale));
  const int bottom = static_cast<int>(std::ceil((origin.y() + r.bottom) / scale));
  return QRect(left - offset.x(), top - offset.y(), right - left, bottom - top);
}

TShape::TShape(QWidget* parent, const TImageView& view) : QWidget(parent), view_(view) {}

void TShape::place(const Rect& r) {
  picture_ = r;
  setGeometry(view_.logicalCover(parentWidget(), r));
  update();
}

void TShape::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  // The outline lies on the picture's own pixels, which need not fall on
  // the frame's logical edges at a screen's scale.
  PaintInDevicePixels(painter);
  const QPoint at = WindowPixelOf(&view_) - WindowPixelOf(this);
  painter.setPen(QPen(Qt::red, 1));
  painter.setBrush(Qt::NoBrush);
  painter.drawRect(at.x() + picture_.left, at.y() + picture_.top, picture_.width() - 1,
                   picture_.height() - 1);
}

TStatusBar::TStatusBar(QWidget* parent) : QLabel(parent) {
  setFrameStyle(QFrame::Panel | QFrame::Sunken);
  setFixedHeight(19);
  setIndent(2);
}

// ---------------------------------------------------------------------------

TLumivoreForm::TLumivoreForm(Platform& platform, const QString& exePath)
    : QWidget(nullptr, Qt::Window | Qt::WindowStaysOnTopHint),
      platform_(platform),
      location_(LocateSettings(exePath.toStdString())) {
  setObjectName("LumivoreForm");
  setWindowTitle("Lumivore");
  // The hints show whenever the pointer rests on a control. Qt shows them
  // only in the active window by default, and after a capture has hidden
  // and shown the window again it no longer counts as active.
  setAttribute(Qt::WA_AlwaysShowToolTips);
  setFont(UiFont("ＭＳ Ｐゴシック", 12));
  BuildLayout();
  BuildActions();
  LoadImages();
  BuildPopupMenu();
  FormCreate();
  OptionDlg = new TOptionDlg(*this);
}

TLumivoreForm::~TLumivoreForm() { FormDestroy(); }

void TLumivoreForm::BuildLayout() {
  auto* column = new QVBoxLayout(this);
  column->setContentsMargins(0, 0, 0, 0);
  column->setSpacing(0);

  ToolPanel = new TPanel(this, kDesignWidth);
  ToolPanel->setObjectName("ToolPanel");
  ToolPanel->setFrameStyle(QFrame::Panel | QFrame::Raised);
  ToolPanel->setFixedHeight(42);
  ToolBar1 = new QWidget(ToolPanel);
  ToolBar1->setObjectName("ToolBar1");
  ToolPanel->place(ToolBar1, 1, 1, 103, 34, TPanel::Left);
  auto makeButton = [this](const char* name, const char* hint, int index) {
    auto* b = new QToolButton(ToolBar1);
    b->setObjectName(name);
    b->setToolTip(QString::fromUtf8(hint));
    b->setAutoRaise(true);
    b->setIconSize(QSize(20, 20));
    b->setGeometry(2 + 33 * index, 2, 33, 30);
    return b;
  };
  CopyBtn = makeButton("CopyBtn", "クリップボードへコピー", 0);
  SaveBtn = makeButton("SaveBtn", "ファイルに保存", 1);
  MenuBtn = makeButton("MenuBtn", "メニュー", 2);
  Label3 = new QLabel(QString::fromUtf8("ルミボア"), ToolPanel);
  Label3->setObjectName("Label3");
  ToolPanel->place(Label3, 200, 8, 48, 13, TPanel::Right);
  CapToolPanel = new QFrame(ToolPanel);
  CapToolPanel->setObjectName("CapToolPanel");
  CapToolPanel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  CapToolPanel->setAutoFillBackground(true);
  QPalette teal = CapToolPanel->palette();
  teal.setColor(QPalette::Window, kTeal);
  CapToolPanel->setPalette(teal);
  // Right-aligned inside the tool panel's one-pixel bevel.
  ToolPanel->place(CapToolPanel, kDesignWidth - 1 - 40, 1, 40, 40, TPanel::Right);
  CapToolImg = new QLabel(CapToolPanel);
  CapToolImg->setObjectName("CapToolImg");
  CapToolImg->setAlignment(Qt::AlignCenter);
  CapToolImg->setToolTip(QString::fromUtf8("キャプチャーツール"));
  CapToolImg->setGeometry(2, 2, 36, 36);
  column->addWidget(ToolPanel);

  auto makeRow = [this, column](const char* panelName, QLabel*& label, const char* labelName,
                                const char* caption, int labelLeft, int labelWidth,
                                QLineEdit*& edit, const char* editName, int editWidth) {
    auto* panel = new TPanel(this, kDesignWidth);
    panel->setObjectName(panelName);
    panel->setFixedHeight(25);
    label = new QLabel(QString::fromUtf8(caption), panel);
    label->setObjectName(labelName);
    label->setAlignment(Qt::AlignRight | Qt::AlignTop);
    panel->place(label, labelLeft, 8, labelWidth, 13, TPanel::Left);
    edit = new QLineEdit(panel);
    edit->setObjectName(editName);
    edit->setReadOnly(true);
    edit->setFocusPolicy(Qt::ClickFocus);
    panel->place(edit, 56, 3, editWidth, 20, TPanel::Stretch);
    column->addWidget(panel);
    return panel;
  };
  ClsNamPanel =
      makeRow("ClsNamPanel", Label1, "Label1", "クラス名", 8, 44, ClsNamEdit, "ClsNamEdit", 236);
  WndTxtPanel =
      makeRow("WndTxtPanel", Label2, "Label2", "テキスト", 8, 44, WndTxtEdit, "WndTxtEdit", 236);
  PixColPanel =
      makeRow("PixColPanel", Label4, "Label4", "ﾋﾟｸｾﾙ色", 4, 48, ColValEdit, "ColValEdit", 162);
  ColPanel = new QFrame(PixColPanel);
  ColPanel->setObjectName("ColPanel");
  ColPanel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  ColPanel->setAutoFillBackground(true);
  PixColPanel->place(ColPanel, 219, 2, 72, 21, TPanel::Right);
  PixColPanel->setVisible(false);

  ScrollBox1 = new QScrollArea(this);
  ScrollBox1->setObjectName("ScrollBox1");
  ScrollBox1->setFrameStyle(QFrame::NoFrame);
  ScrollBox1->setWidgetResizable(false);
  ScrollBox1->viewport()->setAutoFillBackground(true);
  Image1 = new TImageView(nullptr, FViewBitmap);
  Image1->setObjectName("Image1");
  ScrollBox1->setWidget(Image1);
  SelShape = new TShape(ScrollBox1->viewport(), *Image1);
  SelShape->setObjectName("SelShape");
  SelShape->hide();
  column->addWidget(ScrollBox1, 1);

  StatusBar1 = new TStatusBar(this);
  StatusBar1->setObjectName("StatusBar1");
  column->addWidget(StatusBar1);

  // Esc presses this invisible cancel button.
  CanButton = new QPushButton(this);
  CanButton->setObjectName("CanButton");
  CanButton->setGeometry(176, 152, 0, 25);
  CanButton->setFocusPolicy(Qt::NoFocus);
  CanButton->setShortcut(QKeySequence(Qt::Key_Escape));
  connect(CanButton, &QPushButton::clicked, this, [this] { CanButtonClick(); });

  normalSettle_ = new QTimer(this);
  normalSettle_->setSingleShot(true);
  normalSettle_->setInterval(300);
  connect(normalSettle_, &QTimer::timeout, this, [this] { normalSeen_ = normalPending_; });

  frameWatch_ = new QTimer(this);
  frameWatch_->setInterval(20);
  connect(frameWatch_, &QTimer::timeout, this, [this] { CheckFrameKnown(); });

  Timer1 = new QTimer(this);
  Timer1->setObjectName("Timer1");
  Timer1->setInterval(100);
  connect(Timer1, &QTimer::timeout, this, [this] { Timer1Timer(); });
  CapToolImg->installEventFilter(this);
  ScrollBox1->viewport()->installEventFilter(this);

  // The arrow keys must reach CMDialogKey before any focus navigation.
  qApp->installEventFilter(this);
}

void TLumivoreForm::BuildActions() {
  struct Def {
    QAction** action;
    const char* name;
    int tag;
    const char* caption;
  };
  const Def defs[] = {
      {&Resize25Action, "Resize25Action", 25, "25%"},
      {&Resize50Action, "Resize50Action", 50, "50%"},
      {&Resize75Action, "Resize75Action", 75, "75%"},
      {&Resize150Action, "Resize150Action", 150, "150%"},
      {&Resize200Action, "Resize200Action", 200, "200%"},
      {&TrimAction, "TrimAction", 0, "トリミング(&T)"},
      {&Reduce2Action, "Reduce2Action", 2, "減色: モノクロ (&2)"},
      {&Reduce16Action, "Reduce16Action", 16, "減色: 16色 (&4)"},
      {&Reduce256Action, "Reduce256Action", 256, "減色: 256色 (&8)"},
      {&GrayAction, "GrayAction", -2, "グレースケール(&G)"},
      {&SepiaAction, "SepiaAction", 0, "セピア(&S)"},
      {&NegColAction, "NegColAction", 0, "ネガポジ反転(&N)"},
      {&ReverseLRAction, "ReverseLRAction", 0, "左右反転"},
      {&ReverseULAction, "ReverseULAction", 1, "上下反転"},
      {&RotateRAction, "RotateRAction", 0, "右に90度回転 (R)"},
      {&RotateLAction, "RotateLAction", 1, "左に90度回転 (&L)"},
      {&MosicI2Action, "MosicI2Action", 2, "サイズ=2 (&2)"},
      {&MosicI4Action, "MosicI4Action", 4, "サイズ=4 (&4)"},
      {&MosicI8Action, "MosicI8Action", 8, "サイズ=8 (&8)"},
      {&MosicI12Action, "MosicI12Action", 12, "サイズ=12"},
      {&MosicI16Action, "MosicI16Action", 16, "サイズ=16"},
      {&UndoAction, "UndoAction", 0, "元に戻す(&U)"},
      {&ShowClassAction, "ShowClassAction", 0, ""},
      {&ShowTextAction, "ShowTextAction", 0, ""},
      {&ShowSttBarAction, "ShowSttBarAction", 0, ""},
  };
  for (const Def& d : defs) {
    auto* a = new QAction(QString::fromUtf8(d.caption), this);
    a->setObjectName(d.name);
    a->setData(d.tag);
    // Commands whose handlers have not been connected yet stay disabled.
    a->setEnabled(false);
    *d.action = a;
    ActionList1.append(a);
  }
  UndoAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Z));
  UndoAction->setShortcutContext(Qt::WindowShortcut);
  addAction(UndoAction);
}

void TLumivoreForm::LoadImages() {
  // The buttons and the window's icon choose their drawing for each screen
  // themselves; the pictures for the screen's scale are made by ApplyScale.
  const QStringList buttons{":/images/btn-copy.png", ":/images/btn-save.png",
                            ":/images/btn-menu.png"};
  CopyBtn->setIcon(QIcon(buttons[0]));
  SaveBtn->setIcon(QIcon(buttons[1]));
  MenuBtn->setIcon(QIcon(buttons[2]));
  setWindowIcon(QIcon(":/images/lumivore.png"));
  ApplyScale();
}

void TLumivoreForm::ApplyScale() {
  const qreal scale = ScaleOf(this);
  int shown = -1;
  for (int i = 0; i < MrkImageList.size(); ++i)
    if (MrkImageList[i].cacheKey() == CapToolImg->pixmap().cacheKey()) shown = i;
  BtnImageList.clear();
  MrkImageList.clear();
  for (const char* name : {"copy", "save", "menu"})
    BtnImageList.append(PictureForScale(QString(":/images/btn-%1.png").arg(name), scale));
  for (const char* name : {"blank", "wand", "stopwatch"})
    MrkImageList.append(PictureForScale(QString(":/images/mrk-%1.png").arg(name), scale));
  if (shown >= 0) CapToolImg->setPixmap(MrkImageList.value(shown));
  // The wand cursor, hot spot at the top-left corner of the wand's knob.
  captureCursor_ =
      std::make_unique<QCursor>(CursorForScale(":/images/capture-cursor.png", QPoint(0, 0), scale));
  // The view keeps one picture pixel on one screen pixel.
  ApplyScrollRange();
  SelShape->place(FSelRect);
}

const QCursor& TLumivoreForm::captureCursor() const { return *captureCursor_; }

QString TLumivoreForm::iniFileName() const { return QString::fromStdString(location_.iniFile); }

void TLumivoreForm::PlaySettingSound(const QString& file) {
  if (file.isEmpty()) return;
  const std::string name = file.toStdString();
  platform_.playSound(name.front() == '/' ? name : location_.folder + "/" + name);
}

void TLumivoreForm::FormCreate() {
  FVersion = GetAppVersion();
  FWorkImage.clear();
  FUndoList.clear();
  // The help file (opened by the menu's help entry) lives beside the settings file.
  FIniFile = std::make_unique<IniFile>(location_.iniFile);
  ReadCreationSettings();
  FCaptureCursor = 5;
  FCapturing = false;
  FSelDrawing = false;
  FSelMoving = false;
  FStampMode = false;
  FTargetWnd = 0;
  ConnectAction(UndoAction, &TLumivoreForm::UndoActionExecute, &TLumivoreForm::UndoActionUpdate);
  ConnectSelection();
  ConnectViewToggles();
  // Editing commands and the cursor stamp's generated entries.
  ConnectEdits();
  BuildStampItems();
  ConnectHandOff();
  ApplyWindowClass();
  // Files dropped from a file manager (text/uri-list of local files).
  setAcceptDrops(true);
  Timer1->start();
}

void TLumivoreForm::ApplyWindowClass() {
  // The class is how a second start finds this window; Qt recreates the X
  // window on some flag changes, so this is re-applied on every new id.
  platform_.setWindowClass(static_cast<WindowId>(winId()), "lumivore", "TLumivoreForm");
}

void TLumivoreForm::showEvent(QShowEvent* e) {
  QWidget::showEvent(e);
  if (!e->spontaneous()) FormShow();
}

void TLumivoreForm::FormShow() {
  // Shown again after a capture hid the window: nothing to apply.
  if (FCapturing) return;
  ReadFirstShowSettings();
  CapToolImg->setPixmap(MrkImageList.value(1));
  PutPointerOnCaptureTool();
}

void TLumivoreForm::PutPointerOnCaptureTool() {
  const QPoint centre(CapToolPanel->width() / 2, CapToolPanel->height() / 2);
  platform_.setCursorPos(DevicePoint(CapToolPanel, centre));
}

QMargins TLumivoreForm::OuterMargins() {
  // Some window managers draw a see-through shadow around the frame (weston
  // under Xwayland), and the toolkit counts it into the frame: the bounds the
  // user sees are the opaque ones, which only the desktop can tell.
  const auto id = static_cast<WindowId>(winId());
  if (const auto seen = platform_.visibleFrameMargins(id))
    return QMargins(seen->left, seen->top, seen->right, seen->bottom);
  if (!windowHandle()) return QMargins();
  const qreal scale = ScaleOf(this);
  const QMargins counted = DeviceMargins(windowHandle()->frameMargins(), scale);
  if (scale == 1) return counted;
  // Above 100 % the toolkit counts the frame in whole logical pixels, a pixel
  // off where the frame has an odd width: the desktop's own count of the
  // same frame is exact. Where the two tell of different frames (one being
  // built, or gone while the window is hidden for a grab) the frame is not
  // known yet: taking either would move the window by that pixel.
  const auto frame = platform_.frameMargins(id);
  if (!frame) return counted;
  const QMargins exact(frame->left, frame->top, frame->right, frame->bottom);
  const QMargins off = exact - counted;
  if (std::max({std::abs(off.left()), std::abs(off.top()), std::abs(off.right()),
                std::abs(off.bottom())}) < scale)
    return exact;
  return QMargins(-1, -1, -1, -1);
}

void TLumivoreForm::ApplyOuterBounds() {
  // The wanted bounds and the margins are device pixels; Qt places the
  // window in logical ones, scaled by the screen the bounds lie on.
  const QMargins m = OuterMargins();
  assumedMargins_ = m;
  const Rect client{wantedOuter_.left + m.left(), wantedOuter_.top + m.top(),
                    wantedOuter_.right - m.right(), wantedOuter_.bottom - m.bottom()};
  const qreal scale = ScreenAtDevice(Point{client.left, client.top})->devicePixelRatio();
  const QMargins frame = LogicalMargins(m, scale);
  setMinimumWidth(std::max(1, kMinOuterWidth - frame.left() - frame.right()));
  if (isMaximized()) {
    normalBoundsPending_ = true;
    return;
  }
  normalBoundsPending_ = false;
  normalMargins_ = m;
  askedSize_ = QSize(std::max(1, qRound(client.width() / scale)),
                     std::max(1, qRound(client.height() / scale)));
  normalSeen_ = QRect(LogicalPoint(Point{client.left, client.top}), askedSize_);
  normalSettle_->stop();
  setGeometry(normalSeen_);
}

void TLumivoreForm::CheckFrameKnown() {
  // The window manager's frame becomes known only some time after the window
  // is mapped: correct the bounds and the pointer whenever it changes during
  // the watch, since a frame still being built can show passing margins (and
  // negative ones, which are no frame at all). Without a window manager there
  // is no frame and the first placement stands.
  //
  // The watch goes on for five seconds, since a busy compositor may frame and
  // paint a new window late, and then ends a second after the last change.
  // While there is no frame at all it goes on for ten: a window manager
  // started after Lumivore (both from a session's autostart) or slowed down by
  // a busy machine frames the window late, and the bounds must still come out
  // as stored.
  const QMargins m = OuterMargins();
  const bool frameBuilt = m.left() >= 0 && m.top() >= 0 && m.right() >= 0 && m.bottom() >= 0;
  ++frameChecks_;
  const bool framed = frameBuilt && !m.isNull();
  if (frameBuilt && m != assumedMargins_) {
    ApplyOuterBounds();
    // Once the user has taken the capture tool, the pointer is theirs.
    if (pointerFollowsFrame_ && !FCapturing) PutPointerOnCaptureTool();
    lastFrameChange_ = frameChecks_;
  } else if (framed && windowState() == Qt::WindowNoState && size() != askedSize_ &&
             size() == LogicalRect(wantedOuter_).size() && sizeRetries_ < 3) {
    // A window manager still adopting the window may put back the size it saw
    // before the frame (the whole outer size), after it took ours. Any other
    // size is someone's resize and stands.
    ++sizeRetries_;
    ApplyOuterBounds();
  }
  constexpr int kSettled = 50, kFrameLate = 250, kNoFrameYet = 500;  // checks of 20 ms
  if (frameChecks_ >= kSettled) pointerFollowsFrame_ = false;
  if ((framed && frameChecks_ >= kFrameLate && frameChecks_ - lastFrameChange_ >= kSettled) ||
      frameChecks_ >= kNoFrameYet)
    frameWatch_->stop();
}

void TLumivoreForm::changeEvent(QEvent* e) {
  QWidget::changeEvent(e);
  // Bounds that came just before a maximise were its steps; those that came
  // just before a minimise were the user's.
  if (e->type() == QEvent::WindowStateChange && normalSettle_->isActive()) {
    normalSettle_->stop();
    if (!(windowState() & (Qt::WindowMaximized | Qt::WindowFullScreen)))
      normalSeen_ = normalPending_;
  }
  // Restored for the first time after starting maximised: the normal bounds
  // were given before the frame was known, so place them again, and once
  // more when the window manager has put the normal frame back.
  if (e->type() == QEvent::WindowStateChange && normalBoundsPending_ &&
      !(windowState() & (Qt::WindowMaximized | Qt::WindowMinimized | Qt::WindowFullScreen))) {
    ApplyOuterBounds();
    pointerFollowsFrame_ = false;
    frameChecks_ = lastFrameChange_ = sizeRetries_ = 0;
    frameWatch_->start();
  }
}

QRect TLumivoreForm::NormalBounds() const {
  return normalSeen_.isValid() ? normalSeen_ : normalGeometry();
}

bool TLumivoreForm::event(QEvent* e) {
  if (e->type() == QEvent::WinIdChange) {
    ApplyWindowClass();
    // Moved to a screen of another scale: pictures, pointer and view follow.
    if (QWindow* w = windowHandle())
      connect(w, &QWindow::screenChanged, this, &TLumivoreForm::ApplyScale, Qt::UniqueConnection);
  }
  // Some window managers (fluxbox) let other programs size a window below
  // its minimum: the window keeps its minimum width itself.
  if (e->type() == QEvent::Resize && width() < minimumWidth() && windowState() == Qt::WindowNoState)
    resize(minimumWidth(), height());
  if ((e->type() == QEvent::Move || e->type() == QEvent::Resize) &&
      !(windowState() & (Qt::WindowMaximized | Qt::WindowMinimized | Qt::WindowFullScreen)) &&
      screen()) {
    const QRect available = screen()->availableGeometry();
    const QRect outer = frameGeometry();
    if (outer.width() < available.width() && outer.height() < available.height()) {
      normalPending_ = geometry();
      normalSettle_->start();
    }
  }
  if (e->type() == QEvent::WindowDeactivate || e->type() == QEvent::Hide) CancelSelGestures();
  // The stamp's pointer confinement never outlives the window's turn in
  // front; the stamp's own menu closing is no such end.
  if (e->type() == QEvent::Hide ||
      (e->type() == QEvent::WindowDeactivate && !QApplication::activePopupWidget()))
    EndStampMode();
  return QWidget::event(e);
}

bool TLumivoreForm::eventFilter(QObject* watched, QEvent* e) {
  if (watched == CapToolImg &&
      (e->type() == QEvent::MouseButtonPress || e->type() == QEvent::MouseButtonRelease)) {
    auto* m = static_cast<QMouseEvent*>(e);
    if (e->type() == QEvent::MouseButtonPress)
      CapToolImgMouseDown(m->button(), m->modifiers(), m->position().toPoint());
    else
      CapToolImgMouseUp(m->button(), m->modifiers(), m->position().toPoint());
    return true;
  }
  if (watched == ScrollBox1->viewport() && e->type() == QEvent::Resize) ApplyScrollRange();
  if (SelectionMouseEvent(watched, e) || ContextHelpKey(watched, e)) return true;
  if (e->type() == QEvent::KeyPress && watched->isWidgetType() &&
      static_cast<QWidget*>(watched)->window() == this) {
    auto* key = static_cast<QKeyEvent*>(e);
    int vk = 0;
    switch (key->key()) {
      case Qt::Key_Left:
        vk = vk::Left;
        break;
      case Qt::Key_Up:
        vk = vk::Up;
        break;
      case Qt::Key_Right:
        vk = vk::Right;
        break;
      case Qt::Key_Down:
        vk = vk::Down;
        break;
      default:
        break;
    }
    // The arrow keys never move the focus between controls.
    if (vk) {
      CMDialogKey(vk, key->modifiers());
      return true;
    }
  }
  return QWidget::eventFilter(watched, e);
}

void TLumivoreForm::dragEnterEvent(QDragEnterEvent* e) {
  if (AcceptsDrop(e->mimeData())) e->acceptProposedAction();
}

void TLumivoreForm::dragMoveEvent(QDragMoveEvent* e) {
  if (AcceptsDrop(e->mimeData())) e->acceptProposedAction();
}

void TLumivoreForm::dropEvent(QDropEvent* e) { DropFilesEvent(e); }

void TLumivoreForm::mouseReleaseEvent(QMouseEvent* e) {
  CapToolImgMouseUp(e->button(), e->modifiers(), e->position().toPoint());
}

void TLumivoreForm::closeEvent(QCloseEvent* e) {
  FormClose();
  e->accept();
}

void TLumivoreForm::FormClose() { WriteAllSettings(); }

void TLumivoreForm::FormDestroy() {
  qApp->removeEventFilter(this);
  CancelSelGestures();
  EndStampMode();
  FWorkImage.clear();
  FIniFile.reset();
}

void TLumivoreForm::CanButtonClick() { close(); }

}  // namespace lumivore
