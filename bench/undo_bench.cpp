// Resident memory and times of the undo history on the X server of $DISPLAY;
// run through run-undo-memory.sh, which starts a throwaway 3840 x 2160 server
// with a terminal of class "XTermUndo" as the window to capture.
//
// The real main window captures the terminal as a user would (press on the
// capture tool, a tick of the timer over the target, release), then applies
// 20 edits of one kind and takes them back one by one. Each kind starts from
// a fresh capture and an empty history. Prints one line per kind: resident
// memory (VmRSS) after the capture, right after the 20th edit and once the
// history has packed its steps, and the median and slowest edit and undo.
#include <QApplication>
#include <QTemporaryDir>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <vector>

#include "app/Unit1.h"
#include "app/x11/X11Platform.h"
#include "util/SystemMemory.h"

namespace lumivore {
namespace {

using Clock = std::chrono::steady_clock;

double Mib(std::size_t bytes) { return bytes / 1048576.0; }
double Rss() {
  QApplication::processEvents();
  return Mib(ResidentMemory().value_or(0));
}

// Waits until the history has packed every step, where it packs them at all.
template <typename History>
double Settle(History& history) {
  const auto start = Clock::now();
  if constexpr (requires { history.waitUntilPacked(); }) history.waitUntilPacked();
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[v.size() / 2];
}

double CpuMs() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

// Wall time, and the processor time of all threads (the packing included,
// where it runs meanwhile), of each call.
struct Times {
  std::vector<double> ms, cpu;
  template <typename Call>
  void time(Call call) {
    const double cpuStart = CpuMs();
    const auto start = Clock::now();
    call();
    ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    cpu.push_back(CpuMs() - cpuStart);
    QApplication::processEvents();  // the view is painted, as between a user's commands
  }
  double slowest() const { return ms.empty() ? 0 : *std::max_element(ms.begin(), ms.end()); }
};

struct Kind {
  const char* name;
  // The n-th edit of the series (from 0).
  void (*edit)(TLumivoreForm& f, int n);
};
const Kind kKinds[] = {
    {"negative", [](TLumivoreForm& f, int) { f.NegColActionExecute(f.NegColAction); }},
    {"resize 50/200 %",
     [](TLumivoreForm& f, int n) {
       f.ResizeActionExecute(n % 2 ? f.Resize200Action : f.Resize50Action);
     }},
    {"rotate right", [](TLumivoreForm& f, int) { f.RotateActionExecute(f.RotateRAction); }},
    {"grey", [](TLumivoreForm& f, int) { f.ReduceActionExecute(f.GrayAction); }},
};

bool Capture(X11Platform& x11, TLumivoreForm& form, WindowId target) {
  const std::optional<Rect> r = x11.windowRect(target);
  if (!r) return false;
  // The window manager may have placed the main window again after the last
  // capture hid it: the pointer goes to a corner of the target away from it.
  form.move(0, 0);
  QApplication::processEvents();
  form.CapToolImgMouseDown(Qt::LeftButton, {}, {});
  x11.setCursorPos({r->right - 100, r->bottom - 100});
  x11.sync();
  form.FTargetWnd = 0;  // the tick then sees a new target and grabs it
  form.Timer1Timer();
  form.CapToolImgMouseUp(Qt::LeftButton, {}, {});
  QApplication::processEvents();
  return !form.FWorkImage.empty();
}

}  // namespace
}  // namespace lumivore

int main(int argc, char** argv) {
  using namespace lumivore;
  qputenv("QT_QPA_PLATFORM", "xcb");
  QApplication app(argc, argv);
  auto x11 = X11Platform::Connect();
  if (!x11) return 1;
  const WindowId target = x11->findWindowByClass("XTermUndo");
  if (!target) {
    std::fprintf(stderr, "no window of class XTermUndo\n");
    return 1;
  }
  QTemporaryDir dir;
  TLumivoreForm form(*x11, dir.filePath("lumivore"));
  form.show();
  for (int i = 0; i < 10; ++i) QApplication::processEvents();
  const double idle = Rss();
  std::printf("resident memory with no picture: %.0f MiB\n", idle);
  std::printf("%-16s %8s %8s %8s %8s %7s %7s %7s %7s %7s %7s %8s\n", "edits (20)", "capture",
              "edited", "packed", "pack lag", "edit", "cpu", "slowest", "undo", "cpu", "slowest",
              "undone");
  std::printf("%-16s %8s %8s %8s %8s %7s %7s %7s %7s %7s %7s %8s\n", "", "MiB", "MiB", "MiB", "ms",
              "ms", "ms", "ms", "ms", "ms", "ms", "MiB");
  for (const Kind& kind : kKinds) {
    form.FUndoList.clear();
    if (!Capture(*x11, form, target)) {
      std::fprintf(stderr, "the capture failed\n");
      return 1;
    }
    const double captured = Rss();
    const std::size_t picture = form.FWorkImage.byteSize();
    Times edits, undos;
    for (int n = 0; n < 20; ++n) edits.time([&] { kind.edit(form, n); });
    const double edited = Rss();
    const double lag = Settle(form.FUndoList);
    const double packed = Rss();
    while (form.FUndoList.size() > 0) undos.time([&] { form.UndoActionExecute(form.UndoAction); });
    const double undone = Rss();
    std::printf("%-16s %8.0f %8.0f %8.0f %8.0f %7.1f %7.1f %7.1f %7.1f %7.1f %7.1f %8.0f\n",
                kind.name, captured, edited, packed, lag, Median(edits.ms), Median(edits.cpu),
                edits.slowest(), Median(undos.ms), Median(undos.cpu), undos.slowest(), undone);
    if (&kind == &kKinds[0]) {
      std::printf("  picture %dx%d, %.1f MiB; after the capture %.2f times that above idle\n",
                  form.FWorkImage.width(), form.FWorkImage.height(), Mib(picture),
                  (captured - idle) / Mib(picture));
    }
  }
  return 0;
}
