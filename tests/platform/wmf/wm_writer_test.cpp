// The writer side of the Windows Media stand-in: codec and format listing, profiles, and
// files checked by ffprobe and ffmpeg (tools we did not write).

#include "wm_writer.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstring>
#include <future>
#include <mutex>
#include <string>
#include <vector>

#include "audio_checks.h"
#include "temp_dir.h"
#include "tools.h"
#include "unique_fd.h"
#include "wm_profile.h"

namespace melvanto::testing {
namespace {

using namespace melvanto::wmf;

std::string Narrow(const std::u16string& s) {
  return std::string(s.begin(), s.end());
}
std::u16string Wide(const std::string& s) {
  return std::u16string(s.begin(), s.end());
}

std::string Lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return s;
}

std::shared_ptr<IWMCodecInfo3> CodecInfo() {
  std::shared_ptr<IWMProfileManager> manager;
  EXPECT_EQ(WMCreateProfileManager(&manager), S_OK);
  std::shared_ptr<IWMCodecInfo3> info;
  EXPECT_EQ(manager->QueryCodecInfo(&info), S_OK);
  return info;
}

// Fetched the two-call way, as the components do.
std::string FormatDescription(IWMCodecInfo3& info, std::uint32_t codec, std::uint32_t format) {
  std::uint32_t length = 0;
  EXPECT_EQ(info.GetCodecFormatDesc(TMajorType::Audio, codec, format, nullptr, nullptr, &length), S_OK);
  std::u16string text(length, u'?');
  EXPECT_EQ(info.GetCodecFormatDesc(TMajorType::Audio, codec, format, nullptr, text.data(), &length), S_OK);
  EXPECT_EQ(text.back(), u'\0');
  text.pop_back();
  return Narrow(text);
}

std::int32_t FormatIndexOf(const std::string& description) {
  auto info = CodecInfo();
  std::uint32_t count = 0;
  info->GetCodecFormatCount(TMajorType::Audio, 0, &count);
  for (std::uint32_t f = 0; f < count; ++f)
    if (FormatDescription(*info, 0, f) == description) return static_cast<std::int32_t>(f);
  return -1;
}

class TRecordingCallback : public IWMStatusCallback {
 public:
  HRESULT OnStatus(WMT_STATUS Status, HRESULT hr, WMT_ATTR_DATATYPE, const std::uint8_t*, void*) override {
    std::lock_guard lock(mutex);
    statuses.emplace_back(Status, hr);
    return S_OK;
  }
  std::vector<std::pair<WMT_STATUS, HRESULT>> Statuses() {
    std::lock_guard lock(mutex);
    return statuses;
  }

 private:
  std::mutex mutex;
  std::vector<std::pair<WMT_STATUS, HRESULT>> statuses;
};

struct Pcm {
  std::uint16_t channels = 2;
  std::uint32_t rate = 44100;
  std::uint16_t bits = 16;
  std::vector<std::uint8_t> bytes;
  std::size_t Frames() const { return bytes.size() / (channels * bits / 8); }
};

Pcm MakePcm(const std::vector<float>& mono, std::uint16_t channels, std::uint32_t rate) {
  return Pcm{channels, rate, 16, Pcm16(mono, channels)};
}

struct Written {
  HRESULT begin = E_FAIL, end = E_FAIL;
  std::vector<HRESULT> writes;
};

// Writes pcm through the runtime calls in 80 ms samples, with format f of codec c.
Written WriteFile(const std::string& path, const Pcm& pcm, std::uint32_t codec, std::uint32_t format,
                  const std::vector<std::pair<std::string, std::string>>& attributes = {},
                  std::shared_ptr<IWMStatusCallback> callback = nullptr) {
  Written r;
  std::shared_ptr<IWMProfileManager> manager;
  WMCreateProfileManager(&manager);
  std::shared_ptr<IWMCodecInfo3> info;
  manager->QueryCodecInfo(&info);
  std::shared_ptr<IWMProfile> profile;
  EXPECT_EQ(manager->CreateEmptyProfile(WMT_VER_9_0, &profile), S_OK);
  std::shared_ptr<IWMStreamConfig> config;
  EXPECT_EQ(info->GetCodecFormat(TMajorType::Audio, codec, format, &config), S_OK);
  config->SetStreamNumber(1);
  config->SetStreamName(u"NAAudioStream");
  config->SetConnectionName(u"NAAudioConnection");
  EXPECT_EQ(profile->AddStream(config), S_OK);

  std::shared_ptr<IWMWriter> writer;
  WMCreateWriter(nullptr, &writer);
  std::shared_ptr<IWMWriterFileSink> sink;
  WMCreateWriterFileSink(&sink);
  std::shared_ptr<IWMWriterAdvanced> advanced;
  writer->QueryInterface(&advanced);
  EXPECT_EQ(advanced->AddSink(sink), S_OK);
  EXPECT_EQ(sink->Open(Wide(path)), S_OK);
  if (callback) sink->Advise(callback, nullptr);
  EXPECT_EQ(writer->SetProfile(profile), S_OK);

  std::shared_ptr<IWMInputMediaProps> props;
  EXPECT_EQ(writer->GetInputProps(0, &props), S_OK);
  WM_MEDIA_TYPE type;
  props->GetMediaType(&type);
  type.wave.wFormatTag = WAVE_FORMAT_PCM;
  type.wave.nChannels = pcm.channels;
  type.wave.nSamplesPerSec = pcm.rate;
  type.wave.wBitsPerSample = pcm.bits;
  type.wave.nBlockAlign = static_cast<std::uint16_t>(pcm.channels * pcm.bits / 8);
  type.wave.nAvgBytesPerSec = type.wave.nBlockAlign * pcm.rate;
  props->SetMediaType(type);
  EXPECT_EQ(writer->SetInputProps(0, props), S_OK);

  std::shared_ptr<IWMHeaderInfo> header;
  writer->QueryInterface(&header);
  for (const auto& [name, value] : attributes) {
    const std::u16string v = Wide(value);
    EXPECT_EQ(header->SetAttribute(0, Wide(name), WMT_ATTR_DATATYPE::WMT_TYPE_STRING,
                                   reinterpret_cast<const std::uint8_t*>(v.data()),
                                   static_cast<std::uint16_t>(v.size() * 2)),
              S_OK);
  }
  r.begin = writer->BeginWriting();
  if (Failed(r.begin)) return r;
  const std::size_t block = std::max<std::size_t>(pcm.channels * pcm.bits * pcm.rate / 100, 1);
  for (std::size_t at = 0; at <= pcm.bytes.size(); at += block) {
    const std::size_t n = std::min(block, pcm.bytes.size() - at);
    std::shared_ptr<INSSBuffer> sample;
    writer->AllocateSample(static_cast<std::uint32_t>(n), &sample);
    std::uint8_t* data = nullptr;
    sample->GetBuffer(&data);
    if (n > 0) std::memcpy(data, pcm.bytes.data() + at, n);
    sample->SetLength(static_cast<std::uint32_t>(n));
    r.writes.push_back(writer->WriteSample(0, 0, 0, sample));
    if (n == 0) break;
  }
  r.end = writer->EndWriting();
  advanced->RemoveSink(sink);
  return r;
}

TEST(WmCodecInfo, ListsBothEncodersWithTheirFormatsDescribedInTheRuntimesStyle) {
  auto info = CodecInfo();
  std::uint32_t codecs = 0;
  ASSERT_EQ(info->GetCodecInfoCount(TMajorType::Audio, &codecs), S_OK);
  ASSERT_EQ(codecs, 2u);
  std::uint32_t none = 1;
  info->GetCodecInfoCount(TMajorType::Video, &none);
  EXPECT_EQ(none, 0u);

  std::vector<std::string> names;
  for (std::uint32_t c = 0; c < codecs; ++c) {
    std::uint32_t length = 0;
    ASSERT_EQ(info->GetCodecName(TMajorType::Audio, c, nullptr, &length), S_OK);
    std::u16string name(length, u'?');
    std::uint32_t tooShort = length - 1;
    EXPECT_TRUE(Failed(info->GetCodecName(TMajorType::Audio, c, name.data(), &tooShort)));
    ASSERT_EQ(info->GetCodecName(TMajorType::Audio, c, name.data(), &length), S_OK);
    names.push_back(Narrow(name.substr(0, name.find(u'\0'))));
  }
  EXPECT_EQ(names, (std::vector<std::string>{"Windows Media Audio V2", "Windows Media Audio V1"}));
  EXPECT_TRUE(Failed(info->GetCodecName(TMajorType::Audio, 2, nullptr, &codecs)));

  for (std::uint32_t c = 0; c < 2; ++c) {
    std::uint32_t count = 0;
    ASSERT_EQ(info->GetCodecFormatCount(TMajorType::Audio, c, &count), S_OK);
    ASSERT_GE(count, 30u);
    for (std::uint32_t f = 0; f < count; ++f) {
      std::shared_ptr<IWMStreamConfig> config;
      ASSERT_EQ(info->GetCodecFormat(TMajorType::Audio, c, f, &config), S_OK);
      std::uint32_t bitrate = 0;
      config->GetBitrate(&bitrate);
      WM_MEDIA_TYPE type;
      config->GetMediaType(&type);
      ASSERT_TRUE(type.hasWaveFormat);
      EXPECT_EQ(type.majortype, TMajorType::Audio);
      EXPECT_EQ(type.wave.wFormatTag, c == 0 ? WAVE_FORMAT_WMAUDIO2 : WAVE_FORMAT_WMAUDIO1);
      EXPECT_EQ(type.wave.nAvgBytesPerSec * 8, bitrate);
      // The description says what the configuration holds.
      const std::string expected = std::to_string(bitrate / 1000) + " kbps, " +
                                   std::to_string(type.wave.nSamplesPerSec / 1000) + " kHz, " +
                                   (type.wave.nChannels == 1 ? "mono" : "stereo") + " CBR";
      EXPECT_EQ(FormatDescription(*info, c, f), expected);
      EXPECT_GE(bitrate, 24000u);
      EXPECT_LE(type.wave.nSamplesPerSec, 48000u);
    }
    std::shared_ptr<IWMStreamConfig> config;
    EXPECT_TRUE(Failed(info->GetCodecFormat(TMajorType::Audio, c, count, &config)));
  }
}

TEST(WmCodecInfo, DefaultsOfTheWindowsFindTheirFormats) {
  auto info = CodecInfo();
  // The main window's search, without regard to case, and the options dialog's position 29.
  std::int32_t found = -1;
  std::uint32_t count = 0;
  info->GetCodecFormatCount(TMajorType::Audio, 0, &count);
  for (std::uint32_t f = 0; f < count && found < 0; ++f)
    if (Lower(FormatDescription(*info, 0, f)).find("96 kbps, 44 khz, stereo cbr") != std::string::npos)
      found = static_cast<std::int32_t>(f);
  EXPECT_GE(found, 0);
  EXPECT_EQ(FormatDescription(*info, 0, 29), "128 kbps, 44 kHz, stereo CBR");
}

TEST(WmCodecInfo, VbrIsRefusedAndFormatsHaveNoQuality) {
  auto info = CodecInfo();
  const std::uint32_t on = 0xFFFFFFFF, off = 0;
  for (std::uint32_t c = 0; c < 2; ++c) {
    EXPECT_TRUE(Failed(info->SetCodecEnumerationSetting(TMajorType::Audio, c, u"_VBRENABLED",
                                                        WMT_ATTR_DATATYPE::WMT_TYPE_BOOL,
                                                        reinterpret_cast<const std::uint8_t*>(&on), 4)));
    EXPECT_EQ(info->SetCodecEnumerationSetting(TMajorType::Audio, c, u"_VBRENABLED",
                                               WMT_ATTR_DATATYPE::WMT_TYPE_BOOL,
                                               reinterpret_cast<const std::uint8_t*>(&off), 4),
              S_OK);
    WMT_ATTR_DATATYPE type;
    std::uint32_t quality = 0, size = 4;
    EXPECT_TRUE(Failed(info->GetCodecFormatProp(TMajorType::Audio, c, 0, u"_VBRQUALITY", &type,
                                                reinterpret_cast<std::uint8_t*>(&quality), &size)));
  }
}

TEST(WmProfile, KeepsACopyOfOneNumberedAudioStream) {
  std::shared_ptr<IWMProfileManager> manager;
  WMCreateProfileManager(&manager);
  std::shared_ptr<IWMProfile> profile;
  ASSERT_EQ(manager->CreateEmptyProfile(0x90000, &profile), S_OK);
  std::shared_ptr<IWMCodecInfo3> info;
  manager->QueryCodecInfo(&info);
  std::shared_ptr<IWMStreamConfig> config;
  info->GetCodecFormat(TMajorType::Audio, 0, 29, &config);
  EXPECT_TRUE(Failed(profile->AddStream(config))) << "a stream needs its number";
  ASSERT_EQ(config->SetStreamNumber(1), S_OK);
  ASSERT_EQ(config->SetStreamName(u"NAAudioStream"), S_OK);
  ASSERT_EQ(profile->AddStream(config), S_OK);
  config->SetStreamName(u"changed later");
  std::shared_ptr<IWMStreamConfig> kept;
  ASSERT_EQ(profile->GetStream(0, &kept), S_OK);
  std::u16string name;
  kept->GetStreamName(&name);
  EXPECT_EQ(name, u"NAAudioStream");
  EXPECT_TRUE(Failed(profile->AddStream(config))) << "one input, one stream";
}

TEST(WmWriter, RefusesToBeginWithoutProfileOrSink) {
  TempDir dir;
  std::shared_ptr<IWMWriter> writer;
  WMCreateWriter(nullptr, &writer);
  std::uint32_t inputs = 5;
  writer->GetInputCount(&inputs);
  EXPECT_EQ(inputs, 0u);
  EXPECT_TRUE(Failed(writer->BeginWriting()));
  std::shared_ptr<IWMWriterFileSink> sink;
  WMCreateWriterFileSink(&sink);
  EXPECT_TRUE(Failed(sink->Open(u"")));
  EXPECT_TRUE(Failed(sink->Open(Wide((dir / "missing" / "x.wma").string()))));
  ASSERT_EQ(sink->Open(Wide((dir / "x.wma").string())), S_OK);
  std::shared_ptr<IWMWriterAdvanced> advanced;
  writer->QueryInterface(&advanced);
  advanced->AddSink(sink);
  EXPECT_TRUE(Failed(writer->BeginWriting())) << "no profile";
  std::shared_ptr<INSSBuffer> sample;
  writer->AllocateSample(4, &sample);
  EXPECT_TRUE(Failed(writer->WriteSample(0, 0, 0, sample)));
  EXPECT_TRUE(Failed(writer->EndWriting()));
}

TEST(WmWriterFileSink, RefusesAFifoWithoutWaitingForAReader) {
  TempDir dir;
  const std::string fifo = (dir / "pipe").string();
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  std::shared_ptr<IWMWriterFileSink> sink;
  WMCreateWriterFileSink(&sink);
  auto opened = std::async(std::launch::async, [&] { return sink->Open(Wide(fifo)); });
  if (opened.wait_for(std::chrono::seconds(30)) != std::future_status::ready) {
    // Only a safety net: a reader lets a blocked open return, so that the test ends.
    UniqueFd reader(::open(fifo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    opened.wait();
    FAIL() << "Open waited for a reader";
  }
  EXPECT_EQ(opened.get(), NS_E_FILE_OPEN_FAILED);
  EXPECT_TRUE(Failed(sink->Open(Wide(dir.String()))));
}

TEST(WmWriter, TheLongestAttributeIsCutToWhatItsLengthCanSay) {
  std::shared_ptr<IWMWriter> writer;
  WMCreateWriter(nullptr, &writer);
  std::shared_ptr<IWMHeaderInfo> header;
  ASSERT_EQ(writer->QueryInterface(&header), S_OK);
  // 32,767 characters and their null would need 65,536 bytes.
  std::u16string text(32767, u'a');
  text[32765] = u'\xD83D';  // a pair cut at the limit loses its first half too
  text[32766] = u'\xDE00';
  ASSERT_EQ(header->SetAttribute(0, u"Title", WMT_ATTR_DATATYPE::WMT_TYPE_STRING,
                                 reinterpret_cast<const std::uint8_t*>(text.data()),
                                 static_cast<std::uint16_t>(text.size() * 2)),
            S_OK);
  std::uint16_t stream = 0, length = 0;
  WMT_ATTR_DATATYPE type;
  ASSERT_EQ(header->GetAttributeByName(&stream, u"Title", &type, nullptr, &length), S_OK);
  EXPECT_EQ(length, 32766 * 2);
  std::u16string back(length / 2, u'?');
  ASSERT_EQ(header->GetAttributeByName(&stream, u"Title", &type, reinterpret_cast<std::uint8_t*>(back.data()),
                                       &length),
            S_OK);
  EXPECT_EQ(back, std::u16string(32765, u'a') + u'\0');
}

TEST(WmWriter, EverySampleStaysInPlaceThroughAnFfmpegDecode) {
  MELVANTO_REQUIRE_COMMAND("ffmpeg");
  TempDir dir;
  // Frames of 2,048, 1,024 and 512 samples; version 1 has 1,024 at 32 kHz.
  for (std::uint32_t codec : {0u, 1u}) {
    for (const std::string description : {"128 kbps, 44 kHz, stereo CBR", "64 kbps, 32 kHz, stereo CBR",
                                          "32 kbps, 22 kHz, stereo CBR", "24 kbps, 8 kHz, mono CBR"}) {
      SCOPED_TRACE(description + " codec " + std::to_string(codec));
      const std::int32_t f = FormatIndexOf(description);
      ASSERT_GE(f, 0);
      std::shared_ptr<IWMStreamConfig> config;
      CodecInfo()->GetCodecFormat(TMajorType::Audio, codec, static_cast<std::uint32_t>(f), &config);
      WM_MEDIA_TYPE type;
      config->GetMediaType(&type);
      const std::uint32_t rate = type.wave.nSamplesPerSec;
      const auto chirp = Chirp(rate * 2 + 123, rate);
      const std::string path = (dir / "chirp.wma").string();
      ASSERT_EQ(
          WriteFile(path, MakePcm(chirp, type.wave.nChannels, rate), codec, static_cast<std::uint32_t>(f))
              .end,
          S_OK);
      const auto decoded = DecodeMono16(path);
      EXPECT_EQ(BestLag(chirp, decoded, 3000), 0);
      const auto frame = static_cast<std::int64_t>(WmaFrameSamples(rate, codec == 0 ? 2 : 1));
      EXPECT_GE(static_cast<std::int64_t>(decoded.size()), static_cast<std::int64_t>(chirp.size()));
      EXPECT_LT(static_cast<std::int64_t>(decoded.size()), static_cast<std::int64_t>(chirp.size()) + frame);
    }
  }
}

TEST(WmWriter, StatedAndRealBitRatesAgree) {
  MELVANTO_REQUIRE_COMMAND("ffprobe");
  TempDir dir;
  auto info = CodecInfo();
  // The lowest, a low one at a high rate, the usual one and the highest, in both codecs.
  for (std::uint32_t codec : {0u, 1u}) {
    for (const std::string description : {"24 kbps, 8 kHz, mono CBR", "48 kbps, 44 kHz, stereo CBR",
                                          "128 kbps, 44 kHz, stereo CBR", "320 kbps, 48 kHz, stereo CBR"}) {
      SCOPED_TRACE(description + " codec " + std::to_string(codec));
      const std::int32_t f = FormatIndexOf(description);
      ASSERT_GE(f, 0);
      std::shared_ptr<IWMStreamConfig> config;
      info->GetCodecFormat(TMajorType::Audio, codec, static_cast<std::uint32_t>(f), &config);
      WM_MEDIA_TYPE type;
      config->GetMediaType(&type);
      const std::string path = (dir / "rate.wma").string();
      const Pcm pcm = MakePcm(Chirp(type.wave.nSamplesPerSec * 45, type.wave.nSamplesPerSec),
                              type.wave.nChannels, type.wave.nSamplesPerSec);
      ASSERT_EQ(WriteFile(path, pcm, codec, static_cast<std::uint32_t>(f)).end, S_OK);
      const std::string s = Probe(path, "stream=bit_rate:format=bit_rate,duration,size");
      const double stated = Field(s, "bit_rate");  // the stream's, listed first
      const double format = Field(s.substr(s.find("bit_rate") + 8), "bit_rate");
      const double real = Field(s, "size") * 8 / Field(s, "duration");
      std::uint32_t wanted = 0;
      config->GetBitrate(&wanted);
      EXPECT_NEAR(stated, wanted, wanted * 0.01) << s;
      EXPECT_NEAR(real, stated, stated * 0.05) << s;
      EXPECT_NEAR(format, stated, stated * 0.05) << s;
    }
  }
}

TEST(WmWriter, TheLastSamplesOfAResampledInputAreKept) {
  MELVANTO_REQUIRE_COMMAND("ffmpeg");
  TempDir dir;
  // 96 kHz goes to 48 kHz: a second of silence, then a loud 1 kHz tone for the last 10 ms.
  constexpr std::uint32_t kRate = 96000, kOutRate = 48000;
  std::vector<float> input(kRate + kRate / 100, 0.0f);
  for (std::size_t i = kRate; i < input.size(); ++i)
    input[i] = static_cast<float>(0.8 * std::sin(2 * M_PI * 1000.0 * double(i - kRate) / kRate));
  const std::int32_t f = FormatIndexOf("192 kbps, 48 kHz, stereo CBR");
  ASSERT_GE(f, 0);
  const std::string path = (dir / "tail.wma").string();
  ASSERT_EQ(WriteFile(path, MakePcm(input, 2, kRate), 0, static_cast<std::uint32_t>(f)).end, S_OK);
  const auto decoded = DecodeMono16(path);
  const std::size_t toneStart = kOutRate, toneEnd = kOutRate + kOutRate / 100;
  ASSERT_GE(decoded.size(), toneEnd + 480);
  // The codec smears a tone this short over its block, but its end stays sharp: the
  // resampler's held-back samples (about 16 here) were what went missing.
  std::size_t lastLoud = 0;
  for (std::size_t i = 0; i < decoded.size(); ++i)
    if (std::abs(decoded[i]) > 1000) lastLoud = i;
  EXPECT_GE(lastLoud, toneEnd - 4);
  EXPECT_LT(lastLoud, toneEnd + 48);
  // Most of the tone's energy is around its place, none long before.
  auto energy = [&](std::size_t from, std::size_t to) {
    double sum = 0;
    for (std::size_t i = from; i < to; ++i) sum += double(decoded[i]) * decoded[i];
    return sum;
  };
  const double tone = (toneEnd - toneStart) * 0.5 * (0.8 * 32767) * (0.8 * 32767);
  EXPECT_GT(energy(toneStart - 2048, toneEnd + 480), 0.5 * tone);
  EXPECT_LT(energy(0, toneStart - 2048), 0.001 * tone);
}

TEST(WmWriter, WriteErrorsReachTheSinksCallbackAndLaterSamplesAreRefused) {
  TempDir dir;
  auto callback = std::make_shared<TRecordingCallback>();
  // The file may not grow past 8 KiB: the writes beyond fail with EFBIG, not a signal.
  struct rlimit old {};
  getrlimit(RLIMIT_FSIZE, &old);
  const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
  struct rlimit small = old;
  small.rlim_cur = 8192;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  const Written w = WriteFile((dir / "full.wma").string(), MakePcm(Chirp(44100 * 10, 44100), 2, 44100), 0, 29,
                              {}, callback);
  setrlimit(RLIMIT_FSIZE, &old);
  std::signal(SIGXFSZ, oldHandler);

  ASSERT_EQ(w.begin, S_OK);
  const auto statuses = callback->Statuses();
  ASSERT_FALSE(statuses.empty());
  EXPECT_EQ(statuses[0].first, WMT_STATUS::WMT_ERROR);
  EXPECT_EQ(statuses[0].second, NS_E_FILE_WRITE);
  const auto firstRefused =
      std::find_if(w.writes.begin(), w.writes.end(), [](HRESULT hr) { return Failed(hr); });
  ASSERT_NE(firstRefused, w.writes.end());
  EXPECT_EQ(*firstRefused, NS_E_FILE_WRITE);
  EXPECT_TRUE(std::all_of(firstRefused, w.writes.end(), [](HRESULT hr) { return hr == NS_E_FILE_WRITE; }));
  EXPECT_TRUE(Failed(w.end));
}

}  // namespace
}  // namespace melvanto::testing
