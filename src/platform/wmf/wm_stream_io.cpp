#include "wm_stream_io.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <limits>

extern "C" {
#include <libavformat/avio.h>
#include <libavutil/error.h>
}

namespace melvanto::wmf {

std::int64_t TStreamIo::KnownSize() {
  if (Size >= 0) return Size;
  STATSTG stat;
  std::uint64_t end = 0;
  if (Succeeded(Stream->Stat(&stat, 0))) {
    end = stat.cbSize;
  } else {
    if (Failed(Stream->Seek(0, STREAM_SEEK_END, &end))) return -1;
    if (Failed(Stream->Seek(Start + Position, STREAM_SEEK_SET, nullptr))) return -1;
  }
  end = std::min<std::uint64_t>(end, std::numeric_limits<std::int64_t>::max());
  Size = std::max<std::int64_t>(static_cast<std::int64_t>(end) - Start, 0);
  return Size;
}

bool TStreamIo::SeekTo(std::int64_t position) {
  if (position < 0 || position > std::numeric_limits<std::int64_t>::max() - Start ||
      Failed(Stream->Seek(Start + position, STREAM_SEEK_SET, nullptr)))
    return false;
  Position = position;
  return true;
}

std::uint32_t TStreamIo::Read(std::uint8_t* buffer, std::uint32_t count) {
  std::uint32_t total = 0;
  while (total < count) {
    std::uint32_t got = 0;
    if (Failed(Stream->Read(buffer + total, count - total, &got)) || got == 0) break;
    got = std::min(got, count - total);
    total += got;
  }
  Position += total;
  return total;
}

int TStreamIo::ReadPacket(void* opaque, std::uint8_t* buffer, int size) {
  auto* io = static_cast<TStreamIo*>(opaque);
  if (size <= 0) return 0;
  const std::uint32_t got = io->Read(buffer, static_cast<std::uint32_t>(size));
  return got == 0 ? AVERROR_EOF : static_cast<int>(got);
}

std::int64_t TStreamIo::SeekPacket(void* opaque, std::int64_t offset, int whence) {
  auto* io = static_cast<TStreamIo*>(opaque);
  whence &= ~AVSEEK_FORCE;
  if (whence == AVSEEK_SIZE) {
    const std::int64_t size = io->KnownSize();
    return size >= 0 ? size : AVERROR(ENOSYS);
  }
  std::int64_t base = 0;
  if (whence == SEEK_CUR) {
    base = io->Position;
  } else if (whence == SEEK_END) {
    base = io->KnownSize();
    if (base < 0) return AVERROR(ENOSYS);
  } else if (whence != SEEK_SET) {
    return AVERROR(EINVAL);
  }
  if ((offset > 0 && base > std::numeric_limits<std::int64_t>::max() - offset)) return AVERROR(EINVAL);
  return io->SeekTo(base + offset) ? io->Position : AVERROR(EIO);
}

}  // namespace melvanto::wmf
