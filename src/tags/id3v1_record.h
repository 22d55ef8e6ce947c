#pragma once

#include <array>
#include <cstdint>

#include "id3.h"
#include "tags.h"

namespace melvanto {

using TId3v1Record = std::array<std::uint8_t, id3v1::kRecordSize>;

// How the year goes into its four bytes: the container's own writer writes the first four
// characters of any year ("0" for none); the MP3 output writes only a real four-digit year.
enum class TId3v1YearForm { AnyYear, FourDigitsOnly };

// The 128-byte record for a container's values: texts cut to their fields, the track (when
// not 0) in byte 126 after a zero, and the stored genre code, 255 ("none") when none is
// stored so that no file is labelled with a genre nobody chose.
TId3v1Record MakeId3v1Record(const TId3v1Tags& tags, TId3v1YearForm yearForm);

}  // namespace melvanto
