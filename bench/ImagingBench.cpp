// Imaging benchmarks on a generated 3840 x 2160 screenshot-like picture and
// on the screenshots of real X clients in bench/corpus (make-corpus.sh):
// every scale mode at 50 % and 200 %, rotate 90, mirror, grey, sepia,
// negative, mosaic 8, the 2-, 16- and 256-colour reductions, and PNG and
// JPEG (quality 90 and 100) encode and decode, each for our code and, in the
// same process on the same pixels, for libvips and ImageMagick, and the
// 24- to 32-bit conversion of the on-screen view. The corpus gets the
// scaling and PNG cases, and its 4K desktop screenshot the filters too;
// rotation and mirroring also run on 32-bit copies of the 4K desktop and of
// the generated picture. Pillow's PNG results, measured by pillow_png.py, are
// read from the file given as --pillow=FILE. After the runs a table gives our
// time divided by each peer's and the encoded sizes, and a second one checks
// our PNG of each
// corpus picture against the peers.
#include <benchmark/benchmark.h>
#include <hwy/targets.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "imaging/Codec.h"
#include "imaging/Filters.h"
#include "imaging/Usr_wic.h"

#ifdef LUMIVORE_BENCH_VIPS
#include <vips/vips8>
#endif
#ifdef LUMIVORE_BENCH_MAGICK
#include <Magick++.h>
#endif
#ifdef LUMIVORE_BENCH_EDITS
#include <QAction>
#include <QApplication>
#include <QTemporaryDir>

#include "app/ScriptedDesktop.h"
#include "app/Unit1.h"
#endif

namespace lumivore {
namespace {

constexpr int kWidth = 3840, kHeight = 2160;

// Flat panels, text-like glyph rows, one-pixel lines, a gradient and a noisy
// photo-like region, as a desktop screenshot has.
Bitmap Synthetic() {
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
      if (x >= 2500 && y < 1000) {                                   // gradient
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
}

// The same pixels as a 32-bit picture, as a screen capture delivers them.
Bitmap WithFourBytes(const Bitmap& source) {
  Bitmap b;
  b.allocate(source.width(), source.height(), PixelFormat::Bgrx32);
  for (int y = 0; y < source.height(); ++y) {
    const std::uint8_t* s = source.row(y);
    std::uint8_t* d = b.row(y);
    for (int x = 0; x < source.width(); ++x, s += 3, d += 4) d[0] = s[0], d[1] = s[1], d[2] = s[2];
  }
  return b;
}

// One picture of the benchmark (24-bit, or 32-bit with rows of exactly 4W
// bytes), with packed BGR and RGB rows (stride 3W) for the peers.
struct Picture {
  std::string name;
  Bitmap bitmap;
  std::vector<std::uint8_t> bgr, rgb;

  Picture(std::string n, Bitmap b) : name(std::move(n)), bitmap(std::move(b)) {
    const int w = bitmap.width(), h = bitmap.height(), step = fourBytes() ? 4 : 3;
    bgr.resize(std::size_t(w) * h * 3);
    std::uint8_t* d = bgr.data();
    for (int y = 0; y < h; ++y) {
      const std::uint8_t* s = bitmap.row(y);
      for (int x = 0; x < w; ++x, s += step, d += 3) d[0] = s[0], d[1] = s[1], d[2] = s[2];
    }
    rgb = bgr;
    for (std::size_t i = 0; i < rgb.size(); i += 3) std::swap(rgb[i], rgb[i + 2]);
  }
  int width() const { return bitmap.width(); }
  int height() const { return bitmap.height(); }
  bool fourBytes() const { return bitmap.format() == PixelFormat::Bgrx32; }
};

// The synthetic picture first, then the corpus in name order.
std::vector<Picture>& Pictures() {
  static std::vector<Picture> pictures;
  return pictures;
}

// The synthetic picture, for the cases that run on it alone.
const Bitmap& Screenshot() { return Pictures().front().bitmap; }

// Rotation and mirroring run on the synthetic picture and the 4K desktop
// screenshot of the corpus, each as it is (24-bit) and as the screen grab
// delivers it (32-bit).
std::vector<Picture>& TurnPictures() {
  static std::vector<Picture> pictures;
  return pictures;
}

void LoadPictures() {
  Pictures().emplace_back("synthetic", Synthetic());
  TurnPictures().emplace_back("synthetic", Screenshot());
  TurnPictures().emplace_back("synthetic_bgrx", WithFourBytes(Screenshot()));
  std::vector<std::filesystem::path> files;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(LUMIVORE_BENCH_CORPUS, error)) {
    if (entry.path().extension() == ".png") files.push_back(entry.path());
  }
  std::sort(files.begin(), files.end());
  for (const auto& file : files) {
    Bitmap b;
    if (WicLoadImage(file.string(), b)) {
      Pictures().emplace_back(file.stem().string(), std::move(b));
      if (file.stem() == "desktop4k") {
        const Bitmap& desktop = Pictures().back().bitmap;
        TurnPictures().emplace_back("desktop4k", desktop);
        TurnPictures().emplace_back("desktop4k_bgrx", WithFourBytes(desktop));
      }
    } else {
      std::fprintf(stderr, "cannot read %s\n", file.c_str());
    }
  }
}

const char* kModeNames[] = {"nearest", "bilinear", "bicubic", "area"};

// ------------------------------------------------------------------ ours

void OursScale(benchmark::State& state, const Picture& picture) {
  const int mode = static_cast<int>(state.range(0));
  const double factor = state.range(1) / 100.0;
  Bitmap source = picture.bitmap;
  for (auto _ : state) {
    Bitmap out;
    if (!WicScaleImage(source, out, factor, 0, 0, mode)) state.SkipWithError("scale failed");
    benchmark::DoNotOptimize(out.bits());
  }
}

void OursTransform(benchmark::State& state, const Picture& picture) {
  const int which = static_cast<int>(state.range(0));  // 0 rotate 90, 1 mirror, 2 grey
  for (auto _ : state) {
    state.PauseTiming();
    Bitmap b = picture.bitmap;
    state.ResumeTiming();
    const bool ok = which == 2 ? WicGrayScale(b) : WicFlipRotate(b, which == 0 ? 1 : 4);
    if (!ok) state.SkipWithError("transform failed");
    benchmark::DoNotOptimize(b.bits());
  }
}

// range(0): 0 PNG, 90 or 100 JPEG quality.
bool OursEncode(const Picture& picture, int format, codec::Bytes& out) {
  if (format == 0) return codec::EncodePng(picture.bitmap, out);
  codec::EncodeOptions options;
  options.quality = format / 100.0f;
  return codec::EncodeJpeg(picture.bitmap, options, out);
}

void OursEncodeBench(benchmark::State& state, const Picture& picture) {
  codec::Bytes out;
  for (auto _ : state) {
    if (!OursEncode(picture, static_cast<int>(state.range(0)), out)) {
      state.SkipWithError("encode failed");
    }
  }
  state.counters["bytes"] = static_cast<double>(out.size());
}

void OursDecodeBench(benchmark::State& state, const Picture& picture) {
  codec::Bytes file;
  OursEncode(picture, static_cast<int>(state.range(0)), file);
  for (auto _ : state) {
    Bitmap b;
    if (!codec::DecodeImage({file.data(), file.size()}, b)) state.SkipWithError("decode failed");
    benchmark::DoNotOptimize(b.bits());
  }
}

// ---------------------------------------------------------------- libvips

#ifdef LUMIVORE_BENCH_VIPS
vips::VImage VipsSource(const Picture& picture) {
  if (picture.fourBytes()) {  // four bands, as the bitmap holds them
    return vips::VImage::new_from_memory(const_cast<std::uint8_t*>(picture.bitmap.bits()),
                                         picture.bitmap.byteSize(), picture.width(),
                                         picture.height(), 4, VIPS_FORMAT_UCHAR);
  }
  return vips::VImage::new_from_memory(const_cast<std::uint8_t*>(picture.rgb.data()),
                                       picture.rgb.size(), picture.width(), picture.height(), 3,
                                       VIPS_FORMAT_UCHAR);
}

// Runs the pipeline into memory, as our routines deliver a finished bitmap.
void Materialise(const vips::VImage& image) {
  benchmark::DoNotOptimize(image.copy_memory().data());
}

void VipsScale(benchmark::State& state, const Picture& picture) {
  const int mode = static_cast<int>(state.range(0));
  const double factor = state.range(1) / 100.0;
  const vips::VImage source = VipsSource(picture).copy_memory();
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

void VipsTransform(benchmark::State& state, const Picture& picture) {
  const vips::VImage source = VipsSource(picture).copy_memory();
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

void VipsEncodeBench(benchmark::State& state, const Picture& picture) {
  const vips::VImage source = VipsSource(picture).copy_memory();
  std::size_t size = 0;
  for (auto _ : state) {
    void* buffer = nullptr;
    size = VipsEncode(source, static_cast<int>(state.range(0)), &buffer);
    g_free(buffer);
  }
  state.counters["bytes"] = static_cast<double>(size);
}

void VipsDecodeBench(benchmark::State& state, const Picture& picture) {
  void* buffer = nullptr;
  const std::size_t size =
      VipsEncode(VipsSource(picture), static_cast<int>(state.range(0)), &buffer);
  for (auto _ : state) {
    Materialise(vips::VImage::new_from_buffer(buffer, size, "",
                                              vips::VImage::option()->set("access", "sequential")));
  }
  g_free(buffer);
}
#endif

// ----------------------------------------------------------- ImageMagick

#ifdef LUMIVORE_BENCH_MAGICK
Magick::Image MagickSource(const Picture& picture) {
  if (picture.fourBytes()) {
    return Magick::Image(picture.width(), picture.height(), "BGRA", MagickCore::CharPixel,
                         picture.bitmap.bits());
  }
  return Magick::Image(picture.width(), picture.height(), "BGR", MagickCore::CharPixel,
                       picture.bgr.data());
}

void MagickScale(benchmark::State& state, const Picture& picture) {
  const int mode = static_cast<int>(state.range(0));
  const double factor = state.range(1) / 100.0;
  static const MagickCore::FilterTypes kFilters[] = {
      MagickCore::PointFilter, MagickCore::TriangleFilter, MagickCore::CatromFilter,
      MagickCore::BoxFilter};
  const Magick::Image source = MagickSource(picture);
  const Magick::Geometry size(static_cast<std::size_t>(picture.width() * factor),
                              static_cast<std::size_t>(picture.height() * factor));
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

void MagickTransform(benchmark::State& state, const Picture& picture) {
  const Magick::Image source = MagickSource(picture);
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

void MagickEncodeBench(benchmark::State& state, const Picture& picture) {
  const Magick::Image source = MagickSource(picture);
  Magick::Blob blob;
  for (auto _ : state) MagickEncode(source, static_cast<int>(state.range(0)), blob);
  state.counters["bytes"] = static_cast<double>(blob.length());
}

void MagickDecodeBench(benchmark::State& state, const Picture& picture) {
  Magick::Blob blob;
  MagickEncode(MagickSource(picture), static_cast<int>(state.range(0)), blob);
  for (auto _ : state) {
    Magick::Image image(blob);
    benchmark::DoNotOptimize(image.columns());
  }
}
#endif

// ------------------------------------------------- filters and colour depth
//
// Sepia, negative, mosaic 8, the 2-, 16- and 256-colour reductions, with a
// memcpy of the picture's bytes into fresh memory as the yardstick, and the
// whole edit as the user sees it (handler, undo snapshot, view refresh).

const char* kFilterNames[] = {"sepia", "negative", "mosaic8", "reduce2", "reduce16", "reduce256"};

// The yardstick. After the first round the C library hands back the block
// it was given the round before (it raises its threshold for mapping blocks
// of their own once one is freed): the pages are already there.
void MemcpyFresh(benchmark::State& state) {
  const Bitmap& source = Screenshot();
  for (auto _ : state) {
    std::unique_ptr<std::uint8_t[]> fresh(new std::uint8_t[source.byteSize()]);
    std::memcpy(fresh.get(), source.bits(), source.byteSize());
    benchmark::DoNotOptimize(fresh.get());
  }
}

// The same into a new bitmap, whose pages are mapped for it and zeroed by
// the system as they are first written, as for every new picture an edit
// makes (the old one stays in the undo list): what fresh pages cost.
void MemcpyNewBitmap(benchmark::State& state) {
  const Bitmap& source = Screenshot();
  for (auto _ : state) {
    Bitmap fresh;
    if (!fresh.allocate(source.width(), source.height(), source.format()))
      state.SkipWithError("no memory");
    std::memcpy(fresh.bits(), source.bits(), source.byteSize());
    benchmark::DoNotOptimize(fresh.bits());
  }
}

// The 32-bit view of a 24-bit picture: range(0) 1 written over a view of the
// same size (as after an edit), 0 into fresh memory (as the memcpy is).
void OursView(benchmark::State& state, const Picture& picture) {
  Bitmap view;
  for (auto _ : state) {
    if (state.range(0) == 0) view.clear();
    if (!ConvertToBgrx32(picture.bitmap, view)) state.SkipWithError("conversion failed");
    benchmark::DoNotOptimize(view.bits());
  }
}

void OursFilter(benchmark::State& state, const Picture& picture) {
  const int which = static_cast<int>(state.range(0));
  const Bitmap& source = picture.bitmap;
  for (auto _ : state) {
    bool ok = true;
    if (which <= 2) {  // in place: a fresh copy each time, not timed
      state.PauseTiming();
      Bitmap b = source;
      state.ResumeTiming();
      ok = which == 0   ? SepiaTone(b)
           : which == 1 ? InvertColours(b)
                        : Mosaic(b, 0, 0, b.width(), b.height(), 8);
      benchmark::DoNotOptimize(b.bits());
    } else {
      Bitmap out;
      ok = which == 3   ? ReduceToMono(source, out)
           : which == 4 ? ReduceTo16Colours(source, out)
                        : ReduceTo256Colours(source, out);
      benchmark::DoNotOptimize(out.bits());
    }
    if (!ok) state.SkipWithError("filter failed");
  }
}

#ifdef LUMIVORE_BENCH_VIPS
// The nearest operation libvips has: a colour matrix for sepia, invert,
// shrink-then-zoom for the mosaic, a threshold of the grey picture for two
// colours. It has no palette mapping or quantiser outside its PNG writer.
void VipsFilter(benchmark::State& state, const Picture& picture) {
  const vips::VImage source = VipsSource(picture).copy_memory();
  const vips::VImage matrix = vips::VImage::new_from_memory(
                                  const_cast<double*>(std::data({0.393, 0.769, 0.189, 0.349, 0.686,
                                                                 0.168, 0.272, 0.534, 0.131})),
                                  9 * sizeof(double), 3, 3, 1, VIPS_FORMAT_DOUBLE)
                                  .copy_memory();
  const int which = static_cast<int>(state.range(0));
  for (auto _ : state) {
    if (which == 0) Materialise(source.recomb(matrix).cast(VIPS_FORMAT_UCHAR));
    if (which == 1) Materialise(source.invert());
    if (which == 2) Materialise(source.shrink(8, 8).zoom(8, 8));
    if (which == 3)
      Materialise(source.colourspace(VIPS_INTERPRETATION_B_W)
                      .relational_const(VIPS_OPERATION_RELATIONAL_MORE, {127}));
  }
}
#endif

#ifdef LUMIVORE_BENCH_MAGICK
// ImageMagick: its sepia tone, negate, scale down and sample up for the
// mosaic, threshold for two colours, mapping onto a 16-colour palette
// picture, and its colour quantiser for 256 colours.
void MagickFilter(benchmark::State& state, const Picture& picture) {
  using MagickCore::Quantum;  // QuantumRange names it
  const Magick::Image source = MagickSource(picture);
  const int which = static_cast<int>(state.range(0));
  Magick::Image palette(Magick::Geometry(16, 1), Magick::Color("black"));
  for (int i = 0; i < 16; ++i) {
    const Rgb c = StandardPalette16()[i];
    palette.pixelColor(i, 0,
                       Magick::ColorRGB(RedOf(c) / 255.0, GreenOf(c) / 255.0, BlueOf(c) / 255.0));
  }
  for (auto _ : state) {
    Magick::Image image = source;
    if (which == 0) image.sepiaTone(0.8 * QuantumRange);
    if (which == 1) image.negate();
    if (which == 2) {
      image.scale(Magick::Geometry(picture.width() / 8, picture.height() / 8));
      image.sample(Magick::Geometry(picture.width(), picture.height()));
    }
    if (which == 3) {
      image.type(MagickCore::GrayscaleType);
      image.threshold(QuantumRange / 2);
    }
    if (which == 4) image.map(palette, false);
    if (which == 5) {
      image.quantizeColors(236);
      image.quantizeDither(true);
      image.quantize();
    }
  }
}
#endif

#ifdef LUMIVORE_BENCH_EDITS
// The real main window on Qt's offscreen platform holding the picture as a
// capture leaves it (24-bit, shown in a 32-bit view); each iteration runs
// one command's handler.
// Beside it, the imaging call that does the command's pixel work, on the
// same picture and in the same form (into fresh memory, or in place on an
// untimed copy): the yardstick for what the handler, the undo snapshot and
// the view refresh add. The reductions and grey start from the pixels on
// screen, so theirs work on the 32-bit view of the picture.
struct EditCase {
  const char* name;
  QAction* TLumivoreForm::*action;
  void (TLumivoreForm::*execute)(QAction*);
  bool (*alone)(const Bitmap& captured, Bitmap& out);
  bool inPlace;  // `alone` works on `out`, a copy of the picture
  bool ofView = false;  // `alone` is given the view, not the picture
};
const EditCase kEdits[] = {
    {"sepia", &TLumivoreForm::SepiaAction, &TLumivoreForm::SepiaActionExecute,
     [](const Bitmap& c, Bitmap& out) { return SepiaTone(c, out); }, false},
    {"negative", &TLumivoreForm::NegColAction, &TLumivoreForm::NegColActionExecute,
     [](const Bitmap& c, Bitmap& out) { return InvertColours(c, out); }, false},
    {"mosaic8", &TLumivoreForm::MosicI8Action, &TLumivoreForm::MosicIActionExecute,
     [](const Bitmap& c, Bitmap& out) { return Mosaic(c, out, 0, 0, kWidth, kHeight, 8); }, false},
    // In place, with no new picture at all (nothing for the undo list).
    {"mosaic8_inplace", &TLumivoreForm::MosicI8Action, &TLumivoreForm::MosicIActionExecute,
     [](const Bitmap&, Bitmap& out) { return Mosaic(out, 0, 0, kWidth, kHeight, 8); }, true},
    {"grey", &TLumivoreForm::GrayAction, &TLumivoreForm::ReduceActionExecute,
     [](const Bitmap& c, Bitmap& out) { return GrayScale(c, out); }, false, true},
    {"reduce2", &TLumivoreForm::Reduce2Action, &TLumivoreForm::ReduceActionExecute,
     [](const Bitmap& c, Bitmap& out) { return ReduceToMono(c, out); }, false, true},
    {"reduce16", &TLumivoreForm::Reduce16Action, &TLumivoreForm::ReduceActionExecute,
     [](const Bitmap& c, Bitmap& out) { return ReduceTo16Colours(c, out); }, false, true},
    {"reduce256", &TLumivoreForm::Reduce256Action, &TLumivoreForm::ReduceActionExecute,
     [](const Bitmap& c, Bitmap& out) { return ReduceTo256Colours(c, out); }, false, true},
    {"rotate90", &TLumivoreForm::RotateRAction, &TLumivoreForm::RotateActionExecute,
     [](const Bitmap& c, Bitmap& out) { return FlipRotate(c, out, 1); }, false},
    {"mirror", &TLumivoreForm::ReverseLRAction, &TLumivoreForm::ReverseActionExecute,
     [](const Bitmap& c, Bitmap& out) { return FlipRotate(c, out, 4); }, false},
};

// The synthetic picture as a capture leaves it: 24-bit.
const Bitmap& Captured() { return Screenshot(); }

void OursEdit(benchmark::State& state) {
  QTemporaryDir dir;
  ScriptedDesktop desktop;
  TLumivoreForm form(desktop, dir.filePath("lumivore"));
  const EditCase& edit = kEdits[state.range(0)];
  for (auto _ : state) {
    state.PauseTiming();
    form.FUndoList.clear();
    form.FWorkImage = Captured();
    form.ShowWorkingImage();
    state.ResumeTiming();
    (form.*edit.execute)(form.*edit.action);
  }
  form.FUndoList.clear();
}

void EditAlone(benchmark::State& state) {
  const EditCase& edit = kEdits[state.range(0)];
  static const Bitmap view = [] {
    Bitmap v;
    ConvertToBgrx32(Captured(), v);
    return v;
  }();
  const Bitmap& input = edit.ofView ? view : Captured();
  for (auto _ : state) {
    Bitmap out;
    if (edit.inPlace) {
      state.PauseTiming();
      out = input;
      state.ResumeTiming();
    }
    if (!edit.alone(input, out)) state.SkipWithError("filter failed");
    benchmark::DoNotOptimize(out.bits());
  }
}
#endif

void RegisterFilters() {
  benchmark::RegisterBenchmark("memcpy/ours", MemcpyFresh)
      ->Unit(benchmark::kMillisecond)
      ->UseRealTime();
  benchmark::RegisterBenchmark("memcpy_new_bitmap/ours", MemcpyNewBitmap)
      ->Unit(benchmark::kMillisecond)
      ->UseRealTime();
  // The synthetic picture under the plain case names, the real desktop
  // screenshot of the corpus (the same size) as "<case>.desktop4k".
  for (const Picture& picture : Pictures()) {
    const bool synthetic = &picture == &Pictures().front();
    if (!synthetic && picture.name != "desktop4k") continue;
    const std::string suffix = synthetic ? "" : "." + picture.name;
    const auto add = [&](const std::string& name, auto bench, int which) {
      benchmark::RegisterBenchmark(name.c_str(), bench, std::cref(picture))
          ->Arg(which)
          ->Unit(benchmark::kMillisecond)
          ->UseRealTime();
    };
    add("view24" + suffix + "/ours", OursView, 1);
    add("view24_fresh" + suffix + "/ours", OursView, 0);
    for (int which = 0; which < 6; ++which) {
      const std::string base = kFilterNames[which] + suffix;
      add(base + "/ours", OursFilter, which);
#ifdef LUMIVORE_BENCH_VIPS
      if (which <= 3) add(base + "/vips", VipsFilter, which);
#endif
#ifdef LUMIVORE_BENCH_MAGICK
      add(base + "/magick", MagickFilter, which);
#endif
    }
  }
#ifdef LUMIVORE_BENCH_EDITS
  for (int i = 0; i < static_cast<int>(std::size(kEdits)); ++i) {
    benchmark::RegisterBenchmark((std::string("edit_") + kEdits[i].name + "/ours").c_str(),
                                 OursEdit)
        ->Arg(i)
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime();
    benchmark::RegisterBenchmark((std::string("edit_") + kEdits[i].name + "/alone").c_str(),
                                 EditAlone)
        ->Arg(i)
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime();
  }
#endif
}

// ---------------------------------------------------------- registration

using Bench = void (*)(benchmark::State&, const Picture&);

struct Peer {
  const char* name;
  Bench scale;
  Bench transform;
  Bench encode;
  Bench decode;
};

const char* kTransformNames[] = {"rotate90", "mirror", "grey"};

std::string CodecName(int format) {
  return format == 0 ? "png" : "jpeg_q" + std::to_string(format);
}

void Register(const std::string& name, Bench bench, const Picture& picture,
              const std::vector<std::int64_t>& args) {
  benchmark::RegisterBenchmark(name.c_str(), bench, std::cref(picture))
      ->Args(args)
      ->Unit(benchmark::kMillisecond)
      ->UseRealTime();
}

// Case names read "<case>.<picture>/<peer>".
void RegisterAll() {
  std::vector<Peer> peers = {{"ours", OursScale, OursTransform, OursEncodeBench, OursDecodeBench}};
#ifdef LUMIVORE_BENCH_VIPS
  peers.push_back({"vips", VipsScale, VipsTransform, VipsEncodeBench, VipsDecodeBench});
#endif
#ifdef LUMIVORE_BENCH_MAGICK
  peers.push_back({"magick", MagickScale, MagickTransform, MagickEncodeBench, MagickDecodeBench});
#endif
  for (const Picture& picture : Pictures()) {
    const bool synthetic = &picture == &Pictures().front();
    for (int mode = 0; mode < 4; ++mode) {
      for (int percent : {50, 200}) {
        for (const Peer& p : peers) {
          Register(std::string("scale_") + kModeNames[mode] + "_" + std::to_string(percent) + "." +
                       picture.name + "/" + p.name,
                   p.scale, picture, {mode, percent});
        }
      }
    }
    if (synthetic) {
      for (const Peer& p : peers) {
        Register(std::string(kTransformNames[2]) + "." + picture.name + "/" + p.name, p.transform,
                 picture, {2});
      }
    }
    for (int format : {0, 90, 100}) {
      if (format != 0 && !synthetic) continue;  // the corpus is for PNG
      for (const Peer& p : peers) {
        Register("encode_" + CodecName(format) + "." + picture.name + "/" + p.name, p.encode,
                 picture, {format});
        Register("decode_" + CodecName(format) + "." + picture.name + "/" + p.name, p.decode,
                 picture, {format});
      }
    }
  }
  for (const Picture& picture : TurnPictures()) {
    for (int which = 0; which < 2; ++which) {
      for (const Peer& p : peers) {
        Register(std::string(kTransformNames[which]) + "." + picture.name + "/" + p.name,
                 p.transform, picture, {which});
      }
    }
  }
  RegisterFilters();
}

// Pillow's PNG size and time per picture name, from pillow_png.py's output.
struct PillowResult {
  double bytes = 0;
  double ms = 0;
};
std::map<std::string, PillowResult> ReadPillow(const std::string& path) {
  std::map<std::string, PillowResult> results;
  std::ifstream in(path);
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    std::string name;
    PillowResult r;
    if (std::getline(fields, name, '\t') && fields >> r.bytes >> r.ms) results[name] = r;
  }
  return results;
}

// Collects each run's time (and size) for the comparison tables.
class Collector : public benchmark::ConsoleReporter {
 public:
  struct Result {
    double ms = 0;     // wall-clock time
    double cpuMs = 0;  // processor time of the process
    double bytes = 0;
  };
  std::map<std::string, std::map<std::string, Result>> results;  // case -> peer -> result
  std::vector<std::string> order;
  std::map<std::string, PillowResult> pillow;

  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      // With repetitions, the table takes each case's median.
      if (run.run_type == Run::RT_Aggregate ? run.aggregate_name != "median" : run.repetitions > 1)
        continue;
      std::string name = run.benchmark_name();
      name = name.substr(0, name.find("/real_time"));
      const std::size_t slash = name.find('/');
      const std::string base = name.substr(0, slash);
      std::string peer = name.substr(slash + 1);
      peer = peer.substr(0, peer.find('/'));
      if (!results.count(base)) order.push_back(base);
      Result& r = results[base][peer];
      r.ms = run.GetAdjustedRealTime();
      r.cpuMs = run.GetAdjustedCPUTime();
      const auto it = run.counters.find("bytes");
      if (it != run.counters.end()) r.bytes = it->second;
    }
  }

  Result Get(const std::string& base, const char* peer) const {
    const auto row = results.find(base);
    if (row == results.end()) return {};
    const auto it = row->second.find(peer);
    return it == row->second.end() ? Result{} : it->second;
  }

  void PrintTable() const {
    const double memcpyMs = Get("memcpy", "ours").ms;
    std::printf("\n%-34s %9s %9s %9s %9s %9s %9s %9s   %s\n", "case", "ours ms", "vips ms",
                "magick ms", "pil. cpu", "ours/vips", "ours/magk", "x memcpy",
                "bytes ours / vips / magick / pillow");
    for (const std::string& base : order) {
      const double ours = Get(base, "ours").ms, vips = Get(base, "vips").ms,
                   magick = Get(base, "magick").ms;
      const PillowResult pil = PillowFor(base);
      std::printf("%-34s %9.1f %9.1f %9.1f %9.1f %9.2f %9.2f %9.2f", base.c_str(), ours, vips,
                  magick, pil.ms, vips > 0 ? ours / vips : 0.0, magick > 0 ? ours / magick : 0.0,
                  memcpyMs > 0 ? ours / memcpyMs : 0.0);
      if (Get(base, "ours").bytes > 0) {
        std::printf("   %.0f / %.0f / %.0f / %.0f", Get(base, "ours").bytes,
                    Get(base, "vips").bytes, Get(base, "magick").bytes, pil.bytes);
      }
      std::printf("\n");
    }
    // The whole edit (handler, undo snapshot, view refresh) against its
    // pixel work alone on the same picture.
    for (const std::string& base : order) {
      if (base.rfind("edit_", 0) != 0) continue;
      const double edit = Get(base, "ours").ms, filter = Get(base, "alone").ms;
      if (edit <= 0 || filter <= 0) continue;
      std::printf("%-24s whole edit %8.1f ms = %5.2f x its pixel work alone (%.1f ms)\n",
                  base.c_str(), edit, edit / filter, filter);
    }
  }

  // Per corpus picture: our PNG against the smallest peer file and half of
  // Pillow's time. Times here are processor time, which other work on a
  // busy machine disturbs far less than wall-clock time; both encoders run
  // on one thread.
  void PrintPngVerdict() const {
    std::printf("\n%-12s %10s %10s %10s %10s %10s %9s %9s  %s\n", "png of", "ours B", "pillow B",
                "magick B", "vips B", "ours cpu", "pil. cpu", "ours/pil", "size, time");
    for (const Picture& picture : Pictures()) {
      const std::string base = "encode_png." + picture.name;
      const Result ours = Get(base, "ours");
      if (ours.bytes == 0) continue;
      const PillowResult pil = PillowFor(base);
      const double magick = Get(base, "magick").bytes, vips = Get(base, "vips").bytes;
      double smallest = 0;
      for (const double b : {pil.bytes, magick, vips}) {
        if (b > 0 && (smallest == 0 || b < smallest)) smallest = b;
      }
      const char* size = smallest == 0 ? "-" : ours.bytes <= smallest ? "ok" : "LARGER";
      const char* time = pil.ms == 0 ? "-" : ours.cpuMs <= pil.ms / 2 ? "ok" : "SLOWER";
      std::printf("%-12s %10.0f %10.0f %10.0f %10.0f %10.1f %9.1f %9.2f  %s, %s\n",
                  picture.name.c_str(), ours.bytes, pil.bytes, magick, vips, ours.cpuMs, pil.ms,
                  pil.ms > 0 ? ours.cpuMs / pil.ms : 0.0, size, time);
    }
  }

 private:
  PillowResult PillowFor(const std::string& base) const {
    const std::string prefix = "encode_png.";
    if (base.rfind(prefix, 0) != 0) return {};
    const auto it = pillow.find(base.substr(prefix.size()));
    return it == pillow.end() ? PillowResult{} : it->second;
  }
};

}  // namespace
}  // namespace lumivore

int main(int argc, char** argv) {
#ifdef LUMIVORE_BENCH_EDITS
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
#endif
#ifdef LUMIVORE_BENCH_VIPS
  if (VIPS_INIT(argv[0])) return 1;
#endif
#ifdef LUMIVORE_BENCH_MAGICK
  Magick::InitializeMagick(*argv);
#endif
  lumivore::Collector collector;
  // Our own option, taken out before the library sees the arguments.
  int kept = 1;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg.rfind("--pillow=", 0) == 0) {
      collector.pillow = lumivore::ReadPillow(arg.substr(9));
    } else if (arg.rfind("--instruction-set=", 0) == 0) {
      // The row kernels on one instruction set only (AVX2, SSE4, ...), as on
      // a processor that has nothing better.
      const std::string name = arg.substr(18);
      std::int64_t chosen = 0;
      for (const std::int64_t target : hwy::SupportedAndGeneratedTargets())
        if (name == hwy::TargetName(target)) chosen = target;
      if (!chosen) {
        std::fprintf(stderr, "no instruction set %s here; there are:", name.c_str());
        for (const std::int64_t target : hwy::SupportedAndGeneratedTargets())
          std::fprintf(stderr, " %s", hwy::TargetName(target));
        std::fprintf(stderr, "\n");
        return 2;
      }
      hwy::SetSupportedTargetsForTest(chosen);
    } else {
      argv[kept++] = argv[i];
    }
  }
  argc = kept;
  benchmark::Initialize(&argc, argv);
  lumivore::LoadPictures();
  lumivore::RegisterAll();
  benchmark::RunSpecifiedBenchmarks(&collector);
  collector.PrintTable();
  collector.PrintPngVerdict();
  benchmark::Shutdown();
  return 0;
}
