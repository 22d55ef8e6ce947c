#pragma once

// Building test files from real ASF files: one more object in the header.

#include <array>
#include <cstdint>
#include <cstring>
#include <vector>

namespace melvanto::testing {

using AsfGuid = std::array<std::uint8_t, 16>;

// {2211B3FB-BD23-11D2-B4B7-00A0C955FC6E} and {298AE614-2622-4C17-B935-DAE07EE9289C}, as stored.
constexpr AsfGuid kAsfContentEncryption = {0xFB, 0xB3, 0x11, 0x22, 0x23, 0xBD, 0xD2, 0x11,
                                           0xB4, 0xB7, 0x00, 0xA0, 0xC9, 0x55, 0xFC, 0x6E};
constexpr AsfGuid kAsfExtendedContentEncryption = {0x14, 0xE6, 0x8A, 0x29, 0x22, 0x26, 0x17, 0x4C,
                                                   0xB9, 0x35, 0xDA, 0xE0, 0x7E, 0xE9, 0x28, 0x9C};

// {D2D0A440-E307-11D2-97F0-00A0C95EA850}, as stored.
constexpr AsfGuid kAsfExtendedContentDescription = {0x40, 0xA4, 0xD0, 0xD2, 0x07, 0xE3, 0xD2, 0x11,
                                                    0x97, 0xF0, 0x00, 0xA0, 0xC9, 0x5E, 0xA8, 0x50};

// The file with an object of that GUID and body (16 zero bytes if none is given) first among
// the header's objects; the header's size and object count are fixed up around it.
inline std::vector<std::uint8_t> WithAsfHeaderObject(std::vector<std::uint8_t> asf, const AsfGuid& guid,
                                                     std::vector<std::uint8_t> body = std::vector<std::uint8_t>(16)) {
  std::vector<std::uint8_t> object(guid.begin(), guid.end());
  const std::uint64_t size = 24 + body.size();
  for (int i = 0; i < 8; ++i) object.push_back(static_cast<std::uint8_t>(size >> (8 * i)));
  object.insert(object.end(), body.begin(), body.end());
  std::uint64_t headerSize = 0;
  std::uint32_t count = 0;
  std::memcpy(&headerSize, &asf[16], 8);
  std::memcpy(&count, &asf[24], 4);
  headerSize += size;
  ++count;
  std::memcpy(&asf[16], &headerSize, 8);
  std::memcpy(&asf[24], &count, 4);
  asf.insert(asf.begin() + 30, object.begin(), object.end());
  return asf;
}

// An Extended Content Description body holding one WM/Picture attribute: a front cover of
// that MIME type. Put first in the header, the demuxer meets the picture before the audio's
// stream and numbers the picture stream 0, as files from common taggers have it.
inline std::vector<std::uint8_t> AsfCoverAttribute(const std::vector<std::uint8_t>& image, const char* mime) {
  std::vector<std::uint8_t> out;
  auto le = [&](std::uint64_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
  };
  auto utf16 = [](const char* ascii) {
    std::vector<std::uint8_t> text;
    for (const char* c = ascii;; ++c) {
      text.push_back(static_cast<std::uint8_t>(*c));
      text.push_back(0);
      if (*c == 0) break;
    }
    return text;
  };
  const auto name = utf16("WM/Picture"), type = utf16(mime), description = utf16("");
  std::vector<std::uint8_t> value{3};  // front cover
  for (int i = 0; i < 4; ++i) value.push_back(static_cast<std::uint8_t>(image.size() >> (8 * i)));
  value.insert(value.end(), type.begin(), type.end());
  value.insert(value.end(), description.begin(), description.end());
  value.insert(value.end(), image.begin(), image.end());
  le(1, 2);  // one descriptor
  le(name.size(), 2);
  out.insert(out.end(), name.begin(), name.end());
  le(1, 2);  // a byte array
  le(value.size(), 2);
  out.insert(out.end(), value.begin(), value.end());
  return out;
}

}  // namespace melvanto::testing
