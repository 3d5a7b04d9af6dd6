// Start-up: one copy per desktop, the main window, the message loop.
#include <QApplication>
#include <QLibraryInfo>
#include <QMessageBox>
#include <QTranslator>
#include <cstdio>
#include <exception>

#include "app/ScriptedDesktop.h"
#include "app/SingleInstance.h"
#include "app/Unit1.h"
#include "app/x11/X11Platform.h"
#include "cli/Cli.h"
#include "cli/CliArgs.h"
#include "ui/UiFont.h"
#include "util/CommandLine.h"
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

// The desktop Lumivore works on: the X server of $DISPLAY, or nullptr after
// one line on stderr saying why not. The scripted desktop held in memory is
// only for tests, which ask for it with LUMIVORE_PLATFORM=scripted.
std::unique_ptr<Platform> MakePlatform() {
  if (qEnvironmentVariable("LUMIVORE_PLATFORM") == "scripted")
    return std::make_unique<ScriptedDesktop>();
  if (auto x11 = X11Platform::Connect()) return x11;
  const QByteArray display = qgetenv("DISPLAY");
  if (display.isEmpty()) {
    std::fprintf(stderr, "lumivore: needs an X11 display, and DISPLAY is not set\n");
  } else {
    std::fprintf(stderr, "lumivore: needs an X11 display, and DISPLAY=%s cannot be opened\n",
                 display.constData());
  }
  return nullptr;
}

}  // namespace

int main(int argc, char** argv) {
  // The commands for scripts run without Qt's GUI, the marker or the window.
  if (argc > 1 && IsCliCommand(argv[1])) return RunCli({argv + 1, argv + argc}, MakePlatform);
  // --help and --version answer before anything else: no display, no marker, no window.
  if (argc > 1) {
    if (auto reply =
            AnswerCommandLine({argv + 1, argv + argc}, GetFileVersionStr(ExecutablePath()))) {
      std::fputs(reply->text.c_str(), reply->status == 0 ? stdout : stderr);
      return reply->status;
    }
  }

  // Qt scales the windows by the desktop's scale (Xft.dpi) and the user's
  // own (QT_SCALE_FACTOR, QT_SCREEN_SCALE_FACTORS); the picture keeps device
  // pixels (app/DevicePixels.h).
  // The windows must live on the X server the platform layer talks to, also
  // in a Wayland session (through XWayland), unless the user chose otherwise.
  if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "xcb");

  std::unique_ptr<Platform> platform = MakePlatform();
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
