#include "wm_asf_protection.h"

#include <algorithm>
#include <array>
#include <cstdint>

#include "wm_little_endian.h"

namespace melvanto::wmf {

namespace {

using Guid = std::array<std::uint8_t, 16>;
// {75B22630-668E-11CF-A6D9-00AA0062CE6C}, as stored in the file.
constexpr Guid kAsfHeader = {0x30, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11,
                             0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C};
// {2211B3FB-BD23-11D2-B4B7-00A0C955FC6E}
constexpr Guid kContentEncryption = {0xFB, 0xB3, 0x11, 0x22, 0x23, 0xBD, 0xD2, 0x11,
                                     0xB4, 0xB7, 0x00, 0xA0, 0xC9, 0x55, 0xFC, 0x6E};
// {298AE614-2622-4C17-B935-DAE07EE9289C}
constexpr Guid kExtendedContentEncryption = {0x14, 0xE6, 0x8A, 0x29, 0x22, 0x26, 0x17, 0x4C,
                                             0xB9, 0x35, 0xDA, 0xE0, 0x7E, 0xE9, 0x28, 0x9C};

}  // namespace

bool AsfIsProtected(TStreamIo& io) {
  std::uint8_t head[30];
  if (!io.SeekTo(0) || io.Read(head, sizeof head) != sizeof head) return false;
  if (!std::equal(kAsfHeader.begin(), kAsfHeader.end(), head)) return false;
  std::int64_t end = static_cast<std::int64_t>(std::min<std::uint64_t>(LE64(head + 16), INT64_MAX));
  const std::int64_t size = io.KnownSize();
  if (size >= 0) end = std::min(end, size);
  const std::uint32_t count = LE32(head + 24);
  std::int64_t position = 30;
  for (std::uint32_t i = 0; i < count && position + 24 <= end; ++i) {
    std::uint8_t object[24];
    if (!io.SeekTo(position) || io.Read(object, sizeof object) != sizeof object) break;
    if (std::equal(kContentEncryption.begin(), kContentEncryption.end(), object) ||
        std::equal(kExtendedContentEncryption.begin(), kExtendedContentEncryption.end(), object))
      return true;
    const std::uint64_t objectSize = LE64(object + 16);
    if (objectSize < 24 || objectSize > static_cast<std::uint64_t>(end - position)) break;
    position += static_cast<std::int64_t>(objectSize);
  }
  return false;
}

}  // namespace melvanto::wmf
