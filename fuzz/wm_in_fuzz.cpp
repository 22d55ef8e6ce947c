// Arbitrary bytes as a WMA or MP3 file through the runtime's reader: the input must refuse
// or read them, never crash, and never deliver more than asked.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "au_exception.h"
#include "mp3_in.h"
#include "stream.h"
#include "wm_in.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace melvanto;
  TMemoryStream stream(std::vector<std::uint8_t>(data, data + size));
  // The last byte picks the variant, so that the file's own header stays as it is.
  const std::uint8_t options = size > 0 ? data[size - 1] : 0;
  TMP3In mp3;
  TWMIn wma;
  TWMIn& in = (options & 1) ? mp3 : wma;
  in.SetStream(&stream);
  try {
    if (options & 2) in.SetHighPrecision(true);
    if (options & 4) in.SetOutputChannels((options & 8) ? TChannelsNumber::cn5dot1 : TChannelsNumber::cnMaxAvailable);
    (void)in.Valid();
    (void)in.TotalSamples();
    (void)in.TotalTime();
    (void)in.Id3v2Tags()->Title();
    const std::uint32_t want = 1u + (options >> 4) * 1531u;
    if (options & 16) in.SetStartSample(options * 37);
    if (options & 32) in.SetEndSample(options * 301);
    in.Init();
    for (int calls = 0; calls < 256; ++calls) {
      const std::uint8_t* block = nullptr;
      std::uint32_t bytes = want;
      in.GetData(block, bytes);
      if (bytes == 0) break;
      if (bytes > want || block == nullptr) __builtin_trap();
      volatile std::uint8_t sink = block[0] ^ block[bytes - 1];
      (void)sink;
      if (calls == 3) in.Seek(calls * 700);
      if (calls == 6) in.Seek(0);
    }
    in.Flush();
  } catch (const EAuException&) {
    // A clear refusal ("File is protected") is a fine answer to bad bytes.
  }
  in.SetStream(nullptr);
  return 0;
}
