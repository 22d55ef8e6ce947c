#include "encode_progress.h"

#include <QApplication>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QMetaObject>
#include <QProgressBar>
#include <QPushButton>
#include <QResizeEvent>
#include <QVBoxLayout>
#include <algorithm>
#include <exception>

#include "conversion_mode.h"
#include "dialogs.h"
#include "product.h"

namespace melvanto::gui {
namespace {

constexpr int kClientWidth = 420;
constexpr int kClientHeight = 260;
// A summary longer than this would not fit on a screen; the rest is counted.
constexpr std::size_t kListedFailures = 20;

// The batch-step message, carrying its first parameter: the step as a number, as a window
// message's parameter is.
class TBatchStepEvent : public QEvent {
 public:
  explicit TBatchStepEvent(TBatchStep step)
      : QEvent(kBatchStepEvent), Param(static_cast<std::int32_t>(step)) {}
  TBatchStep Step() const { return static_cast<TBatchStep>(Param); }
  const std::int32_t Param;
};

// A label for names and paths: too long a text is shortened in the middle (where a path
// is least telling) and shown whole in its tooltip.
class TElidingLabel : public QLabel {
 public:
  explicit TElidingLabel(QWidget* parent) : QLabel(parent) {
    // The dialog's size is fixed: a long text must not ask for more room.
    setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    setMinimumWidth(1);
  }
  void SetFullText(const QString& text) {
    Full_ = text;
    setToolTip(text);
    Elide();
  }
  const QString& FullText() const { return Full_; }

 protected:
  void resizeEvent(QResizeEvent* event) override {
    QLabel::resizeEvent(event);
    Elide();
  }
  void changeEvent(QEvent* event) override {
    QLabel::changeEvent(event);
    // The style sheet sets the font when the window is polished.
    if (event->type() == QEvent::FontChange) Elide();
  }

 private:
  void Elide() {
    const int width = contentsRect().width();
    // Not laid out yet: the whole text, shortened once the label has its width.
    setText(width > 1 ? fontMetrics().elidedText(Full_, Qt::ElideMiddle, width) : Full_);
  }
  QString Full_;
};

void SetLabelText(QLabel* label, const std::string& text) {
  const QString value = QString::fromStdString(text);
  if (auto* eliding = dynamic_cast<TElidingLabel*>(label))
    eliding->SetFullText(value);
  else
    label->setText(value);
}

}  // namespace

TfrmEncodeProgress::TfrmEncodeProgress(QWidget* owner, const std::vector<std::string>& files,
                                       const TOptionsSetting& settings, const TTagInfo& tags)
    : QDialog(owner), FileCount_(files.size()) {
  BuildControls();
  // Created last: the runner shows its first texts through the controls and posts its first
  // step, which runs once the modal loop does, after the caller has set the mode.
  Runner_ = std::make_unique<TConversionRunner>(*this, files, TRunnerContext{settings, tags, {}});
}

TfrmEncodeProgress::~TfrmEncodeProgress() {
  // No output may go on writing after its window: Close stops it (and does nothing twice).
  try {
    if (Runner_) Runner_->Close();
  } catch (const std::exception&) {
    // The components still stop in their own destructors.
  }
}

void TfrmEncodeProgress::BuildControls() {
  setObjectName("frmEncodeProgress");
  setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                 Qt::MSWindowsFixedSizeDialogHint);
  setModal(true);
  setFixedSize(kClientWidth, kClientHeight);

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(10, 10, 10, 10);
  layout->setSpacing(8);

  auto* group1 = new QGroupBox(this);
  group1->setObjectName("GroupBox1");
  auto* grid = new QGridLayout(group1);
  grid->setHorizontalSpacing(8);
  grid->setVerticalSpacing(4);
  grid->setColumnStretch(1, 1);
  const char* captions[] = {
      "Current Input File:", "Current Output File:", "Output Folder:", "Selected files:", "Completed:"};
  QLabel** values[] = {&lInputFileName, &lOutputFileName, &lOutputFolder, &lSelectedTracks, &lCompleted};
  const char* names[] = {"lInputFileName", "lOutputFileName", "lOutputFolder", "lSelectedTracks",
                         "lCompleted"};
  for (int row = 0; row < 5; ++row) {
    auto* caption = new QLabel(QString::fromLatin1(captions[row]), group1);
    caption->setObjectName(QString("Label%1").arg(row + 1));
    grid->addWidget(caption, row, 0);
    // Names and the folder can be long; the counts cannot.
    QLabel* value = row < 3 ? new TElidingLabel(group1) : new QLabel(group1);
    value->setObjectName(QString::fromLatin1(names[row]));
    grid->addWidget(value, row, 1);
    *values[row] = value;
  }
  layout->addWidget(group1);

  auto* group2 = new QGroupBox(this);
  group2->setObjectName("GroupBox2");
  auto* box2 = new QVBoxLayout(group2);
  box2->setSpacing(6);
  lProgressHint = new QLabel(group2);
  lProgressHint->setObjectName("lProgressHint");
  box2->addWidget(lProgressHint);
  ProgressBar1 = new QProgressBar(group2);
  ProgressBar1->setObjectName("ProgressBar1");
  ProgressBar1->setRange(0, 100);
  ProgressBar1->setValue(0);
  ProgressBar1->setTextVisible(true);
  ProgressBar1->setAlignment(Qt::AlignCenter);
  ProgressBar1->setFormat("%p%");
  box2->addWidget(ProgressBar1);
  layout->addWidget(group2);
  layout->addStretch(1);

  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  bStop = new QPushButton("Stop", this);
  bStop->setObjectName("bStop");
  // Enter must not end a batch by accident.
  bStop->setAutoDefault(false);
  buttons->addWidget(bStop);
  layout->addLayout(buttons);
  connect(bStop, &QPushButton::clicked, this, [this] { bStopClick(); });

  // Lays the labels out now, so that texts set before the window shows are shortened to fit.
  layout->activate();
}

TConversionMode TfrmEncodeProgress::Mode() const {
  return Runner_->Mode();
}

void TfrmEncodeProgress::SetMode(TConversionMode value) {
  Runner_->SetMode(value);
}

void TfrmEncodeProgress::SetCaption(const std::string& text) {
  setWindowTitle(QString::fromStdString(text));
}

void TfrmEncodeProgress::SetInputFileName(const std::string& text) {
  SetLabelText(lInputFileName, text);
  // A new file starts from nothing; the bar would show the last one's end until its first
  // progress event.
  ProgressBar1->setValue(0);
}

void TfrmEncodeProgress::SetOutputFileName(const std::string& text) {
  SetLabelText(lOutputFileName, text);
}

void TfrmEncodeProgress::SetOutputFolder(const std::string& text) {
  SetLabelText(lOutputFolder, text);
}

void TfrmEncodeProgress::SetSelectedTracks(const std::string& text) {
  SetLabelText(lSelectedTracks, text);
}

void TfrmEncodeProgress::SetCompleted(const std::string& text) {
  SetLabelText(lCompleted, text);
}

void TfrmEncodeProgress::SetProgressHint(const std::string& text) {
  SetLabelText(lProgressHint, text);
}

void TfrmEncodeProgress::SetProgressCaption(const std::string& text) {
  ProgressBar1->setFormat(text.empty() ? QString("%p%") : QString::fromStdString(text) + " %p%");
}

void TfrmEncodeProgress::SetProgress(std::int32_t position) {
  ProgressBar1->setValue(std::clamp(position, 0, 100));
}

void TfrmEncodeProgress::FileFinished(const TFileResult& result) {
  if (result.Status == TFileResult::frFailed) Failed_.push_back(result);
  if (result.Status == TFileResult::frSkipped) Skipped_.push_back(result);
  if (result.Status == TFileResult::frConverted && !result.Warning.empty()) Warned_.push_back(result);
}

TOverwriteAnswer TfrmEncodeProgress::AskOverwrite(const std::string& Question,
                                                  const std::string& /*OutputPath*/) {
  QWidget* owner = QApplication::activeWindow();
  // No is the default: a stray Enter keeps the user's file.
  switch (Dialogs().AskChoice(
      owner != nullptr ? owner : this, kProductName, QString::fromStdString(Question), QMessageBox::Question,
      QMessageBox::Yes | QMessageBox::No | QMessageBox::YesToAll | QMessageBox::NoToAll, QMessageBox::No)) {
    case QMessageBox::Yes:
      return TOverwriteAnswer::oaYes;
    case QMessageBox::YesToAll:
      return TOverwriteAnswer::oaYesToAll;
    case QMessageBox::NoToAll:
      return TOverwriteAnswer::oaNoToAll;
    default:
      return TOverwriteAnswer::oaNo;
  }
}

void TfrmEncodeProgress::PostBatchStep(TBatchStep Param) {
  // Qt takes ownership of a posted event.
  QCoreApplication::postEvent(this, std::make_unique<TBatchStepEvent>(Param).release());
}

void TfrmEncodeProgress::CloseWindow() {
  if (FinishPosted_ || State_ != TState::Running) return;
  FinishPosted_ = true;
  // Called from inside a runner step: releasing the runner and showing the summary wait
  // until that step has returned.
  QMetaObject::invokeMethod(
      this, [this] { FinishBatch(); }, Qt::QueuedConnection);
}

void TfrmEncodeProgress::FinishBatch() {
  if (State_ != TState::Running) return;
  State_ = TState::Closing;
  bStop->setEnabled(false);
  // Released first, so that the summary also names a file whose run ended just now.
  try {
    Runner_->Close();
  } catch (const std::exception& e) {
    Dialogs().ShowMessage(this, kProductName, QString::fromStdString(e.what()), QMessageBox::Critical);
  }
  const QString summary = FailureSummary();
  // Files kept at the user's word are no fault.
  const QMessageBox::Icon icon =
      Failed_.empty() && Warned_.empty() ? QMessageBox::Information : QMessageBox::Warning;
  if (!summary.isEmpty()) Dialogs().ShowMessage(this, kProductName, summary, icon);
  State_ = TState::Closed;
  done(QDialog::Accepted);
}

namespace {

// A heading, then each file's name with its text, at most kListedFailures of them.
QString ListedFiles(const QString& heading, const std::vector<TFileResult>& files,
                    std::string TFileResult::*text) {
  QString list = heading;
  const std::size_t listed = std::min(files.size(), kListedFailures);
  for (std::size_t i = 0; i < listed; ++i) {
    const TFileResult& r = files[i];
    list += "\n" + QString::fromStdString(NameWithoutFolder(r.Input));
    if (!(r.*text).empty()) list += ": " + QString::fromStdString(r.*text);
  }
  if (files.size() > listed) list += QString("\n... and %1 more").arg(files.size() - listed);
  return list;
}

}  // namespace

QString TfrmEncodeProgress::FailureSummary() const {
  const char* files = FileCount_ == 1 ? "file" : "files";
  QString text;
  if (!Failed_.empty())
    text = ListedFiles(
        QString("%1 of %2 %3 could not be converted:").arg(Failed_.size()).arg(FileCount_).arg(files),
        Failed_, &TFileResult::Message);
  if (!Warned_.empty()) {
    if (!text.isEmpty()) text += "\n\n";
    text += ListedFiles(
        QString("%1 of %2 %3 converted with a warning:").arg(Warned_.size()).arg(FileCount_).arg(files),
        Warned_, &TFileResult::Warning);
  }
  if (!Skipped_.empty()) {
    if (!text.isEmpty()) text += "\n\n";
    text += ListedFiles(QString("%1 of %2 %3 skipped:").arg(Skipped_.size()).arg(FileCount_).arg(files),
                        Skipped_, &TFileResult::Message);
  }
  return text;
}

void TfrmEncodeProgress::bStopClick() {
  if (State_ == TState::Running) Runner_->bStopClick();
}

bool TfrmEncodeProgress::event(QEvent* event) {
  if (event->type() != kBatchStepEvent) return QDialog::event(event);
  // A step posted before Stop was pressed must not start another file.
  if (State_ == TState::Running && !FinishPosted_) {
    try {
      Runner_->BatchStep(static_cast<TBatchStepEvent*>(event)->Step());
    } catch (const std::exception&) {
      // A failed step ends; the window waits for Stop.
    }
  }
  return true;
}

void TfrmEncodeProgress::closeEvent(QCloseEvent* event) {
  if (State_ == TState::Closed) {
    event->accept();
    return;
  }
  // The close box stops the batch; the window goes once the runner is released.
  event->ignore();
  bStopClick();
}

void TfrmEncodeProgress::reject() {
  if (State_ == TState::Closed)
    QDialog::reject();
  else
    bStopClick();
}

}  // namespace melvanto::gui
