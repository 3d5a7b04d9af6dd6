// The desktop's own screenshot service: the XDG desktop portal's Screenshot
// interface on the session bus. A Wayland session's windows are no X
// windows, and only the desktop can give their pictures.
#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QString>
#include <QTimer>
#include <QVariantMap>
#include <optional>

#include "app/Platform.h"

class QDBusServiceWatcher;

namespace lumivore {

class DesktopPortal : public QObject {
  Q_OBJECT

 public:
  // How long an answer may take, the user's choosing in the desktop's
  // dialog included.
  static constexpr int kDefaultTimeoutMs = 120000;

  DesktopPortal(QDBusConnection bus, int timeoutMs, QObject* parent = nullptr);

  // Asks for a picture, letting the user choose the window in the desktop's
  // dialog. `done` gets the outcome once: Taken with the picture read from
  // the local file the desktop names (the file stays where it is);
  // Cancelled when the user or the desktop refused; Unavailable when no
  // portal with a Screenshot interface answers on the bus; Failed for
  // anything else, the portal leaving the bus or no answer within the
  // timeout included. One request at a time: another while one is open
  // fails at once.
  void screenshot(Platform::DesktopShotDone done);

  // The session bus, when the session has one; nothing is started to get one.
  static std::optional<QDBusConnection> SessionBus();

 private slots:
  void Response(uint response, const QVariantMap& results);

 private:
  void Finish(Platform::DesktopShot result, Bitmap picture = {});
  // Follows the Response signal of the request object at `path`.
  void Listen(const QString& path);
  void StopListening();

  QDBusConnection bus_;
  int timeoutMs_;
  Platform::DesktopShotDone done_;
  QString requestPath_;
  QTimer timeout_;
  QDBusServiceWatcher* watcher_;
  unsigned serial_ = 0;
};

}  // namespace lumivore
