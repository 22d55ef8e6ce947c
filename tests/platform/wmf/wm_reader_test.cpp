// The sync reader against files made by ffmpeg and lame, and against ffmpeg's own decode of
// the same files.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "asf_header.h"
#include "temp_dir.h"
#include "tools.h"
#include "wm_reader.h"

namespace melvanto::testing {
namespace {

using namespace melvanto::wmf;
using Bytes = std::vector<std::uint8_t>;

Bytes ReadFile(const std::filesystem::path& path) {
  std::ifstream f(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
}

// An IStream over bytes in memory. With quiet set it behaves like the minimal adapter:
// no position reported by Seek and no Stat, so the reader must keep its own count.
class TBytesStream : public IStream {
 public:
  explicit TBytesStream(Bytes data, bool quiet = false) : Data(std::move(data)), Quiet(quiet) {}
  HRESULT Read(void* pv, std::uint32_t cb, std::uint32_t* pcbRead) override {
    const std::uint64_t n = Pos >= Data.size() ? 0 : std::min<std::uint64_t>(cb, Data.size() - Pos);
    if (n > 0) std::memcpy(pv, Data.data() + Pos, n);
    Pos += n;
    if (pcbRead) *pcbRead = static_cast<std::uint32_t>(n);
    return n > 0 ? S_OK : E_FAIL;
  }
  HRESULT Write(const void*, std::uint32_t, std::uint32_t*) override { return E_FAIL; }
  HRESULT Seek(std::int64_t move, std::uint32_t origin, std::uint64_t* newPosition) override {
    const std::int64_t base = origin == STREAM_SEEK_SET ? 0 : origin == STREAM_SEEK_CUR ? Pos : Data.size();
    Pos = static_cast<std::uint64_t>(base + move);
    if (newPosition && !Quiet) *newPosition = Pos;
    return S_OK;
  }
  HRESULT SetSize(std::uint64_t) override { return E_FAIL; }
  HRESULT CopyTo(IStream*, std::uint64_t, std::uint64_t*, std::uint64_t*) override { return E_FAIL; }
  HRESULT Commit(std::uint32_t) override { return E_FAIL; }
  HRESULT Revert() override { return E_FAIL; }
  HRESULT LockRegion(std::uint64_t, std::uint64_t, std::uint32_t) override { return E_FAIL; }
  HRESULT UnlockRegion(std::uint64_t, std::uint64_t, std::uint32_t) override { return E_FAIL; }
  HRESULT Stat(STATSTG* stat, std::uint32_t) override {
    if (Quiet) return E_FAIL;
    stat->cbSize = Data.size();
    return S_OK;
  }
  HRESULT Clone(std::shared_ptr<IStream>*) override { return E_FAIL; }

 private:
  Bytes Data;
  std::uint64_t Pos = 0;
  bool Quiet;
};

// Every file the tests read, made once for the whole program.
class Fixtures {
 public:
  static Fixtures& Get() {
    static Fixtures f;
    return f;
  }
  bool Ready() const { return ready; }
  std::filesystem::path operator/(const std::string& name) const { return dir / name; }
  // ffmpeg's own decode, to raw little-endian PCM (fmt s16le or s24le).
  Bytes Decoded(const std::string& name, const std::string& fmt = "s16le") const {
    return Capture("ffmpeg -v error -i " + (dir / name).string() + " -f " + fmt + " -").value_or(Bytes{});
  }

 private:
  Fixtures() {
    if (!HaveTool("ffmpeg") || !HaveTool("lame")) return;
    const std::string d = dir.String();
    ready = Shell("cd " + d +
                  " && ffmpeg -v error -f lavfi -i 'sine=f=440:d=3:r=44100' -f lavfi -i "
                  "'anoisesrc=d=3:r=44100:a=0.2:s=7' -filter_complex '[0][1]amerge=inputs=2' -c:a pcm_s16le src.wav"
                  " && ffmpeg -v error -f lavfi -i 'sine=f=300:d=2:r=22050' -c:a pcm_s16le mono22.wav"
                  " && lame --quiet -b 128 src.wav cbr.mp3"
                  " && lame --quiet -V 4 src.wav vbr_info.mp3"
                  " && lame --quiet -V 4 --noreplaygain -t src.wav vbr_noinfo.mp3"
                  " && lame --quiet -b 64 mono22.wav mono22.mp3"
                  " && ffmpeg -v error -i src.wav -c:a libmp3lame -b:a 96k -id3v2_version 3 -metadata title='Hé ☃'"
                  " -metadata artist=Art -metadata album=Alb -metadata genre=Rock -metadata date=1999"
                  " -metadata track=5/9 -metadata copyright=Cpy ff_tagged.mp3"
                  " && ffmpeg -v error -i src.wav -c:a wmav2 -b:a 128k -metadata title=Title2 -metadata artist=Artist2"
                  " -metadata album=Album2 -metadata genre=Jazz -metadata date=2021 -metadata track=7"
                  " -metadata copyright=Copy2 v2.wma"
                  " && ffmpeg -v error -i mono22.wav -c:a wmav1 -b:a 32k v1.wma");
  }
  TempDir dir;
  bool ready = false;
};

#define REQUIRE_FIXTURES()                                                                   \
  MELVANTO_REQUIRE_COMMAND("ffmpeg");                                                        \
  MELVANTO_REQUIRE_COMMAND("lame");                                                          \
  ASSERT_TRUE(Fixtures::Get().Ready()) << "the test files could not be made"

std::shared_ptr<IWMSyncReader> Open(const Bytes& data, HRESULT* result = nullptr, bool quiet = false) {
  std::shared_ptr<IWMSyncReader> reader;
  EXPECT_EQ(WMCreateSyncReader(&reader), S_OK);
  const HRESULT hr = reader->OpenStream(std::make_shared<TBytesStream>(data, quiet));
  if (result) *result = hr;
  return Succeeded(hr) ? reader : nullptr;
}

std::shared_ptr<IWMSyncReader> OpenFile(const std::string& name, bool quiet = false) {
  return Open(ReadFile(Fixtures::Get() / name), nullptr, quiet);
}

WM_MEDIA_TYPE Format(IWMSyncReader& r, std::uint32_t output, std::uint32_t index) {
  std::shared_ptr<IWMOutputMediaProps> props;
  EXPECT_EQ(r.GetOutputFormat(output, index, &props), S_OK);
  WM_MEDIA_TYPE t;
  if (props) props->GetMediaType(&t);
  return t;
}

// Every sample of output 0 to the end, checking that times follow each other.
Bytes ReadAll(IWMSyncReader& r, std::uint64_t* firstTime = nullptr) {
  Bytes out;
  bool first = true;
  std::uint64_t expected = 0;
  for (;;) {
    std::shared_ptr<INSSBuffer> sample;
    std::uint64_t time = 0, duration = 0;
    std::uint32_t flags = 0, output = 0;
    std::uint16_t stream = 0;
    const HRESULT hr = r.GetNextSample(0, &sample, &time, &duration, &flags, &output, &stream);
    if (hr == NS_E_NO_MORE_SAMPLES) break;
    EXPECT_EQ(hr, S_OK);
    if (hr != S_OK) break;
    if (first && firstTime) *firstTime = time;
    if (!first) {
      EXPECT_NEAR(static_cast<double>(time), static_cast<double>(expected), 1.0);
    }
    first = false;
    expected = time + duration;
    std::uint8_t* data = nullptr;
    std::uint32_t length = 0;
    EXPECT_EQ(sample->GetBufferAndLength(&data, &length), S_OK);
    out.insert(out.end(), data, data + length);
  }
  return out;
}

std::u16string Text(IWMSyncReader& r, const std::u16string& name, HRESULT* result = nullptr) {
  std::shared_ptr<IWMHeaderInfo> info;
  EXPECT_EQ(r.GetHeaderInfo(&info), S_OK);
  std::uint16_t stream = 0, length = 0;
  WMT_ATTR_DATATYPE type{};
  HRESULT hr = info->GetAttributeByName(&stream, name, &type, nullptr, &length);
  if (result) *result = hr;
  if (Failed(hr)) return {};
  EXPECT_EQ(type, WMT_ATTR_DATATYPE::WMT_TYPE_STRING);
  std::vector<std::uint8_t> value(length);
  EXPECT_EQ(info->GetAttributeByName(&stream, name, &type, value.data(), &length), S_OK);
  std::u16string s(length / 2, u'\0');
  std::memcpy(s.data(), value.data(), length);
  EXPECT_FALSE(s.empty());
  EXPECT_EQ(s.back(), u'\0') << "strings end with their null";
  if (!s.empty()) s.pop_back();
  return s;
}

std::int64_t Duration(IWMSyncReader& r) {
  std::shared_ptr<IWMHeaderInfo> info;
  EXPECT_EQ(r.GetHeaderInfo(&info), S_OK);
  std::uint16_t stream = 0, length = 8;
  WMT_ATTR_DATATYPE type{};
  std::uint8_t value[8] = {};
  if (Failed(info->GetAttributeByName(&stream, g_wszWMDuration, &type, value, &length))) return -1;
  EXPECT_EQ(type, WMT_ATTR_DATATYPE::WMT_TYPE_QWORD);
  EXPECT_EQ(length, 8);
  std::int64_t v = 0;
  std::memcpy(&v, value, 8);
  return v;
}

void SetBool(IWMSyncReader& r, const std::u16string& name, std::uint32_t v, WMT_ATTR_DATATYPE type) {
  std::uint8_t b[4];
  std::memcpy(b, &v, 4);
  EXPECT_EQ(r.SetOutputSetting(0, name, type, b, 4), S_OK);
}

// The whole decode, its length and the exact duration, for every kind of MP3 and WMA here.
TEST(WmReader, DecodesLikeFfmpegWithExactDuration) {
  REQUIRE_FIXTURES();
  struct Case {
    const char* file;
    int channels, rate;
    bool exactDuration;
  } cases[] = {{"cbr.mp3", 2, 44100, true},        {"vbr_info.mp3", 2, 44100, true},
               {"vbr_noinfo.mp3", 2, 44100, true}, {"mono22.mp3", 1, 22050, true},
               {"ff_tagged.mp3", 2, 44100, true},  {"v2.wma", 2, 44100, false},
               {"v1.wma", 1, 22050, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    auto r = OpenFile(c.file);
    ASSERT_TRUE(r);
    std::uint32_t outputs = 0, formats = 0;
    ASSERT_EQ(r->GetOutputCount(&outputs), S_OK);
    ASSERT_EQ(outputs, 1u);
    ASSERT_EQ(r->GetOutputFormatCount(0, &formats), S_OK);
    ASSERT_EQ(formats, 1u) << "16 bits only without discrete output";
    const WM_MEDIA_TYPE t = Format(*r, 0, 0);
    EXPECT_EQ(t.majortype, TMajorType::Audio);
    EXPECT_EQ(t.wave.wFormatTag, WAVE_FORMAT_PCM);
    EXPECT_EQ(t.wave.nChannels, c.channels);
    EXPECT_EQ(t.wave.nSamplesPerSec, static_cast<std::uint32_t>(c.rate));
    EXPECT_EQ(t.wave.wBitsPerSample, 16);
    std::uint16_t stream = 0;
    ASSERT_EQ(r->GetStreamNumberForOutput(0, &stream), S_OK);
    EXPECT_EQ(r->SetReadStreamSamples(stream, false), S_OK);

    const Bytes expected = Fixtures::Get().Decoded(c.file);
    ASSERT_FALSE(expected.empty());
    std::uint64_t first = 1;
    const Bytes ours = ReadAll(*r, &first);
    EXPECT_EQ(first, 0u);
    EXPECT_EQ(ours.size(), expected.size());
    EXPECT_TRUE(ours == expected) << "the samples differ from ffmpeg's decode";

    const std::int64_t frames = static_cast<std::int64_t>(expected.size()) / (2 * c.channels);
    const std::int64_t exact = (frames * 10'000'000 + c.rate / 2) / c.rate;
    if (c.exactDuration) {
      EXPECT_EQ(Duration(*r), exact);
    } else {
      // An ASF file states its own play time; it may differ from the decode by a frame.
      EXPECT_NEAR(static_cast<double>(Duration(*r)), static_cast<double>(exact), 2048.0 * 1e7 / c.rate + 1e5);
    }
  }
}

TEST(WmReader, AttributesFromAsfAndId3) {
  REQUIRE_FIXTURES();
  auto wma = OpenFile("v2.wma");
  ASSERT_TRUE(wma);
  EXPECT_EQ(Text(*wma, g_wszWMTitle), u"Title2");
  EXPECT_EQ(Text(*wma, g_wszWMAuthor), u"Artist2");
  EXPECT_EQ(Text(*wma, g_wszWMAlbumTitle), u"Album2");
  EXPECT_EQ(Text(*wma, g_wszWMGenre), u"Jazz");
  EXPECT_EQ(Text(*wma, g_wszWMYear), u"2021");
  EXPECT_EQ(Text(*wma, g_wszWMTrackNumber), u"7");
  EXPECT_EQ(Text(*wma, g_wszWMCopyright), u"Copy2");

  auto mp3 = OpenFile("ff_tagged.mp3");
  ASSERT_TRUE(mp3);
  EXPECT_EQ(Text(*mp3, g_wszWMTitle), u"H\u00e9 \u2603");
  EXPECT_EQ(Text(*mp3, g_wszWMAuthor), u"Art");
  EXPECT_EQ(Text(*mp3, g_wszWMAlbumTitle), u"Alb");
  EXPECT_EQ(Text(*mp3, g_wszWMGenre), u"Rock");
  EXPECT_EQ(Text(*mp3, g_wszWMYear), u"1999");
  EXPECT_EQ(Text(*mp3, g_wszWMTrackNumber), u"5/9");
  EXPECT_EQ(Text(*mp3, g_wszWMCopyright), u"Cpy");

  // Missing attributes fail; a value that does not fit says how much room it needs.
  auto bare = OpenFile("cbr.mp3");
  ASSERT_TRUE(bare);
  HRESULT hr = S_OK;
  EXPECT_EQ(Text(*bare, g_wszWMTitle, &hr), u"");
  EXPECT_TRUE(Failed(hr));
  std::shared_ptr<IWMHeaderInfo> info;
  ASSERT_EQ(wma->GetHeaderInfo(&info), S_OK);
  std::uint16_t stream = 0, length = 4;
  std::uint8_t small[4];
  EXPECT_TRUE(Failed(info->GetAttributeByName(&stream, g_wszWMTitle, nullptr, small, &length)));
  EXPECT_EQ(length, 14);
}

TEST(WmReader, DiscreteOutputOffersPacked24Bit) {
  REQUIRE_FIXTURES();
  for (const char* file : {"vbr_info.mp3", "v2.wma"}) {
    SCOPED_TRACE(file);
    auto r = OpenFile(file);
    ASSERT_TRUE(r);
    SetBool(*r, g_wszEnableDiscreteOutput, 0xFFFFFFFF, WMT_ATTR_DATATYPE::WMT_TYPE_BOOL);
    std::uint32_t formats = 0;
    ASSERT_EQ(r->GetOutputFormatCount(0, &formats), S_OK);
    ASSERT_EQ(formats, 2u);
    EXPECT_EQ(Format(*r, 0, 0).wave.wBitsPerSample, 16);
    const WM_MEDIA_TYPE deep = Format(*r, 0, 1);
    EXPECT_EQ(deep.wave.wBitsPerSample, 24);
    EXPECT_EQ(deep.wave.nBlockAlign, 6);
    std::shared_ptr<IWMOutputMediaProps> props;
    ASSERT_EQ(r->GetOutputFormat(0, 1, &props), S_OK);
    ASSERT_EQ(r->SetOutputProps(0, props.get()), S_OK);
    const Bytes ours = ReadAll(*r);
    const Bytes expected = Fixtures::Get().Decoded(file, "s24le");
    EXPECT_EQ(ours.size(), expected.size());
    EXPECT_TRUE(ours == expected);
    // Switching it off again takes the 24-bit format away.
    SetBool(*r, g_wszEnableDiscreteOutput, 0, WMT_ATTR_DATATYPE::WMT_TYPE_BOOL);
    ASSERT_EQ(r->GetOutputFormatCount(0, &formats), S_OK);
    EXPECT_EQ(formats, 1u);
    EXPECT_EQ(r->SetOutputProps(0, props.get()), NS_E_INVALID_OUTPUT_FORMAT);
  }
}

// No encoder at hand writes a multichannel WMA, so the offer is checked on its own.
TEST(WmReader, DiscreteOutputAlsoOffersTheFilesOwnLayout) {
  auto shape = [](int channels, bool discrete, std::uint32_t speakers) {
    std::vector<std::pair<int, int>> list;  // channels, bits
    for (const WM_MEDIA_TYPE& t : OfferedPcmFormats(channels, 48000, discrete, speakers)) {
      EXPECT_EQ(t.wave.nSamplesPerSec, 48000u);
      EXPECT_EQ(t.wave.nBlockAlign, t.wave.nChannels * t.wave.wBitsPerSample / 8);
      list.emplace_back(t.wave.nChannels, t.wave.wBitsPerSample);
    }
    return list;
  };
  using L = std::vector<std::pair<int, int>>;
  EXPECT_EQ(shape(6, false, 0), (L{{2, 16}}));
  EXPECT_EQ(shape(6, false, 6), (L{{2, 16}, {6, 16}}));
  EXPECT_EQ(shape(6, false, 8), (L{{2, 16}}));
  // Stereo stays first at each depth: a request for the current stereo format still finds it.
  EXPECT_EQ(shape(6, true, 0), (L{{2, 16}, {6, 16}, {2, 24}, {6, 24}}));
  EXPECT_EQ(shape(2, true, 0), (L{{2, 16}, {2, 24}}));
  EXPECT_EQ(shape(1, true, 6), (L{{1, 16}, {1, 24}}));
}

// A range starts exactly at the sample asked for, forwards, backwards and after the end;
// MP3 packets far before the start are only counted, so this also checks that counting
// and warming the decoder up give the very samples of a decode from the beginning.
TEST(WmReader, SetRangeIsSampleExact) {
  REQUIRE_FIXTURES();
  struct Case {
    const char* file;
    std::int64_t rate, frameBytes;
  } cases[] = {{"vbr_noinfo.mp3", 44100, 4}, {"vbr_info.mp3", 44100, 4}, {"mono22.mp3", 22050, 2},
               {"v2.wma", 44100, 4}, {"v1.wma", 22050, 2}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    const Bytes all = Fixtures::Get().Decoded(c.file);
    auto r = OpenFile(c.file);
    ASSERT_TRUE(r);
    auto startAt = [&](std::int64_t frame) {
      // The first 100-ns tick that rounds to the frame.
      const std::uint64_t t = static_cast<std::uint64_t>((frame * 10'000'000 + c.rate - 1) / c.rate);
      ASSERT_EQ(r->SetRange(t, 0), S_OK);
      std::uint64_t first = 0;
      const Bytes got = ReadAll(*r, &first);
      if (!got.empty()) {
        EXPECT_EQ(first, static_cast<std::uint64_t>((frame * 10'000'000 + c.rate / 2) / c.rate)) << "the frame's own time";
      }
      const std::size_t offset = std::min(all.size(), static_cast<std::size_t>(frame * c.frameBytes));
      ASSERT_EQ(got.size(), all.size() - offset) << "from frame " << frame;
      EXPECT_TRUE(std::equal(got.begin(), got.end(), all.begin() + offset)) << "from frame " << frame;
    };
    startAt(c.rate * 3 / 2 + 1);
    startAt(1234);  // backwards after reaching the end
    startAt(0);
    startAt(static_cast<std::int64_t>(all.size()) / c.frameBytes - 300);
    startAt(static_cast<std::int64_t>(all.size()) / c.frameBytes + 10);
    // A range with a length stops there.
    ASSERT_EQ(r->SetRange(10'000'000, 5'000'000), S_OK);
    EXPECT_EQ(ReadAll(*r).size(), static_cast<std::size_t>(c.rate / 2 * c.frameBytes));
  }
}

// A Content Encryption or Extended Content Encryption object among the header's objects
// makes the file protected; any other object is harmless.
TEST(WmReader, ProtectedAsfRefusesUncompressedSamples) {
  REQUIRE_FIXTURES();
  const Bytes plain = ReadFile(Fixtures::Get() / "v2.wma");
  const AsfGuid other = [] {
    auto o = kAsfContentEncryption;
    o[0] ^= 1;
    return o;
  }();
  for (const AsfGuid* guid : {&kAsfContentEncryption, &kAsfExtendedContentEncryption, &other}) {
    HRESULT hr = S_OK;
    auto r = Open(WithAsfHeaderObject(plain, *guid), &hr);
    ASSERT_TRUE(r) << std::hex << hr;
    std::uint16_t stream = 0;
    ASSERT_EQ(r->GetStreamNumberForOutput(0, &stream), S_OK);
    EXPECT_EQ(r->SetReadStreamSamples(stream, false), guid == &other ? S_OK : NS_E_PROTECTED_CONTENT);
  }
}

// Only the ASF and MP3 demuxers read, and nothing makes them open another file.
TEST(WmReader, RefusesOtherFormatsAndReferences) {
  REQUIRE_FIXTURES();
  HRESULT hr = S_OK;
  EXPECT_FALSE(Open(ReadFile(Fixtures::Get() / "src.wav"), &hr));
  EXPECT_TRUE(Failed(hr));
  const std::string target = (Fixtures::Get() / "cbr.mp3").string();
  for (const std::string& text : {"#EXTM3U\n#EXTINF:3,\n" + target + "\n", "ffconcat version 1.0\nfile " + target + "\n",
                                  "[playlist]\nFile1=" + target + "\nNumberOfEntries=1\n"}) {
    EXPECT_FALSE(Open(Bytes(text.begin(), text.end()), &hr)) << text;
  }
  std::mt19937 random(42);
  Bytes noise(20000);
  for (auto& b : noise) b = static_cast<std::uint8_t>(random());
  EXPECT_FALSE(Open(noise, &hr));
  EXPECT_FALSE(Open(Bytes{}, &hr));
}

// Cut files open or not, but decode without fault; a cut MP3 decodes its first part exactly.
TEST(WmReader, TruncatedFilesDecodeWhatIsThere) {
  REQUIRE_FIXTURES();
  for (const char* file : {"vbr_info.mp3", "v2.wma", "vbr_noinfo.mp3"}) {
    const Bytes whole = ReadFile(Fixtures::Get() / file);
    for (std::size_t cut : {std::size_t{10}, std::size_t{31}, std::size_t{700}, whole.size() / 2, whole.size() - 5}) {
      SCOPED_TRACE(std::string(file) + " cut at " + std::to_string(cut));
      auto r = Open(Bytes(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(cut)));
      if (!r) continue;
      const Bytes got = ReadAll(*r);
      EXPECT_LE(got.size(), Fixtures::Get().Decoded(file).size() + 4608);
    }
  }
}

// A stream that reports no positions and no size reads the same: the reader counts itself.
TEST(WmReader, StreamWithoutPositionReportsDecodesTheSame) {
  REQUIRE_FIXTURES();
  for (const char* file : {"vbr_noinfo.mp3", "v1.wma"}) {
    auto r = OpenFile(file, true);
    ASSERT_TRUE(r) << file;
    EXPECT_TRUE(ReadAll(*r) == Fixtures::Get().Decoded(file)) << file;
  }
}

// Data after a prefix the caller has skipped: the stream's position at OpenStream is the start.
TEST(WmReader, ReadsFromTheStreamsPositionAtOpen) {
  REQUIRE_FIXTURES();
  for (const char* file : {"v2.wma", "vbr_info.mp3"}) {
    SCOPED_TRACE(file);
    Bytes data(30, 0x5A);
    const Bytes whole = ReadFile(Fixtures::Get() / file);
    data.insert(data.end(), whole.begin(), whole.end());
    auto stream = std::make_shared<TBytesStream>(data);
    ASSERT_EQ(stream->Seek(30, STREAM_SEEK_SET, nullptr), S_OK);
    std::shared_ptr<IWMSyncReader> r;
    ASSERT_EQ(WMCreateSyncReader(&r), S_OK);
    ASSERT_EQ(r->OpenStream(stream), S_OK);
    EXPECT_TRUE(ReadAll(*r) == Fixtures::Get().Decoded(file));
    // Seeking back in it stays within the data.
    ASSERT_EQ(r->SetRange(0, 0), S_OK);
    EXPECT_TRUE(ReadAll(*r) == Fixtures::Get().Decoded(file));
  }
}

}  // namespace
}  // namespace melvanto::testing
