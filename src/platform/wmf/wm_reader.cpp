#include "wm_reader.h"

#include "text_codec.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <map>
#include <mutex>
#include <optional>
#include <vector>

#include "ffmpeg_handles.h"
#include "wm_asf_header.h"
#include "wm_asf_edit.h"
#include "wm_file_attributes.h"
#include "wm_little_endian.h"
#include "wm_media_props.h"
#include "wm_mp3_length.h"
#include "wm_picture.h"
#include "wm_stream_io.h"

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/mem.h>
}

namespace melvanto::wmf {
namespace {

constexpr std::int64_t kHundredNs = 10'000'000;
constexpr int kIoBufferSize = 32768;
constexpr int kMaxChannels = 8;
constexpr int kMaxRate = 384000;
// A decoder that keeps refusing packets is treated as at its end rather than spun on.
constexpr int kMaxConsecutiveErrors = 4096;
// Frames decoded and dropped before a range start, more than the longest bit reservoir and
// the synthesis filter's memory reach back.
constexpr std::int64_t kWarmUpFrames = 16 * 1152;

bool SamePcm(const WM_MEDIA_TYPE& a, const WM_MEDIA_TYPE& b) {
  return a.majortype == b.majortype && a.hasWaveFormat && b.hasWaveFormat && a.wave.wFormatTag == b.wave.wFormatTag &&
         a.wave.nChannels == b.wave.nChannels && a.wave.nSamplesPerSec == b.wave.nSamplesPerSec &&
         a.wave.wBitsPerSample == b.wave.wBitsPerSample;
}

// No nested file or network access: a playlist-like reference in hostile data opens nothing.
int RefuseNestedOpen(AVFormatContext*, AVIOContext**, const char*, int, AVDictionary**) { return AVERROR(EPERM); }

bool AllowedCodec(AVCodecID id) {
  switch (id) {
    case AV_CODEC_ID_WMAV1:
    case AV_CODEC_ID_WMAV2:
    case AV_CODEC_ID_WMAPRO:
    case AV_CODEC_ID_WMALOSSLESS:
    case AV_CODEC_ID_MP1:
    case AV_CODEC_ID_MP2:
    case AV_CODEC_ID_MP3:
      return true;
    default:
      return false;
  }
}
// Only audio streams become outputs. A cover picture (an attached picture stream, which may
// come first: its attribute can precede the audio's stream header), video and data streams
// are never decoded nor offered, so output numbers and stream numbers name audio alone.
bool IsAudioOutput(const AVStream& st) {
  return st.codecpar->codec_type == AVMEDIA_TYPE_AUDIO && (st.disposition & AV_DISPOSITION_ATTACHED_PIC) == 0;
}

// Samples per frame of WMA v1 and v2 as their decoder sets it from the rate; 0 for other codecs.
int WmaFrameLength(const AVCodecParameters& par) {
  const bool v1 = par.codec_id == AV_CODEC_ID_WMAV1;
  if (!v1 && par.codec_id != AV_CODEC_ID_WMAV2) return 0;
  if (par.sample_rate <= 16000) return 512;
  if (par.sample_rate <= 22050 || (v1 && par.sample_rate <= 32000)) return 1024;
  return 2048;
}

constexpr const char* kCodecWhitelist = "wmav1,wmav2,wmapro,wmalossless,mp1float,mp2float,mp3float,mp1,mp2,mp3";

}  // namespace

std::vector<WM_MEDIA_TYPE> OfferedPcmFormats(int channels, int rate, bool discrete, std::uint32_t speakers) {
  std::vector<WM_MEDIA_TYPE> list;
  const int base = std::min(channels, 2);
  // Discrete output is what asks for the file's own channels, whatever the speakers.
  const bool surround = channels > 2 && (discrete || speakers == static_cast<std::uint32_t>(channels));
  for (int bits : {16, 24}) {
    if (bits == 24 && !discrete) break;
    list.push_back(PcmType(base, rate, bits));
    if (surround) list.push_back(PcmType(channels, rate, bits));
  }
  return list;
}

namespace {

struct TOutput {
  int StreamIndex = -1;
  std::uint16_t StreamNumber = 0;
  TMajorType Type = TMajorType::Unknown;
  bool Decodable = false;
  int Channels = 0;
  int Rate = 0;
  bool Discrete = false;
  std::uint32_t Speakers = 0;
  WM_MEDIA_TYPE Current;

  std::vector<WM_MEDIA_TYPE> Formats() const {
    if (!Decodable) return {};
    return OfferedPcmFormats(Channels, Rate, Discrete, Speakers);
  }
};

class TSyncReader : public IWMSyncReader {
 public:
  TSyncReader() {
    ffmpeg::SilenceLogging();
  }
  ~TSyncReader() override { Reset(); }

  HRESULT OpenStream(std::shared_ptr<IStream> stream) override {
    std::lock_guard lock(Lock);
    Reset();
    if (!stream) return E_INVALIDARG;
    Stream = std::move(stream);
    Io.Stream = Stream.get();
    // The data begins where the caller left the stream (past a prefix it skipped, say); a
    // stream that does not report its position is read from 0.
    std::uint64_t here = 0;
    if (Failed(Stream->Seek(0, STREAM_SEEK_CUR, &here))) here = 0;
    Io.Start = static_cast<std::int64_t>(std::min<std::uint64_t>(here, std::numeric_limits<std::int64_t>::max()));
    Protected = AsfIsProtected(Io);
    const std::optional<std::uint64_t> asfStated = AsfStatedDuration(Io);
    if (!OpenDemuxer()) {
      Reset();
      return NS_E_UNRECOGNIZED_STREAM_TYPE;
    }
    BuildOutputs();
    for (std::size_t i = 0; i < Outputs.size(); ++i) {
      if (Outputs[i].Decodable) {
        Active = static_cast<int>(i);
        break;
      }
    }
    Header = std::make_shared<THeaderInfo>();
    ReadAttributes();
    ReadDuration();
    // The MP3 demuxer's length before counting replaces it: its Info frame's, unless a guess.
    Header->StatedDuration = asfStated;
    if (IsMp3() && Format->duration > 0 && Format->duration_estimation_method != AVFMT_DURATION_FROM_BITRATE)
      Header->StatedDuration = static_cast<std::uint64_t>(av_rescale(Format->duration, kHundredNs, AV_TIME_BASE));
    if (IsMp3() && !CountMp3Duration()) {
      Reset();
      return NS_E_UNRECOGNIZED_STREAM_TYPE;
    }
    return S_OK;
  }

  HRESULT Close() override {
    std::lock_guard lock(Lock);
    if (!Format) return NS_E_INVALID_REQUEST;
    Reset();
    return S_OK;
  }

  HRESULT GetOutputCount(std::uint32_t* outputs) override {
    std::lock_guard lock(Lock);
    if (outputs == nullptr) return E_INVALIDARG;
    if (!Format) return NS_E_INVALID_REQUEST;
    *outputs = static_cast<std::uint32_t>(Outputs.size());
    return S_OK;
  }

  HRESULT GetOutputProps(std::uint32_t output, std::shared_ptr<IWMOutputMediaProps>* props) override {
    std::lock_guard lock(Lock);
    if (props == nullptr || output >= Outputs.size()) return E_INVALIDARG;
    *props = std::make_shared<TMediaProps>(Outputs[output].Current);
    return S_OK;
  }

  HRESULT SetOutputProps(std::uint32_t output, IWMOutputMediaProps* props) override {
    std::lock_guard lock(Lock);
    if (props == nullptr || output >= Outputs.size()) return E_INVALIDARG;
    WM_MEDIA_TYPE wanted;
    if (Failed(props->GetMediaType(&wanted))) return E_INVALIDARG;
    TOutput& o = Outputs[output];
    for (const WM_MEDIA_TYPE& offered : o.Formats()) {
      if (SamePcm(offered, wanted)) {
        o.Current = offered;
        if (static_cast<int>(output) == Active) Swr.reset();  // the next block converts to the new format
        return S_OK;
      }
    }
    return NS_E_INVALID_OUTPUT_FORMAT;
  }

  HRESULT GetOutputFormatCount(std::uint32_t output, std::uint32_t* formats) override {
    std::lock_guard lock(Lock);
    if (formats == nullptr || output >= Outputs.size()) return E_INVALIDARG;
    *formats = static_cast<std::uint32_t>(Outputs[output].Formats().size());
    return S_OK;
  }

  HRESULT GetOutputFormat(std::uint32_t output, std::uint32_t format,
                          std::shared_ptr<IWMOutputMediaProps>* props) override {
    std::lock_guard lock(Lock);
    if (props == nullptr || output >= Outputs.size()) return E_INVALIDARG;
    const auto list = Outputs[output].Formats();
    if (format >= list.size()) return E_INVALIDARG;
    *props = std::make_shared<TMediaProps>(list[format]);
    return S_OK;
  }

  HRESULT SetOutputSetting(std::uint32_t output, const std::u16string& name, WMT_ATTR_DATATYPE type,
                           const std::uint8_t* value, std::uint16_t length) override {
    std::lock_guard lock(Lock);
    if (output >= Outputs.size()) return E_INVALIDARG;
    TOutput& o = Outputs[output];
    if (name == g_wszEnableDiscreteOutput) {
      if (type != WMT_ATTR_DATATYPE::WMT_TYPE_BOOL || value == nullptr || length < 4) return E_INVALIDARG;
      o.Discrete = LE32(value) != 0;
    } else if (name == g_wszSpeakerConfig) {
      if (type != WMT_ATTR_DATATYPE::WMT_TYPE_DWORD || value == nullptr || length < 4) return E_INVALIDARG;
      o.Speakers = LE32(value);
    } else {
      return S_OK;  // settings with no meaning here are accepted and ignored
    }
    // A current format no longer offered falls back to the first one.
    const auto list = o.Formats();
    if (!list.empty() && std::none_of(list.begin(), list.end(), [&](auto& f) { return SamePcm(f, o.Current); })) {
      o.Current = list.front();
      if (static_cast<int>(output) == Active) Swr.reset();
    }
    return S_OK;
  }

  HRESULT GetStreamNumberForOutput(std::uint32_t output, std::uint16_t* stream) override {
    std::lock_guard lock(Lock);
    if (stream == nullptr || output >= Outputs.size()) return E_INVALIDARG;
    *stream = Outputs[output].StreamNumber;
    return S_OK;
  }

  HRESULT SetReadStreamSamples(std::uint16_t stream, bool compressed) override {
    std::lock_guard lock(Lock);
    if (FindOutput(stream) < 0) return E_INVALIDARG;
    if (compressed) return E_NOTIMPL;  // only decoded delivery exists here
    if (Protected) return NS_E_PROTECTED_CONTENT;
    return S_OK;
  }

  HRESULT GetNextSample(std::uint16_t stream, std::shared_ptr<INSSBuffer>* sample, std::uint64_t* sampleTime,
                        std::uint64_t* duration, std::uint32_t* flags, std::uint32_t* output,
                        std::uint16_t* streamNumber) override {
    std::lock_guard lock(Lock);
    if (sample == nullptr) return E_INVALIDARG;
    if (!Format) return NS_E_INVALID_REQUEST;
    if (Protected) return NS_E_PROTECTED_CONTENT;
    const int index = stream == 0 ? Active : FindOutput(stream);
    if (index < 0 || !Outputs[index].Decodable) return NS_E_INVALID_REQUEST;
    if (index != Active || !Codec) {
      const bool started = Position > 0 || index != Active;
      Active = index;
      if (started ? !Rewind() : !OpenDecoder()) return E_FAIL;
    }
    const TOutput& o = Outputs[Active];
    const int frameBytes = o.Current.wave.nBlockAlign;
    for (;;) {
      if (EndAt >= 0 && Position >= EndAt) return NS_E_NO_MORE_SAMPLES;
      Block.clear();
      if (!NextBlock()) return NS_E_NO_MORE_SAMPLES;
      std::int64_t frames = static_cast<std::int64_t>(Block.size()) / frameBytes;
      std::int64_t start = Position;
      Position += frames;
      std::int64_t skip = std::clamp<std::int64_t>(SkipUntil - start, 0, frames);
      std::int64_t keep = frames - skip;
      if (EndAt >= 0) keep = std::min(keep, std::max<std::int64_t>(0, EndAt - (start + skip)));
      if (keep <= 0) continue;
      start += skip;
      auto buffer = std::make_shared<TSampleBuffer>(static_cast<std::uint32_t>(keep * frameBytes));
      std::memcpy(buffer->Storage().data(), Block.data() + skip * frameBytes, static_cast<std::size_t>(keep * frameBytes));
      const std::int64_t rate = o.Current.wave.nSamplesPerSec;
      if (sampleTime) *sampleTime = static_cast<std::uint64_t>(av_rescale(start, kHundredNs, rate));
      if (duration) *duration = static_cast<std::uint64_t>(av_rescale(keep, kHundredNs, rate));
      if (flags) *flags = 0;
      if (output) *output = static_cast<std::uint32_t>(Active);
      if (streamNumber) *streamNumber = o.StreamNumber;
      *sample = std::move(buffer);
      return S_OK;
    }
  }

  HRESULT SetRange(std::uint64_t start, std::int64_t duration) override {
    std::lock_guard lock(Lock);
    if (!Format) return NS_E_INVALID_REQUEST;
    if (Active < 0 || duration < 0 || start > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()))
      return E_INVALIDARG;
    const std::int64_t rate = Outputs[Active].Current.wave.nSamplesPerSec;
    const std::int64_t target = av_rescale(static_cast<std::int64_t>(start), rate, kHundredNs);
    // Decoding goes forward only: an earlier point starts again from the beginning.
    if (target < Position || !Codec) {
      if (!Rewind()) return E_FAIL;
    }
    SkipUntil = target;
    EndAt = duration > 0 ? target + av_rescale(duration, rate, kHundredNs) : -1;
    return S_OK;
  }

  HRESULT GetHeaderInfo(std::shared_ptr<IWMHeaderInfo>* info) override {
    std::lock_guard lock(Lock);
    if (info == nullptr) return E_INVALIDARG;
    if (!Header) return NS_E_INVALID_REQUEST;
    *info = Header;
    return S_OK;
  }

 private:
  void Reset() {
    CloseDecoder();
    Format.reset();
    Io = TStreamIo{};
    IoContext.reset();
    Stream.reset();
    Outputs.clear();
    Header.reset();
    Protected = false;
    Active = -1;
  }

  // The demuxer's own MP3 length is only an estimate.
  bool CountMp3Duration() {
    const auto decodable =
        std::find_if(Outputs.begin(), Outputs.end(), [](const TOutput& o) { return o.Decodable; });
    if (decodable == Outputs.end()) return true;
    const std::optional<std::int64_t> samples = CountMp3Samples(Format.get(), decodable->StreamIndex);
    if (!samples) return false;
    const int rate = Format->streams[decodable->StreamIndex]->codecpar->sample_rate;
    if (*samples > 0) Header->Duration = static_cast<std::uint64_t>(av_rescale(*samples, kHundredNs, rate));
    return OpenDemuxer();
  }

  bool OpenDemuxer() {
    Format.reset();
    IoContext.reset();
    Io.Size = -1;
    if (!Io.SeekTo(0)) return false;
    auto* buffer = static_cast<std::uint8_t*>(av_malloc(kIoBufferSize));
    if (buffer == nullptr) return false;
    IoContext.reset(avio_alloc_context(buffer, kIoBufferSize, 0, &Io, &TStreamIo::ReadPacket, nullptr,
                                       &TStreamIo::SeekPacket));
    if (!IoContext) {
      av_free(buffer);
      return false;
    }
    AVFormatContext* ctx = avformat_alloc_context();
    if (ctx == nullptr) return false;
    ctx->pb = IoContext.get();
    ctx->flags |= AVFMT_FLAG_CUSTOM_IO;
    ctx->io_open = &RefuseNestedOpen;
    ctx->format_whitelist = av_strdup("asf,mp3");
    ctx->protocol_whitelist = av_strdup("none");
    ctx->codec_whitelist = av_strdup(kCodecWhitelist);
    if (avformat_open_input(&ctx, nullptr, nullptr, nullptr) < 0) return false;  // ctx is freed on failure
    Format.reset(ctx);
    if (avformat_find_stream_info(ctx, nullptr) < 0) {
      Format.reset();
      return false;
    }
    return true;
  }

  bool IsMp3() const { return Format && std::strcmp(Format->iformat->name, "mp3") == 0; }

  void BuildOutputs() {
    for (unsigned i = 0; i < Format->nb_streams; ++i) {
      const AVStream* st = Format->streams[i];
      if (!IsAudioOutput(*st)) continue;
      const AVCodecParameters* par = st->codecpar;
      TOutput o;
      o.StreamIndex = static_cast<int>(i);
      o.StreamNumber = st->id >= 1 && st->id <= 127 && !IsMp3() ? static_cast<std::uint16_t>(st->id)
                                                                : static_cast<std::uint16_t>(i + 1);
      o.Type = TMajorType::Audio;
      o.Channels = par->ch_layout.nb_channels;
      o.Rate = par->sample_rate;
      o.Decodable = AllowedCodec(par->codec_id) && o.Channels >= 1 && o.Channels <= kMaxChannels && o.Rate >= 1 &&
                    o.Rate <= kMaxRate && TryDecoder(st);
      if (o.Decodable) o.Current = PcmType(std::min(o.Channels, 2), o.Rate, 16);
      else o.Current.majortype = o.Type;
      Outputs.push_back(o);
    }
  }

  static ffmpeg::CodecContextPtr MakeDecoder(const AVStream* st) {
    const AVCodec* codec = avcodec_find_decoder(st->codecpar->codec_id);
    if (codec == nullptr) return nullptr;
    ffmpeg::CodecContextPtr ctx(avcodec_alloc_context3(codec));
    if (!ctx || avcodec_parameters_to_context(ctx.get(), st->codecpar) < 0) return nullptr;
    ctx->pkt_timebase = st->time_base;
    ctx->thread_count = 1;
    if (avcodec_open2(ctx.get(), codec, nullptr) < 0) return nullptr;
    return ctx;
  }
  static bool TryDecoder(const AVStream* st) { return MakeDecoder(st) != nullptr; }

  int FindOutput(std::uint16_t stream) const {
    for (std::size_t i = 0; i < Outputs.size(); ++i)
      if (Outputs[i].StreamNumber == stream) return static_cast<int>(i);
    return -1;
  }

  // The first of the keys (up to three; null ends the list) that has text.
  std::optional<std::u16string> Lookup(const std::array<const char*, 3>& keys) const {
    const AVDictionary* dicts[2] = {Format->metadata, nullptr};
    if (Active >= 0) dicts[1] = Format->streams[Outputs[Active].StreamIndex]->metadata;
    for (const char* key : keys) {
      if (key == nullptr) break;
      for (const AVDictionary* d : dicts) {
        const AVDictionaryEntry* e = av_dict_get(d, key, nullptr, 0);
        if (e != nullptr && e->value != nullptr && e->value[0] != 0) return Utf8ToWide(e->value);
      }
    }
    return std::nullopt;
  }

  // The demuxers expose the file's attributes under generic keys; ID3 frames of MP3 too.
  void ReadAttributes() {
    struct Source {
      const std::u16string* Name;
      std::array<const char*, 3> Keys;
    };
    static const Source sources[] = {
        {&g_wszWMTitle, {"title"}},
        {&g_wszWMAuthor, {"artist", "author"}},
        {&g_wszWMCopyright, {"copyright"}},
        {&g_wszWMDescription, {"comment"}},  // the ASF demuxer's name for the Description
        {&g_wszWMAlbumTitle, {"album", "WM/AlbumTitle"}},
        {&g_wszWMGenre, {"genre", "WM/Genre"}},
        {&g_wszWMYear, {"WM/Year", "date", "year"}},
        // The demuxer renames WM/TrackNumber (text or number) to "track"; ID3's TRCK is "track" too.
        {&g_wszWMTrackNumber, {"track", "WM/TrackNumber"}},
        {&g_wszWMTrack, {"WM/Track"}},
    };
    for (const Source& source : sources) {
      if (auto text = Lookup(source.Keys)) Header->Text[*source.Name] = *text;
    }
    ReadPictures();
  }

  // What the decoder will deliver. An ASF file's play time (less its preroll, as the demuxer
  // gives it for a whole file) also counts the first WMA frame, which only primes the
  // decoder's overlap and yields nothing; the decoder delivers whole frames.
  void ReadDuration() {
    if (Active < 0) return;
    const AVStream* st = Format->streams[Outputs[Active].StreamIndex];
    const int rate = st->codecpar->sample_rate;
    const int frame = WmaFrameLength(*st->codecpar);
    if (st->duration != AV_NOPTS_VALUE && st->duration > 0 && frame > 0) {
      const std::int64_t stated = av_rescale_q_rnd(st->duration, st->time_base, AVRational{1, rate},
                                                   static_cast<AVRounding>(AV_ROUND_UP | AV_ROUND_PASS_MINMAX));
      const std::int64_t frames = std::max<std::int64_t>(0, (stated + frame - 1) / frame - 1) * frame;
      Header->Duration = static_cast<std::uint64_t>(av_rescale(frames, kHundredNs, rate));
    } else if (Format->duration != AV_NOPTS_VALUE && Format->duration > 0) {
      Header->Duration = static_cast<std::uint64_t>(av_rescale(Format->duration, kHundredNs, AV_TIME_BASE));
    }
  }

  // The demuxer hands each WM/Picture (and each ID3 APIC) over as an attached-picture stream:
  // the bytes in attached_pic, the description as "title", the picture type's name as "comment".
  void ReadPictures() {
    for (unsigned i = 0; i < Format->nb_streams; ++i) {
      const AVStream* st = Format->streams[i];
      if ((st->disposition & AV_DISPOSITION_ATTACHED_PIC) == 0 || st->attached_pic.data == nullptr ||
          st->attached_pic.size <= 0)
        continue;
      WM_PICTURE picture;
      picture.MimeType = PictureMimeType(st->codecpar->codec_id);
      if (picture.MimeType.empty()) continue;
      picture.PictureType = PictureTypeOf(av_dict_get(st->metadata, "comment", nullptr, 0));
      if (const AVDictionaryEntry* e = av_dict_get(st->metadata, "title", nullptr, 0); e != nullptr && e->value)
        picture.Description = Utf8ToWide(e->value);
      picture.Data.assign(st->attached_pic.data, st->attached_pic.data + st->attached_pic.size);
      if (auto bytes = EncodeWmPicture(picture); !bytes.empty()) Header->Pictures.push_back(std::move(bytes));
    }
    // The demuxer leaves out the Metadata Library's large pictures (over 64 KiB), though it
    // takes the small ones there: each picture once.
    if (IsMp3()) return;
    for (auto& bytes : AsfLibraryPictures(Io)) {
      const auto picture = DecodeWmPicture(bytes.data(), bytes.size());
      const bool known = std::any_of(Header->Pictures.begin(), Header->Pictures.end(), [&](const auto& b) {
        const auto other = DecodeWmPicture(b.data(), b.size());
        return other && other->Data == picture->Data && other->PictureType == picture->PictureType &&
               other->Description == picture->Description;
      });
      if (!known) Header->Pictures.push_back(std::move(bytes));
    }
  }

  static std::u16string PictureMimeType(AVCodecID id) {
    switch (id) {
      case AV_CODEC_ID_PNG: return u"image/png";
      case AV_CODEC_ID_MJPEG: return u"image/jpeg";
      case AV_CODEC_ID_GIF: return u"image/gif";
      case AV_CODEC_ID_BMP: return u"image/bmp";
      case AV_CODEC_ID_TIFF: return u"image/tiff";
      default: return {};
    }
  }

  // The picture types' names as ID3v2 gives them; the demuxers name the type, not its number.
  static std::uint8_t PictureTypeOf(const AVDictionaryEntry* name) {
    static const char* const kNames[] = {
        "Other", "32x32 pixels 'file icon'", "Other file icon", "Cover (front)", "Cover (back)", "Leaflet page",
        "Media (e.g. label side of CD)", "Lead artist/lead performer/soloist", "Artist/performer", "Conductor",
        "Band/Orchestra", "Composer", "Lyricist/text writer", "Recording Location", "During recording",
        "During performance", "Movie/video screen capture", "A bright coloured fish", "Illustration",
        "Band/artist logotype", "Publisher/Studio logotype"};
    if (name == nullptr || name->value == nullptr) return 3;
    for (std::size_t i = 0; i < std::size(kNames); ++i)
      if (std::strcmp(name->value, kNames[i]) == 0) return static_cast<std::uint8_t>(i);
    return 0;
  }

  bool OpenDecoder() {
    CloseDecoder();
    Codec = MakeDecoder(Format->streams[Outputs[Active].StreamIndex]);
    Packet.reset(av_packet_alloc());
    Frame.reset(av_frame_alloc());
    return Codec && Packet && Frame;
  }

  void CloseDecoder() {
    Swr.reset();
    Codec.reset();
    Packet.reset();
    Frame.reset();
    av_channel_layout_uninit(&SwrLayout);
    Position = 0;
    SkipUntil = 0;
    EndAt = -1;
    DemuxEnded = DecoderFlushed = DecoderEnded = SwrFlushed = Skipped = false;
    Errors = 0;
  }

  bool Rewind() { return OpenDemuxer() && OpenDecoder(); }

  // Converts a decoded frame (null: what the resampler still holds) and appends it to Block.
  bool Convert(const AVFrame* frame) {
    const TOutput& o = Outputs[Active];
    if (frame != nullptr) {
      AVChannelLayout layout{};
      if (frame->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC || av_channel_layout_check(&frame->ch_layout) == 0)
        av_channel_layout_default(&layout, frame->ch_layout.nb_channels);
      else if (av_channel_layout_copy(&layout, &frame->ch_layout) < 0)
        return false;
      const bool same = Swr && frame->format == SwrFormat && frame->sample_rate == SwrRate &&
                        av_channel_layout_compare(&layout, &SwrLayout) == 0;
      if (!same) {
        Swr.reset();
        av_channel_layout_uninit(&SwrLayout);
        SwrLayout = layout;
        SwrFormat = frame->format;
        SwrRate = frame->sample_rate;
        if (layout.nb_channels < 1 || layout.nb_channels > kMaxChannels || SwrRate < 1 || SwrRate > kMaxRate)
          return false;
        AVChannelLayout outLayout{};
        av_channel_layout_default(&outLayout, o.Current.wave.nChannels);
        SwrContext* s = nullptr;
        const AVSampleFormat outFormat = o.Current.wave.wBitsPerSample == 16 ? AV_SAMPLE_FMT_S16 : AV_SAMPLE_FMT_S32;
        const int r = swr_alloc_set_opts2(&s, &outLayout, outFormat, static_cast<int>(o.Current.wave.nSamplesPerSec),
                                          &SwrLayout, static_cast<AVSampleFormat>(SwrFormat), SwrRate, 0, nullptr);
        av_channel_layout_uninit(&outLayout);
        Swr.reset(s);
        if (r < 0 || swr_init(Swr.get()) < 0) {
          Swr.reset();
          return false;
        }
      } else {
        av_channel_layout_uninit(&layout);
      }
    } else if (!Swr) {
      return true;
    }
    const int inSamples = frame != nullptr ? frame->nb_samples : 0;
    const int room = swr_get_out_samples(Swr.get(), inSamples);
    if (room <= 0) return room == 0;
    const int channels = o.Current.wave.nChannels;
    const bool deep = o.Current.wave.wBitsPerSample == 24;
    Converted.resize(static_cast<std::size_t>(room) * channels * (deep ? 4 : 2));
    std::uint8_t* out = Converted.data();
    const int n = swr_convert(Swr.get(), &out, room, frame != nullptr ? const_cast<const std::uint8_t**>(frame->extended_data) : nullptr,
                              inSamples);
    if (n <= 0) return n == 0;
    const std::size_t values = static_cast<std::size_t>(n) * channels;
    const std::size_t at = Block.size();
    if (!deep) {
      Block.insert(Block.end(), Converted.begin(), Converted.begin() + values * 2);
    } else {
      // The top three bytes of each 32-bit sample, little-endian.
      Block.resize(at + values * 3);
      for (std::size_t i = 0; i < values; ++i) std::memcpy(&Block[at + i * 3], &Converted[i * 4 + 1], 3);
    }
    return true;
  }

  // MPEG audio packets far before the range start are counted, not decoded: each decodes to
  // exactly its duration. The last ones before the start are decoded, so that the bit
  // reservoir and the filter bank hold what a decode from the beginning would hold.
  std::int64_t SkippableFrames(const AVPacket& packet) const {
    const AVStream* st = Format->streams[packet.stream_index];
    const AVCodecID id = st->codecpar->codec_id;
    if (id != AV_CODEC_ID_MP3 && id != AV_CODEC_ID_MP2 && id != AV_CODEC_ID_MP1) return 0;
    if (packet.duration <= 0 || SkipUntil - Position <= kWarmUpFrames) return 0;
    // The encoder's delay and padding are cut from marked packets: those are decoded.
    if (av_packet_get_side_data(&packet, AV_PKT_DATA_SKIP_SAMPLES, nullptr) != nullptr) return 0;
    const int rate = static_cast<int>(Outputs[Active].Current.wave.nSamplesPerSec);
    if (st->codecpar->sample_rate != rate || (Swr && swr_get_delay(Swr.get(), rate) != 0)) return 0;
    const std::int64_t frames = av_rescale_q(packet.duration, st->time_base, AVRational{1, rate});
    return Position + frames + kWarmUpFrames <= SkipUntil ? frames : 0;
  }

  // Decodes until at least one frame of PCM is in Block; false at the end of the data.
  bool NextBlock() {
    while (Block.empty()) {
      if (DecoderEnded) {
        if (SwrFlushed) return false;
        SwrFlushed = true;
        if (!Convert(nullptr)) return false;
        continue;
      }
      const int r = avcodec_receive_frame(Codec.get(), Frame.get());
      if (r == 0) {
        // A frame that cannot be converted is dropped like a damaged packet.
        if (!Convert(Frame.get()) && ++Errors > kMaxConsecutiveErrors) return false;
        av_frame_unref(Frame.get());
        continue;
      }
      if (r == AVERROR_EOF) {
        DecoderEnded = true;
        continue;
      }
      if (r != AVERROR(EAGAIN)) {
        if (++Errors > kMaxConsecutiveErrors) return false;
        continue;
      }
      if (DemuxEnded) {
        if (DecoderFlushed) return false;
        DecoderFlushed = true;
        avcodec_send_packet(Codec.get(), nullptr);
        continue;
      }
      if (av_read_frame(Format.get(), Packet.get()) < 0) {
        DemuxEnded = true;
        continue;
      }
      if (Packet->stream_index == Outputs[Active].StreamIndex) {
        if (const std::int64_t frames = SkippableFrames(*Packet); frames > 0) {
          Position += frames;
          Skipped = true;
          av_packet_unref(Packet.get());
          continue;
        }
        if (Skipped) {
          avcodec_flush_buffers(Codec.get());
          Skipped = false;
        }
        // A packet the decoder refuses is skipped, as players do; the rest still decodes.
        if (avcodec_send_packet(Codec.get(), Packet.get()) < 0 && ++Errors > kMaxConsecutiveErrors) {
          av_packet_unref(Packet.get());
          return false;
        }
      }
      av_packet_unref(Packet.get());
    }
    Errors = 0;
    return true;
  }

  std::mutex Lock;
  std::shared_ptr<IStream> Stream;
  TStreamIo Io;
  // Declared before Format, so the demuxer goes first and never sees a freed I/O context.
  ffmpeg::IoContextPtr IoContext;
  ffmpeg::InputFormatPtr Format;
  std::vector<TOutput> Outputs;
  std::shared_ptr<THeaderInfo> Header;
  bool Protected = false;
  int Active = -1;

  ffmpeg::CodecContextPtr Codec;
  ffmpeg::PacketPtr Packet;
  ffmpeg::FramePtr Frame;
  ffmpeg::SwrPtr Swr;
  AVChannelLayout SwrLayout{};
  int SwrFormat = -1;
  int SwrRate = 0;
  std::vector<std::uint8_t> Converted;
  std::vector<std::uint8_t> Block;
  std::int64_t Position = 0;  // frames decoded since the start, delivered or skipped
  std::int64_t SkipUntil = 0;
  std::int64_t EndAt = -1;
  bool DemuxEnded = false;
  bool DecoderFlushed = false;
  bool DecoderEnded = false;
  bool SwrFlushed = false;
  bool Skipped = false;  // packets were counted without decoding since the last one decoded
  int Errors = 0;
};

}  // namespace

HRESULT WMCreateSyncReader(std::shared_ptr<IWMSyncReader>* reader) {
  if (reader == nullptr) return E_INVALIDARG;
  *reader = std::make_shared<TSyncReader>();
  return S_OK;
}

}  // namespace melvanto::wmf
