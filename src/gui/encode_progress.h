#pragma once

// The progress window: a view on the conversion runner. Shown modally by the main window;
// it closes itself when the batch is done (after a summary when files failed) or on Stop.

#include <QDialog>
#include <memory>
#include <string>
#include <vector>

#include "runner.h"

class QGroupBox;
class QLabel;
class QProgressBar;
class QPushButton;

namespace melvanto::gui {

class TfrmEncodeProgress : public QDialog, public TRunnerView {
  Q_OBJECT
 public:
  // Creates the runner, which posts its first step: set the mode before the window runs. The
  // runner converts with its own copy of settings and tags, as they are now.
  TfrmEncodeProgress(QWidget* owner, const std::vector<std::string>& files, const TOptionsSetting& settings,
                     const TTagInfo& tags);
  ~TfrmEncodeProgress() override;

  TConversionMode Mode() const;
  void SetMode(TConversionMode value);
  TConversionRunner& Runner() { return *Runner_; }

  // TRunnerView
  void SetCaption(const std::string& text) override;
  void SetInputFileName(const std::string& text) override;
  void SetOutputFileName(const std::string& text) override;
  void SetOutputFolder(const std::string& text) override;
  void SetSelectedTracks(const std::string& text) override;
  void SetCompleted(const std::string& text) override;
  void SetProgressHint(const std::string& text) override;
  void SetProgressCaption(const std::string& text) override;
  void SetProgress(std::int32_t position) override;
  void FileFinished(const TFileResult& result) override;
  TOverwriteAnswer AskOverwrite(const std::string& Question, const std::string& OutputPath) override;
  void PostBatchStep(TBatchStep Param) override;
  void CloseWindow() override;

  // The Stop button.
  void bStopClick();

  // The text shown when the batch ends with failed or skipped files, or files converted with a
  // warning (empty when there are none).
  QString FailureSummary() const;

  QLabel* lInputFileName = nullptr;
  QLabel* lOutputFileName = nullptr;
  QLabel* lOutputFolder = nullptr;
  QLabel* lSelectedTracks = nullptr;
  QLabel* lCompleted = nullptr;
  QLabel* lProgressHint = nullptr;
  QProgressBar* ProgressBar1 = nullptr;
  QPushButton* bStop = nullptr;

 protected:
  bool event(QEvent* event) override;  // the batch-step message
  void closeEvent(QCloseEvent* event) override;
  void reject() override;  // Escape and the close box close like Stop

 private:
  // Running until the runner asks to close; Closing while the runner is released and the
  // summary shown; Closed once the dialog may go.
  enum class TState { Running, Closing, Closed };

  void BuildControls();
  // The end of the batch, run from the event loop: never inside a runner's call.
  void FinishBatch();

  std::unique_ptr<TConversionRunner> Runner_;
  TState State_ = TState::Running;
  bool FinishPosted_ = false;
  std::size_t FileCount_ = 0;
  std::vector<TFileResult> Failed_;
  std::vector<TFileResult> Warned_;
  std::vector<TFileResult> Skipped_;
};

}  // namespace melvanto::gui
