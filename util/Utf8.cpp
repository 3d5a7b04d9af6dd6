#include "util/Utf8.h"

#include <cstdint>

namespace lumivore {

namespace {

constexpr char32_t kReplacement = 0xFFFD;

// The code point of the well-formed sequence at text[i], and its length in
// `length`; kReplacement with length 1 when none begins there.
char32_t Decode(std::string_view text, std::size_t i, std::size_t& length) {
  length = 1;
  const auto byte = [&](std::size_t k) { return static_cast<std::uint8_t>(text[k]); };
  const std::uint8_t lead = byte(i);
  if (lead < 0x80) return lead;
  std::size_t n = 0;
  char32_t c = 0, min = 0;
  if ((lead & 0xE0) == 0xC0) {
    n = 2, c = lead & 0x1F, min = 0x80;
  } else if ((lead & 0xF0) == 0xE0) {
    n = 3, c = lead & 0x0F, min = 0x800;
  } else if ((lead & 0xF8) == 0xF0) {
    n = 4, c = lead & 0x07, min = 0x10000;
  } else {
    return kReplacement;
  }
  if (text.size() - i < n) return kReplacement;
  for (std::size_t k = 1; k < n; ++k) {
    if ((byte(i + k) & 0xC0) != 0x80) return kReplacement;
    c = (c << 6) | (byte(i + k) & 0x3F);
  }
  if (c < min || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return kReplacement;
  length = n;
  return c;
}

}  // namespace

std::u16string Utf16FromUtf8(std::string_view text) {
  std::u16string out;
  out.reserve(text.size());
  for (std::size_t i = 0, length = 0; i < text.size(); i += length) {
    const char32_t c = Decode(text, i, length);
    if (c < 0x10000) {
      out += static_cast<char16_t>(c);
    } else {
      out += static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10));
      out += static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
    }
  }
  return out;
}

std::string ValidUtf8(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0, length = 0; i < text.size(); i += length) {
    if (Decode(text, i, length) == kReplacement && length == 1) {
      out += "\xEF\xBF\xBD";
    } else {
      out.append(text.substr(i, length));
    }
  }
  return out;
}

}  // namespace lumivore
