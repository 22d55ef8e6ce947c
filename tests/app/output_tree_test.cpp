// Outputs below the output folder: named from a WAV source's own tags, and an output folder
// that cannot be made, as the window's batches meet them too.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "runner_fixture.h"

namespace melvanto::testing {
namespace {

namespace fs = std::filesystem;

// A pattern the parser takes.
TNamePattern Pattern(const std::string& text) {
  std::string problem;
  return ParseNamePattern(text, problem).value();
}

// With --same-folder the pattern's folders go below each input's own folder, and the tree a
// file was found in plays no part.
TEST_F(RunnerTest, NamesFromAWavSourcesInfoTagsBelowItsOwnFolder) {
  REQUIRE_SOURCES();
  fs::create_directories(dir / "in");
  const std::string wav = (dir / "in" / "take.wav").string();
  ASSERT_TRUE(Shell("ffmpeg -nostdin -v error -y -i '" + Src("src.wav") +
                    "' -metadata title=Ünïcode -metadata artist=WavArtist -metadata track=4 '" + wav + "'"));
  OptionsSetting.CommonOptions.SameAsInputFolder = true;
  auto batch = std::make_shared<TBatchFiles>();
  const std::string plain = (dir / "in" / "plain.wav").string();
  fs::copy_file(Src("src.wav"), plain);
  batch->Files = {wav, plain};
  batch->Subfolders = {"found/in/", "found/"};
  batch->NamePattern = Pattern("{artist}/{track:02} {title}");
  TStepLoop loop;
  TestView view(loop);
  TConversionRunner runner(view, batch, Context());
  runner.SetMode(TConversionMode::cmWavToMp3);
  view.runner = &runner;
  loop.RunUntil([&] { return view.closed; });

  ASSERT_EQ(view.finished.size(), 2u);
  const std::string named = (dir / "in" / "WavArtist" / "04 Ünïcode.mp3").string();
  EXPECT_EQ(view.finished[0].Output, named);
  EXPECT_EQ(view.finished[0].Status, TFileResult::frConverted) << view.finished[0].Message;
  EXPECT_EQ(Value(ProbeFacts(named), "TAG:artist"), "WavArtist");
  // No tags to name it by: beside its input under its own name, as without a pattern.
  EXPECT_EQ(view.finished[1].Output, (dir / "in" / "plain.mp3").string());
  EXPECT_EQ(view.finished[1].Status, TFileResult::frConverted) << view.finished[1].Message;
}

TEST_F(RunnerTest, AnOutputFolderThatCannotBeMadeFailsEachFileAndWritesNothing) {
  REQUIRE_SOURCES();
  const fs::path file = dir / "a file";
  std::ofstream(file) << "not a folder";
  OptionsSetting.CommonOptions.OutputFolder = (file / "out").string();
  Batch batch(TConversionMode::cmWavToWav, {Src("src.wav"), Src("src24.wav")}, Context());
  const auto& results = batch.Run();
  ASSERT_EQ(results.size(), 2u);
  for (const TFileResult& r : results) {
    EXPECT_EQ(r.Status, TFileResult::frFailed);
    EXPECT_EQ(r.Message.rfind("cannot create the output folder " + (file / "out").string() + ": ", 0), 0u)
        << r.Message;
  }
  EXPECT_EQ(ReadText(file.string()), "not a folder");
}

}  // namespace
}  // namespace melvanto::testing
