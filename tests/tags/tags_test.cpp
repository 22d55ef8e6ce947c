// Tag containers: the sorted name store, the change rules, conversions and copies by name.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "id3v1_record.h"
#include "tags.h"

namespace melvanto::testing {
namespace {

std::vector<std::string> Names(const TAuTags& tags) {
  std::vector<std::string> names;
  for (int i = 0; i < tags.Count(); ++i) names.push_back(tags.NameByIndex(i));
  return names;
}

TEST(TagContainers, NamesAreSortedWithoutCaseAndOutOfRangeIsEmpty) {
  TId3v1Tags v1;
  EXPECT_EQ(Names(v1), (std::vector<std::string>{"album", "artist", "comment", "genre", "title", "track", "year"}));
  EXPECT_EQ(v1.NameByIndex(-1), "");
  EXPECT_EQ(v1.NameByIndex(v1.Count()), "");

  TAPEv2Tags ape;
  EXPECT_EQ(ape.Count(), 25);
  TId3v2Tags v2;
  EXPECT_EQ(v2.Count(), 24);
  TCommonTags common;
  EXPECT_EQ(Names(common), (std::vector<std::string>{"Album", "Artist", "Genre", "Title", "Track", "Year"}));
  for (const TAuTags* tags : std::initializer_list<const TAuTags*>{&v1, &ape, &v2, &common}) {
    const auto names = Names(*tags);
    for (std::size_t i = 1; i < names.size(); ++i) {
      std::string a = names[i - 1], b = names[i];
      for (auto& c : a) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
      for (auto& c : b) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
      EXPECT_LT(a, b) << tags->ClassName();
    }
  }
}

TEST(TagContainers, InitialValuesOfEachKind) {
  TCommonTags common;
  EXPECT_TRUE(std::holds_alternative<std::string>(common.GetValue("Title")));  // empty, not null
  TId3v2Tags v2;
  EXPECT_TRUE(v2.NewFrameIds());
  EXPECT_TRUE(IsNull(v2.GetValue("TIT2")));
  TId3v1Tags v1;
  EXPECT_TRUE(v1.Empty());
  EXPECT_FALSE(v1.Changed());
  EXPECT_EQ(v1.GenreId(), 12);
  EXPECT_EQ(v1.Genre(), "Other");
  v1.Clear();
  EXPECT_EQ(v1.GenreId(), 0);
  EXPECT_EQ(v1.Genre(), "Blues");
  EXPECT_TRUE(v1.Empty());
  EXPECT_TRUE(v1.Changed());
}

TEST(TagContainers, SetValueChangesOnlyOnARealChange) {
  TId3v1Tags tags;
  tags.SetTitle("Song");
  EXPECT_FALSE(tags.Empty());
  EXPECT_TRUE(tags.Changed());

  TId3v1Tags same;
  same.SetGenreId(12);  // equal to the initial value
  EXPECT_TRUE(same.Empty());
  EXPECT_FALSE(same.Changed());
  same.SetValue("genre", std::string("12"));  // equal as a value, whatever its type
  EXPECT_FALSE(same.Changed());
  same.SetValue("no such name", std::string("x"));
  EXPECT_FALSE(same.Changed());

  TId3v2Tags v2;
  v2.SetTitle(u"");  // an empty string over null is a change
  EXPECT_TRUE(v2.Changed());
  EXPECT_FALSE(v2.Empty());
  // Names match without case.
  v2.SetValue("tit2", std::u16string(u"x"));
  EXPECT_EQ(v2.Title(), u"x");
}

TEST(TagContainers, Conversions) {
  TId3v2Tags tags;
  tags.SetTrack("12");
  EXPECT_EQ(tags.AsInteger("TRCK"), 12);
  tags.SetTrack("3/12");  // not a whole number
  EXPECT_EQ(tags.AsInteger("TRCK"), 0);
  tags.SetValue("TRCK", std::uint8_t{7});
  EXPECT_EQ(tags.Track(), "7");
  EXPECT_EQ(tags.AsInteger("unknown"), 0);
  EXPECT_EQ(tags.AsString("unknown"), "");

  // Wide to ANSI is Latin-1; what it cannot hold becomes "?".
  tags.SetTitle(u"Caf\u00e9 \u0416 \U0001F3B5");
  EXPECT_EQ(tags.AsString("TIT2"), "Caf\xe9 ? ?");
  tags.SetYear("\xe9t\xe9");
  EXPECT_EQ(tags.AsWideString("TYER"), u"\u00e9t\u00e9");

  TId3v1Tags v1;
  v1.SetValue("year", std::string("70000"));
  EXPECT_EQ(v1.Year(), static_cast<std::uint16_t>(70000));  // truncated to 16 bits
  v1.SetGenreId(200);
  EXPECT_EQ(v1.GenreId(), 12);
  EXPECT_EQ(v1.AsInteger("genre"), 200);  // stored unchanged

  TAPEv2Tags ape;
  ape.SetValue("Year", std::u16string(u"2024"));
  EXPECT_EQ(ape.Year(), "2024");
}

TEST(TagContainers, GenreByName) {
  TId3v1Tags tags;
  tags.SetGenre(" rock ");
  EXPECT_EQ(tags.GenreId(), 17);
  tags.SetGenre("\tHIP-HOP\n");
  EXPECT_EQ(tags.GenreId(), 7);
  tags.SetGenre("Not a genre");
  EXPECT_EQ(tags.GenreId(), 7);
}

TEST(TagContainers, ID3v2PropertiesFollowTheIdSet) {
  TId3v2Tags tags;
  tags.SetValue("TT2", std::u16string(u"old"));
  tags.SetTitle(u"new");
  EXPECT_EQ(tags.AsWideString("TIT2"), u"new");
  EXPECT_EQ(TId3v2Tags::FrameId(TId3v2Tags::tfLink, false), std::string("WXX"));
  EXPECT_EQ(TId3v2Tags::FrameId(TId3v2Tags::tfYear, true), std::string("TYER"));
}

TEST(TagContainers, AssignCopiesByNameAndKeepsTypes) {
  TId3v1Tags v1;
  v1.SetTitle("T");
  v1.SetArtist("A");
  v1.SetAlbum("B");
  v1.SetYear(1999);
  v1.SetTrack(4);
  v1.SetComment("dropped: the common set has no comment");

  TCommonTags common;
  common.Assign(&v1);
  EXPECT_EQ(common.Title(), u"T");
  EXPECT_EQ(common.Artist(), u"A");
  EXPECT_EQ(common.Album(), u"B");
  EXPECT_EQ(common.Year(), "1999");
  EXPECT_EQ(common.Track(), "4");
  EXPECT_EQ(common.Genre(), u"12");  // the genre code, stored as it was
  EXPECT_TRUE(std::holds_alternative<std::uint8_t>(common.GetValue("Genre")));

  // No common names: the destination is left cleared.
  TId3v2Tags v2;
  v2.SetTitle(u"x");
  common.Assign(&v2);
  EXPECT_TRUE(IsNull(common.GetValue("Title")));
  EXPECT_TRUE(common.Empty());
  v1.Assign(&v2);
  EXPECT_TRUE(v1.Empty());
  EXPECT_EQ(v1.GenreId(), 0);

  // Assigning to oneself keeps the values.
  v2.Assign(&v2);
  EXPECT_EQ(v2.Title(), u"x");

  // A copy is independent of its source.
  TId3v2Tags copy;
  copy.Assign(&v2);
  v2.Clear();
  EXPECT_EQ(copy.Title(), u"x");
}

class NotTags : public TPersistent {
 public:
  const char* ClassName() const override { return "TNotTags"; }
};

TEST(TagContainers, AssignFromOrToAnotherKindOfObjectFails) {
  TId3v1Tags tags;
  NotTags other;
  try {
    tags.Assign(&other);
    FAIL();
  } catch (const EConvertError& e) {
    EXPECT_STREQ(e.what(), "Cannot assign a TNotTags to a TId3v1Tags");
  }
  try {
    other.Assign(&tags);
    FAIL();
  } catch (const EConvertError& e) {
    EXPECT_STREQ(e.what(), "Cannot assign a TId3v1Tags to a TNotTags");
  }
  EXPECT_THROW(tags.Assign(nullptr), EConvertError);
}

TEST(TagContainers, CreateMakesAFreshContainerOfTheSameKind) {
  TId3v1Tags v1;
  v1.SetTitle("x");
  const TAuTags& base = v1;
  auto fresh = base.Create();
  EXPECT_STREQ(fresh->ClassName(), "TId3v1Tags");
  EXPECT_TRUE(fresh->Empty());
  EXPECT_EQ(fresh->AsInteger("genre"), 12);
}

// A genre copied in as text (the common set keeps names) becomes its code in the record,
// and no genre at all is "none" rather than code 0, "Blues".
TEST(Id3v1Record, GenreFromWhatTheContainerHolds) {
  TCommonTags common;
  TId3v1Tags v1;
  const std::pair<std::u16string, int> cases[] = {{u"Rock", 17}, {u" hip-hop ", 7}, {u"", 255}, {u"No such", 255}, {u"12", 12}};
  for (const auto& [genre, code] : cases) {
    common.SetGenre(genre);
    v1.Assign(&common);
    EXPECT_EQ(MakeId3v1Record(v1, TId3v1YearForm::AnyYear)[127], code);
  }
  v1.Clear();
  EXPECT_EQ(MakeId3v1Record(v1, TId3v1YearForm::AnyYear)[127], 255);
  v1.SetGenreId(200);  // kept as stored
  EXPECT_EQ(MakeId3v1Record(v1, TId3v1YearForm::AnyYear)[127], 200);
}

TEST(Id3v1Record, YearForms) {
  TId3v1Tags v1;
  for (const auto& [year, any, four] : {std::tuple{0, "0", ""}, std::tuple{999, "999", ""}, std::tuple{2024, "2024", "2024"},
                                        std::tuple{12345, "1234", ""}}) {
    v1.SetYear(static_cast<std::uint16_t>(year));
    const auto a = MakeId3v1Record(v1, TId3v1YearForm::AnyYear);
    const auto f = MakeId3v1Record(v1, TId3v1YearForm::FourDigitsOnly);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&a[93]), 4).c_str(), std::string(any)) << year;
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&f[93]), 4).c_str(), std::string(four)) << year;
  }
}

}  // namespace
}  // namespace melvanto::testing
