// The services the X11 desktop gets from the window's toolkit and the
// desktop's libraries: Qt's clipboard (which hands the picture to a
// clipboard manager when the program ends), icons from the icon theme and
// from the files themselves, sounds through libcanberra, pictures of the
// desktop through its portal.
#include <QGuiApplication>
#include <QPointer>
#include <memory>

#include "app/DesktopIcons.h"
#include "app/DesktopPortal.h"
#include "app/x11/X11Clipboard.h"
#include "app/x11/X11Platform.h"
#include "app/x11/X11Sound.h"
#include "app/x11/XcbUtil.h"
#include "imaging/IconReader.h"

namespace lumivore {

namespace {

class ToolkitServices final : public DesktopServices {
 public:
  bool setClipboardImage(const Bitmap& image) override { return OfferPictureOnClipboard(image); }

  // A launcher's icons are its application's icon from the icon theme; any
  // other file's are the ones stored in it (executables, icon files).
  std::vector<Bitmap> fileIcons(const std::string& file) override {
    if (auto icon = LauncherIcon(file)) return {std::move(*icon)};
    return ReadFileIcons(file);
  }

  std::optional<Bitmap> shellIcon(const std::string& file) override { return TypeIcon(file); }

  void playSound(const std::string& file) override {
    // Created on first use: most sessions never play a sound.
    if (!sound_) sound_ = std::make_unique<CanberraSound>();
    sound_->play(file);
  }

  // The desktop portal, made at the first request; it belongs to the
  // application object and goes with it.
  void captureThroughDesktop(Platform::DesktopShotDone done) override {
    if (!portal_) {
      const auto bus = QCoreApplication::instance() ? DesktopPortal::SessionBus() : std::nullopt;
      if (!bus) {
        done(Platform::DesktopShot::Unavailable, {});
        return;
      }
      portal_ =
          new DesktopPortal(*bus, DesktopPortal::kDefaultTimeoutMs, QCoreApplication::instance());
    }
    portal_->screenshot(std::move(done));
  }

  // Qt's own connection: a round trip there has the server handle all that
  // went before it.
  void sync() override {
    auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    if (xcb_connection_t* qt = x11 ? x11->connection() : nullptr) {
      Fetch<xcb_get_input_focus_reply_t>(qt, xcb_get_input_focus_reply, xcb_get_input_focus(qt));
    }
  }

 private:
  std::unique_ptr<CanberraSound> sound_;
  QPointer<DesktopPortal> portal_;
};

}  // namespace

std::unique_ptr<DesktopServices> MakeToolkitServices() {
  return std::make_unique<ToolkitServices>();
}

std::unique_ptr<X11Platform> X11Platform::Connect() { return Connect(MakeToolkitServices()); }

}  // namespace lumivore
