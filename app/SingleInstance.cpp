#include "app/SingleInstance.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace lumivore {

namespace {

std::string LockFolder() {
  if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime && *runtime) return runtime;
  if (const char* tmp = std::getenv("TMPDIR"); tmp && *tmp) return tmp;
  return "/tmp";
}

// A display name made safe for a file name (":0.0" -> "_0.0").
std::string SafeDisplay(const std::string& display) {
  std::string out;
  for (char c : display) out += (c == '/' || c == ':') ? '_' : c;
  return out;
}

}  // namespace

SingleInstance::SingleInstance(const std::string& name, const std::string& display) {
  path_ = LockFolder() + "/" + name + "-" + std::to_string(getuid()) + SafeDisplay(display);
  // O_CLOEXEC: a program Lumivore starts must not inherit the lock and keep
  // it after Lumivore ends. O_NOFOLLOW: never open a link planted in /tmp.
  fd_ = open(path_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd_ < 0) {
    // The marker cannot be made at all: run as the first copy.
    acquired_ = true;
    return;
  }
  int r;
  do r = flock(fd_, LOCK_EX | LOCK_NB);
  while (r != 0 && errno == EINTR);
  acquired_ = r == 0 || errno != EWOULDBLOCK;
}

SingleInstance::~SingleInstance() {
  if (fd_ >= 0) close(fd_);
}

}  // namespace lumivore
