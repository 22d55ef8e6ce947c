#pragma once

#include <cstddef>
#include <cstdint>

namespace melvanto {

// Converts interleaved PCM of 8 (unsigned), 16, 24 or 32 bits and any channel count to
// 16-bit PCM with one or two channels, for encoders that take nothing else. Narrower
// samples are scaled up, wider ones keep their top 16 bits; more channels than wanted
// are mixed down (front left/right to their sides, centre and surrounds to both, the LFE
// of 5.1 and wider left out), scaled so the mix cannot clip.
void ConvertToPcm16(const std::uint8_t* in, std::size_t frames, unsigned bits, unsigned inChannels,
                    unsigned outChannels, std::int16_t* out);

}  // namespace melvanto
