// Arbitrary bytes as a WAV file: the reader must refuse or read them, never crash.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "au_exception.h"
#include "stream.h"
#include "wave_in.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace melvanto;
  TMemoryStream stream(std::vector<std::uint8_t>(data, data + size));
  TWaveIn in;
  in.SetStream(&stream);
  try {
    (void)in.Valid();
    (void)in.TotalSamples();
    (void)in.TotalTime();
    // Vary the range and request size from the input itself so they are explored too.
    const std::uint32_t want = size > 0 ? 1u + data[0] * 97u : 4096u;
    if (size > 1 && (data[1] & 1)) in.SetStartSample(data[1] * 13);
    if (size > 2 && (data[2] & 1)) in.SetEndSample(data[2] * 29);
    in.Init();
    for (int calls = 0; calls < 4096; ++calls) {
      const std::uint8_t* block = nullptr;
      std::uint32_t bytes = want;
      in.GetData(block, bytes);
      if (bytes == 0) break;
      // Never more than asked, and whole frames only.
      if (bytes > want || bytes % in.SampleSize() != 0) __builtin_trap();
      volatile std::uint8_t sink = block[0] ^ block[bytes - 1];
      (void)sink;
      if (calls == 2) in.Seek(calls * 500);
    }
    in.Flush();
  } catch (const EAuException&) {
    // A clear refusal is a fine answer to bad bytes.
  }
  in.SetStream(nullptr);
  return 0;
}
