// Windows virtual-key codes (the language of the key sequences in the
// settings) and the X keysyms of the same keys on a PC keyboard.
#pragma once

#include <xcb/xcb.h>

#include <cstdint>
#include <vector>

namespace lumivore {

// The keysyms a virtual-key code stands for, empty for codes that name no key
// of a PC keyboard (mouse buttons, unassigned and vendor codes). The first one
// is typed; all of them count when asking whether the key is down. Letters and
// digits give the unshifted keysym of their key, the punctuation codes the
// keys of the US layout.
std::vector<std::uint32_t> KeysymsForVk(int vk);

// The keycodes of the current keyboard map that carry one of the keysyms of a
// virtual-key code, those of the first keysym first.
std::vector<xcb_keycode_t> KeycodesForVk(xcb_connection_t* c, int vk);

}  // namespace lumivore
