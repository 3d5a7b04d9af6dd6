// The key-sequence grammar, the key sender and the window search, on the
// scripted desktop; the UTF-8 decoding the window search shares with the
// command line, against Qt's.
#include <gtest/gtest.h>

#include <QString>
#include <random>
#include <string>

#include "app/ScriptedDesktop.h"
#include "handoff/HandOff.h"
#include "handoff/KeySequence.h"
#include "handoff/WindowSearch.h"
#include "util/Utf8.h"

namespace lumivore {
namespace {

using K = ScriptedDesktop::KeyEvent;

TEST(KeyToken, ReadsKeywordsCodesAndFirstCharacters) {
  struct Case {
    std::u16string token;
    KeyToken::Kind kind;
    int vk;
    bool release;
  };
  const Case cases[] = {
      {u"CTRL", KeyToken::Key, 0x11, false},
      {u"  ctrl ", KeyToken::Key, 0x11, false},
      {u"\t/Ctrl\r\n", KeyToken::Key, 0x11, true},
      {u"alt", KeyToken::Key, 0x12, false},
      {u"Shift", KeyToken::Key, 0x10, false},
      {u"f1", KeyToken::Key, 0x70, false},
      {u"F12", KeyToken::Key, 0x7B, false},
      {u"F13", KeyToken::Key, 'F', false},  // no keyword: its first character
      {u"F01", KeyToken::Key, 'F', false},
      {u"DEL", KeyToken::Key, 0x2E, false},
      {u"ins", KeyToken::Key, 0x2D, false},
      {u"BKSP", KeyToken::Key, 0x08, false},
      {u"PGUP", KeyToken::Key, 0x21, false},
      {u"PGDN", KeyToken::Key, 0x22, false},
      {u"HOME", KeyToken::Key, 0x24, false},
      {u"END", KeyToken::Key, 0x23, false},
      {u"LEFT", KeyToken::Key, 0x25, false},
      {u"UP", KeyToken::Key, 0x26, false},
      {u"RIGHT", KeyToken::Key, 0x27, false},
      {u"DOWN", KeyToken::Key, 0x28, false},
      {u"ESC", KeyToken::Key, 0x1B, false},
      {u"ENTER", KeyToken::Key, 0x0D, false},
      {u"SPACE", KeyToken::Key, 0x20, false},
      {u"TAB", KeyToken::Key, 0x09, false},
      {u".", KeyToken::Key, 0xBE, false},
      {u"/.", KeyToken::Key, 0xBE, true},
      {u"v", KeyToken::Key, 'V', false},
      {u"/v", KeyToken::Key, 'V', true},
      {u"7", KeyToken::Key, '7', false},
      {u"CTRL+V", KeyToken::Key, 'C', false},  // no combinations
      {u"-", KeyToken::Key, 0x2D, false},      // the hyphen's code is Insert's
      {u"/ V", KeyToken::Key, 0x20, true},     // the blank after the marker counts
      {u"0x56", KeyToken::Key, 0x56, false},
      {u"0X56", KeyToken::Key, 0x56, false},
      {u"/0x1b", KeyToken::Key, 0x1B, true},
      {u"0xfe", KeyToken::Key, 0xFE, false},
      {u"0x01", KeyToken::Key, 0x01, false},
      {u"0xFF", KeyToken::NoEvent, 0, false},
      {u"0x0", KeyToken::NoEvent, 0, false},
      {u"0x", KeyToken::NoEvent, 0, false},
      {u"0x5G", KeyToken::NoEvent, 0, false},
      {u"0x 56", KeyToken::NoEvent, 0, false},
      {u"0x00000000000000000000041", KeyToken::Key, 0x41, false},
      {u"0xFFFFFFFFFFFFFFFFFFFF41", KeyToken::NoEvent, 0, false},
      {u"ä", KeyToken::Key, 0xC4, false},   // upper-cased first: U+00C4
      {u"画", KeyToken::Key, 0x3B, false},  // U+753B, low eight bits
      {u"Ā", KeyToken::NoEvent, 0, false},  // U+0100: code 0
      {u"", KeyToken::Empty, 0, false},
      {u"   ", KeyToken::Empty, 0, false},
      {u"/", KeyToken::Empty, 0, true},
      {u" / ", KeyToken::Empty, 0, true},
  };
  for (const Case& c : cases) {
    const KeyToken t = ReadKeyToken(c.token);
    const std::string shown(c.token.begin(), c.token.end());
    EXPECT_EQ(t.kind, c.kind) << shown;
    EXPECT_EQ(t.vk, c.vk) << shown;
    EXPECT_EQ(t.release, c.release) << shown;
  }
}

TEST(SendKeys, SendsOneEventPerTokenAfterAPauseEach) {
  struct Case {
    std::u16string sequence;
    std::vector<K> keys;
    int pauses;
    bool completed;
  };
  const Case cases[] = {
      {u"", {}, 0, true},
      {u"CTRL,V,/V,/CTRL", {{0x11, false}, {'V', false}, {'V', true}, {0x11, true}}, 4, true},
      {u"ctrl , v , /v , /ctrl", {{0x11, false}, {'V', false}, {'V', true}, {0x11, true}}, 4, true},
      {u"A,", {{'A', false}}, 1, true},
      {u"0xFF,B,0x0", {{'B', false}}, 3, true},
      {u",A", {}, 1, false},
      {u"A,,B", {{'A', false}, {'A', true}}, 2, false},
      {u"A,/A, ,B", {{'A', false}, {'A', true}}, 3, false},
      {u"SHIFT,CTRL,/SHIFT,X,/",
       {{0x10, false}, {0x11, false}, {0x10, true}, {'X', false}, {'X', true}, {0x11, true}},
       5,
       false},
  };
  for (const Case& c : cases) {
    ScriptedDesktop desktop;
    const std::string shown(c.sequence.begin(), c.sequence.end());
    EXPECT_EQ(SendKeys(desktop, c.sequence, 50), c.completed) << shown;
    EXPECT_EQ(desktop.keysSent, c.keys) << shown;
    EXPECT_EQ(desktop.sleeps, std::vector<int>(c.pauses, 50)) << shown;
  }
}

TEST(SendKeys, LongSequencesAreSentWhole) {
  std::u16string sequence;
  for (int i = 0; i < 10000; ++i) sequence += i % 2 ? u"/x," : u"x,";
  ScriptedDesktop desktop;
  EXPECT_TRUE(SendKeys(desktop, sequence, 0));
  ASSERT_EQ(desktop.keysSent.size(), 10000u);
  EXPECT_EQ(desktop.keysSent.back(), (K{'X', true}));
  EXPECT_EQ(desktop.sleeps.size(), 10000u);
}

TEST(FindActWnd, MatchesClassPrefixAndSuffixByTheirRules) {
  struct Case {
    const char* cls;
    const char* title;
    const char* titleR;
    const char* windowTitle;
    bool matches;
  };
  const Case cases[] = {
      {"Editor", "", "", "anything", true},
      {"editor", "", "", "anything", false},  // letter case counts
      {"Edit", "", "", "anything", false},    // the whole class name
      {"", "note", "", "notes", true},
      {"", "note", "", "my notes", false},
      {"", "x", "x", "x", true},
      {"", "", " - Editor", "a - Editor", true},
      {"", "", " - Editor", "a - Editor - b - Editor", false},  // first occurrence not at the end
      {"", "", "ab", "b", false},
      {"", "", "a", "", false},
      {"", "", "Editor", "Editor", true},
      {"Editor", "a", "z", "a...z", true},
      {"Editor", "a", "z", "a...y", false},
      {"Other", "a", "z", "a...z", false},
  };
  for (const Case& c : cases) {
    ScriptedDesktop desktop;
    const WindowId w = desktop.addWindow("Editor", c.windowTitle, Rect{0, 0, 10, 10});
    EXPECT_EQ(FindActWnd(desktop, c.cls, c.title, c.titleR), c.matches ? w : 0)
        << c.cls << "|" << c.title << "|" << c.titleR << " on " << c.windowTitle;
  }
}

TEST(FindActWnd, WalksFromTheTopSkippingHiddenWindows_OnlyTheFirst1023TitleCharacters) {
  ScriptedDesktop desktop;
  EXPECT_EQ(FindActWnd(desktop, "", "", ""), 0u);
  const WindowId bottom = desktop.addWindow("Editor", "b", Rect{0, 0, 10, 10});
  const WindowId middle = desktop.addWindow("Editor", "m", Rect{0, 0, 10, 10});
  ScriptedDesktop::Window hidden;
  hidden.cls = "Editor";
  hidden.visible = false;
  const WindowId top = desktop.addWindow(hidden);
  EXPECT_EQ(FindActWnd(desktop, "Editor", "", ""), middle);
  desktop.window(top)->visible = true;
  EXPECT_EQ(FindActWnd(desktop, "Editor", "", ""), top);
  EXPECT_EQ(FindActWnd(desktop, "", "b", ""), bottom);

  const std::string longTitle = std::string(1022, 'a') + "XY";
  const WindowId longOne = desktop.addWindow("Long", longTitle, Rect{0, 0, 10, 10});
  EXPECT_EQ(FindActWnd(desktop, "", "", "aX"), longOne);
  EXPECT_EQ(FindActWnd(desktop, "", "", "XY"), 0u);
  const std::string longClass(256, 'c');
  desktop.addWindow(longClass, "t", Rect{0, 0, 10, 10});
  EXPECT_EQ(FindActWnd(desktop, QString::fromStdString(longClass), "", ""), 0u);
}

TEST(FindWindowByClassAndTitle, TakesTheCommandLinesUtf8AsTheCopyButtonTakesQtStrings) {
  ScriptedDesktop desktop;
  const WindowId w = desktop.addWindow("Ärger", "日本語のタイトル 😀", Rect{0, 0, 10, 10});
  EXPECT_EQ(FindWindowByClassAndTitle(desktop, Utf16FromUtf8("Ärger"), Utf16FromUtf8("日本"),
                                      Utf16FromUtf8(" 😀")),
            w);
  EXPECT_EQ(FindActWnd(desktop, "Ärger", "日本", " 😀"), w);
  // A title of 1023 UTF-16 units: the emoji takes two of them.
  const std::string title = std::string(1021, 'a') + "😀";
  const WindowId longOne = desktop.addWindow("Long", title, Rect{0, 0, 10, 10});
  EXPECT_EQ(FindWindowByClassAndTitle(desktop, u"", u"", u"a😀"), longOne);
  EXPECT_EQ(FindWindowByClassAndTitle(desktop, u"", u"", Utf16FromUtf8("😀x")), 0u);
}

TEST(Utf16FromUtf8, DecodesAsQtDoes_EveryBadByteOneReplacementCharacter) {
  // Well-formed and ill-formed pieces: stray continuation bytes, cut
  // sequences, overlong forms, surrogates, code points past U+10FFFF.
  const unsigned char pieces[] = {0x41, 0x7F, 0x80, 0xBF, 0xC0, 0xC1, 0xC2, 0xDF, 0xE0, 0xE1, 0xED,
                                  0xEF, 0xF0, 0xF4, 0xF5, 0xFF, 0xA0, 0x9F, 0x90, 0x8F, 0xBD};
  std::mt19937 random(23);
  for (int i = 0; i < 200000; ++i) {
    std::string text;
    for (int n = static_cast<int>(random() % 7); n > 0; --n)
      text += static_cast<char>(pieces[random() % sizeof pieces]);
    const std::u16string ours = Utf16FromUtf8(text);
    ASSERT_EQ(ours, QString::fromUtf8(text.data(), qsizetype(text.size())).toStdU16String());
    ASSERT_EQ(ValidUtf8(text), QString::fromStdU16String(ours).toStdString());
  }
  EXPECT_EQ(Utf16FromUtf8("a\xF0\x9F\x98\x80\xEF\xBF\xBD"), u"a😀\uFFFD");
  EXPECT_EQ(ValidUtf8("\xE6\x97\xA5\xE6\x97"), "\xE6\x97\xA5\xEF\xBF\xBD\xEF\xBF\xBD");
}

}  // namespace
}  // namespace lumivore
