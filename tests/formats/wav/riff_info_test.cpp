// Tags in WAV files: LIST/INFO and "id3 " chunks written by other programs and made byte by
// byte, read through TWaveIn; the LIST/INFO chunk the writer builds.

#include "riff_info.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <ostream>
#include <string>
#include <vector>

#include "stream.h"
#include "temp_dir.h"
#include "text_codec.h"
#include "tools.h"
#include "wav_builder.h"
#include "wave_in.h"

namespace melvanto::testing {
namespace {

// Our own TId3v2Tags read through the text every check compares.
struct TSeen {
  std::string Title, Artist, Album, Year, Genre, Comment, Track;
  bool operator==(const TSeen&) const = default;
  friend std::ostream& operator<<(std::ostream& o, const TSeen& s) {
    return o << "{" << s.Title << "|" << s.Artist << "|" << s.Album << "|" << s.Year << "|" << s.Genre << "|"
             << s.Comment << "|" << s.Track << "}";
  }
};

TSeen Seen(const TId3v2Tags& t) {
  return {WideToUtf8(t.Title()),
          WideToUtf8(t.Artist()),
          WideToUtf8(t.Album()),
          t.Year(),
          WideToUtf8(t.Genre()),
          WideToUtf8(t.Comment()),
          t.Track()};
}

TSeen TagsOfFile(const std::string& path) {
  TWaveIn in;
  in.SetFileName(path);
  EXPECT_TRUE(in.Valid()) << path;
  return Seen(*in.Id3v2Tags());
}

TSeen TagsOfBytes(std::vector<std::uint8_t> bytes, bool expectValid = true) {
  TMemoryStream stream(std::move(bytes));
  TWaveIn in;
  in.SetStream(&stream);
  EXPECT_EQ(in.Valid(), expectValid);
  TSeen seen = Seen(*in.Id3v2Tags());
  in.SetStream(nullptr);
  return seen;
}

// A LIST/INFO body from raw items: each is an identifier, a stated size and the bytes that
// follow (which need not match the size).
std::vector<std::uint8_t> InfoBody(
    const std::vector<std::pair<std::string, std::pair<std::uint32_t, std::string>>>& items) {
  WavBuilder b;
  b.Raw("INFO");
  for (const auto& [id, item] : items) b.Raw(id).U32(item.first).Raw(item.second);
  return b.Get();
}

// A mono 16-bit file of four frames with the given chunks before and after its data.
std::vector<std::uint8_t> TaggedWav(
    const std::vector<std::pair<std::string, std::vector<std::uint8_t>>>& before,
    const std::vector<std::pair<std::string, std::vector<std::uint8_t>>>& after = {}) {
  WavBuilder b;
  b.Riff().Chunk("fmt ", WavBuilder::Fmt(1, 1, 8000, 2, 16));
  for (const auto& [id, body] : before) b.Chunk(id.c_str(), body);
  b.Chunk("data", std::vector<std::uint8_t>(8, 1));
  for (const auto& [id, body] : after) b.Chunk(id.c_str(), body);
  return b.Get();
}

std::string Tone(const TempDir& dir, const std::string& name, const std::string& metadata) {
  const std::string path = (dir / name).string();
  EXPECT_TRUE(Shell("ffmpeg -v error -y -f lavfi -i sine=d=0.1 " + metadata + " '" + path + "'"));
  return path;
}

// mutagen's WAVE tagger adds an "id3 " chunk after the audio; frames are Python expressions.
void AddId3Chunk(const std::string& path, const std::string& frames) {
  ASSERT_TRUE(
      Shell("/usr/bin/python3 -c 'from mutagen.wave import WAVE\nfrom mutagen.id3 import TIT2, TPE1, TALB, "
            "TDRC, TRCK, COMM\nw = WAVE(\"" +
            path + "\")\nw.add_tags()\nfor f in [" + frames + "]: w.tags.add(f)\nw.save()'"));
}

#define REQUIRE_MUTAGEN() \
  MELVANTO_REQUIRE_TOOL(Shell("/usr/bin/python3 -c 'import mutagen' 2>/dev/null"), "python3-mutagen")

TEST(WaveTagsInterop, ChunksOtherProgramsWrite) {
  MELVANTO_REQUIRE_COMMAND("ffmpeg");
  REQUIRE_MUTAGEN();
  TempDir dir;

  // ffmpeg: LIST/INFO in UTF-8, the date whole, the track as IPRT.
  const TSeen info =
      TagsOfFile(Tone(dir, "info.wav",
                      "-metadata title=Ünïcode -metadata artist=Ärtist -metadata album=Älbum "
                      "-metadata comment=Cömment -metadata date=2021-03-04 -metadata genre=Jazz "
                      "-metadata track=7"));
  EXPECT_EQ(info, (TSeen{"Ünïcode", "Ärtist", "Älbum", "2021-03-04", "Jazz", "Cömment", "7"}));

  // mutagen: an "id3 " chunk after the data, no LIST.
  const std::string id3 = Tone(dir, "id3.wav", "-bitexact");
  AddId3Chunk(id3,
              "TIT2(encoding=3, text=[\"Ťitle\"]), TPE1(encoding=1, text=[\"Artist16\"]), "
              "TALB(encoding=0, text=[\"Alb\"]), TDRC(encoding=3, text=[\"2019-01-02\"]), "
              "TRCK(encoding=3, text=[\"3/12\"])");
  EXPECT_EQ(TagsOfFile(id3), (TSeen{"Ťitle", "Artist16", "Alb", "2019-01-02", "", "", "3/12"}));

  // Both: the ID3 value wins where it has one; INFO fills the rest.
  const std::string both = Tone(dir, "both.wav", "-metadata title=ListTitle -metadata artist=ListArtist");
  AddId3Chunk(both, "TIT2(encoding=3, text=[\"Id3Title\"])");
  EXPECT_EQ(TagsOfFile(both), (TSeen{"Id3Title", "ListArtist", "", "", "", "", ""}));

  // No tags at all: nothing, not even the encoder's name.
  EXPECT_EQ(TagsOfFile(Tone(dir, "plain.wav", "")).Title, "");
}

TEST(WaveTags, TextEncodingsAndItemRules) {
  // Valid UTF-8 is UTF-8, anything else Latin-1; text ends at the first null.
  EXPECT_EQ(
      TagsOfBytes(TaggedWav({{"LIST", InfoBody({{"INAM", {6, std::string("Caf\xc3\xa9\0", 6)}}})}})).Title,
      "Café");
  EXPECT_EQ(TagsOfBytes(TaggedWav({{"LIST", InfoBody({{"INAM", {6, std::string("Caf\xe9\0x", 6)}}})}})).Title,
            "Café");
  EXPECT_EQ(TagsOfBytes(TaggedWav({{"LIST", InfoBody({{"IART", {8, std::string("ab\0cdefg", 8)}}})}})).Artist,
            "ab");
  // An overlong form is not UTF-8: read as Latin-1, byte by byte.
  EXPECT_EQ(TagsOfBytes(TaggedWav({{"LIST", InfoBody({{"INAM", {2, "\xc0\xaf"}}})}})).Title, "À¯");

  // ITRK wins over IPRT in either order; IPRT alone is the track.
  EXPECT_EQ(TagsOfBytes(TaggedWav({{"LIST", InfoBody({{"IPRT", {2, std::string("1\0", 2)}},
                                                      {"ITRK", {2, std::string("2\0", 2)}}})}}))
                .Track,
            "2");
  EXPECT_EQ(TagsOfBytes(TaggedWav({{"LIST", InfoBody({{"ITRK", {2, std::string("2\0", 2)}},
                                                      {"IPRT", {2, std::string("1\0", 2)}}})}}))
                .Track,
            "2");
  EXPECT_EQ(TagsOfBytes(TaggedWav({{"LIST", InfoBody({{"IPRT", {2, std::string("5\0", 2)}}})}})).Track, "5");

  // A list of another type is not INFO.
  WavBuilder adtl;
  adtl.Raw("adtl").Raw("INAM").U32(2).Raw(std::string("x\0", 2));
  EXPECT_EQ(TagsOfBytes(TaggedWav({{"LIST", adtl.Get()}})).Title, "");
}

TEST(WaveTags, HostileSizesAreCutNeverTrusted) {
  // An odd item without its pad byte, then one with it: both read.
  const std::vector<std::uint8_t> unpadded =
      InfoBody({{"INAM", {3, std::string("ab\0", 3)}},
                {"IART", {3, std::string("cd\0", 3) + std::string(1, '\0')}},
                {"IPRD", {2, std::string("e\0", 2)}}});
  EXPECT_EQ(TagsOfBytes(TaggedWav({{"LIST", unpadded}})), (TSeen{"ab", "cd", "e", "", "", "", ""}));

  // An item whose size runs past the LIST: its value is what is there, no null needed.
  const TSeen past = TagsOfBytes(TaggedWav({{"LIST", InfoBody({{"ICMT", {0xFFFFFFF0u, "tail"}}})}}));
  EXPECT_EQ(past.Comment, "tail");

  // A half item header at the end of the LIST is ignored.
  std::vector<std::uint8_t> half = InfoBody({{"INAM", {2, std::string("t\0", 2)}}});
  for (char c : std::string("IARTxx")) half.push_back(static_cast<std::uint8_t>(c));
  EXPECT_EQ(TagsOfBytes(TaggedWav({{"LIST", half}})).Title, "t");

  // A LIST after the data that claims far more than the file holds, as its last chunk.
  WavBuilder b;
  b.Riff().Chunk("fmt ", WavBuilder::Fmt(1, 1, 8000, 2, 16)).Chunk("data", std::vector<std::uint8_t>(8, 1));
  b.Raw("LIST").U32(0x7FFFFFF0u).Raw("INFO").Raw("INAM").U32(9).Raw("cut here");
  EXPECT_EQ(TagsOfBytes(b.Get()).Title, "cut here");

  // An "id3 " chunk that claims more than the file holds: the tag inside still reads.
  const std::vector<std::uint8_t> tag = {'I', 'D', '3', 4, 0, 0, 0, 0, 0,   15,  'T', 'I', 'T',
                                         '2', 0,   0,   0, 5, 0, 0, 3, 'a', 'b', 'c', 'd'};
  WavBuilder c;
  c.Riff().Chunk("fmt ", WavBuilder::Fmt(1, 1, 8000, 2, 16)).Chunk("data", std::vector<std::uint8_t>(8, 1));
  c.Raw("id3 ").U32(0xFFFFFFFFu).Bytes(tag);
  EXPECT_EQ(TagsOfBytes(c.Get()).Title, "abcd");

  // A data size of 0xFFFFFFFF (a streaming writer's) hides nothing after it and breaks nothing.
  WavBuilder d;
  d.Riff().Chunk("fmt ", WavBuilder::Fmt(1, 1, 8000, 2, 16)).Raw("data").U32(0xFFFFFFFFu).U32(0).U32(0);
  EXPECT_EQ(TagsOfBytes(d.Get()).Title, "");

  // A file the reader refuses has no tags, whatever chunks it holds.
  std::vector<std::uint8_t> refused = TaggedWav({{"LIST", InfoBody({{"INAM", {2, std::string("t\0", 2)}}})}});
  refused[20] = 0x77;  // an unknown format tag
  EXPECT_EQ(TagsOfBytes(refused, false).Title, "");
}

TEST(WaveTags, AudioAroundTagChunksIsUnchanged) {
  const std::vector<std::uint8_t> list = InfoBody({{"INAM", {3, std::string("ab\0", 3)}}});
  TMemoryStream stream(TaggedWav({{"LIST", list}}, {{"LIST", list}}));
  TWaveIn in;
  in.SetStream(&stream);
  ASSERT_TRUE(in.Valid());
  EXPECT_EQ(WideToUtf8(in.Id3v2Tags()->Title()), "ab");
  EXPECT_EQ(in.TotalSamples(), 4);
  in.Init();
  const std::uint8_t* block = nullptr;
  std::uint32_t bytes = 1024;
  in.GetData(block, bytes);
  ASSERT_EQ(bytes, 8u);
  EXPECT_EQ(std::vector<std::uint8_t>(block, block + bytes), std::vector<std::uint8_t>(8, 1));
  in.Flush();
  in.SetStream(nullptr);
}

TEST(WaveTags, BuiltInfoChunkReadsBack) {
  TId3v2Tags tags;
  EXPECT_TRUE(BuildRiffInfo(tags).empty());
  tags.SetTitle(u"Tïtle");
  tags.SetArtist(u"Odd");  // "Odd\0" is even; the title's 7 bytes with a null are even too
  tags.SetAlbum(u"Al");    // 3 bytes: padded
  tags.SetYear("1999");
  tags.SetTrack("4/9");
  // Two bytes each after one: the limit falls inside a character, which goes whole.
  tags.SetComment(u"x" + std::u16string(kMaxInfoValueBytes, u'é'));
  const std::vector<std::uint8_t> chunk = BuildRiffInfo(tags);
  ASSERT_GE(chunk.size(), 12u);
  EXPECT_EQ(chunk.size() % 2, 0u);
  EXPECT_EQ(GetLE32(chunk.data() + 4), chunk.size() - 8);
  const TSeen back =
      TagsOfBytes(TaggedWav({{"LIST", std::vector<std::uint8_t>(chunk.begin() + 8, chunk.end())}}));
  const std::string comment = WideToUtf8(u"x" + std::u16string(kMaxInfoValueBytes / 2 - 1, u'é'));
  EXPECT_EQ(back, (TSeen{"Tïtle", "Odd", "Al", "1999", "", comment, "4/9"}));
}

}  // namespace
}  // namespace melvanto::testing
