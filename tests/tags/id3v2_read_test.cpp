// ID3v2 tags as other taggers write them, built byte by byte: unsynchronisation, extended
// headers, frame flags, several values, comments and pictures. Each case is read by ours
// and, on the same file, by TagLib's C++ API, which nobody here wrote.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <taglib/attachedpictureframe.h>
#include <taglib/commentsframe.h>
#include <taglib/id3v2tag.h>
#include <taglib/mpegfile.h>
#include <taglib/textidentificationframe.h>
#include <unistd.h>

#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

#include "id3_bytes.h"
#include "tags.h"
#include "temp_dir.h"
#include "text_codec.h"
#include "tools.h"

namespace melvanto::testing {
namespace {

using namespace id3_bytes;

// A tag with its header flags.
Bytes FlaggedTag(int version, std::uint8_t flags, const Bytes& body) { return Tag(version, body, 0, flags); }

// A picture's bytes, with the 0xFF runs an image has.
const Bytes kImage = B("\x89PNG\r\n\x1a\n") + Bytes{0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0xFF, 0x00, 0x10, 0xFF};
const std::u16string kBomTitle = u"\u00ffes \u00e9t\u00e9";  // 0xFF 0x00 in UTF-16LE: needs unsynchronising

struct Expected {
  std::u16string Title, Artist, Comment;
  std::string Language, Year;
  std::vector<TTagPicture> Pictures;
};

struct Case {
  const char* What;
  Bytes Tag;
  Expected Want;
  bool TagLibReadsIt = true;
};

std::vector<Case> Cases() {
  const Bytes title = Frame(3, "TIT2", Bytes{1} + Utf16String(kBomTitle));
  const Bytes artist = Frame(3, "TPE1", Bytes{0} + B("Plain"));
  const Bytes titleData = Bytes{1} + Utf16String(kBomTitle);
  const TTagPicture png{"image/png", 3, u"Cover", kImage};
  return {
      {"2.3, whole tag unsynchronised, UTF-16 title with a byte-order mark",
       FlaggedTag(3, 0x80, Unsync(title + artist + Frame(3, "APIC", Bytes{0} + B("image/png") + Bytes{0, 3} + B("Cover") + Bytes{0} + kImage))),
       {kBomTitle, u"Plain", u"", "", "", {png}}},
      {"2.4, one frame unsynchronised with a data length indicator",
       FlaggedTag(4, 0, Frame(4, "TIT2", Syncsafe(static_cast<std::uint32_t>(titleData.size())) + Unsync(titleData), 0x03) +
                     Frame(4, "TPE1", Bytes{3} + B("Plain"))),
       {kBomTitle, u"Plain", u"", "", "", {}}},
      {"2.3 extended header (with its CRC) before the frames",
       FlaggedTag(3, 0x40, Be32(10) + Bytes{0x80, 0, 0, 0, 0, 0} + Be32(0xDEADBEEF) + title + artist),
       {kBomTitle, u"Plain", u"", "", "", {}}, false},  // TagLib 1.13 counts the size 2.4's way; mutagen agrees with us
      {"2.4 extended header, then several artists in UTF-16 and a whole date",
       FlaggedTag(4, 0x40, Syncsafe(6) + Bytes{1, 0} +
                        Frame(4, "TPE1", Bytes{1} + Utf16String(u"\u0416anna") + Utf16String(u"Bob") + Utf16String(u"")) +
                        Frame(4, "TDRC", Bytes{0} + B("2003-04-05"))),
       {u"", u"\u0416anna; Bob", u"", "", "2003-04-05", {}}},
      {"2.4 several UTF-8 values",
       FlaggedTag(4, 0, Frame(4, "TPE1", Bytes{3} + B(std::string_view("A\0B\xc3\xa9\0", 6)))),
       {u"", u"A; B\u00e9", u"", "", "", {}}},
      {"2.3 comments: the one without a description wins, its language kept",
       FlaggedTag(3, 0, Frame(3, "COMM", Bytes{0} + B("eng") + B("iTunNORM") + Bytes{0} + B(" 0000 0001")) +
                     Frame(3, "COMM", Bytes{1} + B("deu") + Utf16String(u"Notiz") + Utf16String(u"described")) +
                     Frame(3, "COMM", Bytes{1} + B("deu") + Utf16String(u"") + Utf16String(u"Gr\u00fc\u00dfe, \u65e5\u672c \u2014 a comment longer than thirty letters"))),
       {u"", u"", u"Gr\u00fc\u00dfe, \u65e5\u672c \u2014 a comment longer than thirty letters", "deu", "", {}}},
      {"2.3 year and day joined as one date; a comment with a description only",
       FlaggedTag(3, 0, Frame(3, "TYER", Bytes{0} + B("1999")) + Frame(3, "TDAT", Bytes{0} + B("3112")) +
                     Frame(3, "COMM", Bytes{0} + B("fra") + B("note") + Bytes{0} + B("texte"))),
       {u"", u"", u"texte", "fra", "1999-12-31", {}}, false},  // TagLib keeps the day apart
      {"2.4 APIC with a UTF-8 description; a linked picture is no picture",
       FlaggedTag(4, 0, Frame(4, "APIC", Bytes{3} + B("-->") + Bytes{0, 3, 0} + B("http://x/y.png")) +
                     Frame(4, "APIC", Bytes{3} + B("image/jpeg") + Bytes{0, 4} + B("R\xc3\xbc" "ck") + Bytes{0} + kImage)),
       {u"", u"", u"", "", "", {{"image/jpeg", 4, u"R\u00fcck", kImage}}}},
      {"2.4 frame size written as a plain number (not syncsafe)",
       FlaggedTag(4, 0, B("TIT2") + Be32(201) + Bytes{0, 0} + Bytes{0} + B(std::string(200, 'x')) + Frame(4, "TPE1", Bytes{0} + B("after"))),
       {std::u16string(200, u'x'), u"after", u"", "", "", {}}},
  };
}

std::u16string Wide(const TagLib::String& s) { return Utf8ToWide(s.to8Bit(true)); }

std::u16string TagLibText(TagLib::ID3v2::Tag& tag, const char* id) {
  const auto& frames = tag.frameListMap()[id];
  if (frames.isEmpty()) return {};
  const auto* text = dynamic_cast<TagLib::ID3v2::TextIdentificationFrame*>(frames.front());
  std::u16string joined;
  for (const auto& value : text->fieldList()) {
    if (value.isEmpty()) continue;
    if (!joined.empty()) joined += u"; ";
    joined += Wide(value);
  }
  return joined;
}

TEST(Id3v2ReadTest, TagsAsTaggersWriteThemReadAsTagLibReadsThem) {
  MELVANTO_REQUIRE_TOOL(HaveMp3Encoder(), "ffmpeg with libmp3lame");
  TempDir dir;
  const std::string audioPath = (dir / "audio.mp3").string();
  ASSERT_TRUE(Shell("ffmpeg -nostdin -v error -y -f lavfi -i sine=duration=0.2 -c:a libmp3lame -id3v2_version 0 "
                    "-write_xing 0 '" + audioPath + "'"));
  const Bytes audio = dir.Contents("audio.mp3");
  for (const Case& c : Cases()) {
    SCOPED_TRACE(c.What);
    const std::string path = (dir / "case.mp3").string();
    const Bytes file = c.Tag + audio;
    std::ofstream(path, std::ios::binary | std::ios::trunc).write(reinterpret_cast<const char*>(file.data()), file.size());

    TId3v2Tags ours;
    {
      const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
      ASSERT_GE(fd, 0);
      EXPECT_TRUE(ours.ReadFromFile(fd));
      EXPECT_EQ(::lseek(fd, 0, SEEK_CUR), static_cast<off_t>(c.Tag.size()));
      ::close(fd);
    }
    EXPECT_EQ(ours.Title(), c.Want.Title);
    EXPECT_EQ(ours.Artist(), c.Want.Artist);
    EXPECT_EQ(ours.Comment(), c.Want.Comment);
    EXPECT_EQ(ours.CommentLanguage(), c.Want.Language);
    EXPECT_EQ(ours.Year(), c.Want.Year);
    EXPECT_EQ(ours.Pictures(), c.Want.Pictures);
    if (!c.TagLibReadsIt) continue;

    TagLib::MPEG::File other(path.c_str());
    TagLib::ID3v2::Tag* tag = other.ID3v2Tag();
    ASSERT_NE(tag, nullptr);
    EXPECT_EQ(TagLibText(*tag, "TIT2"), ours.Title());
    EXPECT_EQ(TagLibText(*tag, "TPE1"), ours.Artist());
    EXPECT_EQ(TagLibText(*tag, "TDRC"), Latin1ToWide(ours.Year()));
    EXPECT_EQ(Wide(tag->comment()), ours.Comment());
    std::vector<TTagPicture> theirs;
    for (auto* frame : tag->frameListMap()["APIC"]) {
      const auto* apic = dynamic_cast<TagLib::ID3v2::AttachedPictureFrame*>(frame);
      const TagLib::ByteVector data = apic->picture();
      if (data.isEmpty() || apic->mimeType() == "-->") continue;
      theirs.push_back({apic->mimeType().to8Bit(), static_cast<std::uint8_t>(apic->type()), Wide(apic->description()),
                        Bytes(data.begin(), data.end())});
    }
    EXPECT_EQ(theirs, ours.Pictures());
  }
}

// Version 2.2: a picture with a three-letter format, a comment, a whole-tag
// unsynchronisation; and a compressed 2.2 tag, which nothing can read, gives no values.
TEST(Id3v2ReadTest, Version22PicturesCommentsAndUnsynchronisation) {
  TempDir dir;
  const Bytes frames = Frame(2, "TT2", Bytes{1} + Utf16String(kBomTitle)) + Frame(2, "COM", Bytes{0} + B("eng") + Bytes{0} + B("old")) +
                       Frame(2, "PIC", Bytes{0} + B("JPG") + Bytes{3} + B("c") + Bytes{0} + kImage);
  for (const std::uint8_t flags : {0x80, 0x40}) {
    SCOPED_TRACE(int(flags));
    const Bytes file = FlaggedTag(2, flags, Unsync(frames)) + B("audio");
    std::ofstream((dir / "v22.mp3"), std::ios::binary).write(reinterpret_cast<const char*>(file.data()), file.size());
    const int fd = ::open((dir / "v22.mp3").c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    TId3v2Tags tags;
    EXPECT_TRUE(tags.ReadFromFile(fd));
    EXPECT_EQ(::lseek(fd, 0, SEEK_CUR), static_cast<off_t>(file.size() - 5));
    ::close(fd);
    if (flags == 0x40) {
      EXPECT_TRUE(tags.Empty());
      continue;
    }
    EXPECT_EQ(tags.Title(), kBomTitle);
    EXPECT_EQ(tags.Comment(), u"old");
    EXPECT_EQ(tags.Pictures(), (std::vector<TTagPicture>{{"image/jpeg", 3, u"c", kImage}}));
  }
}

// Genres as taggers store them: by ID3v1 number, bracketed in 2.3, bare in 2.4, with a
// refinement, or as plain text.
TEST(Id3v2ReadTest, GenreNumbersBecomeNames) {
  TempDir dir;
  const std::pair<Bytes, std::u16string> cases[] = {
      {FlaggedTag(3, 0, Frame(3, "TCON", Bytes{0} + B("(17)"))), u"Rock"},
      {FlaggedTag(3, 0, Frame(3, "TCON", Bytes{0} + B("(17)Heavy Rock"))), u"Heavy Rock"},
      {FlaggedTag(3, 0, Frame(3, "TCON", Bytes{0} + B("(RX)"))), u"Remix"},
      {FlaggedTag(4, 0, Frame(4, "TCON", Bytes{0} + B(std::string_view("8\0Synthpop", 10)))), u"Jazz; Synthpop"},
      {FlaggedTag(3, 0, Frame(3, "TCON", Bytes{0} + B("(999)"))), u"(999)"},
      {FlaggedTag(3, 0, Frame(3, "TCON", Bytes{0} + B("1984 Hits"))), u"1984 Hits"},
      {FlaggedTag(3, 0, Frame(3, "TCON", Bytes{0} + B("(12"))), u"(12"},
  };
  for (const auto& [tag, genre] : cases) {
    std::ofstream((dir / "g.mp3"), std::ios::binary | std::ios::trunc).write(reinterpret_cast<const char*>(tag.data()), tag.size());
    const int fd = ::open((dir / "g.mp3").c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    TId3v2Tags tags;
    EXPECT_TRUE(tags.ReadFromFile(fd));
    ::close(fd);
    EXPECT_EQ(tags.Genre(), genre);
  }
}

// Hostile forms of the new parts: an extended header longer than the tag, frame flags
// whose extra bytes do not fit, a comment or picture cut short.
TEST(Id3v2ReadTest, DamagedPartsAreSkippedNotTrusted) {
  TempDir dir;
  const Bytes good = Frame(3, "TPE1", Bytes{0} + B("kept"));
  struct Damaged {
    const char* What;
    Bytes Tag;
    std::u16string Artist;
  } cases[] = {
      {"extended header past the tag", FlaggedTag(3, 0x40, Be32(0xFFFFFFF0) + good), u""},
      {"2.4 extended header past the tag", FlaggedTag(4, 0x40, Syncsafe(0x0FFFFFFF) + Frame(4, "TPE1", Bytes{0} + B("x"))), u""},
      {"data length indicator longer than the frame", FlaggedTag(4, 0, Frame(4, "TIT2", Bytes{0, 0}, 0x01) + Frame(4, "TPE1", Bytes{0} + B("kept"))), u"kept"},
      {"2.4 compressed frame skipped", FlaggedTag(4, 0, Frame(4, "TIT2", Bytes{0, 0, 0, 9, 3} + B("zipped"), 0x09) + Frame(4, "TPE1", Bytes{0} + B("kept"))), u"kept"},
      {"compressed and encrypted frames skipped", FlaggedTag(3, 0, Frame(3, "TIT2", Bytes{3} + B("zipped"), 0x80) + Frame(3, "TIT2", Bytes{3} + B("secret"), 0x40) + good), u"kept"},
      {"comment without its language", FlaggedTag(3, 0, Frame(3, "COMM", Bytes{0, 'e'}) + good), u"kept"},
      {"picture without data", FlaggedTag(3, 0, Frame(3, "APIC", Bytes{0} + B("image/png") + Bytes{0, 3}) + good), u"kept"},
      {"unsynchronised tag ending on 0xFF", FlaggedTag(3, 0x80, good + Bytes{0xFF}), u"kept"},
  };
  for (const Damaged& c : cases) {
    SCOPED_TRACE(c.What);
    std::ofstream((dir / "d.mp3"), std::ios::binary | std::ios::trunc).write(reinterpret_cast<const char*>(c.Tag.data()), c.Tag.size());
    const int fd = ::open((dir / "d.mp3").c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    TId3v2Tags tags;
    EXPECT_TRUE(tags.ReadFromFile(fd));
    ::close(fd);
    EXPECT_EQ(tags.Artist(), c.Artist);
    EXPECT_TRUE(tags.Title().empty());
    EXPECT_TRUE(tags.Pictures().empty());
  }
}

}  // namespace
}  // namespace melvanto::testing
