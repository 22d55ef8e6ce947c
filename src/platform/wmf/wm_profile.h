#pragma once

// The runtime's profile side: a profile manager that lists the WMA codecs and formats that
// exist here (FFmpeg's wmav2 and wmav1 encoders), stream configurations and profiles.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "wm_types.h"

namespace melvanto::wmf {

// One format a codec offers: what the encoder is opened with.
struct TCodecFormat {
  std::uint32_t BitRate = 0;  // bit/s
  std::uint32_t SampleRate = 0;
  std::uint16_t Channels = 0;
};

// The encoders behind the codec positions, in listing order.
struct TCodecEntry {
  const char16_t* Name;
  const char* Encoder;  // FFmpeg's encoder name
  std::uint16_t FormatTag;
};
const std::vector<TCodecEntry>& WmaCodecs();
// The formats every codec offers, in listing order (the same for both encoders).
const std::vector<TCodecFormat>& WmaCodecFormats();
// The runtime's description of a format, e.g. "96 kbps, 44 kHz, stereo CBR".
std::u16string DescribeFormat(const TCodecFormat& format);
// Samples per codec frame at a sample rate (version 1 or 2 of the codec).
std::uint32_t WmaFrameSamples(std::uint32_t sampleRate, int version = 2);
// Bytes of one encoded frame: what the encoder's block alignment comes to.
std::uint32_t WmaBlockAlign(const TCodecFormat& format, int version = 2);

// Media properties: the media type with its wave-format block.
class IWMMediaProps {
 public:
  virtual ~IWMMediaProps() = default;
  virtual HRESULT GetType(TMajorType* type) = 0;
  virtual HRESULT GetMediaType(WM_MEDIA_TYPE* type) = 0;
  virtual HRESULT SetMediaType(const WM_MEDIA_TYPE& type) = 0;
};

class IWMStreamConfig : public IWMMediaProps {
 public:
  virtual HRESULT GetStreamType(TMajorType* type) = 0;
  virtual HRESULT GetStreamNumber(std::uint16_t* number) = 0;
  virtual HRESULT SetStreamNumber(std::uint16_t number) = 0;
  virtual HRESULT GetStreamName(std::u16string* name) = 0;
  virtual HRESULT SetStreamName(const std::u16string& name) = 0;
  virtual HRESULT GetConnectionName(std::u16string* name) = 0;
  virtual HRESULT SetConnectionName(const std::u16string& name) = 0;
  virtual HRESULT GetBitrate(std::uint32_t* bitrate) = 0;
  virtual HRESULT SetBitrate(std::uint32_t bitrate) = 0;
};

class IWMProfile {
 public:
  virtual ~IWMProfile() = default;
  virtual HRESULT GetVersion(std::uint32_t* version) = 0;
  virtual HRESULT GetStreamCount(std::uint32_t* count) = 0;
  virtual HRESULT GetStream(std::uint32_t index, std::shared_ptr<IWMStreamConfig>* config) = 0;
  // The profile keeps a copy: later changes to config do not reach it.
  virtual HRESULT AddStream(const std::shared_ptr<IWMStreamConfig>& config) = 0;
};

// Codec information. Names and descriptions are UTF-16: with text null the length in
// characters (terminating null included) goes to *length, otherwise the text is copied when
// *length is large enough.
class IWMCodecInfo3 {
 public:
  virtual ~IWMCodecInfo3() = default;
  virtual HRESULT GetCodecInfoCount(TMajorType type, std::uint32_t* count) = 0;
  virtual HRESULT GetCodecName(TMajorType type, std::uint32_t codec, char16_t* name,
                               std::uint32_t* length) = 0;
  virtual HRESULT SetCodecEnumerationSetting(TMajorType type, std::uint32_t codec, const std::u16string& name,
                                             WMT_ATTR_DATATYPE valueType, const std::uint8_t* value,
                                             std::uint32_t size) = 0;
  virtual HRESULT GetCodecFormatCount(TMajorType type, std::uint32_t codec, std::uint32_t* count) = 0;
  virtual HRESULT GetCodecFormat(TMajorType type, std::uint32_t codec, std::uint32_t format,
                                 std::shared_ptr<IWMStreamConfig>* config) = 0;
  virtual HRESULT GetCodecFormatDesc(TMajorType type, std::uint32_t codec, std::uint32_t format,
                                     std::shared_ptr<IWMStreamConfig>* config, char16_t* description,
                                     std::uint32_t* length) = 0;
  virtual HRESULT GetCodecFormatProp(TMajorType type, std::uint32_t codec, std::uint32_t format,
                                     const std::u16string& name, WMT_ATTR_DATATYPE* valueType,
                                     std::uint8_t* value, std::uint32_t* size) = 0;
};

class IWMProfileManager {
 public:
  virtual ~IWMProfileManager() = default;
  virtual HRESULT CreateEmptyProfile(std::uint32_t version, std::shared_ptr<IWMProfile>* profile) = 0;
  // The codec-information interface of the same object (COM's QueryInterface).
  virtual HRESULT QueryCodecInfo(std::shared_ptr<IWMCodecInfo3>* info) = 0;
};

constexpr std::uint32_t WMT_VER_9_0 = 0x00090000;

HRESULT WMCreateProfileManager(std::shared_ptr<IWMProfileManager>* manager);

// What the writer needs from a stream configuration made here; configurations of another
// kind are refused by AddStream.
struct TStreamFormat {
  std::uint32_t Codec = 0;  // position in WmaCodecs()
  TCodecFormat Format;
};
bool StreamFormatOf(const IWMStreamConfig& config, TStreamFormat* format);

}  // namespace melvanto::wmf
