#pragma once

// FFmpeg's byte source over the caller's IStream. Positions are our own count: only
// absolute seeks go to the stream, so an adapter that reports nothing still works.

#include <cstdint>

#include "wm_reader.h"

namespace melvanto::wmf {

struct TStreamIo {
  IStream* Stream = nullptr;
  std::int64_t Start = 0;  // where in the stream the data begins; positions count from here
  std::int64_t Position = 0;
  std::int64_t Size = -1;  // from Start on

  // The stream's size, asked once; -1 when it cannot tell.
  std::int64_t KnownSize();
  bool SeekTo(std::int64_t position);
  // Up to count bytes; fewer only at the end of the stream or on failure.
  std::uint32_t Read(std::uint8_t* buffer, std::uint32_t count);

  // The callbacks of avio_alloc_context, opaque being the TStreamIo.
  static int ReadPacket(void* opaque, std::uint8_t* buffer, int size);
  static std::int64_t SeekPacket(void* opaque, std::int64_t offset, int whence);
};

}  // namespace melvanto::wmf
