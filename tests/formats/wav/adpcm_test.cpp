// The ADPCM block codecs: table arithmetic, clamps, block layouts, encode/decode agreement.

#include "adpcm.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace melvanto::adpcm {
namespace {

std::vector<std::int16_t> ImaMono(TImaState s, std::vector<std::uint8_t> data) {
  std::vector<std::int16_t> out(2 * data.size() + 1);
  out.resize(ImaDecodeMono(s, data.data(), data.size(), out.data()));
  return out;
}

TEST(AdpcmTest, ImaDecodeFromRest) {
  // Predictor 0, index 0 (step 7): code 7 adds 0 + 7 + 3 + 1, code 15 subtracts it.
  EXPECT_EQ(ImaMono({0, 0}, {0x00}), (std::vector<std::int16_t>{0, 0, 0}));
  // Then code 0 at index 8 (step 16) still adds 16 >> 3.
  EXPECT_EQ(ImaMono({0, 0}, {0x07}), (std::vector<std::int16_t>{0, 11, 13}));
  EXPECT_EQ(ImaMono({0, 0}, {0x0F})[1], -11);
}

TEST(AdpcmTest, ImaClampsAtMinus32767AndKeepsTheIndexInRange) {
  // Repeated largest negative codes drive the predictor to the floor and the index to 88.
  const auto down = ImaMono({-30000, 88}, std::vector<std::uint8_t>(8, 0xFF));
  for (std::size_t i = 1; i < down.size(); ++i) EXPECT_EQ(down[i], -32767);
  const auto up = ImaMono({30000, 88}, std::vector<std::uint8_t>(8, 0x77));
  for (std::size_t i = 1; i < up.size(); ++i) EXPECT_EQ(up[i], 32767);
  // Index falls to 0 and stays: code 0 keeps adding step >> 3 of 7 = 0.
  const auto rest = ImaMono({5, 0}, std::vector<std::uint8_t>(4, 0x00));
  for (std::int16_t v : rest) EXPECT_EQ(v, 5);
}

TEST(AdpcmTest, ImaRejectsAStepIndexOutsideTheTable) {
  std::int16_t out[8];
  const std::uint8_t data[8] = {};
  EXPECT_EQ(ImaDecodeMono({0, 89}, data, 1, out), 0u);
  EXPECT_EQ(ImaDecodeStereo({0, 0}, {0, 200}, data, 8, out), 0u);
  EXPECT_EQ(ImaDecodeStereo({0, 0}, {0, 0}, data, 4, out), 0u);  // not a whole group of 8
}

TEST(AdpcmTest, ImaBlockSizes) {
  EXPECT_EQ(ImaMonoFrames(512), 1017u);
  EXPECT_EQ(ImaStereoFrames(512), 505u);
  EXPECT_EQ(ImaStereoFrames(1024), 1017u);
  std::vector<std::uint8_t> data(1016);
  std::vector<std::int16_t> out(2 * 1017);
  EXPECT_EQ(ImaDecodeStereo({1, 0}, {2, 0}, data.data(), data.size(), out.data()), 1017u);
  EXPECT_EQ(out[0], 1);
  EXPECT_EQ(out[1], 2);
}

TEST(AdpcmTest, ImaStereoLayoutTakesFourBytesPerChannelInTurn) {
  // Group of 8: bytes 0-3 first channel, 4-7 second; low nibble first.
  std::uint8_t data[8] = {0x07, 0, 0, 0, 0x0F, 0, 0, 0};
  std::int16_t out[18];
  ASSERT_EQ(ImaDecodeStereo({0, 0}, {0, 0}, data, 8, out), 9u);
  EXPECT_EQ(out[2], 11);   // first channel, code 7
  EXPECT_EQ(out[3], -11);  // second channel, code 15
}

TEST(AdpcmTest, ImaEncodeOfElevenFromRestIsCodeSevenAndDecodesBack) {
  std::vector<std::int16_t> samples(2 * (8 - 4), 11);
  std::uint8_t block[8];
  TImaState s{0, 0};
  ASSERT_TRUE(ImaEncodeMono(s, samples.data(), block, sizeof block));
  EXPECT_EQ(block[4] & 0x0F, 7);
  EXPECT_EQ(block[3], 0);  // reserved
  const auto decoded = ImaMono({0, 0}, {block + 4, block + 8});
  EXPECT_EQ(decoded[1], 11);
}

// A smooth signal survives an encode and decode within a few steps of the quantiser.
TEST(AdpcmTest, ImaEncodeDecodeAgreeOnSineInMonoAndStereo) {
  constexpr std::size_t kMonoBlock = 256, kStereoBlock = 512;
  const std::size_t monoCount = ImaMonoFrames(kMonoBlock);
  std::vector<std::int16_t> mono(monoCount);
  for (std::size_t i = 0; i < monoCount; ++i)
    mono[i] = static_cast<std::int16_t>(12000 * std::sin(i * 0.05));
  TImaState s{mono[0], 0};
  std::vector<std::uint8_t> block(kMonoBlock);
  ASSERT_TRUE(ImaEncodeMono(s, mono.data() + 1, block.data(), block.size()));
  EXPECT_EQ(block[2], 0);  // the header carries the start index
  std::vector<std::int16_t> back(monoCount);
  ASSERT_EQ(ImaDecodeMono({mono[0], 0}, block.data() + 4, kMonoBlock - 4, back.data()), monoCount);
  EXPECT_EQ(back[0], mono[0]);
  for (std::size_t i = 40; i < monoCount; ++i) EXPECT_NEAR(back[i], mono[i], 600) << i;
  EXPECT_EQ(s.Predictor, back.back());  // the state ends where the decoder ends

  const std::size_t frames = ImaStereoFrames(kStereoBlock);
  std::vector<std::int16_t> stereo(2 * frames);
  for (std::size_t i = 0; i < frames; ++i) {
    stereo[2 * i] = static_cast<std::int16_t>(9000 * std::sin(i * 0.03));
    stereo[2 * i + 1] = static_cast<std::int16_t>(-7000 * std::cos(i * 0.07));
  }
  TImaState l{stereo[0], 0}, r{stereo[1], 0};
  block.assign(kStereoBlock, 0);
  ASSERT_TRUE(ImaEncodeStereo(l, r, stereo.data() + 2, block.data(), block.size()));
  EXPECT_EQ(block[3], 0);
  EXPECT_EQ(block[7], 0);
  back.assign(2 * frames, 0);
  ASSERT_EQ(ImaDecodeStereo({stereo[0], 0}, {stereo[1], 0}, block.data() + 8, kStereoBlock - 8, back.data()),
            frames);
  for (std::size_t i = 40; i < frames; ++i) {
    EXPECT_NEAR(back[2 * i], stereo[2 * i], 600) << i;
    EXPECT_NEAR(back[2 * i + 1], stereo[2 * i + 1], 600) << i;
  }
  EXPECT_EQ(l.Predictor, back[2 * (frames - 1)]);
  EXPECT_EQ(r.Predictor, back[2 * (frames - 1) + 1]);
}

TEST(AdpcmTest, ImaEncodeRefusesBlocksTheLayoutCannotHold) {
  std::int16_t samples[64] = {};
  std::uint8_t block[64];
  TImaState l, r;
  EXPECT_FALSE(ImaEncodeMono(l, samples, block, 4));
  EXPECT_FALSE(ImaEncodeStereo(l, r, samples, block, 12));
  EXPECT_FALSE(ImaEncodeStereo(l, r, samples, block, 20));
  EXPECT_TRUE(ImaEncodeStereo(l, r, samples, block, 24));
}

TEST(AdpcmTest, MsDeltaFloorAndPredictionTowardZero) {
  const TMsCoef coefs[] = {{256, 0}, {0, 0}, {-256, 0}};
  std::int16_t out[8];
  // Pair (256, 0): the prediction is the first sample; code 0 adds nothing; delta 16 -> 14 -> 16.
  const std::uint8_t zero[1] = {0x00};
  ASSERT_EQ(MsDecodeMono({0, 16, 100, 50}, coefs, zero, 2, out), (2u + 2u) * 2u);
  EXPECT_EQ(out[0], 50);   // second sample first
  EXPECT_EQ(out[1], 100);  // then the first
  EXPECT_EQ(out[2], 100);
  EXPECT_EQ(out[3], 100);
  // 3 x -255 = -765, and -765 / 256 rounds toward zero to -2.
  const TMsCoef odd[] = {{-255, 0}};
  ASSERT_GT(MsDecodeMono({0, 16, 3, 0}, odd, zero, 2, out), 0u);
  EXPECT_EQ(out[2], -2);  // an arithmetic shift would give -3
}

TEST(AdpcmTest, MsBlockSizesAndLayouts) {
  const TMsCoef coefs[] = {{256, 0}};
  std::vector<std::uint8_t> data(498, 0x11);
  std::vector<std::int16_t> out(2 * 500);
  // Mono, 500 samples per block: 2 from the header and 498 coded in 249 bytes.
  EXPECT_EQ(MsDecodeMono({0, 16, 0, 0}, coefs, data.data(), 498, out.data()), 500u * 2u);
  // Stereo, 500 frames: 2 from the header and 498 coded, one byte each, high nibble first channel.
  data.assign(498, 0x1F);
  EXPECT_EQ(MsDecodeStereo({0, 16, 0, 0}, {0, 16, 0, 0}, coefs, data.data(), 498, out.data()), 500u * 4u);
  EXPECT_EQ(out[4], 16);   // first channel, code 1 x delta 16
  EXPECT_EQ(out[5], -16);  // second channel, code 15 = -1
}

TEST(AdpcmTest, MsRejectsAPredictorIndexBeyondTheFilesPairs) {
  const TMsCoef coefs[] = {{256, 0}, {512, -256}};
  std::int16_t out[8];
  const std::uint8_t data[2] = {};
  EXPECT_EQ(MsDecodeMono({2, 16, 0, 0}, coefs, data, 2, out), 0u);
  EXPECT_EQ(MsDecodeStereo({0, 16, 0, 0}, {7, 16, 0, 0}, coefs, data, 1, out), 0u);
}

TEST(AdpcmTest, MsExtremeHistoryDoesNotOverflow) {
  const TMsCoef coefs[] = {{-32768, -32768}};
  std::int16_t out[4];
  const std::uint8_t data[1] = {0x77};
  EXPECT_EQ(MsDecodeMono({0, 32767, -32768, -32768}, coefs, data, 2, out), 8u);
  // 2 x 2^30 wraps in 32 bits as in the reference arithmetic, then clamps; no overflow trap.
  EXPECT_EQ(out[2], -32768);
}

}  // namespace
}  // namespace melvanto::adpcm
