#include "cli/ClipboardServer.h"

#include <unistd.h>
#include <xcb/xcb.h>

#include <QClipboard>
#include <QGuiApplication>
#include <cstdlib>

#include "app/x11/X11Clipboard.h"
#include "util/FileIo.h"

namespace lumivore {

namespace {

// Whether a clipboard manager runs, which takes the clipboard over when its
// owner ends.
bool ClipboardManagerRuns() {
  auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
  xcb_connection_t* c = x11 ? x11->connection() : nullptr;
  if (!c) return false;
  static constexpr char kName[] = "CLIPBOARD_MANAGER";
  xcb_intern_atom_reply_t* atom =
      xcb_intern_atom_reply(c, xcb_intern_atom(c, 1, sizeof kName - 1, kName), nullptr);
  if (!atom) return false;
  xcb_get_selection_owner_reply_t* owner =
      atom->atom ? xcb_get_selection_owner_reply(c, xcb_get_selection_owner(c, atom->atom), nullptr)
                 : nullptr;
  const bool runs = owner && owner->owner != XCB_NONE;
  std::free(owner);
  std::free(atom);
  return runs;
}

}  // namespace

void ServeClipboard(const std::uint8_t* png, std::size_t pngSize, const std::uint8_t* bmp,
                    std::size_t bmpSize, int readyFd) {
  if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "xcb");
  int status = 1;
  {
    int argc = 1;
    char name[] = "lumivore";
    char* argv[] = {name, nullptr};
    QGuiApplication app(argc, argv);
    if (OfferPictureOnClipboard(
            Bitmap(), QByteArray(reinterpret_cast<const char*>(png), qsizetype(pngSize)),
            QByteArray(reinterpret_cast<const char*>(bmp), qsizetype(bmpSize)))) {
      status = 0;
      const char ready = 1;
      WriteAll(readyFd, &ready, 1);
      ::close(readyFd);
      // With a clipboard manager, the application's end hands the picture
      // over to it; otherwise serve it until another program takes the
      // clipboard.
      if (!ClipboardManagerRuns()) {
        QClipboard* clipboard = QGuiApplication::clipboard();
        QObject::connect(clipboard, &QClipboard::changed, &app, [&](QClipboard::Mode mode) {
          if (mode == QClipboard::Clipboard && !clipboard->ownsClipboard()) app.quit();
        });
        app.exec();
      }
    }
  }
  _exit(status);
}

}  // namespace lumivore
