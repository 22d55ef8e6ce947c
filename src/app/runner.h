#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "conversion_mode.h"
#include "id3.h"
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
  // Outputs being written right now (by their folder's canonical path), so that a job never
  // writes a file another job writes.
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
  // What a failed run may remove: the output as it stood before this runner wrote it.
  struct TOutputBefore {
    bool Existed = false;
    bool Appending = false;
    std::uint64_t Device = 0, Inode = 0;
    std::int64_t Size = 0, ModifiedSeconds = 0, ModifiedNanoseconds = 0;
  };

  void Initialise();
  TAuFileIn& CurrentInput();
  TAuFileOut& CurrentOutput();
  void Step(std::int32_t Param);
  // Steps 3 to 11 for one file, taken now (index is its position in Files) or held before.
  void StartFile(const std::string& F, std::int32_t index);
  void OutputDone(TComponent* Sender);
  // The failure of a run that ended by itself (its broken output removed), empty for none.
  std::string RunFailure();
  // Ends the current file with a result, frees its output and posts the next step.
  void FinishFile(TFileResult::TStatus status, std::string message);
  void Record(TFileResult result);
  // Erases this runner's output from the batch's busy outputs and wakes held runners.
  void ReleaseOutput();
  void RemoveFailedOutput();
  void FillMp3Tags();
  void ComposeId3v1();

  TRunnerView& View_;
  std::shared_ptr<TBatchFiles> Batch_;
  bool OwnBatch_ = true;
  TConversionMode Mode_ = TConversionMode::cmWavToMp3;
  bool Closed_ = false;
  std::vector<TFileResult> Results_;
  // The file being converted.
  bool Running_ = false;
  // A file is between being taken and its result (its step may wait on the overwrite question).
  bool InFile_ = false;
  TFileResult Current_;
  TOutputBefore Before_;
  // The output this runner put into the batch's BusyOutputs, empty for none.
  std::string Claimed_;
  // A file taken whose output another runner writes now: tried again when that is freed.
  bool Holding_ = false;
  std::string HeldFile_;
  std::int32_t HeldIndex_ = 0;
  // Callbacks left in a shared batch's Waiting list check this before reaching the runner.
  std::shared_ptr<int> Alive_ = std::make_shared<int>(0);
  // The ID3v1 values composed after each finished MP3 file.
  Tid3tag ComposedId3v1_;
};

}  // namespace melvanto
