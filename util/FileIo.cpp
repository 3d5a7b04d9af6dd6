#include "util/FileIo.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <memory>
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

namespace {

constexpr std::size_t kTempPrefixBytes = 32;
constexpr std::string_view kTempMarker = ".tmp-";
constexpr std::size_t kTempSuffixDigits = 8;

struct TempParts {
  std::string dir;     // with its trailing slash, or empty for the current folder
  std::string prefix;  // "." + the start of the target's name + kTempMarker
};

TempParts TempPartsFor(const std::string& target) {
  const std::size_t slash = target.rfind('/');
  TempParts parts;
  parts.dir = slash == std::string::npos ? std::string() : target.substr(0, slash + 1);
  std::string_view name(target);
  if (slash != std::string::npos) name.remove_prefix(slash + 1);
  std::size_t cut = std::min(name.size(), kTempPrefixBytes);
  // Never end inside a UTF-8 sequence: back up over continuation bytes.
  while (cut < name.size() && cut > 0 && (static_cast<unsigned char>(name[cut]) & 0xC0) == 0x80) {
    --cut;
  }
  parts.prefix = "." + std::string(name.substr(0, cut)) + std::string(kTempMarker);
  return parts;
}

bool IsTempSuffix(std::string_view s) {
  if (s.size() != kTempSuffixDigits) return false;
  for (char c : s) {
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
  }
  return true;
}

}  // namespace

TempFile::~TempFile() {
  if (!path_.empty()) ::unlink(path_.c_str());
}

bool TempFile::create(const std::string& target) {
  const TempParts parts = TempPartsFor(target);
  // Names only need to differ between attempts and processes; O_EXCL settles any clash.
  static std::atomic<unsigned> counter{0};
  const auto now = std::chrono::steady_clock::now().time_since_epoch().count();
  const unsigned salt = static_cast<unsigned>(now) ^ (static_cast<unsigned>(::getpid()) << 16);
  for (int attempt = 0; attempt < 16; ++attempt) {
    char suffix[kTempSuffixDigits + 1];
    std::snprintf(suffix, sizeof suffix, "%08x", salt + counter++ * 2654435761u);
    std::string name = parts.dir + parts.prefix + suffix;
    UniqueFd fd(::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
    if (fd.valid()) {
      // The lock tells RemoveStaleTempFiles that a live writer owns the file.
      if (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) {
        ::unlink(name.c_str());
        return false;
      }
      fd_ = std::move(fd);
      path_ = std::move(name);
      return true;
    }
    if (errno != EEXIST) return false;
  }
  return false;
}

bool TempFile::renameTo(const std::string& target) {
  // Still open and locked during the rename, so no cleaner can take it away.
  if (::rename(path_.c_str(), target.c_str()) != 0) return false;
  path_.clear();
  return fd_.close();
}

void RemoveStaleTempFiles(const std::string& target) {
  const TempParts parts = TempPartsFor(target);
  std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(parts.dir.empty() ? "." : parts.dir.c_str()),
                                          ::closedir);
  if (!dir) return;
  while (const dirent* entry = ::readdir(dir.get())) {
    const std::string_view name(entry->d_name);
    if (!name.starts_with(parts.prefix) || !IsTempSuffix(name.substr(parts.prefix.size()))) {
      continue;
    }
    const std::string path = parts.dir + std::string(name);
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    struct stat opened {}, named {};
    if (!fd.valid() || ::fstat(fd.get(), &opened) != 0 || !S_ISREG(opened.st_mode) ||
        opened.st_uid != ::geteuid() || ::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) {
      continue;
    }
    // Still the file that was checked (not replaced meanwhile): remove it.
    if (::lstat(path.c_str(), &named) == 0 && named.st_dev == opened.st_dev &&
        named.st_ino == opened.st_ino) {
      ::unlink(path.c_str());
    }
  }
}

}  // namespace lumivore
