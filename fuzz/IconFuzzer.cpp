// libFuzzer target for the icon reader of executables and icon files. Each
// input goes through the file path (pread on an in-memory file) and the
// memory path, and both must agree. Besides crashes, leaks and undefined
// behaviour, it checks the reader's promises: every icon is 32 x 32 with an
// alpha byte, and no more icons come out than the limit asked for.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>

#include "imaging/IconReader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const int fd = ::memfd_create("fuzz-input", MFD_CLOEXEC);
  if (fd < 0) std::abort();
  std::size_t done = 0;
  while (done < size) {
    const ssize_t n = ::write(fd, data + done, size - done);
    if (n <= 0) std::abort();
    done += static_cast<std::size_t>(n);
  }
  const auto fromFile = lumivore::ReadFileIcons("/proc/self/fd/" + std::to_string(fd));
  ::close(fd);
  const auto fromMemory = lumivore::ReadIconsFromMemory(data, size);
  if (fromFile.size() != fromMemory.size()) std::abort();
  for (std::size_t i = 0; i < fromFile.size(); ++i) {
    const lumivore::Bitmap& icon = fromFile[i];
    if (icon.width() != lumivore::kIconSize || icon.height() != lumivore::kIconSize ||
        icon.format() != lumivore::PixelFormat::Bgrx32 || !(icon == fromMemory[i]))
      std::abort();
  }
  if (lumivore::ReadIconsFromMemory(data, size, 1).size() > 1) std::abort();
  return 0;
}
