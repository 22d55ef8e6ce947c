// Output names from tags: what a pattern accepts, and that whatever a tag holds, every level
// of the name is one safe file name below the output folder.

#include "name_pattern.h"

#include <gtest/gtest.h>

#include <string>

#include "text_codec.h"

namespace melvanto::testing {
namespace {

TNamePattern Pattern(const std::string& text, bool portable = false) {
  std::string problem;
  auto pattern = ParseNamePattern(text, problem);
  EXPECT_TRUE(pattern) << text << ": " << problem;
  TNamePattern result = pattern.value_or(TNamePattern{});
  result.Portable = portable;
  return result;
}

std::string Problem(const std::string& text) {
  std::string problem;
  EXPECT_FALSE(ParseNamePattern(text, problem)) << text;
  return problem;
}

TTagInfo Tags(const std::u16string& track, int genre = -1) {
  TTagInfo tags;
  tags.Track = track;
  tags.Genre = genre;
  return tags;
}

TNameFields Fields() {
  TTagInfo tags;
  tags.Artist = u"Artist";
  tags.Album = u"Album";
  tags.Title = u"Title";
  tags.Track = u"3/12";
  tags.Year = u"1999";
  tags.Genre = GenreIndex(u"Jazz");
  return NameFieldsOf(tags, "/music/in/take 1.final.wav");
}

std::string Expanded(const TNamePattern& pattern, const TNameFields& fields) {
  return ExpandNamePattern(pattern, fields).value_or("<missing>");
}

TEST(NamePattern, EveryFieldAndTheTrackPadded) {
  const TNameFields fields = Fields();
  EXPECT_EQ(Expanded(Pattern("{artist}/{album}/{track:02} - {title}"), fields), "Artist/Album/03 - Title");
  EXPECT_EQ(Expanded(Pattern("{year} {genre} {track} {name}"), fields), "1999 Jazz 3 take 1.final");
  EXPECT_EQ(Expanded(Pattern("{track:03}"), fields), "003");
  // A wider number than the padding is kept whole; leading zeros are the padding's to give.
  TNameFields wide = fields;
  wide.Track = NameFieldsOf(Tags(u"0112"), "x").Track;
  EXPECT_EQ(wide.Track, "112");
  EXPECT_EQ(Expanded(Pattern("{track:02}"), wide), "112");
  EXPECT_EQ(Expanded(Pattern("no fields at all"), fields), "no fields at all");
}

TEST(NamePattern, AnEmptyFieldLeavesTheNameToTheCaller) {
  const TNameFields fields = Fields();
  for (const auto empty :
       {&TNameFields::Artist, &TNameFields::Title, &TNameFields::Track, &TNameFields::Genre}) {
    TNameFields lacking = fields;
    lacking.*empty = "";
    EXPECT_FALSE(ExpandNamePattern(Pattern("{artist}/{track} {title} {genre}"), lacking));
  }
  // Fields the pattern does not use may be missing.
  TNameFields noAlbum = fields;
  noAlbum.Album.clear();
  EXPECT_EQ(Expanded(Pattern("{artist}/{title}"), noAlbum), "Artist/Title");
  // A track with no leading number, and the empty entry of the genre list, are missing too.
  const TNameFields none = NameFieldsOf(Tags(u"side A", 0), "a.wav");
  EXPECT_EQ(none.Track, "");
  EXPECT_EQ(none.Genre, "");
}

TEST(NamePattern, ValuesNeverMakeFoldersNorLeaveTheOutputFolder) {
  TNameFields fields = Fields();
  fields.Artist = "AC/DC";
  fields.Album = "..";
  fields.Title = std::string("a\tb\nc") + '\0' + "d\x7f" + "e\xc2\x85" + "f";
  EXPECT_EQ(Expanded(Pattern("{artist}/{album}/{title}"), fields), "AC_DC/_/a_b_c_d_e_f");
  fields.Album = ".";
  EXPECT_EQ(Expanded(Pattern("{album}"), fields), "_");
  // A level of the pattern's own that means "here" or "up" is no way out either.
  EXPECT_EQ(Expanded(Pattern("../{title}"), Fields()), "_/Title");
  // Nor a hidden name, which a later search of the folder would pass by; a dot inside stays.
  fields.Artist = ".38 Special";
  fields.Title = "..Title";
  EXPECT_EQ(Expanded(Pattern("{artist}/{title}/x .{album}"), fields), "_38 Special/_.Title/x ._");
  EXPECT_EQ(Expanded(Pattern(".{artist}", true), fields), "_.38 Special");
  // Not portable: what only FAT and Windows refuse is kept, and so is UTF-8.
  fields = Fields();
  fields.Title = "Why? <Live>: \"A|B\\C*\" Zoë. ";
  EXPECT_EQ(Expanded(Pattern("{title}"), fields), fields.Title);
  EXPECT_EQ(Expanded(Pattern("{title}", true), fields), "Why_ _Live__ _A_B_C__ Zoë__");
  // Trailing dots and spaces go from folder names too, the pattern's own text included.
  fields.Artist = "Mr. ";
  EXPECT_EQ(Expanded(Pattern("{artist}/x.", true), fields), "Mr__/x_");
}

// Long tags make long names: each level is cut to leave room for the extension and the part
// file's additions within the 255 bytes of a name, never inside a character.
TEST(NamePattern, LongValuesAreCutBetweenCharacters) {
  TNameFields fields = Fields();
  fields.Artist = std::string(150, 'a');
  fields.Title.clear();
  for (int i = 0; i < 150; ++i) fields.Title += "é";
  const std::string path = Expanded(Pattern("{artist}/{track:02} {title}."), fields);
  const auto slash = path.find('/');
  EXPECT_EQ(path.substr(0, slash), fields.Artist);
  const std::string last = path.substr(slash + 1);
  EXPECT_EQ(last.size(), 199u);
  EXPECT_EQ(last.substr(last.size() - 2), "é");
  // What the cut leaves at the end is still no name FAT refuses.
  EXPECT_EQ(Expanded(Pattern("{name}", true), NameFieldsOf(TTagInfo{}, std::string(199, 'x') + " x.wav")),
            std::string(199, 'x') + "_");
}

TEST(NamePattern, UnknownFieldsAndUnclosedBracesAreRefused) {
  EXPECT_NE(Problem("{artist}/{titel}").find("unknown field {titel}"), std::string::npos);
  EXPECT_NE(Problem("{Title}").find("unknown field {Title}"), std::string::npos);
  EXPECT_NE(Problem("{track:0}").find("unknown field {track:0}"), std::string::npos);
  EXPECT_NE(Problem("{title:02}").find("unknown field {title:02}"), std::string::npos);
  EXPECT_NE(Problem("{artist} - {title").find("unclosed '{'"), std::string::npos);
  for (const char* empty : {"{artist}/", "/{title}", "a//b", ""})
    EXPECT_NE(Problem(empty).find("empty folder name"), std::string::npos) << empty;
}

}  // namespace
}  // namespace melvanto::testing
