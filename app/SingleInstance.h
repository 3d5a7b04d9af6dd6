// The marker that one copy of Lumivore runs on this desktop: an exclusive
// lock on a file named after the marker, per user and display. The kernel
// drops the lock when the process ends, even after a crash.
#pragma once

#include <string>

namespace lumivore {

class SingleInstance {
 public:
  // Tries to take the marker `name` for `display` (for example ":0").
  SingleInstance(const std::string& name, const std::string& display);
  ~SingleInstance();
  SingleInstance(const SingleInstance&) = delete;
  SingleInstance& operator=(const SingleInstance&) = delete;

  // False when another copy holds the marker.
  bool acquired() const { return acquired_; }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
  int fd_ = -1;
  bool acquired_ = false;
};

}  // namespace lumivore
