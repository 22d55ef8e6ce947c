#include "pcm16.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

namespace melvanto {

namespace {

// One sample at full 32-bit scale.
std::int32_t Sample32(const std::uint8_t* p, unsigned bits) {
  switch (bits) {
    case 8: return static_cast<std::int32_t>((static_cast<std::uint32_t>(p[0]) - 128u) << 24);
    case 16: return static_cast<std::int32_t>((static_cast<std::uint32_t>(p[0]) << 16) | (static_cast<std::uint32_t>(p[1]) << 24));
    case 24:
      return static_cast<std::int32_t>((static_cast<std::uint32_t>(p[0]) << 8) | (static_cast<std::uint32_t>(p[1]) << 16) |
                                       (static_cast<std::uint32_t>(p[2]) << 24));
    default:
      return static_cast<std::int32_t>(p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<std::uint32_t>(p[3]) << 24));
  }
}

std::int16_t To16(double sample32) {
  const double v = std::nearbyint(sample32 / 65536.0);
  return static_cast<std::int16_t>(std::clamp(v, -32768.0, 32767.0));
}

struct Weights {
  double Left, Right;
};

// How much of input channel `i` of `n` goes to the left and right of a stereo mix, in the
// WAVE channel order (FL, FR, FC, LFE, BL, BR, SL, SR, ...).
Weights StereoWeights(unsigned i, unsigned n) {
  constexpr double kHalfPower = 0.7071067811865476;
  if (n == 1) return {1, 1};
  if (i == 0) return {1, 0};
  if (i == 1) return {0, 1};
  if (n == 4) return i == 2 ? Weights{1, 0} : Weights{0, 1};  // quad: back left, back right
  if (i == 2) return {kHalfPower, kHalfPower};                 // centre
  if (i == 3 && n >= 6) return {0, 0};                         // LFE
  // Surrounds alternate left and right.
  const unsigned k = n >= 6 ? i - 4 : i - 3;
  return k % 2 == 0 ? Weights{kHalfPower, 0} : Weights{0, kHalfPower};
}

}  // namespace

void ConvertToPcm16(const std::uint8_t* in, std::size_t frames, unsigned bits, unsigned inChannels,
                    unsigned outChannels, std::int16_t* out) {
  if (bits == 16 && inChannels == outChannels) {
    std::memcpy(out, in, frames * inChannels * 2);
    return;
  }
  const std::size_t bytes = bits / 8;
  const std::size_t frameBytes = bytes * inChannels;
  if (inChannels == outChannels) {
    for (std::size_t i = 0; i < frames * inChannels; ++i) out[i] = To16(Sample32(in + i * bytes, bits));
    return;
  }
  std::vector<Weights> w(inChannels);
  double sumLeft = 0, sumRight = 0;
  for (unsigned c = 0; c < inChannels; ++c) {
    w[c] = StereoWeights(c, inChannels);
    sumLeft += w[c].Left;
    sumRight += w[c].Right;
  }
  for (std::size_t f = 0; f < frames; ++f) {
    const std::uint8_t* frame = in + f * frameBytes;
    double left = 0, right = 0;
    for (unsigned c = 0; c < inChannels; ++c) {
      const double s = Sample32(frame + c * bytes, bits);
      left += w[c].Left * s;
      right += w[c].Right * s;
    }
    left /= sumLeft;
    right /= sumRight;
    if (outChannels == 1) {
      out[f] = To16((left + right) / 2);
    } else {
      out[2 * f] = To16(left);
      out[2 * f + 1] = To16(right);
    }
  }
}

}  // namespace melvanto
