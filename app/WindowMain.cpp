// The window module (see WindowModule.h): start-up of the window, one copy
// per desktop, the message loop; and the clipboard's keeper of the command
// line. Everything here runs with Qt.
#include <QApplication>
#include <QLibraryInfo>
#include <QMessageBox>
#include <QTranslator>
#include <exception>
#include <type_traits>

#include "app/Desktop.h"
#include "app/SingleInstance.h"
#include "app/Unit1.h"
#include "app/WindowModule.h"
#include "cli/ClipboardServer.h"
#include "ui/UiFont.h"
#include "util/Userfunc.h"

using namespace lumivore;

namespace {

// A second start hands the user over to the running copy: restore its window
// when minimised, then bring forward whichever of its windows was active last.
void ActivateRunningCopy(Platform& platform) {
  const WindowId main = platform.findWindowByClass("TLumivoreForm");
  if (!main) return;
  if (platform.isIconic(main)) platform.restoreWindow(main);
  platform.activateWindow(platform.lastActivePopup(main));
  // This copy ends right away, and the X server drops the requests it has not
  // yet read from a client that has hung up: wait until they were handled.
  platform.sync();
}

// Errors that escape an event handler are shown in the standard error box,
// and the program goes on.
class TApplication : public QApplication {
 public:
  using QApplication::QApplication;
  bool notify(QObject* receiver, QEvent* e) override {
    try {
      return QApplication::notify(receiver, e);
    } catch (const std::exception& ex) {
      QMessageBox::critical(nullptr, "Lumivore", QString::fromUtf8(ex.what()));
    } catch (...) {
      QMessageBox::critical(nullptr, "Lumivore", QString());
    }
    return false;
  }
};

}  // namespace

extern "C" __attribute__((visibility("default"))) int lumivore_window_main(int argc, char** argv) {
  // Qt scales the windows by the desktop's scale (Xft.dpi) and the user's
  // own (QT_SCALE_FACTOR, QT_SCREEN_SCALE_FACTORS); the picture keeps device
  // pixels (app/DevicePixels.h).
  // The windows must live on the X server the platform layer talks to, also
  // in a Wayland session (through XWayland), unless the user chose otherwise.
  if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "xcb");

  std::unique_ptr<Platform> platform = ConnectDesktop(MakeToolkitServices(), false);
  if (!platform) return 1;
  SingleInstance marker("Lumivore_is_running", qEnvironmentVariable("DISPLAY").toStdString());
  if (!marker.acquired()) {
    ActivateRunningCopy(*platform);
    return -1;
  }

  TApplication app(argc, argv);
  QApplication::setApplicationName("Lumivore");
  UseUiFontEverywhere();
  // The interface is Japanese: so are the buttons and prompts of Qt's own
  // dialogs (the save dialog's overwrite question), where the translations
  // are installed.
  QTranslator qtTexts;
  if (qtTexts.load("qtbase_ja", QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
    QApplication::installTranslator(&qtTexts);
  try {
    TLumivoreForm form(*platform, QString::fromStdString(ExecutablePath()));
    form.show();
    app.exec();
  } catch (const std::exception& e) {
    QMessageBox::critical(nullptr, "Lumivore", QString::fromUtf8(e.what()));
  } catch (...) {
    QMessageBox::critical(nullptr, "Lumivore", QString());
  }
  return 0;
}

extern "C" __attribute__((visibility("default"))) void lumivore_serve_clipboard(
    const std::uint8_t* png, std::size_t pngSize, const std::uint8_t* bmp, std::size_t bmpSize,
    int readyFd) {
  ServeClipboard(png, pngSize, bmp, bmpSize, readyFd);
}

static_assert(std::is_same_v<decltype(&lumivore_window_main), WindowMainFn>);
static_assert(std::is_same_v<decltype(&lumivore_serve_clipboard), ServeClipboardFn>);
