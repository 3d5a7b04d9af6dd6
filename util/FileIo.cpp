#include "util/FileIo.h"

#include <unistd.h>

#include <cerrno>
#include <utility>

namespace lumivore {

UniqueFd& UniqueFd::operator=(UniqueFd&& other) noexcept {
  if (this != &other) {
    close();
    fd_ = other.release();
  }
  return *this;
}

UniqueFd::~UniqueFd() { close(); }

int UniqueFd::release() { return std::exchange(fd_, -1); }

bool UniqueFd::close() {
  if (fd_ < 0) return true;
  // Linux frees the descriptor even when close() fails, so it is never retried.
  return ::close(std::exchange(fd_, -1)) == 0;
}

bool PreadAll(int fd, void* buf, std::size_t size, std::size_t offset) {
  auto* p = static_cast<char*>(buf);
  while (size > 0) {
    const ssize_t n = ::pread(fd, p, size, static_cast<off_t>(offset));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    p += n;
    offset += static_cast<std::size_t>(n);
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

bool WriteAll(int fd, const void* data, std::size_t size) {
  const auto* p = static_cast<const char*>(data);
  while (size > 0) {
    const ssize_t n = ::write(fd, p, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    p += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

}  // namespace lumivore
