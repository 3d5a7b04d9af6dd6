// Imaging benchmarks on a generated 3840 x 2160 screenshot-like picture:
// every scale mode at 50 % and 200 %, rotate 90, mirror, grey, and PNG and
// JPEG (quality 90 and 100) encode and decode, each for our code and, in the
// same process on the same pixels, for libvips and ImageMagick. After the
// runs a table gives our time divided by each peer's, and the encoded sizes.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "imaging/Codec.h"
#include "imaging/Usr_wic.h"

#ifdef LUMIVORE_BENCH_VIPS
#include <vips/vips8>
#endif
#ifdef LUMIVORE_BENCH_MAGICK
#include <Magick++.h>
#endif

namespace lumivore {
namespace {

constexpr int kWidth = 3840, kHeight = 2160;

// Flat panels, text-like glyph rows, one-pixel lines, a gradient and a noisy
// photo-like region, as a desktop screenshot has.
const Bitmap& Screenshot() {
  static const Bitmap picture = [] {
    Bitmap b;
    b.allocate(kWidth, kHeight, PixelFormat::Bgr24);
    std::uint32_t seed = 1;
    for (int y = 0; y < kHeight; ++y) {
      std::uint8_t* p = b.row(y);
      for (int x = 0; x < kWidth; ++x, p += 3) {
        std::uint8_t r = 240, g = 240, bl = 240;  // window background
        if (y < 40) {
          r = 40, g = 60, bl = 110;  // title bar
        } else if (x < 300) {
          r = 225, g = 228, bl = 232;  // side panel
        }
        // Glyph-like marks in text rows.
        if (y > 60 && y < 1400 && (y % 24) > 6 && (y % 24) < 18 && x > 320 && x < 2400) {
          const int cell = (x / 9) * 31 + (y / 24) * 17;
          if (((cell * 2654435761u) >> 28) & 1 && ((x % 9) < 6) && ((x * 7 + y * 3) % 5 != 0)) {
            r = g = bl = 30;
          }
        }
        if (x % 200 == 0 || y % 150 == 0) r = 180, g = 180, bl = 190;  // thin lines
        if (x >= 2500 && y < 1000) {  // gradient
          r = static_cast<std::uint8_t>((x - 2500) * 255 / 1340);
          g = static_cast<std::uint8_t>(y * 255 / 1000);
          bl = 128;
        }
        if (x >= 2000 && y >= 1400) {  // photo-like: smooth colour plus noise
          seed = seed * 1664525u + 1013904223u;
          const int n = static_cast<int>(seed >> 27) - 16;
          r = static_cast<std::uint8_t>(std::clamp(120 + (x - 2000) / 20 + n, 0, 255));
          g = static_cast<std::uint8_t>(std::clamp(90 + (y - 1400) / 6 + n, 0, 255));
          bl = static_cast<std::uint8_t>(std::clamp(60 + n * 2, 0, 255));
        }
        p[0] = bl, p[1] = g, p[2] = r;
      }
    }
    return b;
  }();
  return picture;
}

// Packed BGR rows (stride 3W) for the peers.
const std::vector<std::uint8_t>& PackedBgr() {
  static const std::vector<std::uint8_t> packed = [] {
    std::vector<std::uint8_t> v(std::size_t(kWidth) * kHeight * 3);
    for (int y = 0; y < kHeight; ++y) {
      std::memcpy(v.data() + std::size_t(y) * kWidth * 3, Screenshot().row(y), kWidth * 3);
    }
    return v;
  }();
  return packed;
}
const std::vector<std::uint8_t>& PackedRgb() {
  static const std::vector<std::uint8_t> packed = [] {
    std::vector<std::uint8_t> v = PackedBgr();
    for (std::size_t i = 0; i < v.size(); i += 3) std::swap(v[i], v[i + 2]);
    return v;
  }();
  return packed;
}

const char* kModeNames[] = {"nearest", "bilinear", "bicubic", "area"};

// ------------------------------------------------------------------ ours

void OursScale(benchmark::State& state) {
  const int mode = static_cast<int>(state.range(0));
  const double factor = state.range(1) / 100.0;
  Bitmap source = Screenshot();
  for (auto _ : state) {
    Bitmap out;
    if (!WicScaleImage(source, out, factor, 0, 0, mode)) state.SkipWithError("scale failed");
    benchmark::DoNotOptimize(out.bits());
  }
}

void OursTransform(benchmark::State& state) {
  const int which = static_cast<int>(state.range(0));  // 0 rotate 90, 1 mirror, 2 grey
  for (auto _ : state) {
    state.PauseTiming();
    Bitmap b = Screenshot();
    state.ResumeTiming();
    const bool ok = which == 2 ? WicGrayScale(b) : WicFlipRotate(b, which == 0 ? 1 : 4);
    if (!ok) state.SkipWithError("transform failed");
    benchmark::DoNotOptimize(b.bits());
  }
}

// range(0): 0 PNG, 90 or 100 JPEG quality.
bool OursEncode(int format, codec::Bytes& out) {
  if (format == 0) return codec::EncodePng(Screenshot(), out);
  codec::EncodeOptions options;
  options.quality = format / 100.0f;
  return codec::EncodeJpeg(Screenshot(), options, out);
}

void OursEncodeBench(benchmark::State& state) {
  codec::Bytes out;
  for (auto _ : state) {
    if (!OursEncode(static_cast<int>(state.range(0)), out)) state.SkipWithError("encode failed");
  }
  state.counters["bytes"] = static_cast<double>(out.size());
}

void OursDecodeBench(benchmark::State& state) {
  codec::Bytes file;
  OursEncode(static_cast<int>(state.range(0)), file);
  for (auto _ : state) {
    Bitmap b;
    if (!codec::DecodeImage({file.data(), file.size()}, b)) state.SkipWithError("decode failed");
    benchmark::DoNotOptimize(b.bits());
  }
}

// ---------------------------------------------------------------- libvips

#ifdef LUMIVORE_BENCH_VIPS
vips::VImage VipsSource() {
  return vips::VImage::new_from_memory(const_cast<std::uint8_t*>(PackedRgb().data()),
                                       PackedRgb().size(), kWidth, kHeight, 3,
                                       VIPS_FORMAT_UCHAR);
}

// Runs the pipeline into memory, as our routines deliver a finished bitmap.
void Materialise(const vips::VImage& image) {
  benchmark::DoNotOptimize(image.copy_memory().data());
}

void VipsScale(benchmark::State& state) {
  const int mode = static_cast<int>(state.range(0));
  const double factor = state.range(1) / 100.0;
  const vips::VImage source = VipsSource().copy_memory();
  static const VipsKernel kKernels[] = {VIPS_KERNEL_NEAREST, VIPS_KERNEL_LINEAR, VIPS_KERNEL_CUBIC,
                                        VIPS_KERNEL_LINEAR};
  for (auto _ : state) {
    if (mode == 3 && factor < 1) {  // area: box shrink
      Materialise(source.shrink(1 / factor, 1 / factor));
    } else {
      Materialise(source.resize(factor, vips::VImage::option()->set("kernel", kKernels[mode])));
    }
  }
}

void VipsTransform(benchmark::State& state) {
  const vips::VImage source = VipsSource().copy_memory();
  const int which = static_cast<int>(state.range(0));
  for (auto _ : state) {
    if (which == 0) Materialise(source.rot90());
    if (which == 1) Materialise(source.flip(VIPS_DIRECTION_HORIZONTAL));
    if (which == 2) Materialise(source.colourspace(VIPS_INTERPRETATION_B_W));
  }
}

std::size_t VipsEncode(const vips::VImage& source, int format, void** buffer) {
  std::size_t size = 0;
  if (format == 0) {
    source.write_to_buffer(".png", buffer, &size);
  } else {
    source.write_to_buffer(".jpg", buffer, &size, vips::VImage::option()->set("Q", format));
  }
  return size;
}

void VipsEncodeBench(benchmark::State& state) {
  const vips::VImage source = VipsSource().copy_memory();
  std::size_t size = 0;
  for (auto _ : state) {
    void* buffer = nullptr;
    size = VipsEncode(source, static_cast<int>(state.range(0)), &buffer);
    g_free(buffer);
  }
  state.counters["bytes"] = static_cast<double>(size);
}

void VipsDecodeBench(benchmark::State& state) {
  void* buffer = nullptr;
  const std::size_t size = VipsEncode(VipsSource(), static_cast<int>(state.range(0)), &buffer);
  for (auto _ : state) {
    Materialise(vips::VImage::new_from_buffer(buffer, size, "",
                                              vips::VImage::option()->set("access", "sequential")));
  }
  g_free(buffer);
}
#endif

// ----------------------------------------------------------- ImageMagick

#ifdef LUMIVORE_BENCH_MAGICK
Magick::Image MagickSource() {
  return Magick::Image(kWidth, kHeight, "BGR", MagickCore::CharPixel, PackedBgr().data());
}

void MagickScale(benchmark::State& state) {
  const int mode = static_cast<int>(state.range(0));
  const double factor = state.range(1) / 100.0;
  static const MagickCore::FilterTypes kFilters[] = {MagickCore::PointFilter,
                                                     MagickCore::TriangleFilter,
                                                     MagickCore::CatromFilter, MagickCore::BoxFilter};
  const Magick::Image source = MagickSource();
  const Magick::Geometry size(static_cast<std::size_t>(kWidth * factor),
                              static_cast<std::size_t>(kHeight * factor));
  for (auto _ : state) {
    Magick::Image image = source;
    image.filterType(kFilters[mode]);
    if (mode == 0) {
      image.sample(size);
    } else {
      image.resize(size);
    }
  }
}

void MagickTransform(benchmark::State& state) {
  const Magick::Image source = MagickSource();
  const int which = static_cast<int>(state.range(0));
  for (auto _ : state) {
    Magick::Image image = source;
    if (which == 0) image.rotate(90);
    if (which == 1) image.flop();
    if (which == 2) image.type(MagickCore::GrayscaleType);
  }
}

void MagickEncode(Magick::Image image, int format, Magick::Blob& blob) {
  image.magick(format == 0 ? "PNG" : "JPEG");
  if (format != 0) image.quality(static_cast<std::size_t>(format));
  image.write(&blob);
}

void MagickEncodeBench(benchmark::State& state) {
  const Magick::Image source = MagickSource();
  Magick::Blob blob;
  for (auto _ : state) MagickEncode(source, static_cast<int>(state.range(0)), blob);
  state.counters["bytes"] = static_cast<double>(blob.length());
}

void MagickDecodeBench(benchmark::State& state) {
  Magick::Blob blob;
  MagickEncode(MagickSource(), static_cast<int>(state.range(0)), blob);
  for (auto _ : state) {
    Magick::Image image(blob);
    benchmark::DoNotOptimize(image.columns());
  }
}
#endif

// ---------------------------------------------------------- registration

struct Peer {
  const char* name;
  void (*scale)(benchmark::State&);
  void (*transform)(benchmark::State&);
  void (*encode)(benchmark::State&);
  void (*decode)(benchmark::State&);
};

const char* kTransformNames[] = {"rotate90", "mirror", "grey"};

std::string CodecName(int format) { return format == 0 ? "png" : "jpeg_q" + std::to_string(format); }

void RegisterAll() {
  std::vector<Peer> peers = {{"ours", OursScale, OursTransform, OursEncodeBench, OursDecodeBench}};
#ifdef LUMIVORE_BENCH_VIPS
  peers.push_back({"vips", VipsScale, VipsTransform, VipsEncodeBench, VipsDecodeBench});
#endif
#ifdef LUMIVORE_BENCH_MAGICK
  peers.push_back({"magick", MagickScale, MagickTransform, MagickEncodeBench, MagickDecodeBench});
#endif
  for (int mode = 0; mode < 4; ++mode) {
    for (int percent : {50, 200}) {
      for (const Peer& p : peers) {
        const std::string name = std::string("scale_") + kModeNames[mode] + "_" +
                                 std::to_string(percent) + "/" + p.name;
        benchmark::RegisterBenchmark(name.c_str(), p.scale)->Args({mode, percent})
            ->Unit(benchmark::kMillisecond)->UseRealTime();
      }
    }
  }
  for (int which = 0; which < 3; ++which) {
    for (const Peer& p : peers) {
      const std::string name = std::string(kTransformNames[which]) + "/" + p.name;
      benchmark::RegisterBenchmark(name.c_str(), p.transform)->Arg(which)
          ->Unit(benchmark::kMillisecond)->UseRealTime();
    }
  }
  for (int format : {0, 90, 100}) {
    for (const Peer& p : peers) {
      benchmark::RegisterBenchmark(("encode_" + CodecName(format) + "/" + p.name).c_str(), p.encode)
          ->Arg(format)->Unit(benchmark::kMillisecond)->UseRealTime();
      benchmark::RegisterBenchmark(("decode_" + CodecName(format) + "/" + p.name).c_str(), p.decode)
          ->Arg(format)->Unit(benchmark::kMillisecond)->UseRealTime();
    }
  }
}

// Collects each run's time (and size) for the comparison table.
class Collector : public benchmark::ConsoleReporter {
 public:
  struct Result {
    double ms = 0;
    double bytes = 0;
  };
  std::map<std::string, std::map<std::string, Result>> results;  // case -> peer -> result
  std::vector<std::string> order;

  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      std::string name = run.benchmark_name();
      name = name.substr(0, name.find("/real_time"));
      const std::size_t slash = name.find('/');
      const std::string base = name.substr(0, slash);
      std::string peer = name.substr(slash + 1);
      peer = peer.substr(0, peer.find('/'));
      if (!results.count(base)) order.push_back(base);
      Result& r = results[base][peer];
      r.ms = run.GetAdjustedRealTime();
      const auto it = run.counters.find("bytes");
      if (it != run.counters.end()) r.bytes = it->second;
    }
  }

  void PrintTable() const {
    std::printf("\n%-24s %10s %10s %10s %9s %9s   %s\n", "case", "ours ms", "vips ms", "magick ms",
                "ours/vips", "ours/magick", "bytes ours / vips / magick");
    for (const std::string& base : order) {
      const auto& row = results.at(base);
      const auto time = [&](const char* peer) {
        const auto it = row.find(peer);
        return it == row.end() ? 0.0 : it->second.ms;
      };
      const auto bytes = [&](const char* peer) {
        const auto it = row.find(peer);
        return it == row.end() ? 0.0 : it->second.bytes;
      };
      const double ours = time("ours"), vips = time("vips"), magick = time("magick");
      std::printf("%-24s %10.1f %10.1f %10.1f %9.2f %9.2f", base.c_str(), ours, vips, magick,
                  vips > 0 ? ours / vips : 0.0, magick > 0 ? ours / magick : 0.0);
      if (bytes("ours") > 0) {
        std::printf("   %.0f / %.0f / %.0f", bytes("ours"), bytes("vips"), bytes("magick"));
      }
      std::printf("\n");
    }
  }
};

}  // namespace
}  // namespace lumivore

int main(int argc, char** argv) {
#ifdef LUMIVORE_BENCH_VIPS
  if (VIPS_INIT(argv[0])) return 1;
#endif
#ifdef LUMIVORE_BENCH_MAGICK
  Magick::InitializeMagick(*argv);
#endif
  benchmark::Initialize(&argc, argv);
  lumivore::RegisterAll();
  lumivore::Collector collector;
  benchmark::RunSpecifiedBenchmarks(&collector);
  collector.PrintTable();
  benchmark::Shutdown();
  return 0;
}
