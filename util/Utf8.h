// UTF-8 text as Qt's strings read it, for the parts of Lumivore that run
// without Qt (the command line).
#pragma once

#include <string>
#include <string_view>

namespace lumivore {

// The UTF-16 code units of UTF-8 text, as QString::fromUtf8 gives them: each
// byte that does not begin a well-formed sequence (a stray continuation
// byte, a sequence cut short, an overlong form, a surrogate, a code point
// above U+10FFFF) becomes U+FFFD, and reading goes on after it.
std::u16string Utf16FromUtf8(std::string_view text);

// The text with every such byte replaced by U+FFFD: valid UTF-8 throughout.
std::string ValidUtf8(std::string_view text);

}  // namespace lumivore
