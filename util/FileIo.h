#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace lumivore {

// Owns a file descriptor and closes it once.
class UniqueFd {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) : fd_(fd) {}
  UniqueFd(UniqueFd&& other) noexcept : fd_(other.release()) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept;
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;
  ~UniqueFd();

  int get() const { return fd_; }
  bool valid() const { return fd_ >= 0; }
  int release();
  // Closes now and reports whether close() succeeded (it can report a late write error).
  bool close();

 private:
  int fd_ = -1;
};

// Reads exactly `size` bytes at `offset`; false on an error or a short file.
bool PreadAll(int fd, void* buf, std::size_t size, std::size_t offset);
// Writes all of `data`, retrying after interrupts and short writes.
bool WriteAll(int fd, const void* data, std::size_t size);

// A new file beside `target` for replacing it atomically. Its name is short
// (".<at most 32 bytes of the target's name>.tmp-XXXXXXXX"), so that a target
// whose name is near the file system's 255-byte limit still gets one, and it
// lies in the target's folder, so the rename stays on one file system. The
// file is locked while in use and removed on destruction unless renamed.
class TempFile {
 public:
  TempFile() = default;
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;
  ~TempFile();

  bool create(const std::string& target);
  int fd() const { return fd_.get(); }
  const std::string& path() const { return path_; }
  // Renames the file over `target`, then closes it; false if either fails.
  bool renameTo(const std::string& target);

 private:
  UniqueFd fd_;
  std::string path_;
};

// Removes the temporary files TempFile made for `target` that a writer left
// behind when it was killed: only names of TempFile's pattern, only regular
// files owned by us (never through a symbolic link), and only those no live
// writer holds locked.
void RemoveStaleTempFiles(const std::string& target);

}  // namespace lumivore
