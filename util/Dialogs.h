// Message boxes of the program, with a seam so tests can see them instead of
// waiting for a user to close them.
#pragma once

#include <QString>
#include <functional>

class QWidget;

namespace lumivore {

// Shows an error message with the stop icon and an OK button, captioned
// "エラー" when the caption is empty, and waits for the user.
void ErrorBox(QWidget* parent, const QString& text, const QString& caption);

// The application's standard error box: the message under the application
// title "Lumivore", for errors a handler does not report itself.
void ApplicationErrorBox(const QString& text);

// Replaces the message box for tests; pass nullptr to restore it.
using MessageSink = std::function<void(const QString& text, const QString& caption)>;
void SetMessageSinkForTesting(MessageSink sink);

}  // namespace lumivore
