#pragma once

// The FFmpeg libraries this process runs with, which may differ from the headers it was
// built against.

#include <string>

namespace melvanto::ffmpeg {

// "5.1.6-0+deb12u1 (libavcodec 59.37.100, libavformat 59.27.100)".
std::string RuntimeVersion();

}  // namespace melvanto::ffmpeg
