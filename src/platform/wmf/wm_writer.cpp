#include "wm_writer.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "ffmpeg_handles.h"
#include "wm_media_props.h"
#include "wm_picture.h"

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
}

#include "regular_file.h"
#include "text_codec.h"

namespace melvanto::wmf {

HRESULT TStatusCallbacks::Advise(const std::shared_ptr<IWMStatusCallback>& callback, void* context) {
  if (!callback) return E_INVALIDARG;
  std::lock_guard lock(Lock);
  Entries.push_back({callback, context});
  return S_OK;
}

HRESULT TStatusCallbacks::Unadvise(const std::shared_ptr<IWMStatusCallback>& callback, void* context) {
  std::lock_guard lock(Lock);
  const auto it = std::find_if(Entries.begin(), Entries.end(), [&](const Entry& e) {
    return e.Callback == callback && e.Context == context;
  });
  if (it == Entries.end()) return E_INVALIDARG;
  Entries.erase(it);
  return S_OK;
}

void TStatusCallbacks::Report(WMT_STATUS status, HRESULT hr, WMT_ATTR_DATATYPE type, const std::uint8_t* value) {
  std::vector<Entry> copy;
  {
    std::lock_guard lock(Lock);
    copy = Entries;
  }
  for (const Entry& e : copy)
    e.Callback->OnStatus(status, hr, type, value, e.Context);
}

TAsfLayout AsfLayoutFor(std::uint32_t blockAlign) {
  // The ASF muxer puts 17 bytes of payload header before every payload and never splits an
  // audio payload across packets, so a packet holds whole payloads plus 12 bytes of its own
  // header. Payloads of about 1,600 bytes or more keep that overhead near 1 %; the default
  // packet size wasted up to a tenth of the stream in padding.
  constexpr std::uint32_t kPayloadHeader = 17;
  constexpr std::uint32_t kPacketHeader = 12;
  constexpr std::uint32_t kWantedPayload = 1600;
  constexpr std::uint32_t kWantedPacket = 3200;
  TAsfLayout layout;
  blockAlign = std::max<std::uint32_t>(blockAlign, 1);
  layout.FramesPerPayload = std::max<std::uint32_t>(1, (kWantedPayload + blockAlign - 1) / blockAlign);
  const std::uint32_t payload = layout.FramesPerPayload * blockAlign + kPayloadHeader;
  // At least two payloads a packet: the muxer's single-payload packets are laid out otherwise.
  const std::uint32_t perPacket = std::max<std::uint32_t>(2, kWantedPacket / payload);
  layout.PacketSize = std::min<std::uint32_t>(perPacket * payload + kPacketHeader, 65536);
  return layout;
}

namespace {

constexpr int kIoBufferSize = 1 << 15;
constexpr int kMaxInputChannels = 64;  // what swresample mixes at most
constexpr std::size_t kMaxAttributeChars = 0xFFFF / 2 - 1;

// The runtime's attribute names and the keys FFmpeg's ASF muxer writes under those names.
const char* MuxerKey(const std::u16string& name) {
  if (name == u"Title") return "title";
  if (name == u"Author") return "artist";
  if (name == u"Copyright") return "copyright";
  if (name == u"Description") return "comment";
  if (name == u"WM/AlbumTitle") return "album";
  if (name == u"WM/Genre") return "genre";
  return nullptr;  // passed through under its own name ("WM/Year", "WM/Track", ...)
}

// What swresample reads the input PCM as.
AVSampleFormat InputSampleFormat(const WAVEFORMATEX& in) {
  if (in.wFormatTag == 3) return AV_SAMPLE_FMT_FLT;
  if (in.wBitsPerSample == 8) return AV_SAMPLE_FMT_U8;
  if (in.wBitsPerSample >= 24) return AV_SAMPLE_FMT_S32;  // 24-bit is widened first
  return AV_SAMPLE_FMT_S16;
}

bool UsablePcm(const WM_MEDIA_TYPE& type) {
  const WAVEFORMATEX& w = type.wave;
  if (type.majortype != TMajorType::Audio || !type.hasWaveFormat) return false;
  const bool pcm = w.wFormatTag == WAVE_FORMAT_PCM && (w.wBitsPerSample == 8 || w.wBitsPerSample == 16 ||
                                                       w.wBitsPerSample == 24 || w.wBitsPerSample == 32);
  const bool floats = w.wFormatTag == 3 && w.wBitsPerSample == 32;
  return (pcm || floats) && w.nChannels >= 1 && w.nChannels <= kMaxInputChannels &&
         w.nSamplesPerSec >= 1000 && w.nSamplesPerSec <= 768000 &&
         w.nBlockAlign == w.nChannels * w.wBitsPerSample / 8;
}

class TWMWriterFileSink final : public IWMWriterFileSink {
 public:
  HRESULT Open(const std::u16string& filename) override {
    if (filename.empty()) return E_INVALIDARG;
    // Only a regular file: a pipe's reader could leave mid-file.
    // Read too: binary attributes are added to the header once the rest is written.
    TOpenedFile opened = OpenRegularFile(filename, O_RDWR | O_CREAT | O_TRUNC | O_NOFOLLOW);
    if (opened.Error != 0) return NS_E_FILE_OPEN_FAILED;
    File = std::move(opened.Fd);
    return S_OK;
  }
  HRESULT Advise(const std::shared_ptr<IWMStatusCallback>& callback, void* context) override {
    return Callbacks.Advise(callback, context);
  }
  HRESULT Unadvise(const std::shared_ptr<IWMStatusCallback>& callback, void* context) override {
    return Callbacks.Unadvise(callback, context);
  }
  HRESULT OnBeginWriting(std::uint32_t) override { return File.Valid() ? S_OK : NS_E_NOT_CONFIGURED; }
  HRESULT OnHeader(const std::uint8_t* data, std::size_t size) override { return Write(data, size); }
  HRESULT OnDataUnit(const std::uint8_t* data, std::size_t size) override { return Write(data, size); }
  HRESULT OnHeaderAttributes(const std::vector<TAsfBinaryAttribute>& attributes) override {
    if (!File.Valid()) return S_FALSE;
    const HRESULT hr = AddAsfAttributes(File.Get(), attributes);
    if (Failed(hr)) Callbacks.Report(WMT_STATUS::WMT_ERROR, hr);
    return hr;
  }
  HRESULT OnEndWriting() override {
    if (!File.Valid()) return S_OK;
    const bool closed = ::close(File.Release()) == 0;
    if (!closed) Callbacks.Report(WMT_STATUS::WMT_ERROR, NS_E_FILE_WRITE);
    return closed ? S_OK : NS_E_FILE_WRITE;
  }
  bool CanSeek() const override { return true; }
  std::int64_t Seek(std::int64_t offset, int whence) override {
    if (!File.Valid()) return -1;
    return ::lseek(File.Get(), offset, whence);
  }

 private:
  HRESULT Write(const std::uint8_t* data, std::size_t size) {
    while (size > 0) {
      const ssize_t n = File.Valid() ? ::write(File.Get(), data, size) : -1;
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        Callbacks.Report(WMT_STATUS::WMT_ERROR, NS_E_FILE_WRITE);
        return NS_E_FILE_WRITE;
      }
      data += n;
      size -= static_cast<std::size_t>(n);
    }
    return S_OK;
  }

  UniqueFd File;
  TStatusCallbacks Callbacks;
};

class TWMWriter final : public IWMWriter,
                        public IWMWriterAdvanced,
                        public IWMHeaderInfo,
                        public std::enable_shared_from_this<TWMWriter> {
 public:
  ~TWMWriter() override { ReleaseEncoder(); }

  HRESULT QueryInterface(std::shared_ptr<IWMWriterAdvanced>* advanced) override {
    if (advanced == nullptr) return E_INVALIDARG;
    *advanced = shared_from_this();
    return S_OK;
  }
  HRESULT QueryInterface(std::shared_ptr<IWMHeaderInfo>* header) override {
    if (header == nullptr) return E_INVALIDARG;
    *header = shared_from_this();
    return S_OK;
  }

  HRESULT AddSink(const std::shared_ptr<IWMWriterSink>& sink) override {
    if (!sink || Writing) return E_INVALIDARG;
    if (std::find(Sinks.begin(), Sinks.end(), sink) != Sinks.end()) return E_INVALIDARG;
    Sinks.push_back(sink);
    return S_OK;
  }
  HRESULT RemoveSink(const std::shared_ptr<IWMWriterSink>& sink) override {
    if (Writing) return NS_E_INVALID_REQUEST;
    const auto it = std::find(Sinks.begin(), Sinks.end(), sink);
    if (it == Sinks.end()) return E_INVALIDARG;
    Sinks.erase(it);
    return S_OK;
  }
  HRESULT GetSinkCount(std::uint32_t* count) override {
    if (count == nullptr) return E_INVALIDARG;
    *count = static_cast<std::uint32_t>(Sinks.size());
    return S_OK;
  }

  HRESULT SetProfile(const std::shared_ptr<IWMProfile>& profile) override {
    if (Writing) return NS_E_INVALID_REQUEST;
    std::uint32_t count = 0;
    std::shared_ptr<IWMStreamConfig> config;
    TStreamFormat format;
    if (!profile || profile->GetStreamCount(&count) != S_OK || count != 1 ||
        profile->GetStream(0, &config) != S_OK || !config || !StreamFormatOf(*config, &format))
      return NS_E_INVALID_REQUEST;
    Stream = format;
    HasProfile = true;
    InputRefused = false;
    // Until told otherwise the input is 16-bit PCM in the encoder's own rate and channels.
    Input = PcmType(format.Format.Channels, format.Format.SampleRate, 16);
    return S_OK;
  }
  HRESULT GetInputCount(std::uint32_t* count) override {
    if (count == nullptr) return E_INVALIDARG;
    *count = HasProfile ? 1 : 0;
    return S_OK;
  }
  HRESULT GetInputProps(std::uint32_t input, std::shared_ptr<IWMInputMediaProps>* props) override {
    if (props == nullptr || !HasProfile || input != 0) return E_INVALIDARG;
    *props = std::make_shared<TMediaProps>(Input);
    return S_OK;
  }
  HRESULT SetInputProps(std::uint32_t input, const std::shared_ptr<IWMInputMediaProps>& props) override {
    if (!props || !HasProfile || input != 0) return E_INVALIDARG;
    if (Writing) return NS_E_INVALID_REQUEST;
    WM_MEDIA_TYPE type;
    // A refused format is remembered: PCM in another format must not be read as the old one.
    InputRefused = props->GetMediaType(&type) != S_OK || !UsablePcm(type);
    if (InputRefused) return NS_E_INVALID_INPUT_FORMAT;
    Input = type;
    return S_OK;
  }

  HRESULT GetAttributeByName(std::uint16_t* stream, const std::u16string& name, WMT_ATTR_DATATYPE* type,
                             std::uint8_t* value, std::uint16_t* length) override {
    if (stream == nullptr || type == nullptr || length == nullptr || *stream != 0) return E_INVALIDARG;
    const auto it =
        std::find_if(Attributes.begin(), Attributes.end(), [&](const auto& a) { return a.first == name; });
    if (it == Attributes.end()) return E_INVALIDARG;
    const std::size_t bytes = (it->second.size() + 1) * 2;
    *type = WMT_ATTR_DATATYPE::WMT_TYPE_STRING;
    if (value != nullptr) {
      if (*length < bytes) return E_INVALIDARG;
      std::memcpy(value, it->second.c_str(), bytes);
    }
    *length = static_cast<std::uint16_t>(bytes);
    return S_OK;
  }
  HRESULT SetAttribute(std::uint16_t stream, const std::u16string& name, WMT_ATTR_DATATYPE type,
                       const std::uint8_t* value, std::uint16_t length) override {
    // Only file-level text attributes are written; they go into the header at BeginWriting.
    if (stream != 0 || name.empty() || type != WMT_ATTR_DATATYPE::WMT_TYPE_STRING) return E_INVALIDARG;
    if (Writing) return NS_E_INVALID_REQUEST;
    if (value == nullptr && length != 0) return E_INVALIDARG;
    std::u16string text(length / 2, u'\0');
    if (length >= 2) std::memcpy(text.data(), value, text.size() * 2);
    while (!text.empty() && text.back() == u'\0') text.pop_back();
    // The text and its null must fit the 16-bit byte length GetAttributeByName reports.
    if (text.size() > kMaxAttributeChars) {
      text.resize(kMaxAttributeChars);
      if (text.back() >= 0xD800 && text.back() <= 0xDBFF) text.pop_back();  // half a pair
    }
    const auto it =
        std::find_if(Attributes.begin(), Attributes.end(), [&](const auto& a) { return a.first == name; });
    if (it != Attributes.end())
      it->second = text;
    else
      Attributes.emplace_back(name, text);
    return S_OK;
  }

  // Binary attributes: WM/Picture only, in its stored layout; a damaged or oversized one is
  // refused. They reach the file's header after the muxer finished.
  HRESULT AddAttribute(std::uint16_t stream, const std::u16string& name, std::uint16_t* index,
                       WMT_ATTR_DATATYPE type, const std::uint8_t* value, std::uint32_t length) override {
    if (stream != 0 || name != g_wszWMPicture || type != WMT_ATTR_DATATYPE::WMT_TYPE_BINARY || value == nullptr)
      return E_INVALIDARG;
    if (Writing) return NS_E_INVALID_REQUEST;
    if (!DecodeWmPicture(value, length) || Binary.size() >= 0xFFFF) return E_INVALIDARG;
    if (index != nullptr) *index = static_cast<std::uint16_t>(Binary.size());
    Binary.push_back({name, std::vector<std::uint8_t>(value, value + length)});
    return S_OK;
  }

  HRESULT BeginWriting() override {
    if (Writing) return NS_E_INVALID_REQUEST;
    if (!HasProfile || Sinks.empty()) return NS_E_NOT_CONFIGURED;
    if (InputRefused) return NS_E_INVALID_INPUT_FORMAT;
    ffmpeg::SilenceLogging();
    const HRESULT hr = OpenEncoder();
    if (Failed(hr)) {
      ReleaseEncoder();
      return hr;
    }
    Writing = true;
    return S_OK;
  }

  HRESULT AllocateSample(std::uint32_t size, std::shared_ptr<INSSBuffer>* sample) override {
    if (sample == nullptr) return E_INVALIDARG;
    *sample = std::make_shared<TSampleBuffer>(size);
    return S_OK;
  }

  HRESULT WriteSample(std::uint32_t input, std::uint64_t, std::uint32_t,
                      const std::shared_ptr<INSSBuffer>& sample) override {
    if (!Writing) return NS_E_INVALID_REQUEST;
    if (input != 0 || !sample) return E_INVALIDARG;
    if (Failed(Failure)) return Failure;
    std::uint8_t* data = nullptr;
    std::uint32_t length = 0;
    if (sample->GetBufferAndLength(&data, &length) != S_OK) return E_INVALIDARG;
    // A sample need not end on a whole frame: the rest waits for the next one.
    Carry.insert(Carry.end(), data, data + length);
    const std::size_t frameBytes = Input.wave.nBlockAlign;
    const std::size_t frames = Carry.size() / frameBytes;
    HRESULT hr = S_OK;
    if (frames > 0) hr = Convert(Carry.data(), static_cast<int>(frames));
    Carry.erase(Carry.begin(), Carry.begin() + static_cast<std::ptrdiff_t>(frames * frameBytes));
    if (Succeeded(hr)) hr = EncodeWhileFull();
    // A sink's failure reaches the sink's callbacks; the writer refuses from the next call on.
    if (SinkFailed) return S_OK;
    return hr;
  }

  HRESULT EndWriting() override {
    if (!Writing) return NS_E_INVALID_REQUEST;
    HRESULT hr = Failure;
    if (Succeeded(hr)) hr = Finish();
    ReleaseEncoder();
    for (const auto& sink : Sinks) {
      if (Failed(hr) || Binary.empty()) break;
      if (const HRESULT added = sink->OnHeaderAttributes(Binary); Failed(added)) hr = added;
    }
    for (const auto& sink : Sinks) {
      const HRESULT ended = sink->OnEndWriting();
      if (Succeeded(hr) && Failed(ended)) hr = ended;
    }
    Writing = false;
    return hr;
  }

 private:
  // One writing session's encoder, resampler, muxer and header, in that order.
  HRESULT OpenEncoder() {
    Failure = S_OK;
    SinkFailed = false;
    Carry.clear();
    const AVCodec* encoder = avcodec_find_encoder_by_name(WmaCodecs()[Stream.Codec].Encoder);
    if (encoder == nullptr) return NS_E_UNRECOGNIZED_STREAM_TYPE;
    HRESULT hr = OpenCodec(encoder);
    if (Succeeded(hr)) hr = OpenResampler();
    if (Succeeded(hr)) hr = AllocateFrames();
    if (Succeeded(hr)) hr = OpenMuxer();
    if (Succeeded(hr)) hr = WriteHeader();
    if (Failed(hr)) return hr;
    // One frame of silence first: a decoder's first frame only primes its overlap, so
    // without it the input's first frame would be lost.
    NextPts = 0;
    PendingFrames = 0;
    Pending.clear();
    return AppendSilence(FrameSamples);
  }

  // The encoder set to the profile's format; its frame size is known once it is open.
  HRESULT OpenCodec(const AVCodec* encoder) {
    const TCodecFormat& f = Stream.Format;
    Codec.reset(avcodec_alloc_context3(encoder));
    if (!Codec) return E_OUTOFMEMORY;
    Codec->sample_fmt = AV_SAMPLE_FMT_FLTP;
    Codec->sample_rate = static_cast<int>(f.SampleRate);
    av_channel_layout_default(&Codec->ch_layout, f.Channels);
    Codec->bit_rate = f.BitRate;
    Codec->flags |= AV_CODEC_FLAG_BITEXACT;
    if (avcodec_open2(Codec.get(), encoder, nullptr) < 0) return NS_E_UNRECOGNIZED_STREAM_TYPE;
    FrameSamples =
        Codec->frame_size > 0 ? Codec->frame_size : static_cast<int>(WmaFrameSamples(f.SampleRate));
    return S_OK;
  }

  // Input PCM to the encoder's planar float, remixed and resampled as needed.
  HRESULT OpenResampler() {
    const WAVEFORMATEX& in = Input.wave;
    AVChannelLayout inLayout{};
    av_channel_layout_default(&inLayout, in.nChannels);
    SwrContext* swr = nullptr;
    const int made =
        swr_alloc_set_opts2(&swr, &Codec->ch_layout, AV_SAMPLE_FMT_FLTP, Codec->sample_rate, &inLayout,
                            InputSampleFormat(in), static_cast<int>(in.nSamplesPerSec), 0, nullptr);
    av_channel_layout_uninit(&inLayout);
    Resampler.reset(swr);
    if (made < 0) return NS_E_INVALID_INPUT_FORMAT;
    if (in.nChannels > 8) {
      // Beyond 7.1 there is no standard layout to mix down from: every channel counts alike.
      const std::size_t inputs = in.nChannels;
      std::vector<double> matrix(inputs * Stream.Format.Channels, 1.0 / static_cast<double>(inputs));
      if (swr_set_matrix(Resampler.get(), matrix.data(), static_cast<int>(inputs)) < 0)
        return NS_E_INVALID_INPUT_FORMAT;
    }
    if (swr_init(Resampler.get()) < 0) return NS_E_INVALID_INPUT_FORMAT;
    return S_OK;
  }

  // The queue of converted samples and the frame and packet the encoder works on.
  HRESULT AllocateFrames() {
    Fifo.reset(av_audio_fifo_alloc(AV_SAMPLE_FMT_FLTP, Stream.Format.Channels, FrameSamples * 4));
    Frame.reset(av_frame_alloc());
    Packet.reset(av_packet_alloc());
    if (!Fifo || !Frame || !Packet) return E_OUTOFMEMORY;
    Frame->nb_samples = FrameSamples;
    Frame->format = AV_SAMPLE_FMT_FLTP;
    Frame->sample_rate = Codec->sample_rate;
    if (av_channel_layout_copy(&Frame->ch_layout, &Codec->ch_layout) < 0 ||
        av_frame_get_buffer(Frame.get(), 0) < 0)
      return E_OUTOFMEMORY;
    return S_OK;
  }

  // The muxer writes through our own I/O into the sinks: no FFmpeg protocol opens anything.
  HRESULT OpenMuxer() {
    AVFormatContext* oc = nullptr;
    if (avformat_alloc_output_context2(&oc, nullptr, "asf", nullptr) < 0 || oc == nullptr)
      return E_OUTOFMEMORY;
    Muxer.reset(oc);
    Muxer->flags |= AVFMT_FLAG_BITEXACT;
    const bool seekable = std::all_of(Sinks.begin(), Sinks.end(), [](const auto& s) { return s->CanSeek(); });
    Layout = AsfLayoutFor(static_cast<std::uint32_t>(Codec->block_align));
    // A stream goes out packet by packet, so that listeners do not wait for a full buffer.
    const int ioBufferSize = seekable ? kIoBufferSize : static_cast<int>(Layout.PacketSize);
    auto* buffer = static_cast<unsigned char*>(av_malloc(static_cast<std::size_t>(ioBufferSize)));
    if (buffer == nullptr) return E_OUTOFMEMORY;
    Io.reset(avio_alloc_context(buffer, ioBufferSize, 1, this, nullptr, &TWMWriter::IoWrite,
                                seekable ? &TWMWriter::IoSeek : nullptr));
    if (!Io) {
      av_free(buffer);
      return E_OUTOFMEMORY;
    }
    Muxer->pb = Io.get();
    Muxer->flags |= AVFMT_FLAG_CUSTOM_IO;
    AVStream* st = avformat_new_stream(Muxer.get(), nullptr);
    if (st == nullptr || avcodec_parameters_from_context(st->codecpar, Codec.get()) < 0) return E_OUTOFMEMORY;
    st->time_base = AVRational{1, Codec->sample_rate};
    for (const auto& [name, value] : Attributes) {
      if (value.empty()) continue;
      const char* key = MuxerKey(name);
      av_dict_set(&Muxer->metadata, key != nullptr ? key : WideToUtf8(name).c_str(), WideToUtf8(value).c_str(), 0);
    }
    return S_OK;
  }

  // The sinks learn the packet size, then receive the header.
  HRESULT WriteHeader() {
    ffmpeg::Dictionary options;
    av_dict_set_int(options.Address(), "packet_size", Layout.PacketSize, 0);
    for (const auto& sink : Sinks)
      if (const HRESULT hr = sink->OnBeginWriting(Layout.PacketSize); Failed(hr)) return hr;
    HeaderPhase = true;
    if (avformat_write_header(Muxer.get(), options.Address()) < 0) return FailureOr(NS_E_INVALID_REQUEST);
    avio_flush(Muxer->pb);
    if (Failed(Failure)) return Failure;
    HeaderPhase = false;
    return S_OK;
  }

  HRESULT FailureOr(HRESULT fallback) const { return Failed(Failure) ? Failure : fallback; }

  HRESULT AppendSilence(int samples) {
    std::vector<float> zeros(static_cast<std::size_t>(samples), 0.0f);
    std::vector<void*> planes(Stream.Format.Channels, zeros.data());
    return av_audio_fifo_write(Fifo.get(), planes.data(), samples) == samples ? S_OK : E_OUTOFMEMORY;
  }

  HRESULT Convert(const std::uint8_t* data, int frames) {
    const WAVEFORMATEX& in = Input.wave;
    const std::uint8_t* source = data;
    if (in.wFormatTag == WAVE_FORMAT_PCM && in.wBitsPerSample == 24) {
      // swresample has no packed 24-bit format: widen to 32 bits, the low byte zero.
      const std::size_t count = static_cast<std::size_t>(frames) * in.nChannels;
      Widened.resize(count);
      for (std::size_t i = 0; i < count; ++i) {
        const std::uint8_t* p = data + i * 3;
        Widened[i] = static_cast<std::int32_t>((std::uint32_t(p[0]) << 8) | (std::uint32_t(p[1]) << 16) |
                                               (std::uint32_t(p[2]) << 24));
      }
      source = reinterpret_cast<const std::uint8_t*>(Widened.data());
    }
    const int capacity = swr_get_out_samples(Resampler.get(), frames);
    if (capacity < 0) return E_FAIL;
    const std::size_t channels = Stream.Format.Channels;
    Planes.resize(channels);
    std::vector<std::uint8_t*> out(channels);
    for (std::size_t c = 0; c < channels; ++c) {
      Planes[c].resize(static_cast<std::size_t>(capacity) + 1);
      out[c] = reinterpret_cast<std::uint8_t*>(Planes[c].data());
    }
    const std::uint8_t* inPlanes[1] = {source};
    const int made = swr_convert(Resampler.get(), out.data(), capacity, inPlanes, frames);
    if (made < 0) return E_FAIL;
    if (made > 0 && av_audio_fifo_write(Fifo.get(), reinterpret_cast<void**>(out.data()), made) != made)
      return E_OUTOFMEMORY;
    return S_OK;
  }

  HRESULT EncodeWhileFull() {
    while (av_audio_fifo_size(Fifo.get()) >= FrameSamples) {
      if (av_frame_make_writable(Frame.get()) < 0) return E_OUTOFMEMORY;
      if (av_audio_fifo_read(Fifo.get(), reinterpret_cast<void**>(Frame->data), FrameSamples) != FrameSamples)
        return E_FAIL;
      Frame->pts = NextPts;
      NextPts += FrameSamples;
      if (const HRESULT hr = Encode(Frame.get()); Failed(hr)) return hr;
    }
    return S_OK;
  }

  HRESULT Encode(const AVFrame* frame) {
    if (avcodec_send_frame(Codec.get(), frame) < 0) return E_FAIL;
    for (;;) {
      const int got = avcodec_receive_packet(Codec.get(), Packet.get());
      if (got == AVERROR(EAGAIN) || got == AVERROR_EOF) return S_OK;
      if (got < 0) return E_FAIL;
      if (PendingFrames == 0) PendingPts = EncodedFrames * FrameSamples;
      Pending.insert(Pending.end(), Packet->data, Packet->data + Packet->size);
      ++PendingFrames;
      ++EncodedFrames;
      av_packet_unref(Packet.get());
      if (PendingFrames >= Layout.FramesPerPayload)
        if (const HRESULT hr = EmitPending(); Failed(hr)) return hr;
    }
  }

  // Several encoded frames make one payload: the decoder takes them one block at a time.
  HRESULT EmitPending() {
    if (PendingFrames == 0) return S_OK;
    ffmpeg::PacketPtr out(av_packet_alloc());
    if (!out || av_new_packet(out.get(), static_cast<int>(Pending.size())) < 0) return E_OUTOFMEMORY;
    std::memcpy(out->data, Pending.data(), Pending.size());
    AVStream* st = Muxer->streams[0];
    const AVRational samples{1, Codec->sample_rate};
    out->pts = out->dts = av_rescale_q(PendingPts, samples, st->time_base);
    out->duration = av_rescale_q(std::int64_t(PendingFrames) * FrameSamples, samples, st->time_base);
    out->stream_index = 0;
    out->flags |= AV_PKT_FLAG_KEY;
    Pending.clear();
    PendingFrames = 0;
    if (av_write_frame(Muxer.get(), out.get()) < 0) return FailureOr(NS_E_FILE_WRITE);
    return Failure;
  }

  // The resampler holds back the last samples of its input until told there is no more.
  HRESULT DrainResampler() {
    const std::size_t channels = Stream.Format.Channels;
    Planes.resize(channels);
    std::vector<std::uint8_t*> out(channels);
    for (;;) {
      const int capacity = std::max(swr_get_out_samples(Resampler.get(), 0), FrameSamples);
      for (std::size_t c = 0; c < channels; ++c) {
        Planes[c].resize(static_cast<std::size_t>(capacity));
        out[c] = reinterpret_cast<std::uint8_t*>(Planes[c].data());
      }
      const int made = swr_convert(Resampler.get(), out.data(), capacity, nullptr, 0);
      if (made < 0) return E_FAIL;
      if (made == 0) return S_OK;
      if (av_audio_fifo_write(Fifo.get(), reinterpret_cast<void**>(out.data()), made) != made)
        return E_OUTOFMEMORY;
    }
  }

  HRESULT Finish() {
    HRESULT hr = DrainResampler();
    // The encoder takes only whole frames: the last one is padded with silence.
    const int rest = av_audio_fifo_size(Fifo.get()) % FrameSamples;
    if (Succeeded(hr) && rest > 0) hr = AppendSilence(FrameSamples - rest);
    if (Succeeded(hr)) hr = EncodeWhileFull();
    if (Succeeded(hr)) hr = Encode(nullptr);
    if (Succeeded(hr)) hr = EmitPending();
    if (Succeeded(hr) && av_write_trailer(Muxer.get()) < 0) hr = FailureOr(NS_E_FILE_WRITE);
    if (Succeeded(hr)) {
      avio_flush(Muxer->pb);
      hr = Failure;
    }
    return hr;
  }

  void ReleaseEncoder() {
    Muxer.reset();  // before the I/O context it writes through
    Io.reset();
    Codec.reset();
    Resampler.reset();
    Fifo.reset();
    Frame.reset();
    Packet.reset();
    Pending.clear();
    Carry.clear();
    EncodedFrames = 0;
  }

  static int IoWrite(void* opaque, std::uint8_t* buffer, int size) {
    auto* self = static_cast<TWMWriter*>(opaque);
    for (const auto& sink : self->Sinks) {
      const HRESULT hr = self->HeaderPhase ? sink->OnHeader(buffer, static_cast<std::size_t>(size))
                                           : sink->OnDataUnit(buffer, static_cast<std::size_t>(size));
      if (Failed(hr)) {
        self->Failure = hr;
        self->SinkFailed = true;
        return AVERROR(EIO);
      }
    }
    return size;
  }

  static std::int64_t IoSeek(void* opaque, std::int64_t offset, int whence) {
    auto* self = static_cast<TWMWriter*>(opaque);
    if (whence & AVSEEK_SIZE) return -1;
    std::int64_t position = -1;
    for (const auto& sink : self->Sinks) position = sink->Seek(offset, whence & ~AVSEEK_FORCE);
    return position;
  }

  std::vector<std::shared_ptr<IWMWriterSink>> Sinks;
  bool HasProfile = false;
  TStreamFormat Stream;
  WM_MEDIA_TYPE Input;
  bool InputRefused = false;
  std::vector<std::pair<std::u16string, std::u16string>> Attributes;
  std::vector<TAsfBinaryAttribute> Binary;

  // One writing session, from BeginWriting to EndWriting.
  bool Writing = false;
  HRESULT Failure = S_OK;
  bool SinkFailed = false;
  bool HeaderPhase = false;
  ffmpeg::CodecContextPtr Codec;
  ffmpeg::IoContextPtr Io;
  ffmpeg::OutputFormatPtr Muxer;
  ffmpeg::SwrPtr Resampler;
  ffmpeg::AudioFifoPtr Fifo;
  ffmpeg::FramePtr Frame;
  ffmpeg::PacketPtr Packet;
  int FrameSamples = 2048;
  TAsfLayout Layout;
  std::int64_t NextPts = 0;
  std::int64_t EncodedFrames = 0;
  std::int64_t PendingPts = 0;
  std::uint32_t PendingFrames = 0;
  std::vector<std::uint8_t> Pending;
  std::vector<std::uint8_t> Carry;
  std::vector<std::int32_t> Widened;
  std::vector<std::vector<float>> Planes;
};

}  // namespace

HRESULT WMCreateWriter(void*, std::shared_ptr<IWMWriter>* writer) {
  if (writer == nullptr) return E_INVALIDARG;
  *writer = std::make_shared<TWMWriter>();
  return S_OK;
}

HRESULT WMCreateWriterFileSink(std::shared_ptr<IWMWriterFileSink>* sink) {
  if (sink == nullptr) return E_INVALIDARG;
  *sink = std::make_shared<TWMWriterFileSink>();
  return S_OK;
}

}  // namespace melvanto::wmf
