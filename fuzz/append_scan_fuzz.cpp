// Arbitrary bytes as the head of a WAV file to append to: the scan must stay in its window.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "append_scan.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // A copy of exactly the given size, so any read past the window is caught.
  const std::vector<std::uint8_t> window(data, data + size);
  const melvanto::TAppendScan scan = melvanto::ScanWaveForAppend(window.data(), window.size());
  if (scan.OldWavType != melvanto::TWavType::wtUnsupported &&
      (scan.DataStart > static_cast<std::int64_t>(size) || scan.DataSizePosition + 4 > static_cast<std::int64_t>(size)))
    __builtin_trap();  // a found data chunk must lie in the window
  return 0;
}
