#pragma once

// Output names made from a file's tags: "{artist}/{album}/{track:02} - {title}".

#include <optional>
#include <string>
#include <vector>

#include "settings.h"

namespace melvanto {

// A parsed pattern: folder levels, each a run of literal text and fields.
struct TNamePattern {
  struct TPiece {
    std::string Text;   // literal text, when Field is empty
    std::string Field;  // "artist", "album", "title", "track", "year", "genre" or "name"
    int Width = 0;      // {track:0N}: zero-padded to N digits
  };
  std::vector<std::vector<TPiece>> Levels;
  // Also replace what FAT and Windows refuse in a name: <>:"\|?* and trailing dots and spaces.
  bool Portable = false;
};

// The pattern, or nothing with problem set for the user ("unknown field {foo}").
std::optional<TNamePattern> ParseNamePattern(const std::string& text, std::string& problem);

// A file's values for the fields, UTF-8: its tags, and "name" (F's name without extension).
// The track is its leading number ("3" of "3/12"); empty when the file has none.
struct TNameFields {
  std::string Artist, Album, Title, Track, Year, Genre, Name;
};
// genreText, the genre as the file has it, wins over tags' position in the display list.
TNameFields NameFieldsOf(const TTagInfo& tags, const std::string& F, const std::u16string& genreText = {});

// The output's path below the output folder, without extension ("Artist/Album/03 - Title"),
// every level a safe name of at most 200 bytes; nothing when a field the pattern uses is empty.
std::optional<std::string> ExpandNamePattern(const TNamePattern& pattern, const TNameFields& fields);

}  // namespace melvanto
