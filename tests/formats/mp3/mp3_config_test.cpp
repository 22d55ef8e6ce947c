// The encoder configuration record that TMP3Out hands to LAME, byte for byte, and the
// conversion of any PCM to what the encoder takes.

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "mp3_out.h"
#include "pcm16.h"

namespace melvanto::testing {
namespace {

namespace c = lame_config;

std::int32_t Field(const TLameConfig& r, std::size_t offset) { return static_cast<std::int32_t>(GetConfig32(r, offset)); }

TEST(Mp3Config, DefaultsByteForByte) {
  TMP3Out out;
  const TLameConfig r = out.MakeConfig(44100, 2);
  TLameConfig expected{};
  const std::pair<std::size_t, std::uint32_t> fields[] = {
      {c::kConfigKind, 256}, {c::kStructVersion, 1}, {c::kStructSize, 331}, {c::kSampleRate, 44100},
      {c::kMode, 0},         {c::kBitrate, 128},     {c::kOriginal, 0xFFFFFFFF}, {c::kVbrMethod, 2},
  };
  for (const auto& [offset, value] : fields) PutConfig32(expected, offset, value);
  EXPECT_EQ(r, expected);
  EXPECT_EQ(r.size(), 331u);
}

TEST(Mp3Config, ChannelModes) {
  TMP3Out out;
  out.SetMode(TMP3Mode::mmJointStereo);
  EXPECT_EQ(Field(out.MakeConfig(44100, 2), c::kMode), 1);
  EXPECT_EQ(Field(out.MakeConfig(44100, 1), c::kMode), 3);  // mono input is always mono
  out.SetMode(TMP3Mode::mmDual);
  EXPECT_EQ(Field(out.MakeConfig(44100, 2), c::kMode), 0);  // dual channel is written as stereo
  out.SetMode(TMP3Mode::mmMono);
  EXPECT_EQ(Field(out.MakeConfig(44100, 2), c::kMode), 3);
}

TEST(Mp3Config, BitRatesAndVbr) {
  TMP3Out out;
  out.SetBitRate(TMP3BitRate::mbrAuto);
  out.SetVBRQuality(TMP3Quality::mp3ql4);
  TLameConfig r = out.MakeConfig(8000, 1);
  EXPECT_EQ(Field(r, c::kBitrate), 0);
  EXPECT_EQ(Field(r, c::kMaxBitrate), 0);
  EXPECT_EQ(Field(r, c::kVbrQuality), 0);  // the quality only counts with VBR on
  EXPECT_EQ(Field(r, c::kEnableVbr), 0);
  EXPECT_EQ(Field(r, c::kWriteVbrHeader), 0);

  out.SetEnableVBR(true);
  out.SetBitRate(TMP3BitRate::mbr32);
  out.SetMaximumBitrate(TMP3BitRate::mbr320);
  r = out.MakeConfig(48000, 2);
  EXPECT_EQ(Field(r, c::kVbrQuality), 4);
  EXPECT_EQ(Field(r, c::kEnableVbr), -1);
  EXPECT_EQ(Field(r, c::kWriteVbrHeader), -1);
  EXPECT_EQ(Field(r, c::kBitrate), 32);
  EXPECT_EQ(Field(r, c::kMaxBitrate), 320);
  EXPECT_EQ(Field(r, c::kVbrMethod), 2);
  EXPECT_EQ(Field(r, c::kVbrAbrBps), 0);

  out.SetAverageBitrate(TMP3BitRate::mbr160);
  r = out.MakeConfig(48000, 2);
  EXPECT_EQ(Field(r, c::kVbrMethod), 4);
  EXPECT_EQ(Field(r, c::kVbrAbrBps), 160000);

  const std::pair<TMP3BitRate, int> table[] = {{TMP3BitRate::mbr40, 40}, {TMP3BitRate::mbr112, 112},
                                               {TMP3BitRate::mbr144, 144}, {TMP3BitRate::mbr224, 224},
                                               {TMP3BitRate::mbr320, 320}};
  for (const auto& [rate, kbps] : table) EXPECT_EQ(BitRateKbps(rate), static_cast<std::uint32_t>(kbps));
}

TEST(Mp3Config, Flags) {
  TMP3Out out;
  out.SetCRC(true);
  out.SetCopyright(true);
  out.SetOriginal(false);
  out.SetEnableBitReservoir(false);
  out.SetStrictISO(true);
  const TLameConfig r = out.MakeConfig(44100, 2);
  EXPECT_EQ(Field(r, c::kCrc), -1);
  EXPECT_EQ(Field(r, c::kCopyright), -1);
  EXPECT_EQ(Field(r, c::kOriginal), 0);
  EXPECT_EQ(Field(r, c::kNoReservoir), -1);
  EXPECT_EQ(Field(r, c::kStrictIso), -1);
  // Everything else stays zero: preset, MPEG version, model, emphasis, private, quality, reserved.
  for (std::size_t o : {c::kPreset, c::kMpegVersion, c::kPsyModel, c::kEmphasis, c::kPrivate, c::kReSampleRate})
    EXPECT_EQ(Field(r, o), 0) << o;
  for (std::size_t i = c::kQuality; i < c::kSize; ++i) EXPECT_EQ(r[i], 0) << i;
}

// ---- PCM for the encoder ----

std::vector<std::int16_t> Convert(const std::vector<std::uint8_t>& in, unsigned bits, unsigned inCh, unsigned outCh) {
  const std::size_t frames = in.size() / (bits / 8) / inCh;
  std::vector<std::int16_t> out(frames * outCh);
  ConvertToPcm16(in.data(), frames, bits, inCh, outCh, out.data());
  return out;
}

TEST(Pcm16, WidthsScaleToSixteenBits) {
  EXPECT_EQ(Convert({0, 128, 255}, 8, 1, 1), (std::vector<std::int16_t>{-32768, 0, 32512}));
  EXPECT_EQ(Convert({0x00, 0x34, 0x12, 0xFF, 0xFF, 0xFF}, 24, 1, 1), (std::vector<std::int16_t>{0x1234, 0}));
  EXPECT_EQ(Convert({0x00, 0x00, 0x00, 0x80, 0xFF, 0xFF, 0xFF, 0x7F}, 32, 1, 1),
            (std::vector<std::int16_t>{-32768, 32767}));
  EXPECT_EQ(Convert({0x01, 0x02, 0x03, 0x04}, 16, 2, 2), (std::vector<std::int16_t>{0x0201, 0x0403}));
}

TEST(Pcm16, ChannelsMixDownWithoutClipping) {
  // Stereo to mono averages.
  auto le16 = [](std::initializer_list<int> v) {
    std::vector<std::uint8_t> b;
    // Two push_backs: GCC 12 warns (wrongly) on inserting an initializer list here.
    for (int s : v) {
      b.push_back(static_cast<std::uint8_t>(s));
      b.push_back(static_cast<std::uint8_t>(s >> 8));
    }
    return b;
  };
  EXPECT_EQ(Convert(le16({1000, 3000, -32768, -32768}), 16, 2, 1), (std::vector<std::int16_t>{2000, -32768}));
  // 5.1 at full scale on every channel stays at full scale, and the LFE alone is left out.
  EXPECT_EQ(Convert(le16({32767, 32767, 32767, 32767, 32767, 32767}), 16, 6, 2),
            (std::vector<std::int16_t>{32767, 32767}));
  EXPECT_EQ(Convert(le16({0, 0, 0, 20000, 0, 0}), 16, 6, 2), (std::vector<std::int16_t>{0, 0}));
  // Front left goes left only, front right right only.
  const auto lr = Convert(le16({10000, 0, 0, 0, 0, 0}), 16, 6, 2);
  EXPECT_GT(lr[0], 0);
  EXPECT_EQ(lr[1], 0);
  // Quad: back channels join their sides.
  EXPECT_EQ(Convert(le16({1000, 2000, 3000, 4000}), 16, 4, 2), (std::vector<std::int16_t>{2000, 3000}));
}

}  // namespace
}  // namespace melvanto::testing
