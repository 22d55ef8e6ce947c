#pragma once

// The progress window: a view on the conversion runners of one batch. It converts several
// files at once (the settings' ParallelFiles, one runner per file being converted, all on one
// shared batch), shows each running file's progress and the batch's, and ends every batch
// with a summary window. Shown modally by the main window; it closes itself when the batch is
// done or on Stop.

#include <QDialog>
#include <QElapsedTimer>
#include <QString>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "runner.h"

class QGroupBox;
class QLabel;
class QProgressBar;
class QPushButton;
class QScrollArea;

namespace melvanto::gui {

struct TBatchOutcome;

// The time a batch still needs, from the share done (0..1) and the time it took: none while
// too little is done to tell.
std::optional<std::int64_t> TimeLeftMs(double done, std::int64_t elapsedMs);

class TfrmEncodeProgress : public QDialog {
  Q_OBJECT
 public:
  // Creates the runners, which post their first steps: set the mode before the window runs.
  // The runners convert with their own copy of settings and tags, as they are now.
  // Each file's output keeps its subfolder below the output folder.
  TfrmEncodeProgress(QWidget* owner, const std::vector<TInputFile>& files, const TOptionsSetting& settings,
                     const TTagInfo& tags);
  // Files named themselves: none has a subfolder.
  TfrmEncodeProgress(QWidget* owner, const std::vector<std::string>& files, const TOptionsSetting& settings,
                     const TTagInfo& tags);
  ~TfrmEncodeProgress() override;

  TConversionMode Mode() const;
  void SetMode(TConversionMode value);
  // The first runner; Jobs() counts them all.
  TConversionRunner& Runner() { return *Jobs_.front()->Runner; }
  TConversionRunner& Runner(std::size_t job) { return *Jobs_.at(job)->Runner; }
  std::size_t Jobs() const { return Jobs_.size(); }
  // What happened to each file of the batch, in the order they finished.
  const std::vector<TFileResult>& Results() const { return Results_; }

  // What the runners show; job is the runner's place.
  void SetCaption(const std::string& text);
  void SetInputFileName(const std::string& text, std::size_t job = 0);
  void SetOutputFileName(const std::string& text, std::size_t job = 0);
  void SetOutputFolder(const std::string& text);
  void SetSelectedTracks(const std::string& text);
  void SetCompleted(const std::string& text);
  void SetProgressHint(const std::string& text);
  void SetProgressCaption(const std::string& text, std::size_t job = 0);
  void SetProgress(std::int32_t position, std::size_t job = 0);
  void FileFinished(const TFileResult& result, std::size_t job = 0);

  // The Stop button.
  void bStopClick();

  // The text listing the failed and skipped files, and files converted with a warning
  // (empty when there are none).
  QString FailureSummary() const;
  // The batch as it stands: its results, the time taken and the folder the summary opens.
  TBatchOutcome Outcome() const;
  // The batch's share done in percent: finished files whole, running ones by their progress.
  int OverallPercent() const;

  QLabel* lInputFileName = nullptr;   // the first running file's
  QLabel* lOutputFileName = nullptr;  // the first running file's
  QLabel* lOutputFolder = nullptr;
  QLabel* lSelectedTracks = nullptr;
  QLabel* lCompleted = nullptr;
  QLabel* lProgressHint = nullptr;
  QProgressBar* ProgressBar1 = nullptr;  // the first running file's
  QLabel* lOverall = nullptr;            // files done of all, and the time left
  QProgressBar* OverallBar = nullptr;
  QPushButton* bStop = nullptr;

 protected:
  bool event(QEvent* event) override;  // the batch-step message
  void closeEvent(QCloseEvent* event) override;
  void reject() override;  // Escape and the close box close like Stop

 private:
  // Running until the batch ends or Stop; Closing while the runners are released and the
  // summary shown; Closed once the dialog may go.
  enum class TState { Running, Closing, Closed };

  class TJobView;
  // One file converted at a time: its runner, its view, its line in the window.
  struct TJob {
    std::unique_ptr<TJobView> View;
    std::unique_ptr<TConversionRunner> Runner;  // after View: it goes first
    QLabel* Input = nullptr;
    QLabel* Output = nullptr;
    QProgressBar* Bar = nullptr;
    std::int32_t Progress = 0;
    bool Busy = false;  // a file was shown and has not finished yet
  };

  void BuildControls(std::size_t jobs);
  QWidget* NewJobLine(TJob& job, std::size_t index);
  void PostStep(std::size_t job, TBatchStep step);
  void RunStep(std::size_t job, TBatchStep step);
  TOverwriteAnswer AskOverwrite(const std::string& Question);
  // A runner found the batch empty, or failed to go on: it is released, and the batch ends
  // with the last one.
  void CloseJob(std::size_t job);
  void ShowOverall();
  // The end of the batch, run from the event loop: never inside a runner's call.
  void FinishBatch();
  QString SummaryFolder() const;

  TCommonOptions Common_;
  std::vector<std::unique_ptr<TJob>> Jobs_;
  std::vector<TFileResult> Results_;
  std::size_t FileCount_ = 0;
  std::vector<std::string> Files_;
  QString Caption_;
  std::int32_t Completed_ = -1;
  QElapsedTimer Elapsed_;
  std::int64_t ElapsedMs_ = 0;
  TState State_ = TState::Running;
  bool FinishPosted_ = false;
  // The overwrite question is open: other runners' steps wait, so that one question is
  // asked at a time.
  bool Asking_ = false;
  std::vector<std::pair<std::size_t, TBatchStep>> Deferred_;
};

}  // namespace melvanto::gui
