// Popup menus whose entries the program may measure and paint itself: a
// measure handler adjusts an entry's size starting from the style's default,
// a draw handler paints the entry in place of the style. Every other entry is
// drawn by the style as usual.
#pragma once

#include <QMenu>
#include <functional>

namespace lumivore {

using MeasureItemHandler =
    std::function<void(QAction* item, const QFontMetrics& canvas, int& width, int& height)>;
using DrawItemHandler =
    std::function<void(QAction* item, QPainter& canvas, const QRect& rect, bool selected)>;

class TMenuStyle;

class TPopupMenu : public QMenu {
 public:
  explicit TPopupMenu(QWidget* parent);

  // A submenu sharing this menu's owner drawing; its entry is menuAction().
  TPopupMenu* addSubmenu(const QString& title);
  void setOnMeasureItem(QAction* item, MeasureItemHandler handler);
  void setOnDrawItem(QAction* item, DrawItemHandler handler);

 protected:
  void initStyleOption(QStyleOptionMenuItem* option, const QAction* action) const override;

 private:
  TPopupMenu(QWidget* parent, TMenuStyle* style);

  TMenuStyle* ownerDraw_;
};

}  // namespace lumivore
