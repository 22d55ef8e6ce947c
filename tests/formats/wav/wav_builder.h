#pragma once

// Builds RIFF WAVE images byte by byte, so tests control every field a reader looks at.

#include <cstdint>
#include <string>
#include <vector>

namespace melvanto::testing {

class WavBuilder {
 public:
  WavBuilder& Raw(const std::string& bytes) {
    bytes_.insert(bytes_.end(), bytes.begin(), bytes.end());
    return *this;
  }
  WavBuilder& U16(std::uint16_t v) {
    bytes_.push_back(static_cast<std::uint8_t>(v));
    bytes_.push_back(static_cast<std::uint8_t>(v >> 8));
    return *this;
  }
  WavBuilder& U32(std::uint32_t v) {
    for (int i = 0; i < 4; ++i) bytes_.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
    return *this;
  }
  WavBuilder& Bytes(const std::vector<std::uint8_t>& v) {
    bytes_.insert(bytes_.end(), v.begin(), v.end());
    return *this;
  }
  WavBuilder& Riff(const char* riff = "RIFF", const char* wave = "WAVE") { return Raw(riff).U32(0).Raw(wave); }
  WavBuilder& Chunk(const char* id, const std::vector<std::uint8_t>& body) {
    Raw(id).U32(static_cast<std::uint32_t>(body.size()));
    return Bytes(body);
  }
  // A 16-byte "fmt " body.
  static std::vector<std::uint8_t> Fmt(std::uint16_t tag, std::uint16_t channels, std::uint32_t rate,
                                       std::uint16_t blockAlign, std::uint16_t bits) {
    WavBuilder b;
    b.U16(tag).U16(channels).U32(rate).U32(rate * blockAlign).U16(blockAlign).U16(bits);
    return b.bytes_;
  }
  std::vector<std::uint8_t>& Get() { return bytes_; }

 private:
  std::vector<std::uint8_t> bytes_;
};

// A canonical PCM file around the given data.
inline std::vector<std::uint8_t> PcmWav(const std::vector<std::uint8_t>& data, std::uint16_t channels,
                                        std::uint32_t rate, std::uint16_t bits) {
  WavBuilder b;
  b.Riff().Chunk("fmt ", WavBuilder::Fmt(1, channels, rate, static_cast<std::uint16_t>(channels * bits / 8), bits));
  b.Chunk("data", data);
  return b.Get();
}

// An IMA/DVI ADPCM file around whole blocks of blockAlign bytes, perBlock frames each, with
// factFrames in its fact chunk.
inline std::vector<std::uint8_t> ImaAdpcmWav(std::uint16_t channels, std::uint16_t blockAlign, std::uint16_t perBlock,
                                             std::uint32_t factFrames, const std::vector<std::uint8_t>& data,
                                             std::uint16_t bits = 4) {
  WavBuilder fmt, fact, b;
  fmt.Bytes(WavBuilder::Fmt(0x11, channels, 22050, blockAlign, bits)).U16(2).U16(perBlock);
  fact.U32(factFrames);
  b.Riff().Chunk("fmt ", fmt.Get()).Chunk("fact", fact.Get()).Chunk("data", data);
  return b.Get();
}

// A mono IMA/DVI ADPCM file of one block, every frame of it counted.
inline std::vector<std::uint8_t> OneBlockImaMonoWav(const std::vector<std::uint8_t>& block) {
  const auto frames = static_cast<std::uint16_t>(2 * (block.size() - 4) + 1);
  return ImaAdpcmWav(1, static_cast<std::uint16_t>(block.size()), frames, frames, block);
}

// One mono IMA block that climbs to the top of the step table: predictor -32000 at index 0,
// then codes 7 (the largest rise, index + 8) until past 32767, codes 15 and 7 in turn at index
// 88, and codes 15 (the largest fall) down to the floor. Codes are read low nibble first.
inline std::vector<std::uint8_t> ImaTopOfTableBlock() {
  std::vector<std::uint8_t> block = {0x00, 0x83, 0, 0};  // -32000, index 0
  block.insert(block.end(), 7, 0x77);  // 14 codes 7: index 88 after 11
  block.insert(block.end(), 4, 0x7F);  // 15 then 7, four times
  block.insert(block.end(), 5, 0xFF);  // 10 codes 15
  return block;
}

}  // namespace melvanto::testing
