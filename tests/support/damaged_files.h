#pragma once

// Damage done to files other programs made, as a disk or a cut-off download does it.

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace melvanto::testing {

inline std::vector<std::uint8_t> FileBytes(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
}

inline void WriteFileBytes(const std::string& path, const std::vector<std::uint8_t>& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc)
      .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

// The file cut to half its size; its header still states the whole length.
inline void TruncateToHalf(const std::string& path) {
  std::filesystem::resize_file(path, std::filesystem::file_size(path) / 2);
}

// The File Properties Object's minimum and maximum packet sizes set to 0; false when the
// object is not found.
inline bool ZeroAsfPacketSize(const std::string& path) {
  // {8CABDCA1-A947-11CF-8EE4-00C00C205365}, as stored.
  constexpr std::array<std::uint8_t, 16> kFileProperties = {0xA1, 0xDC, 0xAB, 0x8C, 0x47, 0xA9, 0xCF, 0x11,
                                                            0x8E, 0xE4, 0x00, 0xC0, 0x0C, 0x20, 0x53, 0x65};
  std::vector<std::uint8_t> bytes = FileBytes(path);
  const auto at = std::search(bytes.begin(), bytes.end(), kFileProperties.begin(), kFileProperties.end());
  // GUID, size, file id, file size, date, packets, play and send duration, preroll, flags.
  constexpr std::size_t kMinPacketSize = 16 + 8 + 16 + 8 + 8 + 8 + 8 + 8 + 8 + 4;
  if (at == bytes.end() || bytes.end() - at < static_cast<std::ptrdiff_t>(kMinPacketSize + 8)) return false;
  std::fill_n(at + kMinPacketSize, 8, 0);
  WriteFileBytes(path, bytes);
  return true;
}

// The step index of the first channel in the given IMA ADPCM block set past the table;
// false when the WAV's chunks are not where a simple file has them.
inline bool DamageImaBlock(const std::string& path, std::uint32_t block) {
  std::vector<std::uint8_t> bytes = FileBytes(path);
  std::uint16_t blockAlign = 0;
  for (std::size_t at = 12; at + 8 <= bytes.size();) {
    std::uint32_t size = 0;
    std::memcpy(&size, &bytes[at + 4], 4);
    if (std::memcmp(&bytes[at], "fmt ", 4) == 0 && at + 22 <= bytes.size())
      std::memcpy(&blockAlign, &bytes[at + 20], 2);
    if (std::memcmp(&bytes[at], "data", 4) == 0) {
      const std::size_t index = at + 8 + std::size_t{block} * blockAlign + 2;
      if (blockAlign == 0 || index >= bytes.size()) return false;
      bytes[index] = 0xFF;
      WriteFileBytes(path, bytes);
      return true;
    }
    at += 8 + size + (size & 1);
  }
  return false;
}

}  // namespace melvanto::testing
