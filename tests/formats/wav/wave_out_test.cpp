// The WAV writer: headers byte for byte, final sizes, append, refusals, and files read back
// by tools we did not write.

#include "wave_out.h"

#include <gtest/gtest.h>
#include <stdio.h>
#include <stdlib.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>

#include "fakes.h"
#include "require_tool.h"
#include "temp_dir.h"
#include "text_codec.h"
#include "tools.h"
#include "wave_in.h"

namespace melvanto::testing {
namespace {

using Bytes = std::vector<std::uint8_t>;

// Expected headers, spelled out field by field.
struct Le {
  Bytes v;
  Le& id(const char* s) { return v.insert(v.end(), s, s + 4), *this; }
  Le& u16(std::uint32_t x) { return v.push_back(x & 0xFF), v.push_back((x >> 8) & 0xFF), *this; }
  Le& u32(std::uint32_t x) { return u16(x & 0xFFFF).u16(x >> 16); }
  Le& raw(const Bytes& b) { return v.insert(v.end(), b.begin(), b.end()), *this; }
};

std::uint32_t At32(const Bytes& b, std::size_t off) {
  return b[off] | b[off + 1] << 8 | b[off + 2] << 16 | std::uint32_t{b[off + 3]} << 24;
}
Bytes Cat(Bytes a, const Bytes& b) {
  return a.insert(a.end(), b.begin(), b.end()), a;
}
Bytes Slice(const Bytes& b, std::size_t from, std::size_t n = SIZE_MAX) {
  return Bytes(b.begin() + from, b.begin() + std::min(b.size(), from + std::min(n, b.size())));
}

// A slow sine, so that ADPCM tracks it closely and a moved frame shows.
Bytes Sine16(std::size_t frames, int channels) {
  Bytes b;
  for (std::size_t i = 0; i < frames; ++i)
    for (int c = 0; c < channels; ++c) {
      const auto s = static_cast<std::int16_t>(8000 * std::sin(0.05 * i + c));
      b.push_back(s & 0xFF), b.push_back((s >> 8) & 0xFF);
    }
  return b;
}

// Announces more bytes than it delivers.
class TShortIn : public TMemoryIn {
 public:
  TShortIn(Bytes pcm, PcmFormat f, std::int64_t announced)
      : TMemoryIn(std::move(pcm), f), announced_(announced) {}

 protected:
  void OpenFile() override {
    TMemoryIn::OpenFile();
    Size_ = announced_;
  }
  std::int64_t announced_;
};

// Waits at a gate before every block it reads.
class TGatedIn : public TMemoryIn {
 public:
  TGatedIn(Bytes pcm, PcmFormat f, std::uint32_t block, Gate& g)
      : TMemoryIn(std::move(pcm), f, block), gate_(g) {}

 protected:
  void GetDataInternal(const std::uint8_t*& Buffer, std::uint32_t& Bytes) override {
    gate_.Pass();
    TMemoryIn::GetDataInternal(Buffer, Bytes);
  }
  Gate& gate_;
};

// Accepts a limited number of bytes in all, then writes short.
class TFullStream : public TMemoryStream {
 public:
  explicit TFullStream(std::int64_t budget) : budget_(budget) {}
  std::int64_t Write(const void* buffer, std::int64_t count) override {
    const std::int64_t n = std::min(count, budget_);
    budget_ -= n;
    return n > 0 ? TMemoryStream::Write(buffer, n) : 0;
  }

 private:
  std::int64_t budget_;
};

// One kind of file the writer makes: its input format, IMA/DVI or PCM, extensible or not.
struct Kind {
  const char* name;
  PcmFormat f;
  bool ima, ext;
  std::size_t frames;
};

class WaveOutTest : public ::testing::Test {
 protected:
  // Writes a kind of file (a sine for IMA/DVI, a ramp for PCM) as name.wav; returns the PCM given.
  Bytes WriteKind(const Kind& k, std::int64_t sizeLimit = TWaveOut::kSizeLimit) {
    TWaveOut out(sizeLimit);
    out.SetFileName(Path(std::string(k.name) + ".wav"));
    out.SetCreateNonMsHeaders(!k.ext);
    if (k.ima) out.SetWavType(TWavType::wtDVIADPCM);
    const Bytes pcm = k.ima ? Sine16(k.frames, k.f.channels) : Ramp(k.frames * k.f.channels * k.f.bits / 8);
    TMemoryIn in(pcm, k.f);
    EXPECT_EQ(RunOnce(out, in), "");
    return pcm;
  }
  std::string Path(const std::string& name) { return (dir_ / name).string(); }
  Bytes Contents(const std::string& name) { return dir_.Contents(name); }
  void Store(const std::string& name, const Bytes& b) {
    std::ofstream(dir_ / name, std::ios::binary).write(reinterpret_cast<const char*>(b.data()), b.size());
  }
  std::string Write(const std::string& name, const Bytes& pcm, PcmFormat f,
                    TFileOutputMode mode = TFileOutputMode::foRewrite) {
    TMemoryIn in(pcm, f);
    TWaveOut out;
    out.SetFileName(Path(name));
    out.SetFileMode(mode);
    return RunOnce(out, in);
  }

  TempDir dir_;
};

Bytes PcmHeader(std::uint32_t size, std::uint16_t ch, std::uint32_t rate, std::uint16_t bits) {
  const std::uint16_t align = ch * bits / 8;
  return Le{}
      .id("RIFF")
      .u32(size + 36)
      .id("WAVE")
      .id("fmt ")
      .u32(16)
      .u16(1)
      .u16(ch)
      .u32(rate)
      .u32(rate * align)
      .u16(align)
      .u16(bits)
      .id("data")
      .u32(size)
      .v;
}

// The JUNK chunk our headers carry after WAVE: the room a ds64 chunk takes if the file
// outgrows 32-bit sizes.
Bytes Junk() { return Le{}.id("JUNK").u32(28).raw(Bytes(28)).v; }

// The PCM header we write: the plain 44 bytes with the JUNK chunk after WAVE.
Bytes OurPcmHeader(std::uint32_t size, std::uint16_t ch, std::uint32_t rate, std::uint16_t bits) {
  const Bytes plain = PcmHeader(size, ch, rate, bits);
  return Cat(Cat(Le{}.id("RIFF").u32(size + 72).id("WAVE").v, Junk()), Slice(plain, 12));
}

// ---- Headers ----

TEST_F(WaveOutTest, PcmHeaderIsExactAndDataIsPassedThrough) {
  const Bytes pcm = Ramp(40000);
  ASSERT_EQ(Write("a.wav", pcm, {16, 2, 44100}), "");
  EXPECT_EQ(Contents("a.wav"), Cat(OurPcmHeader(40000, 2, 44100, 16), pcm));  // block align 4, 176,400 B/s
}

TEST_F(WaveOutTest, WideOrManyChannelInputGetsExtensibleHeaderOnlyOnRequest) {
  const Bytes pcm = Ramp(6000);
  ASSERT_EQ(Write("plain.wav", pcm, {24, 2, 44100}), "");
  EXPECT_EQ(Contents("plain.wav"), Cat(OurPcmHeader(6000, 2, 44100, 24), pcm));

  const Bytes guid = {1, 0, 0, 0, 0, 0, 0x10, 0, 0x80, 0, 0, 0xAA, 0, 0x38, 0x9B, 0x71};
  TWaveOut out;
  out.SetCreateNonMsHeaders(false);
  out.SetFileName(Path("ext.wav"));
  TMemoryIn in(pcm, {24, 2, 44100});
  ASSERT_EQ(RunOnce(out, in), "");
  const Bytes ext = Le{}.id("RIFF")
                        .u32(6096)
                        .id("WAVE")
                        .raw(Junk())
                        .id("fmt ")
                        .u32(40)
                        .u16(0xFFFE)
                        .u16(2)
                        .u32(44100)
                        .u32(264600)
                        .u16(6)
                        .u16(24)
                        .u16(22)
                        .u16(24)
                        .u32(0x3)
                        .raw(guid)
                        .id("data")
                        .u32(6000)
                        .v;
  EXPECT_EQ(Contents("ext.wav"), Cat(ext, pcm));
  EXPECT_EQ(out.WavType(), TWavType::wtExtPCM);  // stays for later runs

  for (auto [channels, mask] : {std::pair{1u, 0x1u}, {3u, 0u}, {6u, 0x3Fu}, {8u, 0xFFu}}) {
    TMemoryIn many(Ramp(channels * 3 * 10), {24, channels, 48000});
    ASSERT_EQ(RunOnce(out, many), "");
    EXPECT_EQ(At32(Contents("ext.wav"), 76), mask) << channels << " channels";
  }
}

TEST_F(WaveOutTest, ImaHeaderStatesEstimateThenTheBlocksWrittenAndRealFrames) {
  // One second of mono: S = 1,017; the header guesses 43 blocks, 44 are written.
  Gate gate;
  TGatedIn in(Sine16(44100, 1), {16, 1, 44100}, 4096, gate);
  TMemoryStream file;
  TWaveOut out;
  out.SetStream(&file);
  out.SetWavType(TWavType::wtDVIADPCM);
  bool done = false;
  out.SetOnDone([&](TComponent*) { done = true; });
  out.SetInput(&in);
  out.Run();
  gate.AwaitWaiter();  // Prepare is over; the worker waits for its first block
  const Bytes header = Le{}.id("RIFF")
                           .u32(22016 + 88)
                           .id("WAVE")
                           .raw(Junk())
                           .id("fmt ")
                           .u32(20)
                           .u16(0x11)
                           .u16(1)
                           .u32(44100)
                           .u32(22016)
                           .u16(512)
                           .u16(4)
                           .u16(2)
                           .u16(1017)
                           .id("fact")
                           .u32(4)
                           .u32(44100)
                           .id("data")
                           .u32(22016)
                           .v;
  EXPECT_EQ(file.Bytes(), header);
  // Setters are ignored while busy.
  out.SetWavType(TWavType::wtPCM);
  out.SetBlockSize(256);
  EXPECT_EQ(out.WavType(), TWavType::wtDVIADPCM);
  EXPECT_EQ(out.BlockSize(), 512);
  gate.Open();
  ASSERT_TRUE(PumpUntil([&] { return done; }));
  const Bytes& b = file.Bytes();
  ASSERT_EQ(b.size(), 96u + 44 * 512);
  EXPECT_EQ(At32(b, 4), b.size() - 8);
  EXPECT_EQ(At32(b, 92), 44u * 512);
  EXPECT_EQ(At32(b, 84), 44100u);
}

TEST(WaveOutSettings, DefaultsAndIgnoredValues) {
  TWaveOut out;
  EXPECT_EQ(out.WavType(), TWavType::wtPCM);
  EXPECT_EQ(out.BlockSize(), 512);
  EXPECT_TRUE(out.CreateNonMsHeaders());
  EXPECT_EQ(out.FileMode(), TFileOutputMode::foRewrite);
  out.SetBlockSize(510);
  out.SetBlockSize(0);
  EXPECT_EQ(out.BlockSize(), 512);
  out.SetWavType(TWavType::wtMSADPCM);
  out.SetWavType(TWavType::wtExtPCM);
  EXPECT_EQ(out.WavType(), TWavType::wtPCM);
  out.SetFileMode(TFileOutputMode::foAppend);
  EXPECT_EQ(out.FileMode(), TFileOutputMode::foAppend);
}

// ---- Final sizes ----

TEST_F(WaveOutTest, HeaderStatesTheRealLengthWhenTheInputEndsEarlyOrItsSizeIsUnknown) {
  const Bytes pcm = Ramp(3000);
  TWaveOut out;
  out.SetFileName(Path("s.wav"));
  TShortIn shortIn(pcm, {16, 2, 44100}, 10000);
  ASSERT_EQ(RunOnce(out, shortIn), "");
  EXPECT_EQ(Contents("s.wav"), Cat(OurPcmHeader(3000, 2, 44100, 16), pcm)) << "no zero padding";

  TMemoryIn unknown(pcm, {16, 2, 44100});
  unknown.sizeKnown = false;
  ASSERT_EQ(RunOnce(out, unknown), "");
  EXPECT_EQ(Contents("s.wav"), Cat(OurPcmHeader(3000, 2, 44100, 16), pcm));

  // IMA/DVI: stereo 505 frames a block; 600 frames take 2 blocks, the fact counts 600.
  out.SetWavType(TWavType::wtDVIADPCM);
  TMemoryIn ima(Sine16(600, 2), {16, 2, 8000});
  ima.sizeKnown = false;
  ASSERT_EQ(RunOnce(out, ima), "");
  const Bytes b = Contents("s.wav");
  ASSERT_EQ(b.size(), 96u + 2 * 512);
  EXPECT_EQ(At32(b, 4), b.size() - 8);
  EXPECT_EQ(At32(b, 84), 600u);
  EXPECT_EQ(At32(b, 92), 2u * 512);
}

TEST_F(WaveOutTest, StopMidRunLeavesAConsistentFile) {
  for (const bool ima : {false, true}) {
    Gate gate;
    const Bytes pcm = Sine16(20000, 1);
    TGatedIn in(pcm, {16, 1, 22050}, 1000, gate);
    TWaveOut out;
    out.SetFileName(Path("stop.wav"));
    if (ima) out.SetWavType(TWavType::wtDVIADPCM);
    out.SetInput(&in);
    out.Run();
    gate.Allow(5);
    gate.AwaitWaiter();
    std::thread releaser = ReleaseOnStop(out.Thread(), gate);
    out.Stop(false);
    releaser.join();
    const Bytes b = Contents("stop.wav");
    const std::size_t header = ima ? 96 : 80;
    ASSERT_GT(b.size(), header);
    EXPECT_LT(b.size(), header + pcm.size() / (ima ? 4 : 1));
    EXPECT_EQ(At32(b, 4), b.size() - 8);
    EXPECT_EQ(At32(b, header - 4), b.size() - header);
    if (ima) {
      EXPECT_EQ((b.size() - 96) % 512, 0u);
      EXPECT_EQ(At32(b, 84), in.Position() / 2) << "the frames delivered";
    } else {
      EXPECT_EQ(Slice(b, 80), Slice(pcm, 0, b.size() - 80));
    }
  }
}

TEST_F(WaveOutTest, ShortWriteEndsTheRunAndStillReleasesTheInput) {
  for (const std::int64_t budget : {20, 44 + 5000}) {
    TFullStream full(budget);
    TMemoryIn in(Ramp(100000), {16, 2, 44100}, 1000);
    TWaveOut out;
    out.SetStream(&full);
    EXPECT_EQ(RunOnce(out, in), "Error writing wave file") << budget;
    EXPECT_LT(in.Position(), 20000) << "the run ended at the failed block";
  }
}

// ---- Refusals ----

TEST_F(WaveOutTest, ImaRefusesInputItCannotEncodeAndWritesNothing) {
  struct Case {
    PcmFormat format;
    std::uint16_t blockSize;
    const char* message;
  };
  const Case cases[] = {
      {{8, 1, 8000}, 512, "Cannot encode 8 bit sound into ADPCM."},
      {{24, 2, 8000}, 512, "Cannot encode 24 bit sound into ADPCM."},
      {{32, 1, 8000}, 512, "Cannot encode 32 bit sound into ADPCM."},
      {{16, 6, 8000}, 512, "Cannot encode more than 2 channels into ADPCM."},
      {{16, 2, 8000}, 516, "ADPCM block size does not fit the channel layout."},  // 508 is not 8k
      {{16, 1, 8000}, 4, "ADPCM block size does not fit the channel layout."},
  };
  for (const Case& c : cases) {
    Store("r.wav", Ramp(100));  // an existing file is emptied in rewrite mode
    TMemoryIn in(Ramp(1200), c.format);
    TWaveOut out;
    out.SetFileName(Path("r.wav"));
    out.SetWavType(TWavType::wtDVIADPCM);
    out.SetBlockSize(c.blockSize);
    EXPECT_EQ(RunOnce(out, in), c.message);
    EXPECT_TRUE(Contents("r.wav").empty());
  }
}

// ---- Append ----

TEST_F(WaveOutTest, AppendAddsPcmAfterOtherChunksAndPatchesSizes) {
  // A LIST chunk of odd size before the data: no pad byte, the next identifier follows.
  const Bytes fmt = Slice(PcmHeader(0, 2, 44100, 16), 12, 24);
  const Bytes first = Ramp(400);
  const Bytes header =
      Le{}.id("riff").u32(0).id("WAVE").raw(fmt).id("LIST").u32(3).raw({7, 7, 7}).id("data").u32(400).v;
  Store("p.wav", Cat(header, first));
  const Bytes more = Ramp(1000);
  ASSERT_EQ(Write("p.wav", more, {16, 2, 44100}, TFileOutputMode::foAppend), "");
  const Bytes b = Contents("p.wav");
  ASSERT_EQ(b.size(), 55u + 400 + 1000);
  EXPECT_EQ(At32(b, 4), b.size() - 8);
  EXPECT_EQ(At32(b, 51), 1400u);
  EXPECT_EQ(Slice(b, 8, 43), Slice(header, 8, 43));
  EXPECT_EQ(Slice(b, 55), Cat(first, more));
}

TEST_F(WaveOutTest, AppendGoesAfterTheOldAudioNotAfterItsPadByteOrTrailingChunks) {
  // 8-bit mono with an odd data size and the RIFF pad byte after it.
  const Bytes odd = Ramp(1001);
  Store("odd.wav", Cat(Cat(PcmHeader(1001, 1, 8000, 8), odd), Bytes{0}));
  const Bytes more = Ramp(1000);
  ASSERT_EQ(Write("odd.wav", more, {8, 1, 8000}, TFileOutputMode::foAppend), "");
  const Bytes b = Contents("odd.wav");
  EXPECT_EQ(At32(b, 40), 2001u);
  EXPECT_EQ(Slice(b, 44), Cat(odd, more));  // no zero byte in the middle

  // A chunk after the audio cannot be appended past without playing it as audio.
  const Bytes tail = Cat(Cat(PcmHeader(400, 2, 44100, 16), Ramp(400)), Le{}.id("LIST").u32(4).raw({1, 2, 3, 4}).v);
  Store("tail.wav", tail);
  EXPECT_EQ(Write("tail.wav", Ramp(40), {16, 2, 44100}, TFileOutputMode::foAppend),
            "Cannot append data to this .wav file.");
  EXPECT_EQ(Contents("tail.wav"), tail);

  // Raw audio past the stated size, as an append killed before it patched the header leaves:
  // refused with the way out, never appended after it.
  const Bytes cut = Cat(Cat(PcmHeader(400, 2, 44100, 16), Ramp(400)), Ramp(1000));
  Store("cut.wav", cut);
  const std::string refused = Write("cut.wav", Ramp(40), {16, 2, 44100}, TFileOutputMode::foAppend);
  EXPECT_EQ(
      refused.rfind("Cannot append data to this .wav file: it holds more audio than its header states", 0),
      0u)
      << refused;
  EXPECT_NE(refused.find("wav-wav to a new file"), std::string::npos) << refused;
  EXPECT_EQ(Contents("cut.wav"), cut);
}

TEST_F(WaveOutTest, AppendRefusesOtherFormatsAndLeavesTheFileAlone) {
  ASSERT_EQ(Write("22k.wav", Ramp(400), {16, 2, 22050}), "");
  Bytes ext = PcmHeader(4, 2, 44100, 16);
  ext[16] = 40, ext[20] = 0xFE, ext[21] = 0xFF;
  Bytes flt = PcmHeader(8, 2, 44100, 32);
  flt[20] = 3;
  Bytes huge = PcmHeader(4, 2, 44100, 16);
  huge[16] = 0xF0, huge[19] = 0x7F;  // fmt claims more than the file holds
  Bytes junk = Le{}.id("RIFF").u32(0).id("WAVE").id("JUNK").u32(70000).v;  // beyond the window
  junk = Cat(Cat(junk, Bytes(70000)), Slice(PcmHeader(4, 2, 44100, 16), 12));
  const std::pair<std::string, Bytes> files[] = {{"ext.wav", Cat(ext, Bytes(4))},
                                                 {"float.wav", Cat(flt, Bytes(8))},
                                                 {"huge.wav", Cat(huge, Bytes(4))},
                                                 {"junk.wav", junk},
                                                 {"cut.wav", Slice(ext, 0, 20)}};
  for (const auto& [name, bytes] : files) Store(name, bytes);
  const Bytes before22k = Contents("22k.wav");
  EXPECT_EQ(Write("22k.wav", Ramp(40), {16, 2, 44100}, TFileOutputMode::foAppend),
            "Cannot append data in different audio format.");
  EXPECT_EQ(Contents("22k.wav"), before22k);
  for (const auto& [name, bytes] : files) {
    EXPECT_EQ(Write(name, Ramp(40), {16, 2, 44100}, TFileOutputMode::foAppend),
              "Cannot append data to this .wav file.")
        << name;
    EXPECT_EQ(Contents(name), bytes) << name;
  }
}

TEST_F(WaveOutTest, AppendToMissingOrEmptyFileWritesANewOne) {
  const Bytes pcm = Ramp(300);
  ASSERT_EQ(Write("new.wav", pcm, {8, 1, 8000}, TFileOutputMode::foAppend), "");
  EXPECT_EQ(Contents("new.wav"), Cat(OurPcmHeader(300, 1, 8000, 8), pcm));
  Store("empty.wav", {});
  ASSERT_EQ(Write("empty.wav", pcm, {8, 1, 8000}, TFileOutputMode::foAppend), "");
  EXPECT_EQ(Contents("empty.wav"), Cat(OurPcmHeader(300, 1, 8000, 8), pcm));
}

TEST_F(WaveOutTest, ImaAppendTakesTheFilesBlockSizeAndCountsFrames) {
  TWaveOut out;
  out.SetFileName(Path("i.wav"));
  out.SetWavType(TWavType::wtDVIADPCM);
  TMemoryIn first(Sine16(1500, 1), {16, 1, 8000});  // 2 blocks of 1,017 frames
  ASSERT_EQ(RunOnce(out, first), "");
  const Bytes old = Contents("i.wav");

  out.SetFileMode(TFileOutputMode::foAppend);
  out.SetBlockSize(256);
  TMemoryIn rate(Sine16(100, 1), {16, 1, 11025});
  EXPECT_EQ(RunOnce(out, rate), "Cannot append data in different audio format.");
  EXPECT_EQ(Contents("i.wav"), old);

  out.SetWavType(TWavType::wtPCM);  // the file's type wins
  TMemoryIn second(Sine16(1000, 1), {16, 1, 8000});
  ASSERT_EQ(RunOnce(out, second), "");
  EXPECT_EQ(out.BlockSize(), 512);
  EXPECT_EQ(out.WavType(), TWavType::wtDVIADPCM);
  const Bytes b = Contents("i.wav");
  ASSERT_EQ(b.size(), 96u + 3 * 512);
  EXPECT_EQ(Slice(b, 96, 1024), Slice(old, 96));
  EXPECT_EQ(At32(b, 4), b.size() - 8);
  EXPECT_EQ(At32(b, 92), 3u * 512);
  EXPECT_EQ(At32(b, 84), 2 * 1017u + 1000) << "old blocks play whole, then the new frames";

  // A PCM file's block align is no ADPCM block size.
  TMemoryIn pcm(Ramp(40), {16, 2, 8000});
  ASSERT_EQ(Write("p.wav", Ramp(40), {16, 2, 8000}), "");
  out.SetFileName(Path("p.wav"));
  ASSERT_EQ(RunOnce(out, pcm), "");
  EXPECT_EQ(out.BlockSize(), 512);
}

// ---- RF64 past the size limit (lowered here from 4 GB) ----

std::string Tool(const std::string& command) { return CaptureText(command); }

std::uint64_t At64(const Bytes& b, std::size_t off) { return At32(b, off) | std::uint64_t{At32(b, off + 4)} << 32; }

// What our reader delivers of a file, whole.
Bytes ReadBack(const std::string& path) {
  TWaveIn in;
  in.SetFileName(path);
  in.Init();
  Bytes out = Drain(in, 65536, nullptr, 1000000);
  in.Flush();
  return out;
}

// The sizes a file states in its RF64 form: RF64 and ds64 at the start, 0xFFFFFFFF in the
// 32-bit fields.
void ExpectRf64(const Bytes& b, std::size_t dataSizeAt, std::uint64_t data, std::uint64_t frames) {
  EXPECT_EQ(Slice(b, 0, 4), Le{}.id("RF64").v);
  EXPECT_EQ(At32(b, 4), 0xFFFFFFFFu);
  EXPECT_EQ(Slice(b, 12, 8), Le{}.id("ds64").u32(28).v);
  EXPECT_EQ(At64(b, 20), b.size() - 8);
  EXPECT_EQ(At64(b, 28), data);
  EXPECT_EQ(At64(b, 36), frames);
  EXPECT_EQ(At32(b, 44), 0u) << "no table";
  EXPECT_EQ(At32(b, dataSizeAt), 0xFFFFFFFFu);
}

TEST_F(WaveOutTest, PastTheLimitTheFileBecomesRf64AtTheLimitItStaysRiff) {
  // 72 + data is the RIFF size of an 80-byte header.
  constexpr std::int64_t kLimit = 72 + 4000;
  for (const std::size_t data : {std::size_t{4000}, std::size_t{4004}}) {
    SCOPED_TRACE(data);
    const Bytes pcm = Ramp(data);
    TWaveOut out(kLimit);
    out.SetFileName(Path("edge.wav"));
    TMemoryIn in(pcm, {16, 2, 44100});
    ASSERT_EQ(RunOnce(out, in), "");
    const Bytes b = Contents("edge.wav");
    ASSERT_EQ(b.size(), 80 + data);
    if (data == 4000) {
      EXPECT_EQ(b, Cat(OurPcmHeader(4000, 2, 44100, 16), pcm));
    } else {
      ExpectRf64(b, 76, data, data / 4);
      EXPECT_EQ(Slice(b, 48, 28), Slice(OurPcmHeader(4004, 2, 44100, 16), 48, 28)) << "fmt as before";
    }
    EXPECT_EQ(ReadBack(Path("edge.wav")), pcm);
  }
}

TEST_F(WaveOutTest, Rf64FilesOfEveryKindReadBackInSoxFfprobeAndOurReader) {
  MELVANTO_REQUIRE_TOOL(HaveTool("sox") && HaveTool("soxi") && HaveTool("ffprobe"), "sox, soxi and ffprobe");
  struct Rf64Kind {
    Kind k;
    std::size_t header;
  };
  // About 1 MB of PCM (256 KB of ADPCM) against a limit of 100 KB.
  const Rf64Kind kinds[] = {
      {{"s16", {16, 2, 44100}, false, false, 262144}, 80},
      {{"ext6", {24, 6, 48000}, false, true, 58255}, 104},
      {{"ima", {16, 2, 44100}, true, false, 262144}, 96},
  };
  for (const auto& [k, header] : kinds) {
    SCOPED_TRACE(k.name);
    const std::string file = Path(std::string(k.name) + ".wav");
    const Bytes pcm = WriteKind(k, 100000);
    const Bytes b = Contents(std::string(k.name) + ".wav");
    const std::size_t data = b.size() - header;
    ExpectRf64(b, header - 4, data, k.frames);
    if (k.ima) {
      EXPECT_EQ(At32(b, 84), k.frames) << "the fact count fits 32 bits and stays";
    }

    const std::string duration = Tool("ffprobe -v error -show_entries stream=duration_ts -of default=nw=1:nk=1 " + file);
    const std::string soxFrames = Tool("soxi -s " + file);
    TWaveIn reader;
    reader.SetFileName(file);
    EXPECT_EQ(reader.Container(), TWavContainer::wcRf64);
    if (!k.ima) {
      EXPECT_EQ(duration, std::to_string(k.frames) + "\n");
      EXPECT_EQ(soxFrames, std::to_string(k.frames) + "\n");
      EXPECT_TRUE(ReadBack(file) == pcm);
      continue;
    }
    // ffprobe takes the frames the header states; sox counts whole blocks.
    EXPECT_EQ(duration, std::to_string(k.frames) + "\n");
    EXPECT_EQ(soxFrames, std::to_string(data / 512 * 505) + "\n");
    EXPECT_EQ(reader.TotalSamples(), static_cast<std::int64_t>(k.frames));
  }
}

TEST_F(WaveOutTest, AppendTurnsAFileWithRoomIntoRf64AndKeepsAnRf64FileOne) {
  MELVANTO_REQUIRE_TOOL(HaveTool("ffmpeg") && HaveTool("soxi"), "ffmpeg and soxi");
  const Bytes first = Ramp(40000), second = Ramp(80000), third = Ramp(4000);
  const auto append = [&](const Bytes& pcm, TFileOutputMode mode) {
    TWaveOut out(100000);
    out.SetFileName(Path("grow.wav"));
    out.SetFileMode(mode);
    TMemoryIn in(pcm, {16, 2, 44100});
    return RunOnce(out, in);
  };
  ASSERT_EQ(append(first, TFileOutputMode::foRewrite), "");
  ASSERT_EQ(Slice(Contents("grow.wav"), 0, 4), Le{}.id("RIFF").v);
  ASSERT_EQ(append(second, TFileOutputMode::foAppend), "");  // past the limit: RF64 now
  ExpectRf64(Contents("grow.wav"), 76, 120000, 30000);
  ASSERT_EQ(append(third, TFileOutputMode::foAppend), "");
  ExpectRf64(Contents("grow.wav"), 76, 124000, 31000);
  EXPECT_EQ(ReadBack(Path("grow.wav")), Cat(Cat(first, second), third));
  EXPECT_EQ(Tool("soxi -s " + Path("grow.wav")), "31000\n");

  // ffmpeg's RF64 (a ds64 chunk, then fmt and LIST): appended to, and stated right.
  ASSERT_TRUE(Shell("ffmpeg -nostdin -y -v error -f lavfi -i \"sine=frequency=440:sample_rate=44100:duration=0.5\" "
                    "-ac 2 -c:a pcm_s16le -rf64 always " + Path("grow.wav")));
  const Bytes before = ReadBack(Path("grow.wav"));
  ASSERT_EQ(before.size(), 22050u * 4);
  ASSERT_EQ(append(third, TFileOutputMode::foAppend), "");
  EXPECT_EQ(ReadBack(Path("grow.wav")), Cat(before, third));
  EXPECT_EQ(Tool("ffprobe -v error -show_entries stream=duration_ts -of default=nw=1:nk=1 " + Path("grow.wav")),
            "23050\n");
  // A chunk after its audio: the ds64 data size, not the file's end, says where the audio ends.
  const Bytes tail = Cat(Contents("grow.wav"), Le{}.id("LIST").u32(4).raw({1, 2, 3, 4}).v);
  Store("grow.wav", tail);
  EXPECT_EQ(append(third, TFileOutputMode::foAppend), "Cannot append data to this .wav file.");
  EXPECT_EQ(Contents("grow.wav"), tail);

  // A file without the room keeps its RIFF form however long it gets.
  Store("plain.wav", Cat(PcmHeader(40000, 2, 44100, 16), first));
  TWaveOut out(100000);
  out.SetFileName(Path("plain.wav"));
  out.SetFileMode(TFileOutputMode::foAppend);
  TMemoryIn in(second, {16, 2, 44100});
  ASSERT_EQ(RunOnce(out, in), "");
  const Bytes plain = Contents("plain.wav");
  EXPECT_EQ(Slice(plain, 0, 4), Le{}.id("RIFF").v);
  EXPECT_EQ(At32(plain, 40), 120000u);
}

// A source of silence of any length, for the opt-in run past the real 4 GB.
class TSilenceIn : public TAuInput {
 public:
  explicit TSilenceIn(std::int64_t bytes) : bytes_(bytes) { Size_ = bytes; }
  ~TSilenceIn() override { NotifyDestruction(); }
  std::uint32_t GetBitsPerSample() override { return 16; }
  std::uint32_t GetChannels() override { return 2; }
  std::uint32_t GetSampleRate() override { return 44100; }
  void GetData(const std::uint8_t*& Buffer, std::uint32_t& Bytes) override { GetDataInternal(Buffer, Bytes); }

 protected:
  void InitInternal() override { left_ = bytes_; }
  void FlushInternal() override {}
  void GetDataInternal(const std::uint8_t*& Buffer, std::uint32_t& Bytes) override {
    Bytes = static_cast<std::uint32_t>(std::min<std::int64_t>({Bytes, left_, static_cast<std::int64_t>(block_.size())}));
    left_ -= Bytes;
    Buffer = block_.data();
  }

 private:
  std::int64_t bytes_, left_ = 0;
  std::vector<std::uint8_t> block_ = std::vector<std::uint8_t>(65536);
};

// 4.1 GB written and read back: only with MELVANTO_BIG_TESTS=1.
TEST_F(WaveOutTest, BigPastFourGigabytesIsRf64ThatTheToolsRead) {
  if (std::getenv("MELVANTO_BIG_TESTS") == nullptr) GTEST_SKIP() << "set MELVANTO_BIG_TESTS=1 to write 4.1 GB";
  MELVANTO_REQUIRE_TOOL(HaveTool("ffprobe") && HaveTool("soxi"), "ffprobe and soxi");
  const std::int64_t bytes = 0x100000000LL + 100000000;  // past 4 GiB, whole frames
  TSilenceIn in(bytes);
  TWaveOut out;
  out.SetFileName(Path("big.wav"));
  bool done = false;
  out.SetOnDone([&](TComponent*) { done = true; });
  out.SetInput(&in);
  out.Run();
  ASSERT_TRUE(PumpUntil([&] { return done; }, std::chrono::hours(1)));
  out.SetInput(nullptr);
  ASSERT_EQ(out.ExceptionMessage(), "");
  EXPECT_EQ(std::filesystem::file_size(Path("big.wav")), static_cast<std::uintmax_t>(bytes + 80));
  EXPECT_EQ(Tool("ffprobe -v error -show_entries stream=duration_ts -of default=nw=1:nk=1 " + Path("big.wav")),
            std::to_string(bytes / 4) + "\n");
  EXPECT_EQ(Tool("soxi -s " + Path("big.wav")), std::to_string(bytes / 4) + "\n");
  TWaveIn reader;
  reader.SetFileName(Path("big.wav"));
  EXPECT_EQ(reader.Container(), TWavContainer::wcRf64);
  EXPECT_EQ(reader.TotalSamples(), bytes / 4);
}

// ---- Read back by other tools ----

std::int16_t Sample(const void* p) {
  const auto* b = static_cast<const std::uint8_t*>(p);
  return static_cast<std::int16_t>(b[0] | b[1] << 8);
}

TEST_F(WaveOutTest, TagsGoBeforeTheDataReadElsewhereAndSurviveAnAppend) {
  MELVANTO_REQUIRE_TOOL(HaveTool("sox") && HaveTool("ffprobe"), "sox and ffprobe");
  struct Kind {
    const char* name;
    PcmFormat f;
    bool ima, ext;
    std::size_t frames;
  };
  const Kind kinds[] = {
      {"s16", {16, 2, 44100}, false, false, 3001},
      {"ext6", {24, 6, 48000}, false, true, 500},
      {"imas", {16, 2, 44100}, true, false, 1000},  // two blocks of 505 frames, the last short
  };
  for (const Kind& k : kinds) {
    SCOPED_TRACE(k.name);
    const std::string file = Path(std::string(k.name) + ".wav");
    const std::size_t frameBytes = k.f.channels * k.f.bits / 8;
    const Bytes pcm = k.ima ? Sine16(k.frames, k.f.channels) : Ramp(k.frames * frameBytes);
    {
      TWaveOut out;
      out.SetFileName(file);
      out.SetCreateNonMsHeaders(!k.ext);
      if (k.ima) out.SetWavType(TWavType::wtDVIADPCM);
      out.Id3v2Tags()->SetTitle(u"Tïtle");
      out.Id3v2Tags()->SetArtist(u"Ärtist");
      // Long enough to put the data beyond the first 4 KB, which an append must still find.
      out.Id3v2Tags()->SetComment(std::u16string(4000, u'c'));
      out.Id3v2Tags()->SetYear("1999");
      TMemoryIn in(pcm, k.f);
      ASSERT_EQ(RunOnce(out, in), "");
    }
    const Bytes b = Contents(std::string(k.name) + ".wav");
    // The LIST chunk right after the format chunks (which follow the 36-byte JUNK chunk), the
    // data after it; the sizes add up.
    const std::size_t list = 12 + 36 + 8 + (k.ext ? 40 : k.ima ? 20 + 12 : 16);
    ASSERT_GT(b.size(), list + 8);
    EXPECT_EQ(Slice(b, list, 4), Slice(Le{}.id("LIST").v, 0));
    const std::size_t data = list + 8 + At32(b, list + 4);
    EXPECT_EQ(Slice(b, data, 4), Slice(Le{}.id("data").v, 0));
    EXPECT_EQ(At32(b, data + 4), b.size() - data - 8);
    EXPECT_EQ(At32(b, 4), b.size() - 8);

    const std::string tags =
        "TAG:title=Tïtle\nTAG:artist=Ärtist\nTAG:date=1999\nTAG:comment=" + std::string(4000, 'c') + "\n";
    const std::string probe =
        "ffprobe -v error -show_entries format_tags=title,artist,comment,date:stream=duration_ts "
        "-of default=nw=1 " +
        file;
    EXPECT_EQ(Tool(probe), "duration_ts=" + std::to_string(k.frames) + "\n" + tags);
    if (!k.ima) {
      EXPECT_TRUE(Tool("sox " + file + " -t raw -") == std::string(pcm.begin(), pcm.end()));
    }
    {
      TWaveIn in;
      in.SetFileName(file);
      EXPECT_EQ(WideToUtf8(in.Id3v2Tags()->Title()), "Tïtle");
      EXPECT_EQ(in.Id3v2Tags()->Year(), "1999");
      EXPECT_EQ(in.TotalSamples(), static_cast<std::int64_t>(k.frames));
    }

    // Appending finds the audio after the LIST chunk; the tags stay. (Extensible files take
    // no appends.)
    if (k.ext) continue;
    const Bytes more = k.ima ? Sine16(k.frames, k.f.channels) : Ramp(k.frames * frameBytes);
    {
      TWaveOut out;
      out.SetFileName(file);
      out.SetCreateNonMsHeaders(!k.ext);
      out.SetFileMode(TFileOutputMode::foAppend);
      TMemoryIn in(more, k.f);
      ASSERT_EQ(RunOnce(out, in), "");
    }
    // An IMA file's old blocks count whole: they play in full.
    const std::size_t total = k.ima ? 2 * 505 + k.frames : 2 * k.frames;
    EXPECT_EQ(Tool(probe), "duration_ts=" + std::to_string(total) + "\n" + tags);
    if (!k.ima) {
      EXPECT_TRUE(Tool("sox " + file + " -t raw -") ==
                  std::string(pcm.begin(), pcm.end()) + std::string(more.begin(), more.end()));
    }
  }
}

TEST_F(WaveOutTest, InteropEveryKindOfFileReadsBackInSoxAndFfprobe) {
  MELVANTO_REQUIRE_TOOL(HaveTool("sox") && HaveTool("soxi") && HaveTool("ffprobe"), "sox, soxi and ffprobe");
  struct ToolKind {
    Kind k;
    const char* encoding;  // as soxi names it
    const char* codec;     // as ffprobe names it
  };
  const ToolKind kinds[] = {
      {{"u8", {8, 1, 8000}, false, false, 1001}, "Unsigned Integer PCM", "pcm_u8"},
      {{"s16", {16, 2, 44100}, false, false, 3000}, "Signed Integer PCM", "pcm_s16le"},
      {{"s24", {24, 2, 48000}, false, false, 777}, "Signed Integer PCM", "pcm_s24le"},
      {{"ext6", {24, 6, 48000}, false, true, 500}, "Signed Integer PCM", "pcm_s24le"},
      {{"imam", {16, 1, 22050}, true, false, 3000}, "IMA ADPCM", "adpcm_ima_wav"},
      {{"imas", {16, 2, 44100}, true, false, 3000}, "IMA ADPCM", "adpcm_ima_wav"},
  };
  for (const auto& [k, encoding, codec] : kinds) {
    SCOPED_TRACE(k.name);
    const std::string file = Path(std::string(k.name) + ".wav");
    const Bytes pcm = WriteKind(k);

    const unsigned bits = k.ima ? 4 : k.f.bits;
    EXPECT_EQ(Tool("soxi -r " + file), std::to_string(k.f.rate) + "\n");
    EXPECT_EQ(Tool("soxi -c " + file), std::to_string(k.f.channels) + "\n");
    EXPECT_EQ(Tool("soxi -b " + file), std::to_string(bits) + "\n");
    EXPECT_EQ(Tool("soxi -e " + file), std::string(encoding) + "\n");
    EXPECT_EQ(Tool("ffprobe -v error -show_entries stream=codec_name,sample_rate,channels,bits_per_sample,"
                   "duration_ts -of default=nw=1 " +
                   file),
              "codec_name=" + std::string(codec) + "\nsample_rate=" + std::to_string(k.f.rate) +
                  "\nchannels=" + std::to_string(k.f.channels) + "\nbits_per_sample=" + std::to_string(bits) +
                  "\nduration_ts=" + std::to_string(k.frames) + "\n");
    if (k.ext) {
      EXPECT_EQ(Tool("ffprobe -v error -show_entries stream=channel_layout -of default=nw=1 " + file),
                "channel_layout=5.1\n");
    }

    const std::string decoded = Tool("sox " + file + " -t raw -");
    const std::size_t soxFrames = std::stoul(Tool("soxi -s " + file));
    if (!k.ima) {
      EXPECT_EQ(soxFrames, k.frames);
      EXPECT_TRUE(decoded == std::string(pcm.begin(), pcm.end()));
      continue;
    }
    // sox decodes whole blocks: the fact count is met, at most one block's frames beyond it.
    const std::size_t perBlock = k.f.channels == 1 ? 1017 : 505;
    EXPECT_GE(soxFrames, k.frames);
    EXPECT_LT(soxFrames, k.frames + perBlock);
    ASSERT_GE(decoded.size(), pcm.size());
    // ADPCM is lossy: about 20 on average here, while one frame out of place gives about 255.
    double error = 0;
    for (std::size_t i = 0; i < pcm.size(); i += 2) error += std::abs(Sample(&pcm[i]) - Sample(&decoded[i]));
    EXPECT_LT(error / (pcm.size() / 2), 64);
  }
}

}  // namespace
}  // namespace melvanto::testing
