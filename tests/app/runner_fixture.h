#pragma once

// What the runner tests share: source files made once by ffmpeg, a view that records what
// the runner shows and answers its question from a script, and a batch run to its end.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "made_files.h"
#include "runner.h"
#include "runner_components.h"
#include "settings.h"
#include "step_loop.h"
#include "temp_dir.h"
#include "text_file.h"
#include "tools.h"

namespace melvanto::testing {

using Bytes = std::vector<std::uint8_t>;

inline Bytes ReadBytes(const std::filesystem::path& path) {
  std::ifstream f(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
}

// Sources for every direction, made once for the whole program.
inline const MadeFiles& SourceFiles() {
  const std::string ff = "ffmpeg -nostdin -v error -y ";
  const std::string tone = " -f lavfi -i 'sine=f=440:d=2:r=44100' -ac 2 ";
  static const MadeFiles files(
      HaveTool("ffmpeg") && HaveMp3Encoder(),
      ff + tone + "-c:a pcm_s16le src.wav" + " && " + ff + tone + "-c:a pcm_s24le src24.wav" + " && " + ff +
          " -f lavfi -i 'sine=f=330:d=30:r=44100' -ac 2 -c:a pcm_s16le long.wav" + " && " + ff +
          " -i src.wav -c:a libmp3lame -b:a 128k -metadata title=MpOne -metadata artist=MpArtistOne"
          " -metadata album=MpAlbum -metadata genre=Jazz -metadata date=2004 -metadata track=3 one.mp3" +
          " && " + ff +
          " -i src.wav -c:a libmp3lame -b:a 128k -metadata title=MpTwo -metadata artist=MpArtistTwo"
          " two.mp3" +
          " && " + ff +
          " -i src.wav -c:a wmav2 -b:a 128k -metadata title=WmOne -metadata artist=WmArtistOne"
          " -metadata album=WmAlbum -metadata genre=Blues -metadata date=2011 -metadata track=12 one.wma" +
          " && " + ff +
          " -i src.wav -c:a wmav2 -b:a 128k -metadata title=WmTwo -metadata artist=WmArtistTwo"
          " -metadata genre=Jazz two.wma");
  return files;
}

#define REQUIRE_SOURCES()                                            \
  MELVANTO_REQUIRE_COMMAND("ffmpeg");                                \
  MELVANTO_REQUIRE_COMMAND("ffprobe");                               \
  MELVANTO_REQUIRE_TOOL(HaveMp3Encoder(), "ffmpeg with libmp3lame"); \
  ASSERT_TRUE(SourceFiles().Ready()) << "the source files could not be made"

// A progress window without a window: labels kept, steps posted into a step loop, the
// question answered by a script.
class TestView : public TRunnerView {
 public:
  explicit TestView(TStepLoop& loop) : loop_(loop) {}

  TConversionRunner* runner = nullptr;
  bool closed = false;
  std::function<bool(const std::string& output)> answer = [](const std::string&) { return true; };
  // Answers with all four choices when set, instead of answer.
  std::function<TOverwriteAnswer(const std::string& output)> choose;
  std::vector<std::string> questions;
  std::vector<TFileResult> finished;
  std::map<std::string, std::string> labels;
  std::vector<std::string> inputNames;      // every SetInputFileName, in order
  std::vector<std::string>* log = nullptr;  // shared by several views: who did what, in order
  std::string name = "view";
  std::function<void(std::int32_t)> onProgress;
  std::function<void(const std::string&)> onOutputName;
  std::function<void(const std::string&)> onInputName;
  std::function<void(const TFileResult&)> onFinished;

  void SetCaption(const std::string& t) override { labels["caption"] = t; }
  void SetInputFileName(const std::string& t) override {
    labels["input"] = t;
    inputNames.push_back(t);
    if (onInputName) onInputName(t);
  }
  void SetOutputFileName(const std::string& t) override {
    labels["output"] = t;
    if (onOutputName) onOutputName(t);
  }
  void SetOutputFolder(const std::string& t) override { labels["folder"] = t; }
  void SetSelectedTracks(const std::string& t) override { labels["selected"] = t; }
  void SetCompleted(const std::string& t) override { labels["completed"] = t; }
  void SetProgressHint(const std::string& t) override { labels["hint"] = t; }
  void SetProgressCaption(const std::string& t) override { labels["progressCaption"] = t; }
  void SetProgress(std::int32_t p) override {
    if (onProgress) onProgress(p);
  }
  void FileFinished(const TFileResult& r) override {
    finished.push_back(r);
    if (log) log->push_back(name + " finished " + r.Output);
    if (onFinished) onFinished(r);
  }
  TOverwriteAnswer AskOverwrite(const std::string& question, const std::string& output) override {
    questions.push_back(question);
    if (log) log->push_back(name + " asked " + output);
    if (choose) return choose(output);
    return answer(output) ? TOverwriteAnswer::oaYes : TOverwriteAnswer::oaNo;
  }
  void PostBatchStep(TBatchStep param) override {
    loop_.Post([this, param] {
      if (runner != nullptr && !closed) runner->BatchStep(param);
    });
  }
  void CloseWindow() override {
    loop_.Post([this] {
      if (closed) return;
      runner->Close();
      closed = true;
    });
  }

 private:
  TStepLoop& loop_;
};

// One batch: a view on the loop and its runner.
struct Batch {
  TStepLoop loop;
  TestView view{loop};
  std::unique_ptr<TConversionRunner> runner;

  Batch(TConversionMode mode, const std::vector<std::string>& files, TRunnerContext context) {
    runner = std::make_unique<TConversionRunner>(view, files, std::move(context));
    runner->SetMode(mode);
    view.runner = runner.get();
  }
  const std::vector<TFileResult>& Run() {
    loop.RunUntil([&] { return view.closed; });
    return runner->Results();
  }
  // Runs to the end with Stop pressed at the first progress; false when none came.
  bool RunStoppedMidFile() {
    bool stopped = false;
    view.onProgress = [&](std::int32_t p) {
      if (p > 0 && !stopped) {
        stopped = true;
        runner->bStopClick();
      }
    };
    Run();
    view.onProgress = nullptr;
    return stopped;
  }
};

// Settings as a first start has them, the output going to a folder of the test's own. A
// runner copies them when it is made: set them before.
class RunnerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::filesystem::create_directories(out);
    OptionsSetting.CommonOptions.OutputFolder = out.string();
  }
  std::string Out(const std::string& name) const { return (out / name).string(); }
  std::string Src(const std::string& name) const { return SourceFiles() / name; }
  TRunnerContext Context() const { return {OptionsSetting, TagInfo, {}}; }

  TempDir dir;
  std::filesystem::path out = dir / "out";
  TOptionsSetting OptionsSetting;
  TTagInfo TagInfo;
};

// ffprobe's format and stream facts, and the tags, of a file.
inline std::string ProbeFacts(const std::string& path) {
  return CaptureText(
      "ffprobe -v error -show_entries format=format_name,duration:stream=channels,sample_rate:"
      "format_tags -of default=nw=1 '" +
      path + "'");
}

// The value of "key=" on its own line of ffprobe's output (tags come as TAG:key=).
inline std::string Value(const std::string& text, const std::string& key) {
  std::size_t at = 0;
  while ((at = text.find(key + "=", at)) != std::string::npos) {
    if (at == 0 || text[at - 1] == '\n') {
      const auto start = at + key.size() + 1;
      return text.substr(start, text.find('\n', start) - start);
    }
    ++at;
  }
  return "<none>";
}

}  // namespace melvanto::testing
