// Several runners on one batch (the command line's parallel jobs), and the step loop that
// drives them without a window system.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "conversion_mode.h"
#include "main_thread.h"
#include "runner_fixture.h"

namespace melvanto::testing {
namespace {

namespace fs = std::filesystem;

// Two jobs on one shared batch, each with its own view, both on one step loop; their views
// log into one list, so the order of what they did shows.
struct TwoJobs {
  TwoJobs(std::shared_ptr<TBatchFiles> shared, TConversionMode mode, const TRunnerContext& context)
      : first(loop), second(loop), one(first, shared, context), two(second, shared, context) {
    first.name = "first";
    second.name = "second";
    first.log = second.log = &log;
    one.SetMode(mode);
    two.SetMode(mode);
    first.runner = &one;
    second.runner = &two;
  }
  void Run() {
    loop.RunUntil([&] { return first.closed && second.closed; });
  }

  TStepLoop loop;
  std::vector<std::string> log;
  TestView first, second;
  TConversionRunner one, two;
};

TEST(StepLoop, RunsPostedCallsInOrderAndHandedOverEvents) {
  TStepLoop loop;
  std::vector<int> order;
  loop.Post([&] {
    order.push_back(1);
    // Posted from inside a call: runs after what was queued before it.
    loop.Post([&] { order.push_back(3); });
  });
  loop.Post([&] { order.push_back(2); });
  loop.RunUntil([&] { return order.size() == 3; });
  EXPECT_EQ(order, (std::vector<int>{1, 2, 3}));

  // A call handed over by another thread runs on this one while the loop has nothing posted.
  std::atomic<bool> ran{false};
  bool onThisThread = false;
  std::thread other([&] {
    Synchronize([&] {
      onThisThread = IsMainThread();
      ran = true;
    });
  });
  loop.RunUntil([&] { return ran.load(); });
  other.join();
  EXPECT_TRUE(onThisThread);
}

// Two jobs on one batch whose files share a name: the second fails at once naming the first,
// and never touches the output the first writes.
TEST_F(RunnerTest, SharedBatchFailsASecondFileForAnOutputAnotherJobWrites) {
  REQUIRE_SOURCES();
  // Slow blocks keep the first job writing while the second takes its file.
  OptionsSetting.CPU = 0;
  fs::create_directories(dir / "a");
  fs::create_directories(dir / "b");
  fs::copy_file(Src("src.wav"), dir / "a" / "x.wav");
  fs::copy_file(Src("src24.wav"), dir / "b" / "x.wav");
  auto shared = std::make_shared<TBatchFiles>();
  shared->Files = {(dir / "a" / "x.wav").string(), (dir / "b" / "x.wav").string()};

  TwoJobs jobs(shared, TConversionMode::cmWavToMp3, Context());
  jobs.Run();
  const auto& log = jobs.log;
  const TConversionRunner &one = jobs.one, &two = jobs.two;
  const TestView& second = jobs.second;

  const std::string O = Out("x.mp3");
  EXPECT_EQ(log, (std::vector<std::string>{"second finished " + O, "first finished " + O}));
  ASSERT_EQ(one.Results().size(), 1u);
  ASSERT_EQ(two.Results().size(), 1u);
  EXPECT_EQ(one.Results()[0].Status, TFileResult::frConverted);
  EXPECT_EQ(two.Results()[0].Status, TFileResult::frFailed);
  EXPECT_EQ(two.Results()[0].Input, (dir / "b" / "x.wav").string());
  EXPECT_EQ(two.Results()[0].Message,
            "the output file is also the output of " + (dir / "a" / "x.wav").string());
  EXPECT_EQ(second.inputNames, (std::vector<std::string>{"x.wav"}));
  EXPECT_EQ(shared->FileIndex, 2);
  EXPECT_TRUE(shared->BusyOutputs.empty());
  EXPECT_TRUE(shared->Waiting.empty());
  EXPECT_EQ(shared->Files.size(), 2u) << "a runner's close leaves the shared list to the others";
  // The first's file: 16-bit, 2 s.
  const std::string facts = ProbeFacts(O);
  EXPECT_EQ(Value(facts, "format_name"), "mp3");
  EXPECT_NEAR(std::atof(Value(facts, "duration").c_str()), 2.0, 2 * 1152.0 / 44100) << facts;
}

// The same output folder spelt two ways (through a link to it, with "./" in it): still one
// output, the second file failing like any other.
TEST_F(RunnerTest, SharedBatchKnowsAnOutputWhateverItsFolderIsCalled) {
  REQUIRE_SOURCES();
  OptionsSetting.CPU = 0;
  OptionsSetting.CommonOptions.SameAsInputFolder = true;
  fs::create_directories(dir / "a");
  fs::create_directory_symlink(dir / "a", dir / "link");
  fs::copy_file(Src("src.wav"), dir / "a" / "x.wav");
  const std::vector<std::vector<std::string>> spellings = {
      {(dir / "a" / "x.wav").string(), (dir / "link" / "x.wav").string()},
      {(dir / "a" / "x.wav").string(), dir.String() + "/./a/x.wav"},
  };
  for (const auto& files : spellings) {
    SCOPED_TRACE(files[1]);
    fs::remove(dir / "a" / "x.mp3");
    auto shared = std::make_shared<TBatchFiles>();
    shared->Files = files;
    TwoJobs jobs(shared, TConversionMode::cmWavToMp3, Context());
    jobs.second.answer = [](const std::string&) { return false; };
    jobs.Run();
    const auto& log = jobs.log;
    const TConversionRunner& one = jobs.one;

    const std::string second_output = OutputFileName(FolderOf(files[1]), files[1], ".mp3");
    EXPECT_EQ(log, (std::vector<std::string>{"second finished " + second_output,
                                             "first finished " + (dir / "a" / "x.mp3").string()}));
    ASSERT_EQ(one.Results().size(), 1u);
    EXPECT_EQ(one.Results()[0].Status, TFileResult::frConverted);
    ASSERT_EQ(jobs.two.Results().size(), 1u);
    EXPECT_EQ(jobs.two.Results()[0].Message, "the output file is also the output of " + files[0]);
    EXPECT_TRUE(shared->BusyOutputs.empty());
    const std::string facts = ProbeFacts((dir / "a" / "x.mp3").string());
    EXPECT_NEAR(std::atof(Value(facts, "duration").c_str()), 2.0, 2 * 1152.0 / 44100) << facts;
  }
}

// Parallel jobs with their own source tags: each output has its own file's values.
TEST_F(RunnerTest, SharedBatchJobsKeepTheirOwnTags) {
  REQUIRE_SOURCES();
  auto shared = std::make_shared<TBatchFiles>();
  shared->Files = {Src("one.wma"), Src("two.wma"), Src("src.wav")};
  TwoJobs jobs(shared, TConversionMode::cmWmaToMp3, Context());
  jobs.Run();
  const TConversionRunner &one = jobs.one, &two = jobs.two;

  EXPECT_EQ(one.Results().size() + two.Results().size(), 3u);
  EXPECT_EQ(Value(ProbeFacts(Out("one.mp3")), "TAG:artist"), "WmArtistOne");
  EXPECT_EQ(Value(ProbeFacts(Out("two.mp3")), "TAG:artist"), "WmArtistTwo");
  // A WAV in a WMA batch is not a WMA file.
  std::vector<TFileResult> all = one.Results();
  all.insert(all.end(), two.Results().begin(), two.Results().end());
  const auto wav =
      std::find_if(all.begin(), all.end(), [&](const TFileResult& r) { return r.Input == Src("src.wav"); });
  ASSERT_NE(wav, all.end());
  EXPECT_EQ(wav->Status, TFileResult::frFailed);
  EXPECT_EQ(wav->Message, "not a valid WMA file");
}

// A "to all" answer in one job holds for the other jobs of the batch.
TEST_F(RunnerTest, SharedBatchTakesAToAllAnswerForEveryJob) {
  REQUIRE_SOURCES();
  std::vector<std::string> files;
  for (const char* name : {"a", "b", "c", "d"}) {
    fs::copy_file(Src("src.wav"), dir / (std::string(name) + ".wav"));
    files.push_back((dir / (std::string(name) + ".wav")).string());
    WriteText(out / (std::string(name) + ".mp3"), "the user's");
  }
  auto shared = std::make_shared<TBatchFiles>();
  shared->Files = files;
  TwoJobs jobs(shared, TConversionMode::cmWavToMp3, Context());
  jobs.first.choose = jobs.second.choose = [](const std::string&) { return TOverwriteAnswer::oaNoToAll; };
  jobs.Run();
  EXPECT_EQ(jobs.first.questions.size() + jobs.second.questions.size(), 1u);
  std::vector<TFileResult> results = jobs.one.Results();
  results.insert(results.end(), jobs.two.Results().begin(), jobs.two.Results().end());
  ASSERT_EQ(results.size(), 4u);
  for (const TFileResult& r : results) {
    EXPECT_EQ(r.Status, TFileResult::frSkipped) << r.Input;
    EXPECT_EQ(r.Message, "the output file exists and was kept");
    EXPECT_EQ(ReadText(r.Output), "the user's");
  }
}

// Stop on one job while the other holds a file behind it: the held file is reported, and
// the other job is woken to close rather than left waiting. The second's output becomes a
// hard link of the first's after the batch was planned, just before the second claims it:
// one file under two names, so the second holds.
TEST_F(RunnerTest, ClosingAJobWakesTheJobHoldingBehindIt) {
  REQUIRE_SOURCES();
  OptionsSetting.CPU = 0;
  fs::create_directories(dir / "b");
  fs::copy_file(Src("long.wav"), dir / "b" / "other.wav");
  auto shared = std::make_shared<TBatchFiles>();
  shared->Files = {Src("long.wav"), (dir / "b" / "other.wav").string()};
  // The first job is allowed to replace it and stopped: the old file stays for the second.
  WriteText(out / "long.mp3", "the user's");
  TStepLoop loop;
  TestView first(loop), second(loop);
  auto one = std::make_unique<TConversionRunner>(first, shared, Context());
  TConversionRunner two(second, shared, Context());
  one->SetMode(TConversionMode::cmWavToMp3);
  two.SetMode(TConversionMode::cmWavToMp3);
  first.runner = one.get();
  second.runner = &two;
  second.answer = [](const std::string&) { return false; };
  second.onInputName = [&](const std::string&) {
    if (!fs::exists(out / "other.mp3")) fs::create_hard_link(out / "long.mp3", out / "other.mp3");
  };
  bool stopped = false;
  first.onProgress = [&](std::int32_t p) {
    if (p > 0 && !stopped) {
      stopped = true;
      one->bStopClick();
    }
  };
  loop.RunUntil([&] { return first.closed && second.closed; });
  ASSERT_EQ(one->Results().size(), 1u);
  EXPECT_EQ(one->Results()[0].Status, TFileResult::frStopped);
  // The held file comes back to the second job, which finds the old output and asks.
  ASSERT_EQ(two.Results().size(), 1u);
  EXPECT_EQ(two.Results()[0].Status, TFileResult::frSkipped);
  EXPECT_EQ(second.questions.size(), 1u);
  EXPECT_EQ(second.inputNames.size(), 2u) << "the second held its file and came back to it";
  // Destroying a closed runner leaves nothing in the batch that reaches it.
  one.reset();
  EXPECT_TRUE(shared->Waiting.empty());
  EXPECT_TRUE(shared->BusyOutputs.empty());
}

// With names from tags every file is read before the first starts; a stop meanwhile ends
// the batch there, with nothing converted.
TEST_F(RunnerTest, SharedBatchStoppedWhileThePlanIsMadeEndsBeforeAnyFile) {
  REQUIRE_SOURCES();
  auto shared = std::make_shared<TBatchFiles>();
  shared->Files = {Src("src.wav"), Src("src24.wav")};
  std::string problem;
  shared->NamePattern = ParseNamePattern("{name}", problem);
  int asked = 0;
  shared->Stopping = [&] { return ++asked > 1; };  // during the second file's tags
  TwoJobs jobs(shared, TConversionMode::cmWavToWav, Context());
  jobs.Run();
  EXPECT_TRUE(jobs.one.Results().empty());
  EXPECT_TRUE(jobs.two.Results().empty());
  EXPECT_TRUE(jobs.log.empty());
  EXPECT_FALSE(fs::exists(Out("src.wav")));
  EXPECT_NE(shared->Plan.size(), shared->Files.size());
}

}  // namespace
}  // namespace melvanto::testing
