#pragma once

// The window that ends every batch the progress window ran: how many files were converted,
// skipped, stopped, failed or converted with a warning, each listed with its message, the
// time taken, and a button that opens the output folder.

#include <QDialog>
#include <QMessageBox>
#include <QString>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "runner.h"

class QLabel;
class QPlainTextEdit;
class QPushButton;

namespace melvanto::gui {

// What a finished batch came to.
struct TBatchOutcome {
  std::size_t Files = 0;             // in the batch
  std::vector<TFileResult> Results;  // in the order the files finished
  std::int64_t ElapsedMs = 0;
  QString OutputFolder;  // what the folder button opens; empty for none
};

// The failed, warned and skipped files with their messages; empty when there are none.
QString ProblemLists(const TBatchOutcome& outcome);
// Every list: the problems, then the stopped and the converted files.
QString OutcomeLists(const TBatchOutcome& outcome);
// One line of counts.
QString OutcomeCounts(const TBatchOutcome& outcome);
// A duration as m:ss, or h:mm:ss from an hour on.
QString DurationText(std::int64_t ms);

class TfrmBatchSummary : public QDialog {
  Q_OBJECT
 public:
  TfrmBatchSummary(QWidget* owner, TBatchOutcome outcome);

  // Warning when a file failed or was converted with a warning, else Information.
  QMessageBox::Icon Icon() const { return Icon_; }
  const TBatchOutcome& Outcome() const { return Outcome_; }

  // Opens the output folder through the dialogs' shell call.
  void bOpenFolderClick();

  QLabel* lHeadline = nullptr;
  QLabel* lCounts = nullptr;
  QLabel* lTime = nullptr;
  QPlainTextEdit* mLists = nullptr;
  QPushButton* bOpenFolder = nullptr;
  QPushButton* bClose = nullptr;

 private:
  TBatchOutcome Outcome_;
  QMessageBox::Icon Icon_ = QMessageBox::Information;
};

}  // namespace melvanto::gui
