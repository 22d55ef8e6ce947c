#pragma once

// The types and result codes shared by the Windows Media runtime stand-in: what the
// reader, the writer and the profile manager exchange with the components that use them.
// Objects are reference counted through std::shared_ptr, the C++ form of COM's counting.

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace melvanto::wmf {

using HRESULT = std::int32_t;
constexpr HRESULT Code(std::uint32_t value) { return static_cast<HRESULT>(value); }
constexpr bool Failed(HRESULT hr) { return hr < 0; }
constexpr bool Succeeded(HRESULT hr) { return hr >= 0; }

constexpr HRESULT S_OK = 0;
constexpr HRESULT S_FALSE = 1;
constexpr HRESULT E_FAIL = Code(0x80004005);
constexpr HRESULT E_INVALIDARG = Code(0x80070057);
constexpr HRESULT E_OUTOFMEMORY = Code(0x8007000E);
constexpr HRESULT E_UNEXPECTED = Code(0x8000FFFF);
constexpr HRESULT E_NOTIMPL = Code(0x80004001);
constexpr HRESULT NS_E_INVALID_REQUEST = Code(0xC00D002B);
constexpr HRESULT NS_E_NO_MORE_SAMPLES = Code(0xC00D0BCF);
constexpr HRESULT NS_E_PROTECTED_CONTENT = Code(0xC00D0BBD);  // samples of protected files are refused
constexpr HRESULT NS_E_UNRECOGNIZED_STREAM_TYPE = Code(0xC00D0013);
constexpr HRESULT NS_E_INVALID_INPUT_FORMAT = Code(0xC00D0BB8);
constexpr HRESULT NS_E_NOT_CONFIGURED = Code(0xC00D000B);
constexpr HRESULT NS_E_FILE_OPEN_FAILED = Code(0xC00D001D);
constexpr HRESULT NS_E_FILE_WRITE = Code(0xC00D0028);
constexpr HRESULT NS_E_NETWORK_BUSY = Code(0xC00D0034);
// The system's socket errors as results: another socket has the port, the address is not one
// of this machine's.
constexpr HRESULT E_ADDRESS_IN_USE = Code(0x80072740);
constexpr HRESULT E_ADDRESS_NOT_AVAILABLE = Code(0x80072741);

// Attribute and setting value types.
enum class WMT_ATTR_DATATYPE : std::int32_t {
  WMT_TYPE_DWORD = 0,
  WMT_TYPE_STRING = 1,
  WMT_TYPE_BINARY = 2,
  WMT_TYPE_BOOL = 3,
  WMT_TYPE_QWORD = 4,
  WMT_TYPE_WORD = 5,
  WMT_TYPE_GUID = 6,
};

// Status values a writer reports to its callbacks.
enum class WMT_STATUS : std::int32_t {
  WMT_ERROR = 0,
  WMT_OPENED = 1,
  WMT_EOF = 4,
  WMT_STARTED = 9,  // reported with a failure code when writing could not start
  WMT_STOPPED = 10,
  WMT_CLOSED = 12,
  WMT_END_OF_STREAMING = 26,
  WMT_WRITER_ERROR = 30,  // (the error values the file sink reports: 0, 9, 26, 30)
  WMT_CLIENT_CONNECT = 37,
  WMT_CLIENT_DISCONNECT = 38,
};

enum class TMajorType { Audio, Video, Script, Unknown };

constexpr std::uint16_t WAVE_FORMAT_PCM = 1;
constexpr std::uint16_t WAVE_FORMAT_MPEGLAYER3 = 0x55;
constexpr std::uint16_t WAVE_FORMAT_WMAUDIO1 = 0x160;
constexpr std::uint16_t WAVE_FORMAT_WMAUDIO2 = 0x161;
constexpr std::uint16_t WAVE_FORMAT_WMAUDIO3 = 0x162;  // WMA Pro
constexpr std::uint16_t WAVE_FORMAT_WMAUDIO_LOSSLESS = 0x163;

struct WAVEFORMATEX {
  std::uint16_t wFormatTag = 0;
  std::uint16_t nChannels = 0;
  std::uint32_t nSamplesPerSec = 0;
  std::uint32_t nAvgBytesPerSec = 0;
  std::uint16_t nBlockAlign = 0;
  std::uint16_t wBitsPerSample = 0;
};

// A media type: its major type and, for audio, the wave-format block.
struct WM_MEDIA_TYPE {
  TMajorType majortype = TMajorType::Unknown;
  bool hasWaveFormat = false;
  WAVEFORMATEX wave;
};

// Integer PCM of that shape, its block and byte rate worked out.
inline WM_MEDIA_TYPE PcmType(std::uint32_t channels, std::uint32_t rate, std::uint32_t bits) {
  WM_MEDIA_TYPE t;
  t.majortype = TMajorType::Audio;
  t.hasWaveFormat = true;
  t.wave.wFormatTag = WAVE_FORMAT_PCM;
  t.wave.nChannels = static_cast<std::uint16_t>(channels);
  t.wave.nSamplesPerSec = rate;
  t.wave.wBitsPerSample = static_cast<std::uint16_t>(bits);
  t.wave.nBlockAlign = static_cast<std::uint16_t>(channels * bits / 8);
  t.wave.nAvgBytesPerSec = rate * t.wave.nBlockAlign;
  return t;
}

// A block of sample data owned by the runtime.
class INSSBuffer {
 public:
  virtual ~INSSBuffer() = default;
  virtual HRESULT GetBufferAndLength(std::uint8_t** buffer, std::uint32_t* length) = 0;
  virtual HRESULT GetBuffer(std::uint8_t** buffer) = 0;
  virtual HRESULT GetMaxLength(std::uint32_t* length) = 0;
  virtual HRESULT SetLength(std::uint32_t length) = 0;
};

// A plain INSSBuffer over its own bytes.
class TSampleBuffer : public INSSBuffer {
 public:
  explicit TSampleBuffer(std::uint32_t maxLength) : Bytes(maxLength), Length(maxLength) {}
  HRESULT GetBufferAndLength(std::uint8_t** buffer, std::uint32_t* length) override {
    if (buffer == nullptr || length == nullptr) return E_INVALIDARG;
    *buffer = Bytes.data();
    *length = Length;
    return S_OK;
  }
  HRESULT GetBuffer(std::uint8_t** buffer) override {
    if (buffer == nullptr) return E_INVALIDARG;
    *buffer = Bytes.data();
    return S_OK;
  }
  HRESULT GetMaxLength(std::uint32_t* length) override {
    if (length == nullptr) return E_INVALIDARG;
    *length = static_cast<std::uint32_t>(Bytes.size());
    return S_OK;
  }
  HRESULT SetLength(std::uint32_t length) override {
    if (length > Bytes.size()) return E_INVALIDARG;
    Length = length;
    return S_OK;
  }
  std::vector<std::uint8_t>& Storage() { return Bytes; }

 private:
  std::vector<std::uint8_t> Bytes;
  std::uint32_t Length;
};

// Attributes of a file: read by name from a reader's header, set on a writer's header.
class IWMHeaderInfo {
 public:
  virtual ~IWMHeaderInfo() = default;
  // With value null: the length in bytes goes to *length. Otherwise the value is copied
  // when *length is large enough. Strings are UTF-16 with their terminating null.
  virtual HRESULT GetAttributeByName(std::uint16_t* stream, const std::u16string& name, WMT_ATTR_DATATYPE* type,
                                     std::uint8_t* value, std::uint16_t* length) = 0;
  virtual HRESULT SetAttribute(std::uint16_t stream, const std::u16string& name, WMT_ATTR_DATATYPE type,
                               const std::uint8_t* value, std::uint16_t length) = 0;

  // The header's third version: attributes of any size and several of one name (WM/Picture).
  // The indices of the attributes of that name, in the file's order; none is not a failure.
  virtual HRESULT GetAttributeIndices(std::uint16_t /*stream*/, const std::u16string& /*name*/,
                                      std::vector<std::uint16_t>* /*indices*/) {
    return E_NOTIMPL;
  }
  // With value null: the length in bytes goes to *length; otherwise the value is copied when
  // *length is large enough.
  virtual HRESULT GetAttributeByIndexEx(std::uint16_t /*stream*/, std::uint16_t /*index*/,
                                        WMT_ATTR_DATATYPE* /*type*/, std::uint8_t* /*value*/,
                                        std::uint32_t* /*length*/) {
    return E_NOTIMPL;
  }
  // Adds another attribute of that name, keeping those already set.
  virtual HRESULT AddAttribute(std::uint16_t /*stream*/, const std::u16string& /*name*/, std::uint16_t* /*index*/,
                               WMT_ATTR_DATATYPE /*type*/, const std::uint8_t* /*value*/, std::uint32_t /*length*/) {
    return E_NOTIMPL;
  }
};

}  // namespace melvanto::wmf
