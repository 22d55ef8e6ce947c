#include "id3.h"

namespace melvanto {

const std::array<std::string_view, kId3v1GenreCount> kId3v1Genres = {
"Blues", "Classic Rock", "Country", "Dance", "Disco", "Funk", "Grunge", "Hip-Hop", "Jazz",
    "Metal", "New Age", "Oldies", "Other", "Pop", "R&B", "Rap", "Reggae", "Rock", "Techno",
    "Industrial", "Alternative", "Ska", "Death metal", "Pranks", "Soundtrack", "Euro-Techno",
    "Ambient", "Trip-Hop", "Vocal", "Jazz+Funk", "Fusion", "Trance", "Classical", "Instrumental",
    "Acid", "House", "Game", "Sound Clip", "Gospel", "Noise", "Alt. Rock", "Bass", "Soul", "Punk",
    "Space", "Meditative", "Instrumental pop", "Instrumental rock", "Ethnic", "Gothic", "Darkwave",
    "Techno-Industrial", "Electronic", "Pop-Folk", "Eurodance", "Dream", "Southern Rock", "Comedy",
    "Cult", "Gangsta", "Top 40", "Christian Rap", "Pop/Funk", "Jungle", "Native American",
    "Cabaret", "New Wave", "Psychedelic", "Rave", "Showtunes", "Trailer", "Lo-Fi", "Tribal",
    "Acid Punk", "Acid Jazz", "Polka", "Retro", "Musical", "Rock & Roll", "Hard Rock", "Folk",
    "Folk-Rock", "National Folk", "Swing", "Fast Fusion", "Bebob", "Latin", "Revival", "Celtic",
    "Bluegrass", "Avantgarde", "Gothic Rock", "Progressive Rock", "Psychedelic Rock",
    "Symphonic Rock", "Slow Rock", "Big Band", "Chorus", "Easy Listening", "Acoustic", "Humour",
    "Speech", "Chanson", "Opera", "Chamber music", "Sonata", "Symphony", "Booty Bass", "Primus",
    "Porn Groove", "Satire", "Slow Jam", "Club", "Tango", "Samba", "Folklore", "Ballad",
    "Power Ballad", "Rhythmic soul", "Freestyle", "Duet", "Punk Rock", "Drum Solo", "A Cappella",
    "Euro-House", "Dance Hall", "Goa", "Drum & Bass", "Club-House", "Hardcore", "Terror", "Indie",
    "BritPop", "Negerpunk", "Polsk Punk", "Beat", "Christian Gangsta Rap", "Heavy Metal",
    "Black Metal", "Crossover", "Contemporary Christian", "Christian Rock", "Merengue", "Salsa",
    "Thrash Metal", "Anime", "JPop", "Synthpop",
};

const std::array<std::string_view, kDisplayGenreCount> kDisplayGenres = {
    "", "A Capella", "Acid", "Acid Jazz", "Acid Punk", "Acoustic", "Alt. Rock", "Alternative",
    "Ambient", "Anime", "Avantgarde", "Ballad", "Bass", "Beat", "Bebob", "Big Band", "Black Metal",
    "Bluegrass", "Blues", "Booty Bass", "BritPop", "Cabaret", "Celtic", "Chamber Music", "Chanson",
    "Chorus", "Christian Gangsta", "Christian Rap", "Christian Rock", "Classic Rock", "Classical",
    "Club", "Club-House", "Comedy", "Contemporary Christian", "Country", "Crossover", "Cult",
    "Dance", "Dance Hall", "Darkwave", "Death Metal", "Disco", "Dream", "Drum & Base", "Drum Solo",
    "Duet", "Easy Listening", "Electronic", "Ethnic", "Eurodance", "Euro-House", "Euro-Techno",
    "Fast-Fusion", "Folk", "Folk/Rock", "Folklore", "Freestyle", "Funk", "Fusion", "Game",
    "Gangsta Rap", "Goa", "Gospel", "Gothic", "Gothic Rock", "Grunge", "Hard Rock", "Hardcore",
    "Heavy Metal", "Hip-Hop", "House", "Humour", "Indie", "Industrial", "Instrumental",
    "Instrumental Pop", "Instrumental Rock", "Jazz", "Jazz+Funk", "JPop", "Jungle", "Latin",
    "Lo-Fi", "Meditative", "Merengue", "Metal", "Musical", "National Folk", "Native American",
    "Negerpunk", "New Age", "New Wave", "Noise", "Oldies", "Opera", "Other", "Polka", "Polsk Punk",
    "Pop", "Pop/Funk", "Pop-Folk", "Porn Groove", "Power Ballad", "Pranks", "Primus",
    "Progressive Rock", "Psychedelic", "Psychedelic Rock", "Punk", "Punk Rock", "R&B", "Rap",
    "Rave", "Reggae", "Retro", "Revival", "Rhythmic Soul", "Rock", "Rock & Roll", "Salsa", "Samba",
    "Satire", "Showtunes", "Ska", "Slow Jam", "Slow Rock", "Sonata", "Soul", "Sound Clip",
    "Soundtrack", "Southern Rock", "Space", "Speech", "Swing", "Symphonic Rock", "Symphony",
    "Synthpop", "Tango", "Techno", "Techno-Industrial", "Terror", "Thrash Metal", "Top 40",
    "Trailer", "Trance", "Tribal", "Trip-Hop", "Vocal",
};

namespace {

// Display position -> genre code: equal names compared without case, and six entries
// whose spellings differ from the code table. Every code 0..147 appears exactly once.
constexpr std::array<std::uint8_t, kDisplayGenreCount> kDisplayToCode = {
    255, 123, 34, 74, 73, 99, 40, 20, 26, 145, 90, 116, 41, 135, 85, 96, 138, 89, 0, 107, 132, 65,
    88, 104, 102, 97, 136, 61, 141, 1, 32, 112, 128, 57, 140, 2, 139, 58, 3, 125, 50, 22, 4, 55,
    127, 122, 120, 98, 52, 48, 54, 124, 25, 84, 80, 81, 115, 119, 5, 30, 36, 59, 126, 38, 49, 91, 6,
    79, 129, 137, 7, 35, 100, 131, 19, 33, 46, 47, 8, 29, 146, 63, 86, 71, 45, 142, 9, 77, 82, 64,
    133, 10, 66, 39, 11, 103, 12, 75, 134, 13, 62, 53, 109, 117, 23, 108, 92, 67, 93, 43, 121, 14,
    15, 68, 16, 76, 87, 118, 17, 78, 143, 114, 110, 69, 21, 111, 95, 105, 42, 37, 24, 56, 44, 101,
    83, 94, 106, 147, 113, 18, 51, 130, 144, 60, 70, 31, 72, 27, 28,
};

}  // namespace

std::uint8_t GenreCodeForDisplayPosition(std::uint8_t position) {
  return position < kDisplayGenreCount ? kDisplayToCode[position] : id3v1::kNoGenre;
}

int DisplayPositionForGenreCode(std::uint8_t code) {
  for (std::size_t i = 1; i < kDisplayGenreCount; ++i)
    if (kDisplayToCode[i] == code) return static_cast<int>(i);
  return -1;
}

std::u16string LeftCharacters(std::u16string_view text, std::size_t count) {
  std::size_t i = 0;
  for (std::size_t n = 0; n < count && i < text.size(); ++n) {
    const bool pair = text[i] >= 0xD800 && text[i] < 0xDC00 && i + 1 < text.size() &&
                      text[i + 1] >= 0xDC00 && text[i + 1] < 0xE000;
    i += pair ? 2 : 1;
  }
  return std::u16string(text.substr(0, i));
}

void Tid3tag::SetTitle(std::u16string_view text) { Title_ = LeftCharacters(text, id3v1::kTextLength); }
void Tid3tag::SetArtist(std::u16string_view text) { Artist_ = LeftCharacters(text, id3v1::kTextLength); }
void Tid3tag::SetAlbum(std::u16string_view text) { Album_ = LeftCharacters(text, id3v1::kTextLength); }
void Tid3tag::SetYear(std::u16string_view text) { Year_ = LeftCharacters(text, id3v1::kYearLength); }
void Tid3tag::SetComment(std::u16string_view text) { Comment_ = LeftCharacters(text, id3v1::kTextLength); }

void Tid3tag::SetTrack(std::uint8_t track) {
  Track_ = track;
  HasTrack_ = track != 0;
}

}  // namespace melvanto
