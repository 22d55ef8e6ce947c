// Damaged inputs that still decode in part: the file is converted, and its result says how
// much of it could be read.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>

#include "damaged_files.h"
#include "require_tool.h"
#include "runner_fixture.h"

namespace melvanto::testing {
namespace {

namespace fs = std::filesystem;

// Five-second sources from ffmpeg, sox and lame (with its Info frame, VBR, and without the
// frame), copied per test before they are damaged.
const MadeFiles& FiveSecondFiles() {
  const std::string ff = "ffmpeg -nostdin -v error -y -f lavfi -i 'sine=f=440:d=5:r=44100' -ac 2 ";
  static const MadeFiles files(
      HaveTool("ffmpeg") && HaveMp3Encoder() && HaveTool("sox") && HaveTool("lame"),
      ff + "-c:a pcm_s16le five.wav && " + ff + "-c:a libmp3lame -b:a 128k five.mp3 && " + ff +
          "-c:a wmav2 -b:a 128k five.wma && " + "sox five.wav -e ima-adpcm five-ima.wav && " +
          "lame --quiet five.wav five-lame.mp3 && lame --quiet -V 4 five.wav five-vbr.mp3 && " +
          "lame --quiet -t five.wav five-noinfo.mp3 && lame --quiet -m m -b 64 --resample 22.05 five.wav "
          "five-mono22.mp3");
  return files;
}

class DamagedInputTest : public RunnerTest {
 protected:
  // A copy of a five-second source under the test's own folder, by another name.
  std::string Copy(const std::string& name, const std::string& as) {
    const std::string copy = (dir / as).string();
    fs::copy_file(FiveSecondFiles() / name, copy);
    return copy;
  }
  TFileResult Convert(TConversionMode mode, const std::string& file) {
    Batch batch(mode, {file}, Context());
    const auto& results = batch.Run();
    EXPECT_EQ(results.size(), 1u);
    return results.empty() ? TFileResult{} : results[0];
  }
};

#define REQUIRE_FIVE_SECOND_FILES() \
  REQUIRE_SOURCES();                \
  MELVANTO_REQUIRE_COMMAND("sox");  \
  MELVANTO_REQUIRE_COMMAND("lame"); \
  ASSERT_TRUE(FiveSecondFiles().Ready()) << "the five-second files could not be made"

TEST_F(DamagedInputTest, InputsThatEndEarlyAreConvertedWithTheShortfallSaid) {
  REQUIRE_FIVE_SECOND_FILES();
  const std::string packetless = Copy("five.wma", "packetless.wma");
  ASSERT_TRUE(ZeroAsfPacketSize(packetless));
  const std::string halfWav = Copy("five.wav", "half.wav");
  TruncateToHalf(halfWav);
  // An MP3 states its length in its Info frame; a download cut short, or frames zeroed by
  // a disk, leave less to decode. An ASF header states its play time.
  const std::string cutMp3 = Copy("five-lame.mp3", "cut.mp3");
  fs::resize_file(cutMp3, 40000);
  const std::string zeroedMp3 = Copy("five-lame.mp3", "zeroed.mp3");
  Bytes zeroed = FileBytes(zeroedMp3);
  std::fill(zeroed.begin() + 20000, zeroed.end(), 0);
  WriteFileBytes(zeroedMp3, zeroed);
  const std::string halfWma = Copy("five.wma", "half.wma");
  TruncateToHalf(halfWma);
  struct Case {
    TConversionMode mode;
    std::string file;
    std::string read;  // the seconds read, as the warning says them; empty: any
  };
  const Case cases[] = {
      {TConversionMode::cmWmaToWav, packetless, "0.0"},
      {TConversionMode::cmWmaToMp3, packetless, "0.0"},
      {TConversionMode::cmWavToMp3, halfWav, "2.5"},
      {TConversionMode::cmWavToWav, halfWav, "2.5"},
      {TConversionMode::cmMp3ToWav, cutMp3, "2.5"},
      {TConversionMode::cmMp3ToWma, cutMp3, "2.5"},
      {TConversionMode::cmMp3ToWav, zeroedMp3, ""},
      {TConversionMode::cmWmaToWav, halfWma, ""},
      {TConversionMode::cmWmaToMp3, halfWma, ""},
  };
  const std::string tail = " s of 5.0 s of audio could be read; the input is damaged";
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file + " to " + TargetExtension(c.mode));
    fs::remove_all(out);
    fs::create_directories(out);
    const TFileResult r = Convert(c.mode, c.file);
    EXPECT_EQ(r.Status, TFileResult::frConverted) << r.Message;
    if (!c.read.empty()) {
      EXPECT_EQ(r.Warning, c.read + tail);
    } else {
      EXPECT_TRUE(r.Warning.ends_with(tail) && r.Warning.size() < tail.size() + 4) << r.Warning;
    }
  }
}

TEST_F(DamagedInputTest, DamagedAdpcmBlocksAreCounted) {
  REQUIRE_FIVE_SECOND_FILES();
  const std::string one = Copy("five-ima.wav", "one-ima.wav");
  ASSERT_TRUE(DamageImaBlock(one, 3));
  const TFileResult r = Convert(TConversionMode::cmWavToWav, one);
  EXPECT_EQ(r.Status, TFileResult::frConverted) << r.Message;
  EXPECT_EQ(r.Warning, "the input is damaged: 1 of its blocks was decoded clamped or as silence");

  // The count is the file's own: the next, whole file of the batch says nothing.
  const std::string two = (dir / "two-ima.wav").string();
  fs::copy_file(one, two);
  ASSERT_TRUE(DamageImaBlock(two, 7));
  fs::remove_all(out);
  fs::create_directories(out);
  Batch batch(TConversionMode::cmWavToMp3, {two, FiveSecondFiles() / "five-ima.wav"}, Context());
  const auto& results = batch.Run();
  ASSERT_EQ(results.size(), 2u);
  EXPECT_EQ(results[0].Warning, "the input is damaged: 2 of its blocks were decoded clamped or as silence");
  EXPECT_EQ(results[1].Status, TFileResult::frConverted) << results[1].Message;
  EXPECT_EQ(results[1].Warning, "");
}

TEST_F(DamagedInputTest, WholeFilesNeverWarn) {
  REQUIRE_FIVE_SECOND_FILES();
  const std::pair<TConversionMode, std::string> cases[] = {
      {TConversionMode::cmWavToMp3, FiveSecondFiles() / "five.wav"},
      {TConversionMode::cmWavToWma, FiveSecondFiles() / "five.wav"},
      {TConversionMode::cmMp3ToWav, FiveSecondFiles() / "five.mp3"},
      {TConversionMode::cmMp3ToWma, FiveSecondFiles() / "five.mp3"},
      {TConversionMode::cmWmaToWav, FiveSecondFiles() / "five.wma"},
      {TConversionMode::cmWmaToMp3, FiveSecondFiles() / "five.wma"},
      {TConversionMode::cmWavToWav, FiveSecondFiles() / "five-ima.wav"},
      {TConversionMode::cmWavToMp3, Src("long.wav")},
      {TConversionMode::cmMp3ToWav, FiveSecondFiles() / "five-lame.mp3"},
      {TConversionMode::cmMp3ToWma, FiveSecondFiles() / "five-vbr.mp3"},
      {TConversionMode::cmMp3ToWav, FiveSecondFiles() / "five-vbr.mp3"},
      {TConversionMode::cmMp3ToWav, FiveSecondFiles() / "five-noinfo.mp3"},
      {TConversionMode::cmMp3ToWav, FiveSecondFiles() / "five-mono22.mp3"},
  };
  for (const auto& [mode, file] : cases) {
    SCOPED_TRACE(file + " to " + TargetExtension(mode));
    fs::remove_all(out);
    fs::create_directories(out);
    const TFileResult r = Convert(mode, file);
    EXPECT_EQ(r.Status, TFileResult::frConverted) << r.Message;
    EXPECT_EQ(r.Warning, "");
  }
}

}  // namespace
}  // namespace melvanto::testing
