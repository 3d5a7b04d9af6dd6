#include "ui/OwnerDrawMenu.h"

#include <QHash>
#include <QPainter>
#include <QProxyStyle>
#include <QStyleOptionMenuItem>

#include "ui/UiFont.h"

namespace lumivore {

// The style of one menu tree: the default drawing, with the entries that have
// handlers measured and painted by them. The entry reaches the style as the
// option's style object (see TPopupMenu::initStyleOption).
class TMenuStyle : public QProxyStyle {
 public:
  struct Handlers {
    MeasureItemHandler measure;
    DrawItemHandler draw;
  };

  Handlers& handlersFor(QAction* item) {
    if (!handlers_.contains(item))
      QObject::connect(item, &QObject::destroyed, this, [this, item] { handlers_.remove(item); });
    return handlers_[item];
  }
  bool owns(const QAction* item) const { return handlers_.contains(item); }

  QSize sizeFromContents(ContentsType type, const QStyleOption* option, const QSize& size,
                         const QWidget* widget) const override {
    QSize result = QProxyStyle::sizeFromContents(type, option, size, widget);
    if (type != CT_MenuItem) return result;
    QAction* item = itemOf(option);
    if (!item || !handlers_.value(item).measure) return result;
    int width = result.width();
    int height = result.height();
    handlers_.value(item).measure(item, option->fontMetrics, width, height);
    return QSize(width, height);
  }

  void drawControl(ControlElement element, const QStyleOption* option, QPainter* painter,
                   const QWidget* widget) const override {
    QAction* item = element == CE_MenuItem ? itemOf(option) : nullptr;
    if (!item || !handlers_.value(item).draw) {
      QProxyStyle::drawControl(element, option, painter, widget);
      return;
    }
    // Each entry starts on a fresh canvas with the menu's font.
    painter->save();
    if (widget) painter->setFont(widget->font());
    handlers_.value(item).draw(item, *painter, option->rect, option->state & State_Selected);
    painter->restore();
  }

 private:
  QAction* itemOf(const QStyleOption* option) const {
    auto* item = qobject_cast<QAction*>(option->styleObject);
    return item && handlers_.contains(item) ? item : nullptr;
  }

  QHash<const QAction*, Handlers> handlers_;
};

TPopupMenu::TPopupMenu(QWidget* parent) : TPopupMenu(parent, nullptr) {}

TPopupMenu::TPopupMenu(QWidget* parent, TMenuStyle* style) : QMenu(parent), ownerDraw_(style) {
  if (!ownerDraw_) ownerDraw_ = new TMenuStyle;
  // The style lives as long as the root menu; the submenus are its children.
  if (!style) ownerDraw_->setParent(this);
  setStyle(ownerDraw_);
  // A menu is a window of its own and takes no font from its parent.
  setFont(MenuFont());
}

TPopupMenu* TPopupMenu::addSubmenu(const QString& title) {
  auto* sub = new TPopupMenu(this, ownerDraw_);
  sub->setTitle(title);
  addMenu(sub);
  return sub;
}

void TPopupMenu::setOnMeasureItem(QAction* item, MeasureItemHandler handler) {
  ownerDraw_->handlersFor(item).measure = std::move(handler);
}

void TPopupMenu::setOnDrawItem(QAction* item, DrawItemHandler handler) {
  ownerDraw_->handlersFor(item).draw = std::move(handler);
}

void TPopupMenu::initStyleOption(QStyleOptionMenuItem* option, const QAction* action) const {
  QMenu::initStyleOption(option, action);
  if (ownerDraw_->owns(action)) option->styleObject = const_cast<QAction*>(action);
}

}  // namespace lumivore
