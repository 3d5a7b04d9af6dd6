#include "app/SingleInstance.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <cerrno>
#include <cstdlib>

namespace lumivore {

namespace {

// Opens the user's marker folder, creating it private (0700). A folder that
// someone else owns, that others may write into, or a link in its place is
// refused: -1.
int OpenFolder(const std::string& folder) {
  if (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) return -1;
  const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return -1;
  struct stat st;
  if (fstat(fd, &st) != 0 || st.st_uid != getuid() || (st.st_mode & 077) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

}  // namespace

std::string SingleInstance::DisplayKey(const std::string& display) {
  char* host = nullptr;
  int number = 0;
  if (display.empty() || !xcb_parse_display(display.c_str(), &host, &number, nullptr)) return {};
  std::string h = host ? host : "";
  std::free(host);
  char self[256] = {};
  gethostname(self, sizeof self - 1);
  // Every way of reaching a server on this machine is the same desktop.
  if (h.empty() || h == "unix" || h == "localhost" || h == "127.0.0.1" || h == "::1" ||
      h == self) {
    h = "local";
  }
  return h + ":" + std::to_string(number);
}

std::string SingleInstance::Folder() { return "/tmp/lumivore-" + std::to_string(getuid()); }

SingleInstance::SingleInstance(const std::string& name, const std::string& display) {
  std::string key = DisplayKey(display);
  for (char& c : key) {
    if (c == '/') c = '_';  // a file name, whatever the host part holds
  }
  const std::string file = name + "-" + key;
  path_ = Folder() + "/" + file;
  const int folder = OpenFolder(Folder());
  if (folder < 0) {
    // No safe place for the marker: run as the first copy.
    acquired_ = true;
    return;
  }
  // O_CLOEXEC: a program Lumivore starts must not inherit the lock and keep
  // it after Lumivore ends. O_NOFOLLOW: never open a link.
  fd_ = openat(folder, file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  close(folder);
  if (fd_ < 0) {
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
