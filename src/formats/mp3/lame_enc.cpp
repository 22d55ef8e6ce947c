#include "lame_enc.h"

#include "dynamic_library.h"

#include <fcntl.h>
#include <lame/lame.h>
#include <unistd.h>

#include <cstdarg>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

namespace melvanto {

void PutConfig32(TLameConfig& config, std::size_t offset, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) config[offset + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

std::uint32_t GetConfig32(const TLameConfig& config, std::size_t offset) {
  return config[offset] | (config[offset + 1] << 8) | (config[offset + 2] << 16) |
         (static_cast<std::uint32_t>(config[offset + 3]) << 24);
}

namespace {

// libmp3lame's own calls, resolved from the loaded library.
struct LameApi {
  decltype(&lame_init) init;
  decltype(&lame_close) close;
  decltype(&lame_set_errorf) set_errorf;
  decltype(&lame_set_debugf) set_debugf;
  decltype(&lame_set_msgf) set_msgf;
  decltype(&lame_set_in_samplerate) set_in_samplerate;
  decltype(&lame_set_out_samplerate) set_out_samplerate;
  decltype(&lame_set_num_channels) set_num_channels;
  decltype(&lame_set_mode) set_mode;
  decltype(&lame_set_brate) set_brate;
  decltype(&lame_set_VBR) set_VBR;
  decltype(&lame_set_VBR_q) set_VBR_q;
  decltype(&lame_set_VBR_min_bitrate_kbps) set_VBR_min_bitrate_kbps;
  decltype(&lame_set_VBR_max_bitrate_kbps) set_VBR_max_bitrate_kbps;
  decltype(&lame_set_VBR_mean_bitrate_kbps) set_VBR_mean_bitrate_kbps;
  decltype(&lame_set_error_protection) set_error_protection;
  decltype(&lame_set_copyright) set_copyright;
  decltype(&lame_set_original) set_original;
  decltype(&lame_set_extension) set_extension;
  decltype(&lame_set_emphasis) set_emphasis;
  decltype(&lame_set_bWriteVbrTag) set_bWriteVbrTag;
  decltype(&lame_set_disable_reservoir) set_disable_reservoir;
  decltype(&lame_set_strict_ISO) set_strict_ISO;
  decltype(&lame_set_quality) set_quality;
  decltype(&lame_set_preset) set_preset;
  decltype(&lame_set_write_id3tag_automatic) set_write_id3tag_automatic;
  decltype(&lame_init_params) init_params;
  decltype(&lame_get_framesize) get_framesize;
  decltype(&lame_encode_buffer) encode_buffer;
  decltype(&lame_encode_buffer_interleaved) encode_buffer_interleaved;
  decltype(&lame_encode_flush) encode_flush;
  decltype(&lame_encode_flush_nogap) encode_flush_nogap;
  decltype(&lame_get_lametag_frame) get_lametag_frame;
};

struct LameLibrary {
  explicit LameLibrary(const std::string& name) : Library(name) {}
  TDynamicLibrary Library;
  LameApi Api{};
  // Not needed to encode, so a library without it still loads.
  decltype(&get_lame_version) GetVersion = nullptr;
};

std::unique_ptr<LameLibrary> LoadLame(const std::string& name) {
  auto lib = std::make_unique<LameLibrary>(name);
  if (!lib->Library.Loaded()) return nullptr;
  const TDynamicLibrary& h = lib->Library;
  LameApi& a = lib->Api;
  const bool ok =
      h.Resolve("lame_init", a.init) && h.Resolve("lame_close", a.close) &&
      h.Resolve("lame_set_errorf", a.set_errorf) && h.Resolve("lame_set_debugf", a.set_debugf) &&
      h.Resolve("lame_set_msgf", a.set_msgf) && h.Resolve("lame_set_in_samplerate", a.set_in_samplerate) &&
      h.Resolve("lame_set_out_samplerate", a.set_out_samplerate) &&
      h.Resolve("lame_set_num_channels", a.set_num_channels) && h.Resolve("lame_set_mode", a.set_mode) &&
      h.Resolve("lame_set_brate", a.set_brate) && h.Resolve("lame_set_VBR", a.set_VBR) &&
      h.Resolve("lame_set_VBR_q", a.set_VBR_q) &&
      h.Resolve("lame_set_VBR_min_bitrate_kbps", a.set_VBR_min_bitrate_kbps) &&
      h.Resolve("lame_set_VBR_max_bitrate_kbps", a.set_VBR_max_bitrate_kbps) &&
      h.Resolve("lame_set_VBR_mean_bitrate_kbps", a.set_VBR_mean_bitrate_kbps) &&
      h.Resolve("lame_set_error_protection", a.set_error_protection) &&
      h.Resolve("lame_set_copyright", a.set_copyright) && h.Resolve("lame_set_original", a.set_original) &&
      h.Resolve("lame_set_extension", a.set_extension) && h.Resolve("lame_set_emphasis", a.set_emphasis) &&
      h.Resolve("lame_set_bWriteVbrTag", a.set_bWriteVbrTag) &&
      h.Resolve("lame_set_disable_reservoir", a.set_disable_reservoir) &&
      h.Resolve("lame_set_strict_ISO", a.set_strict_ISO) && h.Resolve("lame_set_quality", a.set_quality) &&
      h.Resolve("lame_set_preset", a.set_preset) &&
      h.Resolve("lame_set_write_id3tag_automatic", a.set_write_id3tag_automatic) &&
      h.Resolve("lame_init_params", a.init_params) && h.Resolve("lame_get_framesize", a.get_framesize) &&
      h.Resolve("lame_encode_buffer", a.encode_buffer) &&
      h.Resolve("lame_encode_buffer_interleaved", a.encode_buffer_interleaved) &&
      h.Resolve("lame_encode_flush", a.encode_flush) && h.Resolve("lame_encode_flush_nogap", a.encode_flush_nogap) &&
      h.Resolve("lame_get_lametag_frame", a.get_lametag_frame);
  h.Resolve("get_lame_version", lib->GetVersion);
  return ok ? std::move(lib) : nullptr;
}

// The encoder's state for one stream.
struct BeStream {
  BeStream(const LameApi& api, lame_t flags) : Api(api), Flags(flags) {}
  ~BeStream() { Api.close(Flags); }
  BeStream(const BeStream&) = delete;
  BeStream& operator=(const BeStream&) = delete;

  const LameApi& Api;
  lame_t Flags;
  int Channels = 2;
  std::uint32_t ChunkSamples = 0;
  std::uint32_t BufferSize = 0;
  std::vector<std::uint8_t> InfoFrame;  // taken when the stream is flushed
};

std::mutex BindingLock;
std::string LibraryName = "libmp3lame.so.0";
std::unique_ptr<LameLibrary> Library;  // loaded once, kept for the process

std::mutex StreamsLock;
std::map<HBE_STREAM, std::unique_ptr<BeStream>> Streams;
HBE_STREAM NextStream = 1;

// Each encoder finishes on its own thread: the frame of the stream a thread closed last
// is that thread's, so encoders running at once never write each other's.
thread_local std::vector<std::uint8_t> LastClosedInfoFrame;

const LameApi* Api() {
  std::lock_guard lock(BindingLock);
  return Library ? &Library->Api : nullptr;
}

BeStream* Find(HBE_STREAM handle) {
  std::lock_guard lock(StreamsLock);
  auto it = Streams.find(handle);
  return it != Streams.end() ? it->second.get() : nullptr;
}

void Quiet(const char*, va_list) {}

// Writes an Info/Xing frame over the placeholder frame at the start of a file, which must
// begin with an MPEG frame at least as long (anything else is not the file we encoded).
BE_ERR WriteInfoFrame(const std::vector<std::uint8_t>& frame, const char* fileName) {
  if (frame.empty() || fileName == nullptr) return BE_ERR_INVALID_HANDLE;
  const int fd = ::open(fileName, O_RDWR | O_CLOEXEC);
  if (fd < 0) return BE_ERR_INVALID_FORMAT_PARAMETERS;
  std::uint8_t head[2] = {};
  const off_t size = ::lseek(fd, 0, SEEK_END);
  BE_ERR result = BE_ERR_INVALID_FORMAT;
  if (size >= static_cast<off_t>(frame.size()) && ::pread(fd, head, 2, 0) == 2 && head[0] == 0xFF &&
      (head[1] & 0xE0) == 0xE0) {
    result = ::pwrite(fd, frame.data(), frame.size(), 0) == static_cast<ssize_t>(frame.size())
                 ? BE_ERR_SUCCESSFUL
                 : BE_ERR_INVALID_FORMAT_PARAMETERS;
  }
  ::close(fd);
  return result;
}

std::vector<std::uint8_t> TakeInfoFrame(const LameApi& api, lame_t flags) {
  std::vector<std::uint8_t> frame(api.get_lametag_frame(flags, nullptr, 0));
  if (!frame.empty() && api.get_lametag_frame(flags, frame.data(), frame.size()) != frame.size()) frame.clear();
  return frame;
}

}  // namespace

BE_ERR beInitStream(const TLameConfig* config, std::uint32_t* samples, std::uint32_t* bufferSize,
                    HBE_STREAM* stream, TInfoFrame infoFrame) {
  namespace c = lame_config;
  if (config == nullptr || samples == nullptr || bufferSize == nullptr || stream == nullptr)
    return BE_ERR_INVALID_FORMAT_PARAMETERS;
  const LameApi* api = Api();
  if (api == nullptr) return BE_ERR_INVALID_HANDLE;
  const TLameConfig& r = *config;
  if (GetConfig32(r, c::kConfigKind) != c::kConfigLame || GetConfig32(r, c::kStructVersion) < c::kVersion ||
      GetConfig32(r, c::kStructSize) < c::kSize)
    return BE_ERR_INVALID_FORMAT;
  auto s = std::make_unique<BeStream>(*api, api->init());
  if (s->Flags == nullptr) return BE_ERR_NO_MORE_HANDLES;
  lame_t gf = s->Flags;
  // The product logs nothing.
  api->set_errorf(gf, Quiet);
  api->set_debugf(gf, Quiet);
  api->set_msgf(gf, Quiet);
  api->set_write_id3tag_automatic(gf, 0);

  const auto mode = static_cast<std::int32_t>(GetConfig32(r, c::kMode));
  // The record has no channel count: mono mode means mono input, any other mode stereo.
  s->Channels = mode == c::kModeMono ? 1 : 2;
  api->set_in_samplerate(gf, static_cast<int>(GetConfig32(r, c::kSampleRate)));
  api->set_out_samplerate(gf, static_cast<int>(GetConfig32(r, c::kReSampleRate)));
  api->set_num_channels(gf, s->Channels);
  api->set_mode(gf, mode == c::kModeMono ? MONO : mode == c::kModeJointStereo ? JOINT_STEREO : STEREO);

  const auto bitrate = static_cast<int>(GetConfig32(r, c::kBitrate));
  const auto maxBitrate = static_cast<int>(GetConfig32(r, c::kMaxBitrate));
  if (GetConfig32(r, c::kEnableVbr) != 0) {
    const auto method = static_cast<std::int32_t>(GetConfig32(r, c::kVbrMethod));
    switch (method) {
      case c::kVbrMethodNone: api->set_VBR(gf, vbr_off); break;
      case c::kVbrMethodOld: api->set_VBR(gf, vbr_rh); break;
      case c::kVbrMethodAbr: api->set_VBR(gf, vbr_abr); break;
      default: api->set_VBR(gf, vbr_default); break;  // the newer method
    }
    if (method == c::kVbrMethodNone) {
      api->set_brate(gf, bitrate);
    } else {
      if (method == c::kVbrMethodAbr)
        api->set_VBR_mean_bitrate_kbps(gf, static_cast<int>(GetConfig32(r, c::kVbrAbrBps) / 1000));
      api->set_VBR_q(gf, static_cast<int>(GetConfig32(r, c::kVbrQuality)));
      // A minimum above an average target would overrule the target.
      const auto mean = static_cast<int>(GetConfig32(r, c::kVbrAbrBps) / 1000);
      if (bitrate > 0 && !(method == c::kVbrMethodAbr && bitrate > mean)) api->set_VBR_min_bitrate_kbps(gf, bitrate);
      if (maxBitrate > 0) api->set_VBR_max_bitrate_kbps(gf, maxBitrate);
    }
  } else {
    api->set_VBR(gf, vbr_off);
    if (bitrate > 0) api->set_brate(gf, bitrate);
  }

  if (const auto preset = static_cast<int>(GetConfig32(r, c::kPreset)); preset != 0) api->set_preset(gf, preset);
  api->set_emphasis(gf, static_cast<int>(GetConfig32(r, c::kEmphasis)));
  api->set_extension(gf, GetConfig32(r, c::kPrivate) != 0);
  api->set_error_protection(gf, GetConfig32(r, c::kCrc) != 0);
  api->set_copyright(gf, GetConfig32(r, c::kCopyright) != 0);
  api->set_original(gf, GetConfig32(r, c::kOriginal) != 0);
  api->set_disable_reservoir(gf, GetConfig32(r, c::kNoReservoir) != 0);
  // Only a strict request changes libmp3lame's default, whose larger frame buffer the bit
  // reservoir uses as the lame tool does; 0 would shrink it and give other VBR frames.
  if (GetConfig32(r, c::kStrictIso) != 0) api->set_strict_ISO(gf, 1);
  // The quality word holds a quality in its low byte and its complement in the high one.
  const std::uint16_t quality = static_cast<std::uint16_t>(r[c::kQuality] | (r[c::kQuality + 1] << 8));
  if ((quality & 0xFF) == (~(quality >> 8) & 0xFF)) api->set_quality(gf, quality & 0xFF);
  const bool info = infoFrame == TInfoFrame::Always ||
                    (infoFrame == TInfoFrame::AsConfigured && GetConfig32(r, c::kWriteVbrHeader) != 0);
  api->set_bWriteVbrTag(gf, info ? 1 : 0);

  if (api->init_params(gf) < 0) return BE_ERR_INVALID_FORMAT_PARAMETERS;
  s->ChunkSamples = static_cast<std::uint32_t>(api->get_framesize(gf)) * static_cast<std::uint32_t>(s->Channels);
  // LAME's own bound for one call's output: 1.25 x samples + 7,200 bytes.
  s->BufferSize = s->ChunkSamples * 5 / 4 + 7200;
  *samples = s->ChunkSamples;
  *bufferSize = s->BufferSize;

  std::lock_guard lock(StreamsLock);
  if (NextStream == 0) ++NextStream;
  *stream = NextStream++;
  Streams.emplace(*stream, std::move(s));
  return BE_ERR_SUCCESSFUL;
}

BE_ERR beEncodeChunk(HBE_STREAM stream, std::uint32_t samples, const std::int16_t* pcm, std::uint8_t* output,
                     std::uint32_t* outputBytes) {
  BeStream* s = Find(stream);
  if (s == nullptr) return BE_ERR_INVALID_HANDLE;
  if (outputBytes == nullptr || output == nullptr || (pcm == nullptr && samples > 0))
    return BE_ERR_INVALID_FORMAT_PARAMETERS;
  *outputBytes = 0;
  // More samples than one chunk could overrun the caller's buffer of the size we gave.
  if (samples > s->ChunkSamples) return BE_ERR_BUFFER_TOO_SMALL;
  int n;
  if (s->Channels == 1)
    n = s->Api.encode_buffer(s->Flags, pcm, pcm, static_cast<int>(samples), output, static_cast<int>(s->BufferSize));
  else
    n = s->Api.encode_buffer_interleaved(s->Flags, const_cast<short*>(pcm), static_cast<int>(samples / 2), output,
                                         static_cast<int>(s->BufferSize));
  if (n < 0) return BE_ERR_INVALID_FORMAT_PARAMETERS;
  *outputBytes = static_cast<std::uint32_t>(n);
  return BE_ERR_SUCCESSFUL;
}

BE_ERR beDeinitStream(HBE_STREAM stream, std::uint8_t* output, std::uint32_t* outputBytes) {
  BeStream* s = Find(stream);
  if (s == nullptr) return BE_ERR_INVALID_HANDLE;
  if (outputBytes == nullptr || output == nullptr) return BE_ERR_INVALID_FORMAT_PARAMETERS;
  const int n = s->Api.encode_flush(s->Flags, output, static_cast<int>(s->BufferSize));
  *outputBytes = n > 0 ? static_cast<std::uint32_t>(n) : 0;
  // The Info frame is complete only now that every frame is known.
  s->InfoFrame = TakeInfoFrame(s->Api, s->Flags);
  return n < 0 ? BE_ERR_INVALID_FORMAT_PARAMETERS : BE_ERR_SUCCESSFUL;
}

BE_ERR beFlushNoGap(HBE_STREAM stream, std::uint8_t* output, std::uint32_t* outputBytes) {
  BeStream* s = Find(stream);
  if (s == nullptr) return BE_ERR_INVALID_HANDLE;
  if (outputBytes == nullptr || output == nullptr) return BE_ERR_INVALID_FORMAT_PARAMETERS;
  const int n = s->Api.encode_flush_nogap(s->Flags, output, static_cast<int>(s->BufferSize));
  *outputBytes = n > 0 ? static_cast<std::uint32_t>(n) : 0;
  return n < 0 ? BE_ERR_INVALID_FORMAT_PARAMETERS : BE_ERR_SUCCESSFUL;
}

BE_ERR beCloseStream(HBE_STREAM stream) {
  std::unique_ptr<BeStream> s;
  {
    std::lock_guard lock(StreamsLock);
    auto it = Streams.find(stream);
    if (it == Streams.end()) return BE_ERR_INVALID_HANDLE;
    s = std::move(it->second);
    Streams.erase(it);
  }
  LastClosedInfoFrame = std::move(s->InfoFrame);
  return BE_ERR_SUCCESSFUL;
}

BE_ERR beWriteVBRHeader(const char* fileName) {
  const std::vector<std::uint8_t> frame = std::move(LastClosedInfoFrame);
  LastClosedInfoFrame.clear();
  return WriteInfoFrame(frame, fileName);
}

BE_ERR beWriteInfoTag(HBE_STREAM stream, const char* fileName) {
  BeStream* s = Find(stream);
  if (s == nullptr) return BE_ERR_INVALID_HANDLE;
  if (s->InfoFrame.empty()) s->InfoFrame = TakeInfoFrame(s->Api, s->Flags);
  const BE_ERR result = WriteInfoFrame(s->InfoFrame, fileName);
  beCloseStream(stream);
  LastClosedInfoFrame.clear();
  return result;
}

TLameEncBinding BindLameEnc() {
  std::lock_guard lock(BindingLock);
  if (!Library) Library = LoadLame(LibraryName);
  TLameEncBinding binding;
  if (!Library) return binding;
  binding.Loaded = true;
  binding.beInitStream = &beInitStream;
  binding.beEncodeChunk = &beEncodeChunk;
  binding.beDeinitStream = &beDeinitStream;
  binding.beCloseStream = &beCloseStream;
  binding.beWriteVBRHeader = &beWriteVBRHeader;
  binding.beFlushNoGap = &beFlushNoGap;
  binding.beWriteInfoTag = &beWriteInfoTag;
  return binding;
}

std::string LameVersion() {
  BindLameEnc();
  std::lock_guard lock(BindingLock);
  if (!Library) return {};
  const char* version = Library->GetVersion ? Library->GetVersion() : nullptr;
  return version != nullptr && *version != '\0' ? version : "unknown";
}

void SetLameLibraryNameForTesting(const std::string& name) {
  std::lock_guard lock(BindingLock);
  LibraryName = name;
  Library.reset();
}

}  // namespace melvanto
