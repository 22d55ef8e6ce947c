#include "append_scan.h"

namespace melvanto {

namespace {

// The body of the first chunk after "RIFF", its size and "WAVE" at the file's start.
constexpr std::uint64_t kFirstBody = 20;
constexpr std::uint32_t kDs64Size = 28;

// Notes the room an RF64 writer may use: a JUNK chunk, or the ds64 chunk of an RF64 file,
// of exactly the size ds64 takes, so that writing one over it leaves the chunks after it be.
void ScanDs64Room(const std::uint8_t* id, std::uint32_t size, const std::uint8_t* w, std::size_t n, TAppendScan& r) {
  if (size != kDs64Size || kFirstBody + kDs64Size > n || !IdentifierMatch(w, r.Rf64 ? "RF64" : "RIFF")) return;
  if (r.Rf64 ? IdentifierMatch(id, "ds64") : IdentifierMatch(id, "JUNK")) r.Ds64Position = kFirstBody;
  if (r.Rf64 && r.Ds64Position != 0) r.Ds64DataSize = GetLE64(w + kFirstBody + 8);
}

}  // namespace

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
      const bool rf64 = expected == Expect::Riff && IdentifierMatch(id, "RF64");
      if (rf64 || IdentifierMatch(id, expected == Expect::Riff ? "RIFF" : "WAVE")) {
        if (expected == Expect::Riff) r.Rf64 = rf64;
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
    if (offset == kFirstBody) ScanDs64Room(id, size, w, n, r);
    const char* name = expected == Expect::Fmt ? "fmt " : expected == Expect::Fact ? "fact" : "data";
    if (IdentifierMatch(id, name)) {
      if (expected == Expect::Data) {
        r.DataSizePosition = static_cast<std::int64_t>(offset) - 4;
        r.OldDataSize = size;
        r.DataStart = static_cast<std::int64_t>(offset);
        r.OldWavType = r.Rf64 && r.Ds64Position == 0 ? TWavType::wtUnsupported : found;
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
