#pragma once

// FFmpeg's objects in owning handles, so every path out of a function frees them.

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/audio_fifo.h>
#include <libavutil/frame.h>
#include <libswresample/swresample.h>
}

#include <memory>

namespace melvanto::ffmpeg {

struct FormatInputClose {
  void operator()(AVFormatContext* c) const { avformat_close_input(&c); }
};
struct FormatOutputFree {
  void operator()(AVFormatContext* c) const { avformat_free_context(c); }
};
struct CodecContextFree {
  void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
};
struct ParserClose {
  void operator()(AVCodecParserContext* p) const { av_parser_close(p); }
};
struct PacketFree {
  void operator()(AVPacket* p) const { av_packet_free(&p); }
};
struct FrameFree {
  void operator()(AVFrame* f) const { av_frame_free(&f); }
};
struct SwrFree {
  void operator()(SwrContext* s) const { swr_free(&s); }
};
// A custom I/O context and the buffer it currently owns (FFmpeg may have replaced ours).
struct IoContextFree {
  void operator()(AVIOContext* io) const {
    if (io != nullptr) av_freep(&io->buffer);
    avio_context_free(&io);
  }
};

struct AudioFifoFree {
  void operator()(AVAudioFifo* f) const { av_audio_fifo_free(f); }
};
using InputFormatPtr = std::unique_ptr<AVFormatContext, FormatInputClose>;
using OutputFormatPtr = std::unique_ptr<AVFormatContext, FormatOutputFree>;
using CodecContextPtr = std::unique_ptr<AVCodecContext, CodecContextFree>;
using ParserPtr = std::unique_ptr<AVCodecParserContext, ParserClose>;
using PacketPtr = std::unique_ptr<AVPacket, PacketFree>;
using FramePtr = std::unique_ptr<AVFrame, FrameFree>;
using SwrPtr = std::unique_ptr<SwrContext, SwrFree>;
using IoContextPtr = std::unique_ptr<AVIOContext, IoContextFree>;
using AudioFifoPtr = std::unique_ptr<AVAudioFifo, AudioFifoFree>;

// An option dictionary: FFmpeg's calls take its address and may replace it.
class Dictionary {
 public:
  Dictionary() = default;
  Dictionary(const Dictionary&) = delete;
  Dictionary& operator=(const Dictionary&) = delete;
  ~Dictionary() { av_dict_free(&Dict); }
  AVDictionary** Address() { return &Dict; }
  AVDictionary* Get() const { return Dict; }

 private:
  AVDictionary* Dict = nullptr;
};

// The product logs nothing: FFmpeg's own messages are silenced once per process.
void SilenceLogging();

}  // namespace melvanto::ffmpeg
