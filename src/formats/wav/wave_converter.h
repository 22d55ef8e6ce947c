#pragma once

#include <array>
#include <cstdint>

#include "stream.h"

namespace melvanto {

// Converts the compressed audio of a WAV file to PCM in memory, in one piece, through the
// conversion manager. It is itself the memory stream that holds the audio: compressed after
// LoadWave, PCM after Convert.
class TWaveConverter : public TMemoryStream {
 public:
  static constexpr std::uint32_t kFormatRecordSize = 129;
  using FormatRecord = std::array<std::uint8_t, kFormatRecordSize>;

  TWaveConverter();

  // Reads the "fmt " and "data" chunks of a WAV file from Source's position.
  void LoadWave(TStream& Source);
  // 0, or the manager's error code of the step that failed.
  std::int32_t Convert();
  // Writes a PCM WAV image into Target (empty, at 0); 0, or 286 when writing failed.
  std::int32_t SaveWave(TStream& Target);

  std::uint32_t MaxFormatSize = 0;
  FormatRecord SourceFormat{};
  FormatRecord TargetFormat{};
};

}  // namespace melvanto
