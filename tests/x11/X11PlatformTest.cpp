// The X11 platform layer against a real X server with real clients: Xvfb
// with openbox, and Xvfb without a window manager.
#include <gtest/gtest.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <sstream>
#include <thread>

#include "app/x11/X11Platform.h"
#include "tests/x11/XSession.h"

namespace lumivore {
namespace {

using namespace std::chrono_literals;
using testing::HaveProgram;
using testing::Process;
using testing::RunCommand;
using testing::WaitFor;
using testing::XSession;

// The number after `label` in a tool's output (decimal, or hexadecimal
// after 0x), or -1.
long NumberAfter(const std::string& text, const std::string& label) {
  const auto at = text.find(label);
  if (at == std::string::npos) return -1;
  return std::strtol(text.c_str() + at + label.size(), nullptr, 0);
}

std::string Hex(WindowId w) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "0x%x", w);
  return buffer;
}

// The part `r` of the screen as ImageMagick reads it, as 0x00RRGGBB.
std::vector<Rgb> ImportRoot(const Rect& r) {
  // One file per test process: ctest runs tests side by side.
  const std::string file =
      ::testing::TempDir() + "lumivore-import-" + std::to_string(getpid()) + ".rgb";
  std::ostringstream cmd;
  cmd << "import -silent -window root -crop " << r.width() << "x" << r.height() << "+" << r.left
      << "+" << r.top << " +repage -depth 8 rgb:" << file;
  std::vector<Rgb> pixels;
  if (!RunCommand(cmd.str())) return pixels;
  std::ifstream in(file, std::ios::binary);
  const std::string bytes((std::istreambuf_iterator<char>(in)), {});
  for (std::size_t i = 0; i + 2 < bytes.size(); i += 3) {
    pixels.push_back(MakeRgb(bytes[i], bytes[i + 1], bytes[i + 2]));
  }
  std::remove(file.c_str());
  return pixels;
}

// Runs `grab` between two readings of `r` by ImageMagick and returns the
// reading once both agree. The screen may change at any moment (a text cursor,
// the decorations of a window that gains or loses the focus); a grab is only
// comparable with a screen that held still around it, so it is repeated until
// one did. Empty when `grab` failed or the screen never held still.
std::vector<Rgb> ImportAroundGrab(const Rect& r, const std::function<bool()>& grab) {
  for (int attempt = 0; attempt < 20; ++attempt) {
    const std::vector<Rgb> before = ImportRoot(r);
    if (!grab()) return {};
    if (ImportRoot(r) == before) return before;
  }
  return {};
}

// Whether a root point lies in a shape given relative to `outer`.
bool InShape(const std::vector<Rect>& shape, const Rect& outer, Point rootPoint) {
  const Point p{rootPoint.x - outer.left, rootPoint.y - outer.top};
  return std::any_of(shape.begin(), shape.end(), [&](const Rect& r) { return r.contains(p); });
}

class X11Desktop : public ::testing::Test {
 protected:
  static void StartSession(bool windowManager, int depth = 24) {
    for (const char* program : {"Xvfb", "openbox", "xterm", "xeyes", "xdotool", "xprop", "xwininfo",
                                "xrandr", "import"}) {
      if (!HaveProgram(program)) {
        missing_ = program;
        return;
      }
    }
    session_ = new XSession(windowManager, depth);
  }
  static void TearDownTestSuite() {
    delete session_;
    session_ = nullptr;
  }

  void SetUp() override {
    if (!session_) GTEST_SKIP() << missing_ << " is not installed";
    ASSERT_TRUE(session_->ok()) << "the X server or window manager did not start";
    x_ = X11Platform::Connect();
    ASSERT_TRUE(x_);
  }

  // Starts a client with a class of its own and waits until it is shown
  // (and, with a window manager, managed and decorated); returns its id.
  WindowId startClient(const std::vector<std::string>& argv, const std::string& cls) {
    WindowId id = 0;
    auto shown = [&] {
      id = x_->findWindowByClass(cls);
      if (!id || !x_->isWindowVisible(id)) return false;
      if (!windowManager()) return true;
      auto extents = RunCommand("xprop -id " + Hex(id) + " _NET_FRAME_EXTENTS");
      return extents && extents->find(" = ") != std::string::npos;
    };
    // A client mapped in the first moments after openbox announced itself
    // is now and then never managed (seen with plain shell scripts too, about
    // one start in four); a second one is.
    bool managed = false;
    for (int attempt = 0; attempt < 3 && !managed; ++attempt) {
      if (attempt > 0) clients_.pop_back();
      clients_.push_back(session_->start(argv));
      managed = WaitFor(shown, 2s);
    }
    if (!managed) return 0;
    // Wait until the client has drawn itself: two grabs 100 ms apart agree.
    const auto rect = x_->windowRect(id);
    Bitmap before, after;
    WaitFor([&] {
      x_->grabScreen(*rect, before);
      std::this_thread::sleep_for(100ms);
      x_->grabScreen(*rect, after);
      return before == after;
    });
    return id;
  }
  WindowId startYellowXterm(const std::string& cls, const std::string& geometry) {
    return startClient({"xterm", "-class", cls, "-bg", "yellow", "-title", "Lumivore test",
                        "-geometry", geometry},
                       cls);
  }
  WindowId startXterm(const std::string& cls, const std::string& geometry,
                      const std::string& title = "Lumivore test") {
    return startClient({"xterm", "-class", cls, "-title", title, "-geometry", geometry}, cls);
  }

  virtual bool windowManager() const = 0;

  static XSession* session_;
  static std::string missing_;
  std::unique_ptr<X11Platform> x_;
  std::vector<Process> clients_;
};

XSession* X11Desktop::session_ = nullptr;
std::string X11Desktop::missing_;

class ManagedDesktop : public X11Desktop {
 protected:
  static void SetUpTestSuite() { StartSession(true); }
  bool windowManager() const override { return true; }
};

// openbox runs at first and is ended by the test.
class OrphanedDesktop : public ManagedDesktop {};

class BareDesktop : public X11Desktop {
 protected:
  static void SetUpTestSuite() { StartSession(false); }
  bool windowManager() const override { return false; }
};

TEST_F(ManagedDesktop, WindowFromPoint_ClientAreaAndDecorations_GiveClient) {
  const WindowId term = startXterm("XTermPoint", "80x24+100+100", "Point here");
  ASSERT_NE(term, 0u);
  const Rect outer = *x_->windowRect(term);
  const Point points[] = {
      {outer.left + outer.width() / 2, outer.top + outer.height() / 2},  // text area
      {outer.left + outer.width() / 2, outer.top + 5},                   // title bar
      {outer.left + 40, outer.bottom - 2},                               // bottom handle
      {outer.left, outer.top + outer.height() / 2},                      // left border
  };
  for (const Point& p : points) {
    EXPECT_EQ(x_->windowFromPoint(p), term) << "at " << p.x << "," << p.y;
  }
  EXPECT_EQ(x_->className(term), "XTermPoint");
  EXPECT_EQ(x_->windowText(term), "Point here");
  // Beside the window lies the bare root.
  EXPECT_EQ(x_->windowFromPoint({outer.right + 50, outer.top + 5}), 0u);

  // Another client in the same place, in a new frame, is found at once, even
  // when it got the same id as the one before (the server reuses the ids of
  // a client that disconnected).
  clients_.clear();
  ASSERT_TRUE(WaitFor([&] { return x_->findWindowByClass("XTermPoint") == 0; }));
  const WindowId next = startXterm("XTermPoint2", "80x24+100+100");
  ASSERT_NE(next, 0u);
  EXPECT_EQ(x_->windowFromPoint(points[1]), next);
  EXPECT_EQ(x_->windowFromPoint(points[0]), next);
}

TEST_F(ManagedDesktop, WindowText_CompoundTextAndLatin1Titles_ComeOutAsUtf8) {
  const WindowId term = startXterm("XTermTitle", "40x5+600+100");
  ASSERT_NE(term, 0u);
  const struct {
    const char* type;  // xprop's format letter: t chooses COMPOUND_TEXT when needed
    const char* encoding;
    std::string title;
  } cases[] = {
      {"t", "COMPOUND_TEXT", "日本語のタイトル - ｶﾀｶﾅ"},
      {"t", "COMPOUND_TEXT", "Ελληνικά и русский"},
      {"s", "STRING", "Caf\xe9 cr\xe8me"},
      {"u", "UTF8_STRING", "画像 ✓"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.title);
    ASSERT_TRUE(RunCommand("LC_ALL=C.UTF-8 xprop -id " + Hex(term) + " -f WM_NAME 8" + c.type +
                           " -set WM_NAME '" + c.title + "'"));
    const auto shown = RunCommand("xprop -id " + Hex(term) + " WM_NAME");
    ASSERT_TRUE(shown);
    ASSERT_NE(shown->find(std::string("WM_NAME(") + c.encoding + ")"), std::string::npos)
        << *shown;
    const std::string expected = c.type[0] == 's' ? "Café crème" : c.title;
    EXPECT_EQ(x_->windowText(term), expected);
  }
}

TEST_F(ManagedDesktop, WindowRect_EqualsClientPlusFrameExtentsAndFrameWindow) {
  const WindowId term = startXterm("XTermRect", "60x10+300+200");
  ASSERT_NE(term, 0u);
  const auto info = RunCommand("xwininfo -id " + Hex(term));
  const auto extents = RunCommand("xprop -id " + Hex(term) + " _NET_FRAME_EXTENTS");
  const auto tree = RunCommand("xwininfo -children -id " + Hex(term));
  ASSERT_TRUE(info && extents && tree);
  // _NET_FRAME_EXTENTS(CARDINAL) = left, right, top, bottom
  int l, r, t, b;
  ASSERT_EQ(
      std::sscanf(extents->c_str() + extents->find('=') + 1, "%d, %d, %d, %d", &l, &r, &t, &b), 4);
  const int x = NumberAfter(*info, "Absolute upper-left X:");
  const int y = NumberAfter(*info, "Absolute upper-left Y:");
  const int w = NumberAfter(*info, "Width:");
  const int h = NumberAfter(*info, "Height:");
  const Rect expected{x - l, y - t, x + w + r, y + h + b};
  EXPECT_EQ(x_->windowRect(term), expected);

  // openbox's frame window covers exactly that rectangle.
  const auto frame = RunCommand("xwininfo -id " + Hex(NumberAfter(*tree, "Parent window id:")));
  ASSERT_TRUE(frame);
  EXPECT_EQ(NumberAfter(*frame, "Absolute upper-left X:"), expected.left);
  EXPECT_EQ(NumberAfter(*frame, "Absolute upper-left Y:"), expected.top);
  EXPECT_EQ(NumberAfter(*frame, "Width:"), expected.width());
  EXPECT_EQ(NumberAfter(*frame, "Height:"), expected.height());
}

// Grabs a yellow xterm both ways (MIT-SHM and plain GetImage) and compares
// every pixel with ImageMagick's reading of the screen; the pixel colour
// agrees too, and yellow comes out yellow.
void GrabEqualsImport(X11Platform& x, const Rect& rect) {
  const Rgb yellow = MakeRgb(255, 255, 0);
  for (bool shm : {true, false}) {
    SCOPED_TRACE(shm ? "MIT-SHM" : "GetImage");
    x.useSharedMemory(shm);
    EXPECT_EQ(x.usesSharedMemory(), shm);
    Bitmap grabbed;
    const std::vector<Rgb> reference =
        ImportAroundGrab(rect, [&] { return x.grabScreen(rect, grabbed); });
    ASSERT_EQ(reference.size(), std::size_t(rect.width()) * rect.height());
    ASSERT_EQ(grabbed.width(), rect.width());
    ASSERT_EQ(grabbed.height(), rect.height());
    int differing = 0;
    for (int y = 0; y < rect.height(); ++y) {
      for (int x = 0; x < rect.width(); ++x) {
        differing += grabbed.pixel(x, y) != reference[std::size_t(y) * rect.width() + x];
      }
    }
    EXPECT_EQ(differing, 0);
    // Bottom right, inside the border, is the terminal's background.
    EXPECT_EQ(grabbed.pixel(rect.width() - 12, rect.height() - 12), yellow);

    // One pixel read the cheap way agrees too: the title bar's middle.
    const Point mid{rect.left + rect.width() / 2, rect.top + 5};
    std::optional<Rgb> one;
    const std::vector<Rgb> seen = ImportAroundGrab({mid.x, mid.y, mid.x + 1, mid.y + 1}, [&] {
      one = x.screenPixel(mid);
      return one.has_value();
    });
    ASSERT_EQ(seen.size(), 1u);
    ASSERT_TRUE(one);
    EXPECT_EQ(*one, seen[0]);
    EXPECT_EQ(x.screenPixel({rect.right - 12, rect.bottom - 12}), yellow);
  }
}

TEST_F(ManagedDesktop, GrabScreen_TargetRect_EqualsImageMagickPixelForPixel) {
  const WindowId term = startYellowXterm("XTermGrab", "70x12+40+60");
  ASSERT_NE(term, 0u);
  GrabEqualsImport(*x_, *x_->windowRect(term));
}

// Screens of other depths: their pixels are converted through the visual's masks.
class Managed16Desktop : public ManagedDesktop {
 protected:
  static void SetUpTestSuite() { StartSession(true, 16); }
};
class Managed30Desktop : public ManagedDesktop {
 protected:
  static void SetUpTestSuite() { StartSession(true, 30); }
};

TEST_F(Managed16Desktop, GrabScreen_16Bit_EqualsImageMagickPixelForPixel) {
  const WindowId term = startYellowXterm("XTermGrab16", "70x12+40+60");
  ASSERT_NE(term, 0u);
  // An odd width, whose two-byte pixels leave each row short of the
  // scanline pad: a row stride without the padding shears the picture.
  Rect rect = *x_->windowRect(term);
  if (rect.width() % 2 == 0) --rect.right;
  GrabEqualsImport(*x_, rect);
}

TEST_F(Managed30Desktop, GrabScreen_30Bit_EqualsImageMagickPixelForPixel) {
  const WindowId term = startYellowXterm("XTermGrab30", "70x12+40+60");
  ASSERT_NE(term, 0u);
  GrabEqualsImport(*x_, *x_->windowRect(term));
}

TEST(PixelLayoutTest, Pixel_ThroughMasksAndByteOrder) {
  const struct {
    const char* name;
    PixelLayout layout;
    std::vector<std::uint8_t> bytes;
    Rgb expected;
  } cases[] = {
      {"Rgb565 yellow", PixelLayout(16, 32, false, 0xF800, 0x07E0, 0x001F), {0xE0, 0xFF}, 0xFFFF00},
      {"Rgb565 mid", PixelLayout(16, 32, false, 0xF800, 0x07E0, 0x001F), {0x10, 0x84},
       MakeRgb(131, 129, 131)},  // 16/31, 32/63, 16/31
      {"Rgb565 big-endian", PixelLayout(16, 32, true, 0xF800, 0x07E0, 0x001F), {0x00, 0x1F},
       0x0000FF},
      {"Bgr565", PixelLayout(16, 32, false, 0x001F, 0x07E0, 0xF800), {0x1F, 0x00}, 0xFF0000},
      {"Rgb30", PixelLayout(32, 32, false, 0x3FF00000, 0xFFC00, 0x3FF), {0x00, 0x00, 0xF0, 0x3F},
       0xFF0000},
      {"Rgb30 mid", PixelLayout(32, 32, false, 0x3FF00000, 0xFFC00, 0x3FF),
       {0x02, 0x14, 0x00, 0x00}, MakeRgb(0, 1, 0)},  // green 5/1023, blue 2/1023
      {"Rgb24 packed", PixelLayout(24, 32, false, 0xFF0000, 0xFF00, 0xFF), {0x30, 0x20, 0x10},
       0x102030},
      {"Xrgb32", PixelLayout(32, 32, false, 0xFF0000, 0xFF00, 0xFF), {0x30, 0x20, 0x10, 0xAA},
       0x102030},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.layout.pixel(c.bytes.data()), c.expected) << c.name;
  }
  // Rows are padded to the scanline pad.
  EXPECT_EQ(PixelLayout(16, 32, false, 0xF800, 0x07E0, 0x1F).stride(3), 8u);
  EXPECT_EQ(PixelLayout(24, 32, false, 0xFF0000, 0xFF00, 0xFF).stride(3), 12u);
  EXPECT_EQ(PixelLayout(32, 32, false, 0xFF0000, 0xFF00, 0xFF).stride(3), 12u);
}

// Shared memory segments this process created, with their mode bits.
std::vector<unsigned> OwnShmSegments() {
  std::ifstream in("/proc/sysvipc/shm");
  std::string line;
  std::getline(in, line);  // header
  std::vector<unsigned> modes;
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    long key, id, size;
    unsigned perms;
    int cpid;
    if (fields >> key >> id >> std::oct >> perms >> std::dec >> size >> cpid && cpid == getpid())
      modes.push_back(perms);
  }
  return modes;
}

TEST_F(ManagedDesktop, GrabScreen_SharedMemory_IsMarkedForRemovalAndFreed) {
  constexpr unsigned kDestroyWhenDetached = 01000;  // SHM_DEST
  ASSERT_TRUE(x_->usesSharedMemory());
  Bitmap picture;
  ASSERT_TRUE(x_->grabScreen({0, 0, 100, 100}, picture));
  ASSERT_TRUE(x_->grabScreen({0, 0, 1920, 1080}, picture));  // a larger segment
  const std::vector<unsigned> live = OwnShmSegments();
  ASSERT_EQ(live.size(), 1u) << "the smaller segment was not let go";
  EXPECT_TRUE(live[0] & kDestroyWhenDetached) << "a crash now would leak the segment";
  x_.reset();
  EXPECT_TRUE(WaitFor([] { return OwnShmSegments().empty(); }, 2s));
}

TEST_F(ManagedDesktop, ReleaseGrabMemory_FreesTheSegmentUntilTheNextGrab) {
  ASSERT_TRUE(x_->usesSharedMemory());
  Bitmap picture;
  ASSERT_TRUE(x_->grabScreen({0, 0, 1920, 1080}, picture));
  ASSERT_EQ(OwnShmSegments().size(), 1u);
  x_->releaseGrabMemory();
  EXPECT_TRUE(WaitFor([] { return OwnShmSegments().empty(); }, 2s));
  // The next grab makes a segment again and still reads through it.
  ASSERT_TRUE(x_->grabScreen({0, 0, 1920, 1080}, picture));
  EXPECT_TRUE(x_->usesSharedMemory());
  EXPECT_EQ(OwnShmSegments().size(), 1u);
}

struct OffScreenCase {
  const char* name;
  Rect rect;
};
void PrintTo(const OffScreenCase& c, std::ostream* os) { *os << c.name; }

class ManagedDesktopOffScreen
    : public ManagedDesktop,
      public ::testing::WithParamInterface<std::tuple<OffScreenCase, bool>> {};

TEST_P(ManagedDesktopOffScreen, GrabScreen_PartsOffTheScreen_AreBlack) {
  const auto& [c, shm] = GetParam();
  // Something to see in both corners of the screen.
  ASSERT_NE(startXterm("XTermTopLeft", "20x5+0+0"), 0u);
  ASSERT_NE(startXterm("XTermBottomRight", "20x5-0-0"), 0u);
  x_->useSharedMemory(shm);
  const Rect screen{0, 0, 1920, 1080};
  const Rect visible = IntersectRect(c.rect, screen);
  // Grabs into `grabbed` and counts the pixels that differ from the screen
  // as it was around the grab (black off the screen).
  auto wrongPixels = [&](Bitmap& grabbed) {
    std::vector<Rgb> reference;
    if (visible.isEmpty()) {
      if (!x_->grabScreen(c.rect, grabbed)) return -1;
    } else {
      reference = ImportAroundGrab(visible, [&] { return x_->grabScreen(c.rect, grabbed); });
      if (reference.size() != std::size_t(visible.width()) * visible.height()) return -1;
      EXPECT_NE(std::count(reference.begin(), reference.end(), 0u),
                std::ptrdiff_t(reference.size()))
          << "the reference shows nothing";
    }
    if (grabbed.width() != c.rect.width() || grabbed.height() != c.rect.height()) return -1;
    int wrong = 0;
    for (int y = 0; y < c.rect.height(); ++y) {
      for (int x = 0; x < c.rect.width(); ++x) {
        const Point p{c.rect.left + x, c.rect.top + y};
        const Rgb expected =
            visible.contains(p)
                ? reference[std::size_t(p.y - visible.top) * visible.width() + p.x - visible.left]
                : 0;
        wrong += grabbed.pixel(x, y) != expected;
      }
    }
    return wrong;
  };
  // Into a bitmap of another size, which the grab replaces ...
  Bitmap grabbed;
  grabbed.allocate(3, 3, PixelFormat::Bgrx32);
  EXPECT_EQ(wrongPixels(grabbed), 0);
  // ... and again into the same bitmap, whose old pixels must not survive.
  std::memset(grabbed.bits(), 0xFF, grabbed.byteSize());
  EXPECT_EQ(wrongPixels(grabbed), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Rects, ManagedDesktopOffScreen,
    ::testing::Combine(::testing::Values(OffScreenCase{"OffLeftTop", {-50, -30, 150, 170}},
                                         // Off one side only, at another x than y, so
                                         // that a grab with the two swapped shows.
                                         OffScreenCase{"OffLeft", {-40, 30, 110, 130}},
                                         OffScreenCase{"OffRightBottom", {1800, 1000, 2000, 1100}},
                                         OffScreenCase{"Outside", {2000, 10, 2100, 60}},
                                         OffScreenCase{"LargerThanScreen", {-5, -5, 1930, 1090}}),
                       ::testing::Bool()),
    [](const auto& info) {
      return std::string(std::get<0>(info.param).name) +
             (std::get<1>(info.param) ? "_Shm" : "_GetImage");
    });

TEST_F(ManagedDesktop, WindowShape_Xeyes_CornersOutsideDecorationsInside) {
  const WindowId eyes = startClient({"xeyes", "-geometry", "200x150+800+100"}, "XEyes");
  ASSERT_NE(eyes, 0u);
  const auto shape = x_->windowShape(eyes);
  ASSERT_TRUE(shape.has_value());
  const auto info = RunCommand("xwininfo -id " + Hex(eyes));
  ASSERT_TRUE(info);
  const Rect outer = *x_->windowRect(eyes);
  const Rect client{int(NumberAfter(*info, "Absolute upper-left X:")),
                    int(NumberAfter(*info, "Absolute upper-left Y:")), 0, 0};
  const Rect own{client.left, client.top, client.left + 200, client.top + 150};
  auto inShape = [&](Point p) { return InShape(*shape, outer, p); };
  const int midX = (own.left + own.right) / 2;
  const int midY = (own.top + own.bottom) / 2;
  // The client's corners are cut away; the eyes and the title bar are kept.
  EXPECT_FALSE(inShape({own.left + 1, own.top + 1}));
  EXPECT_FALSE(inShape({own.right - 2, own.bottom - 2}));
  EXPECT_TRUE(inShape({own.left + 50, midY}));
  EXPECT_TRUE(inShape({own.right - 50, midY}));
  // The bottom of an eye stays in: the shape sits where the client sits in
  // its frame, not a title bar higher.
  EXPECT_TRUE(inShape({own.left + 50, own.bottom - 10}));
  EXPECT_TRUE(inShape({midX, outer.top + 3}));
  EXPECT_FALSE(inShape({midX, own.top + 2}));  // between the eyes, at the top

  // The pointer sees the same: between the eyes there is no xeyes.
  EXPECT_EQ(x_->windowFromPoint({own.left + 50, midY}), eyes);
  EXPECT_EQ(x_->windowFromPoint({midX, outer.top + 3}), eyes);
  EXPECT_NE(x_->windowFromPoint({midX, own.top + 2}), eyes);
  EXPECT_NE(x_->windowFromPoint({own.left + 1, own.top + 1}), eyes);

  // A plain rectangular window has no shape.
  const WindowId term = startXterm("XTermUnshaped", "20x5+300+700");
  ASSERT_NE(term, 0u);
  EXPECT_EQ(x_->windowShape(term), std::nullopt);
}

TEST_F(ManagedDesktop, VanishedWindow_EveryQuery_FailsQuietly) {
  const WindowId term = startXterm("XTermGone", "40x8+500+500");
  ASSERT_NE(term, 0u);
  const Rect rect = *x_->windowRect(term);
  clients_.clear();
  ASSERT_TRUE(WaitFor([&] { return !x_->windowRect(term); }));

  ::testing::internal::CaptureStderr();
  EXPECT_EQ(x_->className(term), "");
  EXPECT_EQ(x_->windowText(term), "");
  EXPECT_EQ(x_->windowRect(term), std::nullopt);
  EXPECT_EQ(x_->windowShape(term), std::nullopt);
  EXPECT_FALSE(x_->isWindowVisible(term));
  EXPECT_FALSE(x_->isIconic(term));
  x_->restoreWindow(term);
  x_->activateWindow(term);
  Bitmap picture;
  EXPECT_TRUE(x_->grabScreen(rect, picture));  // what lies there now
  x_->sync();
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");

  // The connection is healthy and no error waits in its queue.
  xcb_connection_t* c = x_->connection();
  EXPECT_EQ(xcb_connection_has_error(c), 0);
  xcb_generic_event_t* event = xcb_poll_for_event(c);
  EXPECT_EQ(event, nullptr) << "response type " << int(event ? event->response_type : 0)
                            << " error " << int(event ? event->pad0 : 0) << " request "
                            << int(event ? reinterpret_cast<xcb_generic_error_t*>(event)->major_code
                                         : 0);
  std::free(event);
  EXPECT_EQ(x_->windowFromPoint({rect.left + 10, rect.top + 10}), 0u);
}

TEST_F(ManagedDesktop, Screen_MonitorsAndPrimary_FollowRandr) {
  EXPECT_FALSE(x_->isXwayland());  // neither its extensions nor its outputs' names say so
  EXPECT_EQ(x_->monitorCount(), 1);
  EXPECT_EQ(x_->primaryScreen(), (Rect{0, 0, 1920, 1080}));
  ASSERT_TRUE(RunCommand("xrandr --setmonitor Right 960/254x1080/286+960+0 none"));
  ASSERT_TRUE(RunCommand("xrandr --setmonitor Left 960/254x1080/286+0+0 none"));
  EXPECT_EQ(x_->monitorCount(), 3);
  const Rect primary = x_->primaryScreen();
  EXPECT_EQ(primary.left, 0);
  EXPECT_EQ(primary.top, 0);
  RunCommand("xrandr --delmonitor Right");
  RunCommand("xrandr --delmonitor Left");
  EXPECT_EQ(x_->monitorCount(), 1);
}

TEST_F(ManagedDesktop, CursorPos_RoundTripsWithXdotool) {
  ASSERT_TRUE(RunCommand("xdotool mousemove 321 456"));
  EXPECT_EQ(x_->cursorPos(), (Point{321, 456}));
  x_->setCursorPos({1000, 20});
  const auto where = RunCommand("xdotool getmouselocation");
  ASSERT_TRUE(where);
  EXPECT_EQ(NumberAfter(*where, "x:"), 1000);
  EXPECT_EQ(NumberAfter(*where, "y:"), 20);
}

TEST_F(ManagedDesktop, ActivateWindow_UnderOpenbox_RestoresAndFocuses) {
  const WindowId first = startXterm("XTermFirst", "30x5+100+600");
  const WindowId second = startXterm("XTermSecond", "30x5+400+600");
  ASSERT_NE(first, 0u);
  ASSERT_NE(second, 0u);
  auto active = [&] {
    auto out = RunCommand("xprop -root _NET_ACTIVE_WINDOW");
    return out ? WindowId(NumberAfter(*out, "window id # ")) : 0;
  };
  x_->activateWindow(second);
  ASSERT_TRUE(WaitFor([&] { return active() == second; }));

  ASSERT_TRUE(RunCommand("xdotool windowminimize " + std::to_string(first)));
  ASSERT_TRUE(WaitFor([&] { return x_->isIconic(first); }));
  x_->activateWindow(first);
  EXPECT_TRUE(WaitFor([&] { return active() == first; }));
  EXPECT_FALSE(x_->isIconic(first));
  EXPECT_EQ(x_->topLevelWindows().front(), first);
}

TEST_F(ManagedDesktop, PlaySound_MissingAndRealFile_ReturnQuietly) {
  const std::string wav =
      ::testing::TempDir() + "lumivore-beep-" + std::to_string(getpid()) + ".wav";
  {
    // 0.1 s of silence, 8 kHz mono 8-bit.
    std::ofstream out(wav, std::ios::binary);
    const std::uint32_t samples = 800;
    auto u32 = [&](std::uint32_t v) { out.write(reinterpret_cast<const char*>(&v), 4); };
    auto u16 = [&](std::uint16_t v) { out.write(reinterpret_cast<const char*>(&v), 2); };
    out << "RIFF";
    u32(36 + samples);
    out << "WAVEfmt ";
    u32(16), u16(1), u16(1), u32(8000), u32(8000), u16(1), u16(8);
    out << "data";
    u32(samples);
    out << std::string(samples, '\x80');
  }
  ::testing::internal::CaptureStderr();
  x_->playSound(wav);
  x_->playSound("/nonexistent/lumivore.wav");
  x_->playSound(wav);
  std::this_thread::sleep_for(200ms);  // playing threads would have spoken by now
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
  std::remove(wav.c_str());
}

TEST_F(BareDesktop, WindowFromPointAndRect_WithoutWindowManager_GiveTopLevelWindow) {
  const WindowId term = startXterm("XTermBare", "40x8+200+150");
  ASSERT_NE(term, 0u);
  const auto info = RunCommand("xwininfo -id " + Hex(term));
  ASSERT_TRUE(info);
  const int bw = NumberAfter(*info, "Border width:");
  const int x = NumberAfter(*info, "Absolute upper-left X:");
  const int y = NumberAfter(*info, "Absolute upper-left Y:");
  // xwininfo's upper-left corner is the outer corner of the border.
  const Rect expected{x, y, x + int(NumberAfter(*info, "Width:")) + 2 * bw,
                      y + int(NumberAfter(*info, "Height:")) + 2 * bw};
  EXPECT_EQ(x_->windowRect(term), expected);
  EXPECT_GT(bw, 0);  // nobody took the border away
  EXPECT_EQ(x_->windowFromPoint({x + 10, y + 10}), term);
  EXPECT_EQ(x_->className(term), "XTermBare");
  EXPECT_EQ(x_->windowFromPoint({1500, 900}), 0u);
}

// A window manager that nests each client two levels deep (frame, wrapper,
// client), played by the test on a desktop without a real one.
class NestingWindowManager {
 public:
  NestingWindowManager() : c_(xcb_connect(nullptr, nullptr)) {
    root_ = xcb_setup_roots_iterator(xcb_get_setup(c_)).data->root;
  }
  ~NestingWindowManager() { xcb_disconnect(c_); }

  xcb_atom_t atom(const std::string& name) {
    auto* reply = xcb_intern_atom_reply(c_, xcb_intern_atom(c_, 0, name.size(), name.c_str()), 0);
    const xcb_atom_t a = reply ? reply->atom : 0;
    std::free(reply);
    return a;
  }
  xcb_window_t window(xcb_window_t parent, int x, int y, bool map) {
    const xcb_window_t w = xcb_generate_id(c_);
    xcb_create_window(c_, XCB_COPY_FROM_PARENT, w, parent, x, y, 200, 100, 0,
                      XCB_WINDOW_CLASS_INPUT_OUTPUT, XCB_COPY_FROM_PARENT, 0, nullptr);
    if (map) xcb_map_window(c_, w);
    return w;
  }
  // A managed client of WM_CLASS `cls` inside a wrapper inside a frame.
  xcb_window_t manage(const std::string& cls, bool iconic) {
    const xcb_window_t frame = window(root_, 100, 100, !iconic);
    const xcb_window_t wrapper = window(frame, 0, 20, true);
    const xcb_window_t client = window(wrapper, 0, 0, true);
    const std::string value = "nested" + std::string(1, '\0') + cls + std::string(1, '\0');
    xcb_change_property(c_, XCB_PROP_MODE_REPLACE, client, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 8,
                        value.size(), value.data());
    const std::uint32_t state[2] = {iconic ? 3u : 1u, 0};
    const xcb_atom_t wmState = atom("WM_STATE");
    xcb_change_property(c_, XCB_PROP_MODE_REPLACE, client, wmState, wmState, 32, 2, state);
    clients_.push_back(client);
    return client;
  }
  // Announces itself and its client list on the root, as an EWMH window manager does.
  void publish() {
    check_ = window(root_, -10, -10, false);
    for (xcb_window_t w : {root_, check_}) {
      xcb_change_property(c_, XCB_PROP_MODE_REPLACE, w, atom("_NET_SUPPORTING_WM_CHECK"),
                          XCB_ATOM_WINDOW, 32, 1, &check_);
    }
    xcb_change_property(c_, XCB_PROP_MODE_REPLACE, root_, atom("_NET_CLIENT_LIST"),
                        XCB_ATOM_WINDOW, 32, clients_.size(), clients_.data());
    sync();
  }
  void withdraw() {
    xcb_delete_property(c_, root_, atom("_NET_CLIENT_LIST"));
    xcb_delete_property(c_, root_, atom("_NET_SUPPORTING_WM_CHECK"));
    sync();
  }
  void sync() { std::free(xcb_get_input_focus_reply(c_, xcb_get_input_focus(c_), nullptr)); }

 private:
  xcb_connection_t* c_;
  xcb_window_t root_;
  xcb_window_t check_ = 0;
  std::vector<xcb_window_t> clients_;
};

TEST_F(BareDesktop, FindWindowByClass_ClientNestedInFrameAndWrapper_IsFound) {
  NestingWindowManager wm;
  const xcb_window_t shown = wm.manage("NestedShown", false);
  const xcb_window_t minimised = wm.manage("NestedMinimised", true);
  wm.publish();
  // Through the client list ...
  EXPECT_EQ(x_->findWindowByClass("NestedShown"), shown);
  EXPECT_EQ(x_->findWindowByClass("NestedMinimised"), minimised);
  EXPECT_TRUE(x_->isIconic(minimised));
  // ... and by walking the tree when no window manager publishes one.
  wm.withdraw();
  EXPECT_EQ(x_->findWindowByClass("NestedShown"), shown);
  EXPECT_EQ(x_->findWindowByClass("NestedMinimised"), minimised);
  EXPECT_EQ(x_->findWindowByClass("NoSuchClass"), 0u);
}

TEST_F(BareDesktop, WindowShape_WithoutWindowManager_RelativeToOuterCorner) {
  const WindowId eyes = startClient({"xeyes", "-geometry", "200x150+600+300"}, "XEyes");
  ASSERT_NE(eyes, 0u);
  const auto shape = x_->windowShape(eyes);
  ASSERT_TRUE(shape.has_value());
  const Rect outer = *x_->windowRect(eyes);
  auto inShape = [&](Point p) { return InShape(*shape, outer, p); };
  const int midX = (outer.left + outer.right) / 2;
  const int midY = (outer.top + outer.bottom) / 2;
  EXPECT_FALSE(inShape({outer.left + 2, outer.top + 2}));
  EXPECT_TRUE(inShape({outer.left + 50, midY}));
  EXPECT_FALSE(inShape({midX, outer.top + 3}));
  EXPECT_EQ(x_->windowFromPoint({outer.left + 50, midY}), eyes);
  EXPECT_EQ(x_->windowFromPoint({midX, outer.top + 3}), 0u);  // the bare root between the eyes
}

TEST_F(BareDesktop, ActivateWindow_WithoutWindowManager_MapsRaisesAndFocuses) {
  const WindowId first = startXterm("XTermBareA", "30x5+100+100");
  const WindowId second = startXterm("XTermBareB", "30x5+120+120");
  ASSERT_NE(first, 0u);
  ASSERT_NE(second, 0u);
  ASSERT_TRUE(RunCommand("xdotool windowunmap --sync " + std::to_string(first)));
  x_->activateWindow(first);
  x_->sync();
  EXPECT_TRUE(x_->isWindowVisible(first));
  const auto focus = RunCommand("xdotool getwindowfocus");
  ASSERT_TRUE(focus);
  EXPECT_EQ(WindowId(std::stoul(*focus)), first);
  // Raised above the other: the overlap shows the first window.
  EXPECT_EQ(x_->windowFromPoint({125, 125}), first);
}

TEST_F(OrphanedDesktop, WindowManagerGone_ClientsFoundAndActivatedDirectly) {
  const WindowId first = startXterm("XTermOrphanA", "30x5+100+100");
  const WindowId second = startXterm("XTermOrphanB", "30x5+120+120");
  ASSERT_NE(first, 0u);
  ASSERT_NE(second, 0u);
  x_->activateWindow(second);
  EXPECT_EQ(x_->windowFromPoint({110, 110}), first);  // fills the frame map
  session_->crashWindowManager();
  // The server hands the clients back to the root; the window manager's
  // properties stay on the root.
  ASSERT_TRUE(WaitFor([&] {
    auto tree = RunCommand("xwininfo -children -id " + Hex(first));
    return tree && tree->find("Parent window id: " + Hex(NumberAfter(*tree, "Root window id:"))) !=
                       std::string::npos;
  }));
  const auto check = RunCommand("xprop -root _NET_SUPPORTING_WM_CHECK");
  ASSERT_TRUE(check && check->find("window id #") != std::string::npos);
  // The client's own rectangle: the frame extents left behind are stale.
  const auto info = RunCommand("xwininfo -id " + Hex(first));
  ASSERT_TRUE(info);
  const Rect rect = *x_->windowRect(first);
  EXPECT_EQ(rect.left, NumberAfter(*info, "Absolute upper-left X:"));
  EXPECT_EQ(rect.top, NumberAfter(*info, "Absolute upper-left Y:"));
  EXPECT_EQ(x_->windowFromPoint({rect.left + 5, rect.top + 5}), first);

  auto focus = [] {
    const auto out = RunCommand("xdotool getwindowfocus");
    return out ? WindowId(std::stoul(*out)) : 0;
  };
  EXPECT_NE(focus(), first);
  x_->activateWindow(first);
  EXPECT_EQ(focus(), first);
  EXPECT_EQ(x_->windowFromPoint({rect.right - 3, rect.bottom - 3}), first);  // raised
}

}  // namespace
}  // namespace lumivore
