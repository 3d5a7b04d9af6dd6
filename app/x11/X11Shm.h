// Screen images through MIT-SHM: the X server writes the pixels straight into
// a shared memory segment instead of sending them over the socket.
#pragma once

#include <xcb/shm.h>
#include <xcb/xcb.h>

#include <cstddef>
#include <cstdint>

#include "app/Platform.h"

namespace lumivore {

class ShmImage {
 public:
  // Probes the extension; usable() tells whether it is there.
  explicit ShmImage(xcb_connection_t* conn);
  ~ShmImage();
  ShmImage(const ShmImage&) = delete;
  ShmImage& operator=(const ShmImage&) = delete;

  // False once the extension is missing or the server could not attach a
  // segment (for instance over a remote connection); callers then read
  // images over the socket.
  bool usable() const { return usable_; }

  // Reads `r` of a drawable of the given depth as a Z-pixmap image of
  // `bytes` bytes into the segment. Returns the pixels (valid until the next
  // call) or nullptr when the read failed.
  const std::uint8_t* grab(xcb_drawable_t drawable, std::uint8_t depth, const Rect& r,
                           std::size_t bytes);
  // Detaches and frees the segment; the next grab makes a new one.
  void release();

 private:
  // Makes the segment at least `bytes` large.
  bool reserve(std::size_t bytes);

  xcb_connection_t* conn_;
  bool usable_ = false;
  xcb_shm_seg_t seg_ = 0;
  void* addr_ = nullptr;
  std::size_t size_ = 0;
  bool populated_ = false;  // the segment's pages are mapped in this process
};

}  // namespace lumivore
