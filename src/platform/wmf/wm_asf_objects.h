#pragma once

// The ASF objects our own code looks for in a header, by their GUIDs as stored in the file.

#include <algorithm>
#include <array>
#include <cstdint>

namespace melvanto::wmf::asf {

using Guid = std::array<std::uint8_t, 16>;

// The GUID written XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX as a file stores it: the first three
// groups little-endian, the last two as written.
constexpr Guid GuidOf(const char (&text)[37]) {
  std::array<std::uint8_t, 16> written{};
  int digits = 0;
  for (int i = 0; i < 36; ++i) {
    const char c = text[i];
    if (c == '-') continue;
    const int value = c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10;
    written[digits / 2] = static_cast<std::uint8_t>(written[digits / 2] << 4 | value);
    ++digits;
  }
  constexpr int kStored[16] = {3, 2, 1, 0, 5, 4, 7, 6, 8, 9, 10, 11, 12, 13, 14, 15};
  Guid guid{};
  for (int i = 0; i < 16; ++i) guid[i] = written[kStored[i]];
  return guid;
}

constexpr Guid kHeaderObject = GuidOf("75B22630-668E-11CF-A6D9-00AA0062CE6C");
constexpr Guid kFileProperties = GuidOf("8CABDCA1-A947-11CF-8EE4-00C00C205365");
constexpr Guid kExtendedContentDescription = GuidOf("D2D0A440-E307-11D2-97F0-00A0C95EA850");
constexpr Guid kHeaderExtension = GuidOf("5FBF03B5-A92E-11CF-8EE3-00C00C205365");
constexpr Guid kHeaderExtensionReserved = GuidOf("ABD3D211-A9BA-11CF-8EE6-00C00C205365");  // its first field
constexpr Guid kMetadataLibrary = GuidOf("44231C94-9498-49D1-A141-1D134E457054");
constexpr Guid kContentEncryption = GuidOf("2211B3FB-BD23-11D2-B4B7-00A0C955FC6E");
constexpr Guid kExtendedContentEncryption = GuidOf("298AE614-2622-4C17-B935-DAE07EE9289C");
static_assert(kHeaderObject == Guid{0x30, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11, 0xA6, 0xD9, 0x00, 0xAA, 0x00,
                                    0x62, 0xCE, 0x6C});

// Whether the 16 bytes at p are that GUID.
inline bool Is(const std::uint8_t* p, const Guid& guid) { return std::equal(guid.begin(), guid.end(), p); }

}  // namespace melvanto::wmf::asf
