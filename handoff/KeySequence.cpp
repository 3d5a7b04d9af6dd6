#include "handoff/KeySequence.h"

#include <QChar>
#include <algorithm>
#include <string>
#include <vector>

#include "util/Userfunc.h"

namespace lumivore {

namespace {

struct Keyword {
  std::u16string_view name;
  int vk;
};
constexpr Keyword kKeywords[] = {
    {u"ALT", 0x12},  {u"CTRL", 0x11}, {u"SHIFT", 0x10}, {u"F1", 0x70},    {u"F2", 0x71},
    {u"F3", 0x72},   {u"F4", 0x73},   {u"F5", 0x74},    {u"F6", 0x75},    {u"F7", 0x76},
    {u"F8", 0x77},   {u"F9", 0x78},   {u"F10", 0x79},   {u"F11", 0x7A},   {u"F12", 0x7B},
    {u"DEL", 0x2E},  {u"INS", 0x2D},  {u"BKSP", 0x08},  {u"PGUP", 0x21},  {u"PGDN", 0x22},
    {u"HOME", 0x24}, {u"END", 0x23},  {u"LEFT", 0x25},  {u"UP", 0x26},    {u"RIGHT", 0x27},
    {u"DOWN", 0x28}, {u"ESC", 0x1B},  {u"ENTER", 0x0D}, {u"SPACE", 0x20}, {u"TAB", 0x09},
    {u".", 0xBE},
};

// "0X" and hexadecimal digits only; -1 for anything else or a value beyond
// the key codes.
int HexCode(std::u16string_view rest) {
  if (rest.size() < 3 || rest[0] != u'0' || rest[1] != u'X') return -1;
  int value = 0;
  for (char16_t c : rest.substr(2)) {
    int digit = -1;
    if (c >= u'0' && c <= u'9') digit = c - u'0';
    if (c >= u'A' && c <= u'F') digit = c - u'A' + 10;
    if (c >= u'a' && c <= u'f') digit = c - u'a' + 10;
    if (digit < 0) return -1;
    value = std::min(value * 16 + digit, 0x10000);  // stays out of range once past it
  }
  return value;
}

}  // namespace

KeyToken ReadKeyToken(std::u16string_view token) {
  while (!token.empty() && token.front() <= u' ') token.remove_prefix(1);
  while (!token.empty() && token.back() <= u' ') token.remove_suffix(1);
  std::u16string text(token);
  for (char16_t& c : text) c = QChar(c).toUpper().unicode();
  KeyToken result;
  std::u16string_view rest = text;
  if (!rest.empty() && rest.front() == u'/') {
    result.release = true;
    rest.remove_prefix(1);
  }
  if (rest.empty()) return result;  // Empty
  result.kind = KeyToken::NoEvent;
  int vk = 0;
  const auto keyword = std::find_if(std::begin(kKeywords), std::end(kKeywords),
                                    [rest](const Keyword& k) { return k.name == rest; });
  if (keyword != std::end(kKeywords)) {
    vk = keyword->vk;
  } else if (rest.starts_with(u"0X")) {
    const int code = HexCode(rest);
    vk = code >= 1 && code <= 0xFE ? code : 0;
  } else {
    vk = rest.front() & 0xFF;
  }
  if (vk) {
    result.kind = KeyToken::Key;
    result.vk = vk;
  }
  return result;
}

bool SendKeys(Platform& platform, std::u16string_view sequence, std::uint32_t pauseMs) {
  std::vector<int> held;  // in the order they went down
  std::u16string_view rest = sequence;
  while (!rest.empty()) {
    platform.sleep(static_cast<int>(std::min<std::uint32_t>(pauseMs, 0x7FFFFFFF)));
    const std::u16string token = StrBefore(rest, u",");
    if (token.size() < rest.size())
      rest.remove_prefix(token.size() + 1);
    else
      rest = {};
    const KeyToken key = ReadKeyToken(token);
    if (key.kind == KeyToken::Empty) {
      for (auto it = held.rbegin(); it != held.rend(); ++it) platform.sendKey(*it, true);
      return false;
    }
    if (key.kind == KeyToken::NoEvent) continue;
    platform.sendKey(key.vk, key.release);
    const auto at = std::find(held.begin(), held.end(), key.vk);
    if (key.release && at != held.end()) held.erase(at);
    if (!key.release && at == held.end()) held.push_back(key.vk);
  }
  return true;
}

}  // namespace lumivore
