// The marker that one copy of Lumivore runs on this desktop: an exclusive
// lock on a file named after the marker and the display, in a folder of the
// user's own under /tmp. The kernel drops the lock when the process ends,
// even after a crash.
#pragma once

#include <string>

namespace lumivore {

class SingleInstance {
 public:
  // Tries to take the marker `name` for `display` (a DISPLAY value such as ":0").
  SingleInstance(const std::string& name, const std::string& display);
  ~SingleInstance();
  SingleInstance(const SingleInstance&) = delete;
  SingleInstance& operator=(const SingleInstance&) = delete;

  // False when another copy holds the marker.
  bool acquired() const { return acquired_; }
  const std::string& path() const { return path_; }

  // One name for every spelling of a display: "unix:0", ":0" and ":0.1"
  // reach the same server and give "local:0"; a remote host keeps its name
  // ("otherhost:10"). Empty when the text names no display.
  static std::string DisplayKey(const std::string& display);
  // The user's folder of markers, /tmp/lumivore-<uid>. It depends on nothing
  // the environment could change (XDG_RUNTIME_DIR, TMPDIR): two copies on one
  // desktop always meet there.
  static std::string Folder();

 private:
  std::string path_;
  int fd_ = -1;
  bool acquired_ = false;
};

}  // namespace lumivore
