// libFuzzer target for WicLoadImage. Each input is put in an in-memory file
// and loaded through the public routine, so the whole path from reading the
// file to the finished bitmap is exercised. Besides crashes, leaks and
// undefined behaviour, it checks the loader's promises: a success gives a
// non-empty 24-bit bitmap, a failure leaves the destination exactly as it was.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>

#include "imaging/Usr_wic.h"

namespace {

struct MemFile {
  int fd = ::memfd_create("fuzz-input", MFD_CLOEXEC);
  ~MemFile() {
    if (fd >= 0) ::close(fd);
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  MemFile file;
  if (file.fd < 0) std::abort();
  std::size_t done = 0;
  while (done < size) {
    const ssize_t n = ::write(file.fd, data + done, size - done);
    if (n <= 0) std::abort();
    done += static_cast<std::size_t>(n);
  }
  lumivore::Bitmap bitmap;
  bitmap.allocate(3, 2, lumivore::PixelFormat::Indexed4);
  bitmap.setIndex(2, 1, 9);
  const lumivore::Bitmap before = bitmap;
  const std::string path = "/proc/self/fd/" + std::to_string(file.fd);
  if (lumivore::WicLoadImage(path, bitmap)) {
    if (bitmap.format() != lumivore::PixelFormat::Bgr24 || bitmap.empty()) std::abort();
  } else if (!(bitmap == before)) {
    std::abort();  // a failed load changed the destination
  }
  return 0;
}
