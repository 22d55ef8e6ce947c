// Turning the settings and the batch's tag values into output properties.
#include "settings_apply.h"

#include <array>

#include "conversion_mode.h"
#include "id3.h"
#include "text_codec.h"

namespace melvanto {

namespace {

std::uint8_t GenreCodeOf(std::int32_t position) {
  if (position < 0 || position >= static_cast<std::int32_t>(kDisplayGenreCount)) return id3v1::kNoGenre;
  return GenreCodeForDisplayPosition(static_cast<std::uint8_t>(position));
}

// The digits a text starts with, at most `most` of them.
std::u16string LeadingNumber(std::u16string_view text, std::size_t most) {
  std::size_t digits = 0;
  while (digits < text.size() && digits < most && text[digits] >= u'0' && text[digits] <= u'9') ++digits;
  return std::u16string(text.substr(0, digits));
}

// An ID3v1 track number: 0 (none) unless the text starts with a number the byte holds.
std::uint8_t TrackNumberOf(std::u16string_view text) {
  const auto n = ParseInteger(LeadingNumber(TrimControl(text), 9));
  return n && *n > 0 && *n <= 255 ? static_cast<std::uint8_t>(*n) : 0;
}

// The genre at position in the display list, spelt from the list asked for; empty for none.
std::u16string GenreName(std::int32_t position, TGenreSpelling spelling) {
  if (spelling == TGenreSpelling::gsId3v1Table) {
    const std::uint8_t code = GenreCodeOf(position);
    return code == id3v1::kNoGenre ? std::u16string() : Latin1ToWide(std::string(kId3v1Genres[code]));
  }
  if (position < 0 || position >= static_cast<std::int32_t>(kDisplayGenreCount)) return {};
  return Latin1ToWide(std::string(kDisplayGenres[static_cast<std::size_t>(position)]));
}

}  // namespace

TMP3BitRate MP3BitRateFromKbps(std::int32_t kbps) {
  static_assert(static_cast<std::size_t>(TMP3BitRate::mbr320) == kMP3BitRates.size(),
                "kMP3BitRates lists the bit rates in the order of TMP3BitRate, after mbrAuto");
  for (std::size_t i = 0; i < kMP3BitRates.size(); ++i)
    if (kMP3BitRates[i] == kbps) return static_cast<TMP3BitRate>(i + 1);
  return TMP3BitRate::mbrAuto;
}

void ApplyMP3Settings(TMP3Out& output, const TOptionsSetting& s) {
  // CPU 3 gives 1 ms, below the worker's 5 ms threshold: no pause at all. Worked out in 64
  // bits, since a hand-edited CPU may be any 32-bit value; a negative delay is left out like
  // one above 100, which the output ignores.
  const std::int64_t delay = 16 - 5 * static_cast<std::int64_t>(s.CPU);
  if (delay >= 0 && delay <= 100) output.SetDelay(static_cast<std::uint32_t>(delay));
  output.SetEnableVBR(s.IsSelectVBR);
  output.SetEnableBitReservoir(s.BitReservoir);
  if (s.StereoMode >= 0 && s.StereoMode <= 3) output.SetMode(static_cast<TMP3Mode>(s.StereoMode));
  if (!s.IsSelectVBR) {
    if (s.ConstantBitRate >= 0 && s.ConstantBitRate < static_cast<std::int32_t>(kConstantBitRates.size()))
      output.SetBitRate(MP3BitRateFromKbps(kConstantBitRates[static_cast<std::size_t>(s.ConstantBitRate)]));
  } else {
    output.SetBitRate(MP3BitRateFromKbps(s.BitRate));
  }
  output.SetMaximumBitrate(MP3BitRateFromKbps(s.MaxBitRate));
  if (s.VBRQuality >= 0 && s.VBRQuality <= 9) output.SetVBRQuality(static_cast<TMP3Quality>(s.VBRQuality));
}

void ApplyWMASettings(TWMAOut& output, const TOptionsSetting& s, const TTagInfo& tags) {
  output.SetVBR(s.VBR);
  output.SetCodecIndex(s.CodecIndex);
  output.SetFormatIndex(s.FormatIndex);
  // With the tag editor off the batch has no values of its own: only the title default.
  FillId3v2Tags(*output.Id3v2Tags(), s.CommonOptions.IsShowTagEditor ? tags : TTagInfo(), output.FileName(),
                TGenreSpelling::gsDisplayList);
}

void FillMp3Tags(TMP3Out& output, const TTagInfo& t) {
  TId3v2Tags& v2 = *output.Id3v2Tags();
  v2.Clear();
  // Other readers know the ID3v1 table's spellings, not the display list's.
  FillId3v2Tags(v2, t, output.FileName(), TGenreSpelling::gsId3v1Table);

  TId3v1Tags& v1 = *output.Id3v1Tags();
  v1.Clear();
  v1.SetTitle(WideToLatin1(v2.Title()));
  v1.SetArtist(WideToLatin1(t.Artist));
  v1.SetAlbum(WideToLatin1(t.Album));
  v1.SetComment(WideToLatin1(t.Comment));
  // The record holds a year and a track number: a date gives its year ("2003-04-05"), a
  // track with a total its number ("3/12"); the ID3v2 tag keeps both whole.
  if (const auto year = ParseInteger(LeadingNumber(TrimControl(t.Year), 4)); year && *year >= 0 && *year <= 0xFFFF)
    v1.SetYear(static_cast<std::uint16_t>(*year));
  v1.SetTrack(TrackNumberOf(t.Track));
  v1.SetGenreId(GenreCodeOf(t.Genre));
}

void FillId3v2Tags(TId3v2Tags& tags, const TTagInfo& t, const std::string& outputName,
                   TGenreSpelling spelling) {
  if (tags.Title().empty()) tags.SetTitle(Utf8ToWide(NameWithoutExtension(outputName)));
  if (!t.Title.empty()) tags.SetTitle(t.Title);
  if (!t.Artist.empty()) tags.SetArtist(t.Artist);
  if (!t.Album.empty()) tags.SetAlbum(t.Album);
  if (!t.Year.empty()) tags.SetYear(WideToLatin1(t.Year));
  if (const std::u16string genre = GenreName(t.Genre, spelling); !genre.empty()) tags.SetGenre(genre);
  if (!t.Track.empty()) tags.SetTrack(WideToLatin1(t.Track));
  if (!t.Comment.empty()) tags.SetComment(t.Comment);
}

void CarryUnshownTags(const TId3v2Tags& source, TId3v2Tags& output) {
  if (!source.Copyright().empty()) output.SetCopyright(source.Copyright());
  output.SetPictures(source.Pictures());
  output.SetCommentLanguage(source.CommentLanguage());
}

TTagInfo TagInfoOf(const TId3v2Tags& source) {
  TTagInfo tags;
  tags.Title = source.Title();
  tags.Artist = source.Artist();
  tags.Album = source.Album();
  tags.Year = Latin1ToWide(source.Year());
  tags.Genre = GenreIndex(source.Genre());
  tags.Track = Latin1ToWide(source.Track());
  tags.Comment = source.Comment();
  return tags;
}

std::int32_t GenreIndex(std::u16string_view name) {
  // The list is ASCII; a name with other characters matches none of it.
  std::string narrow;
  for (const char16_t c : name) {
    if (c > 0x7F) return -1;
    narrow.push_back(static_cast<char>(c));
  }
  for (std::size_t i = 0; i < kDisplayGenreCount; ++i)
    if (SameText(kDisplayGenres[i], narrow)) return static_cast<std::int32_t>(i);
  return -1;
}

}  // namespace melvanto
