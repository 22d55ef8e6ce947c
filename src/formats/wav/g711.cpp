#include "g711.h"

#include <array>

namespace melvanto::g711 {
namespace {

// A-law: even bits are inverted for transmission; 3 bits of segment and 4 of step, the
// lowest segment linear. The value is the middle of the step's interval.
constexpr std::int16_t ExpandALaw(std::uint8_t code) {
  const int a = code ^ 0x55;
  const int segment = (a >> 4) & 0x07;
  int magnitude = ((a & 0x0F) << 4) + 8;
  if (segment > 0) magnitude = (magnitude + 0x100) << (segment - 1);
  return static_cast<std::int16_t>((a & 0x80) != 0 ? magnitude : -magnitude);
}

// mu-law: all bits inverted; the segments are offset by the bias 0x84 so that the first one
// starts at zero.
constexpr std::int16_t ExpandMuLaw(std::uint8_t code) {
  const int u = ~code & 0xFF;
  const int magnitude = ((((u & 0x0F) << 3) + 0x84) << ((u >> 4) & 0x07)) - 0x84;
  return static_cast<std::int16_t>((u & 0x80) != 0 ? -magnitude : magnitude);
}

template <std::int16_t (*Expand)(std::uint8_t)>
constexpr std::array<std::int16_t, 256> Table() {
  std::array<std::int16_t, 256> t{};
  for (int i = 0; i < 256; ++i) t[i] = Expand(static_cast<std::uint8_t>(i));
  return t;
}

constexpr auto kALaw = Table<ExpandALaw>();
constexpr auto kMuLaw = Table<ExpandMuLaw>();

}  // namespace

std::int16_t ALawToLinear(std::uint8_t code) { return kALaw[code]; }
std::int16_t MuLawToLinear(std::uint8_t code) { return kMuLaw[code]; }

}  // namespace melvanto::g711
