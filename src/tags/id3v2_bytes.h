#pragma once

#include <cstdint>
#include <span>

#include "tags.h"

namespace melvanto {

// Reads an ID3v2 tag held in memory (a tag embedded in another container, such as a WAV
// file's "id3 " chunk) with the container's own file reader. False when the bytes hold no
// tag or cannot be staged.
bool ReadId3v2FromBytes(TId3v2Tags& tags, std::span<const std::uint8_t> bytes);

}  // namespace melvanto
