#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace melvanto::adpcm {

// IMA/DVI ADPCM: one channel's predictor and step index (0..88).
struct TImaState {
  std::int16_t Predictor = 0;
  std::uint8_t StepIndex = 0;
};

// Microsoft ADPCM: one channel's coefficient pair number, delta and the two most recent
// samples (Sample1 the newer one).
struct TMsState {
  std::uint8_t PredictorIndex = 0;
  std::int16_t Delta = 0;
  std::int16_t Sample1 = 0;
  std::int16_t Sample2 = 0;
};

struct TMsCoef {
  std::int16_t Coef1 = 0;
  std::int16_t Coef2 = 0;
};

constexpr int kImaMaxStepIndex = 88;

// Block sizes: frames a block of blockAlign bytes holds (header frame included).
constexpr std::size_t ImaMonoFrames(std::size_t blockAlign) { return 2 * (blockAlign - 4) + 1; }
constexpr std::size_t ImaStereoFrames(std::size_t blockAlign) { return blockAlign - 8 + 1; }

// The decoders write 16-bit samples to out and take the channel state from the block
// header; a state that would index outside the tables (step index above 88, predictor
// index not below coefs.size()) decodes nothing and returns 0.

// n data bytes give 2n + 1 samples; returns the sample count.
std::size_t ImaDecodeMono(TImaState state, const std::uint8_t* data, std::size_t n, std::int16_t* out);
// n data bytes (a multiple of 8) give n + 1 interleaved frames; returns the frame count,
// 0 when n is not a multiple of 8.
std::size_t ImaDecodeStereo(TImaState left, TImaState right, const std::uint8_t* data, std::size_t n,
                            std::int16_t* out);

// n = samples per block - 2 coded samples, read from n / 2 data bytes; returns the bytes
// written, (2 + 2 (n / 2)) * 2.
std::size_t MsDecodeMono(TMsState state, std::span<const TMsCoef> coefs, const std::uint8_t* data,
                         std::size_t n, std::int16_t* out);
// n coded frames, one data byte each; returns the bytes written, (4 + 2n) * 2.
std::size_t MsDecodeStereo(TMsState left, TMsState right, std::span<const TMsCoef> coefs,
                           const std::uint8_t* data, std::size_t n, std::int16_t* out);

// Fill a block of blockAlign bytes. The caller sets each Predictor to the channel's first
// sample of the block; samples are the block's following 2 (blockAlign - 4) samples (mono)
// or blockAlign - 8 frames (stereo, interleaved). The states carry the step indexes (and
// predictors) on to the next block. Returns false for a block size the layout cannot hold
// (mono below 5 bytes; stereo below 16 or not 8 + a multiple of 8).
bool ImaEncodeMono(TImaState& state, const std::int16_t* samples, std::uint8_t* block, std::size_t blockAlign);
bool ImaEncodeStereo(TImaState& left, TImaState& right, const std::int16_t* frames, std::uint8_t* block,
                     std::size_t blockAlign);

}  // namespace melvanto::adpcm
