#pragma once

// The exact decoded length of an MP3 stream, counted frame by frame.

#include <cstdint>
#include <optional>

#include "ffmpeg_handles.h"

namespace melvanto::wmf {

// The demuxer's MP3 length is an estimate (from the first frame's bit rate) or counts
// whole frames with their padding; the frames' own durations, less the samples the
// encoder's delay and padding mark for discarding, give the decoded length exactly.
// Reads the demuxer to its end. The number of samples, or nothing when it cannot count.
std::optional<std::int64_t> CountMp3Samples(AVFormatContext* format, int streamIndex);

}  // namespace melvanto::wmf
