#include "wm_asf_protection.h"

#include <algorithm>
#include <cstdint>

#include "wm_asf_objects.h"
#include "wm_little_endian.h"

namespace melvanto::wmf {

using namespace asf;

bool AsfIsProtected(TStreamIo& io) {
  std::uint8_t head[30];
  if (!io.SeekTo(0) || io.Read(head, sizeof head) != sizeof head) return false;
  if (!Is(head, kHeaderObject)) return false;
  std::int64_t end = static_cast<std::int64_t>(std::min<std::uint64_t>(LE64(head + 16), INT64_MAX));
  const std::int64_t size = io.KnownSize();
  if (size >= 0) end = std::min(end, size);
  const std::uint32_t count = LE32(head + 24);
  std::int64_t position = 30;
  for (std::uint32_t i = 0; i < count && position + 24 <= end; ++i) {
    std::uint8_t object[24];
    if (!io.SeekTo(position) || io.Read(object, sizeof object) != sizeof object) break;
    if (Is(object, kContentEncryption) || Is(object, kExtendedContentEncryption))
      return true;
    const std::uint64_t objectSize = LE64(object + 16);
    if (objectSize < 24 || objectSize > static_cast<std::uint64_t>(end - position)) break;
    position += static_cast<std::int64_t>(objectSize);
  }
  return false;
}

}  // namespace melvanto::wmf
