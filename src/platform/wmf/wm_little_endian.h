#pragma once

// Little-endian numbers as ASF objects and FFmpeg's side data store them.

#include <cstdint>

namespace melvanto::wmf {

inline std::uint64_t LE64(const std::uint8_t* p) {
  std::uint64_t v = 0;
  for (int i = 7; i >= 0; --i) v = (v << 8) | p[i];
  return v;
}

inline std::uint32_t LE32(const std::uint8_t* p) {
  return std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]} << 16 |
         std::uint32_t{p[3]} << 24;
}

}  // namespace melvanto::wmf
