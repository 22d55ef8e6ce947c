#pragma once

// Tags inside RIFF WAVE files: the LIST chunk of type INFO that recorders, rippers and most
// editors write, and the "id3 " chunk that taggers add. Both are read into the ID3v2
// container every reader fills; the writer stores a container as a LIST/INFO chunk.

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "stream.h"
#include "tags.h"

namespace melvanto {

// The most bytes a written INFO value keeps (cut at a character boundary): every chunk before
// the audio must fit the readers' and the append scan's header windows.
constexpr std::size_t kMaxInfoValueBytes = 4096;

// Lays the items of a LIST chunk's body ("INFO", then sub-chunks) over tags. A body of
// another list type changes nothing. Sizes are never trusted: an item that runs past the
// body is cut at its end.
void ParseRiffInfo(std::span<const std::uint8_t> body, TId3v2Tags& tags);

// The whole LIST/INFO chunk (identifier, size and body) for the values of tags; empty when
// none of the fields INFO holds has a value.
std::vector<std::uint8_t> BuildRiffInfo(const TId3v2Tags& tags);

// The tags of the RIFF WAVE file that starts at start: its LIST/INFO chunks, then its
// "id3 " chunk, whose values take the place of INFO's field by field. Leaves the stream's
// position as it found it. Chunks are looked for up to the end of the stream, as taggers
// append theirs after the audio.
void ReadWaveTags(TStream& stream, std::int64_t start, TId3v2Tags& tags);

}  // namespace melvanto
