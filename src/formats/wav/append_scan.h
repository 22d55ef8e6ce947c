#pragma once

#include <cstddef>
#include <cstdint>

#include "riff.h"

namespace melvanto {

// What appending to an existing WAV file needs to know of it.
struct TAppendScan {
  TWavType OldWavType = TWavType::wtUnsupported;  // wtPCM, wtDVIADPCM, or unsupported
  std::uint32_t OldSampleRate = 0;
  std::uint16_t OldChannels = 0;
  std::uint16_t OldBits = 0;
  std::uint16_t OldBlockAlign = 0;
  std::uint32_t OldFactSamples = 0;
  std::int64_t FactPosition = 0;      // offset of the fact chunk's body
  std::uint32_t OldDataSize = 0;
  std::int64_t DataSizePosition = 0;  // offset of the data chunk's size field
  std::int64_t DataStart = 0;         // offset of the first audio byte
  // A JUNK or ds64 chunk of 28 bytes first after RIFF at the file's start: the offset
  // of its body, where RF64 keeps its 64-bit sizes; 0 when there is none.
  std::int64_t Ds64Position = 0;
  bool Rf64 = false;                  // an RF64 file; its sizes are in ds64
  std::uint64_t Ds64DataSize = 0;
};

// Walks the first bytes of a WAV file (the caller's window) to its data chunk. Every field
// must lie inside the window; anything else leaves the result unsupported.
TAppendScan ScanWaveForAppend(const std::uint8_t* window, std::size_t size);

}  // namespace melvanto
