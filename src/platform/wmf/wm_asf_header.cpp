#include "wm_asf_header.h"

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
// {8CABDCA1-A947-11CF-8EE4-00C00C205365}
constexpr Guid kFileProperties = {0xA1, 0xDC, 0xAB, 0x8C, 0x47, 0xA9, 0xCF, 0x11,
                                  0x8E, 0xE4, 0x00, 0xC0, 0x0C, 0x20, 0x53, 0x65};

bool Is(const Guid& guid, const std::uint8_t* object) { return std::equal(guid.begin(), guid.end(), object); }

// The position of the first of the header's children that found accepts (given its first
// 24 bytes: GUID and size), or -1.
template <typename Found>
std::int64_t FindHeaderObject(TStreamIo& io, Found found) {
  std::uint8_t head[30];
  if (!io.SeekTo(0) || io.Read(head, sizeof head) != sizeof head) return -1;
  if (!Is(kAsfHeader, head)) return -1;
  std::int64_t end = static_cast<std::int64_t>(std::min<std::uint64_t>(LE64(head + 16), INT64_MAX));
  const std::int64_t size = io.KnownSize();
  if (size >= 0) end = std::min(end, size);
  const std::uint32_t count = LE32(head + 24);
  std::int64_t position = 30;
  for (std::uint32_t i = 0; i < count && position + 24 <= end; ++i) {
    std::uint8_t object[24];
    if (!io.SeekTo(position) || io.Read(object, sizeof object) != sizeof object) break;
    if (found(object)) return position;
    const std::uint64_t objectSize = LE64(object + 16);
    if (objectSize < 24 || objectSize > static_cast<std::uint64_t>(end - position)) break;
    position += static_cast<std::int64_t>(objectSize);
  }
  return -1;
}

}  // namespace

bool AsfIsProtected(TStreamIo& io) {
  return FindHeaderObject(io, [](const std::uint8_t* object) {
           return Is(kContentEncryption, object) || Is(kExtendedContentEncryption, object);
         }) >= 0;
}

std::optional<std::uint64_t> AsfStatedDuration(TStreamIo& io) {
  const std::int64_t at = FindHeaderObject(io, [](const std::uint8_t* object) { return Is(kFileProperties, object); });
  // GUID, size, file id, file size, date and packet count come before the play time; then
  // the send time, the preroll in milliseconds and the flags.
  constexpr std::uint32_t kPlayDuration = 24 + 16 + 8 + 8 + 8;
  std::uint8_t fields[kPlayDuration + 28];
  if (at < 0 || !io.SeekTo(at) || io.Read(fields, sizeof fields) != sizeof fields) return std::nullopt;
  const std::uint64_t play = LE64(fields + kPlayDuration);
  const std::uint64_t prerollMs = LE64(fields + kPlayDuration + 16);
  const bool broadcast = (LE32(fields + kPlayDuration + 24) & 1) != 0;
  if (broadcast || prerollMs > play / 10'000) return std::nullopt;
  const std::uint64_t stated = play - prerollMs * 10'000;
  if (stated == 0) return std::nullopt;
  return stated;
}

}  // namespace melvanto::wmf
