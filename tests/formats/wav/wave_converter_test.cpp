// The compressed-WAV route: loading, the conversion manager's answers, the PCM image.

#include "wave_converter.h"

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <algorithm>
#include <iterator>

#include "acm.h"
#include "fakes.h"
#include "require_tool.h"
#include "tools.h"
#include "temp_dir.h"
#include "riff.h"
#include "wav_builder.h"
#include "wave_in.h"

namespace melvanto::testing {
namespace {

using namespace acm;

WAVEFORMATEX* AsWaveFormat(TWaveConverter::FormatRecord& r) { return reinterpret_cast<WAVEFORMATEX*>(r.data()); }

TEST(WaveConverterTest, SaveWaveWritesAPcmImageAroundTheHeldData) {
  TWaveConverter c;
  const std::vector<std::uint8_t> data(1000, 7);
  c.WriteBuffer(data.data(), 1000);
  PutLE16(c.SourceFormat.data(), 1);
  PutLE16(c.SourceFormat.data() + 2, 2);
  TMemoryStream image;
  EXPECT_EQ(c.SaveWave(image), 0);
  ASSERT_EQ(image.Bytes().size(), 1044u);
  const std::uint8_t* b = image.Bytes().data();
  EXPECT_EQ(GetLE32(b + 4), 1036u);
  EXPECT_TRUE(IdentifierMatch(b + 36, "data"));
  EXPECT_EQ(GetLE32(b + 40), 1000u);
  EXPECT_EQ(GetLE16(b + 22), 2);
  EXPECT_EQ(c.Position(), 1000);  // its own position is restored
}

TEST(WaveConverterTest, LoadWaveTakesExactIdentifiersAndOnlyTheBytesThatExist) {
  WavBuilder lower;
  lower.Riff("riff", "wave").Chunk("fmt ", WavBuilder::Fmt(0x55, 1, 8000, 1, 0)).Chunk("data", {1, 2, 3});
  TMemoryStream in1(lower.Get());
  TWaveConverter a;
  a.LoadWave(in1);
  EXPECT_EQ(a.Size(), 0);  // not loaded: the route is case-sensitive

  WavBuilder lying;
  lying.Riff().Chunk("fmt ", WavBuilder::Fmt(0x55, 1, 8000, 1, 0)).Raw("data").U32(0x7FFFFFFF).Raw("abcdef");
  TMemoryStream in2(lying.Get());
  TWaveConverter b;
  b.LoadWave(in2);
  EXPECT_EQ(b.Size(), 6);  // sized by the file, not by the claim
  EXPECT_EQ(GetLE16(b.SourceFormat.data()), 0x55);

  // The first data chunk is the audio: "data" in a later comment does not replace it.
  WavBuilder trailing;
  trailing.Riff().Chunk("fmt ", WavBuilder::Fmt(0x55, 1, 8000, 1, 0)).Chunk("data", {1, 2, 3, 4, 5, 6, 7, 8});
  trailing.Raw("LIST").U32(16).Raw("metadata\x02\0\0\0!!");
  TMemoryStream in4(trailing.Get());
  TWaveConverter d;
  d.LoadWave(in4);
  EXPECT_EQ(d.Size(), 8);

  // A fmt body longer than the record is cut at 129 bytes.
  std::vector<std::uint8_t> big(300, 0xAB);
  PutLE16(big.data(), 0x55);
  WavBuilder longFmt;
  longFmt.Riff().Chunk("fmt ", big).Chunk("data", {9});
  TMemoryStream in3(longFmt.Get());
  TWaveConverter c;
  c.LoadWave(in3);
  EXPECT_EQ(c.Size(), 1);
}

TEST(WaveConverterTest, ManagerSuggestsSixteenBitPcmOnlyForMpegSources) {
  WAVEFORMATEX src{WAVE_FORMAT_MPEGLAYER3, 2, 44100, 16000, 1, 0, 12};
  WAVEFORMATEX dst{};
  dst.wFormatTag = WAVE_FORMAT_PCM;
  ASSERT_EQ(acmFormatSuggest(nullptr, &src, &dst, sizeof dst, ACM_FORMATSUGGESTF_WFORMATTAG), 0u);
  EXPECT_EQ(dst.nChannels, 2);
  EXPECT_EQ(dst.nSamplesPerSec, 44100u);
  EXPECT_EQ(dst.wBitsPerSample, 16);
  EXPECT_EQ(dst.nBlockAlign, 4);
  WAVEFORMATEX pcm{WAVE_FORMAT_PCM, 2, 44100, 176400, 4, 16, 0};
  EXPECT_NE(acmFormatSuggest(nullptr, &pcm, &dst, sizeof dst, ACM_FORMATSUGGESTF_WFORMATTAG), 0u);
  WAVEFORMATEX zero{};
  EXPECT_NE(acmFormatSuggest(nullptr, &zero, &dst, sizeof dst, ACM_FORMATSUGGESTF_WFORMATTAG), 0u);
  std::uint32_t max = 0;
  EXPECT_EQ(acmMetrics(nullptr, ACM_METRIC_MAX_SIZE_FORMAT, &max), 0u);
  EXPECT_LE(max, TWaveConverter::kFormatRecordSize);
}

TEST(WaveConverterTest, GarbageInAnMpegWavIsNotConvertedAndNotValid) {
  std::vector<std::uint8_t> noise(5000);
  std::uint32_t x = 12345;
  for (auto& b : noise) b = static_cast<std::uint8_t>((x = x * 1103515245 + 12345) >> 24);
  auto fmt = WavBuilder::Fmt(0x55, 2, 44100, 1, 0);
  fmt.insert(fmt.end(), {12, 0, 1, 0, 2, 0, 0, 0, 0x80, 0x01, 1, 0, 0x71, 0x05});
  WavBuilder b;
  b.Riff().Chunk("fmt ", fmt).Chunk("fact", {0, 0, 0, 0}).Chunk("data", noise);
  TMemoryStream stream(b.Get());
  TWaveIn in;
  in.SetStream(&stream);
  EXPECT_FALSE(in.Valid());
  in.SetStream(nullptr);
}

// MPEG Layer-3 in a WAV as another tool writes it decodes to what that tool decodes.
TEST(WaveConverterTest, MpegWavFromAnotherToolDecodesCompletely) {
  MELVANTO_REQUIRE_TOOL(HaveMp3Encoder(),
                        "ffmpeg with libmp3lame");
  TempDir dir;
  const std::string wav = (dir / "in.wav").string(), raw = (dir / "ref.raw").string();
  ASSERT_EQ(std::system(("ffmpeg -v error -f lavfi -i sine=frequency=440:duration=1 -ac 2 -c:a libmp3lame "
                         "-b:a 128k -f wav " + wav + " && ffmpeg -v error -i " + wav + " -f s16le " + raw)
                            .c_str()),
            0);
  std::ifstream f(raw, std::ios::binary);
  const std::vector<std::uint8_t> reference{std::istreambuf_iterator<char>(f), {}};
  TWaveIn in;
  in.SetFileName(wav);
  ASSERT_TRUE(in.Valid());
  EXPECT_EQ(in.WavType(), TWavType::wtACM);
  EXPECT_EQ(in.Channels(), 2u);
  EXPECT_EQ(in.BitsPerSample(), 16u);
  in.Init();
  const std::vector<std::uint8_t> got = Drain(in, 65536);
  in.Flush();
  // The same decoder family on the same frames: every frame, the same length.
  EXPECT_EQ(got.size(), reference.size());
  std::size_t differ = 0;
  for (std::size_t i = 0; i + 1 < std::min(got.size(), reference.size()); i += 2) {
    const int a = static_cast<std::int16_t>(GetLE16(got.data() + i));
    const int r = static_cast<std::int16_t>(GetLE16(reference.data() + i));
    differ += std::abs(a - r) > 1;
  }
  EXPECT_EQ(differ, 0u);
}

std::vector<std::uint8_t> ReadAll(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(f), {}};
}

// The stream converter over a whole file, read in requests of the given size.
std::vector<std::uint8_t> StreamAll(const std::string& path, std::uint32_t request, std::int64_t& frames) {
  TMemoryStream file(ReadAll(path));
  TWaveIn in;
  in.SetStream(&file);
  EXPECT_TRUE(in.Valid());
  const std::int64_t start = in.HeaderSize();
  in.SetStream(nullptr);
  TWaveConverter whole;
  file.SetPosition(0);
  whole.LoadWave(file);
  PutLE16(whole.TargetFormat.data(), kWaveFormatPcm);
  acmFormatSuggest(nullptr, AsWaveFormat(whole.SourceFormat), AsWaveFormat(whole.TargetFormat),
                   TWaveConverter::kFormatRecordSize, ACM_FORMATSUGGESTF_WFORMATTAG);
  TWaveStreamConverter conv(file, whole.SourceFormat, whole.TargetFormat, start, whole.Size());
  frames = conv.CountFrames();
  EXPECT_EQ(conv.Open(), 0);
  std::vector<std::uint8_t> out, piece(request);
  while (const std::uint32_t n = conv.Read(piece.data(), request)) out.insert(out.end(), piece.begin(), piece.begin() + n);
  return out;
}

// Ordinary MPEG files in a WAV, as ffmpeg writes them (MPEG-1, -2 and -2.5 rates): the stream
// converter gives the same PCM whatever the request size, as many frames as the headers
// count, the reader delivers and seeks in it, and ffmpeg's own decode agrees within 1 LSB.
TEST(WaveConverterTest, StreamedMpegMatchesFfmpegAndTheHeaderCount) {
  MELVANTO_REQUIRE_TOOL(HaveMp3Encoder(), "ffmpeg with libmp3lame");
  struct Case {
    const char* args;
    std::uint32_t channels;
  };
  for (const Case c : {Case{"-ac 2 -ar 44100 -b:a 128k", 2}, Case{"-ac 1 -ar 22050 -b:a 32k", 1},
                       Case{"-ac 2 -ar 8000 -b:a 16k", 2}}) {
    SCOPED_TRACE(c.args);
    TempDir dir;
    const std::string wav = (dir / "in.wav").string(), raw = (dir / "ref.raw").string();
    ASSERT_TRUE(Shell(std::string("ffmpeg -v error -f lavfi -i sine=frequency=440:duration=2 ") + c.args +
                      " -c:a libmp3lame -f wav " + wav + " && ffmpeg -v error -i " + wav + " -f s16le " + raw));
    const std::vector<std::uint8_t> reference = ReadAll(raw);
    const std::uint32_t frame = 2 * c.channels;
    std::int64_t counted = 0;
    const std::vector<std::uint8_t> one = StreamAll(wav, 1, counted);
    const std::vector<std::uint8_t> big = StreamAll(wav, 65536, counted);
    EXPECT_TRUE(one == big);
    EXPECT_EQ(counted * frame, static_cast<std::int64_t>(big.size()));
    ASSERT_EQ(big.size(), reference.size());
    std::size_t differ = 0;
    for (std::size_t i = 0; i + 1 < big.size(); i += 2)
      differ += std::abs(static_cast<std::int16_t>(GetLE16(big.data() + i)) -
                         static_cast<std::int16_t>(GetLE16(reference.data() + i))) > 1;
    EXPECT_EQ(differ, 0u);

    TWaveIn in;
    in.SetFileName(wav);
    ASSERT_TRUE(in.Valid());
    EXPECT_EQ(in.TotalSamples(), counted);
    in.Init();
    EXPECT_TRUE(Drain(in, 4099) == big);
    // A seek goes back and decodes forward to the frame asked for.
    const std::int64_t at = counted / 3;
    ASSERT_TRUE(in.Seek(at));
    const std::vector<std::uint8_t> rest = Drain(in, 4099);
    in.Flush();
    EXPECT_TRUE(rest == std::vector<std::uint8_t>(big.begin() + at * frame, big.end()));
  }
}

// 8 kHz mono frames under a header that claims 48 kHz stereo decode six times over and twice
// wide: reading and converting it must not hold that in memory. The reader runs in a child
// whose address space is limited to little more than it has already.
TEST(WaveConverterTest, HeaderClaimingAHigherRateDecodesInBoundedMemory) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "the address sanitizer reserves more address space than any limit";
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
  GTEST_SKIP() << "the address sanitizer reserves more address space than any limit";
#endif
#endif
  MELVANTO_REQUIRE_TOOL(HaveMp3Encoder(), "ffmpeg with libmp3lame");
  TempDir dir;
  const std::string wav = (dir / "crafted.wav").string();
  // 1,200 s: 1.2 MB of frames, claiming 230 MB of PCM.
  ASSERT_TRUE(Shell("ffmpeg -v error -f lavfi -i anoisesrc=d=1200:r=8000:a=0.3:seed=3 -ac 1 -ar 8000 "
                    "-c:a libmp3lame -b:a 8k -f wav " + wav));
  std::vector<std::uint8_t> file = ReadAll(wav);
  const auto fmt = std::search(file.begin(), file.end(), std::begin("fmt "), std::end("fmt ") - 1);
  ASSERT_NE(fmt, file.end());
  PutLE16(&*fmt + 10, 2);
  PutLE32(&*fmt + 12, 48000);
  std::ofstream(wav, std::ios::binary).write(reinterpret_cast<const char*>(file.data()), file.size());

  std::ifstream statm("/proc/self/statm");
  std::uint64_t pages = 0;
  statm >> pages;
  const rlim_t limit = pages * static_cast<rlim_t>(sysconf(_SC_PAGESIZE)) + (192u << 20);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    const rlimit r{limit, limit};
    if (setrlimit(RLIMIT_AS, &r) != 0) _exit(10);
    TWaveIn in;
    in.SetFileName(wav);
    if (!in.Valid()) _exit(11);
    // The claimed 48 kHz frames of 1,200 s.
    if (in.TotalSamples() < 1200 * 48000) _exit(12);
    in.Init();
    std::int64_t bytes = 0;
    for (;;) {
      const std::uint8_t* block = nullptr;
      std::uint32_t n = 1 << 16;
      in.GetData(block, n);
      if (n == 0) break;
      bytes += n;
    }
    in.Flush();
    _exit(bytes >= std::int64_t{1200} * 48000 * 4 ? 0 : 13);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

}  // namespace
}  // namespace melvanto::testing
