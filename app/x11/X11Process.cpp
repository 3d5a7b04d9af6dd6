// Programs started after a hand-off, and the wait until they are ready.
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <thread>

#include "app/x11/X11Platform.h"
#include "app/x11/XcbUtil.h"

extern char** environ;

namespace lumivore {

namespace {

// Collects the exit status of a child that is still running when the wait
// ends, so it never lingers as a zombie; the thread ends with the child.
void ReapLater(pid_t pid) {
  std::thread([pid] {
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
  }).detach();
}

class SpawnSetup {
 public:
  SpawnSetup() {
    posix_spawn_file_actions_init(&actions_);
    // Only standard input, output and error are passed on: the settings
    // file, the single-instance lock and the X connection stay ours.
    posix_spawn_file_actions_addclosefrom_np(&actions_, 3);
    posix_spawnattr_init(&attributes_);
    sigset_t none, all;
    sigemptyset(&none);
    sigfillset(&all);
    posix_spawnattr_setsigmask(&attributes_, &none);
    posix_spawnattr_setsigdefault(&attributes_, &all);
    posix_spawnattr_setflags(&attributes_, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  }
  ~SpawnSetup() {
    posix_spawn_file_actions_destroy(&actions_);
    posix_spawnattr_destroy(&attributes_);
  }
  SpawnSetup(const SpawnSetup&) = delete;
  SpawnSetup& operator=(const SpawnSetup&) = delete;
  const posix_spawn_file_actions_t* actions() const { return &actions_; }
  const posix_spawnattr_t* attributes() const { return &attributes_; }

 private:
  posix_spawn_file_actions_t actions_;
  posix_spawnattr_t attributes_;
};

}  // namespace

bool X11Platform::startProcess(const std::vector<std::string>& argv, int idleTimeoutMs) {
  if (argv.empty() || argv.front().empty()) return false;
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  pid_t pid = 0;
  {
    SpawnSetup setup;
    // Searched on PATH when the name holds no slash; never through a shell.
    if (posix_spawnp(&pid, args.front(), setup.actions(), setup.attributes(), args.data(),
                     environ) != 0) {
      return false;
    }
  }
  // Ready means a window of the child is shown, or the child has ended.
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(std::max(0, idleTimeoutMs));
  const xcb_atom_t pidAtom = atom("_NET_WM_PID");
  for (;;) {
    int status = 0;
    if (::waitpid(pid, &status, WNOHANG) == pid) return true;
    for (WindowId w : topLevelWindows()) {
      auto reply = Fetch<xcb_get_property_reply_t>(
          conn_, xcb_get_property_reply,
          xcb_get_property(conn_, 0, w, pidAtom, XCB_ATOM_CARDINAL, 0, 1));
      if (reply && reply->format == 32 && xcb_get_property_value_length(reply.get()) == 4 &&
          *static_cast<const std::uint32_t*>(xcb_get_property_value(reply.get())) ==
              static_cast<std::uint32_t>(pid) &&
          isWindowVisible(w)) {
        ReapLater(pid);
        return true;
      }
    }
    if (std::chrono::steady_clock::now() >= deadline) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  ReapLater(pid);
  return true;
}

bool X11Platform::waitForFocus(WindowId w, int timeoutMs) {
  if (!w) return false;
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(std::max(0, timeoutMs));
  for (;;) {
    auto focus = Fetch<xcb_get_input_focus_reply_t>(conn_, xcb_get_input_focus_reply,
                                                    xcb_get_input_focus(conn_));
    // The focus may rest on a window inside the client (a toolkit's own
    // focus window): walk up to the root.
    xcb_window_t f = focus ? focus->focus : xcb_window_t{XCB_WINDOW_NONE};
    for (int depth = 0; f != XCB_WINDOW_NONE && f != root_ && depth < 32; ++depth) {
      if (f == w) return true;
      auto tree =
          Fetch<xcb_query_tree_reply_t>(conn_, xcb_query_tree_reply, xcb_query_tree(conn_, f));
      f = tree ? tree->parent : xcb_window_t{XCB_WINDOW_NONE};
    }
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

}  // namespace lumivore
