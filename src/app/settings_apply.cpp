// Turning the settings and the batch's tag values into output properties.
#include <array>

#include "conversion_mode.h"
#include "id3.h"
#include "settings.h"
#include "text_codec.h"

namespace melvanto {

TOptionsSetting OptionsSetting;
TTagInfo TagInfo;

TMP3BitRate MP3BitRateFromKbps(std::int32_t kbps) {
  static constexpr std::array<std::pair<std::int32_t, TMP3BitRate>, 15> kRates = {{
      {32, TMP3BitRate::mbr32},
      {40, TMP3BitRate::mbr40},
      {48, TMP3BitRate::mbr48},
      {56, TMP3BitRate::mbr56},
      {64, TMP3BitRate::mbr64},
      {80, TMP3BitRate::mbr80},
      {96, TMP3BitRate::mbr96},
      {112, TMP3BitRate::mbr112},
      {128, TMP3BitRate::mbr128},
      {144, TMP3BitRate::mbr144},
      {160, TMP3BitRate::mbr160},
      {192, TMP3BitRate::mbr192},
      {224, TMP3BitRate::mbr224},
      {256, TMP3BitRate::mbr256},
      {320, TMP3BitRate::mbr320},
  }};
  for (const auto& [value, rate] : kRates)
    if (value == kbps) return rate;
  return TMP3BitRate::mbrAuto;
}

void ApplyMP3Settings(TMP3Out& output) {
  const TOptionsSetting& s = OptionsSetting;
  // CPU 3 gives 1 ms, below the worker's 5 ms threshold: no pause at all. Worked out in 64
  // bits, since a hand-edited CPU may be any 32-bit value; a negative delay is left out like
  // one above 100, which the output ignores.
  const std::int64_t delay = 16 - 5 * static_cast<std::int64_t>(s.CPU);
  if (delay >= 0 && delay <= 100) output.SetDelay(static_cast<std::uint32_t>(delay));
  output.SetEnableVBR(s.IsSelectVBR);
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

void ApplyWMASettings(TWMAOut& output) {
  const TOptionsSetting& s = OptionsSetting;
  output.SetVBR(s.VBR);
  output.SetCodecIndex(s.CodecIndex);
  output.SetFormatIndex(s.FormatIndex);
  TId3v2Tags& tags = *output.Id3v2Tags();
  if (tags.Title().empty()) tags.SetTitle(Utf8ToWide(NameWithoutExtension(output.FileName())));
  if (!s.CommonOptions.IsShowTagEditor) return;
  const TTagInfo& t = TagInfo;
  if (!t.Title.empty()) tags.SetTitle(t.Title);
  if (!t.Artist.empty()) tags.SetArtist(t.Artist);
  if (!t.Album.empty()) tags.SetAlbum(t.Album);
  if (!t.Year.empty()) tags.SetYear(WideToLatin1(t.Year));
  if (t.Genre >= 0 && t.Genre < static_cast<std::int32_t>(kDisplayGenreCount) &&
      !kDisplayGenres[static_cast<std::size_t>(t.Genre)].empty())
    tags.SetGenre(Latin1ToWide(std::string(kDisplayGenres[static_cast<std::size_t>(t.Genre)])));
  if (!t.Track.empty()) tags.SetTrack(WideToLatin1(t.Track));
  if (!t.Comment.empty()) tags.SetComment(t.Comment);
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
