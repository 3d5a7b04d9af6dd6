// The cursor stamp: 20 pointer shapes in an owner-drawn submenu of two
// columns. Choosing one turns the pointer into that shape, kept inside the
// view; the next left press on the picture paints the shape there. The shape
// is placed by the offsets of the table, which are also the pointer's hot
// spot, so the stamp lands exactly where the pointer showed it.
#include <QAction>
#include <QApplication>
#include <QHash>
#include <QKeyEvent>
#include <QMenu>
#include <QPainter>
#include <QScrollArea>
#include <QWidgetAction>

#include "app/DevicePixels.h"
#include "app/Unit1.h"
#include "editing/StampCursors.h"
#include "ui/AppCursor.h"
#include "ui/ScaledPictures.h"

namespace lumivore {

const std::array<TStampCursor, 20> StampCursors = {{
    {-2, 10, 10, ":/cursors/arrow.png"},       // crArrow
    {-3, 10, 10, ":/cursors/cross.png"},       // crCross
    {-4, 10, 10, ":/cursors/ibeam.png"},       // crIBeam
    {-10, 10, 10, ":/cursors/uparrow.png"},    // crUpArrow
    {-6, 10, 10, ":/cursors/size-nesw.png"},   // crSizeNESW
    {-7, 10, 10, ":/cursors/size-ns.png"},     // crSizeNS
    {-8, 10, 10, ":/cursors/size-nwse.png"},   // crSizeNWSE
    {-9, 10, 10, ":/cursors/size-we.png"},     // crSizeWE
    {-22, 10, 10, ":/cursors/size-all.png"},   // crSizeAll
    {-18, 10, 10, ":/cursors/no.png"},         // crNo
    {-11, 10, 10, ":/cursors/hourglass.png"},  // crHourGlass, first of the second column
    {-12, 0, 0, ":/cursors/drag.png"},         // crDrag
    {-13, 2, 2, ":/cursors/nodrop.png"},       // crNoDrop
    {-14, 16, 13, ":/cursors/hsplit.png"},     // crHSplit
    {-15, 14, 12, ":/cursors/vsplit.png"},     // crVSplit
    {-16, 0, 0, ":/cursors/multidrag.png"},    // crMultiDrag
    {-17, 0, 0, ":/cursors/sqlwait.png"},      // crSQLWait
    {-19, 10, 10, ":/cursors/appstart.png"},   // crAppStart
    {-20, 10, 10, ":/cursors/help.png"},       // crHelp
    {-21, 7, 1, ":/cursors/handpoint.png"},    // crHandPoint
}};

namespace {

// The eleventh entry starts a second column, separated by a bar.
constexpr int kColumnLength = 10;
constexpr int kBarWidth = 4;

// The first record of the table with this id, or null.
const TStampCursor* FindStampCursor(short id) {
  for (const TStampCursor& c : StampCursors)
    if (c.id == id) return &c;
  return nullptr;
}

// The image of a shape as the pointer shows it at a screen's scale (32 x 32
// at 100 %), its alpha channel the mask, to be painted pixel for pixel; null
// for an id not in the table.
const QImage& StampImage(short id, qreal scale) {
  static QHash<QPair<short, qreal>, QImage> images;
  auto it = images.find({id, scale});
  if (it == images.end()) {
    const TStampCursor* c = FindStampCursor(id);
    QImage image;
    if (c) {
      image = PictureForScale(c->image, scale)
                  .toImage()
                  .convertToFormat(QImage::Format_ARGB32_Premultiplied);
      image.setDevicePixelRatio(1);
    }
    it = images.insert({id, scale}, image);
  }
  return *it;
}

// The shape's hot spot (its offset in the table) at a screen's scale.
QPoint StampHotSpot(const TStampCursor* shape, qreal scale) {
  return shape ? ScaledHotSpot(QPoint(shape->x, shape->y), scale) : QPoint();
}

// The generated entries in two columns of ten, measured and painted by the
// window's handlers. The pointer highlights an entry and a click chooses it;
// from the keyboard the arrows move between entries and Return chooses.
class TStampGrid : public QWidget {
 public:
  TStampGrid(TLumivoreForm& form, QWidget* parent) : QWidget(parent), form_(form) {
    setObjectName("MouseCsrGrid");
    setMouseTracking(true);
    setFocusPolicy(Qt::StrongFocus);
  }
  void setItems(QList<QAction*> items) {
    items_ = std::move(items);
    updateGeometry();
  }

  QSize cellSize() const {
    int width = 0, height = 0;
    if (!items_.isEmpty()) form_.MouseCsrItemMeasureItem(items_[0], fontMetrics(), width, height);
    return QSize(width, height);
  }
  QRect cellRect(int i) const {
    const QSize cell = cellSize();
    const int column = i / kColumnLength;
    return QRect(column * (cell.width() + kBarWidth), (i % kColumnLength) * cell.height(),
                 cell.width(), cell.height());
  }
  QSize sizeHint() const override {
    const int columns = (static_cast<int>(items_.size()) + kColumnLength - 1) / kColumnLength;
    const int rows = std::min<int>(static_cast<int>(items_.size()), kColumnLength);
    const QSize cell = cellSize();
    return QSize(columns * cell.width() + std::max(0, columns - 1) * kBarWidth,
                 rows * cell.height());
  }
  QSize minimumSizeHint() const override { return sizeHint(); }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    for (int i = 0; i < items_.size(); ++i) {
      painter.save();
      painter.setFont(font());
      form_.MouseCsrItemDrawItem(items_[i], painter, cellRect(i), i == current_);
      painter.restore();
    }
    // The bar before each further column: a sunken line.
    for (int first = kColumnLength; first < items_.size(); first += kColumnLength) {
      const int x = cellRect(first).left() - kBarWidth;
      painter.fillRect(x, 0, kBarWidth, height(), palette().color(QPalette::Window));
      painter.fillRect(x + 1, 0, 1, height(), palette().color(QPalette::Dark));
      painter.fillRect(x + 2, 0, 1, height(), palette().color(QPalette::Light));
    }
  }
  void mouseMoveEvent(QMouseEvent* e) override { setCurrent(cellAt(e->position().toPoint())); }
  void leaveEvent(QEvent*) override { setCurrent(-1); }
  void mousePressEvent(QMouseEvent* e) override { e->accept(); }
  void mouseReleaseEvent(QMouseEvent* e) override {
    const int i = cellAt(e->position().toPoint());
    if (i >= 0) choose(i);
  }
  // The menu hands keys to its focused child: take them while shown.
  void showEvent(QShowEvent*) override { setFocus(Qt::PopupFocusReason); }
  void focusInEvent(QFocusEvent*) override {
    if (current_ < 0) setCurrent(0);
  }
  void keyPressEvent(QKeyEvent* e) override {
    const int count = static_cast<int>(items_.size());
    int next = current_ < 0 ? 0 : current_;
    switch (e->key()) {
      case Qt::Key_Up:
        next = next % kColumnLength == 0 ? std::min(count - 1, next + kColumnLength - 1) : next - 1;
        break;
      case Qt::Key_Down:
        next = next % kColumnLength == kColumnLength - 1 || next + 1 >= count
                   ? next - next % kColumnLength
                   : next + 1;
        break;
      case Qt::Key_Right:
        if (next + kColumnLength >= count) {
          e->ignore();  // the menu's own handling
          return;
        }
        next += kColumnLength;
        break;
      case Qt::Key_Left:
        if (next < kColumnLength) {
          e->ignore();  // closes this submenu
          return;
        }
        next -= kColumnLength;
        break;
      case Qt::Key_Return:
      case Qt::Key_Enter:
      case Qt::Key_Space:
        if (current_ >= 0) choose(current_);
        return;
      default:
        e->ignore();
        return;
    }
    setCurrent(next);
  }

 private:
  int cellAt(QPoint p) const {
    for (int i = 0; i < items_.size(); ++i)
      if (cellRect(i).contains(p)) return i;
    return -1;
  }
  void setCurrent(int i) {
    if (i == current_) return;
    current_ = i;
    update();
  }
  void choose(int i) {
    // Close the whole menu first, as choosing any entry does.
    for (QWidget* w = parentWidget(); w; w = w->parentWidget())
      if (auto* menu = qobject_cast<QMenu*>(w)) menu->hide();
    current_ = -1;
    items_[i]->trigger();
  }

  TLumivoreForm& form_;
  QList<QAction*> items_;
  int current_ = -1;
};

QImage WrapView(Bitmap& view) {
  return QImage(view.bits(), view.width(), view.height(), static_cast<qsizetype>(view.stride()),
                QImage::Format_RGB32);
}

}  // namespace

void TLumivoreForm::BuildStampItems() {
  auto* grid = new TStampGrid(*this, MouseCsrItem);
  for (const TStampCursor& c : StampCursors) {
    auto* item = new QAction(grid);
    item->setObjectName(QString("MouseCsrItem%1").arg(MouseCsrItems.size()));
    item->setData(c.id);
    connect(item, &QAction::triggered, this, [this, item] { MouseCsrItemClick(item); });
    MouseCsrItems.append(item);
  }
  grid->setItems(MouseCsrItems);
  auto* holder = new QWidgetAction(MouseCsrItem);
  holder->setObjectName("MouseCsrItemGrid");
  holder->setDefaultWidget(grid);
  MouseCsrItem->addAction(holder);
}

void TLumivoreForm::MouseCsrItemMeasureItem(QAction*, const QFontMetrics&, int& width,
                                            int& height) {
  width = 40;
  height = 36;
}

void TLumivoreForm::MouseCsrItemDrawItem(QAction* sender, QPainter& canvas, const QRect& rect,
                                         bool selected) {
  if (!sender) return;
  const QPalette& colours = MouseCsrItem->palette();
  canvas.fillRect(rect, colours.color(selected ? QPalette::Highlight : QPalette::Window));
  // 32 x 32 logical pixels, drawn for the menu's screen.
  if (const TStampCursor* shape = FindStampCursor(static_cast<short>(sender->data().toInt())))
    canvas.drawPixmap(rect.left() + 8, rect.top() + 2,
                      PictureForScale(shape->image, canvas.device()->devicePixelRatioF()));
}

void TLumivoreForm::MouseCsrItemClick(QAction* sender) {
  if (!sender) return;
  FStampCursor = static_cast<short>(sender->data().toInt());
  const TStampCursor* shape = FindStampCursor(FStampCursor);
  if (shape) SetAppCursor(CursorForScale(shape->image, QPoint(shape->x, shape->y), ScaleOf(this)));
  // Exactly the client area of the view, in screen pixels.
  QWidget* client = ScrollBox1->viewport();
  FStampClip = DeviceRect(client, client->rect());
  platform_.clipCursor(FStampClip);
  // A pointer left outside (on the menu) is brought into the view at once.
  const Point at = platform_.cursorPos();
  const Point inside{std::clamp(at.x, FStampClip.left, FStampClip.right - 1),
                     std::clamp(at.y, FStampClip.top, FStampClip.bottom - 1)};
  if (!(inside == at)) platform_.setCursorPos(inside);
  FSelRect = Rect{};
  PlaceSelShape();
  StatusBar1->setText(QString::fromUtf8("マウスカーソル貼り付け中..."));
  FStampMode = true;
}

void TLumivoreForm::StampMouseDown(Qt::MouseButton button, QPoint pos) {
  if (FWorkImage.empty()) return;  // stamp mode goes on
  if (button == Qt::LeftButton && pos.x() <= FWorkImage.width() && pos.y() <= FWorkImage.height()) {
    PushUndo();
    // The shape as large as the pointer showed it, its hot spot on the
    // pressed picture pixel.
    const qreal scale = ScaleOf(this);
    const QPoint corner = pos - StampHotSpot(FindStampCursor(FStampCursor), scale);
    {
      QImage view = WrapView(FViewBitmap);
      QPainter painter(&view);
      painter.drawImage(corner, StampImage(FStampCursor, scale));
    }
    FWorkImage = FViewBitmap;
    ShowWorkingImage();
  }
  EndStampMode();
}

bool TLumivoreForm::StampKey(int vk) {
  Point p = platform_.cursorPos();
  if (vk == vk::Left) --p.x;
  if (vk == vk::Up) --p.y;
  if (vk == vk::Right) ++p.x;
  if (vk == vk::Down) ++p.y;
  // The confinement does not hold our own warps: keep them inside here.
  p.x = std::clamp(p.x, FStampClip.left, FStampClip.right - 1);
  p.y = std::clamp(p.y, FStampClip.top, FStampClip.bottom - 1);
  platform_.setCursorPos(p);
  return true;
}

void TLumivoreForm::EndStampMode() {
  if (!FStampMode) return;
  platform_.clipCursor(std::nullopt);
  SetAppCursor(std::nullopt);
  FStampCursor = 0;
  FStampMode = false;
  // The progress text would otherwise outlive the mode.
  UpdateStatus();
}

}  // namespace lumivore
