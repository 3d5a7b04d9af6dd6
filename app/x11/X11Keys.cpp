#include "app/x11/X11Keys.h"

#include <X11/XF86keysym.h>
#include <X11/keysym.h>
#include <xcb/xcb_keysyms.h>
#include <xcb/xtest.h>

#include <algorithm>
#include <memory>

#include "app/x11/X11Platform.h"
#include "app/x11/XcbUtil.h"

namespace lumivore {

namespace {

struct KeySymbolsDeleter {
  void operator()(xcb_key_symbols_t* k) const { xcb_key_symbols_free(k); }
};
using KeySymbols = std::unique_ptr<xcb_key_symbols_t, KeySymbolsDeleter>;

}  // namespace

std::vector<std::uint32_t> KeysymsForVk(int vk) {
  if (vk >= 'A' && vk <= 'Z') return {std::uint32_t(XK_a + (vk - 'A'))};
  if (vk >= '0' && vk <= '9') return {std::uint32_t(XK_0 + (vk - '0'))};
  if (vk >= 0x60 && vk <= 0x69) return {std::uint32_t(XK_KP_0 + (vk - 0x60))};
  if (vk >= 0x70 && vk <= 0x87) return {std::uint32_t(XK_F1 + (vk - 0x70))};
  switch (vk) {
    case 0x03:
      return {XK_Break};  // Ctrl+Pause
    case 0x08:
      return {XK_BackSpace};
    case 0x09:
      return {XK_Tab};
    case 0x0C:
      return {XK_Clear};
    case 0x0D:
      return {XK_Return, XK_KP_Enter};
    case 0x10:
      return {XK_Shift_L, XK_Shift_R};
    case 0x11:
      return {XK_Control_L, XK_Control_R};
    case 0x12:
      return {XK_Alt_L, XK_Alt_R};
    case 0x13:
      return {XK_Pause};
    case 0x14:
      return {XK_Caps_Lock};
    case 0x15:
      return {XK_Hiragana_Katakana};  // kana / hangul mode
    case 0x19:
      return {XK_Kanji};
    case 0x1B:
      return {XK_Escape};
    case 0x1C:
      return {XK_Henkan};
    case 0x1D:
      return {XK_Muhenkan};
    case 0x1F:
      return {XK_Mode_switch};
    case 0x20:
      return {XK_space};
    case 0x21:
      return {XK_Prior};
    case 0x22:
      return {XK_Next};
    case 0x23:
      return {XK_End};
    case 0x24:
      return {XK_Home};
    case 0x25:
      return {XK_Left};
    case 0x26:
      return {XK_Up};
    case 0x27:
      return {XK_Right};
    case 0x28:
      return {XK_Down};
    case 0x29:
      return {XK_Select};
    case 0x2A:
      return {XK_Print};
    case 0x2B:
      return {XK_Execute};
    case 0x2C:
      return {XK_Print};
    case 0x2D:
      return {XK_Insert};
    case 0x2E:
      return {XK_Delete};
    case 0x2F:
      return {XK_Help};
    case 0x5B:
      return {XK_Super_L};
    case 0x5C:
      return {XK_Super_R};
    case 0x5D:
      return {XK_Menu};
    case 0x5F:
      return {XF86XK_Sleep};
    case 0x6A:
      return {XK_KP_Multiply};
    case 0x6B:
      return {XK_KP_Add};
    case 0x6C:
      return {XK_KP_Separator};
    case 0x6D:
      return {XK_KP_Subtract};
    case 0x6E:
      return {XK_KP_Decimal};
    case 0x6F:
      return {XK_KP_Divide};
    case 0x90:
      return {XK_Num_Lock};
    case 0x91:
      return {XK_Scroll_Lock};
    case 0x92:
      return {XK_KP_Equal};  // the numeric pad's "=" of Japanese keyboards
    case 0xA0:
      return {XK_Shift_L};
    case 0xA1:
      return {XK_Shift_R};
    case 0xA2:
      return {XK_Control_L};
    case 0xA3:
      return {XK_Control_R};
    case 0xA4:
      return {XK_Alt_L};
    case 0xA5:
      return {XK_Alt_R};
    // Browser, volume, media and launch keys.
    case 0xA6:
      return {XF86XK_Back};
    case 0xA7:
      return {XF86XK_Forward};
    case 0xA8:
      return {XF86XK_Refresh};
    case 0xA9:
      return {XF86XK_Stop};
    case 0xAA:
      return {XF86XK_Search};
    case 0xAB:
      return {XF86XK_Favorites};
    case 0xAC:
      return {XF86XK_HomePage};
    case 0xAD:
      return {XF86XK_AudioMute};
    case 0xAE:
      return {XF86XK_AudioLowerVolume};
    case 0xAF:
      return {XF86XK_AudioRaiseVolume};
    case 0xB0:
      return {XF86XK_AudioNext};
    case 0xB1:
      return {XF86XK_AudioPrev};
    case 0xB2:
      return {XF86XK_AudioStop};
    case 0xB3:
      return {XF86XK_AudioPlay};
    case 0xB4:
      return {XF86XK_Mail};
    case 0xB5:
      return {XF86XK_AudioMedia};
    case 0xB6:
      return {XF86XK_MyComputer};
    case 0xB7:
      return {XF86XK_Calculator};
    // Punctuation keys, as on the US layout.
    case 0xBA:
      return {XK_semicolon};
    case 0xBB:
      return {XK_equal};
    case 0xBC:
      return {XK_comma};
    case 0xBD:
      return {XK_minus};
    case 0xBE:
      return {XK_period};
    case 0xBF:
      return {XK_slash};
    case 0xC0:
      return {XK_grave};
    case 0xDB:
      return {XK_bracketleft};
    case 0xDC:
      return {XK_backslash};
    case 0xDD:
      return {XK_bracketright};
    case 0xDE:
      return {XK_apostrophe};
    case 0xE2:
      return {XK_less};  // the extra key beside the left Shift
    // Input-method keys of Japanese keyboards.
    case 0xF0:
      return {XK_Eisu_toggle};
    case 0xF1:
      return {XK_Katakana};
    case 0xF2:
      return {XK_Hiragana};
    case 0xF3:
    case 0xF4:
      return {XK_Zenkaku_Hankaku};
    case 0xF5:
      return {XK_Romaji};
    case 0xFA:
      return {XF86XK_AudioPlay};
    case 0xFE:
      return {XK_Clear};
    default:
      return {};
  }
}

}  // namespace lumivore

namespace lumivore {

std::vector<xcb_keycode_t> KeycodesForVk(xcb_connection_t* c, int vk) {
  std::vector<xcb_keycode_t> result;
  KeySymbols symbols(xcb_key_symbols_alloc(c));
  if (!symbols) return result;
  for (xcb_keysym_t sym : KeysymsForVk(vk)) {
    std::unique_ptr<xcb_keycode_t, FreeDeleter> codes(
        xcb_key_symbols_get_keycode(symbols.get(), sym));
    for (const xcb_keycode_t* k = codes.get(); k && *k != XCB_NO_SYMBOL; ++k) result.push_back(*k);
  }
  return result;
}

// A key whose keysym the keyboard map lacks (a Japanese input key on a US
// map, say) is typed through a keycode that carries no keysym at all: bound
// to the keysym for the event and given back afterwards. The binding outlives
// the event by the pause before the next one, so the window that gets the key
// has read the changed map before it is taken back.
bool X11Platform::sendKey(int vk, bool release) {
  releaseSpareKeycodes(false);
  const std::vector<std::uint32_t> syms = KeysymsForVk(vk);
  if (syms.empty()) return false;
  std::vector<xcb_keycode_t> codes = KeycodesForVk(conn_, vk);
  xcb_keycode_t code = codes.empty() ? 0 : codes.front();
  if (!code) {
    for (const SpareKeycode& spare : spareKeycodes_)
      if (spare.keysym == syms.front()) code = spare.keycode;
  }
  if (!code && !release) code = bindSpareKeycode(syms.front());
  if (!code) return false;
  xcb_test_fake_input(conn_, release ? XCB_KEY_RELEASE : XCB_KEY_PRESS, code, XCB_CURRENT_TIME,
                      XCB_WINDOW_NONE, 0, 0, 0);
  xcb_flush(conn_);
  return true;
}

xcb_keycode_t X11Platform::bindSpareKeycode(std::uint32_t keysym) {
  const xcb_setup_t* setup = xcb_get_setup(conn_);
  const int first = setup->min_keycode;
  const int count = setup->max_keycode - setup->min_keycode + 1;
  auto map = Fetch<xcb_get_keyboard_mapping_reply_t>(
      conn_, xcb_get_keyboard_mapping_reply,
      xcb_get_keyboard_mapping(conn_, setup->min_keycode, static_cast<std::uint8_t>(count)));
  if (!map || map->keysyms_per_keycode == 0) return 0;
  const int perCode = map->keysyms_per_keycode;
  const xcb_keysym_t* all = xcb_get_keyboard_mapping_keysyms(map.get());
  if (xcb_get_keyboard_mapping_keysyms_length(map.get()) < count * perCode) return 0;
  // From the top: the low keycodes are the ones keyboards really have.
  for (int i = count - 1; i >= 0; --i) {
    const xcb_keysym_t* row = all + i * perCode;
    if (std::any_of(row, row + perCode, [](xcb_keysym_t s) { return s != XCB_NO_SYMBOL; }))
      continue;
    const auto code = static_cast<xcb_keycode_t>(first + i);
    std::vector<xcb_keysym_t> binding(perCode, XCB_NO_SYMBOL);
    binding[0] = keysym;
    if (perCode > 1) binding[1] = keysym;
    if (xcb_generic_error_t* error = xcb_request_check(
            conn_, xcb_change_keyboard_mapping_checked(
                       conn_, 1, code, static_cast<std::uint8_t>(perCode), binding.data()))) {
      std::free(error);
      return 0;
    }
    spareKeycodes_.push_back({code, keysym, static_cast<std::uint8_t>(perCode)});
    return code;
  }
  return 0;
}

void X11Platform::releaseSpareKeycodes(bool all) {
  if (spareKeycodes_.empty()) return;
  auto keymap =
      Fetch<xcb_query_keymap_reply_t>(conn_, xcb_query_keymap_reply, xcb_query_keymap(conn_));
  std::erase_if(spareKeycodes_, [&](const SpareKeycode& spare) {
    const bool down = keymap && (keymap->keys[spare.keycode / 8] & (1 << (spare.keycode % 8)));
    if (down && !all) return false;
    if (down) {
      xcb_test_fake_input(conn_, XCB_KEY_RELEASE, spare.keycode, XCB_CURRENT_TIME, XCB_WINDOW_NONE,
                          0, 0, 0);
    }
    const std::vector<xcb_keysym_t> none(spare.keysymsPerKeycode, XCB_NO_SYMBOL);
    xcb_change_keyboard_mapping(conn_, 1, spare.keycode, spare.keysymsPerKeycode, none.data());
    return true;
  });
  xcb_flush(conn_);
}

}  // namespace lumivore
