#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "conversion_mode.h"
#include "mp3_in.h"
#include "mp3_out.h"
#include "wave_in.h"
#include "wave_out.h"
#include "wm_in.h"
#include "wma_out.h"

namespace melvanto {

// The number of the batch-step message a runner posts to itself.
constexpr int kBatchStepMessage = 2130;

// The files of one batch. Several runners (parallel jobs of the command line) may share one:
// each step takes the next file, so FileIndex counts the files started or skipped by all.
struct TBatchFiles {
  std::vector<std::string> Files;  // full paths, in the order chosen
  std::int32_t FileIndex = 0;
  // Outputs being written right now, so that a job never writes a file another job writes.
  std::set<std::string> BusyOutputs;
  // Runners holding a file back because its output is busy; called when an output is freed.
  std::vector<std::function<void()>> Waiting;
};

struct TFileResult {
  enum TStatus { frConverted, frSkipped, frFailed, frStopped };
  std::string Input;
  std::string Output;  // empty when the step failed before naming it
  TStatus Status = frConverted;
  std::string Message;  // why it failed or was skipped
};

// What shows a runner: the progress window, or a terminal. All calls on the user-interface
// thread.
class TRunnerView {
 public:
  virtual ~TRunnerView() = default;
  virtual void SetCaption(const std::string& /*text*/) {}
  virtual void SetInputFileName(const std::string& /*text*/) {}
  virtual void SetOutputFileName(const std::string& /*text*/) {}
  virtual void SetOutputFolder(const std::string& /*text*/) {}
  virtual void SetSelectedTracks(const std::string& /*text*/) {}
  virtual void SetCompleted(const std::string& /*text*/) {}
  virtual void SetProgressHint(const std::string& /*text*/) {}
  virtual void SetProgressCaption(const std::string& /*text*/) {}
  // 0..100.
  virtual void SetProgress(std::int32_t /*position*/) {}
  // A file has been converted, skipped, has failed or was stopped.
  virtual void FileFinished(const TFileResult& /*result*/) {}
  // The overwrite question: Question is the whole text (the path, then " has existed,
  // overite it?"). True for Yes.
  virtual bool AskOverwrite(const std::string& Question, const std::string& OutputPath) = 0;
  // Posts the batch-step message to the runner: later, from the event loop (never from
  // inside this call), the view calls runner.BatchStep(Param).
  virtual void PostBatchStep(std::int32_t Param) = 0;
  // The runner asks to be closed; the view then calls runner.Close() (now or from its loop).
  virtual void CloseWindow() = 0;
};

// The logic of the progress window: converts the files of a batch one after another,
// through one input component per source format and one output per target format.
class TConversionRunner {
 public:
  // Copies files into a batch of its own, and posts the first step (Param 0).
  TConversionRunner(TRunnerView& view, const std::vector<std::string>& files);
  // Shares a batch with other runners.
  TConversionRunner(TRunnerView& view, std::shared_ptr<TBatchFiles> batch);
  ~TConversionRunner();
  TConversionRunner(const TConversionRunner&) = delete;
  TConversionRunner& operator=(const TConversionRunner&) = delete;

  TConversionMode Mode() const { return Mode_; }
  // Set right after construction, before the first step runs.
  void SetMode(TConversionMode value) { Mode_ = value; }
  const std::vector<std::string>& Files() const { return Batch_->Files; }
  std::int32_t FileIndex() const { return Batch_->FileIndex; }

  // One step of the batch (the batch-step message's handler).
  void BatchStep(std::int32_t Param);
  // The Stop button: asks the view to close.
  void bStopClick();
  // Releases everything (the window's close): stops the running output synchronously
  // (that file is finished up to the point reached and reported as stopped) and clears
  // every component's file name. Safe to call twice.
  void Close();
  bool Closed() const { return Closed_; }

  // What happened to each file, in the order they finished.
  const std::vector<TFileResult>& Results() const { return Results_; }

  // The six components, with their design-time settings; WaveOut1 may be configured by
  // the caller (the command line's WAV options).
  TWaveIn WaveIn1;
  TMP3In MP3In1;
  TWMIn WMIn1;
  TWaveOut WaveOut1;
  TMP3Out MP3Out1;
  TWMAOut WMAOut1;

 private:
  void Initialise();
  TAuOutput* CurrentOutput();
  void OutputDone(TComponent* Sender);
  void Record(TFileResult result);

  TRunnerView& View_;
  std::shared_ptr<TBatchFiles> Batch_;
  TConversionMode Mode_ = TConversionMode::cmWavToMp3;
  bool Closed_ = false;
  std::vector<TFileResult> Results_;
  // The file being converted.
  bool Running_ = false;
  TFileResult Current_;
};

}  // namespace melvanto
