#pragma once

#include <atomic>
#include <cstdint>

#include "adpcm.h"
#include "riff.h"
#include "tagged_file.h"

namespace melvanto {

// Stores the PCM of its input as a RIFF WAVE file: plain PCM (80-byte header), extensible
// PCM (104-byte header) or IMA/DVI ADPCM (96-byte header), each with a JUNK chunk after WAVE
// that keeps room for a ds64 chunk (a file whose sizes outgrow 32 bits is made RF64 at the
// end), and a LIST/INFO chunk of the Id3v2Tags values before the data when there are any.
// Can append to an existing PCM or IMA/DVI file of the same format, RF64 ones too (its tags
// stay as they are).
class TWaveOut : public TAuTaggedFileOut {
 public:
  // The largest RIFF size a plain WAV may state; beyond it the file becomes RF64.
  static constexpr std::int64_t kSizeLimit = 0xFFFFFFFE;

  // sizeLimit lowers the switch to RF64 so that it can be tried on small files.
  explicit TWaveOut(std::int64_t sizeLimit = kSizeLimit);
  ~TWaveOut() override;

  // A run may change it: to wtExtPCM by the extensible rule, or to the type appended to.
  TWavType WavType() const { return WavType_.load(); }
  // Ignored while Busy; only wtPCM and wtDVIADPCM are taken.
  void SetWavType(TWavType value);
  std::uint16_t BlockSize() const { return BlockSize_.load(); }
  // Ignored while Busy, and for 0 or a value not a multiple of 4.
  void SetBlockSize(std::uint16_t value);
  bool CreateNonMsHeaders() const { return CreateNonMsHeaders_.load(); }
  void SetCreateNonMsHeaders(bool value) { CreateNonMsHeaders_ = value; }
  // This output can append, so both modes are kept; ignored while Busy like the other settings.
  void SetFileMode(TFileOutputMode mode) override {
    if (!Busy()) FileMode_ = mode;
  }

 protected:
  void Prepare() override;
  bool DoOutput(bool Abort) override;
  void Done() override;

 private:
  // Flushes the input and releases our stream before refusing a format in Prepare.
  [[noreturn]] void Refuse(const char* message);
  void WritePcmHeader(TAuInput& input);
  void WriteExtHeader(TAuInput& input);
  void WriteDviHeader(TAuInput& input);
  // Walks the first bytes of the target (at most the scan window) and fills the Old* fields.
  void ScanForAppend();
  // Positions the stream after the old audio; returns that offset. Refuses what it cannot
  // append to without corrupting it.
  std::int64_t SeekAppendPosition(std::int64_t unit);
  bool ChunksUpToEnd(std::int64_t offset, std::int64_t fileEnd);
  bool OutputPcm();
  bool OutputDviBlock();
  // Writes the final sizes into the header.
  void PatchSizes();
  void WriteSizes(std::int64_t end, std::int64_t data, std::int64_t frames, bool rf64);
  // Writes a new file's header h (ending in the data chunk's identifier and size) with the
  // tags' LIST chunk before the data chunk, and notes where the data starts.
  void WriteHeader(std::uint8_t* h, std::int64_t size);
  void WriteAll(const void* bytes, std::int64_t count);
  void WriteLE32At(std::int64_t offset, std::uint32_t value);

  bool EndOfInput = false;
  // The worker changes these in Prepare while the user-interface thread may read them.
  std::atomic<TWavType> WavType_{TWavType::wtPCM};
  adpcm::TImaState ImaState[2];
  std::uint32_t OldSampleRate = 0;
  std::uint16_t OldChannels = 0;
  std::uint16_t OldBits = 0;
  std::uint32_t OldFactSamples = 0;
  // File positions are 64-bit; only the size fields are limited to 32 bits.
  std::int64_t FactPosition = 0;
  std::int64_t OldDataSize = 0;
  std::int64_t DataSizePosition = 0;
  TWavType OldWavType = TWavType::wtUnsupported;
  std::int64_t DataStart = 0;
  // Offset of the body of the chunk ds64 is (or will be) written to; 0 for a file without
  // the room.
  std::int64_t Ds64Position = 0;
  bool Rf64 = false;  // the target is RF64 already
  std::uint16_t FrameBytes = 1;  // of the PCM written, for the frame count of ds64
  const std::int64_t SizeLimit_;
  // The appended file's block align; it becomes BlockSize only when that file is IMA/DVI.
  std::uint16_t OldBlockAlign = 0;
  std::atomic<std::uint16_t> BlockSize_{512};
  std::atomic<bool> CreateNonMsHeaders_{true};

  // Done patches sizes only after a complete Prepare: a failed one leaves nothing to fix.
  bool Prepared = false;
  // Whether this run appends to a non-empty file, decided once in Prepare.
  bool Appending = false;
  // The data size the header states, so Done can tell whether the real length differs.
  std::uint32_t HeaderDataSize = 0;
  // IMA/DVI: the fact count states the frames really delivered, not whole blocks.
  std::int64_t FramesDelivered = 0;
  // IMA/DVI append: the whole blocks already in the file, which decoders play in full.
  std::int64_t OldBlocks = 0;
};

}  // namespace melvanto
