#pragma once

#include <QString>

class QComboBox;

namespace lumivore {

// Adds the pieces of `text` between the delimiters to the list's items, in
// order. The split stops at the first empty piece: two delimiters in a row,
// or one at the start, end the list there. A text without the delimiter is
// added once as a whole.
void SplitToList(QComboBox* list, const QString& text, const QString& delimiter);

}  // namespace lumivore
