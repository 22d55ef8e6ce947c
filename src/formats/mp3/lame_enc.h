#pragma once

// LAME's BladeEnc-compatible encoder calls, implemented here over libmp3lame's own API,
// which is loaded by name at run time. The configuration record is LAME's 331-byte
// BladeEnc record (its LAME layout, version 1), read byte for byte.

#include <array>
#include <cstdint>
#include <string>

namespace melvanto {

using BE_ERR = std::uint32_t;
using HBE_STREAM = std::uint32_t;  // 0 is never a valid stream

constexpr BE_ERR BE_ERR_SUCCESSFUL = 0;
constexpr BE_ERR BE_ERR_INVALID_FORMAT = 1;
constexpr BE_ERR BE_ERR_INVALID_FORMAT_PARAMETERS = 2;
constexpr BE_ERR BE_ERR_NO_MORE_HANDLES = 3;
constexpr BE_ERR BE_ERR_INVALID_HANDLE = 4;
constexpr BE_ERR BE_ERR_BUFFER_TOO_SMALL = 5;

// The configuration record and the offsets of its fields (all little-endian).
namespace lame_config {
constexpr std::size_t kSize = 331;
constexpr std::uint32_t kConfigLame = 256;
constexpr std::uint32_t kVersion = 1;
constexpr std::size_t kConfigKind = 0, kStructVersion = 4, kStructSize = 8, kSampleRate = 12, kReSampleRate = 16,
                      kMode = 20, kBitrate = 24, kMaxBitrate = 28, kPreset = 32, kMpegVersion = 36, kPsyModel = 40,
                      kEmphasis = 44, kPrivate = 48, kCrc = 52, kCopyright = 56, kOriginal = 60,
                      kWriteVbrHeader = 64, kEnableVbr = 68, kVbrQuality = 72, kVbrAbrBps = 76, kVbrMethod = 80,
                      kNoReservoir = 84, kStrictIso = 88, kQuality = 92;
constexpr std::int32_t kModeStereo = 0, kModeJointStereo = 1, kModeDualChannel = 2, kModeMono = 3;
constexpr std::int32_t kVbrMethodNone = -1, kVbrMethodDefault = 0, kVbrMethodOld = 1, kVbrMethodNew = 2,
                       kVbrMethodMtrh = 3, kVbrMethodAbr = 4;
}  // namespace lame_config
using TLameConfig = std::array<std::uint8_t, lame_config::kSize>;

void PutConfig32(TLameConfig& config, std::size_t offset, std::uint32_t value);
std::uint32_t GetConfig32(const TLameConfig& config, std::size_t offset);

// Whether the encoder starts the stream with a placeholder for LAME's Info/Xing frame.
// The record's write-VBR-header flag decides by default; a writer that knows it will
// (or cannot) fill the placeholder in says so.
enum class TInfoFrame { AsConfigured, Always, Never };

// The encoder calls. Samples are 16-bit; `samples` from beInitStream is how many fit one
// chunk (all channels counted), `bufferSize` the output bytes one chunk may need.
BE_ERR beInitStream(const TLameConfig* config, std::uint32_t* samples, std::uint32_t* bufferSize,
                    HBE_STREAM* stream, TInfoFrame infoFrame = TInfoFrame::AsConfigured);
BE_ERR beEncodeChunk(HBE_STREAM stream, std::uint32_t samples, const std::int16_t* pcm, std::uint8_t* output,
                     std::uint32_t* outputBytes);
BE_ERR beDeinitStream(HBE_STREAM stream, std::uint8_t* output, std::uint32_t* outputBytes);
BE_ERR beFlushNoGap(HBE_STREAM stream, std::uint8_t* output, std::uint32_t* outputBytes);
BE_ERR beCloseStream(HBE_STREAM stream);
// Writes the Info/Xing frame of the stream this thread closed last over the placeholder
// at the start of the named, already closed file.
BE_ERR beWriteVBRHeader(const char* fileName);
// Writes a stream's own Info/Xing frame into the named file and closes the stream.
BE_ERR beWriteInfoTag(HBE_STREAM stream, const char* fileName);

// The process-wide binding: the loaded flag, set only when libmp3lame loaded with every
// call it needs, and the entry points looked up by name.
struct TLameEncBinding {
  bool Loaded = false;
  decltype(&::melvanto::beInitStream) beInitStream = nullptr;
  decltype(&::melvanto::beEncodeChunk) beEncodeChunk = nullptr;
  decltype(&::melvanto::beDeinitStream) beDeinitStream = nullptr;
  decltype(&::melvanto::beCloseStream) beCloseStream = nullptr;
  decltype(&::melvanto::beWriteVBRHeader) beWriteVBRHeader = nullptr;
  decltype(&::melvanto::beFlushNoGap) beFlushNoGap = nullptr;
  decltype(&::melvanto::beWriteInfoTag) beWriteInfoTag = nullptr;
};

// Binds once per process (safe from any thread; a failed load is tried again next time)
// and returns the binding.
TLameEncBinding BindLameEnc();

// The loaded library's own version ("3.100"), binding it first; empty when it does not
// load, "unknown" when it loads but does not say.
std::string LameVersion();

// Tests only: the library name to load, and forgetting the binding so the next call
// loads again. Only while no encoder stream is open.
void SetLameLibraryNameForTesting(const std::string& name);

}  // namespace melvanto
