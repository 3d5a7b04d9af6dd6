// Whole-file reading and crash-safe writing for the codecs.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <string>

#include "imaging/Codec.h"
#include "util/FileIo.h"

namespace lumivore::codec {
namespace {

std::string DirName(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

// Follows symbolic links so that a link is written through, not replaced.
// A dangling link resolves to the path it names.
bool ResolveLinks(std::string path, std::string& resolved) {
  for (int hops = 0; hops < 40; ++hops) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) {
      resolved = path;
      return true;
    }
    char buffer[PATH_MAX];
    const ssize_t n = ::readlink(path.c_str(), buffer, sizeof buffer);
    if (n <= 0 || n >= static_cast<ssize_t>(sizeof buffer)) return false;
    std::string target(buffer, static_cast<std::size_t>(n));
    path = target[0] == '/' ? target : DirName(path) + "/" + target;
  }
  return false;  // a loop of links
}

}  // namespace

bool ReadWholeFile(const std::string& path, Bytes& out) {
  if (path.empty()) return false;
  // O_NONBLOCK: opening a named pipe must not wait for a writer.
  UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  if (!fd.valid()) return false;
  struct stat st {};
  if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  if (st.st_size <= 0 || static_cast<unsigned long long>(st.st_size) >= (1ULL << 31)) return false;
  Bytes data(static_cast<std::size_t>(st.st_size));
  std::size_t done = 0;
  while (done < data.size()) {
    const ssize_t n = ::read(fd.get(), data.data() + done, data.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) break;  // the file shrank meanwhile
    done += static_cast<std::size_t>(n);
  }
  data.resize(done);
  out = std::move(data);
  return true;
}

bool WriteFileAtomically(const std::string& path, const Bytes& data) {
  std::string target;
  if (path.empty() || !ResolveLinks(path, target)) return false;
  struct stat existing {};
  const bool exists = ::stat(target.c_str(), &existing) == 0;
  if (exists && !S_ISREG(existing.st_mode)) return false;  // a folder, device or pipe
  // Replacing goes through the folder, so a read-only file would be replaced
  // although it could not be written: refuse, as writing it in place would.
  if (exists && ::access(target.c_str(), W_OK) != 0) return false;

  // The temporary file lives in the target's folder so that rename() is an
  // atomic replacement on the same file system.
  const std::string dir = DirName(target);
  TempFile temp;
  if (!temp.create(target)) return false;

  bool ok = WriteAll(temp.fd(), data.data(), data.size());
  if (ok && exists) {
    // Keep the old file's permission bits; its owner only when we may.
    ok = ::fchmod(temp.fd(), existing.st_mode & 07777) == 0;
    if (ok && ::fchown(temp.fd(), existing.st_uid, existing.st_gid) != 0) {
      // Not the owner: the file becomes ours, as any rewrite by us would.
    }
  }
  ok = ok && ::fsync(temp.fd()) == 0 && temp.renameTo(target);
  if (!ok) return false;  // the temporary file goes with `temp`
  // Make the rename itself durable; the data is complete either way.
  UniqueFd dirFd(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dirFd.valid()) ::fsync(dirFd.get());
  return true;
}

}  // namespace lumivore::codec
