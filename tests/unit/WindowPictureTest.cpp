// The picture of a window as the command line takes it, on the scripted desktop.
#include <gtest/gtest.h>

#include "app/ScriptedDesktop.h"
#include "capture/WindowPicture.h"

namespace lumivore {
namespace {

constexpr Rgb kBackground = MakeRgb(1, 2, 3);

// A screen whose every pixel tells where it is.
Rgb At(int x, int y) {
  return MakeRgb(static_cast<std::uint8_t>(x), static_cast<std::uint8_t>(y), 7);
}

struct Fixture {
  ScriptedDesktop desktop{100, 60};
  Fixture() {
    for (int y = 0; y < 60; ++y)
      for (int x = 0; x < 100; ++x) desktop.fillScreen(Rect{x, y, x + 1, y + 1}, At(x, y));
  }
};

// Which pixels of a picture kept the screen's pixel at (left + x, top + y),
// and which hold the background colour; anything else fails.
std::string Mask(const Bitmap& b, int left, int top) {
  std::string rows;
  for (int y = 0; y < b.height(); ++y) {
    for (int x = 0; x < b.width(); ++x) {
      const Rgb p = b.pixel(x, y);
      rows += p == kBackground ? '.' : p == At(left + x, top + y) ? '#' : '?';
    }
    rows += '\n';
  }
  return rows;
}

TEST(WindowPicture, ShapedWindowCutByTheScreenEdge_KeepsItsShapeInPlace) {
  Fixture f;
  ScriptedDesktop::Window w;
  w.rect = Rect{-4, 10, 4, 12};  // 8 x 2, half of it left of the screen
  w.shape = std::vector<Rect>{{2, 0, 6, 1}, {0, 1, 8, 2}};
  const WindowId id = f.desktop.addWindow(w);
  Bitmap picture;
  std::string why;
  ASSERT_TRUE(GrabWindowPicture(f.desktop, id, {false, false, kBackground}, picture, why)) << why;
  // Only the part on the screen (x 0..3); the shape's columns 4..7 land there.
  EXPECT_EQ(Mask(picture, 0, 10), "##..\n####\n");
}

TEST(WindowPicture, ClientArea_TakesTheShapeRelativeToTheFrame) {
  Fixture f;
  ScriptedDesktop::Window w;
  w.rect = Rect{10, 10, 20, 16};
  w.client = Rect{12, 13, 18, 15};                           // 6 x 2 inside the frame
  w.shape = std::vector<Rect>{{0, 0, 10, 3}, {2, 3, 5, 5}};  // the client's left 3 columns
  const WindowId id = f.desktop.addWindow(w);
  Bitmap picture;
  std::string why;
  ASSERT_TRUE(GrabWindowPicture(f.desktop, id, {true, false, kBackground}, picture, why)) << why;
  EXPECT_EQ(Mask(picture, 12, 13), "###...\n###...\n");
  ASSERT_TRUE(GrabWindowPicture(f.desktop, id, {false, false, kBackground}, picture, why)) << why;
  EXPECT_EQ(Mask(picture, 10, 10),
            "##########\n##########\n##########\n..###.....\n..###.....\n..........\n");
}

TEST(WindowPicture, OwnPixels_ComeFromTheWindowNotTheScreen) {
  Fixture f;
  ScriptedDesktop::Window w;
  w.rect = Rect{30, 20, 34, 22};
  w.client = Rect{31, 21, 33, 22};
  Bitmap own;
  ASSERT_TRUE(own.allocate(4, 2, PixelFormat::Bgrx32));
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 4; ++x)
      own.setPixel(x, y, MakeRgb(200, static_cast<std::uint8_t>(x), static_cast<std::uint8_t>(y)));
  w.ownPixels = own;
  const WindowId id = f.desktop.addWindow(w);
  Bitmap picture;
  std::string why;
  ASSERT_TRUE(GrabWindowPicture(f.desktop, id, {false, true, kBackground}, picture, why)) << why;
  EXPECT_EQ(picture.pixel(3, 1), MakeRgb(200, 3, 1));
  ASSERT_TRUE(GrabWindowPicture(f.desktop, id, {true, true, kBackground}, picture, why)) << why;
  ASSERT_EQ(picture.width(), 2);
  EXPECT_EQ(picture.pixel(0, 0), MakeRgb(200, 1, 1));
}

TEST(WindowPicture, MinimisedHiddenOrGoneWindows_GiveNoPictureButTheirReason) {
  Fixture f;
  ScriptedDesktop::Window minimised;
  minimised.rect = Rect{0, 0, 10, 10};
  minimised.iconic = true;
  ScriptedDesktop::Window hidden = minimised;
  hidden.iconic = false;
  hidden.visible = false;
  ScriptedDesktop::Window offScreen;
  offScreen.rect = Rect{200, 0, 210, 10};
  const struct {
    WindowId id;
    bool own;
    const char* reason;
  } cases[] = {
      {f.desktop.addWindow(minimised), false, "minimised"},
      {f.desktop.addWindow(minimised), true, "minimised"},
      {f.desktop.addWindow(hidden), false, "not shown"},
      {f.desktop.addWindow(offScreen), false, "outside the screen"},
      {0x999, false, "does not exist"},
  };
  for (const auto& c : cases) {
    Bitmap picture;
    std::string why;
    EXPECT_FALSE(GrabWindowPicture(f.desktop, c.id, {false, c.own, kBackground}, picture, why));
    EXPECT_NE(why.find(c.reason), std::string::npos) << why;
    EXPECT_TRUE(picture.empty());
  }
}

}  // namespace
}  // namespace lumivore
