#include "wm_asf_header.h"

#include <algorithm>
#include <array>
#include <cstdint>

#include "wm_asf_objects.h"
#include "wm_little_endian.h"

namespace melvanto::wmf {

namespace {

using namespace asf;

// The position of the first of the header's children that found accepts (given its first
// 24 bytes: GUID and size), or -1.
template <typename Found>
std::int64_t FindHeaderObject(TStreamIo& io, Found found) {
  std::uint8_t head[30];
  if (!io.SeekTo(0) || io.Read(head, sizeof head) != sizeof head) return -1;
  if (!Is(head, kHeaderObject)) return -1;
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
           return Is(object, kContentEncryption) || Is(object, kExtendedContentEncryption);
         }) >= 0;
}

std::optional<std::uint64_t> AsfStatedDuration(TStreamIo& io) {
  const std::int64_t at = FindHeaderObject(io, [](const std::uint8_t* object) { return Is(object, kFileProperties); });
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
