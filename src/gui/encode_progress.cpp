#include "encode_progress.h"

#include <QApplication>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDir>
#include <QEvent>
#include <QFile>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QMetaObject>
#include <QProgressBar>
#include <QPushButton>
#include <QResizeEvent>
#include <QScrollArea>
#include <QVBoxLayout>
#include <algorithm>
#include <exception>

#include "batch_summary.h"
#include "conversion_mode.h"
#include "dialogs.h"
#include "product.h"

namespace melvanto::gui {
namespace {

constexpr int kClientWidth = 420;
// Running files shown without scrolling; more scroll.
constexpr std::size_t kVisibleJobs = 3;

// The batch-step message, carrying the step as a number, as a window message's parameter
// is, and the runner it is for.
class TBatchStepEvent : public QEvent {
 public:
  TBatchStepEvent(std::size_t job, TBatchStep step)
      : QEvent(kBatchStepEvent), Job(job), Param(static_cast<std::int32_t>(step)) {}
  TBatchStep Step() const { return static_cast<TBatchStep>(Param); }
  const std::size_t Job;
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

std::vector<TInputFile> NamedFiles(const std::vector<std::string>& paths) {
  std::vector<TInputFile> files;
  files.reserve(paths.size());
  for (const std::string& path : paths) files.push_back({path, {}});
  return files;
}

}  // namespace

// Each runner's view: what it shows goes to its own line, the rest to the window.
class TfrmEncodeProgress::TJobView : public TRunnerView {
 public:
  TJobView(TfrmEncodeProgress& window, std::size_t job) : Window_(window), Job_(job) {}
  void SetCaption(const std::string& text) override { Window_.SetCaption(text); }
  void SetInputFileName(const std::string& text) override { Window_.SetInputFileName(text, Job_); }
  void SetOutputFileName(const std::string& text) override { Window_.SetOutputFileName(text, Job_); }
  void SetOutputFolder(const std::string& text) override { Window_.SetOutputFolder(text); }
  void SetSelectedTracks(const std::string& text) override { Window_.SetSelectedTracks(text); }
  void SetCompleted(const std::string& text) override { Window_.SetCompleted(text); }
  void SetProgressHint(const std::string& text) override { Window_.SetProgressHint(text); }
  void SetProgressCaption(const std::string& text) override { Window_.SetProgressCaption(text, Job_); }
  void SetProgress(std::int32_t position) override { Window_.SetProgress(position, Job_); }
  void FileFinished(const TFileResult& result) override { Window_.FileFinished(result, Job_); }
  TOverwriteAnswer AskOverwrite(const std::string& Question, const std::string& /*OutputPath*/) override {
    return Window_.AskOverwrite(Question);
  }
  void PostBatchStep(TBatchStep Param) override { Window_.PostStep(Job_, Param); }
  void CloseWindow() override {
    // Called from inside the runner's step: it is released once that step has returned.
    QMetaObject::invokeMethod(
        &Window_, [window = &Window_, job = Job_] { window->CloseJob(job); }, Qt::QueuedConnection);
  }

 private:
  TfrmEncodeProgress& Window_;
  const std::size_t Job_;
};

std::optional<std::int64_t> TimeLeftMs(double done, std::int64_t elapsedMs) {
  // Too early, the first seconds (opening files, the encoder's start) would tell too much.
  if (done < 0.02 || elapsedMs < 2000) return std::nullopt;
  if (done >= 1) return 0;
  return static_cast<std::int64_t>(static_cast<double>(elapsedMs) * (1 - done) / done);
}

TfrmEncodeProgress::TfrmEncodeProgress(QWidget* owner, const std::vector<std::string>& files,
                                       const TOptionsSetting& settings, const TTagInfo& tags)
    : TfrmEncodeProgress(owner, NamedFiles(files), settings, tags) {}

TfrmEncodeProgress::TfrmEncodeProgress(QWidget* owner, const std::vector<TInputFile>& files,
                                       const TOptionsSetting& settings, const TTagInfo& tags)
    : QDialog(owner), Common_(settings.CommonOptions), FileCount_(files.size()), Files_(PathsOf(files)) {
  // More runners than files would have nothing to do.
  const auto parallel =
      static_cast<std::size_t>(std::clamp(settings.CommonOptions.ParallelFiles, 1, kMaxParallelFiles));
  const std::size_t jobs = std::max<std::size_t>(1, std::min(parallel, files.size()));
  for (std::size_t j = 0; j < jobs; ++j) Jobs_.push_back(std::make_unique<TJob>());
  BuildControls(jobs);
  // Created last: the runners show their first texts through the controls and post their
  // first steps, which run once the modal loop does, after the caller has set the mode.
  auto batch = std::make_shared<TBatchFiles>();
  SetBatchInputs(*batch, files);
  const TRunnerContext context{settings, tags, {}};
  for (std::size_t j = 0; j < jobs; ++j) {
    TJob& job = *Jobs_[j];
    job.View = std::make_unique<TJobView>(*this, j);
    job.Runner = std::make_unique<TConversionRunner>(*job.View, batch, context);
  }
}

TfrmEncodeProgress::~TfrmEncodeProgress() {
  // No output may go on writing after its window: Close stops it (and does nothing twice).
  for (const auto& job : Jobs_) {
    try {
      if (job->Runner) job->Runner->Close();
    } catch (const std::exception&) {
      // The components still stop in their own destructors.
    }
  }
}

QWidget* TfrmEncodeProgress::NewJobLine(TJob& job, std::size_t index) {
  auto* line = new QWidget;
  line->setObjectName(QString("Job%1").arg(index + 1));
  auto* grid = new QGridLayout(line);
  grid->setContentsMargins(0, 0, 0, 0);
  grid->setHorizontalSpacing(8);
  grid->setVerticalSpacing(2);
  grid->setColumnStretch(1, 1);
  const char* captions[] = {"Current Input File:", "Current Output File:"};
  QLabel** values[] = {&job.Input, &job.Output};
  const char* names[] = {"lInputFileName", "lOutputFileName"};
  for (int row = 0; row < 2; ++row) {
    grid->addWidget(new QLabel(QString::fromLatin1(captions[row]), line), row, 0);
    *values[row] = new TElidingLabel(line);
    (*values[row])
        ->setObjectName(index == 0 ? QString::fromLatin1(names[row])
                                   : QString("%1%2").arg(names[row]).arg(index + 1));
    grid->addWidget(*values[row], row, 1);
  }
  job.Bar = new QProgressBar(line);
  job.Bar->setObjectName(index == 0 ? QString("ProgressBar1") : QString("ProgressBar1_%1").arg(index + 1));
  job.Bar->setRange(0, 100);
  job.Bar->setValue(0);
  job.Bar->setTextVisible(true);
  job.Bar->setAlignment(Qt::AlignCenter);
  job.Bar->setFormat("%p%");
  grid->addWidget(job.Bar, 2, 0, 1, 2);
  return line;
}

void TfrmEncodeProgress::BuildControls(std::size_t jobs) {
  setObjectName("frmEncodeProgress");
  setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                 Qt::MSWindowsFixedSizeDialogHint);
  setModal(true);

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(10, 10, 10, 10);
  layout->setSpacing(8);

  auto* group1 = new QGroupBox(this);
  group1->setObjectName("GroupBox1");
  auto* grid = new QGridLayout(group1);
  grid->setHorizontalSpacing(8);
  grid->setVerticalSpacing(4);
  grid->setColumnStretch(1, 1);
  const char* captions[] = {"Output Folder:", "Selected files:", "Completed:"};
  QLabel** values[] = {&lOutputFolder, &lSelectedTracks, &lCompleted};
  const char* names[] = {"lOutputFolder", "lSelectedTracks", "lCompleted"};
  for (int row = 0; row < 3; ++row) {
    auto* caption = new QLabel(QString::fromLatin1(captions[row]), group1);
    caption->setObjectName(QString("Label%1").arg(row + 1));
    grid->addWidget(caption, row, 0);
    // The folder can be long; the counts cannot.
    QLabel* value = row == 0 ? new TElidingLabel(group1) : new QLabel(group1);
    value->setObjectName(QString::fromLatin1(names[row]));
    grid->addWidget(value, row, 1);
    *values[row] = value;
  }
  layout->addWidget(group1);

  // One line per file converted at once; beyond a few they scroll.
  auto* jobsGroup = new QGroupBox(this);
  jobsGroup->setObjectName("GroupBoxJobs");
  auto* jobsBox = new QVBoxLayout(jobsGroup);
  auto* area = new QScrollArea(jobsGroup);
  area->setObjectName("JobsArea");
  // The group's own background shows through, as in the other groups.
  area->setStyleSheet("QScrollArea#JobsArea, QWidget#JobsList { background: transparent; }");
  area->viewport()->setAutoFillBackground(false);
  area->setFrameShape(QFrame::NoFrame);
  area->setWidgetResizable(true);
  area->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  auto* list = new QWidget(area);
  list->setObjectName("JobsList");
  auto* lines = new QVBoxLayout(list);
  lines->setContentsMargins(0, 0, 0, 0);
  lines->setSpacing(10);
  for (std::size_t j = 0; j < jobs; ++j) lines->addWidget(NewJobLine(*Jobs_[j], j));
  area->setWidget(list);
  jobsBox->addWidget(area);
  layout->addWidget(jobsGroup);
  lInputFileName = Jobs_.front()->Input;
  lOutputFileName = Jobs_.front()->Output;
  ProgressBar1 = Jobs_.front()->Bar;

  auto* group2 = new QGroupBox(this);
  group2->setObjectName("GroupBox2");
  auto* box2 = new QGridLayout(group2);
  box2->setVerticalSpacing(6);
  lProgressHint = new QLabel(group2);
  lProgressHint->setObjectName("lProgressHint");
  box2->addWidget(lProgressHint, 0, 0);
  lOverall = new QLabel(group2);
  lOverall->setObjectName("lOverall");
  lOverall->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  box2->addWidget(lOverall, 0, 1);
  box2->setColumnStretch(1, 1);
  OverallBar = new QProgressBar(group2);
  OverallBar->setObjectName("OverallBar");
  OverallBar->setRange(0, 100);
  OverallBar->setValue(0);
  OverallBar->setTextVisible(true);
  OverallBar->setAlignment(Qt::AlignCenter);
  OverallBar->setFormat("%p%");
  box2->addWidget(OverallBar, 1, 0, 1, 2);
  layout->addWidget(group2);

  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  bStop = new QPushButton("Stop", this);
  bStop->setObjectName("bStop");
  // Enter must not end a batch by accident.
  bStop->setAutoDefault(false);
  buttons->addWidget(bStop);
  layout->addLayout(buttons);
  connect(bStop, &QPushButton::clicked, this, [this] { bStopClick(); });

  // Sized from the styled controls: the style sheet may give them other fonts and margins.
  ensurePolished();
  for (QWidget* child : findChildren<QWidget*>()) child->ensurePolished();
  const int line = list->layout()->itemAt(0)->sizeHint().height();
  const auto shown = static_cast<int>(std::min(jobs, kVisibleJobs));
  area->setFixedHeight(shown * line + (shown - 1) * lines->spacing());
  setFixedSize(kClientWidth, layout->sizeHint().height());
  // Lays the labels out now, so that texts set before the window shows are shortened to fit.
  layout->activate();
  list->resize(area->viewport()->width(), list->sizeHint().height());
  list->layout()->activate();
}

TConversionMode TfrmEncodeProgress::Mode() const {
  return Jobs_.front()->Runner->Mode();
}

void TfrmEncodeProgress::SetMode(TConversionMode value) {
  for (const auto& job : Jobs_) job->Runner->SetMode(value);
}

void TfrmEncodeProgress::SetCaption(const std::string& text) {
  Caption_ = QString::fromStdString(text);
  setWindowTitle(Caption_);
}

void TfrmEncodeProgress::SetInputFileName(const std::string& text, std::size_t job) {
  TJob& j = *Jobs_.at(job);
  SetLabelText(j.Input, text);
  // A new file starts from nothing; the bar would show the last one's end until its first
  // progress event.
  j.Bar->setValue(0);
  j.Progress = 0;
  j.Busy = true;
  ShowOverall();
}

void TfrmEncodeProgress::SetOutputFileName(const std::string& text, std::size_t job) {
  SetLabelText(Jobs_.at(job)->Output, text);
}

void TfrmEncodeProgress::SetOutputFolder(const std::string& text) {
  SetLabelText(lOutputFolder, text);
}

void TfrmEncodeProgress::SetSelectedTracks(const std::string& text) {
  SetLabelText(lSelectedTracks, text);
}

void TfrmEncodeProgress::SetCompleted(const std::string& text) {
  // Each runner tells the files started before its own; the batch has started the most.
  bool number = false;
  const int value = QString::fromStdString(text).toInt(&number);
  if (!number) {
    SetLabelText(lCompleted, text);
  } else if (value > Completed_) {
    Completed_ = value;
    SetLabelText(lCompleted, text);
  }
}

void TfrmEncodeProgress::SetProgressHint(const std::string& text) {
  SetLabelText(lProgressHint, text);
}

void TfrmEncodeProgress::SetProgressCaption(const std::string& text, std::size_t job) {
  Jobs_.at(job)->Bar->setFormat(text.empty() ? QString("%p%") : QString::fromStdString(text) + " %p%");
}

void TfrmEncodeProgress::SetProgress(std::int32_t position, std::size_t job) {
  TJob& j = *Jobs_.at(job);
  j.Progress = std::clamp(position, 0, 100);
  j.Bar->setValue(j.Progress);
  ShowOverall();
}

void TfrmEncodeProgress::FileFinished(const TFileResult& result, std::size_t job) {
  Results_.push_back(result);
  TJob& j = *Jobs_.at(job);
  j.Busy = false;
  j.Progress = 0;
  ShowOverall();
}

int TfrmEncodeProgress::OverallPercent() const {
  if (FileCount_ == 0) return 100;
  double done = static_cast<double>(std::min(Results_.size(), FileCount_));
  for (const auto& job : Jobs_)
    if (job->Busy) done += job->Progress / 100.0;
  return std::clamp(static_cast<int>(100 * done / static_cast<double>(FileCount_)), 0, 100);
}

void TfrmEncodeProgress::ShowOverall() {
  const int percent = OverallPercent();
  OverallBar->setValue(percent);
  QString text = QString("%1 of %2 %3 done")
                     .arg(std::min(Results_.size(), FileCount_))
                     .arg(FileCount_)
                     .arg(FileCount_ == 1 ? "file" : "files");
  if (const auto left = TimeLeftMs(percent / 100.0, Elapsed_.isValid() ? Elapsed_.elapsed() : 0))
    text += ", about " + DurationText(*left) + " left";
  lOverall->setText(text);
  setWindowTitle(QString("%1% - %2").arg(percent).arg(Caption_));
}

TOverwriteAnswer TfrmEncodeProgress::AskOverwrite(const std::string& Question) {
  // While the question is open, the other runners' steps wait (their files may ask too).
  struct TAsking {
    TfrmEncodeProgress& Window;
    explicit TAsking(TfrmEncodeProgress& window) : Window(window) { Window.Asking_ = true; }
    ~TAsking() {
      Window.Asking_ = false;
      const auto deferred = std::move(Window.Deferred_);
      Window.Deferred_.clear();
      for (const auto& [job, step] : deferred) Window.PostStep(job, step);
    }
    TAsking(const TAsking&) = delete;
    TAsking& operator=(const TAsking&) = delete;
  } asking(*this);
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

void TfrmEncodeProgress::PostStep(std::size_t job, TBatchStep step) {
  // Qt takes ownership of a posted event.
  QCoreApplication::postEvent(this, std::make_unique<TBatchStepEvent>(job, step).release());
}

void TfrmEncodeProgress::RunStep(std::size_t job, TBatchStep step) {
  if (!Elapsed_.isValid()) Elapsed_.start();
  TConversionRunner& runner = *Jobs_.at(job)->Runner;
  if (runner.Closed()) return;
  try {
    runner.BatchStep(step);
  } catch (const std::exception&) {
    // A failed step ends; the window waits for Stop.
  }
}

void TfrmEncodeProgress::CloseJob(std::size_t job) {
  if (State_ != TState::Running || FinishPosted_) return;
  try {
    Jobs_.at(job)->Runner->Close();
  } catch (const std::exception& e) {
    Dialogs().ShowMessage(this, kProductName, QString::fromStdString(e.what()), QMessageBox::Critical);
  }
  for (const auto& j : Jobs_)
    if (!j->Runner->Closed()) return;
  FinishPosted_ = true;
  FinishBatch();
}

void TfrmEncodeProgress::FinishBatch() {
  if (State_ != TState::Running) return;
  State_ = TState::Closing;
  bStop->setEnabled(false);
  ElapsedMs_ = Elapsed_.isValid() ? Elapsed_.elapsed() : 0;
  // Released first, so that the summary also names a file whose run ended just now.
  for (const auto& job : Jobs_) {
    try {
      job->Runner->Close();
    } catch (const std::exception& e) {
      Dialogs().ShowMessage(this, kProductName, QString::fromStdString(e.what()), QMessageBox::Critical);
    }
  }
  ShowOverall();
  TfrmBatchSummary summary(this, Outcome());
  Dialogs().Exec(summary);
  State_ = TState::Closed;
  done(QDialog::Accepted);
}

QString TfrmEncodeProgress::SummaryFolder() const {
  if (!Common_.SameAsInputFolder) return QFile::decodeName(QByteArray::fromStdString(Common_.OutputFolder));
  // Beside the inputs: the folder of the first file's output, in the order the files were
  // chosen, that was written; else of any output named; else of the first input.
  std::string folder;
  for (const bool convertedOnly : {true, false}) {
    for (const std::string& file : Files_) {
      for (const TFileResult& r : Results_)
        if (r.Input == file && !r.Output.empty() &&
            (!convertedOnly || r.Status == TFileResult::frConverted)) {
          folder = FolderOf(r.Output);
          break;
        }
      if (!folder.empty()) break;
    }
    if (!folder.empty()) break;
  }
  if (folder.empty() && !Files_.empty()) folder = FolderOf(Files_.front());
  return folder.empty() ? QString() : QDir::cleanPath(QFile::decodeName(QByteArray::fromStdString(folder)));
}

TBatchOutcome TfrmEncodeProgress::Outcome() const {
  return TBatchOutcome{FileCount_, Results_,
                       State_ == TState::Running && Elapsed_.isValid() ? Elapsed_.elapsed() : ElapsedMs_,
                       SummaryFolder()};
}

QString TfrmEncodeProgress::FailureSummary() const {
  return ProblemLists(Outcome());
}

void TfrmEncodeProgress::bStopClick() {
  if (State_ != TState::Running || FinishPosted_) return;
  FinishPosted_ = true;
  // Possibly called from inside a runner's call (a question's loop): the runners are released
  // from the event loop.
  QMetaObject::invokeMethod(
      this, [this] { FinishBatch(); }, Qt::QueuedConnection);
}

bool TfrmEncodeProgress::event(QEvent* event) {
  if (event->type() != kBatchStepEvent) return QDialog::event(event);
  // A step posted before Stop was pressed must not start another file.
  if (State_ == TState::Running && !FinishPosted_) {
    const auto* step = static_cast<TBatchStepEvent*>(event);
    if (Asking_)
      Deferred_.emplace_back(step->Job, step->Step());
    else
      RunStep(step->Job, step->Step());
  }
  return true;
}

void TfrmEncodeProgress::closeEvent(QCloseEvent* event) {
  if (State_ == TState::Closed) {
    event->accept();
    return;
  }
  // The close box stops the batch; the window goes once the runners are released.
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
