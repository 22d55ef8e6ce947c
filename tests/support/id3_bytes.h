#pragma once

// ID3v2 tags built byte by byte for the tests, so that no fixture is made by our own writer.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace melvanto::testing::id3_bytes {

using Bytes = std::vector<std::uint8_t>;

inline Bytes B(std::string_view s) { return Bytes(s.begin(), s.end()); }
inline Bytes operator+(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}
inline Bytes Syncsafe(std::uint32_t v) {
  return {static_cast<std::uint8_t>((v >> 21) & 0x7F), static_cast<std::uint8_t>((v >> 14) & 0x7F),
          static_cast<std::uint8_t>((v >> 7) & 0x7F), static_cast<std::uint8_t>(v & 0x7F)};
}
inline Bytes Be32(std::uint32_t v) {
  return {static_cast<std::uint8_t>(v >> 24), static_cast<std::uint8_t>(v >> 16), static_cast<std::uint8_t>(v >> 8),
          static_cast<std::uint8_t>(v)};
}

// A frame of version 2, 3 or 4; `format` is the second flag byte (2.3/2.4).
inline Bytes Frame(int version, std::string_view id, const Bytes& data, std::uint8_t format = 0) {
  const auto n = static_cast<std::uint32_t>(data.size());
  if (version == 2)
    return B(id) + Bytes{static_cast<std::uint8_t>(n >> 16), static_cast<std::uint8_t>(n >> 8), static_cast<std::uint8_t>(n)} +
           data;
  return B(id) + (version == 4 ? Syncsafe(n) : Be32(n)) + Bytes{0, format} + data;
}

inline Bytes Tag(int version, const Bytes& frames, std::size_t padding = 0, std::uint8_t flags = 0) {
  const auto size = static_cast<std::uint32_t>(frames.size() + padding);
  return B("ID3") + Bytes{static_cast<std::uint8_t>(version), 0, flags} + Syncsafe(size) + frames + Bytes(padding, 0);
}

// A Latin-1 text frame's data: the encoding byte, then the text.
inline Bytes Latin1(std::string_view s) { return Bytes{0} + B(s); }

// One UTF-16 little-endian string, with or without its byte-order mark, terminated.
inline Bytes Utf16String(std::u16string_view s, bool bom = true) {
  Bytes out;
  if (bom) out = Bytes{0xFF, 0xFE};
  for (char16_t c : s) out = out + Bytes{static_cast<std::uint8_t>(c), static_cast<std::uint8_t>(c >> 8)};
  return out + Bytes{0, 0};
}
// A UTF-16 text frame's data: the encoding byte, then the string.
inline Bytes Utf16Le(std::u16string_view s, bool bom) { return Bytes{1} + Utf16String(s, bom); }

// What an unsynchronising writer makes: a zero after every 0xFF that a false frame sync or
// a zero follows, and after a last 0xFF.
inline Bytes Unsync(const Bytes& in) {
  Bytes out;
  for (std::size_t i = 0; i < in.size(); ++i) {
    out.push_back(in[i]);
    if (in[i] == 0xFF && (i + 1 == in.size() || in[i + 1] == 0 || (in[i + 1] & 0xE0) == 0xE0)) out.push_back(0);
  }
  return out;
}

}  // namespace melvanto::testing::id3_bytes
