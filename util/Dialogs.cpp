#include "util/Dialogs.h"

#include <QMessageBox>

namespace lumivore {

namespace {
MessageSink& Sink() {
  static MessageSink sink;
  return sink;
}
}  // namespace

void ErrorBox(QWidget* parent, const QString& text, const QString& caption) {
  if (Sink()) {
    Sink()(text, caption);
    return;
  }
  QMessageBox::critical(parent, caption, text);
}

void SetMessageSinkForTesting(MessageSink sink) { Sink() = std::move(sink); }

}  // namespace lumivore
