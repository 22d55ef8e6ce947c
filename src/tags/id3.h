#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace melvanto {

// The 128-byte ID3v1 record at the end of an MP3 file.
namespace id3v1 {
constexpr std::size_t kRecordSize = 128;
constexpr std::size_t kTitle = 3, kArtist = 33, kAlbum = 63, kYear = 93, kComment = 97;
constexpr std::size_t kTextLength = 30, kYearLength = 4, kCommentWithTrackLength = 28;
constexpr std::size_t kTrackMarker = 125, kTrack = 126, kGenre = 127;
constexpr std::uint8_t kNoGenre = 255;
}  // namespace id3v1

// Genre names by ID3v1 genre code 0..147.
constexpr std::size_t kId3v1GenreCount = 148;
extern const std::array<std::string_view, kId3v1GenreCount> kId3v1Genres;

// The genre list the user interface offers, in its fixed order; entry 0 (empty) is "no
// genre". A chosen genre is remembered as its position here, -1 for none.
constexpr std::size_t kDisplayGenreCount = 149;
extern const std::array<std::string_view, kDisplayGenreCount> kDisplayGenres;

// The genre code for a display position: 255 for the empty entry, for -1 (which arrives
// here as 255) and for any position past the list.
std::uint8_t GenreCodeForDisplayPosition(std::uint8_t position);

// The position in the display list of a genre code, -1 when the code has none.
int DisplayPositionForGenreCode(std::uint8_t code);

// The application's ID3v1 values for one finished file, with the record's field limits.
class Tid3tag {
 public:
  bool HasTrack() const { return HasTrack_; }
  const std::u16string& Title() const { return Title_; }
  const std::u16string& Artist() const { return Artist_; }
  const std::u16string& Album() const { return Album_; }
  const std::u16string& Year() const { return Year_; }
  const std::u16string& Comment() const { return Comment_; }
  std::uint8_t Track() const { return Track_; }

  void SetTitle(std::u16string_view text);
  void SetArtist(std::u16string_view text);
  void SetAlbum(std::u16string_view text);
  void SetYear(std::u16string_view text);
  void SetComment(std::u16string_view text);
  // Track 0 means none; only the low 8 bits are kept.
  void SetTrack(std::uint8_t track);

  // Written directly by the caller.
  std::uint8_t GenreCode = id3v1::kNoGenre;

 private:
  bool HasTrack_ = false;
  std::u16string Title_, Artist_, Album_, Year_, Comment_;
  std::uint8_t Track_ = 0;
};

// The first `count` characters of a text (a surrogate pair is one character).
std::u16string LeftCharacters(std::u16string_view text, std::size_t count);

}  // namespace melvanto
