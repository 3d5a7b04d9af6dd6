#pragma once

#include <cstddef>
#include <string>

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

}  // namespace lumivore
