// Arbitrary bytes as a LIST/INFO body and as a whole WAV file's tag chunks: read or ignored,
// never a crash or an allocation the file does not back.

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "riff.h"
#include "riff_info.h"
#include "stream.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace melvanto;
  TId3v2Tags fromList;
  ParseRiffInfo(std::span<const std::uint8_t>(data, size), fromList);
  // Whatever was read builds a chunk of whole, even-sized items that says its own size.
  const std::vector<std::uint8_t> built = BuildRiffInfo(fromList);
  if (!built.empty() && (built.size() % 2 != 0 || GetLE32(built.data() + 4) != built.size() - 8))
    __builtin_trap();

  TMemoryStream stream(std::vector<std::uint8_t>(data, data + size));
  stream.SetPosition(static_cast<std::int64_t>(size / 2));
  TId3v2Tags fromFile;
  ReadWaveTags(stream, 0, fromFile);
  if (stream.Position() != static_cast<std::int64_t>(size / 2)) __builtin_trap();
  return 0;
}
