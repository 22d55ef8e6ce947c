// Inputs that carry a cover picture besides their audio, as taggers leave them: the audio
// converts whole wherever its stream is, and a file with a picture but no audio is refused.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "asf_header.h"
#include "damaged_files.h"
#include "require_tool.h"
#include "runner_fixture.h"

namespace melvanto::testing {
namespace {

namespace fs = std::filesystem;

// An ffmpeg WMA and lame MP3 of 3 s, a PNG cover, the MP3 with the cover as APIC, and an
// ASF file with a video stream and no audio.
const MadeFiles& CoverFiles() {
  const std::string ff = "ffmpeg -nostdin -v error -y ";
  static const MadeFiles files(
      HaveTool("ffmpeg") && HaveTool("lame") && HaveTool("sox"),
      "sox -n -r 44100 -c 2 three.wav synth 3 sine 440 && lame --quiet three.wav three.mp3 && " + ff +
          "-i three.wav -c:a wmav2 -b:a 128k three.wma && " + ff +
          "-f lavfi -i testsrc=size=64x64 -frames:v 1 cover.png && " + ff +
          "-i three.mp3 -i cover.png -map 1 -map 0 -c copy -id3v2_version 3 -disposition:v attached_pic "
          "apic.mp3 && " +
          ff + "-f lavfi -i testsrc=size=64x64:rate=5 -t 1 -c:v wmv2 -f asf video.wma");
  return files;
}

// Samples per channel of a file, as ffmpeg decodes it.
std::int64_t DecodedFrames(const std::string& path) {
  const std::string text = CaptureText("ffmpeg -nostdin -v error -i '" + path + "' -f s16le - | wc -c");
  return text.empty() ? -1 : std::atoll(text.c_str()) / 4;
}

// ffprobe's codec type and attached-picture flag of each stream, a line each.
std::string StreamKinds(const std::string& path) {
  return CaptureText("ffprobe -v error -show_entries stream=codec_type:stream_disposition=attached_pic -of csv=p=0 '" +
                     path + "'");
}

class CoverArtInputTest : public RunnerTest {
 protected:
  void SetUp() override {
    RunnerTest::SetUp();
    const std::string wma = (dir / "cover-first.wma").string();
    WriteFileBytes(wma, WithAsfHeaderObject(FileBytes(CoverFiles() / "three.wma"), kAsfExtendedContentDescription,
                                            AsfCoverAttribute(FileBytes(CoverFiles() / "cover.png"), "image/png")));
    coverFirstWma = wma;
  }
  TFileResult Convert(TConversionMode mode, const std::string& file) {
    fs::remove_all(out);
    fs::create_directories(out);
    Batch batch(mode, {file}, Context());
    const auto& results = batch.Run();
    EXPECT_EQ(results.size(), 1u);
    return results.empty() ? TFileResult{} : results[0];
  }
  std::string coverFirstWma;
};

#define REQUIRE_COVER_FILES()                                        \
  MELVANTO_REQUIRE_COMMAND("ffmpeg");                                \
  MELVANTO_REQUIRE_COMMAND("lame");                                  \
  MELVANTO_REQUIRE_COMMAND("sox");                                   \
  ASSERT_TRUE(CoverFiles().Ready()) << "the cover files could not be made"

TEST_F(CoverArtInputTest, AudioAfterAPictureConvertsWhole) {
  REQUIRE_COVER_FILES();
  ASSERT_EQ(StreamKinds(coverFirstWma), "video,1\naudio,0\n") << "the picture must be the first stream";
  ASSERT_EQ(StreamKinds(CoverFiles() / "apic.mp3"), "audio,0\nvideo,1\n");
  struct Case {
    TConversionMode mode;
    std::string file;
    std::int64_t tolerance;  // frames; an MP3 output is re-encoded, its Info frame trims it
  } cases[] = {
      {TConversionMode::cmWmaToWav, coverFirstWma, 0},
      {TConversionMode::cmWmaToMp3, coverFirstWma, 1152},
      {TConversionMode::cmMp3ToWav, CoverFiles() / "apic.mp3", 0},
      {TConversionMode::cmMp3ToWma, CoverFiles() / "apic.mp3", 4096},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file + " to " + TargetExtension(c.mode));
    const TFileResult r = Convert(c.mode, c.file);
    ASSERT_EQ(r.Status, TFileResult::frConverted) << r.Message;
    EXPECT_EQ(r.Warning, "");
    const std::int64_t expected = DecodedFrames(c.file);
    ASSERT_GT(expected, 3 * 44100 * 95 / 100);
    EXPECT_NEAR(static_cast<double>(DecodedFrames(r.Output)), static_cast<double>(expected),
                static_cast<double>(c.tolerance));
    if (std::string(TargetExtension(c.mode)) == ".wav") {
      EXPECT_EQ(CaptureText("soxi -s '" + r.Output + "'"), std::to_string(expected) + "\n");
    }
  }
}

TEST_F(CoverArtInputTest, PictureWithoutAudioIsNotValid) {
  REQUIRE_COVER_FILES();
  const std::string pictureAndVideo = (dir / "picture-video.wma").string();
  WriteFileBytes(pictureAndVideo,
                 WithAsfHeaderObject(FileBytes(CoverFiles() / "video.wma"), kAsfExtendedContentDescription,
                                     AsfCoverAttribute(FileBytes(CoverFiles() / "cover.png"), "image/png")));
  ASSERT_EQ(StreamKinds(pictureAndVideo), "video,1\nvideo,0\n");
  // The MP3's ID3v2 tag alone: a picture and no frame.
  const Bytes apic = FileBytes(CoverFiles() / "apic.mp3");
  ASSERT_GT(apic.size(), 10u);
  const std::size_t tagSize = 10 + ((apic[6] & 0x7F) << 21 | (apic[7] & 0x7F) << 14 | (apic[8] & 0x7F) << 7 | (apic[9] & 0x7F));
  const std::string pictureOnly = (dir / "picture-only.mp3").string();
  WriteFileBytes(pictureOnly, Bytes(apic.begin(), apic.begin() + static_cast<std::ptrdiff_t>(tagSize)));
  const std::pair<TConversionMode, std::string> cases[] = {
      {TConversionMode::cmWmaToWav, pictureAndVideo}, {TConversionMode::cmWmaToMp3, pictureAndVideo},
      {TConversionMode::cmMp3ToWav, pictureOnly},     {TConversionMode::cmMp3ToWma, pictureOnly},
  };
  for (const auto& [mode, file] : cases) {
    SCOPED_TRACE(file + " to " + TargetExtension(mode));
    const TFileResult r = Convert(mode, file);
    EXPECT_EQ(r.Status, TFileResult::frFailed);
    EXPECT_EQ(r.Message.rfind("not a valid ", 0), 0u) << r.Message;
    EXPECT_TRUE(fs::is_empty(out)) << "no output for a file without audio";
  }
}

}  // namespace
}  // namespace melvanto::testing
