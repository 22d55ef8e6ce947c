// The conversion runner driven through a window-less view: every direction end to end on
// files made by ffmpeg and checked with ffprobe, naming, the overwrite question, Stop,
// failures and the tags the outputs carry.

#include <gtest/gtest.h>
#include <sys/mount.h>

#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "conversion_mode.h"
#include "id3.h"
#include "runner_fixture.h"
#include "settings_apply.h"

namespace melvanto::testing {
namespace {

namespace fs = std::filesystem;

TEST(ConversionNames, OutputNameReplacesOnlyTheNamesExtension) {
  EXPECT_EQ(OutputFileName("/out", "/in/song.wav", ".mp3"), "/out/song.mp3");
  EXPECT_EQ(OutputFileName("/out/", "/in/song.wav", ".mp3"), "/out/song.mp3") << "no doubled slash";
  EXPECT_EQ(OutputFileName("/out", "/in/a.b.c.wav", ".mp3"), "/out/a.b.c.mp3");
  EXPECT_EQ(OutputFileName("/out", "/in/noext", ".wma"), "/out/noext.wma");
  EXPECT_EQ(OutputFileName("/out", "/in.d/noext", ".wma"), "/out/noext.wma")
      << "a folder's dot is no extension";
  EXPECT_EQ(OutputFileName("/out", "/in/.hidden", ".wav"), "/out/.hidden.wav")
      << "a leading dot names the file";
  EXPECT_EQ(OutputFileName("/out", "/in/.hidden.wav", ".mp3"), "/out/.hidden.mp3");
  EXPECT_EQ(OutputFileName("/out", "/in/trailing.", ".mp3"), "/out/trailing.mp3");
  EXPECT_EQ(OutputFileName("", "song.wav", ".mp3"), "song.mp3")
      << "an empty folder is the current one, not /";
  EXPECT_EQ(OutputFileName("/", "/in/song.wav", ".mp3"), "/song.mp3");

  EXPECT_EQ(NameWithoutFolder("/a.b/c.d"), "c.d");
  EXPECT_EQ(NameWithoutFolder("bare"), "bare");
  EXPECT_EQ(NameWithoutExtension("/a.b/c"), "c");
  EXPECT_EQ(NameWithoutExtension("/x/c.tar.gz"), "c.tar");
  EXPECT_EQ(FolderOf("/a.b/c.d"), "/a.b/");
  EXPECT_EQ(FolderOf("/c.d"), "/");
  EXPECT_EQ(FolderOf("c.d"), "./");
}

TEST(ConversionNames, DirectionTable) {
  struct Row {
    std::int32_t value;
    TSourceFormat source;
    TTargetFormat target;
    std::string extension;
  } rows[] = {
      {2, TSourceFormat::sfWav, TTargetFormat::tfMp3, ".mp3"},
      {4, TSourceFormat::sfWav, TTargetFormat::tfWma, ".wma"},
      {7, TSourceFormat::sfMp3, TTargetFormat::tfWav, ".wav"},
      {8, TSourceFormat::sfWma, TTargetFormat::tfWav, ".wav"},
      {9, TSourceFormat::sfMp3, TTargetFormat::tfWma, ".wma"},
      {10, TSourceFormat::sfWma, TTargetFormat::tfMp3, ".mp3"},
      {11, TSourceFormat::sfWav, TTargetFormat::tfWav, ".wav"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.value);
    const auto mode = ConversionModeFromValue(r.value);
    ASSERT_TRUE(mode.has_value());
    EXPECT_EQ(static_cast<std::int32_t>(*mode), r.value);
    EXPECT_EQ(SourceFormatOf(*mode), r.source);
    EXPECT_EQ(TargetFormatOf(*mode), r.target);
    EXPECT_EQ(TargetExtension(*mode), r.extension);
  }
  for (std::int32_t v : {0, 1, 3, 5, 6, 12, -2}) EXPECT_FALSE(ConversionModeFromValue(v).has_value()) << v;
}

TEST_F(RunnerTest, ConstructorShowsTheBatchAndWaitsForTheLoop) {
  TStepLoop loop;
  TestView view(loop);
  TConversionRunner runner(view, {"/nowhere/a.wav", "/nowhere/b.wav", "/nowhere/c.wav"}, Context());
  view.runner = &runner;
  EXPECT_EQ(view.labels["caption"], "Melvanto");
  EXPECT_EQ(view.labels["hint"], "Encoding...");
  EXPECT_EQ(view.labels["selected"], "3");
  EXPECT_EQ(runner.FileIndex(), 0) << "the first step only runs from the loop, after Mode is set";
  EXPECT_EQ(runner.Components().WaveOut1.BlockSize(), 512);
  EXPECT_EQ(runner.Components().WaveOut1.FileMode(), TFileOutputMode::foRewrite);
  EXPECT_EQ(runner.Components().MP3Out1.Input(), &runner.Components().WaveIn1);
  EXPECT_EQ(runner.Components().WMAOut1.Input(), &runner.Components().WaveIn1);
  EXPECT_EQ(runner.Components().WMAOut1.DesiredBitrate(), 128u);
  EXPECT_EQ(runner.Components().MP3Out1.BitRate(), TMP3BitRate::mbr128);
  EXPECT_EQ(runner.Components().MP3In1.OutputChannels(), TChannelsNumber::cnMonoOrStereo);

  // Three missing files: each fails on its own, and the batch still reaches its end.
  loop.RunUntil([&] { return view.closed; });
  ASSERT_EQ(runner.Results().size(), 3u);
  for (const TFileResult& r : runner.Results()) {
    EXPECT_EQ(r.Status, TFileResult::frFailed);
    EXPECT_EQ(r.Message, "file not found");
  }
  EXPECT_EQ(view.labels["completed"], "2");
  EXPECT_TRUE(runner.Files().empty()) << "closing frees the list";
  EXPECT_TRUE(runner.Closed());
  EXPECT_TRUE(fs::is_empty(out)) << "nothing was opened for writing";
}

struct Direction {
  TConversionMode mode;
  std::string source;
  std::string format;  // ffprobe's format_name
};

TEST_F(RunnerTest, EveryDirectionEndToEnd) {
  REQUIRE_SOURCES();
  const Direction directions[] = {
      {TConversionMode::cmWavToMp3, "src.wav", "mp3"},   {TConversionMode::cmWavToWma, "src.wav", "asf"},
      {TConversionMode::cmMp3ToWav, "one.mp3", "wav"},   {TConversionMode::cmWmaToWav, "one.wma", "wav"},
      {TConversionMode::cmMp3ToWma, "one.mp3", "asf"},   {TConversionMode::cmWmaToMp3, "one.wma", "mp3"},
      {TConversionMode::cmWavToWav, "src24.wav", "wav"},
  };
  for (const Direction& d : directions) {
    SCOPED_TRACE(TargetExtension(d.mode) + std::string(" from ") + d.source);
    fs::remove_all(out);
    fs::create_directories(out);
    Batch batch(d.mode, {Src(d.source)}, Context());
    const auto& results = batch.Run();
    ASSERT_EQ(results.size(), 1u);
    EXPECT_EQ(results[0].Status, TFileResult::frConverted) << results[0].Message;
    EXPECT_EQ(results[0].Warning, "");
    const std::string output = OutputFileName(out.string(), d.source, TargetExtension(d.mode));
    EXPECT_EQ(results[0].Output, output);
    EXPECT_EQ(batch.view.labels["output"], NameWithoutFolder(output));
    EXPECT_EQ(batch.view.labels["folder"], out.string());
    const std::string facts = ProbeFacts(output);
    EXPECT_EQ(Value(facts, "format_name"), d.format) << facts;
    EXPECT_EQ(Value(facts, "channels"), "2");
    EXPECT_EQ(Value(facts, "sample_rate"), "44100");
    // Two seconds, give or take two of the longest codec frames (WMA's 2,048 samples).
    EXPECT_NEAR(std::atof(Value(facts, "duration").c_str()), 2.0, 2 * 2048.0 / 44100) << facts;
    EXPECT_TRUE(batch.view.questions.empty());
  }
}

// Two files of one batch with one output name: the first is asked about the file that was
// there before and converts; the second fails naming the first, asked nothing.
TEST_F(RunnerTest, SameNameInTwoFoldersFailsTheSecondNamingTheFirst) {
  REQUIRE_SOURCES();
  fs::create_directories(dir / "a.d");
  fs::create_directories(dir / "b.d");
  fs::copy_file(Src("src.wav"), dir / "a.d" / "x.y.wav");
  fs::copy_file(Src("src.wav"), dir / "b.d" / "x.y.wav");
  fs::copy_file(Src("src.wav"), dir / "b.d" / "noext");
  Batch batch(TConversionMode::cmWavToWma,
              {(dir / "a.d" / "x.y.wav").string(), (dir / "b.d" / "x.y.wav").string(),
               (dir / "b.d" / "noext").string()},
              Context());
  WriteText(out / "x.y.wma", "old");
  const auto& results = batch.Run();
  ASSERT_EQ(results.size(), 3u);
  EXPECT_EQ(results[0].Status, TFileResult::frConverted);
  EXPECT_EQ(results[1].Status, TFileResult::frFailed);
  EXPECT_EQ(results[1].Message,
            "the output file is also the output of " + (dir / "a.d" / "x.y.wav").string());
  EXPECT_EQ(results[2].Status, TFileResult::frConverted);
  EXPECT_EQ(results[2].Output, Out("noext.wma"));
  ASSERT_EQ(batch.view.questions.size(), 1u);
  EXPECT_EQ(batch.view.questions[0], Out("x.y.wma") + " already exists. Replace it?");
  EXPECT_EQ(Value(ProbeFacts(Out("noext.wma")), "format_name"), "asf");
  EXPECT_EQ(Value(ProbeFacts(Out("x.y.wma")), "format_name"), "asf");
}

TEST_F(RunnerTest, AnsweringNoForEveryFileLeavesThemAsTheyWere) {
  REQUIRE_SOURCES();
  WriteText(out / "src.mp3", "the user's own file");
  WriteText(out / "src24.mp3", "another file of the user's");
  fs::create_directories(dir / "again");
  fs::copy_file(Src("src.wav"), dir / "again" / "src.wav");
  Batch batch(TConversionMode::cmWavToMp3,
              {Src("src.wav"), Src("src24.wav"), (dir / "again" / "src.wav").string()}, Context());
  batch.view.answer = [](const std::string&) { return false; };
  const auto& results = batch.Run();
  ASSERT_EQ(batch.view.questions.size(), 2u);
  ASSERT_EQ(results.size(), 3u);
  for (std::size_t i = 0; i < 2; ++i) {
    EXPECT_EQ(results[i].Status, TFileResult::frSkipped);
    EXPECT_EQ(results[i].Message, "the output file exists and was kept");
  }
  // The third's output is the first's, whatever the first did with it.
  EXPECT_EQ(results[2].Status, TFileResult::frFailed);
  EXPECT_EQ(results[2].Message, "the output file is also the output of " + Src("src.wav"));
  EXPECT_TRUE(batch.view.closed) << "the window closes after the last prompt";
  const std::string own = "the user's own file", other = "another file of the user's";
  EXPECT_EQ(ReadBytes(out / "src.mp3"), Bytes(own.begin(), own.end()));
  EXPECT_EQ(ReadBytes(out / "src24.mp3"), Bytes(other.begin(), other.end()));
}

TEST_F(RunnerTest, AnsweringYesReplacesTheFile) {
  REQUIRE_SOURCES();
  WriteText(out / "one.wav", "old");
  Batch batch(TConversionMode::cmMp3ToWav, {Src("one.mp3")}, Context());
  const auto& results = batch.Run();
  ASSERT_EQ(results.size(), 1u);
  EXPECT_EQ(results[0].Status, TFileResult::frConverted);
  EXPECT_EQ(batch.view.questions.size(), 1u);
  EXPECT_EQ(Value(ProbeFacts(Out("one.wav")), "format_name"), "wav");
}

TEST_F(RunnerTest, StopMidFileWritesNothingAndKeepsTheOldFile) {
  REQUIRE_SOURCES();
  // The slowest processor setting pauses between blocks, so the run is still going when
  // the first progress event arrives.
  OptionsSetting.CPU = 0;
  const std::string old = "the user's long.mp3, allowed to be replaced";
  WriteText(out / "long.mp3", old);
  Batch batch(TConversionMode::cmWavToMp3, {Src("long.wav"), Src("src.wav"), Src("src24.wav")}, Context());
  ASSERT_TRUE(batch.RunStoppedMidFile());
  const auto& results = batch.runner->Results();
  ASSERT_EQ(results.size(), 1u) << "the files after it were never started";
  EXPECT_EQ(results[0].Status, TFileResult::frStopped);
  EXPECT_EQ(results[0].Output, Out("long.mp3"));
  EXPECT_FALSE(fs::exists(out / "src.mp3"));
  EXPECT_FALSE(fs::exists(out / "src24.mp3"));
  EXPECT_EQ(results[0].Message, "stopped; nothing was written");
  EXPECT_EQ(ReadText(out / "long.mp3"), old) << "a stopped file never stands under the final name";
  EXPECT_EQ(std::distance(fs::directory_iterator(out), fs::directory_iterator()), 1)
      << "the temporary file is gone";
}

TEST_F(RunnerTest, BadInputsFailOneByOneAndTheBatchGoesOn) {
  REQUIRE_SOURCES();
  WriteText(dir / "corrupt.wav", std::string(4000, 'x'));
  fs::create_directories(dir / "folder.wav");
  Batch batch(TConversionMode::cmWavToMp3,
              {Src("src.wav"), (dir / "corrupt.wav").string(), (dir / "missing.wav").string(),
               (dir / "folder.wav").string(), Src("src24.wav")},
              Context());
  const auto& results = batch.Run();
  ASSERT_EQ(results.size(), 5u);
  EXPECT_EQ(results[0].Status, TFileResult::frConverted);
  EXPECT_EQ(results[1].Status, TFileResult::frFailed);
  EXPECT_EQ(results[1].Message, "not a valid WAV file");
  EXPECT_EQ(results[2].Status, TFileResult::frFailed);
  EXPECT_EQ(results[2].Message, "file not found");
  EXPECT_EQ(results[3].Status, TFileResult::frFailed);
  EXPECT_NE(results[3].Message.find("not a valid WAV file"), std::string::npos) << results[3].Message;
  EXPECT_EQ(results[4].Status, TFileResult::frConverted);
  EXPECT_FALSE(fs::exists(out / "corrupt.mp3")) << "no empty MP3 for a file that is not audio";
  EXPECT_FALSE(fs::exists(out / "missing.mp3"));
  EXPECT_FALSE(fs::exists(out / "folder.mp3"));
  EXPECT_EQ(Value(ProbeFacts(Out("src24.mp3")), "format_name"), "mp3");
  ASSERT_EQ(batch.view.finished.size(), 5u) << "the view hears of every file";
}

TEST_F(RunnerTest, UnrecognisedCompressedInputsNameTheirFormat) {
  REQUIRE_SOURCES();
  WriteText(dir / "junk.mp3", std::string(3000, '\0'));
  WriteText(dir / "junk.wma", "not a media file at all");
  Batch mp3(TConversionMode::cmMp3ToWav, {(dir / "junk.mp3").string()}, Context());
  ASSERT_EQ(mp3.Run().size(), 1u);
  EXPECT_EQ(mp3.runner->Results()[0].Message, "not a valid MP3 file");
  Batch wma(TConversionMode::cmWmaToMp3, {(dir / "junk.wma").string()}, Context());
  ASSERT_EQ(wma.Run().size(), 1u);
  EXPECT_EQ(wma.runner->Results()[0].Message, "not a valid WMA file");
  EXPECT_TRUE(fs::is_empty(out));
}

TEST_F(RunnerTest, OutputThatIsTheInputFailsAndLeavesTheInputAlone) {
  REQUIRE_SOURCES();
  fs::copy_file(Src("src.wav"), dir / "same.wav");
  fs::create_symlink(dir / "same.wav", out / "link.wav");
  const Bytes before = ReadBytes(dir / "same.wav");
  OptionsSetting.CommonOptions.SameAsInputFolder = true;
  // The second names the same file through a link: the output out/link.wav is the input.
  Batch batch(TConversionMode::cmWavToWav, {(dir / "same.wav").string(), Out("link.wav")}, Context());
  const auto& results = batch.Run();
  ASSERT_EQ(results.size(), 2u);
  for (const TFileResult& r : results) {
    EXPECT_EQ(r.Status, TFileResult::frFailed);
    EXPECT_EQ(r.Message, "the output file would overwrite the input file");
  }
  EXPECT_TRUE(batch.view.questions.empty()) << "refused before the overwrite question";
  EXPECT_EQ(ReadBytes(dir / "same.wav"), before);
}

// An input whose output is another input of the batch (by name, or the same file through a
// hard link) fails before anything is written, whether that input comes before or after it.
TEST_F(RunnerTest, AnOutputThatIsAnotherInputIsNeverWritten) {
  REQUIRE_SOURCES();
  fs::create_directories(dir / "a");
  fs::create_directories(dir / "c");
  fs::copy_file(Src("src24.wav"), dir / "a" / "x.wav");
  fs::copy_file(Src("src.wav"), out / "x.wav");
  fs::create_hard_link(out / "x.wav", dir / "c" / "linked.wav");
  const Bytes before = ReadBytes(out / "x.wav");
  const std::string a = (dir / "a" / "x.wav").string();
  const std::string self = "the output file would overwrite the input file";
  const std::string isInput = "the output file is also an input of this batch: ";
  struct Case {
    std::vector<std::string> files;
    std::vector<std::string> messages;
  };
  for (const Case& c : std::vector<Case>{
           {{a, Out("x.wav")}, {isInput + Out("x.wav"), self}},
           {{Out("x.wav"), a}, {self, isInput + Out("x.wav")}},
           {{a, (dir / "c" / "linked.wav").string()}, {isInput + (dir / "c" / "linked.wav").string(), ""}}}) {
    SCOPED_TRACE(c.files[0] + " then " + c.files[1]);
    fs::remove(out / "linked.wav");
    Batch batch(TConversionMode::cmWavToWav, c.files, Context());
    const auto& results = batch.Run();
    ASSERT_EQ(results.size(), 2u);
    for (std::size_t i = 0; i < 2; ++i) {
      EXPECT_EQ(results[i].Status, c.messages[i].empty() ? TFileResult::frConverted : TFileResult::frFailed);
      EXPECT_EQ(results[i].Message, c.messages[i]);
    }
    EXPECT_TRUE(batch.view.questions.empty());
    EXPECT_EQ(ReadBytes(out / "x.wav"), before);
  }
}

TEST_F(RunnerTest, FailedConversionRemovesOnlyWhatItWrote) {
  REQUIRE_SOURCES();
  // IMA ADPCM takes 16-bit input only: the writer creates its file, then refuses the 24-bit source.
  fs::create_directories(dir / "b");
  fs::copy_file(Src("src24.wav"), dir / "b" / "kept.wav");
  fs::copy_file(Src("src24.wav"), dir / "b" / "replaced.wav");
  WriteText(out / "kept.wav", "refused overwrite");
  WriteText(out / "replaced.wav", "allowed overwrite");
  Batch batch(TConversionMode::cmWavToWav,
              {Src("src24.wav"), (dir / "b" / "kept.wav").string(), (dir / "b" / "replaced.wav").string()},
              Context());
  batch.runner->Components().WaveOut1.SetWavType(TWavType::wtDVIADPCM);
  batch.view.answer = [&](const std::string& output) { return output == Out("replaced.wav"); };
  const auto& results = batch.Run();
  ASSERT_EQ(results.size(), 3u);
  EXPECT_EQ(results[0].Status, TFileResult::frFailed);
  EXPECT_FALSE(results[0].Message.empty());
  EXPECT_FALSE(fs::exists(out / "src24.wav")) << "the broken output this run created is gone";
  EXPECT_EQ(results[1].Status, TFileResult::frSkipped);
  const std::string kept = "refused overwrite";
  EXPECT_EQ(ReadBytes(out / "kept.wav"), Bytes(kept.begin(), kept.end()));
  EXPECT_EQ(results[2].Status, TFileResult::frFailed);
  const std::string allowed = "allowed overwrite";
  EXPECT_EQ(ReadBytes(out / "replaced.wav"), Bytes(allowed.begin(), allowed.end()))
      << "only a finished file replaces an old one";
  EXPECT_EQ(std::distance(fs::directory_iterator(out), fs::directory_iterator()), 2)
      << "no temporary file left";
}

TEST_F(RunnerTest, AppendModeNeverAsksAndNeverRemoves) {
  REQUIRE_SOURCES();
  WriteText(out / "src.wav", "RIFF but not really a wave file of any kind");
  const Bytes before = ReadBytes(out / "src.wav");
  Batch batch(TConversionMode::cmWavToWav, {Src("src.wav")}, Context());
  batch.runner->Components().WaveOut1.SetFileMode(TFileOutputMode::foAppend);
  const auto& results = batch.Run();
  ASSERT_EQ(results.size(), 1u);
  EXPECT_TRUE(batch.view.questions.empty());
  EXPECT_EQ(results[0].Status, TFileResult::frFailed) << "the writer cannot append to that";
  EXPECT_EQ(ReadBytes(out / "src.wav"), before);

  // Appending to a good file of the same format doubles it.
  fs::remove(out / "src.wav");
  fs::copy_file(Src("src.wav"), out / "src.wav");
  Batch again(TConversionMode::cmWavToWav, {Src("src.wav")}, Context());
  again.runner->Components().WaveOut1.SetFileMode(TFileOutputMode::foAppend);
  ASSERT_EQ(again.Run().size(), 1u);
  EXPECT_EQ(again.runner->Results()[0].Status, TFileResult::frConverted)
      << again.runner->Results()[0].Message;
  EXPECT_NEAR(std::atof(Value(ProbeFacts(Out("src.wav")), "duration").c_str()), 4.0, 0.01);
}

TEST_F(RunnerTest, AnErrorInsideAStepFailsThatFileAndMovesOn) {
  REQUIRE_SOURCES();
  Batch batch(TConversionMode::cmWavToWav, {Src("src.wav"), Src("src24.wav")}, Context());
  batch.view.onOutputName = [](const std::string& name) {
    if (name == "src.wav") throw std::runtime_error("the label could not be shown");
  };
  const auto& results = batch.Run();
  ASSERT_EQ(results.size(), 2u);
  EXPECT_EQ(results[0].Status, TFileResult::frFailed);
  EXPECT_EQ(results[0].Message, "the label could not be shown");
  EXPECT_FALSE(fs::exists(out / "src.wav"));
  EXPECT_EQ(results[1].Status, TFileResult::frConverted);
}

// Waits for a run started by a step driven by hand to end on the worker. The loop is not
// run, so its done event stays with the event thread until the runner is closed.
void WaitUntilIdle(const TAuOutput& output) {
  while (output.Busy()) std::this_thread::yield();
}

// Stop pressed just as a run ended, before its done event arrived: the file is reported as
// it ended, not as stopped.
TEST_F(RunnerTest, CloseAfterTheRunEndedByItselfReportsHowItEnded) {
  REQUIRE_SOURCES();
  TStepLoop loop;
  {
    // IMA ADPCM takes 16-bit input only: the run fails after creating its file.
    TestView view(loop);
    TConversionRunner runner(view, {Src("src24.wav")}, Context());
    runner.SetMode(TConversionMode::cmWavToWav);
    runner.Components().WaveOut1.SetWavType(TWavType::wtDVIADPCM);
    runner.BatchStep(TBatchStep::bsStart);
    ASSERT_TRUE(runner.Results().empty()) << "the run started";
    WaitUntilIdle(runner.Components().WaveOut1);
    runner.Close();
    ASSERT_EQ(runner.Results().size(), 1u);
    EXPECT_EQ(runner.Results()[0].Status, TFileResult::frFailed) << runner.Results()[0].Message;
    EXPECT_NE(runner.Results()[0].Message.find("stopped"), 0u);
    EXPECT_FALSE(fs::exists(out / "src24.wav")) << "a failed run's output, not a stopped one";
  }
  {
    TestView view(loop);
    TConversionRunner runner(view, {Src("src.wav")}, Context());
    runner.SetMode(TConversionMode::cmWavToWav);
    runner.BatchStep(TBatchStep::bsStart);
    ASSERT_TRUE(runner.Results().empty());
    WaitUntilIdle(runner.Components().WaveOut1);
    runner.Close();
    ASSERT_EQ(runner.Results().size(), 1u);
    EXPECT_EQ(runner.Results()[0].Status, TFileResult::frConverted) << runner.Results()[0].Message;
    EXPECT_NEAR(std::atof(Value(ProbeFacts(Out("src.wav")), "duration").c_str()), 2.0, 0.01);
  }
}

// Close may come from inside any call to the view; the step that made that call starts
// nothing afterwards.
TEST_F(RunnerTest, CloseFromInsideAViewCallStartsNothing) {
  REQUIRE_SOURCES();
  for (const bool fromInputName : {true, false}) {
    SCOPED_TRACE(fromInputName ? "input name" : "output name");
    fs::remove_all(out);
    fs::create_directories(out);
    TStepLoop loop;
    TestView view(loop);
    TConversionRunner runner(view, {Src("src.wav"), Src("src24.wav")}, Context());
    runner.SetMode(TConversionMode::cmWavToWav);
    view.runner = &runner;
    const auto close = [&](const std::string&) { runner.Close(); };
    if (fromInputName)
      view.onInputName = close;
    else
      view.onOutputName = close;
    runner.BatchStep(TBatchStep::bsStart);
    WaitUntilIdle(runner.Components().WaveOut1);
    ASSERT_EQ(runner.Results().size(), 1u);
    EXPECT_EQ(runner.Results()[0].Status, TFileResult::frStopped);
    EXPECT_TRUE(runner.Components().WaveOut1.ExceptionMessage().empty())
        << runner.Components().WaveOut1.ExceptionMessage();
    EXPECT_TRUE(fs::is_empty(out)) << "no file written after the close";
    EXPECT_EQ(view.finished.size(), 1u);
  }
}

// A view that fails to show a result does not end the batch, nor hold it up.
TEST_F(RunnerTest, AViewFailingToShowAResultLeavesTheBatchGoing) {
  REQUIRE_SOURCES();
  Batch batch(TConversionMode::cmWavToWav, {(dir / "missing.wav").string(), Src("src.wav"), Src("src24.wav")},
              Context());
  batch.view.onFinished = [](const TFileResult&) { throw std::runtime_error("the list is full"); };
  const auto& results = batch.Run();
  ASSERT_EQ(results.size(), 3u);
  EXPECT_EQ(results[0].Status, TFileResult::frFailed);
  EXPECT_EQ(results[1].Status, TFileResult::frConverted) << results[1].Message;
  EXPECT_EQ(results[2].Status, TFileResult::frConverted) << results[2].Message;
}

// A small file system of its own, unmounted when the test ends.
class TinyDisk {
 public:
  explicit TinyDisk(const fs::path& at) : path_(at) {
    fs::create_directories(at);
    mounted_ = ::mount("tmpfs", at.c_str(), "tmpfs", 0, "size=64k") == 0;
  }
  ~TinyDisk() {
    if (mounted_) ::umount2(path_.c_str(), MNT_DETACH);
  }
  bool Mounted() const { return mounted_; }

 private:
  fs::path path_;
  bool mounted_ = false;
};

TEST_F(RunnerTest, FullDiskIsNamedAndItsBrokenOutputRemoved) {
  REQUIRE_SOURCES();
  TinyDisk disk(dir / "tiny");
  if (!disk.Mounted()) GTEST_SKIP() << "mounting a small file system needs root";
  OptionsSetting.CommonOptions.OutputFolder = (dir / "tiny").string();
  // An old output, allowed to be replaced, that must outlive the failed replacement.
  const std::string old(20000, 'o');
  WriteText(dir / "tiny" / "src24.wav", old);
  // 2 s of 16-bit stereo PCM is about 350 KiB: more than the 64 KiB there.
  Batch batch(TConversionMode::cmWavToWav, {Src("src.wav"), Src("src24.wav")}, Context());
  const auto& results = batch.Run();
  ASSERT_EQ(results.size(), 2u);
  EXPECT_EQ(results[1].Status, TFileResult::frFailed);
  EXPECT_EQ(ReadText(dir / "tiny" / "src24.wav"), old);
  EXPECT_EQ(std::distance(fs::directory_iterator(dir / "tiny"), fs::directory_iterator()), 1)
      << "a temporary file left";
  EXPECT_EQ(results[0].Status, TFileResult::frFailed);
  EXPECT_EQ(results[0].Message.rfind("the disk is full: ", 0), 0u) << results[0].Message;
  EXPECT_GT(results[0].Message.size(), std::string("the disk is full: ").size())
      << "the writer's own words follow";
  EXPECT_FALSE(fs::exists(dir / "tiny" / "src.wav"));
}

// ---- tags ----

std::u16string U(const char* text) {
  std::u16string s;
  for (; *text != 0; ++text) s.push_back(static_cast<char16_t>(static_cast<unsigned char>(*text)));
  return s;
}

void FillTagInfo(TTagInfo& tags) {
  tags.Title = U("Batch Title");
  tags.Artist = U("Batch Artist");
  tags.Album = U("Batch Album");
  tags.Year = U("1999");
  tags.Track = U("7");
  tags.Comment = U("Batch Comment");
  // Spelt "Death Metal" in the list shown, "Death metal" in the ID3v1 table (code 22).
  tags.Genre = GenreIndex(u"Death Metal");
}

TEST_F(RunnerTest, BatchTagsReachMp3Outputs) {
  REQUIRE_SOURCES();
  FillTagInfo(TagInfo);
  Batch batch(TConversionMode::cmWavToMp3, {Src("src.wav")}, Context());
  ASSERT_EQ(batch.Run().size(), 1u);
  const std::string facts = ProbeFacts(Out("src.mp3"));
  EXPECT_EQ(Value(facts, "TAG:title"), "Batch Title") << facts;
  EXPECT_EQ(Value(facts, "TAG:artist"), "Batch Artist");
  EXPECT_EQ(Value(facts, "TAG:album"), "Batch Album");
  EXPECT_EQ(Value(facts, "TAG:genre"), "Death metal") << "the table's spelling";
  EXPECT_EQ(Value(facts, "TAG:date"), "1999");
  EXPECT_EQ(Value(facts, "TAG:track"), "7");

  // The ID3v1 record at the end.
  const Bytes mp3 = ReadBytes(out / "src.mp3");
  ASSERT_GT(mp3.size(), 128u);
  const std::string record(mp3.end() - 128, mp3.end());
  EXPECT_EQ(record.substr(0, 3), "TAG");
  EXPECT_EQ(record.substr(3, 11), "Batch Title");
  EXPECT_EQ(record.substr(93, 4), "1999");
  EXPECT_EQ(static_cast<unsigned char>(record[126]), 7u) << "track";
  EXPECT_EQ(static_cast<unsigned char>(record[127]), 22u) << "genre code";
}

TEST_F(RunnerTest, Mp3TitleDefaultsToTheOutputsName) {
  REQUIRE_SOURCES();
  TagInfo.Track = U("not a number");
  TagInfo.Genre = -1;
  fs::copy_file(Src("src.wav"), dir / "My Song.wav");
  Batch batch(TConversionMode::cmWavToMp3, {(dir / "My Song.wav").string()}, Context());
  ASSERT_EQ(batch.Run().size(), 1u);
  const std::string facts = ProbeFacts(Out("My Song.mp3"));
  EXPECT_EQ(Value(facts, "TAG:title"), "My Song") << facts;
  EXPECT_EQ(Value(facts, "TAG:genre"), "<none>");
  const Bytes mp3 = ReadBytes(out / "My Song.mp3");
  ASSERT_GT(mp3.size(), 128u);
  EXPECT_EQ(mp3[mp3.size() - 1], 255u) << "no genre";
  EXPECT_EQ(mp3[mp3.size() - 2], 0u) << "no track number";
}

TEST_F(RunnerTest, BatchTagsReachWmaOutputs) {
  REQUIRE_SOURCES();
  FillTagInfo(TagInfo);
  Batch batch(TConversionMode::cmWavToWma, {Src("src.wav")}, Context());
  ASSERT_EQ(batch.Run().size(), 1u);
  const std::string facts = ProbeFacts(Out("src.wma"));
  EXPECT_EQ(Value(facts, "TAG:title"), "Batch Title") << facts;
  EXPECT_EQ(Value(facts, "TAG:artist"), "Batch Artist");
  EXPECT_EQ(Value(facts, "TAG:album"), "Batch Album");
}

TEST_F(RunnerTest, WmaToMp3SeveralFilesCarryEachSourcesOwnTags) {
  REQUIRE_SOURCES();
  Batch batch(TConversionMode::cmWmaToMp3, {Src("one.wma"), Src("two.wma")}, Context());
  ASSERT_EQ(batch.Run().size(), 2u);
  const std::string one = ProbeFacts(Out("one.mp3")), two = ProbeFacts(Out("two.mp3"));
  EXPECT_EQ(Value(one, "TAG:title"), "WmOne") << one;
  EXPECT_EQ(Value(one, "TAG:artist"), "WmArtistOne");
  EXPECT_EQ(Value(one, "TAG:album"), "WmAlbum");
  EXPECT_EQ(Value(one, "TAG:genre"), "Blues");
  EXPECT_EQ(Value(two, "TAG:title"), "WmTwo") << two;
  EXPECT_EQ(Value(two, "TAG:artist"), "WmArtistTwo");
  EXPECT_EQ(Value(two, "TAG:album"), "<none>") << "nothing of the first file's";
  EXPECT_EQ(Value(two, "TAG:genre"), "Jazz");
}

TEST_F(RunnerTest, WmaToMp3WithOneTagSetGivesItToEveryFile) {
  REQUIRE_SOURCES();
  OptionsSetting.CommonOptions.IsSameTag = true;
  TagInfo.Artist = U("Everyone");
  Batch batch(TConversionMode::cmWmaToMp3, {Src("one.wma"), Src("two.wma")}, Context());
  ASSERT_EQ(batch.Run().size(), 2u);
  const std::string one = ProbeFacts(Out("one.mp3")), two = ProbeFacts(Out("two.mp3"));
  EXPECT_EQ(Value(one, "TAG:artist"), "Everyone") << one;
  EXPECT_EQ(Value(two, "TAG:artist"), "Everyone") << two;
  EXPECT_EQ(Value(one, "TAG:title"), "one") << "the title field is off for several files";
  EXPECT_EQ(Value(two, "TAG:title"), "two");
}

TEST_F(RunnerTest, Mp3ToWmaSeveralFilesCarryEachSourcesOwnTags) {
  REQUIRE_SOURCES();
  Batch batch(TConversionMode::cmMp3ToWma, {Src("one.mp3"), Src("two.mp3")}, Context());
  ASSERT_EQ(batch.Run().size(), 2u);
  const std::string one = ProbeFacts(Out("one.wma")), two = ProbeFacts(Out("two.wma"));
  EXPECT_EQ(Value(one, "TAG:title"), "MpOne") << one;
  EXPECT_EQ(Value(one, "TAG:artist"), "MpArtistOne");
  EXPECT_EQ(Value(two, "TAG:title"), "MpTwo") << two;
  EXPECT_EQ(Value(two, "TAG:artist"), "MpArtistTwo");
  EXPECT_EQ(Value(two, "TAG:album"), "<none>");
}

TEST_F(RunnerTest, OneFileBatchTakesItsTagsFromTheSource) {
  REQUIRE_SOURCES();
  PrepareBatchTags({Src("one.wma")}, TConversionMode::cmWmaToMp3, TagInfo);
  EXPECT_EQ(TagInfo.Title, u"WmOne");
  EXPECT_EQ(TagInfo.Artist, u"WmArtistOne");
  EXPECT_EQ(TagInfo.Album, u"WmAlbum");
  EXPECT_EQ(TagInfo.Genre, GenreIndex(u"Blues"));
  EXPECT_EQ(TagInfo.Year, u"2011");
  EXPECT_EQ(TagInfo.Track, u"12");
  Batch batch(TConversionMode::cmWmaToMp3, {Src("one.wma")}, Context());
  ASSERT_EQ(batch.Run().size(), 1u);
  EXPECT_EQ(Value(ProbeFacts(Out("one.mp3")), "TAG:title"), "WmOne");

  PrepareBatchTags({Src("one.mp3")}, TConversionMode::cmMp3ToWma, TagInfo);
  EXPECT_EQ(TagInfo.Title, u"MpOne");
  EXPECT_EQ(TagInfo.Genre, GenreIndex(u"Jazz"));
  EXPECT_EQ(TagInfo.Year, u"2004");

  // A WAV batch, and a file that cannot be read, keep only the title from the name.
  PrepareBatchTags({Src("one.mp3")}, TConversionMode::cmMp3ToWav, TagInfo);
  EXPECT_EQ(TagInfo, (TTagInfo{u"one", {}, {}, {}, -1, {}, {}}));
  PrepareBatchTags({(dir / "gone.x.wma").string()}, TConversionMode::cmWmaToMp3, TagInfo);
  EXPECT_EQ(TagInfo, (TTagInfo{u"gone.x", {}, {}, {}, -1, {}, {}}));
  PrepareBatchTags({Src("one.wma"), Src("two.wma")}, TConversionMode::cmWmaToMp3, TagInfo);
  EXPECT_EQ(TagInfo, TTagInfo{}) << "several files start from nothing";
}

// ---- What the editor does not show ----

// The copyright, the pictures and the comment's language go from the source to the output
// whatever the editor holds; the editor's own values stay.
TEST(CarryUnshownTags, CopyrightPicturesAndLanguageJoinTheEditorsValues) {
  TId3v2Tags source, output;
  source.SetTitle(u"Source title");
  source.SetCopyright(u"\u00a9 Source");
  source.SetCommentLanguage("deu");
  source.SetPictures({{"image/png", 3, u"Front", {1, 2, 3}}});
  output.SetTitle(u"Edited title");
  output.SetComment(u"Edited comment");
  CarryUnshownTags(source, output);
  EXPECT_EQ(output.Title(), u"Edited title");
  EXPECT_EQ(output.Comment(), u"Edited comment");
  EXPECT_EQ(output.Copyright(), u"\u00a9 Source");
  EXPECT_EQ(output.CommentLanguage(), "deu");
  EXPECT_EQ(output.Pictures(), source.Pictures());
  // A source without a copyright keeps the one the output has.
  TId3v2Tags bare;
  output.SetCopyright(u"kept");
  CarryUnshownTags(bare, output);
  EXPECT_EQ(output.Copyright(), u"kept");
  EXPECT_TRUE(output.Pictures().empty());
}

// An MP3 as a tagger wrote it (mutagen: ID3v2.3, the date split into TYER and TDAT, a
// comment in German, a cover): the editor is filled with the whole date, track and comment,
// and the WMA gets the editor's values.
TEST_F(RunnerTest, Mp3ToWmaFillsTheEditorWithWholeValuesAndKeepsItsEdits) {
  REQUIRE_SOURCES();
  const std::string python = PythonWithMutagen();
  MELVANTO_REQUIRE_TOOL(!python.empty(), "python3-mutagen");
  const std::string source = (dir / "tagged.mp3").string();
  std::filesystem::copy_file(Src("two.mp3"), source);
  ASSERT_TRUE(Shell(python + " -c '\nimport sys, mutagen.id3 as m\nt = m.ID3()\n"
                    "t.add(m.TIT2(encoding=1, text=[\"Stra\\u00dfe\"]))\nt.add(m.TPE1(encoding=1, text=[\"Source Artist\"]))\n"
                    "t.add(m.TDRC(encoding=0, text=[\"2003-04-05\"]))\nt.add(m.TRCK(encoding=0, text=[\"3/12\"]))\n"
                    "t.add(m.COMM(encoding=1, lang=\"deu\", desc=\"\", text=[\"Gr\\u00fc\\u00dfe, longer than thirty letters\"]))\n"
                    "t.add(m.TCOP(encoding=1, text=[\"\\u00a9 Source\"]))\n"
                    "t.add(m.APIC(encoding=0, mime=\"image/png\", type=3, desc=\"\", data=b\"\\x89PNG\\xff\\x00\"))\n"
                    "t.update_to_v23()\nt.save(sys.argv[1], v2_version=3)\n' " + source));
  PrepareBatchTags({source}, TConversionMode::cmMp3ToWma, TagInfo);
  EXPECT_EQ(TagInfo.Title, u"Stra\u00dfe");
  EXPECT_EQ(TagInfo.Year, u"2003-04-05");
  EXPECT_EQ(TagInfo.Track, u"3/12");
  EXPECT_EQ(TagInfo.Comment, u"Gr\u00fc\u00dfe, longer than thirty letters");

  OptionsSetting.CommonOptions.IsShowTagEditor = true;
  TagInfo.Title = u"Edited";
  Batch batch(TConversionMode::cmMp3ToWma, {source}, Context());
  ASSERT_EQ(batch.Run().size(), 1u);
  const std::string facts = ProbeFacts(Out("tagged.wma"));
  EXPECT_EQ(Value(facts, "TAG:title"), "Edited") << facts;
  EXPECT_EQ(Value(facts, "TAG:artist"), "Source Artist");
  EXPECT_EQ(Value(facts, "TAG:WM/Year"), "2003-04-05");
  EXPECT_EQ(Value(facts, "TAG:track"), "3/12");
}

// A WMA made by ffmpeg with a whole date and a track total: one file with the editor's
// values, and a batch of files with their own tags, both keep them whole in the MP3.
TEST_F(RunnerTest, WmaToMp3KeepsTheSourcesDateAndTrackTotalInEveryBatch) {
  REQUIRE_SOURCES();
  const std::string python = PythonWithMutagen();
  MELVANTO_REQUIRE_TOOL(!python.empty(), "python3-mutagen");
  const std::string a = (dir / "a.wma").string(), b = (dir / "b.wma").string();
  for (const std::string& wma : {a, b})
    ASSERT_TRUE(Shell("ffmpeg -nostdin -v error -y -i " + Src("src.wav") + " -c:a wmav2 -b:a 128k -metadata title=Wm "
                      "-metadata date=2011-03-04 -metadata track=12/20 " + wma));
  const auto read = [&](const std::string& mp3) {
    return CaptureText(python + " -c '\nimport sys, mutagen.id3 as m\nt = m.ID3(sys.argv[1])\n"
                       "print(t[\"TDRC\"].text[0], t[\"TRCK\"].text[0], t[\"TPE1\"].text[0] if \"TPE1\" in t else \"-\")\n' " + mp3);
  };

  OptionsSetting.CommonOptions.IsShowTagEditor = true;
  PrepareBatchTags({a}, TConversionMode::cmWmaToMp3, TagInfo);
  TagInfo.Artist = u"Edited";
  {
    Batch batch(TConversionMode::cmWmaToMp3, {a}, Context());
    ASSERT_EQ(batch.Run().size(), 1u);
  }
  EXPECT_EQ(read(Out("a.mp3")), "2011-03-04 12/20 Edited\n");

  PrepareBatchTags({a, b}, TConversionMode::cmWmaToMp3, TagInfo);
  OptionsSetting.CommonOptions.IsSameTag = false;
  Batch batch(TConversionMode::cmWmaToMp3, {a, b}, Context());
  ASSERT_EQ(batch.Run().size(), 2u);
  EXPECT_EQ(read(Out("a.mp3")), "2011-03-04 12/20 -\n");
  EXPECT_EQ(read(Out("b.mp3")), "2011-03-04 12/20 -\n");
}

}  // namespace
}  // namespace melvanto::testing
