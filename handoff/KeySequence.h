// Key sequences: comma-separated tokens, each the press of one key or, after
// a "/", its release ("CTRL,V,/V,/CTRL" types Ctrl+V).
#pragma once

#include <cstdint>
#include <string_view>

#include "app/Platform.h"

namespace lumivore {

struct KeyToken {
  enum Kind {
    Empty,    // nothing left to read: the sequence stops with a range error
    NoEvent,  // read, but stands for no key (a bad code, a character whose code is 0)
    Key,
  };
  Kind kind = Empty;
  int vk = 0;  // virtual-key code 1..254 when kind is Key
  bool release = false;
};

// Reads one token: blanks and control characters trimmed at both ends,
// upper-cased; a leading "/" makes a release; then a keyword (ALT, CTRL,
// SHIFT, F1..F12, DEL, INS, BKSP, PGUP, PGDN, HOME, END, LEFT, UP, RIGHT,
// DOWN, ESC, ENTER, SPACE, TAB, "."), a code "0x01".."0xFE", or else the low
// eight bits of the first character.
KeyToken ReadKeyToken(std::u16string_view token);

// Types a key sequence: before every token a pause of `pauseMs`, then one
// event for it. An empty token stops the sequence and gives false; the keys
// this sequence pressed and did not release are released first, so nothing
// stays held down for the whole desktop.
bool SendKeys(Platform& platform, std::u16string_view sequence, std::uint32_t pauseMs);

}  // namespace lumivore
