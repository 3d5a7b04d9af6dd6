// Screen grabs and the idle capture tick on the X server of $DISPLAY; run
// through run-grab.sh, which starts a throwaway server with a full-screen
// window of class "XTermBench".
#include <benchmark/benchmark.h>

#include <QGuiApplication>
#include <QImage>
#include <QPixmap>
#include <QScreen>
#include <cstring>
#include <vector>

#include "app/x11/X11Platform.h"

namespace lumivore {
namespace {

X11Platform* x11 = nullptr;
Rect target;

// The yardstick: copying one 1920 x 1080 32-bit picture in memory.
void BM_Memcpy1920x1080(benchmark::State& state) {
  const std::size_t bytes = std::size_t(1920) * 1080 * 4;
  std::vector<std::uint8_t> from(bytes, 1), to(bytes);
  for (auto _ : state) {
    std::memcpy(to.data(), from.data(), bytes);
    benchmark::DoNotOptimize(to.data());
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_Memcpy1920x1080)->UseRealTime();

// The preview grab of the target window, as the capture tick makes it.
void GrabTarget(benchmark::State& state, bool shm) {
  x11->useSharedMemory(shm);
  if (x11->usesSharedMemory() != shm) {
    state.SkipWithError("MIT-SHM is not available");
    return;
  }
  Bitmap picture;
  for (auto _ : state) {
    if (!x11->grabScreen(target, picture)) state.SkipWithError("grab failed");
    benchmark::DoNotOptimize(picture.bits());
  }
  state.SetLabel(std::to_string(target.width()) + "x" + std::to_string(target.height()));
  x11->useSharedMemory(true);
}
void BM_GrabWindowShm(benchmark::State& state) { GrabTarget(state, true); }
void BM_GrabWindowGetImage(benchmark::State& state) { GrabTarget(state, false); }
BENCHMARK(BM_GrabWindowShm)->UseRealTime();
BENCHMARK(BM_GrabWindowGetImage)->UseRealTime();

// What Qt offers for the same picture.
void BM_GrabWindowQScreen(benchmark::State& state) {
  QScreen* screen = QGuiApplication::primaryScreen();
  for (auto _ : state) {
    QImage image =
        screen->grabWindow(0, target.left, target.top, target.width(), target.height()).toImage();
    benchmark::DoNotOptimize(image.constBits());
  }
}
BENCHMARK(BM_GrabWindowQScreen)->UseRealTime();

// One 100 ms tick of capture mode while the target stays the same: the
// pointer, the window under it and the pixel colour there.
void BM_IdleTick(benchmark::State& state) {
  x11->setCursorPos({target.left + target.width() / 2, target.top + 5});
  x11->sync();
  WindowId first = x11->windowFromPoint(x11->cursorPos());
  for (auto _ : state) {
    const Point p = x11->cursorPos();
    const WindowId w = x11->windowFromPoint(p);
    if (w != first || w == 0) state.SkipWithError("the target changed");
    benchmark::DoNotOptimize(x11->screenPixel(p));
  }
}
BENCHMARK(BM_IdleTick)->UseRealTime();

void BM_WindowFromPoint(benchmark::State& state) {
  const Point p{target.left + target.width() / 2, target.top + target.height() / 2};
  for (auto _ : state) benchmark::DoNotOptimize(x11->windowFromPoint(p));
}
BENCHMARK(BM_WindowFromPoint)->UseRealTime();

void BM_ScreenPixel(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(x11->screenPixel({100, 100}));
}
BENCHMARK(BM_ScreenPixel)->UseRealTime();

}  // namespace
}  // namespace lumivore

int main(int argc, char** argv) {
  using namespace lumivore;
  qputenv("QT_QPA_PLATFORM", "xcb");
  QGuiApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  auto platform = X11Platform::Connect();
  if (!platform) return 1;
  x11 = platform.get();
  const WindowId w = x11->findWindowByClass("XTermBench");
  const auto rect = w ? x11->windowRect(w) : std::nullopt;
  target = rect ? *rect : x11->primaryScreen();
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
