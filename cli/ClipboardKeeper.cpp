// An X selection lives as long as its owner: a command that ends at once
// leaves the picture to a child process of its own. The child starts Qt's
// clipboard only for this (the command itself never pays for Qt's GUI), and
// does no pixel work: the picture reaches it already encoded, as the
// parent's worker threads do not exist in a forked child.
#include "cli/ClipboardKeeper.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <QClipboard>
#include <QGuiApplication>
#include <cstring>

#include "app/x11/X11Clipboard.h"
#include "imaging/Usr_wic.h"
#include "util/FileIo.h"

namespace lumivore {

namespace {

// How long the child may take to own the clipboard.
constexpr int kTakeTimeoutMs = 10000;

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

// The child: owns the clipboard, says so on `readyFd`, serves the picture
// and ends. Never returns.
[[noreturn]] void ServeClipboard(QByteArray png, QByteArray bmp, int readyFd) {
  // Out of the caller's session and terminal, holding none of its files: a
  // pipe the command writes into must end when the command does.
  setsid();
  const int devNull = ::open("/dev/null", O_RDWR);
  if (devNull >= 0) {
    dup2(devNull, STDIN_FILENO);
    dup2(devNull, STDOUT_FILENO);
    dup2(devNull, STDERR_FILENO);
  }
  if (readyFd > 3) close_range(3, readyFd - 1, 0);
  close_range(readyFd + 1, ~0u, 0);
  if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "xcb");
  int status = 1;
  {
    int argc = 1;
    char name[] = "lumivore";
    char* argv[] = {name, nullptr};
    QGuiApplication app(argc, argv);
    if (OfferPictureOnClipboard(Bitmap(), std::move(png), std::move(bmp))) {
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

}  // namespace

bool KeepOnClipboard(const Bitmap& picture, std::string& why) {
  std::vector<std::uint8_t> png, bmp;
  if (!WicEncodeImage(".png", picture, 100, 0, 0, png) ||
      !WicEncodeImage(".bmp", picture, 100, 0, 0, bmp)) {
    why = "the picture could not be encoded for the clipboard";
    return false;
  }
  int ready[2];
  if (pipe2(ready, O_CLOEXEC) != 0) {
    why = std::string("cannot start the clipboard's keeper: ") + std::strerror(errno);
    return false;
  }
  UniqueFd readEnd(ready[0]);
  std::fflush(nullptr);
  const pid_t child = fork();
  if (child < 0) {
    ::close(ready[1]);
    why = std::string("cannot start the clipboard's keeper: ") + std::strerror(errno);
    return false;
  }
  if (child == 0) {
    readEnd.release();
    ::close(ready[0]);
    ServeClipboard(QByteArray(reinterpret_cast<const char*>(png.data()), qsizetype(png.size())),
                   QByteArray(reinterpret_cast<const char*>(bmp.data()), qsizetype(bmp.size())),
                   ready[1]);
  }
  ::close(ready[1]);
  pollfd fd{readEnd.get(), POLLIN, 0};
  char byte = 0;
  if (poll(&fd, 1, kTakeTimeoutMs) == 1 && ::read(readEnd.get(), &byte, 1) == 1 && byte == 1)
    return true;
  // The child could not take the clipboard (it then ended), or took too long.
  kill(child, SIGTERM);
  waitpid(child, nullptr, 0);
  why = "the clipboard could not be taken";
  return false;
}

}  // namespace lumivore
