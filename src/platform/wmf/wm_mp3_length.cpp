#include "wm_mp3_length.h"

#include "wm_little_endian.h"

namespace melvanto::wmf {

std::optional<std::int64_t> CountMp3Samples(AVFormatContext* format, int streamIndex) {
  const AVStream* st = format->streams[streamIndex];
  const int rate = st->codecpar->sample_rate;
  ffmpeg::PacketPtr packet(av_packet_alloc());
  if (!packet) return std::nullopt;
  std::int64_t units = 0;  // in the stream's time base
  std::int64_t discarded = 0;
  while (av_read_frame(format, packet.get()) >= 0) {
    if (packet->stream_index == streamIndex && packet->duration > 0) {
      units += packet->duration;
      std::size_t sideSize = 0;
      const std::uint8_t* side = av_packet_get_side_data(packet.get(), AV_PKT_DATA_SKIP_SAMPLES, &sideSize);
      if (side != nullptr && sideSize >= 8) discarded += std::int64_t{LE32(side)} + LE32(side + 4);
    }
    av_packet_unref(packet.get());
  }
  return av_rescale_q(units, st->time_base, AVRational{1, rate}) - discarded;
}

}  // namespace melvanto::wmf
