#include "adpcm.h"

#include <algorithm>
#include <cstring>

namespace melvanto::adpcm {
namespace {

constexpr std::int32_t kStepTable[89] = {
    7,     8,     9,     10,    11,    12,    13,    14,    16,    17,    19,    21,    23,
    25,    28,    31,    34,    37,    41,    45,    50,    55,    60,    66,    73,    80,
    88,    97,    107,   118,   130,   143,   157,   173,   190,   209,   230,   253,   279,
    307,   337,   371,   408,   449,   494,   544,   598,   658,   724,   796,   876,   963,
    1060,  1166,  1282,  1411,  1552,  1707,  1878,  2066,  2272,  2499,  2749,  3024,  3327,
    3660,  4026,  4428,  4871,  5358,  5894,  6484,  7132,  7845,  8630,  9493,  10442, 11487,
    12635, 13899, 15289, 16818, 18500, 20350, 22385, 24623, 27086, 29794, 32767};

constexpr std::int32_t kIndexTable[16] = {-1, -1, -1, -1, 2, 4, 6, 8, -1, -1, -1, -1, 2, 4, 6, 8};

constexpr std::int32_t kAdaptationTable[16] = {230, 230, 230, 230, 307, 409, 512, 614,
                                               768, 614, 512, 409, 307, 230, 230, 230};

// Decoding and encoding share this update: the predictor moves by the code's difference
// (clamped at -32,767, not -32,768) and the step index by the index table.
struct ImaChannel {
  std::int32_t predictor;
  std::int32_t index;

  std::int16_t Apply(unsigned code) {
    const std::int32_t step = kStepTable[index];
    std::int32_t diff = step >> 3;
    if (code & 4) diff += step;
    if (code & 2) diff += step >> 1;
    if (code & 1) diff += step >> 2;
    predictor = (code & 8) ? predictor - diff : predictor + diff;
    predictor = std::clamp(predictor, -32767, 32767);
    index = std::clamp(index + kIndexTable[code], 0, kImaMaxStepIndex);
    return static_cast<std::int16_t>(predictor);
  }

  unsigned Encode(std::int32_t sample) {
    std::int32_t d = sample - predictor;
    unsigned code = 0;
    if (d < 0) {
      code = 8;
      d = -d;
    }
    const std::int32_t step = kStepTable[index];
    if (d >= step) {
      code |= 4;
      d -= step;
    }
    if (d >= (step >> 1)) {
      code |= 2;
      d -= step >> 1;
    }
    if (d >= (step >> 2)) code |= 1;
    Apply(code);
    return code;
  }
};

ImaChannel Channel(const TImaState& s) { return {s.Predictor, s.StepIndex}; }

// Signed division by 256 that rounds toward zero, as the format's reference arithmetic does.
constexpr std::int32_t Div256(std::int32_t v) { return v / 256; }

struct MsChannel {
  std::int32_t c1, c2, delta, s1, s2;

  std::int16_t Apply(unsigned code) {
    // 32-bit arithmetic that wraps like the reference rather than overflowing.
    const auto sum = static_cast<std::int32_t>(static_cast<std::uint32_t>(
        static_cast<std::int64_t>(s1) * c1 + static_cast<std::int64_t>(s2) * c2));
    const std::int32_t pred = Div256(sum);
    const std::int32_t signedCode = code >= 8 ? static_cast<std::int32_t>(code) - 16 : static_cast<std::int32_t>(code);
    const std::int32_t v = std::clamp(pred + signedCode * delta, -32768, 32767);
    delta = static_cast<std::int16_t>(Div256(delta * kAdaptationTable[code]));
    if (delta < 16) delta = 16;
    s2 = s1;
    s1 = v;
    return static_cast<std::int16_t>(v);
  }
};

bool MsChannelOf(const TMsState& s, std::span<const TMsCoef> coefs, MsChannel& out) {
  if (s.PredictorIndex >= coefs.size()) return false;
  const TMsCoef& c = coefs[s.PredictorIndex];
  out = {c.Coef1, c.Coef2, s.Delta, s.Sample1, s.Sample2};
  return true;
}

void PutHeader(std::uint8_t* at, const TImaState& s) {
  const auto p = static_cast<std::uint16_t>(s.Predictor);
  at[0] = static_cast<std::uint8_t>(p & 0xFF);
  at[1] = static_cast<std::uint8_t>(p >> 8);
  at[2] = s.StepIndex;
  at[3] = 0;
}

// Position of code k of one channel in a stereo block's data: groups of 8 bytes, the first
// four for the first channel, the next four for the second.
constexpr std::size_t StereoByte(std::size_t k, std::size_t channel) {
  return 8 * (k / 8) + 4 * channel + (k % 8) / 2;
}

}  // namespace

std::size_t ImaDecodeMono(TImaState state, const std::uint8_t* data, std::size_t n, std::int16_t* out) {
  if (state.StepIndex > kImaMaxStepIndex) return 0;
  ImaChannel ch = Channel(state);
  out[0] = state.Predictor;
  std::int16_t* o = out + 1;
  for (std::size_t b = 0; b < n; ++b) {
    *o++ = ch.Apply(data[b] & 0x0F);
    *o++ = ch.Apply(data[b] >> 4);
  }
  return 2 * n + 1;
}

std::size_t ImaDecodeStereo(TImaState left, TImaState right, const std::uint8_t* data, std::size_t n,
                            std::int16_t* out) {
  if (left.StepIndex > kImaMaxStepIndex || right.StepIndex > kImaMaxStepIndex || n % 8 != 0) return 0;
  ImaChannel ch[2] = {Channel(left), Channel(right)};
  out[0] = left.Predictor;
  out[1] = right.Predictor;
  for (std::size_t c = 0; c < 2; ++c) {
    std::int16_t* o = out + 2 + c;
    for (std::size_t k = 0; k < n; ++k, o += 2) {
      const std::uint8_t byte = data[StereoByte(k, c)];
      *o = ch[c].Apply(k % 2 == 0 ? byte & 0x0F : byte >> 4);
    }
  }
  return n + 1;
}

std::size_t MsDecodeMono(TMsState state, std::span<const TMsCoef> coefs, const std::uint8_t* data,
                         std::size_t n, std::int16_t* out) {
  MsChannel ch{};
  if (!MsChannelOf(state, coefs, ch)) return 0;
  out[0] = state.Sample2;
  out[1] = state.Sample1;
  std::int16_t* o = out + 2;
  for (std::size_t b = 0; b < n / 2; ++b) {
    *o++ = ch.Apply(data[b] >> 4);
    *o++ = ch.Apply(data[b] & 0x0F);
  }
  return (2 + 2 * (n / 2)) * 2;
}

std::size_t MsDecodeStereo(TMsState left, TMsState right, std::span<const TMsCoef> coefs,
                           const std::uint8_t* data, std::size_t n, std::int16_t* out) {
  MsChannel l{}, r{};
  if (!MsChannelOf(left, coefs, l) || !MsChannelOf(right, coefs, r)) return 0;
  out[0] = left.Sample2;
  out[1] = right.Sample2;
  out[2] = left.Sample1;
  out[3] = right.Sample1;
  std::int16_t* o = out + 4;
  for (std::size_t b = 0; b < n; ++b) {
    *o++ = l.Apply(data[b] >> 4);
    *o++ = r.Apply(data[b] & 0x0F);
  }
  return (4 + 2 * n) * 2;
}

bool ImaEncodeMono(TImaState& state, const std::int16_t* samples, std::uint8_t* block, std::size_t blockAlign) {
  if (blockAlign < 5 || state.StepIndex > kImaMaxStepIndex) return false;
  std::memset(block, 0, blockAlign);
  PutHeader(block, state);
  ImaChannel ch = Channel(state);
  const std::size_t codes = 2 * (blockAlign - 4);
  for (std::size_t k = 0; k < codes; ++k) {
    const unsigned q = ch.Encode(samples[k]);
    if (k % 2 == 0)
      block[4 + k / 2] = static_cast<std::uint8_t>(q);
    else
      block[4 + k / 2] |= static_cast<std::uint8_t>(q << 4);
  }
  state.StepIndex = static_cast<std::uint8_t>(ch.index);
  state.Predictor = static_cast<std::int16_t>(ch.predictor);
  return true;
}

bool ImaEncodeStereo(TImaState& left, TImaState& right, const std::int16_t* frames, std::uint8_t* block,
                     std::size_t blockAlign) {
  if (blockAlign < 16 || (blockAlign - 8) % 8 != 0 || left.StepIndex > kImaMaxStepIndex ||
      right.StepIndex > kImaMaxStepIndex)
    return false;
  std::memset(block, 0, blockAlign);
  PutHeader(block, left);
  PutHeader(block + 4, right);
  TImaState* states[2] = {&left, &right};
  const std::size_t codes = blockAlign - 8;
  for (std::size_t c = 0; c < 2; ++c) {
    ImaChannel ch = Channel(*states[c]);
    for (std::size_t k = 0; k < codes; ++k) {
      const unsigned q = ch.Encode(frames[2 * k + c]);
      std::uint8_t& byte = block[8 + StereoByte(k, c)];
      if (k % 2 == 0)
        byte = static_cast<std::uint8_t>(q);
      else
        byte |= static_cast<std::uint8_t>(q << 4);
    }
    states[c]->StepIndex = static_cast<std::uint8_t>(ch.index);
    states[c]->Predictor = static_cast<std::int16_t>(ch.predictor);
  }
  return true;
}

}  // namespace melvanto::adpcm
