// An X selection lives as long as its owner: a command that ends at once
// leaves the picture to a child process of its own. Qt's clipboard, in the
// window module, is loaded only for this (the other commands never load
// Qt), and the child does no pixel work: the picture reaches it already
// encoded, as the parent's worker threads do not exist in a forked child.
#include "cli/ClipboardKeeper.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <vector>

#include "app/WindowModule.h"
#include "imaging/Usr_wic.h"
#include "util/FileIo.h"

namespace lumivore {

namespace {

// How long the child may take to own the clipboard.
constexpr int kTakeTimeoutMs = 10000;

// The child: out of the caller's session and terminal, holding none of its
// files (a pipe the command writes into must end when the command does),
// it serves the picture through the window module. Never returns.
[[noreturn]] void KeepInChild(ServeClipboardFn serve, const std::vector<std::uint8_t>& png,
                              const std::vector<std::uint8_t>& bmp, int readyFd) {
  setsid();
  const int devNull = ::open("/dev/null", O_RDWR);
  if (devNull >= 0) {
    dup2(devNull, STDIN_FILENO);
    dup2(devNull, STDOUT_FILENO);
    dup2(devNull, STDERR_FILENO);
  }
  if (readyFd > 3) close_range(3, readyFd - 1, 0);
  close_range(readyFd + 1, ~0u, 0);
  serve(png.data(), png.size(), bmp.data(), bmp.size(), readyFd);
  _exit(1);  // not reached: serving ends the process
}

}  // namespace

bool KeepOnClipboard(const Bitmap& picture, std::string& why) {
  std::vector<std::uint8_t> png, bmp;
  if (!WicEncodeImage(".png", picture, 100, 0, 0, png) ||
      !WicEncodeImage(".bmp", picture, 100, 0, 0, bmp)) {
    why = "the picture could not be encoded for the clipboard";
    return false;
  }
  // Qt is loaded here, before the fork, as it was when it came with the
  // executable: the child starts its clipboard at once.
  std::string unavailable;
  const auto serve =
      reinterpret_cast<ServeClipboardFn>(WindowModuleEntry(kServeClipboardEntry, unavailable));
  if (!serve) {
    why = "cannot start the clipboard's keeper: " + unavailable;
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
    KeepInChild(serve, png, bmp, ready[1]);
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
