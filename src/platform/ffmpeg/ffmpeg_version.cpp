#include "ffmpeg_version.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/avutil.h>
}

namespace melvanto::ffmpeg {

namespace {

std::string Dotted(unsigned version) {
  return std::to_string(AV_VERSION_MAJOR(version)) + "." + std::to_string(AV_VERSION_MINOR(version)) + "." +
         std::to_string(AV_VERSION_MICRO(version));
}

}  // namespace

std::string RuntimeVersion() {
  const char* release = av_version_info();
  return std::string(release != nullptr ? release : "unknown") + " (libavcodec " + Dotted(avcodec_version()) +
         ", libavformat " + Dotted(avformat_version()) + ")";
}

}  // namespace melvanto::ffmpeg
