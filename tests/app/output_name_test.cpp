// What stands under an output's name: a finished file or what stood there before, never a
// part of one, never something written through a link planted there, and no temporary file
// of ours once a run is over (a dead run's included, a live one's never).

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "runner_fixture.h"

namespace melvanto::testing {
namespace {

namespace fs = std::filesystem;

std::vector<std::string> Names(const fs::path& folder) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

// A 16-bit WAV of 100 channels, which the reader takes and the MP3 encoder refuses once its
// file is open.
void WriteHundredChannelWav(const fs::path& path) {
  std::string wav = "RIFF";
  const auto le = [&](std::uint32_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) wav += static_cast<char>((v >> (8 * i)) & 0xFF);
  };
  constexpr std::uint32_t kChannels = 100, kRate = 8000, kFrames = 20;
  const std::uint32_t data = kFrames * kChannels * 2;
  le(36 + data, 4);
  wav += "WAVEfmt ";
  le(16, 4), le(1, 2), le(kChannels, 2), le(kRate, 4), le(kRate * kChannels * 2, 4), le(kChannels * 2, 2), le(16, 2);
  wav += "data";
  le(data, 4);
  for (std::uint32_t i = 0; i < data / 2; ++i) le(i * 97, 2);
  WriteText(path, wav);
}

TEST_F(RunnerTest, EncoderRefusingTheInputKeepsTheOldOutput) {
  REQUIRE_SOURCES();
  WriteHundredChannelWav(dir / "wide.wav");
  ASSERT_EQ(CaptureText("soxi -c '" + (dir / "wide.wav").string() + "'"), "100\n") << "not the file meant";
  const std::string old = "the user's wide.mp3";
  WriteText(out / "wide.mp3", old);
  Batch batch(TConversionMode::cmWavToMp3, {(dir / "wide.wav").string()}, Context());
  const auto& results = batch.Run();
  ASSERT_EQ(results.size(), 1u);
  EXPECT_EQ(results[0].Status, TFileResult::frFailed);
  EXPECT_NE(results[0].Message.find("LAME"), std::string::npos) << results[0].Message;
  EXPECT_EQ(batch.view.questions.size(), 1u);
  EXPECT_EQ(ReadText(out / "wide.mp3"), old);
  EXPECT_EQ(Names(out), std::vector<std::string>{"wide.mp3"});
}

TEST_F(RunnerTest, StoppedAppendIsUndoneByteForByte) {
  REQUIRE_SOURCES();
  fs::copy_file(Src("long.wav"), out / "long.wav");
  const Bytes own = ReadBytes(out / "long.wav");
  TRunnerContext appending = Context();
  appending.Wave.Append = true;
  Batch batch(TConversionMode::cmWavToWav, {Src("long.wav")}, appending);
  // Paused between blocks, so the run is still going when its first progress arrives.
  batch.runner->Components().WaveOut1.SetDelay(16);
  ASSERT_TRUE(batch.RunStoppedMidFile());
  const auto& results = batch.runner->Results();
  ASSERT_EQ(results.size(), 1u);
  EXPECT_EQ(results[0].Status, TFileResult::frStopped);
  EXPECT_EQ(ReadBytes(out / "long.wav"), own);
  EXPECT_EQ(Names(out), std::vector<std::string>{"long.wav"});
}

TEST_F(RunnerTest, LinksAtTheOutputNameAreNeverFollowed) {
  REQUIRE_SOURCES();
  const std::string target = "a file the link points at";
  WriteText(dir / "target.wav", target);
  fs::create_symlink(dir / "nowhere.wav", out / "src.wav");
  fs::create_symlink(dir / "target.wav", out / "src24.wav");
  for (const bool yes : {false, true}) {
    SCOPED_TRACE(yes ? "Yes" : "No");
    Batch batch(TConversionMode::cmWavToWav, {Src("src.wav"), Src("src24.wav")}, Context());
    batch.view.answer = [&](const std::string&) { return yes; };
    const auto& results = batch.Run();
    ASSERT_EQ(results.size(), 2u);
    EXPECT_EQ(batch.view.questions.size(), 2u) << "a dangling link is an existing output too";
    for (const TFileResult& r : results)
      EXPECT_EQ(r.Status, yes ? TFileResult::frConverted : TFileResult::frSkipped) << r.Message;
    EXPECT_FALSE(fs::exists(dir / "nowhere.wav")) << "a file created where the link points";
    EXPECT_EQ(ReadText(dir / "target.wav"), target);
    for (const char* name : {"src.wav", "src24.wav"})
      EXPECT_EQ(fs::is_symlink(out / name), !yes) << name << ": a Yes replaces the link itself";
  }
  EXPECT_EQ(Value(ProbeFacts(Out("src24.wav")), "format_name"), "wav");
  EXPECT_EQ(Names(out), (std::vector<std::string>{"src.wav", "src24.wav"}));
}

TEST_F(RunnerTest, TemporaryFilesOfDeadRunsGoThoseOfLiveOnesStay) {
  REQUIRE_SOURCES();
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) _exit(0);
  ASSERT_EQ(waitpid(child, nullptr, 0), child);
  const std::string dead = ".src.wav.melvanto-" + std::to_string(child) + ".part.wav";
  const std::string live = ".src.wav.melvanto-" + std::to_string(getppid()) + ".part.wav";
  // Another output's, and a name that only looks like ours: neither is this output's to sweep.
  const std::string other = ".src24.wav.melvanto-" + std::to_string(child) + ".part.wav";
  const std::string lookalike = ".src.wav.melvanto-x" + std::to_string(child) + ".part.wav";
  for (const std::string& name : {dead, live, other, lookalike}) WriteText(out / name, "left");
  Batch batch(TConversionMode::cmWavToWav, {Src("src.wav")}, Context());
  const auto& results = batch.Run();
  ASSERT_EQ(results.size(), 1u);
  EXPECT_EQ(results[0].Status, TFileResult::frConverted) << results[0].Message;
  std::vector<std::string> expected{live, other, lookalike, "src.wav"};
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(Names(out), expected);
}

}  // namespace
}  // namespace melvanto::testing
