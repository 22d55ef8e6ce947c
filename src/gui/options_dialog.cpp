#include "options_dialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QSpinBox>
#include <QTabWidget>
#include <QVBoxLayout>
#include <exception>
#include <optional>

#include "dialogs.h"
#include "product.h"
#include "settings.h"
#include "theme.h"

namespace melvanto::gui {

namespace {

constexpr int kVBRBitRates[] = {32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320};

QString BrowseCaption() { return QStringLiteral("Please select the folder to save the audio file"); }

template <typename W>
W* Named(W* widget, const char* name) {
  widget->setObjectName(QString::fromLatin1(name));
  return widget;
}

QLabel* NewLabel(QWidget* parent, const char* name, const QString& text, QWidget* buddy = nullptr) {
  auto* label = Named(new QLabel(text, parent), name);
  if (buddy != nullptr) label->setBuddy(buddy);
  return label;
}

QComboBox* NewCombo(QWidget* parent, const char* name, bool editable) {
  auto* box = Named(new QComboBox(parent), name);
  box->setEditable(editable);
  // Typed text is a value to read at OK, not a new item.
  if (editable) box->setInsertPolicy(QComboBox::NoInsert);
  return box;
}

// A single-choice list as the window system has it: Ctrl+click or Ctrl+Space never leaves it
// without a chosen entry (Qt's would, and OK would then store no codec or no format).
class TChoiceList : public QListWidget {
 public:
  using QListWidget::QListWidget;

 protected:
  QItemSelectionModel::SelectionFlags selectionCommand(const QModelIndex& index,
                                                       const QEvent* event) const override {
    const QItemSelectionModel::SelectionFlags command = QListWidget::selectionCommand(index, event);
    if (command & (QItemSelectionModel::Deselect | QItemSelectionModel::Toggle)) return QItemSelectionModel::NoUpdate;
    return command;
  }
};

// A position of -1 or one past the list selects nothing.
void SelectPosition(QComboBox* box, int position) {
  box->setCurrentIndex(position >= 0 && position < box->count() ? position : -1);
}

void SelectPosition(QListWidget* list, int position) {
  if (position >= 0 && position < list->count()) {
    list->setCurrentRow(position);
  } else {
    list->setCurrentRow(-1);
    list->clearSelection();
  }
}

int Position(const QListWidget* list) {
  const QList<QListWidgetItem*> selected = list->selectedItems();
  return selected.isEmpty() ? -1 : list->row(selected.front());
}

// An editable box's position: the item its text names, -1 when the typed text names none.
int Position(const QComboBox* box) {
  const int current = box->currentIndex();
  if (!box->isEditable() || (current >= 0 && box->itemText(current) == box->currentText())) return current;
  return box->findText(box->currentText(), Qt::MatchExactly);
}

// The number at the start of a bit-rate text ("128 kbit/s"): its first three characters
// without surrounding spaces and control characters, as a decimal integer (an optional sign
// allowed). Empty, and the failed text in bad, when they are not one.
std::optional<int> LeadingBitRate(const QString& text, QString& bad) {
  QString head = text.left(3);
  qsizetype first = 0, last = head.size();
  while (first < last && head.at(first).unicode() <= u' ') ++first;
  while (last > first && head.at(last - 1).unicode() <= u' ') --last;
  head = head.mid(first, last - first);
  qsizetype digits = head.startsWith(u'-') || head.startsWith(u'+') ? 1 : 0;
  bool ok = digits < head.size();
  for (qsizetype i = digits; ok && i < head.size(); ++i) ok = head.at(i) >= u'0' && head.at(i) <= u'9';
  if (!ok) {
    bad = head;
    return std::nullopt;
  }
  return head.toInt();
}

}  // namespace

TfrmOptions::TfrmOptions(QWidget* owner, TOptionsSetting& settings)
    : QDialog(owner), OptionsSetting_(settings) {
  setObjectName(QStringLiteral("frmOptions"));
  setWindowTitle(QStringLiteral("Options"));
  setFixedSize(456, 312);

  PageControl1 = Named(new QTabWidget(this), "PageControl1");

  // Page "Output".
  tsOutput = Named(new QWidget(PageControl1), "tsOutput");
  auto* gbOutput = Named(new QGroupBox(QStringLiteral("Output folder"), tsOutput), "gbOutputFolder");
  auto* imgFolder = NewLabel(gbOutput, "imgFolder", QString());
  imgFolder->setPixmap(ThemePixmap(QStringLiteral("folder"), QSize(32, 32)));
  imgFolder->setFixedSize(32, 32);
  editOutputDir = Named(new QLineEdit(gbOutput), "editOutputDir");
  btBrowser = Named(new QPushButton(QStringLiteral("Browse"), gbOutput), "btBrowser");
  auto* folderRow = new QHBoxLayout(gbOutput);
  folderRow->addWidget(imgFolder);
  folderRow->addWidget(editOutputDir, 1);
  folderRow->addWidget(btBrowser);
  cbSameAsInputFolder =
      Named(new QCheckBox(QStringLiteral("Same as input folder"), tsOutput), "cbSameAsInputFolder");
  cbShowTagEditor = Named(new QCheckBox(QStringLiteral("Don't show Tag Editor dialog when converting"), tsOutput),
                          "cbShowTagEditor");
  cbSameTag = Named(new QCheckBox(QStringLiteral("Use the same ID3 Tag for the batch files"), tsOutput), "cbSameTag");
  seParallelFiles = Named(new QSpinBox(tsOutput), "seParallelFiles");
  seParallelFiles->setRange(1, kMaxParallelFiles);
  seParallelFiles->setToolTip(
      QStringLiteral("How many files the progress window converts at the same time (1: one after another)."));
  auto* parallelRow = new QHBoxLayout;
  parallelRow->addWidget(
      NewLabel(tsOutput, "lParallelFiles", QStringLiteral("Files converted at once:"), seParallelFiles));
  parallelRow->addWidget(seParallelFiles);
  parallelRow->addStretch(1);
  auto* outputPage = new QVBoxLayout(tsOutput);
  outputPage->addWidget(gbOutput);
  outputPage->addSpacing(6);
  outputPage->addWidget(cbSameAsInputFolder);
  outputPage->addWidget(cbShowTagEditor);
  outputPage->addWidget(cbSameTag);
  outputPage->addLayout(parallelRow);
  outputPage->addStretch(1);

  // Page "LAME".
  tsLame = Named(new QWidget(PageControl1), "tsLame");
  auto* gbBitRate = Named(new QGroupBox(QStringLiteral("Bit Rate"), tsLame), "gbBitRate");
  rbCBR = Named(new QRadioButton(QStringLiteral("CBR (Constant Bit Rate)"), gbBitRate), "rbCBR");
  cbConstantBitRate = NewCombo(gbBitRate, "cbConstantBitRate", false);
  for (int rate : kConstantBitRates) cbConstantBitRate->addItem(QString::number(rate));
  rbVBR = Named(new QRadioButton(QStringLiteral("VBR (Variable Bit Rate)"), gbBitRate), "rbVBR");
  ckbVBRHead = Named(new QCheckBox(QStringLiteral("Write MP3 VBR Header"), gbBitRate), "ckbVBRHead");
  ckbVBRHead->setVisible(false);
  cbMinBitRate = NewCombo(gbBitRate, "cbMinBitRate", true);
  cbMaxBitRate = NewCombo(gbBitRate, "cbMaxBitRate", true);
  for (int rate : kVBRBitRates) {
    // Right-aligned to three digits, as the numbers are read back from the first three.
    const QString item = QStringLiteral("%1 kbit/s").arg(rate, 3);
    cbMinBitRate->addItem(item);
    cbMaxBitRate->addItem(item);
  }
  cbVBRQuality = NewCombo(gbBitRate, "cbVBRQuality", true);
  for (int quality = 0; quality <= 9; ++quality) cbVBRQuality->addItem(QString::number(quality));
  auto* bitRateGrid = new QGridLayout(gbBitRate);
  bitRateGrid->setVerticalSpacing(4);
  bitRateGrid->addWidget(rbCBR, 0, 0, 1, 2);
  bitRateGrid->addWidget(NewLabel(gbBitRate, "lBitrate", QStringLiteral("Bitrate"), cbConstantBitRate), 1, 0);
  bitRateGrid->addWidget(cbConstantBitRate, 1, 1);
  bitRateGrid->addWidget(rbVBR, 2, 0, 1, 2);
  bitRateGrid->addWidget(NewLabel(gbBitRate, "lMinBitRate", QStringLiteral("Minimum bitrate:"), cbMinBitRate), 3, 0);
  bitRateGrid->addWidget(cbMinBitRate, 3, 1);
  bitRateGrid->addWidget(NewLabel(gbBitRate, "lMaxBitRate", QStringLiteral("Maximum bitrate:"), cbMaxBitRate), 4, 0);
  bitRateGrid->addWidget(cbMaxBitRate, 4, 1);
  bitRateGrid->addWidget(NewLabel(gbBitRate, "lVBRQuality", QStringLiteral("VBR Quality:"), cbVBRQuality), 5, 0);
  bitRateGrid->addWidget(cbVBRQuality, 5, 1);
  bitRateGrid->setColumnStretch(1, 1);

  auto* gbChannels = Named(new QGroupBox(QStringLiteral("Channels"), tsLame), "gbChannels");
  cbStereoMode = NewCombo(gbChannels, "cbStereoMode", true);
  cbStereoMode->addItems({QStringLiteral("Stereo"), QStringLiteral("Joint Stereo"), QStringLiteral("Dual Channels"),
                          QStringLiteral("Mono")});
  (new QVBoxLayout(gbChannels))->addWidget(cbStereoMode);

  auto* gbCpu = Named(new QGroupBox(QStringLiteral("CPU Usage"), tsLame), "gbCpuUsage");
  tbMP3Cpu = Named(new QSlider(Qt::Horizontal, gbCpu), "tbMP3Cpu");
  tbMP3Cpu->setRange(1, 3);
  tbMP3Cpu->setPageStep(1);
  tbMP3Cpu->setTickInterval(1);
  tbMP3Cpu->setTickPosition(QSlider::TicksBelow);
  auto* cpuRow = new QHBoxLayout(gbCpu);
  cpuRow->addWidget(NewLabel(gbCpu, "lLess", QStringLiteral("Less")));
  cpuRow->addWidget(tbMP3Cpu, 1);
  cpuRow->addWidget(NewLabel(gbCpu, "lMore", QStringLiteral("More")));

  ckbBitReservoir = Named(new QCheckBox(QStringLiteral("Bit reservoir"), tsLame), "ckbBitReservoir");
  ckbBitReservoir->setToolTip(
      QStringLiteral("Frames lend unused bits to the next ones: better sound for the same size. Off only "
                     "where each frame must decode on its own."));

  bDefault = Named(new QPushButton(QStringLiteral("&Default"), tsLame), "bDefault");
  auto* lameRight = new QVBoxLayout;
  lameRight->addWidget(gbChannels);
  lameRight->addWidget(gbCpu);
  lameRight->addWidget(ckbBitReservoir);
  lameRight->addStretch(1);
  lameRight->addWidget(bDefault, 0, Qt::AlignRight);
  auto* lamePage = new QHBoxLayout(tsLame);
  lamePage->addWidget(gbBitRate, 3);
  lamePage->addLayout(lameRight, 2);

  // Page "WMA".
  tsWma = Named(new QWidget(PageControl1), "tsWma");
  lbCodecs = Named(new TChoiceList(tsWma), "lbCodecs");
  lbFormats = Named(new TChoiceList(tsWma), "lbFormats");
  lbCodecs->setSelectionMode(QAbstractItemView::SingleSelection);
  lbFormats->setSelectionMode(QAbstractItemView::SingleSelection);
  cbWMA_VBR = Named(new QCheckBox(QStringLiteral("VBR (Variable Bit Rate)"), tsWma), "cbWMA_VBR");
  bWMADefault = Named(new QPushButton(QStringLiteral("&Default"), tsWma), "bWMADefault");
  auto* wmaGrid = new QGridLayout(tsWma);
  wmaGrid->addWidget(NewLabel(tsWma, "lCodecs", QStringLiteral("Codecs"), lbCodecs), 0, 0);
  wmaGrid->addWidget(NewLabel(tsWma, "lFormats", QStringLiteral("Formats"), lbFormats), 0, 1);
  wmaGrid->addWidget(lbCodecs, 1, 0);
  wmaGrid->addWidget(lbFormats, 1, 1);
  wmaGrid->addWidget(cbWMA_VBR, 2, 0);
  wmaGrid->addWidget(bWMADefault, 2, 1, Qt::AlignRight);
  wmaGrid->setColumnStretch(0, 2);
  wmaGrid->setColumnStretch(1, 3);

  PageControl1->addTab(tsOutput, QStringLiteral("Output"));
  PageControl1->addTab(tsLame, QStringLiteral("LAME"));
  PageControl1->addTab(tsWma, QStringLiteral("WMA"));

  btOk = Named(new QPushButton(QStringLiteral("OK"), this), "btOk");
  btOk->setDefault(true);
  btCancel = Named(new QPushButton(QStringLiteral("Cancel"), this), "btCancel");
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(btOk);
  buttons->addWidget(btCancel);
  auto* main = new QVBoxLayout(this);
  main->setContentsMargins(8, 8, 8, 8);
  main->addWidget(PageControl1, 1);
  main->addLayout(buttons);

  // The click reactions.
  connect(cbSameAsInputFolder, &QCheckBox::toggled, this, [this] { UpdateFolderControls(); });
  connect(cbSameTag, &QCheckBox::clicked, this, [this] { UpdateFolderControls(); });
  connect(rbVBR, &QRadioButton::toggled, this, [this] { UpdateVBRControls(); });
  connect(lbCodecs, &QListWidget::currentRowChanged, this, [this] {
    if (Filling) return;
    // A VBR tick never outlives a move to a codec without VBR formats.
    if (WMAVBR_ && !CodecHasVBR(Position(lbCodecs))) {
      cbWMA_VBR->setChecked(false);
      SetWMAVBR(false);
    }
    FillFormats();
    UpdateWMAVBRBox();
  });
  connect(cbWMA_VBR, &QCheckBox::clicked, this, [this](bool checked) { WMAVBRClick(checked); });
  connect(btBrowser, &QPushButton::clicked, this, [this] { Guarded([this] { btBrowserClick(); }); });
  connect(bDefault, &QPushButton::clicked, this, [this] { Guarded([this] { bDefaultClick(); }); });
  connect(bWMADefault, &QPushButton::clicked, this, [this] { Guarded([this] { bWMADefaultClick(); }); });
  connect(btOk, &QPushButton::clicked, this, [this] { Guarded([this] { btOkClick(); }); });
  connect(btCancel, &QPushButton::clicked, this, &QDialog::reject);

  // Opening: the codec list with its first codec's formats, then the settings, then "Output".
  {
    const FillingGuard filling(Filling);
    for (const TWMACodec& codec : WMACodecs_) lbCodecs->addItem(QString::fromStdString(codec.Name));
    SelectPosition(lbCodecs, 0);
  }
  FillFormats();
  LoadStep();
  PageControl1->setCurrentWidget(tsOutput);
}

void TfrmOptions::LoadStep() {
  const TOptionsSetting& s = OptionsSetting_;
  editOutputDir->setText(QString::fromStdString(s.CommonOptions.OutputFolder));
  cbSameAsInputFolder->setChecked(s.CommonOptions.SameAsInputFolder);
  cbShowTagEditor->setChecked(!s.CommonOptions.IsShowTagEditor);
  cbSameTag->setChecked(s.CommonOptions.IsSameTag);
  // The box's range clamps a count that was never checked (a record made in code).
  seParallelFiles->setValue(s.CommonOptions.ParallelFiles);

  (s.IsSelectVBR ? rbVBR : rbCBR)->setChecked(true);
  ckbVBRHead->setChecked(s.IsVBRHead);

  SetBitRateText(cbMinBitRate, QStringLiteral("%1 kbit/s").arg(s.BitRate));
  SetBitRateText(cbMaxBitRate, QStringLiteral("%1 kbit/s").arg(s.MaxBitRate));

  SelectPosition(cbVBRQuality, s.VBRQuality);
  SelectPosition(cbStereoMode, s.StereoMode);
  tbMP3Cpu->setValue(s.CPU);
  SelectPosition(cbConstantBitRate, s.ConstantBitRate);
  ckbBitReservoir->setChecked(s.BitReservoir);

  {
    const FillingGuard filling(Filling);
    SelectPosition(lbCodecs, s.CodecIndex);
  }
  // A stored VBR choice the codec cannot give names no CBR format: nothing is selected, and
  // OK asks for a format rather than keep a choice that cannot convert.
  const bool vbr = s.VBR && CodecHasVBR(s.CodecIndex);
  cbWMA_VBR->setChecked(vbr);
  SetWMAVBR(vbr);
  FillFormats(s.VBR == vbr ? s.FormatIndex : -1);
  UpdateWMAVBRBox();

  UpdateFolderControls();
  UpdateVBRControls();
}

bool TfrmOptions::btOkClick() {
  // Every check first: a failed one leaves all settings as they were.
  const bool sameAsInput = cbSameAsInputFolder->isChecked();
  const QString folder = editOutputDir->text();
  if (!sameAsInput && !QFileInfo(folder).isDir()) {
    Dialogs().ShowMessage(this, QString::fromLatin1(kProductName),
                          folder + QStringLiteral(", the output folder does not exist."),
                          QMessageBox::Critical);
    if (PageControl1->currentWidget() == tsOutput) editOutputDir->setFocus();
    return false;
  }
  std::optional<int> bitRates[2];
  QComboBox* const boxes[2] = {cbMinBitRate, cbMaxBitRate};
  for (int i = 0; i < 2; ++i) {
    QString bad;
    bitRates[i] = LeadingBitRate(boxes[i]->currentText(), bad);
    if (!bitRates[i]) {
      Dialogs().ShowMessage(this, QString::fromLatin1(kProductName),
                            QStringLiteral("'%1' is not a valid integer value").arg(bad), QMessageBox::Critical);
      if (PageControl1->currentWidget() == tsLame) boxes[i]->setFocus();
      return false;
    }
  }

  if (Position(lbCodecs) < 0 || Position(lbFormats) < 0) {
    Dialogs().ShowMessage(this, QString::fromLatin1(kProductName),
                          QStringLiteral("Please choose a WMA codec and format: without them no WMA file can be written."),
                          QMessageBox::Critical);
    PageControl1->setCurrentWidget(tsWma);
    (Position(lbCodecs) < 0 ? lbCodecs : lbFormats)->setFocus();
    return false;
  }

  TOptionsSetting& s = OptionsSetting_;
  s.CommonOptions.SameAsInputFolder = sameAsInput;
  s.CommonOptions.IsShowTagEditor = !cbShowTagEditor->isChecked();
  s.CommonOptions.IsSameTag = cbSameTag->isChecked();
  s.CommonOptions.OutputFolder = folder.toStdString();
  s.CommonOptions.ParallelFiles = seParallelFiles->value();
  s.IsSelectVBR = rbVBR->isChecked();
  s.IsVBRHead = ckbVBRHead->isChecked();
  s.BitRate = *bitRates[0];
  s.MaxBitRate = *bitRates[1];
  s.VBRQuality = Position(cbVBRQuality);
  s.StereoMode = Position(cbStereoMode);
  s.CPU = tbMP3Cpu->value();
  s.ConstantBitRate = Position(cbConstantBitRate);
  s.BitReservoir = ckbBitReservoir->isChecked();
  s.CodecIndex = Position(lbCodecs);
  s.FormatIndex = Position(lbFormats);
  s.VBR = WMAVBR_;
  // Written now, not only when the program closes: a crash or a kill later keeps what OK took.
  TSettingsStatus saved{false, false, "The settings could not be saved."};
  try {
    saved = SaveSettings(s);
  } catch (...) {
  }
  // Without a settings folder nothing is ever saved, as the user was told at start.
  if (!saved && !saved.NoFolder)
    Dialogs().ShowMessage(this, QString::fromLatin1(kProductName), QString::fromStdString(saved.Message),
                          QMessageBox::Warning);
  accept();
  return true;
}

void TfrmOptions::bDefaultClick() {
  rbCBR->setChecked(true);
  SelectPosition(cbConstantBitRate, 5);
  ckbVBRHead->setChecked(false);
  SelectPosition(cbMinBitRate, 8);
  SelectPosition(cbMaxBitRate, 13);
  SelectPosition(cbVBRQuality, 4);
  SelectPosition(cbStereoMode, 1);
  tbMP3Cpu->setValue(3);
  ckbBitReservoir->setChecked(true);
}

void TfrmOptions::bWMADefaultClick() {
  cbWMA_VBR->setChecked(false);
  SetWMAVBR(false);
  {
    const FillingGuard filling(Filling);
    SelectPosition(lbCodecs, 0);
  }
  // The 30th entry; nothing when the runtime lists fewer.
  FillFormats(29);
  UpdateWMAVBRBox();
}

void TfrmOptions::btBrowserClick() {
  // The picker starts at the output folder shown, or at the nearest folder above it that
  // exists (one typed but not made yet); nowhere when none does.
  QString directory = editOutputDir->text();
  while (!directory.isEmpty() && !QFileInfo(directory).isDir()) {
    const QString parent = QFileInfo(directory).path();
    directory = parent == directory || parent == QStringLiteral(".") ? QString() : parent;
  }
  if (BrowseForFolder(BrowseCaption(), QString(), directory)) editOutputDir->setText(directory);
}

void TfrmOptions::FillFormats(int position) {
  lbFormats->clear();
  const std::vector<TWMACodec>& codecs = WMAVBR_ ? WMAVBRCodecs_ : WMACodecs_;
  const int codec = Position(lbCodecs);
  if (codec >= 0 && codec < static_cast<int>(codecs.size()))
    for (const std::string& format : codecs[static_cast<std::size_t>(codec)].Formats)
      lbFormats->addItem(QString::fromStdString(format));
  SelectPosition(lbFormats, position);
}

void TfrmOptions::SetWMAVBR(bool value) { WMAVBR_ = value; }

bool TfrmOptions::CodecHasVBR(int codec) const {
  return codec >= 0 && codec < static_cast<int>(WMAVBRCodecs_.size()) &&
         !WMAVBRCodecs_[static_cast<std::size_t>(codec)].Formats.empty();
}

void TfrmOptions::UpdateWMAVBRBox() {
  const bool offered = CodecHasVBR(Position(lbCodecs));
  cbWMA_VBR->setEnabled(offered);
  cbWMA_VBR->setToolTip(offered ? QString() : QStringLiteral("This codec has no VBR formats on this system."));
}

void TfrmOptions::WMAVBRClick(bool checked) {
  const int codec = Position(lbCodecs);
  if (checked) {
    CBRCodec_ = codec;
    CBRFormat_ = Position(lbFormats);
    SetWMAVBR(true);
    FillFormats();
  } else {
    SetWMAVBR(false);
    FillFormats(codec == CBRCodec_ && CBRFormat_ >= 0 ? CBRFormat_ : 0);
  }
}

void TfrmOptions::SetBitRateText(QComboBox* box, const QString& text) {
  // The item the text names (if any) first, as choosing one replaces the edit text.
  box->setCurrentIndex(box->findText(text, Qt::MatchExactly));
  box->setEditText(text);
}

void TfrmOptions::UpdateFolderControls() {
  const bool own = !cbSameAsInputFolder->isChecked();
  editOutputDir->setEnabled(own);
  btBrowser->setEnabled(own);
}

void TfrmOptions::UpdateVBRControls() {
  const bool vbr = rbVBR->isChecked();
  for (QWidget* control : {static_cast<QWidget*>(ckbVBRHead), static_cast<QWidget*>(cbMinBitRate),
                           static_cast<QWidget*>(cbMaxBitRate), static_cast<QWidget*>(cbVBRQuality)})
    control->setEnabled(vbr);
}

void TfrmOptions::Guarded(const std::function<void()>& handler) {
  try {
    handler();
  } catch (const std::exception& error) {
    Dialogs().ShowMessage(this, QString::fromLatin1(kProductName), QString::fromUtf8(error.what()),
                          QMessageBox::Critical);
  }
}

}  // namespace melvanto::gui
