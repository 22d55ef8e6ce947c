#pragma once

#include <string>

namespace melvanto {

// File names travel as UTF-16 inside the components and as UTF-8 bytes to the system.
// Bytes that are not valid UTF-8 map to the lone surrogates U+DC80..U+DCFF and back,
// so a name the system gave us always opens again, byte for byte.
std::u16string Utf8ToUtf16(const std::string& utf8);
std::string Utf16ToUtf8(const std::u16string& utf16);

}  // namespace melvanto
