#include "tests/x11/XSession.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>
#include <xcb/xcb.h>
#include <xcb/xcb_ewmh.h>

#include <cstdio>
#include <cstdlib>
#include <thread>

namespace lumivore::testing {

Process::Process(const std::vector<std::string>& argv, int keepFd) {
  // Everything the child needs is prepared before the fork: between fork
  // and exec it may only make system calls (other threads may hold locks).
  std::vector<char*> args;
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  const pid_t parent = getpid();
  pid_ = fork();
  if (pid_ != 0) return;
  // Child: die with the test process, whatever ends it.
  prctl(PR_SET_PDEATHSIG, SIGKILL);
  if (getppid() != parent) _exit(127);
  const int null = open("/dev/null", O_RDWR);
  dup2(null, STDIN_FILENO);
  dup2(null, STDOUT_FILENO);
  dup2(null, STDERR_FILENO);
  for (int fd = 3; fd < 1024; ++fd) {
    if (fd != keepFd) close(fd);
  }
  execvp(args[0], args.data());
  _exit(127);
}

Process::~Process() { stop(); }

Process::Process(Process&& other) noexcept : pid_(other.pid_) { other.pid_ = -1; }

Process& Process::operator=(Process&& other) noexcept {
  if (this != &other) {
    stop();
    pid_ = other.pid_;
    other.pid_ = -1;
  }
  return *this;
}

void Process::stop() {
  if (pid_ <= 0) return;
  kill(pid_, SIGTERM);
  bool reaped =
      WaitFor([&] { return waitpid(pid_, nullptr, WNOHANG) == pid_; }, std::chrono::seconds(1));
  if (!reaped) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
  pid_ = -1;
}

void Process::crash() {
  if (pid_ <= 0) return;
  kill(pid_, SIGKILL);
  waitpid(pid_, nullptr, 0);
  pid_ = -1;
}

bool WaitFor(const std::function<bool()>& done, std::chrono::milliseconds limit) {
  const auto end = std::chrono::steady_clock::now() + limit;
  for (;;) {
    if (done()) return true;
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

std::optional<std::string> RunCommand(const std::string& command) {
  FILE* pipe = popen((command + " 2>/dev/null").c_str(), "r");
  if (!pipe) return std::nullopt;
  std::string out;
  char buffer[4096];
  std::size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
  if (pclose(pipe) != 0) return std::nullopt;
  return out;
}

bool HaveProgram(const std::string& name) {
  return RunCommand("command -v " + name + " >/dev/null").has_value();
}

namespace {

// Whether an EWMH window manager runs on the display.
bool WindowManagerRunning() {
  xcb_connection_t* c = xcb_connect(nullptr, nullptr);
  bool running = false;
  if (!xcb_connection_has_error(c)) {
    xcb_ewmh_connection_t ewmh;
    if (xcb_ewmh_init_atoms_replies(&ewmh, xcb_ewmh_init_atoms(c, &ewmh), nullptr)) {
      xcb_window_t check = 0;
      running = xcb_ewmh_get_supporting_wm_check_reply(
                    &ewmh, xcb_ewmh_get_supporting_wm_check(&ewmh, ewmh.screens[0]->root), &check,
                    nullptr) &&
                check != 0;
      xcb_ewmh_connection_wipe(&ewmh);
    }
  }
  xcb_disconnect(c);
  return running;
}

}  // namespace

XSession::XSession(bool windowManager, int depth) {
  if (!HaveProgram("Xvfb") || (windowManager && !HaveProgram("openbox"))) return;
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) return;
  // The child inherits the write end without O_CLOEXEC under its own number.
  const int writeFd = fcntl(fds[1], F_DUPFD, 10);
  close(fds[1]);
  server_ = Process({"Xvfb", "-displayfd", std::to_string(writeFd), "-screen", "0", "1920x1080x" + std::to_string(depth),
                     "-nolisten", "tcp", "-noreset"},
                    writeFd);
  close(writeFd);
  // Xvfb writes the display number once it accepts connections.
  std::string number;
  pollfd pfd{fds[0], POLLIN, 0};
  while (number.find('\n') == std::string::npos && poll(&pfd, 1, 10000) > 0) {
    char buffer[16];
    const ssize_t n = read(fds[0], buffer, sizeof buffer);
    if (n <= 0) break;
    number.append(buffer, n);
  }
  close(fds[0]);
  if (number.find('\n') == std::string::npos) return;
  display_ = ":" + number.substr(0, number.find('\n'));
  setenv("DISPLAY", display_.c_str(), 1);
  if (windowManager) {
    windowManager_ = Process({"openbox", "--sm-disable"});
    if (!WaitFor(WindowManagerRunning)) return;
  }
  ok_ = true;
}

XSession::~XSession() {
  windowManager_.stop();
  server_.stop();
}

Process XSession::start(const std::vector<std::string>& argv) { return Process(argv); }

}  // namespace lumivore::testing
