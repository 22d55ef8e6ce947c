#pragma once

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "conversion_mode.h"
#include "input_files.h"
#include "name_pattern.h"
#include "settings.h"

namespace melvanto {

class TAuFileIn;
class TAuFileOut;
class TComponent;
// The six components a runner converts with (runner_components.h, for the runner and tests).
struct TRunnerComponents;

// The batch steps a runner posts to itself, and which the view hands back.
enum class TBatchStep {
  bsStart,        // the batch's first file, posted when the runner is made
  bsAfterFile,    // the next file, once one has ended
  bsOutputFreed,  // another runner freed an output: a held file is tried again
};

// The answers to the overwrite question. The "to all" ones hold for the rest of the batch.
enum class TOverwriteAnswer { oaYes, oaNo, oaYesToAll, oaNoToAll };

// The encodings of WAV outputs a caller may choose.
enum class TWaveEncoding { wePCM, weIMAADPCM };

// The WAV writer's options the command line offers; nothing given keeps the writer's own.
struct TWaveOutputOptions {
  std::optional<TWaveEncoding> Encoding;
  std::optional<std::uint16_t> BlockSize;  // of IMA ADPCM blocks
  bool Extensible = false;                 // the extensible header for wide or multichannel PCM
  bool Append = false;                     // to an existing file of the same format
};

// What a runner converts with. A runner keeps its own copy: a batch converts with the values
// as they were when it started.
struct TRunnerContext {
  TOptionsSetting Settings;
  TTagInfo Tags;
  TWaveOutputOptions Wave;
};

// One file's output in a batch: its name, and why this file may not write it (another file of
// the batch writes it, or it is one of the batch's inputs), empty when it may.
struct TPlannedOutput {
  std::string Output;
  std::string Conflict;
  // The output folder, and the folders below it the output goes in ("a/b/"): those are made
  // when the file is written, never through a link.
  std::string Folder;
  std::string Subfolder;
};

// The files of one batch. Several runners (parallel jobs of the command line) may share one:
// each step takes the next file, so FileIndex counts the files started or skipped by all.
struct TBatchFiles {
  std::vector<std::string> Files;  // full paths, in the order chosen
  // By file index: the folder a file was found in below a folder the user named ("a/b/"),
  // which its output keeps below the output folder; missing or empty for none.
  std::vector<std::string> Subfolders;
  // Outputs named from each input's tags instead of its name and subfolder.
  std::optional<TNamePattern> NamePattern;
  // A file whose output is at least as new as the file is skipped as up to date.
  bool SkipUpToDate = false;
  std::int32_t FileIndex = 0;
  // Every file's output, by file index, worked out by the first step before any file starts,
  // so that one batch never writes one output twice nor replaces an input it has yet to read.
  std::vector<TPlannedOutput> Plan;
  // The final names of the outputs being written right now, so that a job never writes a
  // file another job writes; one file under two names (a hard link, a folder reached through
  // a link) counts once.
  std::vector<std::string> BusyOutputs;
  // Runners holding a file back because its output is busy; called when an output is freed.
  std::vector<std::function<void()>> Waiting;
  // A "to all" answer to the overwrite question: later existing outputs of this batch are
  // replaced (true) or kept (false) without asking. Empty while every file is asked about.
  std::optional<bool> ReplaceExisting;
  // The files (device, inode) this batch has written, with the input each came from: names
  // the plan holds apart may be one file (a folder that ignores case), which a later file of
  // the batch must neither replace nor take as up to date.
  std::map<std::pair<dev_t, ino_t>, std::string> Written;
  // The planned outputs' names by folder, for the folders not yet cleaned of dead runs' part
  // files: each folder is read once per batch, before its first output.
  std::map<std::string, std::set<std::string>> FoldersToClean;
  // Whether the batch is being stopped (Ctrl-C), asked while the plan is made: with names from
  // tags it reads every file first, which can take long. Empty for never.
  std::function<bool()> Stopping;
};

// Sets batch's files and the subfolders their outputs keep, as they were collected.
void SetBatchInputs(TBatchFiles& batch, const std::vector<TInputFile>& files);

struct TFileResult {
  enum TStatus { frConverted, frSkipped, frFailed, frStopped };
  std::string Input;
  std::string Output;  // empty when the step failed before naming it
  TStatus Status = frConverted;
  std::string Message;  // why it failed or was skipped
  // A converted file whose input is damaged: what could not be read. Empty for none.
  std::string Warning;
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
  // The overwrite question: Question is the whole text ("PATH already exists. Replace it?").
  // Not asked again in a batch once answered "to all".
  virtual TOverwriteAnswer AskOverwrite(const std::string& Question, const std::string& OutputPath) = 0;
  // Posts the batch-step message to the runner: later, from the event loop (never from
  // inside this call), the view calls runner.BatchStep(Param).
  virtual void PostBatchStep(TBatchStep Param) = 0;
  // The runner asks to be closed; the view then calls runner.Close() (now or from its loop).
  virtual void CloseWindow() = 0;
};

// The logic of the progress window: converts the files of a batch one after another,
// through one input component per source format and one output per target format.
class TConversionRunner {
 public:
  // Copies files into a batch of its own, and posts the first step (bsStart).
  TConversionRunner(TRunnerView& view, const std::vector<std::string>& files, TRunnerContext context);
  // Shares a batch with other runners.
  TConversionRunner(TRunnerView& view, std::shared_ptr<TBatchFiles> batch, TRunnerContext context);
  ~TConversionRunner();
  TConversionRunner(const TConversionRunner&) = delete;
  TConversionRunner& operator=(const TConversionRunner&) = delete;

  TConversionMode Mode() const { return Mode_; }
  // Set right after construction, before the first step runs.
  void SetMode(TConversionMode value) { Mode_ = value; }
  const std::vector<std::string>& Files() const { return Batch_->Files; }
  std::int32_t FileIndex() const { return Batch_->FileIndex; }

  // One step of the batch (the batch-step message's handler).
  void BatchStep(TBatchStep Param);
  // The Stop button: asks the view to close.
  void bStopClick();
  // Releases everything (the window's close): stops the running output synchronously
  // (that file is reported as stopped, and its final name left as it was before) and
  // clears every component's file name. Safe to call twice.
  void Close();
  bool Closed() const { return Closed_; }

  // What happened to each file, in the order they finished.
  const std::vector<TFileResult>& Results() const { return Results_; }

  // The six components, with their design-time settings and the context's WAV options.
  TRunnerComponents& Components() { return *Components_; }

 private:
  // An existing file appended to in place, as it stood before the run: what undoes the run.
  struct TAppendBefore {
    bool Recorded = false;
    std::int64_t Size = 0;
    std::vector<std::uint8_t> Head;  // the first bytes, which hold every header field the writer patches
  };

  void Initialise();
  TAuFileIn& CurrentInput();
  TAuFileOut& CurrentOutput();
  // The current input's tags (read from its file when first asked).
  TId3v2Tags* SourceTags();
  void Step();
  // Fills the batch's Plan; false, leaving it unfilled, when the batch is being stopped.
  bool PlanOutputs();
  std::string OutputFolderFor(const std::string& F) const;
  // File index's output path below its output folder, without extension ("a/b/x").
  std::string OutputStem(std::size_t index) const;
  // One file, taken now (index is its position in Files) or held before, through the stages
  // below; each stage that ends the file (or holds it) returns false.
  void StartFile(const std::string& F, std::int32_t index);
  // Shows the file and names its output in the components; false when the view closed the
  // runner from inside one of its calls.
  bool NameOutput(const std::string& F, std::int32_t index);
  // Fails the file whose input cannot be read, whose output would be the input itself, or
  // whose output the plan gives to another file or finds among the inputs.
  bool CheckInput(const std::string& F, std::int32_t index);
  // Skips a file whose output is up to date (when the batch asks for that).
  bool CheckNotWrittenYet();
  bool CheckUpToDate(const std::string& F);
  // Claims the output in the batch, or holds the file while another runner writes it.
  bool ClaimOutput(const std::string& F, std::int32_t index);
  // Makes the output's folders.
  bool MakeFolders(std::int32_t index);
  // The overwrite question for an output that exists (never when appending, nor after a
  // "to all" answer in this batch).
  bool AskAboutExistingOutput();
  // The output's settings and tags for this file.
  void ConfigureOutput();
  // Gives the output its target: a new temporary file beside the final name, or the existing
  // file itself when appending (its old state recorded); false when the file ended here.
  bool PrepareTarget();
  bool RecordAppendBefore();
  bool Appending() const;
  void OutputDone(TComponent* Sender);
  // The failure of a run that ended by itself (its output undone), empty for none; a run
  // without one is put in place under the final name here.
  std::string RunFailure();
  // What a finished run says about a damaged input (audio short of what the input stated,
  // damaged ADPCM blocks), empty when nothing is wrong.
  std::string RunWarning();
  // Ends the current file with a result, frees its output and posts the next step.
  void FinishFile(TFileResult::TStatus status, std::string message);
  void Record(TFileResult result);
  // Erases this runner's output from the batch's busy outputs and wakes held runners.
  void ReleaseOutput();
  // Leaves the final name as it was before the run: the temporary file goes, an append is
  // cut back to the old bytes. Safe to call twice.
  void UndoOutput();

  TRunnerView& View_;
  std::shared_ptr<TBatchFiles> Batch_;
  bool OwnBatch_ = true;
  const TRunnerContext Context_;
  TConversionMode Mode_ = TConversionMode::cmWavToMp3;
  bool Closed_ = false;
  std::vector<TFileResult> Results_;
  // The file being converted.
  bool Running_ = false;
  // A file is between being taken and its result (its step may wait on the overwrite question).
  bool InFile_ = false;
  TFileResult Current_;
  // The temporary file being written, empty for none.
  std::string Part_;
  TAppendBefore AppendBefore_;
  // What the input stated before the run, to tell a run that ended early: bytes (0 or -1
  // when it states none), and bytes per second.
  std::int64_t StatedBytes_ = 0;
  std::int64_t BytesPerSecond_ = 0;
  // The output this runner put into the batch's BusyOutputs, empty for none.
  std::string Claimed_;
  // A file taken whose output another runner writes now: tried again when that is freed.
  bool Holding_ = false;
  std::string HeldFile_;
  std::int32_t HeldIndex_ = 0;
  // Callbacks left in a shared batch's Waiting list check this before reaching the runner.
  std::shared_ptr<int> Alive_ = std::make_shared<int>(0);
  // Last, so that it goes first: the outputs stop while all that their handlers reach is whole.
  std::unique_ptr<TRunnerComponents> Components_;
};

}  // namespace melvanto
