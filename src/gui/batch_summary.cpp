#include "batch_summary.h"

#include <QApplication>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStyle>
#include <QUrl>
#include <QVBoxLayout>
#include <algorithm>
#include <functional>
#include <utility>

#include "conversion_mode.h"
#include "dialogs.h"
#include "product.h"

namespace melvanto::gui {
namespace {

// A list longer than this would not fit on a screen; the rest is counted.
constexpr std::size_t kListedFiles = 20;

std::vector<TFileResult> WithStatus(const TBatchOutcome& outcome, TFileResult::TStatus status,
                                    bool warnedOnly = false) {
  std::vector<TFileResult> files;
  for (const TFileResult& r : outcome.Results)
    if (r.Status == status && (!warnedOnly || !r.Warning.empty())) files.push_back(r);
  return files;
}

// A heading ("2 of 5 files skipped:"), then a line for each file, at most kListedFiles.
QString ListedFiles(const TBatchOutcome& outcome, const std::vector<TFileResult>& files, const char* what,
                    const std::function<QString(const TFileResult&)>& detail) {
  QString list = QString("%1 of %2 %3 %4:")
                     .arg(files.size())
                     .arg(outcome.Files)
                     .arg(outcome.Files == 1 ? "file" : "files")
                     .arg(QString::fromLatin1(what));
  const std::size_t listed = std::min(files.size(), kListedFiles);
  for (std::size_t i = 0; i < listed; ++i) {
    list += "\n" + QString::fromStdString(NameWithoutFolder(files[i].Input));
    if (const QString more = detail(files[i]); !more.isEmpty()) list += ": " + more;
  }
  if (files.size() > listed) list += QString("\n... and %1 more").arg(files.size() - listed);
  return list;
}

QString TextOf(const std::string& text) {
  return QString::fromStdString(text);
}

void Append(QString& text, const QString& part) {
  if (part.isEmpty()) return;
  if (!text.isEmpty()) text += "\n\n";
  text += part;
}

std::size_t NotStarted(const TBatchOutcome& outcome) {
  return outcome.Files > outcome.Results.size() ? outcome.Files - outcome.Results.size() : 0;
}

}  // namespace

QString ProblemLists(const TBatchOutcome& outcome) {
  QString text;
  const auto message = [](const TFileResult& r) { return TextOf(r.Message); };
  if (const auto failed = WithStatus(outcome, TFileResult::frFailed); !failed.empty())
    Append(text, ListedFiles(outcome, failed, "could not be converted", message));
  if (const auto warned = WithStatus(outcome, TFileResult::frConverted, true); !warned.empty())
    Append(text, ListedFiles(outcome, warned, "converted with a warning",
                             [](const TFileResult& r) { return TextOf(r.Warning); }));
  if (const auto skipped = WithStatus(outcome, TFileResult::frSkipped); !skipped.empty())
    Append(text, ListedFiles(outcome, skipped, "skipped", message));
  return text;
}

QString OutcomeLists(const TBatchOutcome& outcome) {
  QString text = ProblemLists(outcome);
  if (const auto stopped = WithStatus(outcome, TFileResult::frStopped); !stopped.empty())
    Append(text,
           ListedFiles(outcome, stopped, "stopped", [](const TFileResult& r) { return TextOf(r.Message); }));
  if (const auto converted = WithStatus(outcome, TFileResult::frConverted); !converted.empty())
    Append(text, ListedFiles(outcome, converted, "converted", [](const TFileResult& r) {
             return "written as " + QString::fromStdString(NameWithoutFolder(r.Output));
           }));
  return text;
}

QString OutcomeCounts(const TBatchOutcome& outcome) {
  QString counts = QString("Converted: %1 (with a warning: %2), skipped: %3, stopped: %4, failed: %5")
                       .arg(WithStatus(outcome, TFileResult::frConverted).size())
                       .arg(WithStatus(outcome, TFileResult::frConverted, true).size())
                       .arg(WithStatus(outcome, TFileResult::frSkipped).size())
                       .arg(WithStatus(outcome, TFileResult::frStopped).size())
                       .arg(WithStatus(outcome, TFileResult::frFailed).size());
  if (const std::size_t left = NotStarted(outcome); left > 0)
    counts += QString(", not started: %1").arg(left);
  return counts;
}

QString DurationText(std::int64_t ms) {
  const std::int64_t seconds = std::max<std::int64_t>(ms, 0) / 1000;
  const std::int64_t h = seconds / 3600, m = seconds / 60 % 60, s = seconds % 60;
  if (h > 0) return QString("%1:%2:%3").arg(h).arg(m, 2, 10, QChar('0')).arg(s, 2, 10, QChar('0'));
  return QString("%1:%2").arg(m).arg(s, 2, 10, QChar('0'));
}

TfrmBatchSummary::TfrmBatchSummary(QWidget* owner, TBatchOutcome outcome)
    : QDialog(owner), Outcome_(std::move(outcome)) {
  setObjectName("frmBatchSummary");
  setWindowTitle(kProductName);
  setModal(true);
  setMinimumSize(460, 320);

  const auto converted = WithStatus(Outcome_, TFileResult::frConverted).size();
  const bool stopped = NotStarted(Outcome_) > 0 || !WithStatus(Outcome_, TFileResult::frStopped).empty();
  const bool troubled = !WithStatus(Outcome_, TFileResult::frFailed).empty() ||
                        !WithStatus(Outcome_, TFileResult::frConverted, true).empty();
  // Files kept at the user's word, or stopped by him, are no fault.
  Icon_ = troubled ? QMessageBox::Warning : QMessageBox::Information;

  QString headline;
  if (stopped)
    headline = QString("The batch was stopped: %1 of %2 files converted.").arg(converted).arg(Outcome_.Files);
  else if (converted == Outcome_.Files)
    headline = Outcome_.Files == 1 ? QString("The file was converted.")
                                   : QString("All %1 files were converted.").arg(Outcome_.Files);
  else
    headline = QString("%1 of %2 %3 converted.")
                   .arg(converted)
                   .arg(Outcome_.Files)
                   .arg(Outcome_.Files == 1 ? "file was" : "files were");

  auto* icon = new QLabel(this);
  icon->setObjectName("imgIcon");
  const QStyle::StandardPixmap pixmap =
      troubled ? QStyle::SP_MessageBoxWarning : QStyle::SP_MessageBoxInformation;
  icon->setPixmap(style()->standardIcon(pixmap).pixmap(32, 32));
  lHeadline = new QLabel(headline, this);
  lHeadline->setObjectName("lHeadline");
  lHeadline->setWordWrap(true);
  lCounts = new QLabel(OutcomeCounts(Outcome_), this);
  lCounts->setObjectName("lCounts");
  lCounts->setWordWrap(true);
  lTime = new QLabel("Time taken: " + DurationText(Outcome_.ElapsedMs), this);
  lTime->setObjectName("lTime");
  mLists = new QPlainTextEdit(OutcomeLists(Outcome_), this);
  mLists->setObjectName("mLists");
  mLists->setReadOnly(true);
  mLists->setLineWrapMode(QPlainTextEdit::WidgetWidth);
  mLists->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);

  bOpenFolder = new QPushButton("Open Output Folder", this);
  bOpenFolder->setObjectName("bOpenFolder");
  bOpenFolder->setAutoDefault(false);
  bOpenFolder->setEnabled(!Outcome_.OutputFolder.isEmpty());
  bOpenFolder->setToolTip(Outcome_.OutputFolder);
  bClose = new QPushButton("Close", this);
  bClose->setObjectName("bClose");
  bClose->setDefault(true);
  connect(bOpenFolder, &QPushButton::clicked, this, [this] { bOpenFolderClick(); });
  connect(bClose, &QPushButton::clicked, this, &QDialog::accept);

  auto* top = new QGridLayout;
  top->setHorizontalSpacing(10);
  top->addWidget(icon, 0, 0, 3, 1, Qt::AlignTop);
  top->addWidget(lHeadline, 0, 1);
  top->addWidget(lCounts, 1, 1);
  top->addWidget(lTime, 2, 1);
  top->setColumnStretch(1, 1);
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(bOpenFolder);
  buttons->addStretch(1);
  buttons->addWidget(bClose);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(10, 10, 10, 10);
  layout->addLayout(top);
  layout->addWidget(mLists, 1);
  layout->addLayout(buttons);
}

void TfrmBatchSummary::bOpenFolderClick() {
  if (!Outcome_.OutputFolder.isEmpty()) Dialogs().OpenUrl(QUrl::fromLocalFile(Outcome_.OutputFolder));
}

}  // namespace melvanto::gui
