#include "ui/AppCursor.h"

#include <QApplication>

namespace lumivore {

void SetAppCursor(const std::optional<QCursor>& shape) {
  if (!shape) {
    while (QApplication::overrideCursor()) QApplication::restoreOverrideCursor();
  } else if (QApplication::overrideCursor()) {
    QApplication::changeOverrideCursor(*shape);
  } else {
    QApplication::setOverrideCursor(*shape);
  }
}

}  // namespace lumivore
