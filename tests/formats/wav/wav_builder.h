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

}  // namespace melvanto::testing
