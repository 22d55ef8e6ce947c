#include "mpeg_audio_decoder.h"

#include <algorithm>
#include <cstring>
#include <memory>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
}

#include "ffmpeg_handles.h"

namespace melvanto::acm {
namespace {

class Decoder {
 public:
  Decoder(int channels, int rate, std::vector<std::uint8_t>& out) : channels_(channels), rate_(rate), out_(out) {}

  bool Open() {
    const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_MP3);
    if (codec == nullptr) return false;
    ctx_.reset(avcodec_alloc_context3(codec));
    parser_.reset(av_parser_init(AV_CODEC_ID_MP3));
    packet_.reset(av_packet_alloc());
    frame_.reset(av_frame_alloc());
    return ctx_ && parser_ && packet_ && frame_ && avcodec_open2(ctx_.get(), codec, nullptr) >= 0;
  }

  // Parses and decodes one stretch; data == nullptr flushes the parser.
  bool Feed(const std::uint8_t* data, int size) {
    const std::uint8_t* p = data;
    int left = size;
    do {
      std::uint8_t* packetData = nullptr;
      int packetSize = 0;
      const int used = av_parser_parse2(parser_.get(), ctx_.get(), &packetData, &packetSize, p, left,
                                        AV_NOPTS_VALUE, AV_NOPTS_VALUE, 0);
      if (used < 0) return false;
      if (p != nullptr) {
        p += used;
        left -= used;
      }
      if (packetSize > 0) {
        packet_->data = packetData;
        packet_->size = packetSize;
        // A frame the decoder rejects is skipped, as players do; the rest still decodes.
        if (avcodec_send_packet(ctx_.get(), packet_.get()) >= 0 && !Drain()) return false;
      }
      if (data == nullptr && packetSize == 0) break;
      if (used == 0 && packetSize == 0) break;  // nothing consumed, nothing out: no progress to make
    } while (left > 0 || data == nullptr);
    return true;
  }

  bool Finish() {
    avcodec_send_packet(ctx_.get(), nullptr);
    if (!Drain()) return false;
    if (swr_) {
      // What the resampler still holds.
      for (;;) {
        const int n = Convert(nullptr, 0);
        if (n < 0) return false;
        if (n == 0) break;
      }
    }
    return decodedFrames_ > 0;
  }

 private:
  bool Drain() {
    for (;;) {
      const int r = avcodec_receive_frame(ctx_.get(), frame_.get());
      if (r == AVERROR(EAGAIN) || r == AVERROR_EOF) return true;
      if (r < 0) return false;
      ++decodedFrames_;
      if (!SetUpResampler(*frame_)) return false;
      const int n = Convert(const_cast<const std::uint8_t**>(frame_->extended_data), frame_->nb_samples);
      av_frame_unref(frame_.get());
      if (n < 0) return false;
    }
  }

  bool SetUpResampler(const AVFrame& f) {
    if (swr_ && f.format == inFormat_ && f.sample_rate == inRate_ &&
        av_channel_layout_compare(&f.ch_layout, &inLayout_) == 0)
      return true;
    // A stream whose format changes midway gets a new resampler from there on.
    if (swr_) {
      while (Convert(nullptr, 0) > 0) {
      }
    }
    av_channel_layout_uninit(&inLayout_);
    if (av_channel_layout_copy(&inLayout_, &f.ch_layout) < 0) return false;
    inFormat_ = f.format;
    inRate_ = f.sample_rate;
    AVChannelLayout outLayout{};
    av_channel_layout_default(&outLayout, channels_);
    SwrContext* s = nullptr;
    if (swr_alloc_set_opts2(&s, &outLayout, AV_SAMPLE_FMT_S16, rate_, &inLayout_,
                            static_cast<AVSampleFormat>(f.format), f.sample_rate, 0, nullptr) < 0)
      return false;
    swr_.reset(s);
    return swr_init(swr_.get()) >= 0;
  }

  // Appends converted samples; returns how many frames came out.
  int Convert(const std::uint8_t** in, int count) {
    const int room = swr_get_out_samples(swr_.get(), count);
    if (room < 0) return -1;
    if (room == 0) return 0;
    const std::size_t frameBytes = 2u * static_cast<std::size_t>(channels_);
    const std::size_t at = out_.size();
    out_.resize(at + static_cast<std::size_t>(room) * frameBytes);
    std::uint8_t* dst = out_.data() + at;
    const int n = swr_convert(swr_.get(), &dst, room, in, count);
    out_.resize(at + static_cast<std::size_t>(n < 0 ? 0 : n) * frameBytes);
    return n;
  }

  int channels_;
  int rate_;
  std::vector<std::uint8_t>& out_;
  ffmpeg::CodecContextPtr ctx_;
  ffmpeg::ParserPtr parser_;
  ffmpeg::PacketPtr packet_;
  ffmpeg::FramePtr frame_;
  ffmpeg::SwrPtr swr_;
  int inFormat_ = -1;
  int inRate_ = 0;
  AVChannelLayout inLayout_{};
  long decodedFrames_ = 0;

 public:
  ~Decoder() { av_channel_layout_uninit(&inLayout_); }
};

}  // namespace

bool DecodeMpegAudio(const std::uint8_t* data, std::size_t size, int channels, int rate,
                     std::vector<std::uint8_t>& pcm) {
  // The product logs nothing; a damaged frame is handled, not reported on stderr.
  ffmpeg::SilenceLogging();
  pcm.clear();
  if (channels < 1 || channels > 2 || rate <= 0) return false;
  // The parser reads a little past the end of what it is given: pad with zeros.
  std::vector<std::uint8_t> padded(size + AV_INPUT_BUFFER_PADDING_SIZE, 0);
  if (size > 0) std::memcpy(padded.data(), data, size);
  Decoder d(channels, rate, pcm);
  if (!d.Open()) return false;
  // Feed in slices so that a huge data chunk never overflows the parser's int sizes.
  constexpr std::size_t kSlice = 1 << 20;
  for (std::size_t at = 0; at < size; at += kSlice) {
    const int n = static_cast<int>(std::min(kSlice, size - at));
    if (!d.Feed(padded.data() + at, n)) return false;
  }
  if (!d.Feed(nullptr, 0)) return false;
  return d.Finish();
}

}  // namespace melvanto::acm
