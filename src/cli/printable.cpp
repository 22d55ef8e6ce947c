#include "printable.h"

#include <cstdint>
#include <cstdio>

namespace melvanto::cli {
namespace {

// The length of the valid UTF-8 sequence at the start of text and its code point, or 0 when
// the first byte does not start one (stray continuation, overlong form, surrogate, past
// U+10FFFF, cut short).
std::size_t Utf8Sequence(std::string_view text, std::uint32_t& code) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(0);
  std::size_t length;
  std::uint32_t min;
  if (lead < 0x80) {
    code = lead;
    return 1;
  } else if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2, min = 0x80, code = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3, min = 0x800, code = lead & 0x0F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4, min = 0x10000, code = lead & 0x07;
  } else {
    return 0;
  }
  if (text.size() < length) return 0;
  for (std::size_t i = 1; i < length; ++i) {
    if ((byte(i) & 0xC0) != 0x80) return 0;
    code = (code << 6) | (byte(i) & 0x3F);
  }
  if (code < min || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return 0;
  return length;
}

void AppendHex(std::string& out, const char* format, unsigned value) {
  char escaped[8];
  std::snprintf(escaped, sizeof escaped, format, value);
  out += escaped;
}

}  // namespace

std::string Printable(std::string_view text) {
  // A tag or a file name may hold escape sequences: raw, they would retitle or clear the
  // terminal, and a line break would forge a line of output of its own.
  std::string out;
  out.reserve(text.size());
  while (!text.empty()) {
    std::uint32_t code = 0;
    const std::size_t length = Utf8Sequence(text, code);
    if (length == 0) {
      AppendHex(out, "\\x%02x", static_cast<unsigned char>(text.front()));
      text.remove_prefix(1);
      continue;
    }
    if (code == '\n')
      out += "\\n";
    else if (code == '\r')
      out += "\\r";
    else if (code == '\t')
      out += "\\t";
    else if (code < 0x20 || code == 0x7F)
      AppendHex(out, "\\x%02x", code);
    else if (code >= 0x80 && code <= 0x9F)
      AppendHex(out, "\\u%04x", code);
    else
      out.append(text.substr(0, length));
    text.remove_prefix(length);
  }
  return out;
}

}  // namespace melvanto::cli
