#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "settings.h"

namespace melvanto {

// The conversion directions; the values are fixed (the main window's buttons carry them).
// cmWavToWav is the command line's own: any readable WAV rewritten by the WAV writer.
enum class TConversionMode : std::int32_t {
  cmWavToMp3 = 2,
  cmWavToWma = 4,
  cmMp3ToWav = 7,
  cmWmaToWav = 8,
  cmMp3ToWma = 9,
  cmWmaToMp3 = 10,
  cmWavToWav = 11,
};

enum class TSourceFormat { sfWav, sfMp3, sfWma };
enum class TTargetFormat { tfWav, tfMp3, tfWma };

TSourceFormat SourceFormatOf(TConversionMode mode);
TTargetFormat TargetFormatOf(TConversionMode mode);
// ".mp3", ".wma" or ".wav".
const char* TargetExtension(TConversionMode mode);
// The direction's name on the command line: "wav-mp3" ...
const char* DirectionName(TConversionMode mode);
// Every direction, in the order of the enumeration's values.
std::vector<TConversionMode> ConversionModes();
// A value of the enumeration (2, 4, 7, 8, 9, 10, 11), else nothing.
std::optional<TConversionMode> ConversionModeFromValue(std::int32_t value);

// The output name for input file F in folder D: D with a trailing '/' added if missing
// (an empty D names the current folder), then F's name without folder, its extension
// (after the last dot of the name) replaced by extension, or extension appended when the
// name has none. A dot in a folder name, or a name's leading dot (".hidden"), starts no
// extension.
std::string OutputFileName(const std::string& D, const std::string& F, std::string_view extension);
// F's name without folder.
std::string NameWithoutFolder(const std::string& F);
// F's name without folder and without its extension.
std::string NameWithoutExtension(const std::string& F);
// F's folder with a trailing '/' ("./" for a bare name).
std::string FolderOf(const std::string& F);

// A source file's own tag values (a WAV file's from its LIST/INFO and "id3 " chunks), and its
// genre as written, which the editor's list may not have ("Synthwave"); nothing when it cannot
// be read.
struct TFileTags {
  TTagInfo Info;
  std::u16string GenreText;
};
std::optional<TFileTags> ReadFileTags(const std::string& F, TSourceFormat source);

// What the main window does to TagInfo before a batch starts: clear it; for exactly one file
// take the title from its name and, in cmMp3ToWma, cmWmaToMp3, cmWavToMp3 and cmWavToWma, the
// file's own tags (the title only when not empty; artist, album, year, genre position, track
// and comment as they are; a WAV file's from its LIST/INFO and "id3 " chunks). A file that
// cannot be read leaves the cleared values and the title.
void PrepareBatchTags(const std::vector<std::string>& files, TConversionMode mode, TTagInfo& tags);

}  // namespace melvanto
