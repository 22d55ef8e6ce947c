#include "id3v1_record.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "text_codec.h"

namespace melvanto {

namespace {

void PutField(TId3v1Record& record, std::size_t offset, std::size_t length, std::string_view text) {
  std::memcpy(record.data() + offset, text.data(), std::min(length, text.size()));
}

// The stored genre as a record's code: a number as it is; a name (as copied from a
// container that keeps genres as text) through the table; nothing, or text that names no
// genre, as "none".
std::uint8_t GenreCode(const TTagValue& genre) {
  if (IsNull(genre)) return id3v1::kNoGenre;
  const std::string text = TrimControl(TagValueAsString(genre));
  if (std::holds_alternative<std::uint8_t>(genre) || std::holds_alternative<std::uint16_t>(genre) ||
      ParseInteger(text))
    return static_cast<std::uint8_t>(TagValueAsInteger(genre));
  for (std::size_t code = 0; code < kId3v1GenreCount; ++code)
    if (SameText(kId3v1Genres[code], text)) return static_cast<std::uint8_t>(code);
  return id3v1::kNoGenre;
}

}  // namespace

TId3v1Record MakeId3v1Record(const TId3v1Tags& tags, TId3v1YearForm yearForm) {
  TId3v1Record record{};
  std::memcpy(record.data(), "TAG", 3);
  PutField(record, id3v1::kTitle, id3v1::kTextLength, tags.Title());
  PutField(record, id3v1::kArtist, id3v1::kTextLength, tags.Artist());
  PutField(record, id3v1::kAlbum, id3v1::kTextLength, tags.Album());
  const std::string year = std::to_string(tags.Year());
  if (yearForm == TId3v1YearForm::AnyYear || (tags.Year() != 0 && year.size() == 4))
    PutField(record, id3v1::kYear, id3v1::kYearLength, year);
  if (tags.Track() != 0) {
    PutField(record, id3v1::kComment, id3v1::kCommentWithTrackLength, tags.Comment());
    record[id3v1::kTrackMarker] = 0;
    record[id3v1::kTrack] = tags.Track();
  } else {
    PutField(record, id3v1::kComment, id3v1::kTextLength, tags.Comment());
  }
  record[id3v1::kGenre] = GenreCode(tags.GetValue("genre"));
  return record;
}

}  // namespace melvanto
