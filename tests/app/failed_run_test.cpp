// What a failed run leaves of its output: the final name exactly as it was before (an append
// cut back byte for byte, an existing output kept, a new one never there), and no temporary
// file. Writes are broken half way by a lowered file-size limit, as on a full disk.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "file_size_limit.h"
#include "lame_enc.h"
#include "runner_fixture.h"

namespace melvanto::testing {
namespace {

namespace fs = std::filesystem;

// The MP3 output refuses to begin, before it opens its file, while LAME cannot be loaded.
class LameMissing {
 public:
  LameMissing() { SetLameLibraryNameForTesting("libmelvanto-no-such-lame.so"); }
  ~LameMissing() { SetLameLibraryNameForTesting("libmp3lame.so.0"); }
  LameMissing(const LameMissing&) = delete;
  LameMissing& operator=(const LameMissing&) = delete;
};

// Another program puts a file of its own in path's place, as editors save: a new file
// renamed over the old one.
void ReplaceBySomeoneElse(const fs::path& path, const std::string& text) {
  const fs::path other = path.string() + ".other";
  WriteText(other, text);
  fs::rename(other, path);
}

TEST_F(RunnerTest, FailedAppendKeepsTheUsersFile) {
  REQUIRE_SOURCES();
  TRunnerContext appending = Context();
  appending.Wave.Append = true;

  // A WAV file of another format (16 bits where the input has 24): refused before a byte is
  // written, and no question, as appending is what the existing file is there for.
  fs::copy_file(Src("src.wav"), out / "src24.wav");
  const Bytes other = ReadBytes(out / "src24.wav");
  {
    Batch batch(TConversionMode::cmWavToWav, {Src("src24.wav")}, appending);
    const auto& results = batch.Run();
    ASSERT_EQ(results.size(), 1u);
    EXPECT_EQ(results[0].Status, TFileResult::frFailed);
    EXPECT_TRUE(batch.view.questions.empty());
    EXPECT_EQ(ReadBytes(out / "src24.wav"), other);
  }

  // A file it can append to, whose writing breaks half way: cut back to the user's bytes.
  fs::copy_file(Src("src.wav"), out / "src.wav");
  const Bytes own = ReadBytes(out / "src.wav");
  Batch batch(TConversionMode::cmWavToWav, {Src("src.wav")}, appending);
  std::vector<TFileResult> results;
  {
    const FileSizeLimit limit(own.size() + 64 * 1024);
    results = batch.Run();
  }
  ASSERT_EQ(results.size(), 1u);
  EXPECT_EQ(results[0].Status, TFileResult::frFailed);
  EXPECT_TRUE(batch.view.questions.empty());
  ASSERT_TRUE(fs::exists(out / "src.wav")) << "a failed append removed the user's file";
  EXPECT_EQ(ReadBytes(out / "src.wav"), own) << "the append was not undone";
}

// What a killed append leaves: the old header, then more audio than it states.
TEST_F(RunnerTest, AppendToAFileACutOffAppendLeftIsRefusedWithTheRepair) {
  REQUIRE_SOURCES();
  ASSERT_TRUE(Shell("ffmpeg -nostdin -v error -y -i '" + Src("src.wav") + "' -f s16le -c:a pcm_s16le '" +
                    (dir / "raw.pcm").string() + "'"));
  const Bytes raw = ReadBytes(dir / "raw.pcm");
  Bytes cut = ReadBytes(Src("src.wav"));
  cut.insert(cut.end(), raw.begin(), raw.begin() + 4000);
  {
    std::ofstream(out / "src.wav", std::ios::binary)
        .write(reinterpret_cast<const char*>(cut.data()), static_cast<std::streamsize>(cut.size()));
  }
  TRunnerContext appending = Context();
  appending.Wave.Append = true;
  Batch batch(TConversionMode::cmWavToWav, {Src("src.wav")}, appending);
  const auto& results = batch.Run();
  ASSERT_EQ(results.size(), 1u);
  EXPECT_EQ(results[0].Status, TFileResult::frFailed);
  EXPECT_NE(results[0].Message.find("Convert it with wav-wav to a new file"), std::string::npos)
      << results[0].Message;
  EXPECT_EQ(ReadBytes(out / "src.wav"), cut);
}

TEST_F(RunnerTest, FailedRunThatNeverOpenedAnExistingOutputLeavesItAlone) {
  REQUIRE_SOURCES();
  WriteText(dir / "corrupt.wav", std::string(4000, 'x'));
  const std::string corrupt = "the user's corrupt.mp3", refused = "the user's src.mp3",
                    kept = "the user's src24.mp3";
  WriteText(out / "corrupt.mp3", corrupt);
  WriteText(out / "src.mp3", refused);
  WriteText(out / "src24.mp3", kept);
  // An input that is not audio fails before the question; src.mp3 is answered Yes and the
  // encoder then refuses to begin; src24.mp3 is answered No.
  Batch batch(TConversionMode::cmWavToMp3, {(dir / "corrupt.wav").string(), Src("src.wav"), Src("src24.wav")},
              Context());
  batch.view.answer = [&](const std::string& output) { return output == Out("src.mp3"); };
  std::vector<TFileResult> results;
  {
    const LameMissing lame;
    results = batch.Run();
  }
  ASSERT_EQ(results.size(), 3u);
  EXPECT_EQ(results[0].Status, TFileResult::frFailed);
  EXPECT_EQ(results[0].Message, "not a valid WAV file");
  EXPECT_EQ(results[1].Status, TFileResult::frFailed);
  EXPECT_NE(results[1].Message.find("could not be loaded"), std::string::npos) << results[1].Message;
  EXPECT_EQ(results[2].Status, TFileResult::frSkipped);
  EXPECT_EQ(batch.view.questions.size(), 2u);
  EXPECT_EQ(ReadText(out / "corrupt.mp3"), corrupt);
  EXPECT_EQ(ReadText(out / "src.mp3"), refused) << "a Yes alone does not remove a file the run never wrote";
  EXPECT_EQ(ReadText(out / "src24.mp3"), kept);
}

TEST_F(RunnerTest, FailedRunRemovesItsOutputOnlyWhenItCreatedOrChangedIt) {
  REQUIRE_SOURCES();
  {
    // A new output and one to be replaced after a Yes, both broken half way: the new one never
    // appears, the old one stays.
    WriteText(out / "src24.wav", "allowed overwrite");
    Batch batch(TConversionMode::cmWavToWav, {Src("src.wav"), Src("src24.wav")}, Context());
    std::vector<TFileResult> results;
    {
      const FileSizeLimit limit(64 * 1024);
      results = batch.Run();
    }
    ASSERT_EQ(results.size(), 2u);
    EXPECT_EQ(results[0].Status, TFileResult::frFailed);
    EXPECT_EQ(results[1].Status, TFileResult::frFailed);
    EXPECT_EQ(batch.view.questions.size(), 1u);
    EXPECT_FALSE(fs::exists(out / "src.wav")) << "the broken file this run created";
    EXPECT_EQ(ReadText(out / "src24.wav"), "allowed overwrite") << "only a finished file replaces it";
    EXPECT_EQ(std::distance(fs::directory_iterator(out), fs::directory_iterator()), 1)
        << "a temporary file left";
  }
  {
    // Someone else replaces the file while the question waits; the Yes is given, and the run
    // fails before it opens the file: what is there now was never this run's to remove.
    WriteText(out / "src.mp3", "asked about");
    Batch batch(TConversionMode::cmWavToMp3, {Src("src.wav")}, Context());
    batch.view.answer = [&](const std::string& output) {
      ReplaceBySomeoneElse(output, "someone else's");
      return true;
    };
    std::vector<TFileResult> results;
    {
      const LameMissing lame;
      results = batch.Run();
    }
    ASSERT_EQ(results.size(), 1u);
    EXPECT_EQ(results[0].Status, TFileResult::frFailed);
    EXPECT_EQ(ReadText(out / "src.mp3"), "someone else's");
  }
  {
    // Someone else replaces the file while the run writes it, and the run then breaks: the run
    // never wrote under that name, so the other program's file stays.
    WriteText(out / "long.wav", "allowed overwrite");
    Batch batch(TConversionMode::cmWavToWav, {Src("long.wav")}, Context());
    bool replaced = false, replacedBeforeTheEnd = false;
    batch.view.onProgress = [&](std::int32_t p) {
      if (p > 0 && !replaced) {
        replaced = true;
        ReplaceBySomeoneElse(out / "long.wav", "someone else's");
      }
    };
    batch.view.onFinished = [&](const TFileResult&) { replacedBeforeTheEnd = replaced; };
    std::vector<TFileResult> results;
    {
      const FileSizeLimit limit(1024 * 1024);
      results = batch.Run();
    }
    ASSERT_EQ(results.size(), 1u);
    EXPECT_EQ(results[0].Status, TFileResult::frFailed);
    ASSERT_TRUE(replacedBeforeTheEnd) << "the run broke before the file could be replaced";
    EXPECT_EQ(ReadText(out / "long.wav"), "someone else's");
  }
}

}  // namespace
}  // namespace melvanto::testing
