// Our ID3 tags against tools nobody here wrote: what we write must read back the same in
// TagLib (its C API, which the MP3 output uses, and its C++ API) and in FFmpeg, and what they
// write must read the same in ours.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <taglib/attachedpictureframe.h>
#include <taglib/commentsframe.h>
#include <taglib/id3v2tag.h>
#include <taglib/mpegfile.h>
#include <taglib/tag_c.h>
#include <taglib/tpropertymap.h>
#include <unistd.h>

#include <cstdint>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

#include "tags.h"
#include "temp_dir.h"
#include "tools.h"

namespace melvanto::testing {
namespace {

// Every value twice, as the same text in the two forms, so that neither side of a check is
// made by our own converters.
struct Text {
  std::u16string wide;
  std::string utf8;
};
const Text kTitle{u"Café 東京 🎵", "Café 東京 🎵"};
const Text kArtist{u"Björk", "Björk"};
const Text kAlbum{u"Кино", "Кино"};
const Text kGenre{u"Rock", "Rock"};
const Text kComposer{u"Dvořák", "Dvořák"};
const Text kCopyright{u"© 2024 Ωmega", "© 2024 Ωmega"};

class Fd {
 public:
  Fd(const std::string& path, int flags) : fd_(::open(path.c_str(), flags)) {}
  ~Fd() {
    if (fd_ >= 0) ::close(fd_);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int Get() const { return fd_; }

 private:
  int fd_;
};

// A short MP3 with no tag of any kind.
std::string MakeMp3(const TempDir& dir, const std::string& name = "plain.mp3") {
  const std::string path = (dir / name).string();
  EXPECT_TRUE(
      Shell("ffmpeg -nostdin -v error -y -f lavfi -i sine=frequency=440:duration=1 -c:a libmp3lame "
            "-id3v2_version 0 -write_xing 0 '" +
            path + "'"));
  return path;
}

std::vector<std::uint8_t> FileBytes(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
}

// What TagLib's C API reads from a file.
struct TagLibView {
  bool valid = false;
  std::string title, artist, album, genre, comment;
  unsigned year = 0, track = 0;
  int sampleRate = 0, length = 0;
};

TagLibView ReadWithTagLib(const std::string& path) {
  taglib_set_strings_unicode(1);
  TagLibView v;
  TagLib_File* file = taglib_file_new(path.c_str());
  if (file == nullptr) return v;
  v.valid = taglib_file_is_valid(file) != 0;
  if (TagLib_Tag* tag = taglib_file_tag(file)) {
    v.title = taglib_tag_title(tag);
    v.artist = taglib_tag_artist(tag);
    v.album = taglib_tag_album(tag);
    v.genre = taglib_tag_genre(tag);
    v.comment = taglib_tag_comment(tag);
    v.year = taglib_tag_year(tag);
    v.track = taglib_tag_track(tag);
  }
  if (const TagLib_AudioProperties* audio = taglib_file_audioproperties(file)) {
    v.sampleRate = taglib_audioproperties_samplerate(audio);
    v.length = taglib_audioproperties_length(audio);
  }
  taglib_tag_free_strings();
  taglib_file_free(file);
  return v;
}

// The format tags ffprobe reports, by key. FFmpeg hands ID3v1 text on as its bytes, not
// converted from Latin-1, so `raw` keeps ffprobe from replacing them as invalid UTF-8.
std::map<std::string, std::string> ReadWithFfprobe(const std::string& path, bool raw = false) {
  std::map<std::string, std::string> tags;
  std::istringstream lines(
      CaptureText("ffprobe -v error -show_entries format_tags -of default=noprint_wrappers=1" +
                  std::string(raw ? ":sv=ignore '" : " '") + path + "'"));
  for (std::string line; std::getline(lines, line);) {
    const auto eq = line.find('=');
    if (line.rfind("TAG:", 0) == 0 && eq != std::string::npos)
      tags[line.substr(4, eq - 4)] = line.substr(eq + 1);
  }
  return tags;
}

// TagLib's ID3v2 text encoding is process-wide; put back its default whatever the test does.
struct TagLibEncoding {
  explicit TagLibEncoding(TagLib_ID3v2_Encoding encoding) {
    taglib_id3v2_set_default_text_encoding(encoding);
  }
  ~TagLibEncoding() { taglib_id3v2_set_default_text_encoding(TagLib_ID3v2_Latin1); }
};

// Sets values through TagLib's C API and saves.
void WriteWithTagLib(const std::string& path, const char* title, const char* artist, const char* genre,
                     unsigned year, unsigned track) {
  taglib_set_strings_unicode(1);
  TagLib_File* file = taglib_file_new(path.c_str());
  ASSERT_NE(file, nullptr);
  TagLib_Tag* tag = taglib_file_tag(file);
  taglib_tag_set_title(tag, title);
  taglib_tag_set_artist(tag, artist);
  taglib_tag_set_album(tag, kAlbum.utf8.c_str());
  taglib_tag_set_genre(tag, genre);
  taglib_tag_set_year(tag, year);
  taglib_tag_set_track(tag, track);
  EXPECT_TRUE(taglib_file_save(file));
  taglib_file_free(file);
}

// The ID3v2 version in a file's header and the text encoding of its title frame, so that a
// case is known to cover the form it means to.
struct TagForm {
  int version = -1, titleEncoding = -1;
  bool operator==(const TagForm&) const = default;
};
std::ostream& operator<<(std::ostream& out, const TagForm& form) {
  return out << "ID3v2." << form.version << ", title encoding " << form.titleEncoding;
}
TagForm FormOf(const std::string& path) {
  const auto bytes = FileBytes(path);
  TagForm form;
  if (bytes.size() < 10 || std::string(bytes.begin(), bytes.begin() + 3) != "ID3") return form;
  form.version = bytes[3];
  const std::string text(bytes.begin(), bytes.end());
  const auto at = text.find("TIT2");
  if (at != std::string::npos && at + 10 < bytes.size()) form.titleEncoding = bytes[at + 10];
  return form;
}

std::unique_ptr<TId3v2Tags> ReadId3v2(const std::string& path) {
  auto tags = std::make_unique<TId3v2Tags>();
  Fd fd(path, O_RDONLY);
  EXPECT_TRUE(tags->ReadFromFile(fd.Get())) << path;
  return tags;
}

#define REQUIRE_MP3_TOOLS()                                          \
  MELVANTO_REQUIRE_TOOL(HaveMp3Encoder(), "ffmpeg with libmp3lame"); \
  MELVANTO_REQUIRE_COMMAND("ffprobe")

// ---- Our ID3v2.4 tag read by others ----

TEST(TagInteropTest, UnicodeId3v24ReadsTheSameInTagLibAndFfprobe) {
  REQUIRE_MP3_TOOLS();
  TempDir dir;
  const std::string path = MakeMp3(dir);
  const auto audio = FileBytes(path);

  TId3v2Tags tags;
  tags.SetTitle(kTitle.wide);
  tags.SetArtist(kArtist.wide);
  tags.SetAlbum(kAlbum.wide);
  tags.SetGenre(kGenre.wide);
  tags.SetYear("2024");
  tags.SetTrack("3/12");
  tags.SetComposer(kComposer.wide);
  tags.SetCopyright(kCopyright.wide);
  tags.SetEncoder(u"Melvanto ✓");
  tags.SetLanguage(u"eng");
  tags.SetLink(u"https://example.org/a?b=1");
  {
    Fd fd(path, O_RDWR);
    ASSERT_TRUE(tags.WriteToFile(fd.Get(), true));
  }
  EXPECT_EQ(FormOf(path), (TagForm{4, 3}));

  // The audio is untouched behind the tag, and the tag's size leads readers to it.
  const auto tagged = FileBytes(path);
  ASSERT_GT(tagged.size(), audio.size());
  EXPECT_EQ(std::vector<std::uint8_t>(tagged.end() - audio.size(), tagged.end()), audio);

  const TagLibView t = ReadWithTagLib(path);
  ASSERT_TRUE(t.valid);
  EXPECT_EQ(t.title, kTitle.utf8);
  EXPECT_EQ(t.artist, kArtist.utf8);
  EXPECT_EQ(t.album, kAlbum.utf8);
  EXPECT_EQ(t.genre, kGenre.utf8);
  EXPECT_EQ(t.year, 2024u);
  EXPECT_EQ(t.track, 3u);
  EXPECT_EQ(t.sampleRate, 44100);
  EXPECT_EQ(t.length, 1);

  auto f = ReadWithFfprobe(path);
  EXPECT_EQ(f["title"], kTitle.utf8);
  EXPECT_EQ(f["artist"], kArtist.utf8);
  EXPECT_EQ(f["album"], kAlbum.utf8);
  EXPECT_EQ(f["genre"], kGenre.utf8);
  EXPECT_EQ(f["date"], "2024");
  EXPECT_EQ(f["track"], "3/12");
  EXPECT_EQ(f["composer"], kComposer.utf8);
  EXPECT_EQ(f["copyright"], kCopyright.utf8);
  EXPECT_EQ(f["encoded_by"], "Melvanto ✓");
  EXPECT_EQ(f["language"], "eng");

  // FFmpeg does not list link frames; TagLib's own frame parser reads the address.
  TagLib::MPEG::File file(path.c_str());
  ASSERT_TRUE(file.hasID3v2Tag());
  EXPECT_EQ(file.ID3v2Tag()->header()->majorVersion(), 4u);
  const auto links = file.ID3v2Tag()->frameListMap()["WXXX"];
  ASSERT_EQ(links.size(), 1u);
  EXPECT_EQ(links.front()->toString().to8Bit(true), "[] https://example.org/a?b=1");
}

TEST(TagInteropTest, Latin1Id3v24KeepsLatin1TextAndMarksTheRest) {
  REQUIRE_MP3_TOOLS();
  TempDir dir;
  const std::string path = MakeMp3(dir);

  TId3v2Tags tags;
  tags.SetTitle(u"Café ÿ");    // all Latin-1
  tags.SetArtist(u"Björk Ж");  // one character beyond it
  tags.SetAlbum(u"東京🎵");     // none of it, a surrogate pair among it
  // A wide property holding ANSI text, as a value read from a Latin-1 frame does.
  tags.SetValue("TCON", std::string("Chanson fran\347aise"));
  tags.SetYear("1999");
  {
    Fd fd(path, O_RDWR);
    ASSERT_TRUE(tags.WriteToFile(fd.Get(), false));
  }
  EXPECT_EQ(FormOf(path), (TagForm{4, 0}));

  const TagLibView t = ReadWithTagLib(path);
  EXPECT_EQ(t.title, "Café ÿ");
  EXPECT_EQ(t.artist, "Björk ?");
  EXPECT_EQ(t.album, "???");
  EXPECT_EQ(t.genre, "Chanson française");
  EXPECT_EQ(t.year, 1999u);

  auto f = ReadWithFfprobe(path);
  EXPECT_EQ(f["title"], "Café ÿ");
  EXPECT_EQ(f["artist"], "Björk ?");
  EXPECT_EQ(f["album"], "???");
  EXPECT_EQ(f["genre"], "Chanson française");

  // An ANSI value stays Latin-1 even when Unicode is asked for.
  const std::string again = MakeMp3(dir, "again.mp3");
  {
    Fd fd(again, O_RDWR);
    ASSERT_TRUE(tags.WriteToFile(fd.Get(), true));
  }
  EXPECT_EQ(ReadWithTagLib(again).genre, "Chanson française");
  EXPECT_EQ(ReadWithTagLib(again).album, "東京🎵");
}

// ---- Our ID3v1 record read by others ----

TEST(TagInteropTest, Id3v1RecordReadsTheSameInTagLibAndFfprobe) {
  REQUIRE_MP3_TOOLS();
  TempDir dir;

  {
    SCOPED_TRACE("with a track");
    const std::string path = MakeMp3(dir, "track.mp3");
    TId3v1Tags tags;
    tags.SetTitle("Caf\xE9");
    tags.SetArtist("Bj\xF6rk");
    tags.SetAlbum("Thirty characters exactly, ok!");    // fills its field, no terminator
    tags.SetComment("A comment of thirty characters");  // cut to the 28 the track leaves
    tags.SetYear(1999);
    tags.SetTrack(5);
    tags.SetGenreId(17);
    {
      Fd fd(path, O_RDWR);
      ASSERT_TRUE(tags.WriteToFile(fd.Get(), false));
    }
    const TagLibView t = ReadWithTagLib(path);
    EXPECT_EQ(t.title, "Café");
    EXPECT_EQ(t.artist, "Björk");
    EXPECT_EQ(t.album, "Thirty characters exactly, ok!");
    EXPECT_EQ(t.comment, "A comment of thirty characte");
    EXPECT_EQ(t.year, 1999u);
    EXPECT_EQ(t.track, 5u);
    EXPECT_EQ(t.genre, "Rock");
    EXPECT_EQ(t.length, 1);

    auto f = ReadWithFfprobe(path, true);
    EXPECT_EQ(f["title"], "Caf\xE9");
    EXPECT_EQ(f["artist"], "Bj\xF6rk");
    EXPECT_EQ(f["album"], "Thirty characters exactly, ok!");
    EXPECT_EQ(f["date"], "1999");
    EXPECT_EQ(f["track"], "5");
    EXPECT_EQ(f["genre"], "Rock");
  }
  {
    SCOPED_TRACE("without a track, without a genre");
    const std::string path = MakeMp3(dir, "plain.mp3");
    TId3v1Tags tags;
    tags.SetTitle("Plain");
    tags.SetComment("A comment of thirty characters");
    tags.SetYear(2024);
    tags.SetGenreId(255);
    {
      Fd fd(path, O_RDWR);
      ASSERT_TRUE(tags.WriteToFile(fd.Get(), false));
    }
    const TagLibView t = ReadWithTagLib(path);
    EXPECT_EQ(t.title, "Plain");
    EXPECT_EQ(t.comment, "A comment of thirty characters");
    EXPECT_EQ(t.track, 0u);
    EXPECT_EQ(t.genre, "");
    EXPECT_EQ(t.year, 2024u);

    auto f = ReadWithFfprobe(path);
    EXPECT_EQ(f["title"], "Plain");
    EXPECT_EQ(f["date"], "2024");
    EXPECT_EQ(f.count("track"), 0u);
    EXPECT_EQ(f.count("genre"), 0u);
  }
}

// ---- Others' tags read by ours ----

TEST(TagInteropTest, FfmpegId3v23AndId3v24ReadTheSame) {
  MELVANTO_REQUIRE_TOOL(HaveMp3Encoder(), "ffmpeg with libmp3lame");
  TempDir dir;
  const std::string plain = MakeMp3(dir);
  for (const char* version : {"3", "4"}) {
    SCOPED_TRACE(std::string("ID3v2.") + version);
    const std::string path = (dir / (std::string("v2") + version + ".mp3")).string();
    // A 2.4 recording time may be a whole date; it is kept whole.
    const std::string date = version[0] == '4' ? "2024-05-01" : "2024";
    ASSERT_TRUE(Shell("ffmpeg -nostdin -v error -y -i '" + plain + "' -c copy -id3v2_version " + version +
                      " -metadata 'title=" + kTitle.utf8 + "' -metadata 'artist=" + kArtist.utf8 +
                      "' -metadata 'album=" + kAlbum.utf8 + "' -metadata date=" + date +
                      " -metadata track=7 -metadata 'genre=" + kGenre.utf8 + "' -metadata 'composer=" +
                      kComposer.utf8 + "' -metadata 'copyright=" + kCopyright.utf8 + "' '" + path + "'"));
    // FFmpeg writes 2.3 text as UTF-16 with a byte-order mark, 2.4 text as UTF-8.
    EXPECT_EQ(FormOf(path), (TagForm{version[0] - '0', version[0] == '3' ? 1 : 3}));
    const auto tags = ReadId3v2(path);
    EXPECT_TRUE(tags->NewFrameIds());
    EXPECT_EQ(tags->Title(), kTitle.wide);
    EXPECT_EQ(tags->Artist(), kArtist.wide);
    EXPECT_EQ(tags->Album(), kAlbum.wide);
    EXPECT_EQ(tags->Genre(), kGenre.wide);
    EXPECT_EQ(tags->Year(), date);
    EXPECT_EQ(tags->Track(), "7");
    EXPECT_EQ(tags->Composer(), kComposer.wide);
    EXPECT_EQ(tags->Copyright(), kCopyright.wide);
  }
}

TEST(TagInteropTest, TagLibId3v24ReadsTheSameInEveryEncoding) {
  MELVANTO_REQUIRE_TOOL(HaveMp3Encoder(), "ffmpeg with libmp3lame");
  TempDir dir;
  // TagLib's default writes Latin-1 where the text allows (the artist), else UTF-8.
  const struct {
    TagLib_ID3v2_Encoding setting;
    int titleEncoding;
  } cases[] = {
      {TagLib_ID3v2_Latin1, 3}, {TagLib_ID3v2_UTF16, 1}, {TagLib_ID3v2_UTF16BE, 2}, {TagLib_ID3v2_UTF8, 3}};
  for (const auto& c : cases) {
    SCOPED_TRACE("TagLib encoding setting " + std::to_string(c.setting));
    const std::string path = MakeMp3(dir, "enc" + std::to_string(c.setting) + ".mp3");
    {
      TagLibEncoding encoding(c.setting);
      WriteWithTagLib(path, kTitle.utf8.c_str(), kArtist.utf8.c_str(), "Rock", 2024, 7);
    }
    EXPECT_EQ(FormOf(path), (TagForm{4, c.titleEncoding}));
    const auto tags = ReadId3v2(path);
    EXPECT_EQ(tags->Title(), kTitle.wide);
    EXPECT_EQ(tags->Artist(), kArtist.wide);
    EXPECT_EQ(tags->Album(), kAlbum.wide);
    EXPECT_EQ(tags->Genre(), u"Rock");
    EXPECT_EQ(tags->Year(), "2024");
    EXPECT_EQ(tags->Track(), "7");
  }
}

TEST(TagInteropTest, TagLibId3v1RecordReadsTheSame) {
  MELVANTO_REQUIRE_TOOL(HaveMp3Encoder(), "ffmpeg with libmp3lame");
  TempDir dir;
  const std::string path = MakeMp3(dir);
  // Saving creates the record; text Latin-1 cannot hold is left blank there.
  WriteWithTagLib(path, "Café", "Кино", "Rock", 1987, 12);

  TId3v1Tags tags;
  Fd fd(path, O_RDONLY);
  ASSERT_TRUE(tags.ReadFromFile(fd.Get()));
  EXPECT_EQ(tags.Title(), "Caf\xE9");
  EXPECT_EQ(tags.Artist(), "");
  EXPECT_EQ(tags.Album(), "");
  EXPECT_EQ(tags.Year(), 1987);
  EXPECT_EQ(tags.Track(), 12);
  EXPECT_EQ(tags.GenreId(), 17);
  EXPECT_EQ(tags.Genre(), "Rock");
}

TEST(TagInteropTest, TagLibId3v23ReadsTheSame) {
  MELVANTO_REQUIRE_TOOL(HaveMp3Encoder(), "ffmpeg with libmp3lame");
  TempDir dir;
  const std::string path = MakeMp3(dir);
  {
    TagLib::MPEG::File file(path.c_str());
    TagLib::ID3v2::Tag* tag = file.ID3v2Tag(true);
    tag->setTitle(TagLib::String(kTitle.utf8, TagLib::String::UTF8));
    tag->setArtist(TagLib::String(kArtist.utf8, TagLib::String::UTF8));
    tag->setYear(2001);
    tag->setTrack(9);
    TagLib::PropertyMap more;
    more.insert("COMPOSER", TagLib::StringList(TagLib::String(kComposer.utf8, TagLib::String::UTF8)));
    more.insert("COPYRIGHT", TagLib::StringList(TagLib::String(kCopyright.utf8, TagLib::String::UTF8)));
    tag->setProperties(tag->properties().merge(more));
    ASSERT_TRUE(file.save(TagLib::MPEG::File::ID3v2, TagLib::File::StripOthers, TagLib::ID3v2::v3));
  }
  EXPECT_EQ(FormOf(path), (TagForm{3, 1}));
  const auto tags = ReadId3v2(path);
  EXPECT_EQ(tags->Title(), kTitle.wide);
  EXPECT_EQ(tags->Artist(), kArtist.wide);
  EXPECT_EQ(tags->Year(), "2001");
  EXPECT_EQ(tags->Track(), "9");
  EXPECT_EQ(tags->Composer(), kComposer.wide);
  EXPECT_EQ(tags->Copyright(), kCopyright.wide);
}

// ---- Our tag in place of another writer's ----

// The MP3 output lets TagLib save first and then puts our whole tag in place of TagLib's:
// over it where it fits, the file moved back where not. Either way the audio after the tag
// is untouched, and TagLib reads the date, the track total, the comment with its language
// and the picture's bytes as we meant them.
TEST(TagInteropTest, OurTagReplacesTagLibsInPlaceOrByMovingTheAudio) {
  MELVANTO_REQUIRE_TOOL(HaveMp3Encoder(), "ffmpeg with libmp3lame");
  TempDir dir;
  for (const std::size_t pictureBytes : {std::size_t{40}, std::size_t{200000}}) {
    SCOPED_TRACE(pictureBytes);
    const std::string path = MakeMp3(dir);
    const auto audio = FileBytes(path);
    {
      TagLibEncoding utf16(TagLib_ID3v2_UTF16);
      WriteWithTagLib(path, "TagLib's title", "TagLib's artist", "Rock", 1990, 1);
    }
    const auto before = FileBytes(path);
    ASSERT_EQ(FormOf(path).version, 4);
    // TagLib's save adds an ID3v1 record after the audio.
    ASSERT_GE(before.size(), audio.size() + 128);
    const std::vector<std::uint8_t> record(before.end() - 128, before.end());
    ASSERT_EQ(std::string(record.begin(), record.begin() + 3), "TAG");
    const std::size_t oldTag = before.size() - audio.size() - 128;

    TId3v2Tags tags;
    tags.SetTitle(kTitle.wide);
    tags.SetYear("2003-04-05");
    tags.SetTrack("3/12");
    tags.SetComment(u"A comment longer than thirty characters: \u65e5\u672c");
    tags.SetCommentLanguage("deu");
    tags.SetCopyright(kCopyright.wide);
    std::vector<std::uint8_t> image(pictureBytes);
    for (std::size_t i = 0; i < image.size(); ++i) image[i] = static_cast<std::uint8_t>(i * 7 + (i >> 8));
    tags.SetPictures({{"image/png", 3, u"Front", image}});
    {
      Fd fd(path, O_RDWR);
      ASSERT_TRUE(tags.ReplaceLeadingTag(fd.Get(), true));
    }
    const auto after = FileBytes(path);
    ASSERT_GE(after.size(), audio.size() + 128);
    const std::size_t newTag = after.size() - audio.size() - 128;
    EXPECT_TRUE(std::equal(audio.begin(), audio.end(), after.begin() + static_cast<long>(newTag)));
    EXPECT_EQ(std::vector<std::uint8_t>(after.end() - 128, after.end()), record);
    if (pictureBytes < 100)
      EXPECT_EQ(newTag, oldTag);  // fitted in TagLib's padding
    else
      EXPECT_GT(newTag, pictureBytes);

    TagLib::MPEG::File file(path.c_str());
    TagLib::ID3v2::Tag* tag = file.ID3v2Tag();
    ASSERT_NE(tag, nullptr);
    EXPECT_EQ(tag->title().to8Bit(true), kTitle.utf8);
    EXPECT_EQ(tag->artist().to8Bit(true), "");  // TagLib's values are gone with its tag
    EXPECT_EQ(tag->frameListMap()["TDRC"].front()->toString().to8Bit(), "2003-04-05");
    EXPECT_EQ(tag->frameListMap()["TRCK"].front()->toString().to8Bit(), "3/12");
    EXPECT_EQ(tag->frameListMap()["TCOP"].front()->toString().to8Bit(true), kCopyright.utf8);
    const auto* comment = dynamic_cast<TagLib::ID3v2::CommentsFrame*>(tag->frameListMap()["COMM"].front());
    ASSERT_NE(comment, nullptr);
    EXPECT_EQ(comment->text().to8Bit(true), "A comment longer than thirty characters: 日本");
    EXPECT_EQ(comment->language(), TagLib::ByteVector("deu"));
    const auto* apic = dynamic_cast<TagLib::ID3v2::AttachedPictureFrame*>(tag->frameListMap()["APIC"].front());
    ASSERT_NE(apic, nullptr);
    EXPECT_EQ(apic->mimeType().to8Bit(), "image/png");
    EXPECT_EQ(apic->type(), TagLib::ID3v2::AttachedPictureFrame::FrontCover);
    EXPECT_EQ(apic->description().to8Bit(), "Front");
    const TagLib::ByteVector picture = apic->picture();
    EXPECT_EQ(std::vector<std::uint8_t>(picture.begin(), picture.end()), image);
    ASSERT_TRUE(file.isValid());
    ASSERT_NE(file.audioProperties(), nullptr);
    EXPECT_GT(file.audioProperties()->lengthInMilliseconds(), 900);
  }
}

}  // namespace
}  // namespace melvanto::testing
