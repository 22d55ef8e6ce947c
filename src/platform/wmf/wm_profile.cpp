#include "wm_profile.h"

#include <algorithm>
#include <cstring>

namespace melvanto::wmf {

namespace {

constexpr std::uint32_t Kbps(std::uint32_t k) {
  return k * 1000;
}

// Copies a UTF-16 text with its terminating null the two-call way.
HRESULT CopyText(const std::u16string& text, char16_t* out, std::uint32_t* length) {
  if (length == nullptr) return E_INVALIDARG;
  const auto needed = static_cast<std::uint32_t>(text.size() + 1);
  if (out == nullptr) {
    *length = needed;
    return S_OK;
  }
  if (*length < needed) {
    *length = needed;
    return E_INVALIDARG;
  }
  std::copy(text.begin(), text.end(), out);
  out[text.size()] = u'\0';
  *length = needed;
  return S_OK;
}

std::u16string Ascii(const std::string& s) {
  return std::u16string(s.begin(), s.end());
}

class TWMStreamConfig final : public IWMStreamConfig {
 public:
  TWMStreamConfig(std::uint32_t codec, const TCodecFormat& format) : Codec(codec), Format(format) {
    Type.majortype = TMajorType::Audio;
    Type.hasWaveFormat = true;
    Type.wave.wFormatTag = WmaCodecs()[codec].FormatTag;
    Type.wave.nChannels = format.Channels;
    Type.wave.nSamplesPerSec = format.SampleRate;
    Type.wave.nAvgBytesPerSec = format.BitRate / 8;
    Type.wave.nBlockAlign = static_cast<std::uint16_t>(WmaBlockAlign(format, codec == 0 ? 2 : 1));
    Type.wave.wBitsPerSample = 16;
  }

  HRESULT GetType(TMajorType* type) override { return GetStreamType(type); }
  HRESULT GetMediaType(WM_MEDIA_TYPE* type) override {
    if (type == nullptr) return E_INVALIDARG;
    *type = Type;
    return S_OK;
  }
  HRESULT SetMediaType(const WM_MEDIA_TYPE&) override {
    // The encoder's format is fixed by the codec position; another one cannot be made here.
    return NS_E_INVALID_INPUT_FORMAT;
  }
  HRESULT GetStreamType(TMajorType* type) override {
    if (type == nullptr) return E_INVALIDARG;
    *type = TMajorType::Audio;
    return S_OK;
  }
  HRESULT GetStreamNumber(std::uint16_t* number) override {
    if (number == nullptr) return E_INVALIDARG;
    *number = Number;
    return S_OK;
  }
  HRESULT SetStreamNumber(std::uint16_t number) override {
    // ASF stream numbers are 1 to 63.
    if (number < 1 || number > 63) return E_INVALIDARG;
    Number = number;
    return S_OK;
  }
  HRESULT GetStreamName(std::u16string* name) override {
    if (name == nullptr) return E_INVALIDARG;
    *name = Name;
    return S_OK;
  }
  HRESULT SetStreamName(const std::u16string& name) override {
    Name = name;
    return S_OK;
  }
  HRESULT GetConnectionName(std::u16string* name) override {
    if (name == nullptr) return E_INVALIDARG;
    *name = Connection;
    return S_OK;
  }
  HRESULT SetConnectionName(const std::u16string& name) override {
    Connection = name;
    return S_OK;
  }
  HRESULT GetBitrate(std::uint32_t* bitrate) override {
    if (bitrate == nullptr) return E_INVALIDARG;
    *bitrate = Format.BitRate;
    return S_OK;
  }
  HRESULT SetBitrate(std::uint32_t bitrate) override {
    // The codec's formats are constant bit rate: only the format's own rate is taken.
    return bitrate == Format.BitRate ? S_OK : E_INVALIDARG;
  }

  std::uint16_t StreamNumber() const { return Number; }

  const std::uint32_t Codec;
  const TCodecFormat Format;

 private:
  WM_MEDIA_TYPE Type;
  std::uint16_t Number = 0;
  std::u16string Name;
  std::u16string Connection;
};

class TWMProfile final : public IWMProfile {
 public:
  explicit TWMProfile(std::uint32_t version) : Version(version) {}

  HRESULT GetVersion(std::uint32_t* version) override {
    if (version == nullptr) return E_INVALIDARG;
    *version = Version;
    return S_OK;
  }
  HRESULT GetStreamCount(std::uint32_t* count) override {
    if (count == nullptr) return E_INVALIDARG;
    *count = static_cast<std::uint32_t>(Streams.size());
    return S_OK;
  }
  HRESULT GetStream(std::uint32_t index, std::shared_ptr<IWMStreamConfig>* config) override {
    if (config == nullptr || index >= Streams.size()) return E_INVALIDARG;
    *config = Streams[index];
    return S_OK;
  }
  HRESULT AddStream(const std::shared_ptr<IWMStreamConfig>& config) override {
    const auto* own = dynamic_cast<const TWMStreamConfig*>(config.get());
    if (own == nullptr) return E_INVALIDARG;
    if (own->StreamNumber() == 0) return NS_E_INVALID_REQUEST;
    // One audio stream only: the writer encodes one input.
    if (!Streams.empty()) return NS_E_INVALID_REQUEST;
    Streams.push_back(std::make_shared<TWMStreamConfig>(*own));
    return S_OK;
  }

 private:
  std::uint32_t Version;
  std::vector<std::shared_ptr<TWMStreamConfig>> Streams;
};

class TWMProfileManager final : public IWMProfileManager,
                                public IWMCodecInfo3,
                                public std::enable_shared_from_this<TWMProfileManager> {
 public:
  HRESULT CreateEmptyProfile(std::uint32_t version, std::shared_ptr<IWMProfile>* profile) override {
    if (profile == nullptr) return E_INVALIDARG;
    if (version < 0x00070000 || version > WMT_VER_9_0) return E_INVALIDARG;
    *profile = std::make_shared<TWMProfile>(version);
    return S_OK;
  }
  HRESULT QueryCodecInfo(std::shared_ptr<IWMCodecInfo3>* info) override {
    if (info == nullptr) return E_INVALIDARG;
    *info = shared_from_this();
    return S_OK;
  }

  HRESULT GetCodecInfoCount(TMajorType type, std::uint32_t* count) override {
    if (count == nullptr) return E_INVALIDARG;
    *count = type == TMajorType::Audio ? static_cast<std::uint32_t>(WmaCodecs().size()) : 0;
    return S_OK;
  }
  HRESULT GetCodecName(TMajorType type, std::uint32_t codec, char16_t* name, std::uint32_t* length) override {
    if (!ValidCodec(type, codec)) return E_INVALIDARG;
    return CopyText(WmaCodecs()[codec].Name, name, length);
  }
  HRESULT SetCodecEnumerationSetting(TMajorType type, std::uint32_t codec, const std::u16string& name,
                                     WMT_ATTR_DATATYPE valueType, const std::uint8_t* value,
                                     std::uint32_t size) override {
    if (!ValidCodec(type, codec)) return E_INVALIDARG;
    if (name != u"_VBRENABLED" && name != u"_NUMPASSES") return E_INVALIDARG;
    if (valueType != WMT_ATTR_DATATYPE::WMT_TYPE_BOOL && valueType != WMT_ATTR_DATATYPE::WMT_TYPE_DWORD)
      return E_INVALIDARG;
    if (value == nullptr || size != 4) return E_INVALIDARG;
    std::uint32_t v = 0;
    std::memcpy(&v, value, 4);
    // Both encoders are constant bit rate, one pass: switching that off is all that can be done.
    if (name == u"_VBRENABLED") return v == 0 ? S_OK : NS_E_INVALID_REQUEST;
    return v <= 1 ? S_OK : NS_E_INVALID_REQUEST;
  }
  HRESULT GetCodecFormatCount(TMajorType type, std::uint32_t codec, std::uint32_t* count) override {
    if (count == nullptr || !ValidCodec(type, codec)) return E_INVALIDARG;
    *count = static_cast<std::uint32_t>(WmaCodecFormats().size());
    return S_OK;
  }
  HRESULT GetCodecFormat(TMajorType type, std::uint32_t codec, std::uint32_t format,
                         std::shared_ptr<IWMStreamConfig>* config) override {
    if (config == nullptr || !ValidFormat(type, codec, format)) return E_INVALIDARG;
    *config = std::make_shared<TWMStreamConfig>(codec, WmaCodecFormats()[format]);
    return S_OK;
  }
  HRESULT GetCodecFormatDesc(TMajorType type, std::uint32_t codec, std::uint32_t format,
                             std::shared_ptr<IWMStreamConfig>* config, char16_t* description,
                             std::uint32_t* length) override {
    if (!ValidFormat(type, codec, format)) return E_INVALIDARG;
    if (config != nullptr) *config = std::make_shared<TWMStreamConfig>(codec, WmaCodecFormats()[format]);
    return CopyText(DescribeFormat(WmaCodecFormats()[format]), description, length);
  }
  HRESULT GetCodecFormatProp(TMajorType type, std::uint32_t codec, std::uint32_t format,
                             const std::u16string& name, WMT_ATTR_DATATYPE* valueType, std::uint8_t* value,
                             std::uint32_t* size) override {
    if (!ValidFormat(type, codec, format) || valueType == nullptr || size == nullptr) return E_INVALIDARG;
    // Only variable-bit-rate formats carry a quality, and none exists here.
    if (name == u"_VBRQUALITY") return NS_E_INVALID_REQUEST;
    (void)value;
    return E_INVALIDARG;
  }

 private:
  static bool ValidCodec(TMajorType type, std::uint32_t codec) {
    return type == TMajorType::Audio && codec < WmaCodecs().size();
  }
  static bool ValidFormat(TMajorType type, std::uint32_t codec, std::uint32_t format) {
    return ValidCodec(type, codec) && format < WmaCodecFormats().size();
  }
};

}  // namespace

const std::vector<TCodecEntry>& WmaCodecs() {
  static const std::vector<TCodecEntry> codecs = {
      {u"Windows Media Audio V2", "wmav2", WAVE_FORMAT_WMAUDIO2},
      {u"Windows Media Audio V1", "wmav1", WAVE_FORMAT_WMAUDIO1},
  };
  return codecs;
}

const std::vector<TCodecFormat>& WmaCodecFormats() {
  // The pairs of rate and channels a listener picks, each with the bit rates that sound
  // right for it (the encoders need 24 kbps at least, and more bits per sample than about
  // three are wasted). Ordered by bit rate, then sample rate, mono before stereo: position
  // 29 is 128 kbps, 44 kHz, stereo, the usual choice.
  static const std::vector<TCodecFormat> formats = [] {
    struct Row {
      std::uint32_t rate;
      std::uint16_t channels;
      std::vector<std::uint32_t> kbps;
    };
    const std::vector<Row> rows = {
        {8000, 1, {24}},          {8000, 2, {32}},
        {11025, 1, {24}},         {11025, 2, {32}},
        {16000, 1, {24, 32}},     {16000, 2, {32, 48}},
        {22050, 1, {24, 32}},     {22050, 2, {32, 48, 64}},
        {32000, 1, {32, 48}},     {32000, 2, {40, 48, 64, 80}},
        {44100, 1, {48, 64, 96}}, {44100, 2, {48, 64, 80, 96, 128, 160, 192, 256, 320}},
        {48000, 1, {64}},         {48000, 2, {64, 96, 128, 160, 192, 256, 320}},
    };
    std::vector<TCodecFormat> all;
    for (const Row& r : rows)
      for (std::uint32_t k : r.kbps) all.push_back({Kbps(k), r.rate, r.channels});
    std::sort(all.begin(), all.end(), [](const TCodecFormat& a, const TCodecFormat& b) {
      if (a.BitRate != b.BitRate) return a.BitRate < b.BitRate;
      if (a.SampleRate != b.SampleRate) return a.SampleRate < b.SampleRate;
      return a.Channels < b.Channels;
    });
    return all;
  }();
  return formats;
}

std::u16string DescribeFormat(const TCodecFormat& format) {
  // The runtime names rates by their whole kilohertz: 22050 is "22 kHz".
  return Ascii(std::to_string(format.BitRate / 1000) + " kbps, " + std::to_string(format.SampleRate / 1000) +
               " kHz, " + (format.Channels == 1 ? "mono" : "stereo") + " CBR");
}

std::uint32_t WmaFrameSamples(std::uint32_t sampleRate, int version) {
  // As the encoders choose them; version 1 keeps short frames up to 32 kHz.
  if (sampleRate <= 16000) return 512;
  if (sampleRate <= 22050 || (sampleRate <= 32000 && version == 1)) return 1024;
  return 2048;
}

std::uint32_t WmaBlockAlign(const TCodecFormat& format, int version) {
  const std::uint64_t bytes = static_cast<std::uint64_t>(format.BitRate) *
                              WmaFrameSamples(format.SampleRate, version) / (format.SampleRate * 8ull);
  return static_cast<std::uint32_t>(std::min<std::uint64_t>(bytes, 0xFFFF));
}

HRESULT WMCreateProfileManager(std::shared_ptr<IWMProfileManager>* manager) {
  if (manager == nullptr) return E_INVALIDARG;
  *manager = std::make_shared<TWMProfileManager>();
  return S_OK;
}

bool StreamFormatOf(const IWMStreamConfig& config, TStreamFormat* format) {
  const auto* own = dynamic_cast<const TWMStreamConfig*>(&config);
  if (own == nullptr || format == nullptr) return false;
  format->Codec = own->Codec;
  format->Format = own->Format;
  return true;
}

}  // namespace melvanto::wmf
