// Reading WAV files built byte by byte: the header walk, every encoding, delivery and seeking.

#include "wave_in.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>

#include "fakes.h"
#include "g711.h"
#include "wav_builder.h"

namespace melvanto::testing {
namespace {

// A reader over an in-memory image, pulled to the end in requests of `want` bytes.
struct Reader {
  explicit Reader(std::vector<std::uint8_t> image) : stream(std::move(image)) { in.SetStream(&stream); }
  ~Reader() { in.SetStream(nullptr); }
  std::vector<std::uint8_t> Drain(std::uint32_t want = 65536, std::vector<std::uint32_t>* sizes = nullptr) {
    in.Init();
    std::vector<std::uint8_t> out = testing::Drain(in, want, sizes);
    in.Flush();
    return out;
  }
  TMemoryStream stream;
  TWaveIn in;
};

std::vector<std::int16_t> AsInt16(const std::vector<std::uint8_t>& bytes) {
  std::vector<std::int16_t> v(bytes.size() / 2);
  std::memcpy(v.data(), bytes.data(), v.size() * 2);
  return v;
}

TEST(WaveInTest, CanonicalPcmFile) {
  const auto pcm = Ramp(4000);
  Reader r(PcmWav(pcm, 2, 44100, 16));
  EXPECT_TRUE(r.in.Valid());
  EXPECT_EQ(r.in.WavType(), TWavType::wtPCM);
  EXPECT_EQ(r.in.HeaderSize(), 44);
  EXPECT_EQ(r.in.Channels(), 2u);
  EXPECT_EQ(r.in.SampleRate(), 44100u);
  EXPECT_EQ(r.in.BitsPerSample(), 16u);
  EXPECT_EQ(r.in.TotalSamples(), 1000);
  EXPECT_EQ(r.Drain(), pcm);
}

TEST(WaveInTest, WalkToleratesCaseJunkOddChunksAndAnyRiffSize) {
  const auto pcm = Ramp(300);
  WavBuilder b;
  b.Raw("junk!").Raw("riff").U32(0xDEADBEEF).Raw("wave");
  b.Chunk("FMT ", WavBuilder::Fmt(1, 1, 8000, 1, 8));
  b.Chunk("LIST", {1, 2, 3});  // odd body: the next identifier follows at once, no pad byte
  b.Chunk("DaTa", pcm);
  Reader r(b.Get());
  ASSERT_TRUE(r.in.Valid());
  EXPECT_EQ(r.in.HeaderSize(), 5 + 12 + 24 + 11 + 8);
  EXPECT_EQ(r.Drain(), pcm);  // 8-bit stays unsigned bytes
}

TEST(WaveInTest, RefusedHeadersAreNotValidAndDeliverNothing) {
  const auto pcm = Ramp(64);
  std::vector<std::vector<std::uint8_t>> bad;
  {  // IMA/DVI with its data before any fact chunk
    WavBuilder b;
    auto fmt = WavBuilder::Fmt(0x11, 1, 8000, 256, 4);
    fmt.insert(fmt.end(), {2, 0, 0xF9, 0x01});
    b.Riff().Chunk("fmt ", fmt).Chunk("data", pcm);
    bad.push_back(b.Get());
  }
  {  // extensible with an unknown sub-format
    WavBuilder b;
    auto fmt = WavBuilder::Fmt(0xFFFE, 2, 8000, 4, 16);
    fmt.insert(fmt.end(), {22, 0, 16, 0, 3, 0, 0, 0});
    fmt.insert(fmt.end(), 16, 0x42);
    b.Riff().Chunk("fmt ", fmt).Chunk("data", pcm);
    bad.push_back(b.Get());
  }
  {  // a chunk that claims more than the file holds
    WavBuilder b;
    b.Riff().Chunk("fmt ", WavBuilder::Fmt(1, 1, 8000, 1, 8)).Raw("LIST").U32(1 << 30).Raw("data");
    bad.push_back(b.Get());
  }
  {  // fmt body shorter than its fields
    WavBuilder b;
    b.Riff().Chunk("fmt ", {1, 0, 1, 0}).Chunk("data", pcm);
    bad.push_back(b.Get());
  }
  {  // MS ADPCM listing more than 32 coefficient pairs
    WavBuilder b;
    auto fmt = WavBuilder::Fmt(2, 1, 8000, 256, 4);
    fmt.insert(fmt.end(), {32 + 4 * 33, 0, 0xF4, 0x01, 33, 0});
    fmt.insert(fmt.end(), 4 * 33, 0);
    b.Riff().Chunk("fmt ", fmt).Chunk("fact", {0, 1, 0, 0}).Chunk("data", pcm);
    bad.push_back(b.Get());
  }
  bad.push_back(PcmWav(pcm, 0, 8000, 16));   // no channels
  bad.push_back(PcmWav(pcm, 2, 8000, 12));   // not whole bytes
  bad.push_back(PcmWav(pcm, 2, 0, 16));      // no rate
  bad.push_back({'R', 'I', 'F', 'F'});       // nothing after the start
  bad.push_back(std::vector<std::uint8_t>(70000, 'x'));  // nothing in the window
  for (std::size_t i = 0; i < bad.size(); ++i) {
    Reader r(bad[i]);
    EXPECT_FALSE(r.in.Valid()) << "case " << i;
    EXPECT_TRUE(r.Drain().empty()) << "case " << i;
  }
}

TEST(WaveInTest, ExtensiblePcmIsDeliveredAsItsContainerWidth) {
  const auto pcm = Ramp(6 * 3 * 50);
  WavBuilder b;
  auto fmt = WavBuilder::Fmt(0xFFFE, 6, 48000, 18, 24);
  fmt.insert(fmt.end(), {22, 0, 20, 0, 0x3F, 0, 0, 0});
  fmt.insert(fmt.end(), std::begin(kSubFormatPcm), std::end(kSubFormatPcm));
  b.Riff().Chunk("fmt ", fmt).Chunk("data", pcm);
  Reader r(b.Get());
  ASSERT_TRUE(r.in.Valid());
  EXPECT_EQ(r.in.WavType(), TWavType::wtExtPCM);
  EXPECT_EQ(r.in.BitsPerSample(), 24u);
  EXPECT_EQ(r.in.Channels(), 6u);
  std::vector<std::uint32_t> sizes;
  EXPECT_EQ(r.Drain(1000, &sizes), pcm);
  for (auto s : sizes) EXPECT_EQ(s % 18, 0u);  // whole frames only
}

TEST(WaveInTest, FloatScaleAndFloor) {
  EXPECT_EQ(FloatSampleToInt32(1.0L), 2147483647);
  EXPECT_EQ(FloatSampleToInt32(7.5L), 2147483647);
  EXPECT_EQ(FloatSampleToInt32(-1.0L), -2147483647 - 1);
  EXPECT_EQ(FloatSampleToInt32(0.0L), 0);
  EXPECT_EQ(FloatSampleToInt32(0.5L), 1073741823);   // 1073741823.5 floored
  EXPECT_EQ(FloatSampleToInt32(-0.5L), -1073741824);  // floored, not toward zero
  EXPECT_EQ(FloatSampleToInt32(NAN), 0);
}

TEST(WaveInTest, SixtyFourBitFloatReportsHalfTheBytesAndConverts) {
  const double samples[] = {1.0, -1.0, 0.0, 0.5, 0.25, -0.75};
  std::vector<std::uint8_t> data(sizeof samples);
  std::memcpy(data.data(), samples, sizeof samples);
  WavBuilder b;
  b.Riff().Chunk("fmt ", WavBuilder::Fmt(3, 2, 44100, 16, 64)).Chunk("data", data);
  Reader r(b.Get());
  ASSERT_TRUE(r.in.Valid());
  EXPECT_EQ(r.in.BitsPerSample(), 32u);
  r.in.Init();
  EXPECT_EQ(r.in.Size(), static_cast<std::int64_t>(data.size() / 2));
  r.in.Flush();
  const auto got = r.Drain();
  std::vector<std::int32_t> ints(got.size() / 4);
  std::memcpy(ints.data(), got.data(), got.size());
  EXPECT_EQ(ints, (std::vector<std::int32_t>{2147483647, -2147483647 - 1, 0, 1073741823, 536870911,
                                             -1610612736}));
}

// An IMA/DVI file around blocks we encode ourselves from a known signal.
std::vector<std::uint8_t> ImaWav(std::uint16_t channels, std::uint16_t blockAlign, int blocks,
                                 std::uint32_t factFrames, std::vector<std::int16_t>* pcmOut = nullptr,
                                 std::uint16_t bits = 4) {
  const std::size_t perBlock = channels == 2 ? adpcm::ImaStereoFrames(blockAlign) : adpcm::ImaMonoFrames(blockAlign);
  std::vector<std::uint8_t> data;
  adpcm::TImaState st[2];
  for (int k = 0; k < blocks; ++k) {
    std::vector<std::int16_t> pcm(perBlock * channels);
    for (std::size_t i = 0; i < pcm.size(); ++i)
      pcm[i] = static_cast<std::int16_t>(8000 * std::sin((k * perBlock * channels + i) * 0.01));
    if (pcmOut) pcmOut->insert(pcmOut->end(), pcm.begin(), pcm.end());
    std::vector<std::uint8_t> block(blockAlign);
    st[0].Predictor = pcm[0];
    if (channels == 2) {
      st[1].Predictor = pcm[1];
      adpcm::ImaEncodeStereo(st[0], st[1], pcm.data() + 2, block.data(), blockAlign);
    } else {
      adpcm::ImaEncodeMono(st[0], pcm.data() + 1, block.data(), blockAlign);
    }
    data.insert(data.end(), block.begin(), block.end());
  }
  return ImaAdpcmWav(channels, blockAlign, static_cast<std::uint16_t>(perBlock), factFrames, data, bits);
}

// The IMA step table as published, index 0 to 88.
constexpr std::int32_t kImaSteps[89] = {
    7,     8,     9,     10,    11,    12,    13,    14,    16,    17,    19,    21,    23,    25,    28,
    31,    34,    37,    41,    45,    50,    55,    60,    66,    73,    80,    88,    97,    107,   118,
    130,   143,   157,   173,   190,   209,   230,   253,   279,   307,   337,   371,   408,   449,   494,
    544,   598,   658,   724,   796,   876,   963,   1060,  1166,  1282,  1411,  1552,  1707,  1878,  2066,
    2272,  2499,  2749,  3024,  3327,  3660,  4026,  4428,  4871,  5358,  5894,  6484,  7132,  7845,  8630,
    9493,  10442, 11487, 12635, 13899, 15289, 16818, 18500, 20350, 22385, 24623, 27086, 29794, 32767};

TEST(WaveInTest, ImaStepIndexClimbsTo88AndStaysThere) {
  const std::vector<std::uint8_t> block = ImaTopOfTableBlock();
  Reader r(OneBlockImaMonoWav(block));
  ASSERT_TRUE(r.in.Valid());
  const auto got = AsInt16(r.Drain());

  // Codes 7 and 15 have every magnitude bit: the predictor moves by the step shifted right by
  // 3, 0, 1 and 2, added up, and the index rises by 8 until the table ends.
  std::vector<std::int16_t> expected = {-32000};
  std::int32_t predictor = -32000, index = 0;
  for (std::size_t i = 4; i < block.size(); ++i) {
    for (const int code : {block[i] & 0x0F, block[i] >> 4}) {
      const std::int32_t step = kImaSteps[index];
      const std::int32_t diff = (step >> 3) + step + (step >> 1) + (step >> 2);
      // The decoder clamps at -32767, not -32768, going down.
      predictor = std::clamp(code == 7 ? predictor + diff : predictor - diff, -32767, 32767);
      index = std::min(index + 8, 88);
      expected.push_back(static_cast<std::int16_t>(predictor));
    }
  }
  EXPECT_EQ(got, expected);
  ASSERT_EQ(got.size(), 33u);
  EXPECT_EQ(got[11], 21705);  // index 88 reached below the ceiling
  EXPECT_EQ(got[12], 32767);
  EXPECT_EQ(got[14], 32767);
  // At index 88 (step 32767) a fall of 61,436 and a rise of as much, over and over.
  for (std::size_t i = 15; i < 23; i += 2) {
    EXPECT_EQ(got[i], -28669) << i;
    EXPECT_EQ(got[i + 1], 32767) << i;
  }
  EXPECT_EQ(got[23], -28669);
  for (std::size_t i = 24; i < got.size(); ++i) EXPECT_EQ(got[i], -32767) << i;
}

TEST(WaveInTest, ImaBlocksDecodeToTheirFrameCountAndStopAtTheFactCount) {
  for (std::uint16_t channels : {1, 2}) {
    SCOPED_TRACE(channels);
    const std::uint16_t align = channels == 2 ? 1024 : 512;  // 1,017 frames a block either way
    std::vector<std::int16_t> pcm;
    Reader r(ImaWav(channels, align, 3, 2500, &pcm));
    ASSERT_TRUE(r.in.Valid());
    EXPECT_EQ(r.in.BitsPerSample(), 16u);
    std::vector<std::uint32_t> sizes;
    const auto got = AsInt16(r.Drain(65536, &sizes));
    ASSERT_EQ(got.size(), 2500u * channels);
    EXPECT_EQ(sizes[0], 1017u * 2 * channels);  // one call never spans two blocks
    for (std::size_t i = 0; i < got.size(); ++i) ASSERT_NEAR(got[i], pcm[i], 400) << i;
  }
}

TEST(WaveInTest, ImaWithThreeBitsOrBadLayoutIsNotValid) {
  Reader threeBits(ImaWav(1, 256, 1, 100, nullptr, 3));
  EXPECT_FALSE(threeBits.in.Valid());
  Reader oddStereo(ImaWav(2, 260, 1, 100));  // 252 data bytes: not groups of 8
  EXPECT_FALSE(oddStereo.in.Valid());
}

TEST(WaveInTest, SeekIntoAnAdpcmBlockStartsAtThatBlock) {
  std::vector<std::int16_t> pcm;
  Reader r(ImaWav(1, 512, 3, 3 * 1017, &pcm));
  r.in.Init();
  ASSERT_TRUE(r.in.Seek(1017 + 500));
  const std::uint8_t* block = nullptr;
  std::uint32_t bytes = 8;
  r.in.GetData(block, bytes);
  ASSERT_EQ(bytes, 8u);
  std::int16_t first;
  std::memcpy(&first, block, 2);
  EXPECT_EQ(first, pcm[1017]);  // the header predictor of the second block
  r.in.Flush();
}

TEST(WaveInTest, PcmAndFloatSeekByTheStoredFrameWidth) {
  std::vector<double> samples(200);
  for (std::size_t i = 0; i < samples.size(); ++i) samples[i] = (static_cast<double>(i) - 100) / 128.0;
  std::vector<std::uint8_t> data(samples.size() * 8);
  std::memcpy(data.data(), samples.data(), data.size());
  WavBuilder b;
  b.Riff().Chunk("fmt ", WavBuilder::Fmt(3, 1, 8000, 8, 64)).Chunk("data", data);
  Reader r(b.Get());
  r.in.SetStartSample(150);
  const auto got = r.Drain();
  ASSERT_EQ(got.size(), 50u * 4);
  std::int32_t first;
  std::memcpy(&first, got.data(), 4);
  EXPECT_EQ(first, FloatSampleToInt32(samples[150]));
}

// A-law and mu-law: one byte stored, two delivered, in length, seeking and cut frames.
TEST(WaveInTest, G711CountsSeeksAndCutsByTheStoredByte) {
  std::vector<std::uint8_t> codes(2 * 300 + 1);  // stereo, the last frame cut off
  for (std::size_t i = 0; i < codes.size(); ++i) codes[i] = static_cast<std::uint8_t>(i * 7);
  WavBuilder b;
  b.Riff().Chunk("fmt ", WavBuilder::Fmt(kWaveFormatMuLaw, 2, 8000, 2, 8)).Chunk("data", codes);
  Reader r(b.Get());
  ASSERT_TRUE(r.in.Valid());
  EXPECT_EQ(r.in.BitsPerSample(), 16u);
  EXPECT_EQ(r.in.TotalSamples(), 300);
  r.in.SetStartSample(250);
  const auto got = AsInt16(r.Drain(999));
  ASSERT_EQ(got.size(), 100u);
  EXPECT_EQ(got[0], g711::MuLawToLinear(codes[500]));
  EXPECT_EQ(got[99], g711::MuLawToLinear(codes[599]));
  // Values fixed by the two laws: the largest codes and the ones nearest zero.
  EXPECT_EQ(g711::ALawToLinear(0xAA), 32256);
  EXPECT_EQ(g711::ALawToLinear(0x2A), -32256);
  EXPECT_EQ(g711::ALawToLinear(0xD5), 8);
  EXPECT_EQ(g711::MuLawToLinear(0x80), 32124);
  EXPECT_EQ(g711::MuLawToLinear(0x00), -32124);
  EXPECT_EQ(g711::MuLawToLinear(0xFF), 0);
}

TEST(WaveInTest, G711OtherThanEightBitsIsNotValid) {
  for (const std::uint16_t bits : {4, 16}) {
    WavBuilder b;
    b.Riff().Chunk("fmt ", WavBuilder::Fmt(kWaveFormatALaw, 1, 8000, 1, bits)).Chunk("data", Ramp(100));
    Reader r(b.Get());
    EXPECT_FALSE(r.in.Valid()) << bits;
  }
}

// An RF64 image: ds64 first with the given sizes, 0xFFFFFFFF in the RIFF and data sizes.
std::vector<std::uint8_t> Rf64Wav(const std::vector<std::uint8_t>& fmt, const std::vector<std::uint8_t>& data,
                                  std::uint64_t ds64Data, const std::vector<std::uint8_t>& after = {}) {
  WavBuilder ds64, b;
  ds64.U32(0xFFFFFFFF).U32(0).U32(static_cast<std::uint32_t>(ds64Data)).U32(static_cast<std::uint32_t>(ds64Data >> 32));
  ds64.U32(0).U32(0).U32(0);
  b.Riff("RF64").Chunk("ds64", ds64.Get()).Chunk("fmt ", fmt).Raw("data").U32(0xFFFFFFFF).Bytes(data).Bytes(after);
  return b.Get();
}

TEST(WaveInTest, Rf64TakesTheDataSizeFromDs64AndCutsItToTheFile) {
  const auto pcm = Ramp(400);
  const auto fmt = WavBuilder::Fmt(1, 2, 8000, 4, 16);
  {  // a chunk after the audio: the ds64 size, not the file's end, ends the data
    Reader r(Rf64Wav(fmt, pcm, 400, {'L', 'I', 'S', 'T', 4, 0, 0, 0, 'I', 'N', 'F', 'O'}));
    ASSERT_TRUE(r.in.Valid());
    EXPECT_EQ(r.in.Container(), TWavContainer::wcRf64);
    EXPECT_EQ(r.in.TotalSamples(), 100);
    EXPECT_EQ(r.Drain(), pcm);
  }
  {  // a size of 16 EB: what is there is read, what is stated stays countable
    Reader r(Rf64Wav(fmt, pcm, ~std::uint64_t{0}));
    ASSERT_TRUE(r.in.Valid());
    EXPECT_EQ(r.in.TotalSamples(), 100);
    EXPECT_GT(r.in.StatedSize(), std::int64_t{1} << 40);
    EXPECT_EQ(r.Drain(), pcm);
  }
  {  // the same for A-law, whose stated size doubles when delivered
    Reader r(Rf64Wav(WavBuilder::Fmt(kWaveFormatALaw, 1, 8000, 1, 8), pcm, ~std::uint64_t{0}));
    ASSERT_TRUE(r.in.Valid());
    EXPECT_GT(r.in.StatedSize(), std::int64_t{1} << 40);
    EXPECT_EQ(r.Drain().size(), 800u);
  }
  {  // no ds64 chunk: the sizes are nowhere
    WavBuilder b;
    b.Riff("RF64").Chunk("fmt ", fmt).Chunk("data", pcm);
    Reader r(b.Get());
    EXPECT_FALSE(r.in.Valid());
  }
}

// A Wave64 image from (four-character name, body) chunks, padded to 8 bytes.
std::vector<std::uint8_t> Wave64(const std::vector<std::pair<const char*, std::vector<std::uint8_t>>>& chunks,
                                 std::uint64_t lastSize = 0) {
  WavBuilder b;
  const auto guid = [&](const char* id) {
    b.Raw(id).Bytes(std::vector<std::uint8_t>(std::begin(kWave64Tail), std::end(kWave64Tail)));
  };
  const auto u64 = [&](std::uint64_t v) { b.U32(static_cast<std::uint32_t>(v)).U32(static_cast<std::uint32_t>(v >> 32)); };
  b.Bytes(std::vector<std::uint8_t>(std::begin(kWave64Riff), std::end(kWave64Riff)));
  u64(0);
  guid("wave");
  for (std::size_t i = 0; i < chunks.size(); ++i) {
    const auto& [id, body] = chunks[i];
    guid(id);
    u64(i + 1 == chunks.size() && lastSize != 0 ? lastSize : 24 + body.size());
    b.Bytes(body);
    if (i + 1 < chunks.size()) b.Bytes(std::vector<std::uint8_t>((8 - body.size() % 8) % 8, 0));
  }
  return b.Get();
}

TEST(WaveInTest, Wave64WalksPaddedChunksAndHoldsToItsSizes) {
  const auto pcm = Ramp(300);
  const auto fmt = WavBuilder::Fmt(1, 1, 8000, 2, 16);
  {  // an odd-sized chunk before the format: its body is padded to 8 bytes
    Reader r(Wave64({{"junk", {1, 2, 3}}, {"fmt ", fmt}, {"data", pcm}}));
    ASSERT_TRUE(r.in.Valid());
    EXPECT_EQ(r.in.Container(), TWavContainer::wcWave64);
    EXPECT_EQ(r.in.HeaderSize(), 40 + 32 + 40 + 24);
    EXPECT_EQ(r.Drain(), pcm);
  }
  {  // a data size past the file is cut to it
    Reader r(Wave64({{"fmt ", fmt}, {"data", pcm}}, ~std::uint64_t{0}));
    ASSERT_TRUE(r.in.Valid());
    EXPECT_EQ(r.in.TotalSamples(), 150);
    EXPECT_EQ(r.Drain(), pcm);
  }
  {  // the fact count is 64 bits: 2^32 more frames than one IMA block holds is a lie
    WavBuilder fmt;
    fmt.Bytes(WavBuilder::Fmt(0x11, 1, 22050, 36, 4)).U16(2).U16(65);
    for (const std::uint32_t high : {0u, 1u}) {
      WavBuilder fact;
      fact.U32(65).U32(high);
      Reader r(Wave64({{"fmt ", fmt.Get()}, {"fact", fact.Get()}, {"data", std::vector<std::uint8_t>(36)}}));
      EXPECT_EQ(r.in.Valid(), high == 0);
      EXPECT_EQ(r.Drain().size(), high == 0 ? 130u : 0u);
    }
  }
  {  // a size smaller than the chunk header, and a format body beyond the file
    auto tooSmall = Wave64({{"fmt ", fmt}, {"data", pcm}}, 23);
    auto past = Wave64({{"fmt ", fmt}, {"data", pcm}});
    past[40 + 16] = 0xFF;
    past[40 + 20] = 0x7F;
    for (auto* image : {&tooSmall, &past}) {
      Reader r(*image);
      EXPECT_FALSE(r.in.Valid());
      EXPECT_TRUE(r.Drain().empty());
    }
  }
}

TEST(WaveInTest, RequestsAreCutToWholeFramesAndTheRestOfTheBlock) {
  Reader r(PcmWav(Ramp(20000), 2, 44100, 16));
  std::vector<std::uint32_t> sizes;
  const auto got = r.Drain(1001, &sizes);
  EXPECT_EQ(got.size(), 20000u);
  EXPECT_EQ(sizes[0], 1000u);
  for (auto s : sizes) EXPECT_LE(s, 1000u);
}

TEST(WaveInTest, TruncatedDataCountsOnlyWhatIsThere) {
  auto image = PcmWav(Ramp(1000), 1, 8000, 16);
  image.resize(image.size() - 400);
  Reader r(image);
  r.in.Init();
  EXPECT_EQ(r.in.Size(), 600);
  r.in.Flush();
  EXPECT_EQ(r.Drain().size(), 600u);
}

TEST(WaveInTest, APartialLastFrameIsNeverDelivered) {
  // 16-bit stereo whose data size (and data) stop 1 byte into a frame.
  Reader r(PcmWav(Ramp(1001), 2, 44100, 16));
  r.in.Init();
  EXPECT_EQ(r.in.Size(), 1000);
  r.in.Flush();
  std::vector<std::uint32_t> sizes;
  EXPECT_EQ(r.Drain(65536, &sizes).size(), 1000u);
  for (auto s : sizes) EXPECT_EQ(s % 4, 0u);
}

TEST(WaveInTest, MsAdpcmBlockWithABadPredictorIndexDecodesAsSilence) {
  // Two mono blocks of 16 bytes, 20 samples each; the second names pair 5 of 2.
  WavBuilder b;
  auto fmt = WavBuilder::Fmt(2, 1, 8000, 16, 4);
  fmt.insert(fmt.end(), {2 + 2 + 8, 0, 20, 0, 2, 0, 0, 1, 0, 0, 0, 0, 0, 0});
  std::vector<std::uint8_t> data(32, 0);
  data[1] = 16;   // delta of block 1
  data[16] = 5;   // predictor index of block 2
  data[17] = 16;
  b.Riff().Chunk("fmt ", fmt).Chunk("fact", {40, 0, 0, 0}).Chunk("data", data);
  Reader r(b.Get());
  ASSERT_TRUE(r.in.Valid());
  const std::vector<std::uint8_t> got = r.Drain();
  ASSERT_EQ(got.size(), 40u * 2);  // the file's whole length
  EXPECT_TRUE(std::all_of(got.begin() + 40, got.end(), [](std::uint8_t v) { return v == 0; }));
  EXPECT_EQ(r.in.DamagedBlocks(), 1);
}

TEST(WaveInTest, HugeStartInAnAdpcmFileIsRefusedWithoutOverflow) {
  // MS ADPCM with 2 frames in a 4 KiB block: bytes grow 2,000 times faster than frames.
  WavBuilder b;
  auto fmt = WavBuilder::Fmt(2, 1, 8000, 4096, 4);
  fmt.insert(fmt.end(), {8, 0, 2, 0, 1, 0, 0, 1, 0, 0});
  b.Riff().Chunk("fmt ", fmt).Chunk("fact", {2, 0, 0, 0}).Chunk("data", std::vector<std::uint8_t>(4096));
  Reader r(b.Get());
  ASSERT_TRUE(r.in.Valid());
  r.in.SetStartSample(std::int64_t{1} << 58);
  EXPECT_LE(r.Drain().size(), 4u);  // the seek is refused; nothing past the fact count
}

TEST(WaveInTest, MissingFileRaisesFromTheFormatGetters) {
  TWaveIn in;
  in.SetFileName("/nonexistent/melvanto.wav");
  EXPECT_THROW(in.Channels(), EAuException);
}

// Headers no recording could have are damage, not audio: refused without an exception.
TEST(WaveInTest, ImpossibleRatesAndFactCountsAreNotValid) {
  for (const auto& [rate, valid] : {std::pair{999u, false}, std::pair{1000u, true}, std::pair{768000u, true},
                                    std::pair{768001u, false}}) {
    SCOPED_TRACE(rate);
    Reader r(PcmWav(Ramp(400), 2, rate, 16));
    EXPECT_EQ(r.in.Valid(), valid);
    EXPECT_EQ(r.Drain().size(), valid ? 400u : 0u);
  }
  // Two mono IMA blocks of 256 bytes hold 2 x 505 frames: a count up to that is a fact, a
  // count beyond it a lie (a short last block still counts whole).
  const std::vector<std::uint8_t> blocks(2 * 256 - 100, 0);
  for (const auto& [fact, valid] : {std::pair{1010u, true}, std::pair{1011u, false}, std::pair{0xFFFFFFFFu, false}}) {
    SCOPED_TRACE(fact);
    Reader r(ImaAdpcmWav(1, 256, 505, fact, blocks));
    EXPECT_EQ(r.in.Valid(), valid);
  }
}

}  // namespace
}  // namespace melvanto::testing
