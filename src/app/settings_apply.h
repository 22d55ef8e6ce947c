#pragma once

// Turning the settings and the batch's tag values into output properties. Private to the
// application's logic (and its tests): the windows and the command line see no format.

#include <cstdint>
#include <string>

#include "mp3_out.h"
#include "settings.h"
#include "wma_out.h"

namespace melvanto {

// The bit-rate table: 32 -> mbr32 ... 320 -> mbr320, anything else mbrAuto.
TMP3BitRate MP3BitRateFromKbps(std::int32_t kbps);
// Configures an output for the next file from settings.
void ApplyMP3Settings(TMP3Out& output, const TOptionsSetting& settings);
// Configures an output for the next file from settings and the batch's tag values (its
// Id3v2Tags were cleared or filled from the source file before).
void ApplyWMASettings(TWMAOut& output, const TOptionsSetting& settings, const TTagInfo& tags);
// Replaces an MP3 output's ID3v1 and ID3v2 values with the tag values; an empty title is the
// output's name.
void FillMp3Tags(TMP3Out& output, const TTagInfo& tags);

// What the tag editor does not show goes from a source file's tags to its output's in every
// batch: the copyright (when the source has one), the pictures and the comment's language.
void CarryUnshownTags(const TId3v2Tags& source, TId3v2Tags& output);

// Which list a genre's name is spelt from: the one shown to the user, or the ID3v1 table
// other readers know.
enum class TGenreSpelling { gsDisplayList, gsId3v1Table };
// Lays the tag values over tags: an empty title there becomes outputName's name without
// folder and extension; then each value that is given replaces the one there.
void FillId3v2Tags(TId3v2Tags& tags, const TTagInfo& values, const std::string& outputName,
                   TGenreSpelling spelling);

}  // namespace melvanto
