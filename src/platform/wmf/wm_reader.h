#pragma once

// The runtime's synchronous reader: opens ASF (WMA) and MP3 data from a byte stream the
// caller supplies, offers PCM formats per audio output, decodes to the chosen one and
// answers the file's attributes by name.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "wm_types.h"

namespace melvanto::wmf {

// Result codes only the reader gives.
constexpr HRESULT ASF_E_NOTFOUND = Code(0xC00D07F0);           // no attribute of that name
constexpr HRESULT NS_E_SDK_BUFFERTOOSMALL = Code(0xC00D0BD4);  // the value does not fit the caller's room
constexpr HRESULT NS_E_INVALID_OUTPUT_FORMAT = Code(0xC00D0BB9);

// Seek origins of IStream::Seek.
constexpr std::uint32_t STREAM_SEEK_SET = 0;
constexpr std::uint32_t STREAM_SEEK_CUR = 1;
constexpr std::uint32_t STREAM_SEEK_END = 2;

// What IStream::Stat reports.
struct STATSTG {
  std::uint64_t cbSize = 0;
  std::uint32_t grfLocksSupported = 0;
};

// A byte stream the reader pulls from. Results are HRESULTs; the reader never relies on a
// reported position, only on its own count of what it asked for.
class IStream {
 public:
  virtual ~IStream() = default;
  virtual HRESULT Read(void* pv, std::uint32_t cb, std::uint32_t* pcbRead) = 0;
  virtual HRESULT Write(const void* pv, std::uint32_t cb, std::uint32_t* pcbWritten) = 0;
  virtual HRESULT Seek(std::int64_t move, std::uint32_t origin, std::uint64_t* newPosition) = 0;
  virtual HRESULT SetSize(std::uint64_t newSize) = 0;
  virtual HRESULT CopyTo(IStream* target, std::uint64_t cb, std::uint64_t* pcbRead, std::uint64_t* pcbWritten) = 0;
  virtual HRESULT Commit(std::uint32_t flags) = 0;
  virtual HRESULT Revert() = 0;
  virtual HRESULT LockRegion(std::uint64_t offset, std::uint64_t cb, std::uint32_t lockType) = 0;
  virtual HRESULT UnlockRegion(std::uint64_t offset, std::uint64_t cb, std::uint32_t lockType) = 0;
  virtual HRESULT Stat(STATSTG* stat, std::uint32_t flags) = 0;
  virtual HRESULT Clone(std::shared_ptr<IStream>* stream) = 0;
};

// The media type of one output, or one of the formats it offers.
class IWMOutputMediaProps {
 public:
  virtual ~IWMOutputMediaProps() = default;
  virtual HRESULT GetType(TMajorType* type) = 0;
  virtual HRESULT GetMediaType(WM_MEDIA_TYPE* type) = 0;
  virtual HRESULT SetMediaType(const WM_MEDIA_TYPE& type) = 0;
};

// Output settings the reader understands.
inline const std::u16string g_wszEnableDiscreteOutput = u"EnableDiscreteOutput";
inline const std::u16string g_wszSpeakerConfig = u"SpeakerConfig";
// Attribute names.
inline const std::u16string g_wszWMDuration = u"Duration";  // what the decoder delivers
// The length the file's own header states (an ASF play time, an MP3's Info frame); more than
// Duration when the file is cut or its frames are damaged. Absent when the file states none.
inline const std::u16string g_wszStatedDuration = u"StatedDuration";
inline const std::u16string g_wszWMTitle = u"Title";
inline const std::u16string g_wszWMAuthor = u"Author";
inline const std::u16string g_wszWMCopyright = u"Copyright";
inline const std::u16string g_wszWMDescription = u"Description";  // the comment
inline const std::u16string g_wszWMAlbumTitle = u"WM/AlbumTitle";
inline const std::u16string g_wszWMGenre = u"WM/Genre";
inline const std::u16string g_wszWMYear = u"WM/Year";
inline const std::u16string g_wszWMTrackNumber = u"WM/TrackNumber";  // from 1, "3/12" kept whole
inline const std::u16string g_wszWMTrack = u"WM/Track";              // from 0, older files only

class IWMSyncReader {
 public:
  virtual ~IWMSyncReader() = default;
  // Reads from the stream's position at the call (0 if the stream does not report it);
  // fails on anything but ASF or MP3 audio.
  virtual HRESULT OpenStream(std::shared_ptr<IStream> stream) = 0;
  virtual HRESULT Close() = 0;
  virtual HRESULT GetOutputCount(std::uint32_t* outputs) = 0;
  virtual HRESULT GetOutputProps(std::uint32_t output, std::shared_ptr<IWMOutputMediaProps>* props) = 0;
  virtual HRESULT SetOutputProps(std::uint32_t output, IWMOutputMediaProps* props) = 0;
  virtual HRESULT GetOutputFormatCount(std::uint32_t output, std::uint32_t* formats) = 0;
  virtual HRESULT GetOutputFormat(std::uint32_t output, std::uint32_t format,
                                  std::shared_ptr<IWMOutputMediaProps>* props) = 0;
  // "EnableDiscreteOutput" (BOOL, 4 bytes) offers 24-bit formats and the file's own layout;
  // "SpeakerConfig" (DWORD) offers that layout when it has that many channels.
  virtual HRESULT SetOutputSetting(std::uint32_t output, const std::u16string& name, WMT_ATTR_DATATYPE type,
                                   const std::uint8_t* value, std::uint16_t length) = 0;
  virtual HRESULT GetStreamNumberForOutput(std::uint32_t output, std::uint16_t* stream) = 0;
  // Uncompressed delivery of a protected file is refused with NS_E_PROTECTED_CONTENT.
  virtual HRESULT SetReadStreamSamples(std::uint16_t stream, bool compressed) = 0;
  // One decoded block of the stream (0: the first audio output); times in 100 ns.
  // NS_E_NO_MORE_SAMPLES at the end.
  virtual HRESULT GetNextSample(std::uint16_t stream, std::shared_ptr<INSSBuffer>* sample, std::uint64_t* sampleTime,
                                std::uint64_t* duration, std::uint32_t* flags, std::uint32_t* output,
                                std::uint16_t* streamNumber) = 0;
  // Later samples start exactly at start (100 ns); duration 0 runs to the end.
  virtual HRESULT SetRange(std::uint64_t start, std::int64_t duration) = 0;
  // The attributes of the open file.
  virtual HRESULT GetHeaderInfo(std::shared_ptr<IWMHeaderInfo>* info) = 0;
};

HRESULT WMCreateSyncReader(std::shared_ptr<IWMSyncReader>* reader);

// The PCM formats an output of that many channels offers, in the reader's order: per depth
// (16, then 24 bits with discrete output), stereo (or mono) first, then the file's own layout.
std::vector<WM_MEDIA_TYPE> OfferedPcmFormats(int channels, int rate, bool discrete, std::uint32_t speakers);

}  // namespace melvanto::wmf
