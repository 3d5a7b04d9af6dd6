// What the platform layer leaves to the program's window toolkit and the
// desktop's libraries: the clipboard, the icons of files, sounds, pictures
// the desktop takes itself, and the toolkit's own connection to the display.
// The window part of Lumivore (lumivore_gui) gives the platform layer these;
// the command line runs without them, and without loading Qt.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/Platform.h"
#include "imaging/Bitmap.h"

namespace lumivore {

class DesktopServices {
 public:
  virtual ~DesktopServices() = default;
  // As the Platform functions of the same names.
  virtual bool setClipboardImage(const Bitmap& image) = 0;
  virtual std::vector<Bitmap> fileIcons(const std::string& file) = 0;
  virtual std::optional<Bitmap> shellIcon(const std::string& file) = 0;
  virtual void playSound(const std::string& file) = 0;
  // As Platform::captureThroughDesktop, through the desktop's portal.
  virtual void captureThroughDesktop(Platform::DesktopShotDone done) = 0;
  // Makes sure every request the toolkit sent over its own connection (a
  // window's hide or show) reached the display.
  virtual void sync() = 0;
};

// The services of the window's toolkit: Qt's clipboard and icons,
// libcanberra's sounds. Defined in lumivore_gui (app/x11/X11Services.cpp),
// which whoever calls this links; they need a QGuiApplication.
std::unique_ptr<DesktopServices> MakeToolkitServices();

}  // namespace lumivore
