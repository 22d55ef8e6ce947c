#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace melvanto::acm {

// Decodes raw MPEG audio frames (as stored in a WAV data chunk) completely: every frame the
// parser finds, the decoder's last frames flushed, nothing trimmed at either end. The PCM
// is interleaved signed 16-bit at the given channel count and rate. False when the decoder
// cannot be set up or the data holds no decodable frame.
bool DecodeMpegAudio(const std::uint8_t* data, std::size_t size, int channels, int rate,
                     std::vector<std::uint8_t>& pcm);

}  // namespace melvanto::acm
