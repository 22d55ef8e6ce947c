#include "mpeg_audio_decoder.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <utility>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
}

#include "ffmpeg_handles.h"

namespace melvanto::acm {

static_assert(MpegAudioDecoder::kPadding >= AV_INPUT_BUFFER_PADDING_SIZE);

namespace {

// Splits one stretch into frames, handing each to onFrame (false stops with an error);
// data == nullptr flushes the parser.
template <class OnFrame>
bool ParseFrames(AVCodecParserContext& parser, AVCodecContext& ctx, const std::uint8_t* data, int size,
                 OnFrame onFrame) {
  const std::uint8_t* p = data;
  int left = size;
  do {
    std::uint8_t* packetData = nullptr;
    int packetSize = 0;
    const int used =
        av_parser_parse2(&parser, &ctx, &packetData, &packetSize, p, left, AV_NOPTS_VALUE, AV_NOPTS_VALUE, 0);
    if (used < 0) return false;
    if (p != nullptr) {
      p += used;
      left -= used;
    }
    if (packetSize > 0 && !onFrame(packetData, packetSize)) return false;
    if (data == nullptr && packetSize == 0) break;
    if (used == 0 && packetSize == 0) break;  // nothing consumed, nothing out: no progress to make
  } while (left > 0 || data == nullptr);
  return true;
}

}  // namespace

class MpegAudioDecoder::Impl {
 public:
  Impl(int channels, int rate) : channels_(channels), rate_(rate) {}

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
    return ParseFrames(*parser_, *ctx_, data, size, [this](std::uint8_t* packetData, int packetSize) {
      packet_->data = packetData;
      packet_->size = packetSize;
      // A frame the decoder rejects is skipped, as players do; the rest still decodes.
      return avcodec_send_packet(ctx_.get(), packet_.get()) < 0 || Drain();
    });
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
  ~Impl() { av_channel_layout_uninit(&inLayout_); }
  std::vector<std::uint8_t> out_;
};

MpegAudioDecoder::MpegAudioDecoder() = default;
MpegAudioDecoder::~MpegAudioDecoder() = default;

bool MpegAudioDecoder::Open(int channels, int rate) {
  // The product logs nothing; a damaged frame is handled, not reported on stderr.
  ffmpeg::SilenceLogging();
  impl_.reset();
  if (channels < 1 || channels > 2 || rate <= 0) return false;
  auto impl = std::make_unique<Impl>(channels, rate);
  if (!impl->Open()) return false;
  impl_ = std::move(impl);
  return true;
}

bool MpegAudioDecoder::Feed(const std::uint8_t* data, std::size_t size) {
  // Pieces stay far below the parser's int sizes.
  return impl_ && size <= (1u << 30) && impl_->Feed(data, static_cast<int>(size));
}

bool MpegAudioDecoder::Finish() { return impl_ && impl_->Feed(nullptr, 0) && impl_->Finish(); }

std::vector<std::uint8_t>& MpegAudioDecoder::Pending() { return impl_->out_; }

class MpegFrameCounter::Impl {
 public:
  bool Open() {
    ctx_.reset(avcodec_alloc_context3(nullptr));
    parser_.reset(av_parser_init(AV_CODEC_ID_MP3));
    return ctx_ && parser_;
  }

  bool Feed(const std::uint8_t* data, int size) {
    return ParseFrames(*parser_, *ctx_, data, size, [this](std::uint8_t*, int) {
      // The parser tells each frame's samples and rate from its header.
      if (parser_->duration > 0 && ctx_->sample_rate > 0) {
        if (byRate_.empty() || byRate_.back().first != ctx_->sample_rate) byRate_.emplace_back(ctx_->sample_rate, 0);
        byRate_.back().second += parser_->duration;
      }
      return true;
    });
  }

  std::int64_t Frames(int outRate) const {
    // Frames at another rate are counted as the resampler gives them, to the nearest frame.
    std::int64_t total = 0;
    for (const auto& [rate, samples] : byRate_)
      total += rate == outRate ? samples : (samples * outRate + rate / 2) / rate;
    return total;
  }

 private:
  ffmpeg::CodecContextPtr ctx_;
  ffmpeg::ParserPtr parser_;
  // Runs of frames at one rate, in order; a rate change starts a new run.
  std::vector<std::pair<int, std::int64_t>> byRate_;
};

MpegFrameCounter::MpegFrameCounter() : impl_(std::make_unique<Impl>()) {
  ffmpeg::SilenceLogging();
  if (!impl_->Open()) impl_.reset();
}
MpegFrameCounter::~MpegFrameCounter() = default;

bool MpegFrameCounter::Feed(const std::uint8_t* data, std::size_t size) {
  return impl_ && size <= (1u << 30) && impl_->Feed(data, static_cast<int>(size));
}

std::int64_t MpegFrameCounter::Finish(int outRate) {
  if (!impl_ || outRate <= 0 || !impl_->Feed(nullptr, 0)) return 0;
  return impl_->Frames(outRate);
}

}  // namespace melvanto::acm
