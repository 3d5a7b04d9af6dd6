#include "util/SplitToList.h"

#include <QComboBox>

#include "util/Userfunc.h"

namespace lumivore {

void SplitToList(QComboBox* list, const QString& text, const QString& delimiter) {
  const std::u16string delim = delimiter.toStdU16String();
  std::u16string rest = text.toStdU16String();
  for (;;) {
    const std::u16string piece = StrBefore(rest, delim);
    if (piece.empty()) return;
    list->addItem(QString::fromStdU16String(piece));
    rest = StrAfter(rest, delim);
  }
}

}  // namespace lumivore
