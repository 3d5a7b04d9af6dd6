// What the hand-off needs from the X11 desktop: the virtual-key table, key
// events through XTEST (keys missing from the map included), programs started
// without a shell and awaited until they show a window, and the focus.
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>
#include <xcb/xcb.h>
#include <xcb/xcb_keysyms.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>

#include "app/x11/X11Keys.h"
#include "app/x11/X11Platform.h"
#include "tests/x11/XSession.h"

// From Xlib; its header's macros (None, Bool, ...) would clash with the test
// framework's names.
extern "C" unsigned long XStringToKeysym(const char* name);

namespace lumivore {
namespace {

using namespace std::chrono_literals;
using testing::HaveProgram;
using testing::Process;
using testing::WaitFor;
using testing::XSession;
namespace fs = std::filesystem;

// Every virtual-key code with a key on a PC keyboard, by the X name of the
// keysym it types; all other codes name no key.
std::map<int, std::string> ExpectedKeys() {
  std::map<int, std::string> keys = {
      {0x03, "Break"},
      {0x08, "BackSpace"},
      {0x09, "Tab"},
      {0x0C, "Clear"},
      {0x0D, "Return"},
      {0x10, "Shift_L"},
      {0x11, "Control_L"},
      {0x12, "Alt_L"},
      {0x13, "Pause"},
      {0x14, "Caps_Lock"},
      {0x15, "Hiragana_Katakana"},
      {0x19, "Kanji"},
      {0x1B, "Escape"},
      {0x1C, "Henkan"},
      {0x1D, "Muhenkan"},
      {0x1F, "Mode_switch"},
      {0x20, "space"},
      {0x21, "Prior"},
      {0x22, "Next"},
      {0x23, "End"},
      {0x24, "Home"},
      {0x25, "Left"},
      {0x26, "Up"},
      {0x27, "Right"},
      {0x28, "Down"},
      {0x29, "Select"},
      {0x2A, "Print"},
      {0x2B, "Execute"},
      {0x2C, "Print"},
      {0x2D, "Insert"},
      {0x2E, "Delete"},
      {0x2F, "Help"},
      {0x5B, "Super_L"},
      {0x5C, "Super_R"},
      {0x5D, "Menu"},
      {0x5F, "XF86Sleep"},
      {0x6A, "KP_Multiply"},
      {0x6B, "KP_Add"},
      {0x6C, "KP_Separator"},
      {0x6D, "KP_Subtract"},
      {0x6E, "KP_Decimal"},
      {0x6F, "KP_Divide"},
      {0x90, "Num_Lock"},
      {0x91, "Scroll_Lock"},
      {0x92, "KP_Equal"},
      {0xA0, "Shift_L"},
      {0xA1, "Shift_R"},
      {0xA2, "Control_L"},
      {0xA3, "Control_R"},
      {0xA4, "Alt_L"},
      {0xA5, "Alt_R"},
      {0xA6, "XF86Back"},
      {0xA7, "XF86Forward"},
      {0xA8, "XF86Refresh"},
      {0xA9, "XF86Stop"},
      {0xAA, "XF86Search"},
      {0xAB, "XF86Favorites"},
      {0xAC, "XF86HomePage"},
      {0xAD, "XF86AudioMute"},
      {0xAE, "XF86AudioLowerVolume"},
      {0xAF, "XF86AudioRaiseVolume"},
      {0xB0, "XF86AudioNext"},
      {0xB1, "XF86AudioPrev"},
      {0xB2, "XF86AudioStop"},
      {0xB3, "XF86AudioPlay"},
      {0xB4, "XF86Mail"},
      {0xB5, "XF86AudioMedia"},
      {0xB6, "XF86MyComputer"},
      {0xB7, "XF86Calculator"},
      {0xBA, "semicolon"},
      {0xBB, "equal"},
      {0xBC, "comma"},
      {0xBD, "minus"},
      {0xBE, "period"},
      {0xBF, "slash"},
      {0xC0, "grave"},
      {0xDB, "bracketleft"},
      {0xDC, "backslash"},
      {0xDD, "bracketright"},
      {0xDE, "apostrophe"},
      {0xE2, "less"},
      {0xF0, "Eisu_toggle"},
      {0xF1, "Katakana"},
      {0xF2, "Hiragana"},
      {0xF3, "Zenkaku_Hankaku"},
      {0xF4, "Zenkaku_Hankaku"},
      {0xF5, "Romaji"},
      {0xFA, "XF86AudioPlay"},
      {0xFE, "Clear"},
  };
  for (int c = 'A'; c <= 'Z'; ++c) keys[c] = std::string(1, char(c - 'A' + 'a'));
  for (int c = '0'; c <= '9'; ++c) keys[c] = std::string(1, char(c));
  for (int i = 0; i <= 9; ++i) keys[0x60 + i] = "KP_" + std::to_string(i);
  for (int i = 1; i <= 24; ++i) keys[0x6F + i] = "F" + std::to_string(i);
  return keys;
}

TEST(VirtualKeys, EveryCodeTypesTheKeyOfItsName) {
  const std::map<int, std::string> expected = ExpectedKeys();
  for (int vk = 0x01; vk <= 0xFE; ++vk) {
    const std::vector<std::uint32_t> syms = KeysymsForVk(vk);
    const auto it = expected.find(vk);
    if (it == expected.end()) {
      EXPECT_TRUE(syms.empty()) << std::hex << vk;
      continue;
    }
    ASSERT_FALSE(syms.empty()) << std::hex << vk;
    EXPECT_EQ(syms.front(), XStringToKeysym(it->second.c_str()))
        << std::hex << vk << " " << it->second;
  }
  // Both Shift keys count as Shift being down.
  EXPECT_EQ(KeysymsForVk(0x10),
            (std::vector<std::uint32_t>{std::uint32_t(XStringToKeysym("Shift_L")),
                                        std::uint32_t(XStringToKeysym("Shift_R"))}));
}

// One throwaway desktop per suite: with openbox, or (Bare) without a window
// manager, whose focus rules would otherwise meet the key tests' own window.
template <bool kWindowManager>
class HandOffDesktopOf : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    for (const char* program : {"Xvfb", "openbox", "xterm", "xeyes"}) {
      if (!HaveProgram(program)) {
        missing_ = program;
        return;
      }
    }
    session_ = new XSession(kWindowManager);
    // A client mapped in the first moments after openbox came up is now and
    // then never managed; once one client is, later ones are.
    if (kWindowManager && session_->ok()) {
      auto x = X11Platform::Connect();
      for (int attempt = 0; x && attempt < 5; ++attempt) {
        warmUp_ = session_->start({"xterm", "-class", "LumivoreWarmUp", "-geometry", "10x2+0+0"});
        if (WaitFor([&] { return x->findWindowByClass("LumivoreWarmUp") != 0; }, 3s)) break;
      }
    }
  }
  static void TearDownTestSuite() {
    warmUp_.stop();
    delete session_;
    session_ = nullptr;
  }
  void SetUp() override {
    if (!session_) GTEST_SKIP() << missing_ << " is not installed";
    ASSERT_TRUE(session_->ok());
    x_ = X11Platform::Connect();
    ASSERT_TRUE(x_);
  }

  // A window of the test's own connection, focused, that records key presses.
  struct KeyWindow {
    xcb_connection_t* c = nullptr;
    xcb_window_t w = 0;
    ~KeyWindow() {
      if (c) xcb_disconnect(c);
    }
  };
  static void OpenKeyWindow(KeyWindow& k) {
    k.c = xcb_connect(nullptr, nullptr);
    const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(k.c)).data;
    k.w = xcb_generate_id(k.c);
    const std::uint32_t values[] = {1, XCB_EVENT_MASK_KEY_PRESS | XCB_EVENT_MASK_EXPOSURE};
    xcb_create_window(k.c, XCB_COPY_FROM_PARENT, k.w, screen->root, 10, 10, 200, 100, 0,
                      XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual,
                      XCB_CW_OVERRIDE_REDIRECT | XCB_CW_EVENT_MASK, values);
    xcb_map_window(k.c, k.w);
    xcb_flush(k.c);
  }

  // Zombie children of this process.
  static int Zombies() {
    int count = 0;
    for (const auto& entry : fs::directory_iterator("/proc")) {
      std::ifstream stat(entry.path() / "stat");
      std::string line;
      if (!std::getline(stat, line)) continue;
      const auto close = line.rfind(')');
      if (close == std::string::npos) continue;
      char state = 0;
      int parent = 0;
      if (std::sscanf(line.c_str() + close + 1, " %c %d", &state, &parent) == 2 &&
          parent == getpid() && state == 'Z')
        ++count;
    }
    return count;
  }

  static XSession* session_;
  static std::string missing_;
  static Process warmUp_;
  std::unique_ptr<X11Platform> x_;
};

template <bool kWindowManager>
XSession* HandOffDesktopOf<kWindowManager>::session_ = nullptr;
template <bool kWindowManager>
std::string HandOffDesktopOf<kWindowManager>::missing_;
template <bool kWindowManager>
Process HandOffDesktopOf<kWindowManager>::warmUp_;
using HandOffDesktop = HandOffDesktopOf<true>;
using BareHandOffDesktop = HandOffDesktopOf<false>;

TEST_F(BareHandOffDesktop, SendKey_EveryCodeArrivesAsItsKeysym_AndTheMapIsGivenBack) {
  KeyWindow k;
  OpenKeyWindow(k);
  auto freeKeycodes = [&] {
    const xcb_setup_t* setup = xcb_get_setup(k.c);
    const int count = setup->max_keycode - setup->min_keycode + 1;
    auto* map = xcb_get_keyboard_mapping_reply(
        k.c, xcb_get_keyboard_mapping(k.c, setup->min_keycode, count), nullptr);
    int free = 0;
    const xcb_keysym_t* syms = xcb_get_keyboard_mapping_keysyms(map);
    for (int i = 0; i < count; ++i) {
      bool none = true;
      for (int j = 0; j < map->keysyms_per_keycode; ++j)
        none = none && syms[i * map->keysyms_per_keycode + j] == 0;
      free += none;
    }
    std::free(map);
    return free;
  };
  const int freeBefore = freeKeycodes();
  ASSERT_TRUE(WaitFor([&] {
    xcb_set_input_focus(k.c, XCB_INPUT_FOCUS_POINTER_ROOT, k.w, XCB_CURRENT_TIME);
    auto* focus = xcb_get_input_focus_reply(k.c, xcb_get_input_focus(k.c), nullptr);
    const bool ours = focus && focus->focus == k.w;
    std::free(focus);
    return ours;
  }));
  int missingFromMap = 0;  // typed through a spare keycode
  for (const auto& [vk, name] : ExpectedKeys()) {
    if (KeycodesForVk(k.c, vk).empty()) ++missingFromMap;
    ASSERT_TRUE(x_->sendKey(vk, false)) << std::hex << vk;
    ASSERT_TRUE(x_->sendKey(vk, true)) << std::hex << vk;
    xcb_keycode_t code = 0;
    ASSERT_TRUE(WaitFor([&] {
      while (xcb_generic_event_t* e = xcb_poll_for_event(k.c)) {
        if ((e->response_type & 0x7F) == XCB_KEY_PRESS)
          code = reinterpret_cast<xcb_key_press_event_t*>(e)->detail;
        std::free(e);
      }
      return code != 0;
    })) << std::hex
        << vk << " " << name;
    // The keycode carries the keysym now, in some column; a spare keycode
    // keeps it until the next key event.
    xcb_key_symbols_t* symbols = xcb_key_symbols_alloc(k.c);
    bool found = false;
    for (int col = 0; col < 8 && !found; ++col)
      found = xcb_key_symbols_get_keysym(symbols, code, col) == XStringToKeysym(name.c_str());
    xcb_key_symbols_free(symbols);
    EXPECT_TRUE(found) << std::hex << vk << " " << name << " came as keycode " << int(code);
  }
  // Lock keys back as they were.
  for (int vk : {0x14, 0x90, 0x91}) x_->sendKey(vk, false), x_->sendKey(vk, true);
  x_.reset();
  EXPECT_TRUE(WaitFor([&] { return freeKeycodes() == freeBefore; }));
  // Xvfb's map lacks F13..F24 and the Japanese input keys, among others.
  EXPECT_GT(missingFromMap, 10);
}

TEST_F(HandOffDesktop, StartProcess_NeverThroughAShell_WaitsForWindowOrExit_LeavesNoZombie) {
  const fs::path dir =
      fs::path(::testing::TempDir()) / ("lumivore-start-" + std::to_string(getpid()));
  fs::create_directories(dir);
  using Clock = std::chrono::steady_clock;

  EXPECT_FALSE(x_->startProcess({"lumivore-no-such-program"}, 5000));
  EXPECT_FALSE(x_->startProcess({}, 5000));

  // Arguments reach the program as they are: nothing expands or splits them.
  const std::string odd = (dir / "a b;touch x\n$(touch y)").string();
  auto start = Clock::now();
  EXPECT_TRUE(x_->startProcess({"touch", odd}, 10000));
  EXPECT_LT(Clock::now() - start, 5s);  // it ended at once
  EXPECT_TRUE(fs::exists(odd));
  EXPECT_FALSE(fs::exists(dir / "x"));
  EXPECT_FALSE(fs::exists("y"));

  // Only standard input, output and error are inherited (the shell may open
  // one of its own).
  const int opened = ::open("/dev/null", O_RDONLY);
  const int leaked = ::fcntl(opened, F_DUPFD, 40);  // no close-on-exec
  ::close(opened);
  ASSERT_GE(leaked, 40);
  const fs::path fds = dir / "fds";
  EXPECT_TRUE(x_->startProcess({"sh", "-c", "ls /proc/$$/fd > '" + fds.string() + "'"}, 10000));
  ::close(leaked);
  std::ifstream listing(fds);
  std::set<std::string> open;
  for (std::string fd; listing >> fd;) open.insert(fd);
  EXPECT_TRUE(open.count("0") && open.count("1") && open.count("2"));
  EXPECT_FALSE(open.count(std::to_string(leaked)));
  EXPECT_LE(open.size(), 4u);

  // A program that never shows a window: the wait ends at its time-out.
  start = Clock::now();
  EXPECT_TRUE(x_->startProcess({"sleep", "1"}, 300));
  const auto waited = Clock::now() - start;
  EXPECT_GE(waited, 300ms);
  EXPECT_LT(waited, 900ms);

  // A program that shows a window: the wait ends when it is shown.
  start = Clock::now();
  EXPECT_TRUE(x_->startProcess({"xterm", "-class", "LumivoreStarted", "-e", "sleep", "2"}, 20000));
  EXPECT_LT(Clock::now() - start, 15s);
  const WindowId shown = x_->findWindowByClass("LumivoreStarted");
  EXPECT_NE(shown, 0u);
  EXPECT_TRUE(x_->isWindowVisible(shown));

  // Every child, ended early or late, is reaped.
  EXPECT_TRUE(WaitFor([] { return Zombies() == 0; }, 10s));
  EXPECT_TRUE(WaitFor([&] { return x_->findWindowByClass("LumivoreStarted") == 0; }, 10s));
  EXPECT_TRUE(WaitFor([] { return Zombies() == 0; }, 5s));
  fs::remove_all(dir);
}

TEST_F(HandOffDesktop, WaitForFocus_EndsWhenTheActivatedWindowHasIt_OrAtTheTimeOut) {
  Process term = session_->start({"xterm", "-class", "LumivoreFocus", "-geometry", "40x5+50+50"});
  WindowId w = 0;
  ASSERT_TRUE(WaitFor(
      [&] { return (w = x_->findWindowByClass("LumivoreFocus")) != 0 && x_->isWindowVisible(w); }));
  Process eyes = session_->start({"xeyes", "-geometry", "80x80+600+50"});
  WindowId e = 0;
  ASSERT_TRUE(
      WaitFor([&] { return (e = x_->findWindowByClass("XEyes")) != 0 && x_->isWindowVisible(e); }));
  for (int round = 0; round < 3; ++round) {
    x_->activateWindow(e);
    // xeyes never takes the focus: the wait gives up after its time-out.
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(x_->waitForFocus(e, 300));
    EXPECT_GE(std::chrono::steady_clock::now() - start, 300ms);
    x_->activateWindow(w);
    EXPECT_TRUE(x_->waitForFocus(w, 5000));
  }
}

}  // namespace
}  // namespace lumivore
