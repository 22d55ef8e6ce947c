#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>

#include "adpcm.h"
#include "input.h"
#include "riff.h"
#include "tags.h"
#include "wave_converter.h"

namespace melvanto {

// Float samples to 32-bit integers: scale 2,147,483,647, rounded toward minus infinity,
// saturated at +-1.0; NaN gives 0.
std::int32_t FloatSampleToInt32(long double v);

// The file input for WAV files, in RIFF, RF64 or Wave64 containers: integer PCM as stored, IMA/DVI and Microsoft ADPCM,
// A-law and mu-law decoded to 16 bits, IEEE float converted to 32-bit integers. Anything it does not
// recognise opens without error but is not Valid and delivers nothing.
class TWaveIn : public TAuFileIn {
 public:
  static constexpr std::uint32_t kBufferSize = 16384;
  // The header (everything before the audio) must fit in this window.
  static constexpr std::int64_t kHeaderWindow = 65536;

  TWaveIn();
  ~TWaveIn() override;

  // Both describe the open file (opened here if need be).
  TWavType WavType() { return ReadFormat(WavType_); }
  TWavContainer Container() { return ReadFormat(Container_); }
  // Bits of one sample as the file stores it (BitsPerSample is what is delivered: 64-bit
  // floats arrive as 32-bit integers, A-law and mu-law as 16).
  std::uint32_t StoredBitsPerSample() { return ReadFormat(StoredBits_); }
  // Offset of the first audio byte.
  std::int64_t HeaderSize() { return ReadFormat(HeaderSize_); }
  // ADPCM blocks of the open file whose header could not be true (an IMA step index above
  // 88, an MS predictor beyond the coefficients), decoded clamped or as silence so that the
  // file keeps its length: a caller that finds any should warn that the input is damaged.
  std::int64_t DamagedBlocks() const { return DamagedBlocks_.load(std::memory_order_relaxed); }
  // The bytes a run would deliver were the whole data chunk the header states there: more
  // than Size() for a cut-off file, whose missing end a caller should warn about.
  std::int64_t StatedSize() { return ReadFormat(StatedSize_); }
  // The file's tags (its LIST/INFO and "id3 " chunks), as the other readers expose theirs;
  // opens the file first.
  TId3v2Tags* Id3v2Tags();

  // Sample rates a file may declare; outside them the header is taken for damage.
  static constexpr std::uint32_t kMinSampleRate = 1000;
  static constexpr std::uint32_t kMaxSampleRate = 768000;

 protected:
  void OpenFile() override;
  void CloseFile() override;
  void GetDataInternal(const std::uint8_t*& Buffer, std::uint32_t& Bytes) override;
  bool SeekInternal(std::int64_t& SampleNum) override;

 private:
  // How an ADPCM file lays out its blocks, IMA/DVI and Microsoft ADPCM alike. (MPEG Layer-3
  // in a WAV fills it too; its converter reads the file on its own.)
  struct TAdpcmFormat {
    std::uint16_t BlockAlign = 0;  // bytes of one block as stored
    std::uint16_t SamplesPerBlock = 0;
    std::int64_t FactSamples = 0;
  };

  class HeaderWindow;

  // The header walk in stages; each returns false for a file it cannot read.
  void ReadHeader(TStream& stream);
  bool ReadFormatChunk(HeaderWindow& w);
  bool DecodeFormat(const std::uint8_t* body, std::uint32_t bodySize);
  bool ReadAdpcmExtras(const std::uint8_t* body, std::uint32_t bodySize);
  bool ReadFactChunk(HeaderWindow& w);
  bool ReadDs64Chunk(HeaderWindow& w);
  void StartOfData(std::uint64_t bodySize, std::int64_t dataStart, std::int64_t streamEnd);
  // Fills Id3v2Tags_ from a file whose header was read.
  void ReadTags(TStream& stream, std::int64_t start);
  // Checks the format read and sets the size and sample width delivered.
  void SetUpDelivery(TStream& stream);
  void OpenConverted(TStream& source);
  bool SeekConverted(std::int64_t SampleNum);
  // Checks what the block arithmetic relies on; false makes the file not valid.
  bool FormatSupported() const;
  bool FactFitsData() const;
  // Frames one ADPCM block decodes to.
  std::int64_t AdpcmFramesPerBlock() const;
  bool ReadAdpcmBlock();
  bool ReadDVIBlock();
  bool ReadMSBlock();
  std::uint32_t DecodeDVIBlock();
  std::uint32_t DecodeMSBlock();
  std::uint32_t ReadFloatBlock();
  std::uint32_t ReadG711Block();
  std::uint8_t* BufferBytes() { return reinterpret_cast<std::uint8_t*>(Buffer_.data()); }

  // 16-bit storage so that decoded samples are written as what they are.
  alignas(8) std::array<std::int16_t, kBufferSize / 2> Buffer_{};
  TWavType WavType_ = TWavType::wtUnsupported;
  TWavContainer Container_ = TWavContainer::wcRiff;
  std::uint32_t StoredBits_ = 0;
  std::uint16_t FormatTag_ = 0;
  struct TDs64 {
    std::uint64_t DataSize = 0;
    std::uint64_t Frames = 0;
  } Ds64;

  TAdpcmFormat Adpcm;
  adpcm::TImaState DVIState[2];
  std::uint16_t MSNumCoef = 0;
  std::array<adpcm::TMsCoef, 32> MSCoefs{};
  adpcm::TMsState MSState[2];

  std::int64_t HeaderSize_ = 0;
  std::int64_t DataSize_ = 0;  // bytes of the data chunk the file really holds
  std::int64_t StatedDataSize_ = 0;  // bytes of the data chunk as its header states them
  std::int64_t StatedSize_ = 0;
  TWaveConverter::FormatRecord FormatRecord_{};  // the "fmt " body as the converter takes it
  std::unique_ptr<TWaveStreamConverter> Converter_;
  TId3v2Tags Id3v2Tags_;
  bool ShortFloat = false;
  std::atomic<std::int64_t> DamagedBlocks_{0};
  std::array<std::uint8_t, 65536> BlockBytes_{};  // one compressed block as read
};

}  // namespace melvanto
