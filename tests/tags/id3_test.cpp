// The ID3v1 genre tables, the display list's mapping to codes, and the application's record.

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <set>
#include <string>

#include "id3.h"

namespace melvanto::testing {
namespace {

std::string Lower(std::string_view s) {
  std::string out(s);
  std::transform(out.begin(), out.end(), out.begin(), [](unsigned char c) { return std::tolower(c); });
  return out;
}

TEST(GenreTables, SizesAndSpellingsThatOthersRelyOn) {
  EXPECT_EQ(kId3v1Genres[0], "Blues");
  EXPECT_EQ(kId3v1Genres[12], "Other");
  EXPECT_EQ(kId3v1Genres[17], "Rock");
  EXPECT_EQ(kId3v1Genres[123], "A Cappella");
  EXPECT_EQ(kId3v1Genres[147], "Synthpop");
  EXPECT_EQ(kDisplayGenres[0], "");
  EXPECT_EQ(kDisplayGenres[1], "A Capella");
  EXPECT_EQ(kDisplayGenres[148], "Vocal");
  // Every table name is distinct, so a name picks exactly one code.
  std::set<std::string> names;
  for (auto n : kId3v1Genres) names.insert(Lower(n));
  EXPECT_EQ(names.size(), kId3v1GenreCount);
}

// The fixed table must agree with the rule it was built by: equal names without case,
// six spellings mapped by hand, and every code reached exactly once.
TEST(GenreTables, DisplayMappingFollowsItsRuleAndIsOneToOne) {
  const std::array<std::pair<std::string_view, int>, 6> differing = {{
      {"A Capella", 123}, {"Christian Gangsta", 136}, {"Drum & Base", 127},
      {"Fast-Fusion", 84}, {"Folk/Rock", 81}, {"Gangsta Rap", 59}}};
  std::array<int, kId3v1GenreCount> hits{};
  for (std::size_t pos = 1; pos < kDisplayGenreCount; ++pos) {
    const std::uint8_t code = GenreCodeForDisplayPosition(static_cast<std::uint8_t>(pos));
    ASSERT_LT(code, kId3v1GenreCount) << kDisplayGenres[pos];
    ++hits[code];
    auto special = std::find_if(differing.begin(), differing.end(),
                                [&](auto& d) { return d.first == kDisplayGenres[pos]; });
    if (special != differing.end())
      EXPECT_EQ(code, special->second) << kDisplayGenres[pos];
    else
      EXPECT_EQ(Lower(kId3v1Genres[code]), Lower(kDisplayGenres[pos])) << pos;
    EXPECT_EQ(DisplayPositionForGenreCode(code), static_cast<int>(pos));
  }
  for (std::size_t code = 0; code < kId3v1GenreCount; ++code) EXPECT_EQ(hits[code], 1) << code;
}

TEST(GenreTables, PositionsWithoutAGenre) {
  EXPECT_EQ(GenreCodeForDisplayPosition(1), 123);
  EXPECT_EQ(GenreCodeForDisplayPosition(18), 0);
  EXPECT_EQ(GenreCodeForDisplayPosition(148), 28);
  EXPECT_EQ(GenreCodeForDisplayPosition(0), 255);
  EXPECT_EQ(GenreCodeForDisplayPosition(static_cast<std::uint8_t>(-1)), 255);
  EXPECT_EQ(GenreCodeForDisplayPosition(149), 255);
  EXPECT_EQ(DisplayPositionForGenreCode(255), -1);
}

TEST(Tid3tag, FieldsKeepTheRecordsLimits) {
  Tid3tag tag;
  EXPECT_FALSE(tag.HasTrack());
  EXPECT_EQ(tag.GenreCode, 255);
  EXPECT_EQ(tag.Track(), 0);

  tag.SetTitle(u"0123456789012345678901234567890123456789");
  EXPECT_EQ(tag.Title(), u"012345678901234567890123456789");
  tag.SetYear(u"20245");
  EXPECT_EQ(tag.Year(), u"2024");
  // A character outside the basic plane counts once and is never cut in half.
  std::u16string wide(29, u'a');
  wide += u"\U0001F3B5\U0001F3B5";
  tag.SetComment(wide);
  EXPECT_EQ(tag.Comment(), std::u16string(29, u'a') + u"\U0001F3B5");

  tag.SetTrack(7);
  EXPECT_TRUE(tag.HasTrack());
  tag.SetTrack(0);
  EXPECT_FALSE(tag.HasTrack());
  tag.SetTrack(static_cast<std::uint8_t>(256));
  EXPECT_EQ(tag.Track(), 0);
  EXPECT_FALSE(tag.HasTrack());
}

}  // namespace
}  // namespace melvanto::testing
