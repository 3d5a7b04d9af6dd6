#include "app/DesktopPortal.h"

#include <QCoreApplication>
#include <QDBusError>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusServiceWatcher>
#include <QFileInfo>

#include "imaging/Usr_wic.h"
#include "util/UriList.h"

namespace lumivore {

namespace {

constexpr char kService[] = "org.freedesktop.portal.Desktop";
constexpr char kPath[] = "/org/freedesktop/portal/desktop";
constexpr char kScreenshot[] = "org.freedesktop.portal.Screenshot";
constexpr char kRequest[] = "org.freedesktop.portal.Request";

// Errors that say no portal with a Screenshot interface is there at all.
bool NoPortal(QDBusError::ErrorType type) {
  switch (type) {
    case QDBusError::ServiceUnknown:
    case QDBusError::UnknownObject:
    case QDBusError::UnknownInterface:
    case QDBusError::UnknownMethod:
      return true;
    default:
      return false;
  }
}

}  // namespace

DesktopPortal::DesktopPortal(QDBusConnection bus, int timeoutMs, QObject* parent)
    : QObject(parent),
      bus_(std::move(bus)),
      timeoutMs_(timeoutMs),
      watcher_(new QDBusServiceWatcher(kService, bus_, QDBusServiceWatcher::WatchForUnregistration,
                                       this)) {
  timeout_.setSingleShot(true);
  connect(&timeout_, &QTimer::timeout, this, [this] { Finish(Platform::DesktopShot::Failed); });
  // A portal that leaves the bus will not answer any more.
  connect(watcher_, &QDBusServiceWatcher::serviceUnregistered, this, [this] {
    if (done_) Finish(Platform::DesktopShot::Failed);
  });
}

std::optional<QDBusConnection> DesktopPortal::SessionBus() {
  // Without an address the bus library would try to start a bus of its own.
  if (qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS")) {
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (runtime.isEmpty() || !QFileInfo::exists(runtime + "/bus")) return std::nullopt;
  }
  QDBusConnection bus = QDBusConnection::sessionBus();
  if (!bus.isConnected()) return std::nullopt;
  return bus;
}

void DesktopPortal::screenshot(Platform::DesktopShotDone done) {
  if (done_) {
    done(Platform::DesktopShot::Failed, {});
    return;
  }
  if (!bus_.isConnected()) {
    done(Platform::DesktopShot::Unavailable, {});
    return;
  }
  done_ = std::move(done);
  const unsigned serial = ++serial_;
  const QString token =
      QString("lumivore%1_%2").arg(QCoreApplication::applicationPid()).arg(serial);
  // The portal answers on a request object whose path it makes from our
  // name on the bus and the token: follow it before asking, so that no
  // answer can come before we listen.
  QString sender = bus_.baseService().mid(1);
  sender.replace('.', '_');
  Listen(QString("%1/request/%2/%3").arg(kPath, sender, token));

  QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kScreenshot, "Screenshot");
  call << QString() << QVariantMap{{"handle_token", token}, {"interactive", true}};
  auto* pending = new QDBusPendingCallWatcher(bus_.asyncCall(call, timeoutMs_), this);
  connect(pending, &QDBusPendingCallWatcher::finished, this, [this, pending, serial] {
    pending->deleteLater();
    if (serial != serial_ || !done_) return;  // that request is over
    const QDBusPendingReply<QDBusObjectPath> reply = *pending;
    if (reply.isError()) {
      Finish(NoPortal(reply.error().type()) ? Platform::DesktopShot::Unavailable
                                            : Platform::DesktopShot::Failed);
      return;
    }
    // Older portals name another request object than the one agreed on.
    const QString path = reply.value().path();
    if (path != requestPath_) {
      StopListening();
      Listen(path);
    }
  });
  timeout_.start(timeoutMs_);
}

void DesktopPortal::Listen(const QString& path) {
  requestPath_ = path;
  bus_.connect(kService, path, kRequest, "Response", this, SLOT(Response(uint, QVariantMap)));
}

void DesktopPortal::StopListening() {
  if (requestPath_.isEmpty()) return;
  bus_.disconnect(kService, requestPath_, kRequest, "Response", this,
                  SLOT(Response(uint, QVariantMap)));
  requestPath_.clear();
}

void DesktopPortal::Response(uint response, const QVariantMap& results) {
  if (!done_) return;
  if (response == 1) {
    Finish(Platform::DesktopShot::Cancelled);
    return;
  }
  // Only a file of this machine is read, and only a regular file: the
  // imaging loader refuses folders, devices and pipes.
  const auto file = response == 0 ? LocalFileFromUri(results.value("uri").toString().toStdString())
                                  : std::nullopt;
  Bitmap picture;
  if (!file || !WicLoadImage(*file, picture) || picture.empty()) {
    Finish(Platform::DesktopShot::Failed);
    return;
  }
  Finish(Platform::DesktopShot::Taken, std::move(picture));
}

void DesktopPortal::Finish(Platform::DesktopShot result, Bitmap picture) {
  timeout_.stop();
  StopListening();
  Platform::DesktopShotDone done = std::move(done_);
  done_ = nullptr;
  done(result, std::move(picture));
}

}  // namespace lumivore
