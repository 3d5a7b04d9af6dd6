// Shared helpers of the imaging tests: scratch folders, files, test pictures
// and an independent reference decoder (ImageMagick's convert).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "imaging/Bitmap.h"

namespace lumivore::test {

using Bytes = std::vector<std::uint8_t>;

// A fresh folder under the system's temp folder, removed with its contents.
class ScratchDir {
 public:
  ScratchDir();
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
  const std::string& path() const { return path_; }
  std::string file(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

std::optional<Bytes> ReadFile(const std::string& path);
bool WriteFile(const std::string& path, const Bytes& data);
// Names in a folder (no dot entries).
std::vector<std::string> ListDir(const std::string& path);

// Root of the third-party image suites, or "" when they are not there.
std::string TestDataRoot();

// A 24-bit picture with flat areas, edges, a gradient and noise, so that
// every resampling or coding mistake shows.
Bitmap MakePattern(int width, int height, PixelFormat format = PixelFormat::Bgr24);

// Decodes with ImageMagick into packed RGB (8 bits, alpha switched off so
// stored colours stay). nullopt when convert is missing or fails.
// `options` go between the input and the output (e.g. colour space handling).
std::optional<Bytes> ReferenceRgb(const std::string& path, int width, int height,
                                  const std::string& options = "");
// The same as RGBA, 4 bytes per pixel.
std::optional<Bytes> ReferenceRgba(const std::string& path, int width, int height,
                                   const std::string& options = "");

// The filter type byte that starts each row of a PNG file's image data;
// empty when the file is not readable.
std::vector<int> PngRowFilters(const Bytes& png);

// Runs a shell command and returns what it printed (nullopt on failure).
std::optional<std::string> RunCommand(const std::string& command);

struct Difference {
  int max = 0;
  double mean = 0.0;
};
// Compares a 24-bit bitmap with packed RGB of the same size.
Difference Compare(const Bitmap& bitmap, const Bytes& rgb);

}  // namespace lumivore::test
