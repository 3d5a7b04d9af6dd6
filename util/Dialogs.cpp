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
  const QString shown = caption.isEmpty() ? QString::fromUtf8("エラー") : caption;
  if (Sink()) {
    Sink()(text, shown);
    return;
  }
  QMessageBox::critical(parent, shown, text);
}

void ApplicationErrorBox(const QString& text) { ErrorBox(nullptr, text, "Lumivore"); }

void SetMessageSinkForTesting(MessageSink sink) { Sink() = std::move(sink); }

}  // namespace lumivore
