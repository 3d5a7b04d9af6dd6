// GIF saving of many-colour pictures: for each picture given on the command
// line, the time to encode and the colour error of the result (mean absolute
// difference per channel, 0..255, and the share of pixels that changed) for
// our encoder, for ImageMagick writing a GIF with its defaults, and for
// giflib's median cut (no dithering), all on the same pixels in one process.
// run-gif.sh feeds it screenshots of real X clients.
#include <gif_lib.h>

#include <Magick++.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "imaging/Codec.h"
#include "imaging/Usr_wic.h"

namespace lumivore {
namespace {

using Clock = std::chrono::steady_clock;

struct Outcome {
  double ms = 0;        // best of the runs
  double meanError = 0; // per channel
  double changed = 0;   // share of pixels not kept exactly
  bool ok = false;
};

// Packed RGB of a 24-bit bitmap.
std::vector<std::uint8_t> PackedRgb(const Bitmap& b) {
  std::vector<std::uint8_t> v;
  v.reserve(3 * std::size_t(b.width()) * b.height());
  for (int y = 0; y < b.height(); ++y) {
    for (int x = 0; x < b.width(); ++x) {
      const lumivore::Rgb c = b.pixel(x, y);
      v.insert(v.end(), {RedOf(c), GreenOf(c), BlueOf(c)});
    }
  }
  return v;
}

void Score(const std::vector<std::uint8_t>& original, const std::vector<std::uint8_t>& result,
           Outcome& o) {
  if (result.size() != original.size()) return;
  long long sum = 0, changed = 0;
  for (std::size_t i = 0; i < original.size(); i += 3) {
    int d = 0;
    for (int k = 0; k < 3; ++k) d += std::abs(int(original[i + k]) - int(result[i + k]));
    sum += d;
    changed += d != 0;
  }
  o.meanError = double(sum) / double(original.size());
  o.changed = double(changed) / double(original.size() / 3);
  o.ok = true;
}

// Best time of `runs` calls of `encode`, which leaves its result in the
// caller's hands.
double BestMs(int runs, const std::function<bool()>& encode) {
  double best = 1e300;
  for (int i = 0; i < runs; ++i) {
    const auto start = Clock::now();
    if (!encode()) return -1;
    best = std::min(best, std::chrono::duration<double, std::milli>(Clock::now() - start).count());
  }
  return best;
}

Outcome Ours(const Bitmap& picture, const std::vector<std::uint8_t>& original, int runs) {
  Outcome o;
  codec::Bytes gif;
  o.ms = BestMs(runs, [&] { return codec::EncodeGif(picture, gif); });
  Bitmap back;
  if (o.ms >= 0 && codec::DecodeGif({gif.data(), gif.size()}, back)) Score(original, PackedRgb(back), o);
  return o;
}

Outcome MagickGif(const std::string& path, const std::vector<std::uint8_t>& original, int runs) {
  Outcome o;
  Magick::Image image(path);
  image.matte(false);
  Magick::Blob blob;
  o.ms = BestMs(runs, [&] {
    Magick::Image copy = image;
    copy.magick("GIF");
    copy.write(&blob);
    return true;
  });
  Magick::Image back(blob);
  back.magick("RGB");
  back.depth(8);
  Magick::Blob rgb;
  back.write(&rgb);
  const auto* p = static_cast<const std::uint8_t*>(rgb.data());
  Score(original, std::vector<std::uint8_t>(p, p + rgb.length()), o);
  return o;
}

Outcome MedianCut(const Bitmap& picture, const std::vector<std::uint8_t>& original, int runs) {
  Outcome o;
  const std::size_t count = std::size_t(picture.width()) * picture.height();
  std::vector<GifByteType> r(count), g(count), b(count), indices(count);
  for (std::size_t i = 0; i < count; ++i) {
    r[i] = original[3 * i], g[i] = original[3 * i + 1], b[i] = original[3 * i + 2];
  }
  GifColorType colours[256];
  int size = 256;
  o.ms = BestMs(runs, [&] {
    size = 256;
    return GifQuantizeBuffer(static_cast<unsigned>(picture.width()),
                             static_cast<unsigned>(picture.height()), &size, r.data(), g.data(),
                             b.data(), indices.data(), colours) == GIF_OK;
  });
  if (o.ms < 0) return o;
  std::vector<std::uint8_t> result(3 * count);
  for (std::size_t i = 0; i < count; ++i) {
    const GifColorType& c = colours[indices[i]];
    result[3 * i] = c.Red, result[3 * i + 1] = c.Green, result[3 * i + 2] = c.Blue;
  }
  Score(original, result, o);
  return o;
}

std::size_t CountColours(const std::vector<std::uint8_t>& rgb) {
  std::vector<std::uint32_t> all;
  all.reserve(rgb.size() / 3);
  for (std::size_t i = 0; i < rgb.size(); i += 3) {
    all.push_back((std::uint32_t(rgb[i]) << 16) | (rgb[i + 1] << 8) | rgb[i + 2]);
  }
  std::sort(all.begin(), all.end());
  return static_cast<std::size_t>(std::unique(all.begin(), all.end()) - all.begin());
}

}  // namespace
}  // namespace lumivore

int main(int argc, char** argv) {
  using namespace lumivore;
  Magick::InitializeMagick(argv[0]);
  const int runs = 3;
  std::printf("%-28s %9s | %-22s | %-22s | %-22s\n", "picture", "colours", "ours ms / error / chg",
              "magick ms / error / chg", "mediancut ms / err / chg");
  int worse = 0;
  for (int i = 1; i < argc; ++i) {
    Bitmap picture;
    if (!WicLoadImage(argv[i], picture)) {
      std::fprintf(stderr, "cannot read %s\n", argv[i]);
      return 2;
    }
    const std::vector<std::uint8_t> original = PackedRgb(picture);
    const Outcome ours = Ours(picture, original, runs);
    const Outcome magick = MagickGif(argv[i], original, runs);
    const Outcome median = MedianCut(picture, original, runs);
    std::string name = argv[i];
    name = name.substr(name.rfind('/') + 1);
    std::printf("%-28s %9zu | %7.1f %6.3f %6.1f%% | %7.1f %6.3f %6.1f%% | %7.1f %6.3f %6.1f%%\n",
                name.c_str(), CountColours(original), ours.ms, ours.meanError, 100 * ours.changed,
                magick.ms, magick.meanError, 100 * magick.changed, median.ms, median.meanError,
                100 * median.changed);
    if (!ours.ok || !magick.ok || ours.meanError > magick.meanError) ++worse;
  }
  std::printf("%s\n", worse ? "ours is further from the picture than ImageMagick on some pictures"
                            : "ours is at least as close as ImageMagick on every picture");
  return worse ? 1 : 0;
}
