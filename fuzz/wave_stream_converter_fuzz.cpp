// Arbitrary bytes as an MPEG-in-WAV file, read through the streaming converter: it must refuse
// or convert them in whole frames, never crash or hold more than a few pieces.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "acm.h"
#include "riff.h"
#include "stream.h"
#include "wave_converter.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace melvanto;
  TMemoryStream file(std::vector<std::uint8_t>(data, data + size));
  TWaveConverter loaded;
  loaded.LoadWave(file);
  TWaveConverter::FormatRecord target{};
  PutLE16(target.data(), kWaveFormatPcm);
  const auto* src = reinterpret_cast<const acm::WAVEFORMATEX*>(loaded.SourceFormat.data());
  auto* dst = reinterpret_cast<acm::WAVEFORMATEX*>(target.data());
  if (acm::acmFormatSuggest(nullptr, src, dst, TWaveConverter::kFormatRecordSize,
                            acm::ACM_FORMATSUGGESTF_WFORMATTAG) != 0)
    return 0;
  TWaveStreamConverter conv(loaded, loaded.SourceFormat, target, 0, loaded.Size());
  (void)conv.CountFrames();
  if (conv.Open() != 0) return 0;
  // Request sizes from the input itself, odd ones included, and one restart part way.
  const std::uint32_t want = 1u + (size > 0 ? data[size / 2] * 61u : 4096u);
  std::vector<std::uint8_t> out(want);
  std::int64_t total = 0;
  bool ended = false;
  for (int calls = 0; calls < 4096 && !ended; ++calls) {
    const std::uint32_t n = conv.Read(out.data(), want);
    if (n > want) __builtin_trap();
    ended = n == 0;
    total += n;
    if (calls == 3) {
      if (conv.Open() != 0) __builtin_trap();
      total = 0;
    }
  }
  // The decoder only ever gives whole frames.
  if (ended && total % (2 * dst->nChannels) != 0) __builtin_trap();
  return 0;
}
