// Writes the icon reader's seed corpus (fuzz/icon-corpus/): icon files of
// every bit depth, a PNG-compressed image, several sizes in one file, and
// executables with one and several icon groups. Built and run by
// make-icon-corpus.sh; the files are small and kept in the repository.
#include <cstdio>
#include <string>

#include "tests/imaging/PngFixture.h"

using namespace lumivore::test;

namespace {

void Write(const std::string& dir, const char* name, const IconBytes& b) {
  const std::string path = dir + "/" + name;
  if (FILE* f = std::fopen(path.c_str(), "wb")) {
    std::fwrite(b.data(), 1, b.size(), f);
    std::fclose(f);
  }
}

IconBytes Png(int w, int h) {
  return RgbaPng(
      w, h, [](int x, int y) { return std::uint32_t(y * 5) << 24 | std::uint32_t(x * 5) << 16; });
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  const std::string dir = argv[1];
  const auto pattern = [](int x, int y) -> std::uint32_t {
    return (x + y) % 5 == 0 ? 0 : 0xFF000000u | (x * 7) << 16 | (y * 7) << 8 | 0x40;
  };
  for (int bits : {1, 4, 8, 24, 32}) {
    const std::string name = "bits" + std::to_string(bits) + ".ico";
    Write(dir, name.c_str(), IcoFile({{16, 16, bits, DibIcon(16, 16, bits, pattern)}}));
  }
  Write(dir, "sizes.ico",
        IcoFile({{8, 8, 8, DibIcon(8, 8, 8, pattern)},
                 {32, 32, 4, DibIcon(32, 32, 4, pattern)},
                 {20, 20, 32, DibIcon(20, 20, 32, pattern)}}));
  Write(dir, "png.ico", IcoFile({{40, 40, 32, Png(40, 40)}}));
  Write(dir, "nomask.ico", IcoFile({{12, 12, 32, DibIcon(12, 12, 32, pattern, false)}}));
  Write(dir, "one.exe", PeWithFlatIcons({0x336699}));
  Write(dir, "groups.exe",
        PeFile({{{16, 16, 8, DibIcon(16, 16, 8, pattern)}, {32, 32, 24, FlatIcon(0xFF0000)}},
                {{48, 48, 32, Png(48, 48)}},
                {{8, 8, 1, DibIcon(8, 8, 1, pattern)}}}));
  return 0;
}
