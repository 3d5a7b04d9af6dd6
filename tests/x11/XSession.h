// A throwaway X server (Xvfb, optionally with openbox) and the clients the
// X11 tests drive. Every process started here is killed when its owner goes
// out of scope, and also when the test process dies.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace lumivore::testing {

class Process {
 public:
  Process() = default;
  // Starts argv[0] from PATH with stdout and stderr discarded; `keepFd` is
  // left open in the child.
  explicit Process(const std::vector<std::string>& argv, int keepFd = -1);
  ~Process();
  Process(Process&& other) noexcept;
  Process& operator=(Process&& other) noexcept;

  bool running() const { return pid_ > 0; }
  pid_t pid() const { return pid_; }
  // SIGTERM, then SIGKILL after a second; reaps the child.
  void stop();
  // SIGKILL at once, as a crash; reaps the child.
  void crash();

 private:
  pid_t pid_ = -1;
};

// Polls `done` every 20 ms until it is true or `limit` passed.
bool WaitFor(const std::function<bool()>& done,
             std::chrono::milliseconds limit = std::chrono::seconds(5));

// Runs a command (through the shell, for the tests' own tools) and returns
// its standard output, or nullopt when it failed.
std::optional<std::string> RunCommand(const std::string& command);

class XSession {
 public:
  // Starts Xvfb 1920x1080 at `depth` bits on a free display and points
  // $DISPLAY at it; with `windowManager`, also openbox, and waits until it
  // manages. ok() is false when the programs are missing or did not come up.
  explicit XSession(bool windowManager, int depth = 24);
  ~XSession();

  bool ok() const { return ok_; }
  const std::string& display() const { return display_; }
  // Kills the window manager as a crash would: the clients stay, and so do
  // the window manager's properties on the root.
  void crashWindowManager() { windowManager_.crash(); }
  // Starts a client on this display.
  Process start(const std::vector<std::string>& argv);

 private:
  Process server_;
  Process windowManager_;
  std::string display_;
  bool ok_ = false;
};

bool HaveProgram(const std::string& name);

}  // namespace lumivore::testing
