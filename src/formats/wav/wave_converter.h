#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include "stream.h"

namespace melvanto {

// Converts the compressed audio of a WAV file to PCM in memory, whole, through the
// conversion manager (the reader streams instead: TWaveStreamConverter). It is itself the memory stream that holds the audio: compressed after
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

namespace acm {
struct AcmStream;
}

// Converts the compressed audio of a WAV file to PCM as it is read, through one stream of
// the conversion manager: only a block of the source and what it decodes to are held, so a
// file of any length (or a header that lies about its rate) costs the same memory.
class TWaveStreamConverter {
 public:
  // Source bytes read at a time.
  static constexpr std::uint32_t kSourceBlock = 16384;

  // The audio lies in Source from DataStart for DataSize bytes; Format is the file's format
  // record, Target the PCM format it converts to.
  TWaveStreamConverter(TStream& Source, const TWaveConverter::FormatRecord& Format,
                       const TWaveConverter::FormatRecord& Target, std::int64_t DataStart, std::int64_t DataSize);
  ~TWaveStreamConverter();
  TWaveStreamConverter(const TWaveStreamConverter&) = delete;
  TWaveStreamConverter& operator=(const TWaveStreamConverter&) = delete;

  // (Re)opens the manager's stream at the first audio byte; 0, or the manager's error code.
  std::int32_t Open();
  // Up to Bytes of PCM into Buffer; 0 at the end of the audio or on an error.
  std::uint32_t Read(std::uint8_t* Buffer, std::uint32_t Bytes);
  // PCM frames in the audio, by the frame headers alone (nothing decoded); 0 when it holds none.
  std::int64_t CountFrames();

 private:

  TStream& Source_;
  TWaveConverter::FormatRecord Format_;
  TWaveConverter::FormatRecord Target_;
  std::int64_t DataStart_;
  std::int64_t DataSize_;
  std::int64_t Consumed_ = 0;  // source bytes read so far
  struct HandleClose {
    void operator()(acm::AcmStream* h) const;
  };
  std::unique_ptr<acm::AcmStream, HandleClose> Handle_;
  std::vector<std::uint8_t> Block_;
  std::uint32_t BlockAt_ = 0, BlockEnd_ = 0;
  bool Ended_ = true;
};

}  // namespace melvanto
