// The containers' own file access: the ID3v1 record at the end of a file, ID3v2 tags at
// its start, on real files.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "id3.h"
#include "id3_bytes.h"
#include "tags.h"
#include "temp_dir.h"

namespace melvanto::testing {
namespace {

using namespace id3_bytes;

class Fd {
 public:
  Fd(const std::filesystem::path& path, int flags) : fd_(::open(path.c_str(), flags | O_CLOEXEC, 0644)) {}
  ~Fd() {
    if (fd_ >= 0) ::close(fd_);
  }
  int get() const { return fd_; }
  off_t Pos() const { return ::lseek(fd_, 0, SEEK_CUR); }

 private:
  int fd_;
};

class TagFile : public ::testing::Test {
 protected:
  std::filesystem::path Put(const Bytes& bytes, const std::string& name = "f.mp3") {
    std::ofstream(dir / name, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    return dir / name;
  }
  Bytes Get(const std::string& name = "f.mp3") { return dir.Contents(name); }
  TempDir dir;
};

// ---- ID3v1 ----

Bytes Record(std::string_view title, std::uint8_t b125, std::uint8_t b126, std::uint8_t genre) {
  Bytes r(128, 0);
  std::memcpy(r.data(), "TAG", 3);
  std::memcpy(&r[3], title.data(), std::min<std::size_t>(30, title.size()));
  std::memcpy(&r[33], "Artist", 6);
  std::memcpy(&r[93], "1987", 4);
  std::memset(&r[97], 'c', 28);
  r[125] = b125;
  r[126] = b126;
  r[127] = genre;
  return r;
}

TEST_F(TagFile, Id3v1WriteLayout) {
  const auto path = Put(B("audio"));
  Fd fd(path, O_RDWR);
  TId3v1Tags tags;
  tags.SetTitle("Title");
  tags.SetYear(0);
  tags.SetTrack(5);
  tags.SetComment(std::string(30, 'x'));
  tags.SetGenreId(17);
  ASSERT_TRUE(tags.WriteToFile(fd.get(), true));
  Bytes f = Get();
  ASSERT_EQ(f.size(), 5u + 128);
  const std::uint8_t* r = &f[5];
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(r), 8), std::string("TAGTitle"));
  EXPECT_EQ(Bytes(r + 93, r + 97), (Bytes{'0', 0, 0, 0}));  // year 0 is "0"
  EXPECT_EQ(Bytes(r + 97, r + 125), Bytes(28, 'x'));
  EXPECT_EQ(r[125], 0);
  EXPECT_EQ(r[126], 5);
  EXPECT_EQ(r[127], 17);

  TId3v1Tags back;
  ASSERT_TRUE(back.ReadFromFile(fd.get()));
  EXPECT_EQ(back.Comment(), std::string(28, 'x'));
  EXPECT_EQ(back.Track(), 5);
  EXPECT_EQ(back.Title(), "Title");
  EXPECT_EQ(back.GenreId(), 17);

  // Without a track the comment takes all 30 bytes; a year is cut to four digits; a
  // second write appends a second record (nothing looks for the first).
  tags.SetTrack(0);
  tags.SetYear(12345);
  ASSERT_TRUE(tags.WriteToFile(fd.get(), false));
  f = Get();
  ASSERT_EQ(f.size(), 5u + 256);
  EXPECT_EQ(Bytes(&f[133 + 93], &f[133 + 97]), B("1234"));
  EXPECT_EQ(Bytes(&f[133 + 97], &f[133 + 127]), Bytes(30, 'x'));
}

TEST_F(TagFile, Id3v1TrackDetection) {
  struct Case {
    std::uint8_t b125, b126;
    int track;
    std::size_t commentLength;
  } cases[] = {{0, 7, 7, 28}, {0, 0, 0, 28 /* trailing zeros trimmed */}, {32, 9, 9, 28}, {32, 32, 0, 28}, {'c', 'c', 0, 30}};
  for (const Case& c : cases) {
    const auto path = Put(B("xx") + Record("Song", c.b125, c.b126, 3));
    Fd fd(path, O_RDONLY);
    TId3v1Tags tags;
    ASSERT_TRUE(tags.ReadFromFile(fd.get()));
    EXPECT_EQ(tags.Track(), c.track) << int(c.b125) << "/" << int(c.b126);
    EXPECT_EQ(tags.Comment().size(), c.commentLength) << int(c.b125) << "/" << int(c.b126);
    EXPECT_EQ(tags.Artist(), "Artist");
    EXPECT_EQ(tags.Year(), 1987);
  }
}

TEST_F(TagFile, Id3v1FieldsEndAtTheirFirstZeroAndKeepLatin1) {
  const auto path = Put(Record(std::string("  Caf\xe9\0junk", 11), 0, 1, 255));
  Fd fd(path, O_RDONLY);
  TId3v1Tags tags;
  ASSERT_TRUE(tags.ReadFromFile(fd.get()));
  EXPECT_EQ(tags.Title(), "Caf\xe9");
  EXPECT_EQ(tags.AsWideString("title"), u"Caf\u00e9");
  EXPECT_EQ(tags.GenreId(), 12);           // 255 reads as "Other"...
  EXPECT_EQ(tags.AsInteger("genre"), 255);  // ...but is kept, so writing it back keeps "none"
  Fd rw(dir / "copy.mp3", O_RDWR | O_CREAT);
  ASSERT_TRUE(tags.WriteToFile(rw.get(), false));
  EXPECT_EQ(Get("copy.mp3")[127], 255);
  // A cleared container stores no genre: the record says "none", not "Blues".
  tags.Clear();
  ASSERT_TRUE(tags.WriteToFile(rw.get(), false));
  EXPECT_EQ(Get("copy.mp3")[255], 255);
}

TEST_F(TagFile, Id3v1DetectAndFailures) {
  const auto path = Put(B("head") + Record("S", 0, 0, 1));
  Fd fd(path, O_RDONLY);
  TId3v1Tags tags;
  ASSERT_EQ(::lseek(fd.get(), 2, SEEK_SET), 2);
  EXPECT_TRUE(tags.Detect(fd.get()));
  EXPECT_EQ(fd.Pos(), 2);  // position restored
  EXPECT_TRUE(tags.Empty());

  // No record: false, values cleared, position restored by Detect.
  const auto plain = Put(Bytes(200, 'a'), "plain.mp3");
  Fd pfd(plain, O_RDONLY);
  tags.SetTitle("kept?");
  EXPECT_FALSE(tags.Detect(pfd.get()));
  EXPECT_FALSE(tags.ReadFromFile(pfd.get()));
  EXPECT_EQ(tags.Title(), "");
  // Shorter than a record.
  const auto tiny = Put(B("TAG"), "tiny.mp3");
  Fd tfd(tiny, O_RDONLY);
  EXPECT_FALSE(tags.Detect(tfd.get()));
  EXPECT_EQ(tfd.Pos(), 0);
  // An invalid handle: false, nothing cleared.
  tags.SetTitle("kept");
  EXPECT_FALSE(tags.ReadFromFile(kInvalidFileHandle));
  EXPECT_FALSE(tags.WriteToFile(kInvalidFileHandle, false));
  EXPECT_FALSE(tags.Detect(kInvalidFileHandle));
  EXPECT_EQ(tags.Title(), "kept");
  // A read-only file cannot take a record.
  EXPECT_FALSE(tags.WriteToFile(fd.get(), false));
}

// ---- ID3v2 reading ----

TEST_F(TagFile, Id3v2HeaderChecks) {
  struct Case {
    Bytes header;
    bool valid;
  } cases[] = {
      {B("ID3") + Bytes{3, 0, 0x10, 0, 0, 0, 0}, false},  // footer flag is 2.4 only
      {B("ID3") + Bytes{4, 0, 0x10, 0, 0, 0, 0}, true},
      {B("ID3") + Bytes{2, 0, 0x20, 0, 0, 0, 0}, false},
      {B("ID3") + Bytes{3, 0, 0x08, 0, 0, 0, 0}, false},
      {B("ID3") + Bytes{3, 0, 0xE0, 0, 0, 0, 0}, true},
      {B("ID3") + Bytes{2, 0, 0x80, 0, 0, 0, 0}, true},
      {B("ID3") + Bytes{5, 0, 0, 0, 0, 0, 0}, false},
      {B("ID3") + Bytes{3, 0xFF, 0, 0, 0, 0, 0}, false},
      {B("ID3") + Bytes{3, 0, 0, 0, 0, 0x80, 0}, false},
      {B("id3") + Bytes{3, 0, 0, 0, 0, 0, 0}, false},
  };
  for (const Case& c : cases) {
    const auto path = Put(c.header + Bytes(40, 0));
    Fd fd(path, O_RDONLY);
    TId3v2Tags tags;
    EXPECT_EQ(tags.Detect(fd.get()), c.valid) << int(c.header[3]) << " " << int(c.header[5]);
    EXPECT_EQ(fd.Pos(), 0);
    EXPECT_EQ(tags.ReadFromFile(fd.get()), c.valid);
  }
  {  // A file that ends inside the header.
    const auto path = Put(B("ID3") + Bytes{3, 0, 0, 0, 0});
    Fd fd(path, O_RDONLY);
    TId3v2Tags tags;
    EXPECT_FALSE(tags.Detect(fd.get()));
    EXPECT_FALSE(tags.ReadFromFile(fd.get()));
  }
  // The tag's length counts the footer: reading leaves the file right after it.
  const Bytes withFooter = Tag(4, Frame(4, "TIT2", Latin1("T")), 5, 0x10);
  const auto path = Put(withFooter + Bytes(10, 0) + B("audio"));
  Fd fd(path, O_RDONLY);
  TId3v2Tags tags;
  ASSERT_TRUE(tags.ReadFromFile(fd.get()));
  EXPECT_EQ(fd.Pos(), static_cast<off_t>(withFooter.size() + 10));
  EXPECT_EQ(tags.Title(), u"T");
}

TEST_F(TagFile, Id3v2Version2FixtureUsesThreeLetterIds) {
  const Bytes frames = Frame(2, "TT2", Latin1("Old title")) + Frame(2, "TP1", Utf16Le(u"\u0416uk", true)) +
                       Frame(2, "TYE", Latin1("1999")) + Frame(2, "TRK", Latin1("3")) +
                       Frame(2, "COM", Latin1("never read")) + Frame(2, "WXX", Bytes{0, 'd', 0} + B("http://x.example"));
  const auto path = Put(Tag(2, frames, 20) + B("audio"));
  Fd fd(path, O_RDONLY);
  TId3v2Tags tags;
  ASSERT_TRUE(tags.ReadFromFile(fd.get()));
  EXPECT_FALSE(tags.NewFrameIds());
  EXPECT_EQ(tags.Title(), u"Old title");
  EXPECT_EQ(tags.Artist(), u"\u0416uk");
  EXPECT_EQ(tags.Year(), "1999");
  EXPECT_EQ(tags.Track(), "3");
  EXPECT_EQ(tags.Comment(), u"");
  EXPECT_EQ(tags.Link(), u"http://x.example");
  EXPECT_TRUE(IsNull(tags.GetValue("TIT2")));

  // A copy keeps reading what it holds.
  TId3v2Tags copy;
  copy.Assign(&tags);
  EXPECT_FALSE(copy.NewFrameIds());
  EXPECT_EQ(copy.Title(), u"Old title");

  // Written out again, the values go under the four-letter ids of 2.4.
  Fd out(dir / "out.mp3", O_RDWR | O_CREAT);
  ASSERT_TRUE(tags.WriteToFile(out.get(), true));
  ASSERT_EQ(::lseek(out.get(), 0, SEEK_SET), 0);
  TId3v2Tags again;
  ASSERT_TRUE(again.ReadFromFile(out.get()));
  EXPECT_TRUE(again.NewFrameIds());
  EXPECT_EQ(again.Title(), u"Old title");
  EXPECT_EQ(again.Artist(), u"\u0416uk");
  EXPECT_EQ(again.Year(), "1999");

  // A later 2.3 tag switches the properties back to four-letter ids.
  const auto v3 = Put(Tag(3, Frame(3, "TIT2", Latin1("New"))), "v3.mp3");
  Fd fd3(v3, O_RDONLY);
  ASSERT_TRUE(tags.ReadFromFile(fd3.get()));
  EXPECT_TRUE(tags.NewFrameIds());
  EXPECT_EQ(tags.Title(), u"New");
  EXPECT_TRUE(IsNull(tags.GetValue("TT2")));
}

TEST_F(TagFile, Id3v2TextEncodings) {
  Bytes utf16be{1, 0xFE, 0xFF};
  for (char16_t c : std::u16string(u"B\u00e9")) utf16be = utf16be + Bytes{static_cast<std::uint8_t>(c >> 8), static_cast<std::uint8_t>(c)};
  const Bytes frames = Frame(3, "TIT2", Utf16Le(u"Le\u00e7on", true)) + Frame(3, "TPE1", Utf16Le(u"NoBom", false)) +
                       Frame(3, "TALB", utf16be + Bytes{0, 0}) + Frame(3, "TCON", Bytes{3} + B("\xe6\x97\xa5\xe6\x9c\xac")) +
                       Frame(3, "TCOM", Bytes{9} + B("unknown encoding")) + Frame(3, "TCOP", Latin1("\xa9 1990\0rest")) +
                       Frame(3, "TENC", Bytes{3} + B("bad \xff utf8"));
  const auto path = Put(Tag(3, frames, 4));
  Fd fd(path, O_RDONLY);
  TId3v2Tags tags;
  ASSERT_TRUE(tags.ReadFromFile(fd.get()));
  EXPECT_EQ(tags.Title(), u"Le\u00e7on");
  EXPECT_EQ(tags.Artist(), u"NoBom");
  EXPECT_EQ(tags.Album(), u"B\u00e9");
  EXPECT_EQ(tags.Genre(), u"\u65e5\u672c");
  EXPECT_TRUE(IsNull(tags.GetValue("TCOM")));
  EXPECT_EQ(tags.Copyright(), u"\u00a9 1990");
  EXPECT_EQ(tags.Encoder(), u"bad \ufffd utf8");
}

TEST_F(TagFile, Id3v2RecordingTimeIsTheYearOfA24Tag) {
  {  // kept whole: the date travels to the output
    const auto path = Put(Tag(4, Frame(4, "TDRC", Latin1("2024-05-01")) + Frame(4, "TIT2", Latin1("x"))));
    Fd fd(path, O_RDONLY);
    TId3v2Tags tags;
    ASSERT_TRUE(tags.ReadFromFile(fd.get()));
    EXPECT_EQ(tags.Year(), "2024-05-01");
  }
  {  // A year frame, where one is present, wins.
    const auto path = Put(Tag(4, Frame(4, "TDRC", Latin1("2024")) + Frame(4, "TYER", Latin1("1999"))));
    Fd fd(path, O_RDONLY);
    TId3v2Tags tags;
    ASSERT_TRUE(tags.ReadFromFile(fd.get()));
    EXPECT_EQ(tags.Year(), "1999");
  }
  {  // Not in a 2.3 tag, which has no such frame.
    const auto path = Put(Tag(3, Frame(3, "TDRC", Latin1("2024"))));
    Fd fd(path, O_RDONLY);
    TId3v2Tags tags;
    ASSERT_TRUE(tags.ReadFromFile(fd.get()));
    EXPECT_TRUE(IsNull(tags.GetValue("TYER")));
  }
}

// Sizes in a file are never trusted: frames that run past the tag, tags that run past
// the file and absurd sizes end the reading without reading outside either.
TEST_F(TagFile, Id3v2HostileSizes) {
  const Bytes good = Frame(3, "TIT2", Latin1("kept"));
  struct Case {
    const char* what;
    Bytes file;
    std::u16string title;
  } cases[] = {
      {"frame past the tag", Tag(3, good + B("TPE1") + Be32(0xFFFFFFF0) + Bytes{0, 0} + Latin1("x")), u"kept"},
      {"frame just past the tag", Tag(3, good + B("TPE1") + Be32(3) + Bytes{0, 0} + Latin1("x")), u"kept"},
      {"tag past the file", B("ID3") + Bytes{3, 0, 0} + Syncsafe(100000) + good, u""},
      {"zero-size frames are skipped", Tag(3, B("TPE1") + Be32(0) + Bytes{0, 0} + good), u"kept"},
      {"padding ends the frames", Tag(3, good, 30) + Frame(3, "TALB", Latin1("outside")), u"kept"},
      {"2.4 syncsafe frame size", Tag(4, B("TIT2") + Syncsafe(200) + Bytes{0, 0} + Latin1(std::string(199, 'a'))),
       std::u16string(199, u'a')},
  };
  for (const Case& c : cases) {
    const auto path = Put(c.file);
    Fd fd(path, O_RDONLY);
    TId3v2Tags tags;
    EXPECT_TRUE(tags.ReadFromFile(fd.get())) << c.what;
    EXPECT_EQ(tags.Title(), c.title) << c.what;
    EXPECT_TRUE(tags.Album().empty()) << c.what;
  }
}

TEST_F(TagFile, Id3v2ReadsATagAtTheCurrentPosition) {
  const auto path = Put(B("junk") + Tag(3, Frame(3, "TIT2", Latin1("mid")), 3) + B("rest"));
  Fd fd(path, O_RDONLY);
  ASSERT_EQ(::lseek(fd.get(), 4, SEEK_SET), 4);
  TId3v2Tags tags;
  ASSERT_TRUE(tags.ReadFromFile(fd.get()));
  EXPECT_EQ(tags.Title(), u"mid");
  EXPECT_EQ(fd.Pos(), static_cast<off_t>(4 + 10 + 14 + 3));
}

// ---- ID3v2 writing ----

TEST_F(TagFile, Id3v2WriteLayout) {
  const Bytes audio = B("\xff\xfb\x90\x00 audio bytes that must move intact");
  const auto path = Put(audio);
  Fd fd(path, O_RDWR);
  TId3v2Tags tags;
  tags.SetAlbum(u"");  // empty: no frame, and the frames after it are still written
  tags.SetArtist(u"Bj\u00f6rk \u0416");
  tags.SetTitle(std::u16string(200, u't'));  // a size that needs the syncsafe form
  tags.SetTrack("7");
  tags.SetYear("2001");
  tags.SetComment(u"written in English");
  tags.SetLink(u"https://quorvane.example/");
  ASSERT_TRUE(tags.WriteToFile(fd.get(), true));

  const Bytes f = Get();
  ASSERT_GE(f.size(), audio.size() + 10);
  const std::size_t tagLength = f.size() - audio.size();
  EXPECT_EQ(tagLength % 16, 0u);
  EXPECT_EQ(Bytes(f.begin() + static_cast<long>(tagLength), f.end()), audio);
  EXPECT_EQ(Bytes(f.begin(), f.begin() + 6), (B("ID3") + Bytes{4, 0, 0}));
  EXPECT_EQ(Bytes(f.begin() + 6, f.begin() + 10), Syncsafe(static_cast<std::uint32_t>(tagLength - 10)));

  const std::string artistUtf8 = "Bj\xc3\xb6rk \xd0\x96";
  const Bytes expected = Frame(4, "TPE1", Bytes{3} + B(artistUtf8)) +
                         Frame(4, "TIT2", Bytes{3} + B(std::string(200, 't'))) + Frame(4, "TRCK", Latin1("7")) +
                         Frame(4, "TDRC", Latin1("2001")) +
                         Frame(4, "COMM", Bytes{3} + B("eng") + Bytes{0} + B("written in English")) +
                         Frame(4, "WXXX", Bytes{0, 0} + B("https://quorvane.example/"));
  ASSERT_GE(tagLength, 10 + expected.size());
  EXPECT_EQ(Bytes(f.begin() + 10, f.begin() + 10 + static_cast<long>(expected.size())), expected);
  EXPECT_EQ(Bytes(f.begin() + 10 + static_cast<long>(expected.size()), f.begin() + static_cast<long>(tagLength)),
            Bytes(tagLength - 10 - expected.size(), 0));

  // And it reads back as written.
  ASSERT_EQ(::lseek(fd.get(), 0, SEEK_SET), 0);
  TId3v2Tags back;
  ASSERT_TRUE(back.ReadFromFile(fd.get()));
  EXPECT_EQ(back.Artist(), u"Bj\u00f6rk \u0416");
  EXPECT_EQ(back.Title(), std::u16string(200, u't'));
  EXPECT_EQ(back.Year(), "2001");
  EXPECT_EQ(back.Track(), "7");
  EXPECT_EQ(back.Link(), u"https://quorvane.example/");
  EXPECT_EQ(back.Comment(), u"written in English");
  EXPECT_EQ(back.CommentLanguage(), "eng");
  EXPECT_EQ(static_cast<std::size_t>(fd.Pos()), tagLength);
}

TEST_F(TagFile, Id3v2PaddingIsOneToSixteenBytes) {
  // One frame of 10 + 1 + 11 bytes: 22 + 10 = 32 is already a multiple of 16, so a whole
  // 16 bytes of padding follow; one byte more needs 15.
  for (const auto& [text, padding] : {std::pair{std::string(11, 'a'), 16u}, std::pair{std::string(12, 'a'), 15u}}) {
    const auto path = Put(B("x"));
    Fd fd(path, O_RDWR);
    TId3v2Tags tags;
    tags.SetTrack(text);
    ASSERT_TRUE(tags.WriteToFile(fd.get(), false));
    EXPECT_EQ(Get().size(), 1 + 10 + 11 + text.size() + padding);
  }
  // Nothing to write still makes a valid tag of padding alone, here in an empty file.
  const auto path = Put({});
  Fd fd(path, O_RDWR);
  TId3v2Tags empty;
  ASSERT_TRUE(empty.WriteToFile(fd.get(), true));
  EXPECT_EQ(Get(), (B("ID3") + Bytes{4, 0, 0, 0, 0, 0, 6} + Bytes(6, 0)));
}

TEST_F(TagFile, Id3v2UnicodeChoosesTheEncodingOfWideValuesOnly) {
  const auto path = Put(B("a"));
  Fd fd(path, O_RDWR);
  TId3v2Tags tags;
  tags.SetTitle(u"Caf\u00e9 \u65e5");
  ASSERT_TRUE(tags.WriteToFile(fd.get(), false));
  const Bytes f = Get();
  EXPECT_EQ(Bytes(f.begin() + 10, f.begin() + 27), Frame(4, "TIT2", Latin1("Caf\xe9 ?")));
}

TEST_F(TagFile, Id3v2FailedWriteLeavesTheFileAsItWas) {
  const Bytes audio = B("original content");
  const auto path = Put(audio);
  TId3v2Tags tags;
  tags.SetTitle(u"x");
  {
    Fd wo(path, O_WRONLY);  // can be lengthened but not mapped
    EXPECT_FALSE(tags.WriteToFile(wo.get(), true));
  }
  EXPECT_EQ(Get(), audio);
  {
    Fd ro(path, O_RDONLY);
    EXPECT_FALSE(tags.WriteToFile(ro.get(), true));
  }
  EXPECT_EQ(Get(), audio);
  EXPECT_FALSE(tags.WriteToFile(kInvalidFileHandle, true));
}

TEST_F(TagFile, Id3v2AnOldTagStaysBehindTheNewOne) {
  const Bytes old = Tag(3, Frame(3, "TIT2", Latin1("old")));
  const auto path = Put(old + B("audio"));
  Fd fd(path, O_RDWR);
  TId3v2Tags tags;
  tags.SetTitle(u"new");
  ASSERT_TRUE(tags.WriteToFile(fd.get(), true));
  ASSERT_EQ(::lseek(fd.get(), 0, SEEK_SET), 0);
  TId3v2Tags first, second;
  ASSERT_TRUE(first.ReadFromFile(fd.get()));
  ASSERT_TRUE(second.ReadFromFile(fd.get()));
  EXPECT_EQ(first.Title(), u"new");
  EXPECT_EQ(second.Title(), u"old");
}

TEST(Id3v2PicturesTest, TravelWithAssignAndGoWithClear) {
  TId3v2Tags source;
  source.SetTitle(u"t");
  source.SetPictures({TTagPicture{"image/png", 3, u"cover", {1, 2, 3}}});
  TId3v2Tags copy;
  copy.Assign(&source);
  ASSERT_EQ(copy.Pictures().size(), 1u);
  EXPECT_EQ(copy.Pictures()[0], source.Pictures()[0]);
  copy.Clear();
  EXPECT_TRUE(copy.Pictures().empty());
}

}  // namespace
}  // namespace melvanto::testing
