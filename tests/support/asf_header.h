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

// The file with an empty object of that GUID first among the header's objects; the
// header's size and object count are fixed up around it.
inline std::vector<std::uint8_t> WithAsfHeaderObject(std::vector<std::uint8_t> asf, const AsfGuid& guid) {
  std::vector<std::uint8_t> object(guid.begin(), guid.end());
  const std::uint64_t size = 24 + 16;
  for (int i = 0; i < 8; ++i) object.push_back(static_cast<std::uint8_t>(size >> (8 * i)));
  object.resize(size, 0);
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

}  // namespace melvanto::testing
