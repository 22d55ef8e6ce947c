// Tags across WAV files: a WAV source's LIST/INFO and "id3 " chunks reach the tag editor and
// MP3 and WMA outputs; MP3 and WMA sources' tags reach WAV outputs as LIST/INFO.

#include <gtest/gtest.h>

#include <map>
#include <string>

#include "runner_fixture.h"
#include "settings.h"

namespace melvanto::testing {
namespace {

// Sources of our own beside the shared ones: a WAV with LIST/INFO from ffmpeg, one with an
// "id3 " chunk from mutagen, and the tagged MP3 without its tags.
class WavTagsTest : public RunnerTest {
 protected:
  void SetUp() override {
    RunnerTest::SetUp();
    const std::string ff = "ffmpeg -nostdin -v error -y -i '" + Src("src.wav") + "' ";
    ASSERT_TRUE(Shell(ff +
                      "-metadata title=Ünïcode -metadata artist=WavArtist -metadata comment=WavComment "
                      "-metadata album=WavAlbum -metadata date=2020-05-06 -metadata genre=Jazz "
                      "-metadata track=4 -metadata copyright=WavCopyright '" +
                      Path("info.wav") + "'"));
    ASSERT_TRUE(Shell(ff + "-bitexact '" + Path("id3.wav") + "'"));
    ASSERT_TRUE(
        Shell("/usr/bin/python3 -c 'from mutagen.wave import WAVE\nfrom mutagen.id3 import TIT2, TPE1\n"
              "w = WAVE(\"" +
              Path("id3.wav") +
              "\")\nw.add_tags()\n"
              "w.tags.add(TIT2(encoding=3, text=[\"Id3Title\"]))\n"
              "w.tags.add(TPE1(encoding=1, text=[\"Id3Artist\"]))\nw.save()'"));
    ASSERT_TRUE(Shell("ffmpeg -nostdin -v error -y -i '" + Src("one.mp3") +
                      "' -map_metadata -1 -id3v2_version 0 -write_id3v1 0 -c copy '" + Path("bare.mp3") +
                      "'"));
  }
  std::string Path(const std::string& name) const { return (dir / name).string(); }
};

// Each tag of ffprobe's facts against its expected value ("<none>" for one that is absent).
void ExpectTags(const std::string& facts, const std::map<std::string, std::string>& expected) {
  for (const auto& [key, value] : expected)
    EXPECT_EQ(Value(facts, "TAG:" + key), value) << key << " in\n" << facts;
}

#define REQUIRE_WAV_TAG_TOOLS() \
  REQUIRE_SOURCES();            \
  MELVANTO_REQUIRE_TOOL(Shell("/usr/bin/python3 -c 'import mutagen' 2>/dev/null"), "python3-mutagen")

TEST_F(WavTagsTest, OneWavFillsTheEditorAndItsOutputs) {
  REQUIRE_WAV_TAG_TOOLS();
  PrepareBatchTags({Path("info.wav")}, TConversionMode::cmWavToMp3, TagInfo);
  EXPECT_EQ(TagInfo, (TTagInfo{u"Ünïcode", u"WavArtist", u"WavAlbum", u"2020-05-06", GenreIndex(u"Jazz"), u"4",
                               u"WavComment"}));
  PrepareBatchTags({Path("id3.wav")}, TConversionMode::cmWavToWma, TagInfo);
  EXPECT_EQ(TagInfo.Title, u"Id3Title");
  EXPECT_EQ(TagInfo.Artist, u"Id3Artist");
  // A WAV without tags keeps the title from its name.
  PrepareBatchTags({Src("src.wav")}, TConversionMode::cmWavToMp3, TagInfo);
  EXPECT_EQ(TagInfo, (TTagInfo{u"src", {}, {}, {}, -1, {}, {}}));

  PrepareBatchTags({Path("info.wav")}, TConversionMode::cmWavToMp3, TagInfo);
  Batch batch(TConversionMode::cmWavToMp3, {Path("info.wav")}, Context());
  ASSERT_EQ(batch.Run().size(), 1u);
  ExpectTags(ProbeFacts(Out("info.mp3")),
             {{"title", "Ünïcode"},
              {"artist", "WavArtist"},
              {"comment", "WavComment"},
              {"date", "2020-05-06"},
              {"copyright", "WavCopyright"}});
}

TEST_F(WavTagsTest, SeveralWavsEachCarryTheirOwnTags) {
  REQUIRE_WAV_TAG_TOOLS();
  for (const auto mode : {TConversionMode::cmWavToMp3, TConversionMode::cmWavToWma}) {
    SCOPED_TRACE(DirectionName(mode));
    const std::vector<std::string> files = {Path("info.wav"), Path("id3.wav"), Src("src.wav")};
    PrepareBatchTags(files, mode, TagInfo);
    Batch batch(mode, files, Context());
    ASSERT_EQ(batch.Run().size(), 3u);
    const auto facts = [&](const char* name) {
      return ProbeFacts(Out(name + std::string(TargetExtension(mode))));
    };
    ExpectTags(facts("info"), {{"title", "Ünïcode"}, {"artist", "WavArtist"}, {"album", "WavAlbum"}});
    // Nothing of the first file's.
    ExpectTags(facts("id3"), {{"title", "Id3Title"}, {"artist", "Id3Artist"}, {"album", "<none>"}});
    ExpectTags(facts("src"), {{"title", "src"}, {"artist", "<none>"}});
  }
}

TEST_F(WavTagsTest, Mp3AndWmaTagsReachWavOutputsAsInfo) {
  REQUIRE_WAV_TAG_TOOLS();
  struct Case {
    TConversionMode mode;
    std::string source;
    std::map<std::string, std::string> tags;
  };
  const Case cases[] = {
      {TConversionMode::cmMp3ToWav,
       Src("one.mp3"),
       {{"title", "MpOne"},
        {"artist", "MpArtistOne"},
        {"album", "MpAlbum"},
        {"date", "2004"},
        {"genre", "Jazz"},
        {"track", "3"}}},
      {TConversionMode::cmWmaToWav,
       Src("one.wma"),
       {{"title", "WmOne"},
        {"artist", "WmArtistOne"},
        {"album", "WmAlbum"},
        {"date", "2011"},
        {"genre", "Blues"},
        {"track", "12"}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(DirectionName(c.mode));
    Batch batch(c.mode, {c.source}, Context());
    ASSERT_EQ(batch.Run().size(), 1u);
    ExpectTags(ProbeFacts(Out("one.wav")), c.tags);
  }
}

TEST_F(WavTagsTest, TagsChangeNoSampleAndAnUntaggedSourceGivesTheOldFile) {
  REQUIRE_WAV_TAG_TOOLS();
  Batch tagged(TConversionMode::cmMp3ToWav, {Src("one.mp3")}, Context());
  ASSERT_EQ(tagged.Run().size(), 1u);
  Batch bare(TConversionMode::cmMp3ToWav, {Path("bare.mp3")}, Context());
  ASSERT_EQ(bare.Run().size(), 1u);
  const Bytes withTags = ReadBytes(Out("one.wav")), without = ReadBytes(Out("bare.wav"));
  ASSERT_GT(without.size(), 80u);
  // No tags, no LIST: the plain 80-byte header (RIFF, JUNK, fmt) straight before the data.
  EXPECT_EQ(std::string(without.begin() + 72, without.begin() + 76), "data");
  EXPECT_EQ(std::string(withTags.begin() + 72, withTags.begin() + 76), "LIST");
  // Both decode, by a reader we did not write, to the same samples.
  const std::string decode = "ffmpeg -nostdin -v error -i '";
  const std::string a = CaptureText(decode + Out("one.wav") + "' -f s16le -");
  const std::string b = CaptureText(decode + Out("bare.wav") + "' -f s16le -");
  EXPECT_GT(a.size(), 44100u * 4);
  EXPECT_TRUE(a == b);
}

}  // namespace
}  // namespace melvanto::testing
