#pragma once

#include <cstdint>
#include <cstring>

namespace melvanto {

// The WAV encodings the reader recognises and the writer produces.
enum class TWavType : std::uint8_t {
  wtUnsupported = 0,
  wtPCM = 1,
  wtDVIADPCM = 2,
  wtMSADPCM = 3,
  wtACM = 4,
  wtIEEEFloat = 5,
  wtExtPCM = 6,
  wtExtIEEEFloat = 7,
  wtALaw = 8,
  wtMuLaw = 9,
};

// The containers the reader walks: RIFF, RF64 (RIFF with 64-bit sizes in a ds64 chunk) and
// Wave64 (GUID identifiers and 64-bit sizes throughout).
enum class TWavContainer : std::uint8_t { wcRiff, wcRf64, wcWave64 };

// Wave64 identifies its outer chunk by this GUID, and "wave", "fmt ", "data", "fact" by the
// four characters followed by kWave64Tail.
constexpr std::uint8_t kWave64Riff[16] = {'r',  'i',  'f',  'f',  0x2E, 0x91, 0xCF, 0x11,
                                          0xA5, 0xD6, 0x28, 0xDB, 0x04, 0xC1, 0x00, 0x00};
constexpr std::uint8_t kWave64Tail[12] = {0xF3, 0xAC, 0xD3, 0x11, 0x8C, 0xD1, 0x00, 0xC0, 0x4F, 0x8E, 0xDB, 0x8A};
constexpr std::int64_t kWave64ChunkHeader = 24;

// A 32-bit RIFF size field holding this defers to the ds64 chunk (RF64) or states no length
// (a streaming writer).
constexpr std::uint32_t kNoSize32 = 0xFFFFFFFF;

// Format tags of the "fmt " chunk.
constexpr std::uint16_t kWaveFormatPcm = 1;
constexpr std::uint16_t kWaveFormatMsAdpcm = 2;
constexpr std::uint16_t kWaveFormatIeeeFloat = 3;
constexpr std::uint16_t kWaveFormatALaw = 6;
constexpr std::uint16_t kWaveFormatMuLaw = 7;
constexpr std::uint16_t kWaveFormatDviAdpcm = 0x11;
constexpr std::uint16_t kWaveFormatMpegLayer3 = 0x55;
constexpr std::uint16_t kWaveFormatExtensible = 0xFFFE;

// Sub-formats of the extensible format, as stored: the format tag in the first two bytes,
// then the same 14 bytes for every tag.
constexpr std::uint8_t kSubFormatPcm[16] = {0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00,
                                            0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
constexpr std::uint8_t kSubFormatIeeeFloat[16] = {0x03, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00,
                                                  0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
inline bool IsSubFormatOfTag(const std::uint8_t* sub) { return std::memcmp(sub + 2, kSubFormatPcm + 2, 14) == 0; }

// Chunk identifiers match when every byte pair is equal or differs by exactly 32: letter case
// is ignored, and the space of "fmt " also matches a zero byte or 0x40, as writers vary.
inline bool IdentifierMatch(const std::uint8_t* bytes, const char* id) {
  for (int i = 0; i < 4; ++i) {
    const int a = bytes[i];
    const int b = static_cast<std::uint8_t>(id[i]);
    if (a != b && a - b != 32 && b - a != 32) return false;
  }
  return true;
}

inline std::uint16_t GetLE16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | (p[1] << 8)); }
inline std::uint32_t GetLE32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
         (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}
inline std::uint64_t GetLE64(const std::uint8_t* p) {
  return GetLE32(p) | (static_cast<std::uint64_t>(GetLE32(p + 4)) << 32);
}
inline void PutLE16(std::uint8_t* p, std::uint16_t v) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
}
inline void PutLE32(std::uint8_t* p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}
inline void PutLE64(std::uint8_t* p, std::uint64_t v) {
  for (int i = 0; i < 8; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}
inline void PutId(std::uint8_t* p, const char* id) { std::memcpy(p, id, 4); }

}  // namespace melvanto
