#include "app/x11/X11Shm.h"

#include <sys/ipc.h>
#include <sys/mman.h>
#include <sys/shm.h>

#include "app/x11/XcbUtil.h"

namespace lumivore {

ShmImage::ShmImage(xcb_connection_t* conn) : conn_(conn) {
  const xcb_query_extension_reply_t* ext = xcb_get_extension_data(conn_, &xcb_shm_id);
  if (!ext || !ext->present) return;
  auto version = Fetch<xcb_shm_query_version_reply_t>(conn_, xcb_shm_query_version_reply,
                                                      xcb_shm_query_version(conn_));
  usable_ = version != nullptr;
}

ShmImage::~ShmImage() { release(); }

void ShmImage::release() {
  if (!addr_) return;
  // Every image request waited for its reply, so the server writes nothing
  // into the segment any more.
  xcb_discard_reply(conn_, xcb_shm_detach_checked(conn_, seg_).sequence);
  xcb_flush(conn_);
  shmdt(addr_);
  addr_ = nullptr;
  size_ = 0;
  populated_ = false;
}

bool ShmImage::reserve(std::size_t bytes) {
  if (bytes <= size_) return true;
  release();
  // Grow in whole mebibytes so that small changes of the target's size do
  // not recreate the segment.
  constexpr std::size_t kStep = std::size_t{1} << 20;
  const std::size_t size = (bytes + kStep - 1) / kStep * kStep;
  const int id = shmget(IPC_PRIVATE, size, IPC_CREAT | 0600);
  if (id < 0) {
    usable_ = false;
    return false;
  }
  void* addr = shmat(id, nullptr, 0);
  if (addr == reinterpret_cast<void*>(-1)) {
    shmctl(id, IPC_RMID, nullptr);
    usable_ = false;
    return false;
  }
  const xcb_shm_seg_t seg = xcb_generate_id(conn_);
  xcb_generic_error_t* error =
      xcb_request_check(conn_, xcb_shm_attach_checked(conn_, seg, id, /*read_only=*/0));
  // Marked for removal as soon as both sides are attached: the kernel frees
  // the segment when the last one detaches, even if Lumivore crashes.
  shmctl(id, IPC_RMID, nullptr);
  if (error) {
    std::free(error);
    shmdt(addr);
    usable_ = false;
    return false;
  }
  seg_ = seg;
  addr_ = addr;
  size_ = size;
  return true;
}

const std::uint8_t* ShmImage::grab(xcb_drawable_t drawable, std::uint8_t depth, const Rect& r,
                                   std::size_t bytes) {
  if (!usable_ || r.isEmpty()) return nullptr;
  if (!reserve(bytes)) return nullptr;
  auto reply = Fetch<xcb_shm_get_image_reply_t>(
      conn_, xcb_shm_get_image_reply,
      xcb_shm_get_image(conn_, drawable, static_cast<std::int16_t>(r.left),
                        static_cast<std::int16_t>(r.top), static_cast<std::uint16_t>(r.width()),
                        static_cast<std::uint16_t>(r.height()), ~0u, XCB_IMAGE_FORMAT_Z_PIXMAP,
                        seg_, 0));
  if (!reply || reply->depth != depth || reply->size != bytes) return nullptr;
  if (!populated_) {
    // The segment's pages are mapped into this process as each is first
    // read, one fault per 4 KiB: mapping them in one call is several times
    // cheaper for a whole screen. Later grabs find them mapped.
    madvise(addr_, size_, MADV_POPULATE_READ);
    populated_ = true;
  }
  return static_cast<const std::uint8_t*>(addr_);
}

}  // namespace lumivore
