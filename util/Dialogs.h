// Message boxes of the program, with a seam so tests can see them instead of
// waiting for a user to close them.
#pragma once

#include <QString>
#include <functional>

class QWidget;

namespace lumivore {

// Shows an error message with a caption and waits for the user.
void ErrorBox(QWidget* parent, const QString& text, const QString& caption);

// Replaces the message box for tests; pass nullptr to restore it.
using MessageSink = std::function<void(const QString& text, const QString& caption)>;
void SetMessageSinkForTesting(MessageSink sink);

}  // namespace lumivore
