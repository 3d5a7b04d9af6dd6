// Services of the X11 desktop that later features fill in.
#include <QCoreApplication>

#include "app/DesktopIcons.h"
#include "app/x11/X11Platform.h"
#include "imaging/IconReader.h"

namespace lumivore {

// --- Icons of dropped files ---------------------------------------------------
// A launcher's icons are its application's icon from the icon theme; any
// other file's are the ones stored in it (executables, icon files).
std::vector<Bitmap> X11Platform::fileIcons(const std::string& file) {
  if (auto icon = LauncherIcon(file)) return {std::move(*icon)};
  return ReadFileIcons(file);
}

std::optional<Bitmap> X11Platform::shellIcon(const std::string& file) { return TypeIcon(file); }

// --- Pictures the desktop takes itself ------------------------------------------
void X11Platform::captureThroughDesktop(DesktopShotDone done) {
  if (!xwayland_ || !QCoreApplication::instance()) {
    done(DesktopShot::Unavailable, {});
    return;
  }
  if (!portal_) {
    const auto bus = DesktopPortal::SessionBus();
    if (!bus) {
      done(DesktopShot::Unavailable, {});
      return;
    }
    portal_ =
        new DesktopPortal(*bus, DesktopPortal::kDefaultTimeoutMs, QCoreApplication::instance());
  }
  portal_->screenshot(std::move(done));
}

}  // namespace lumivore
