// Reading WAV files written by sox and ffmpeg, checked against those tools' own decoding.

#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "require_tool.h"
#include "temp_dir.h"
#include "tools.h"
#include "wav_builder.h"
#include "wave_in.h"

namespace melvanto::testing {
namespace {

#define REQUIRE_TOOL(name) MELVANTO_REQUIRE_COMMAND(name)

std::vector<std::uint8_t> ReadFile(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
}

std::uint32_t Le32(const std::uint8_t* p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

// Where the body of top-level chunk `id` starts and how long it is, found by the plain RIFF
// layout (a pad byte after an odd body), independently of the reader under test.
struct ChunkPos {
  std::size_t offset = 0;
  std::uint32_t size = 0;
};
std::optional<ChunkPos> FindChunk(const std::vector<std::uint8_t>& file, const char* id) {
  for (std::size_t at = 12; at + 8 <= file.size();) {
    const std::uint32_t size = Le32(&file[at + 4]);
    if (std::memcmp(&file[at], id, 4) == 0) return ChunkPos{at + 8, size};
    at += 8 + size + (size & 1);
  }
  return std::nullopt;
}

// Everything the reader reports and delivers for one file.
struct Delivered {
  bool valid = false;
  TWavType type = TWavType::wtUnsupported;
  std::uint32_t channels = 0, rate = 0, bits = 0;
  std::int64_t totalSamples = 0;
  std::int64_t headerSize = 0;
  std::vector<std::uint8_t> bytes;
  bool wholeFrames = true;  // every delivery was a whole number of frames
  std::int64_t damagedBlocks = 0;

  std::int64_t Frames() const {
    const std::uint32_t frame = channels * bits / 8;
    return frame == 0 ? 0 : static_cast<std::int64_t>(bytes.size() / frame);
  }
  template <class T>
  std::vector<T> As() const {
    std::vector<T> v(bytes.size() / sizeof(T));
    std::memcpy(v.data(), bytes.data(), v.size() * sizeof(T));
    return v;
  }
};

// Opens the file by name and pulls it to the end in requests that are no multiple of any frame.
Delivered ReadWithWaveIn(const std::string& path, std::uint32_t want = 4099) {
  Delivered d;
  TWaveIn in;
  in.SetFileName(path);
  d.valid = in.Valid();
  d.type = in.WavType();
  d.channels = in.Channels();
  d.rate = in.SampleRate();
  d.bits = in.BitsPerSample();
  d.totalSamples = in.TotalSamples();
  d.headerSize = in.HeaderSize();
  const std::uint32_t frame = d.channels * d.bits / 8;
  in.Init();
  for (int calls = 0; calls < 1000000; ++calls) {
    const std::uint8_t* block = nullptr;
    std::uint32_t bytes = want;
    in.GetData(block, bytes);
    if (bytes == 0) break;
    if (frame == 0 || bytes % frame != 0) d.wholeFrames = false;
    d.bytes.insert(d.bytes.end(), block, block + bytes);
  }
  in.Flush();
  d.damagedBlocks = in.DamagedBlocks();
  return d;
}

// Runs a tool's command with {} standing for the path it writes.
bool MakeWith(std::string command, const std::string& path) {
  command.replace(command.find("{}"), 2, path);
  return Shell(command);
}

// A fresh directory for the tools' files, removed with everything in it afterwards.
class InteropTest : public ::testing::Test {
 protected:
  std::string Path(const std::string& name) const { return dir_ + "/" + name; }

  TempDir tmp_;
  std::string dir_ = tmp_.String();
};

constexpr const char* kFfmpeg = "ffmpeg -nostdin -y -hide_banner -loglevel error ";

// ---- integer PCM: delivered byte for byte as the tool decodes it ----

class WaveInInteropPcm : public InteropTest {};

TEST_F(WaveInInteropPcm, SoxIntegerFilesMatchSoxRawDecode) {
  REQUIRE_TOOL("sox");
  struct Case {
    const char* name;
    std::uint32_t rate, channels, bits;
    const char* encoding;
    const char* synth;  // length then signal
    TWavType type;      // sox chooses the extensible header for >2 channels or >16 bits
  };
  const Case cases[] = {
      // 5513 one-byte frames: an odd data body, followed by sox's pad byte
      {"u8", 11025, 1, 8, "unsigned", "5513s sine 440", TWavType::wtPCM},
      {"s16", 44100, 2, 16, "signed", "0.5 whitenoise", TWavType::wtPCM},
      {"s24", 44100, 2, 24, "signed", "0.5 whitenoise", TWavType::wtExtPCM},
      {"s32", 96000, 1, 32, "signed", "0.5 whitenoise", TWavType::wtExtPCM},
      {"c6", 48000, 6, 16, "signed", "0.5 sine 300 sine 500 sine 700 sine 900 sine 1100 sine 1300",
       TWavType::wtExtPCM},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = Path(std::string(c.name) + ".wav");
    const std::string fmt = std::string(" -b ") + std::to_string(c.bits) + " -e " + c.encoding;
    ASSERT_TRUE(Shell("sox -R -V1 -r " + std::to_string(c.rate) + " -c " + std::to_string(c.channels) + " -n" +
                    fmt + " " + path + " synth " + c.synth));
    const auto raw = Capture("sox -V1 " + path + " -t raw" + fmt + " -L -");
    ASSERT_TRUE(raw.has_value());
    const std::uint32_t frame = c.channels * c.bits / 8;
    ASSERT_GT(raw->size(), 0u);
    ASSERT_EQ(raw->size() % frame, 0u);

    const Delivered d = ReadWithWaveIn(path);
    ASSERT_TRUE(d.valid);
    EXPECT_EQ(d.type, c.type);
    EXPECT_EQ(d.channels, c.channels);
    EXPECT_EQ(d.rate, c.rate);
    EXPECT_EQ(d.bits, c.bits);
    EXPECT_EQ(d.totalSamples, static_cast<std::int64_t>(raw->size() / frame));
    EXPECT_TRUE(d.wholeFrames);
    EXPECT_EQ(d.bytes.size(), raw->size());
    EXPECT_TRUE(d.bytes == *raw) << "delivered samples differ from sox's decode";
  }
  // The odd body is what the u8 case is there for.
  const auto u8Data = FindChunk(ReadFile(Path("u8.wav")), "data");
  ASSERT_TRUE(u8Data.has_value());
  EXPECT_EQ(u8Data->size, 5513u);
}

// ---- IEEE float: delivered as 32-bit integers, compared with our conversion of the stored values ----

class WaveInInteropFloat : public InteropTest {};

TEST_F(WaveInInteropFloat, FloatFilesConvertTheToolsFloatData) {
  REQUIRE_TOOL("sox");
  REQUIRE_TOOL("ffmpeg");
  struct Case {
    const char* name;
    std::string make;
    std::uint32_t rate, channels, storedBits;
    TWavType type;
    bool overRange;  // the signal goes past +-1.0, so saturation is exercised
  };
  // ffmpeg's sine source peaks at 1/8: a gain of 12 takes it to 1.5.
  const std::string overDriven = std::string(kFfmpeg) + "-f lavfi -i \"sine=frequency=440:sample_rate=48000:duration=0.5\" " +
                                 "-af volume=12 ";
  const Case cases[] = {
      {"sox_f32", "sox -R -V1 -r 44100 -c 1 -n -b 32 -e float {} synth 0.5 sine 440", 44100, 1, 32,
       TWavType::wtIEEEFloat, false},
      {"sox_f64", "sox -R -V1 -r 44100 -c 2 -n -b 64 -e float {} synth 0.5 whitenoise", 44100, 2, 64,
       TWavType::wtIEEEFloat, false},
      {"ff_f32_6ch", overDriven + "-ac 6 -c:a pcm_f32le {}", 48000, 6, 32, TWavType::wtExtIEEEFloat, true},
      {"ff_f64", overDriven + "-c:a pcm_f64le {}", 48000, 1, 64, TWavType::wtExtIEEEFloat, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = Path(std::string(c.name) + ".wav");
    ASSERT_TRUE(MakeWith(c.make, path));
    // ffmpeg passes stored floats through unchanged; sox would round them through its integer core.
    const bool wide = c.storedBits == 64;
    const auto raw = Capture(std::string(kFfmpeg) + "-i " + path + (wide ? " -f f64le -" : " -f f32le -"));
    ASSERT_TRUE(raw.has_value());
    std::vector<std::int32_t> expected;
    if (wide) {
      for (std::size_t i = 0; i + 8 <= raw->size(); i += 8) {
        double v;
        std::memcpy(&v, raw->data() + i, 8);
        expected.push_back(FloatSampleToInt32(v));
      }
    } else {
      for (std::size_t i = 0; i + 4 <= raw->size(); i += 4) {
        float v;
        std::memcpy(&v, raw->data() + i, 4);
        expected.push_back(FloatSampleToInt32(v));
      }
    }
    ASSERT_FALSE(expected.empty());
    ASSERT_EQ(expected.size() % c.channels, 0u);

    const Delivered d = ReadWithWaveIn(path);
    ASSERT_TRUE(d.valid);
    EXPECT_EQ(d.type, c.type);
    EXPECT_EQ(d.channels, c.channels);
    EXPECT_EQ(d.rate, c.rate);
    EXPECT_EQ(d.bits, 32u);
    EXPECT_EQ(d.totalSamples, static_cast<std::int64_t>(expected.size() / c.channels));
    EXPECT_EQ(d.totalSamples, static_cast<std::int64_t>(c.rate / 2));
    EXPECT_TRUE(d.wholeFrames);
    const auto got = d.As<std::int32_t>();
    ASSERT_EQ(got.size(), expected.size());
    std::size_t mismatches = 0, saturated = 0;
    for (std::size_t i = 0; i < got.size(); ++i) {
      if (got[i] != expected[i] && mismatches++ < 5) ADD_FAILURE() << "sample " << i << ": " << got[i] << " vs " << expected[i];
      if (got[i] == std::numeric_limits<std::int32_t>::max() || got[i] == std::numeric_limits<std::int32_t>::min())
        ++saturated;
    }
    EXPECT_EQ(mismatches, 0u);
    if (c.overRange) {
      EXPECT_GT(saturated, 0u);
    }
  }
}

// ---- ADPCM: decoded to 16 bits, close to the tools' decoders, cut at the fact count ----
//
// Measured differences from the tools' decoders, which set the tolerances below:
// - IMA against sox: equal except where sox's predictor reaches -32,768, which ours clamps at
//   -32,767; the 1 LSB then carries to the end of the block. At most 1.
// - IMA against ffmpeg: ffmpeg forms the step difference as ((2 * code + 1) * step) >> 3, we (and
//   sox) add the shifted steps, so the predictors drift apart within a block and meet again at
//   the next block header. 12 to 50 LSB on these signals; allowed 64. A wrong nibble order, step
//   table or header gives thousands.
// - MS against ffmpeg: identical.
// - MS against sox: sox predicts with (s1 * c1 + s2 * c2) >> 8, which rounds down where ours and
//   ffmpeg's divide by 256 toward zero. On noise sox's encoder only picks the (256, 0) pair and
//   the two agree exactly; on a sine they drift without bound (17,756 LSB on the loud stereo
//   sine below), so there sox's decode is not compared.

constexpr int kNotCompared = -1;
constexpr int kImaVsSox = 1;
constexpr int kImaVsFfmpeg = 64;

class WaveInInteropAdpcm : public InteropTest {};

struct AdpcmCase {
  const char* name;
  std::string make;  // {} is the output path
  std::uint32_t rate, channels;
  TWavType type;
  int soxTolerance, ffmpegTolerance;  // largest difference allowed from each tool's decode, in LSB
};

void CheckAdpcm(const AdpcmCase& c, const std::string& path) {
  ASSERT_TRUE(MakeWith(c.make, path));
  const auto file = ReadFile(path);
  const auto fact = FindChunk(file, "fact");
  ASSERT_TRUE(fact.has_value());
  const std::int64_t factFrames = Le32(&file[fact->offset]);
  ASSERT_GT(factFrames, 0);

  const Delivered d = ReadWithWaveIn(path);
  ASSERT_TRUE(d.valid);
  EXPECT_EQ(d.type, c.type);
  EXPECT_EQ(d.channels, c.channels);
  EXPECT_EQ(d.rate, c.rate);
  EXPECT_EQ(d.bits, 16u);
  EXPECT_EQ(d.totalSamples, factFrames);
  EXPECT_EQ(d.Frames(), factFrames);
  EXPECT_TRUE(d.wholeFrames);
  const auto got = d.As<std::int16_t>();

  struct Decoder {
    const char* tool;
    std::string cmd;
    int tolerance;
  };
  const Decoder decoders[] = {
      {"sox", "sox -V1 " + path + " -t raw -e signed -b 16 -L -", c.soxTolerance},
      {"ffmpeg", std::string(kFfmpeg) + "-i " + path + " -f s16le -", c.ffmpegTolerance},
  };
  int compared = 0;
  for (const Decoder& dec : decoders) {
    if (dec.tolerance == kNotCompared || !HaveTool(dec.tool)) continue;
    SCOPED_TRACE(dec.tool);
    ++compared;
    const auto raw = Capture(dec.cmd);
    ASSERT_TRUE(raw.has_value());
    std::vector<std::int16_t> ref(raw->size() / 2);
    std::memcpy(ref.data(), raw->data(), ref.size() * 2);
    // The tools decode whole blocks, past the fact count; we stop at it.
    EXPECT_GE(ref.size(), got.size());
    const std::size_t n = std::min(ref.size(), got.size());
    int worst = 0;
    std::size_t worstAt = 0;
    for (std::size_t i = 0; i < n; ++i) {
      const int diff = std::abs(got[i] - ref[i]);
      if (diff > worst) worst = diff, worstAt = i;
    }
    EXPECT_LE(worst, dec.tolerance) << "at sample " << worstAt << ": " << got[worstAt] << " vs " << ref[worstAt];
  }
  EXPECT_GT(compared, 0) << "no decoder to compare with";
}

TEST_F(WaveInInteropAdpcm, SoxImaAndMsFiles) {
  REQUIRE_TOOL("sox");
  const AdpcmCase cases[] = {
      // 256-byte IMA blocks (505 frames) and 512-byte MS blocks (1,012 frames): half a second
      // ends inside the last block, so the fact count cuts it.
      {"sox_ima_mono", "sox -R -V1 -r 22050 -c 1 -n -e ima-adpcm {} synth 0.5 sine 440", 22050, 1,
       TWavType::wtDVIADPCM, kImaVsSox, kImaVsFfmpeg},
      {"sox_ima_stereo", "sox -R -V1 -r 22050 -c 2 -n -e ima-adpcm {} synth 0.5 whitenoise", 22050, 2,
       TWavType::wtDVIADPCM, kImaVsSox, kImaVsFfmpeg},
      {"sox_ms_mono", "sox -R -V1 -r 22050 -c 1 -n -e ms-adpcm {} synth 0.5 whitenoise", 22050, 1,
       TWavType::wtMSADPCM, 0, 0},
      {"sox_ms_stereo", "sox -R -V1 -r 22050 -c 2 -n -e ms-adpcm {} synth 0.5 sine 440 sine 1000", 22050, 2,
       TWavType::wtMSADPCM, kNotCompared, 0},
  };
  for (const AdpcmCase& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = Path(std::string(c.name) + ".wav");
    CheckAdpcm(c, path);
    // sox counts the frames it was given: half a second, not whole blocks.
    const auto file = ReadFile(path);
    const auto fact = FindChunk(file, "fact");
    ASSERT_TRUE(fact.has_value());
    EXPECT_EQ(Le32(&file[fact->offset]), c.rate / 2);
  }
}

TEST_F(WaveInInteropAdpcm, FfmpegImaAndMsFiles) {
  REQUIRE_TOOL("ffmpeg");
  const std::string ff(kFfmpeg);
  const std::string twoSines =
      ff + "-f lavfi -i \"aevalsrc=0.8*sin(440*2*PI*t)|0.8*sin(1000*2*PI*t):s=22050:d=0.5\" ";
  const std::string noise = ff + "-f lavfi -i \"anoisesrc=r=22050:d=0.5:a=0.7:seed=7\" ";
  // ffmpeg's IMA blocks are 1,024 bytes (1,017 stereo or 2,041 mono frames) and its fact
  // counts whole blocks, padding included.
  const AdpcmCase cases[] = {
      {"ff_ima_stereo", twoSines + "-c:a adpcm_ima_wav {}", 22050, 2, TWavType::wtDVIADPCM, kImaVsSox,
       kImaVsFfmpeg},
      {"ff_ima_mono", noise + "-c:a adpcm_ima_wav {}", 22050, 1, TWavType::wtDVIADPCM, kImaVsSox, kImaVsFfmpeg},
      {"ff_ms_stereo", twoSines + "-c:a adpcm_ms {}", 22050, 2, TWavType::wtMSADPCM, 0, 0},
  };
  for (const AdpcmCase& c : cases) {
    SCOPED_TRACE(c.name);
    CheckAdpcm(c, Path(std::string(c.name) + ".wav"));
  }
}

// The hand-made block that takes the step index to the top of the table and keeps it there:
// sox decodes it as we do but for its floor of -32,768 where ours is -32,767; ffmpeg's rounding
// of the step difference moves it a few LSB (5 measured) off ours.
TEST_F(WaveInInteropAdpcm, ImaBlockAtTheTopOfTheStepTable) {
  REQUIRE_TOOL("sox");
  REQUIRE_TOOL("ffmpeg");
  const std::string path = Path("top.wav");
  const auto wav = OneBlockImaMonoWav(ImaTopOfTableBlock());
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(wav.data()), wav.size());
  const Delivered d = ReadWithWaveIn(path);
  ASSERT_TRUE(d.valid);
  const auto got = d.As<std::int16_t>();
  ASSERT_EQ(got.size(), 33u);
  const auto sox = Capture("sox -V1 " + path + " -t raw -e signed -b 16 -L -");
  const auto ffmpeg = Capture(std::string(kFfmpeg) + "-i " + path + " -f s16le -");
  ASSERT_TRUE(sox.has_value() && ffmpeg.has_value());
  ASSERT_EQ(sox->size(), got.size() * 2);
  ASSERT_EQ(ffmpeg->size(), got.size() * 2);
  for (std::size_t i = 0; i < got.size(); ++i) {
    std::int16_t bySox, byFfmpeg;
    std::memcpy(&bySox, sox->data() + 2 * i, 2);
    std::memcpy(&byFfmpeg, ffmpeg->data() + 2 * i, 2);
    EXPECT_EQ(got[i], bySox == -32768 ? -32767 : bySox) << i;
    EXPECT_NEAR(got[i], byFfmpeg, 8) << i;
  }
  EXPECT_EQ(got.back(), -32767);
}

// ---- A-law and mu-law: decoded to 16 bits exactly as the tools decode them ----

class WaveInInteropG711 : public InteropTest {};

std::vector<std::uint8_t> S16Decode(const std::string& tool, const std::string& path) {
  const std::string cmd = tool == "sox" ? "sox -V1 " + path + " -t raw -e signed -b 16 -L -"
                                        : std::string(kFfmpeg) + "-i " + path + " -f s16le -";
  return Capture(cmd).value_or(std::vector<std::uint8_t>{});
}

// Every one of the 256 codes, in a plain and an extensible header, against both tools.
TEST_F(WaveInInteropG711, EveryCodeDecodesAsTheToolsDecodeIt) {
  REQUIRE_TOOL("sox");
  REQUIRE_TOOL("ffmpeg");
  std::vector<std::uint8_t> codes(256);
  for (int i = 0; i < 256; ++i) codes[i] = static_cast<std::uint8_t>(i);
  for (const std::uint16_t tag : {kWaveFormatALaw, kWaveFormatMuLaw}) {
    for (const bool extensible : {false, true}) {
      SCOPED_TRACE(std::to_string(tag) + (extensible ? " extensible" : ""));
      WavBuilder fmt, b;
      if (extensible) {
        std::uint8_t sub[16];
        std::memcpy(sub, kSubFormatPcm, 16);
        PutLE16(sub, tag);
        fmt.Bytes(WavBuilder::Fmt(kWaveFormatExtensible, 1, 8000, 1, 8)).U16(22).U16(8).U32(4);
        fmt.Bytes(std::vector<std::uint8_t>(sub, sub + 16));
      } else {
        fmt.Bytes(WavBuilder::Fmt(tag, 1, 8000, 1, 8)).U16(0);
      }
      b.Riff().Chunk("fmt ", fmt.Get()).Chunk("data", codes);
      const std::string path = Path("codes.wav");
      std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(b.Get().data()), b.Get().size());
      const Delivered d = ReadWithWaveIn(path, 101);
      ASSERT_TRUE(d.valid);
      EXPECT_EQ(d.type, tag == kWaveFormatALaw ? TWavType::wtALaw : TWavType::wtMuLaw);
      EXPECT_EQ(d.bits, 16u);
      EXPECT_EQ(d.totalSamples, 256);
      for (const char* tool : {"sox", "ffmpeg"}) {
        SCOPED_TRACE(tool);
        const auto ref = S16Decode(tool, path);
        ASSERT_EQ(ref.size(), 512u);
        EXPECT_TRUE(d.bytes == ref);
      }
    }
  }
}

TEST_F(WaveInInteropG711, ToolFilesMonoAndStereo) {
  REQUIRE_TOOL("sox");
  REQUIRE_TOOL("ffmpeg");
  const std::string sine = std::string(kFfmpeg) + "-f lavfi -i \"aevalsrc=0.9*sin(440*2*PI*t)|0.3*sin(1000*2*PI*t):s=8000:d=0.5\" ";
  struct Case {
    const char* name;
    std::string make;
    std::uint32_t channels;
    TWavType type;
  };
  const Case cases[] = {
      {"sox_alaw", "sox -R -V1 -n -r 8000 -c 1 -e a-law {} synth 1 sine 440", 1, TWavType::wtALaw},
      {"sox_ulaw", "sox -R -V1 -n -r 8000 -c 1 -e u-law {} synth 1 sine 440", 1, TWavType::wtMuLaw},
      {"sox_ulaw_stereo", "sox -R -V1 -n -r 8000 -c 2 -e u-law {} synth 0.5 whitenoise", 2, TWavType::wtMuLaw},
      {"ff_alaw_stereo", sine + "-c:a pcm_alaw {}", 2, TWavType::wtALaw},
      {"ff_mulaw_stereo", sine + "-c:a pcm_mulaw {}", 2, TWavType::wtMuLaw},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = Path(std::string(c.name) + ".wav");
    ASSERT_TRUE(MakeWith(c.make, path));
    const Delivered d = ReadWithWaveIn(path);
    ASSERT_TRUE(d.valid);
    EXPECT_EQ(d.type, c.type);
    EXPECT_EQ(d.channels, c.channels);
    EXPECT_EQ(d.rate, 8000u);
    EXPECT_TRUE(d.wholeFrames);
    EXPECT_EQ(d.totalSamples, d.Frames());
    for (const char* tool : {"sox", "ffmpeg"}) {
      SCOPED_TRACE(tool);
      const auto ref = S16Decode(tool, path);
      ASSERT_GT(ref.size(), 0u);
      EXPECT_TRUE(d.bytes == ref);
    }
  }
}

// ---- RF64 and Wave64: 64-bit sizes around the same encodings, sample-exact to ffmpeg ----

class WaveInInteropContainers : public InteropTest {};

TEST_F(WaveInInteropContainers, Rf64AndWave64FromTheTools) {
  REQUIRE_TOOL("sox");
  REQUIRE_TOOL("ffmpeg");
  const std::string ff = std::string(kFfmpeg) + "-f lavfi -i \"aevalsrc=0.9*sin(440*2*PI*t)|0.4*sin(1000*2*PI*t):s=8000:d=0.3\" ";
  struct Case {
    const char* name;
    std::string make;
    TWavContainer container;
    TWavType type;
    std::uint32_t channels, bits;  // as delivered
    const char* decode;             // ffmpeg's raw format of what we deliver
  };
  const Case cases[] = {
      {"rf_s16", ff + "-c:a pcm_s16le -rf64 always {}.wav", TWavContainer::wcRf64, TWavType::wtPCM, 2, 16, "s16le"},
      {"rf_s24", ff + "-c:a pcm_s24le -rf64 always {}.wav", TWavContainer::wcRf64, TWavType::wtExtPCM, 2, 24, "s24le"},
      {"rf_alaw", ff + "-ac 1 -c:a pcm_alaw -rf64 always {}.wav", TWavContainer::wcRf64, TWavType::wtALaw, 1, 16, "s16le"},
      {"rf_f32", ff + "-c:a pcm_f32le -rf64 always {}.wav", TWavContainer::wcRf64, TWavType::wtExtIEEEFloat, 2, 32,
       "f32le"},
      {"w64_f32", ff + "-ac 1 -c:a pcm_f32le -f w64 {}.w64", TWavContainer::wcWave64, TWavType::wtExtIEEEFloat, 1, 32,
       "f32le"},
      {"w64_s16", ff + "-c:a pcm_s16le -f w64 {}.w64", TWavContainer::wcWave64, TWavType::wtPCM, 2, 16, "s16le"},
      {"w64_s24", ff + "-c:a pcm_s24le -f w64 {}.w64", TWavContainer::wcWave64, TWavType::wtExtPCM, 2, 24, "s24le"},
      // An 18-byte format body, padded to 24, then a fact chunk: the 8-byte alignment matters.
      {"w64_mulaw", ff + "-c:a pcm_mulaw -f w64 {}.w64", TWavContainer::wcWave64, TWavType::wtMuLaw, 2, 16, "s16le"},
      // MS ADPCM decodes as ffmpeg's does; RF64 states its frame count in ds64 alone, Wave64
      // in a 64-bit fact chunk.
      {"rf_ms", ff + "-c:a adpcm_ms -rf64 always {}.wav", TWavContainer::wcRf64, TWavType::wtMSADPCM, 2, 16, "s16le"},
      {"w64_ms", ff + "-c:a adpcm_ms -f w64 {}.w64", TWavContainer::wcWave64, TWavType::wtMSADPCM, 2, 16, "s16le"},
      {"sox_w64_u8", "sox -R -V1 -n -r 8000 -c 1 -b 8 -e unsigned -t w64 {}.w64 synth 2401s sine 440",
       TWavContainer::wcWave64, TWavType::wtPCM, 1, 8, "u8"},
      {"sox_w64_s16", "sox -R -V1 -n -r 8000 -c 2 -b 16 -t w64 {}.w64 synth 0.3 whitenoise", TWavContainer::wcWave64,
       TWavType::wtPCM, 2, 16, "s16le"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string base = Path(c.name);
    ASSERT_TRUE(MakeWith(c.make, base));
    const std::string path = base + (c.make.find(".w64") != std::string::npos ? ".w64" : ".wav");
    auto ref = Capture(std::string(kFfmpeg) + "-i " + path + " -f " + c.decode + " -");
    ASSERT_TRUE(ref.has_value());
    ASSERT_GT(ref->size(), 0u);
    // Stored floats come out as our 32-bit integers.
    for (std::size_t i = 0; c.decode == std::string("f32le") && i + 4 <= ref->size(); i += 4) {
      float f;
      std::memcpy(&f, ref->data() + i, 4);
      const std::int32_t v = FloatSampleToInt32(f);
      std::memcpy(ref->data() + i, &v, 4);
    }
    TWaveIn in;
    in.SetFileName(path);
    ASSERT_TRUE(in.Valid());
    EXPECT_EQ(in.Container(), c.container);
    const Delivered d = ReadWithWaveIn(path);
    EXPECT_EQ(d.type, c.type);
    EXPECT_EQ(d.channels, c.channels);
    EXPECT_EQ(d.bits, c.bits);
    EXPECT_EQ(d.totalSamples, static_cast<std::int64_t>(ref->size() / (c.channels * c.bits / 8)));
    EXPECT_TRUE(d.bytes == *ref) << "delivered samples differ from ffmpeg's decode";
  }
}

// ---- chunks other writers put before the audio ----

class WaveInInteropChunks : public InteropTest {};

// A 16-bit mono file by ffmpeg with extra options; the reader must find the data chunk where a
// plain RIFF walk finds it and deliver exactly what ffmpeg decodes.
void CheckFfmpegPcm(const std::string& path, const std::string& options) {
  ASSERT_TRUE(Shell(std::string(kFfmpeg) +
                  "-f lavfi -i \"sine=frequency=440:sample_rate=44100:duration=0.5\" -c:a pcm_s16le " + options +
                  " " + path));
  const auto file = ReadFile(path);
  const auto data = FindChunk(file, "data");
  ASSERT_TRUE(data.has_value());
  const auto raw = Capture(std::string(kFfmpeg) + "-i " + path + " -f s16le -");
  ASSERT_TRUE(raw.has_value());
  ASSERT_EQ(raw->size(), 44100u);  // 22,050 frames of 2 bytes

  const Delivered d = ReadWithWaveIn(path);
  ASSERT_TRUE(d.valid);
  EXPECT_EQ(d.type, TWavType::wtPCM);
  EXPECT_EQ(d.headerSize, static_cast<std::int64_t>(data->offset));
  EXPECT_EQ(d.channels, 1u);
  EXPECT_EQ(d.rate, 44100u);
  EXPECT_EQ(d.bits, 16u);
  EXPECT_EQ(d.totalSamples, 22050);
  EXPECT_TRUE(d.bytes == *raw) << "delivered " << d.bytes.size() << " bytes, ffmpeg decodes " << raw->size();
}

TEST_F(WaveInInteropChunks, FfmpegListInfoChunkIsPassedOver) {
  REQUIRE_TOOL("ffmpeg");
  const std::string path = Path("list.wav");
  CheckFfmpegPcm(path, "-metadata title=x");
  const auto file = ReadFile(path);
  ASSERT_TRUE(FindChunk(file, "LIST").has_value());  // the case is what it claims to be
}

TEST_F(WaveInInteropChunks, FfmpegOddSizedBextChunkIsFollowedByItsPadByte) {
  REQUIRE_TOOL("ffmpeg");
  const std::string path = Path("bext.wav");
  // 602 fixed bytes plus "ab" and its terminator: an odd body, padded to even as RIFF wants.
  CheckFfmpegPcm(path, "-write_bext 1 -metadata coding_history=ab");
  const auto file = ReadFile(path);
  const auto bext = FindChunk(file, "bext");
  ASSERT_TRUE(bext.has_value());
  EXPECT_EQ(bext->size % 2, 1u);
}

// ---- MPEG Layer-3 inside WAV, through the compressed-WAV route ----

class WaveInInteropMp3 : public InteropTest {};

// The route's own test covers 44.1 kHz stereo; this is the half-rate mono kind (MPEG-2 frames
// of 576 samples), where rate, channels and the frame count must come from the decoded image.
TEST_F(WaveInInteropMp3, HalfRateMonoDecodesLikeFfmpeg) {
  REQUIRE_TOOL("ffmpeg");
  MELVANTO_REQUIRE_TOOL(HaveMp3Encoder(), "ffmpeg with libmp3lame");
  const std::string path = Path("mp3.wav");
  ASSERT_TRUE(Shell(std::string(kFfmpeg) +
                    "-f lavfi -i \"sine=frequency=440:sample_rate=22050:duration=0.5\" -c:a libmp3lame -f wav " +
                    path));
  const auto raw = Capture(std::string(kFfmpeg) + "-i " + path + " -f s16le -");
  ASSERT_TRUE(raw.has_value());
  ASSERT_FALSE(raw->empty());

  const Delivered d = ReadWithWaveIn(path);
  ASSERT_TRUE(d.valid);
  EXPECT_EQ(d.type, TWavType::wtACM);
  EXPECT_EQ(d.channels, 1u);
  EXPECT_EQ(d.rate, 22050u);
  EXPECT_EQ(d.bits, 16u);
  EXPECT_EQ(d.totalSamples, d.Frames());
  EXPECT_TRUE(d.wholeFrames);
  EXPECT_EQ(d.bytes.size(), raw->size());
  const auto got = d.As<std::int16_t>();
  std::vector<std::int16_t> ref(raw->size() / 2);
  std::memcpy(ref.data(), raw->data(), ref.size() * 2);
  int worst = 0;
  for (std::size_t i = 0; i < std::min(got.size(), ref.size()); ++i) worst = std::max(worst, std::abs(got[i] - ref[i]));
  EXPECT_LE(worst, 1);  // the same decoder family: at most rounding apart
}

// One impossible block header in the middle of a tool's file (an IMA step index above 88, an
// MS predictor beyond the coefficient table): that block is damaged and counted, the file
// keeps its full length and every other block decodes as before.
TEST_F(WaveInInteropAdpcm, DamagedBlockHeaderIsCountedAndTheRestDecodes) {
  REQUIRE_TOOL("sox");
  REQUIRE_TOOL("ffmpeg");
  struct Case {
    const char* name;
    std::string command;
    std::size_t headerByte;  // the byte of a block header made impossible
  };
  const Case cases[] = {
      {"sox_ima_mono", "sox -R -V1 -r 22050 -c 1 -n -e ima-adpcm {} synth 5 sine 440", 2},
      {"sox_ima_stereo", "sox -R -V1 -r 22050 -c 2 -n -e ima-adpcm {} synth 5 sine 440 sine 1000", 6},
      {"ff_ms_stereo", std::string(kFfmpeg) + "-f lavfi -i \"anoisesrc=r=22050:d=5:a=0.5:seed=3\" -ac 2 -c:a adpcm_ms {}",
       1},
      {"sox_ms_mono", "sox -R -V1 -r 22050 -c 1 -n -e ms-adpcm {} synth 5 sine 440", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = Path(std::string(c.name) + ".wav");
    ASSERT_TRUE(MakeWith(c.command, path));
    const Delivered clean = ReadWithWaveIn(path);
    ASSERT_TRUE(clean.valid);
    EXPECT_EQ(clean.damagedBlocks, 0);

    auto file = ReadFile(path);
    const auto fmt = FindChunk(file, "fmt ");
    const auto data = FindChunk(file, "data");
    ASSERT_TRUE(fmt && data);
    const std::uint32_t align = file[fmt->offset + 12] | (file[fmt->offset + 13] << 8);
    const std::size_t block = data->size / align / 2;
    file[data->offset + block * align + c.headerByte] = 0xFF;
    const std::string damagedPath = Path(std::string(c.name) + "_damaged.wav");
    std::ofstream(damagedPath, std::ios::binary).write(reinterpret_cast<const char*>(file.data()), file.size());

    const Delivered damaged = ReadWithWaveIn(damagedPath);
    ASSERT_TRUE(damaged.valid);
    EXPECT_EQ(damaged.damagedBlocks, 1);
    ASSERT_EQ(damaged.bytes.size(), clean.bytes.size());
    const std::size_t frames = file[fmt->offset + 18] | (file[fmt->offset + 19] << 8);  // per block
    const std::size_t frame = 2u * clean.channels;
    const auto at = [&](std::size_t b) { return static_cast<std::ptrdiff_t>(b * frames * frame); };
    // Blocks hold whole frames of 16-bit samples; all but the damaged one are untouched.
    EXPECT_TRUE(std::equal(clean.bytes.begin(), clean.bytes.begin() + at(block), damaged.bytes.begin()));
    EXPECT_TRUE(std::equal(clean.bytes.begin() + at(block + 1), clean.bytes.end(), damaged.bytes.begin() + at(block + 1)));
    EXPECT_FALSE(std::equal(clean.bytes.begin() + at(block), clean.bytes.begin() + at(block + 1),
                            damaged.bytes.begin() + at(block)));
  }
}

}  // namespace
}  // namespace melvanto::testing
