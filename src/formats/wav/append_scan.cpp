#include "append_scan.h"

namespace melvanto {

TAppendScan ScanWaveForAppend(const std::uint8_t* w, std::size_t n) {
  TAppendScan r;
  if (n < 4) return r;
  enum class Expect { Riff, Wave, Fmt, Fact, Data };
  Expect expected = Expect::Riff;
  TWavType found = TWavType::wtUnsupported;
  // offset counts the bytes consumed; the last four are the identifier looked at.
  std::uint64_t offset = 4;
  while (offset <= n) {
    const std::uint8_t* id = w + offset - 4;
    if (expected == Expect::Riff || expected == Expect::Wave) {
      if (IdentifierMatch(id, expected == Expect::Riff ? "RIFF" : "WAVE")) {
        offset += 4;
        expected = expected == Expect::Riff ? Expect::Wave : Expect::Fmt;
      } else {
        ++offset;  // slide on one byte: junk and the RIFF size are passed over
      }
      continue;
    }
    if (offset + 4 > n) return r;
    const std::uint32_t size = GetLE32(w + offset);
    offset += 4;
    const std::uint8_t* body = w + offset;
    const char* name = expected == Expect::Fmt ? "fmt " : expected == Expect::Fact ? "fact" : "data";
    if (IdentifierMatch(id, name)) {
      if (expected == Expect::Data) {
        r.DataSizePosition = static_cast<std::int64_t>(offset) - 4;
        r.OldDataSize = size;
        r.DataStart = static_cast<std::int64_t>(offset);
        r.OldWavType = found;
        return r;
      }
      if (offset + size > n) return r;  // the body claims more than the window or the file holds
      if (expected == Expect::Fmt) {
        if (size < 16) return r;
        const std::uint16_t tag = GetLE16(body);
        if (tag != kWaveFormatPcm && tag != kWaveFormatDviAdpcm) return r;
        r.OldChannels = GetLE16(body + 2);
        r.OldSampleRate = GetLE32(body + 4);
        r.OldBlockAlign = GetLE16(body + 12);
        r.OldBits = GetLE16(body + 14);
        found = tag == kWaveFormatPcm ? TWavType::wtPCM : TWavType::wtDVIADPCM;
        expected = found == TWavType::wtPCM ? Expect::Data : Expect::Fact;
      } else {
        if (size < 4) return r;
        r.FactPosition = static_cast<std::int64_t>(offset);
        r.OldFactSamples = GetLE32(body);
        expected = Expect::Data;
      }
    }
    offset += std::uint64_t{size};
    // The same pad rule as the reader: a zero byte after an odd-sized body is padding.
    if (size % 2 != 0 && offset < n && w[offset] == 0) ++offset;
    offset += 4;  // the next identifier; the loop test keeps it in the window
  }
  return r;
}

}  // namespace melvanto
