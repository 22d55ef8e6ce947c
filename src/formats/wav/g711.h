#pragma once

#include <cstdint>

namespace melvanto::g711 {

// The 16-bit linear value of one G.711 code. The codes keep 13 (A-law) or 14 (mu-law)
// significant bits; they come out left-aligned in 16 bits, as other decoders give them.
std::int16_t ALawToLinear(std::uint8_t code);
std::int16_t MuLawToLinear(std::uint8_t code);

}  // namespace melvanto::g711
