#include "main_window.h"

#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QDir>
#include <QFile>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMimeData>
#include <QMouseEvent>
#include <QPushButton>
#include <QScreen>
#include <QShowEvent>
#include <QToolButton>
#include <QUrl>
#include <QWindow>
#include <exception>
#include <filesystem>
#include <system_error>

#include "about_box.h"
#include "conversion_mode.h"
#include "dialogs.h"
#include "drop_direction.h"
#include "dropped_files.h"
#include "encode_progress.h"
#include "id3.h"
#include "options_dialog.h"
#include "product.h"
#include "settings.h"
#include "tag_editor.h"
#include "theme.h"
#include "wma_choice.h"

namespace melvanto::gui {
namespace {

constexpr int kClientWidth = 400;
constexpr int kClientHeight = 303;

struct TDirection {
  QPushButton* TfrmMain::*Button;
  const char* Name;
  TConversionMode Tag;
  const char* Caption;
  const char* Hint;
};

// Top to bottom under "Main". The first two names do not match their captions: the tag and
// the caption are what count.
const TDirection kDirections[] = {
    {&TfrmMain::bMP3toWMA, "bMP3toWMA", TConversionMode::cmWmaToMp3, "WMA to MP3...", "Convert WMA to MP3"},
    {&TfrmMain::bWMAtoMP3, "bWMAtoMP3", TConversionMode::cmMp3ToWma, "MP3 to WMA...", "Convert MP3 to WMA"},
    {&TfrmMain::bWAVtoMP3, "bWAVtoMP3", TConversionMode::cmWavToMp3, "WAV to MP3...", "Convert WAV to MP3"},
    {&TfrmMain::bMP3toWAV, "bMP3toWAV", TConversionMode::cmMp3ToWav, "MP3 to WAV...", "Convert MP3 to WAV"},
    {&TfrmMain::bWAVtoWMA, "bWAVtoWMA", TConversionMode::cmWavToWma, "WAV to WMA...", "Convert WAV to WMA"},
    {&TfrmMain::bWMAtoWAV, "bWMAtoWAV", TConversionMode::cmWmaToWav, "WMA to WAV...", "Convert WMA to WAV"},
};

QString OpenDialogTitle(TConversionMode D) {
  switch (D) {
    case TConversionMode::cmWmaToMp3: return QStringLiteral("Wma to Mp3 Converter");
    case TConversionMode::cmMp3ToWma: return QStringLiteral("Mp3 to Wma Converter");
    case TConversionMode::cmWavToMp3: return QStringLiteral("Wav to Mp3 Converter");
    case TConversionMode::cmMp3ToWav: return QStringLiteral("Mp3 to Wav Converter");
    case TConversionMode::cmWavToWma: return QStringLiteral("Wav to Wma Converter");
    case TConversionMode::cmWmaToWav: return QStringLiteral("Wma to Wav Converter");
    default: return QString();
  }
}

// "*" rather than "*.*", so that names without a dot are listed too.
QString OpenDialogFilter(TConversionMode D) {
  switch (SourceFormatOf(D)) {
    case TSourceFormat::sfWma:
      return QStringLiteral("Sound files (*.wma);;All files (*)");
    case TSourceFormat::sfMp3:
      return QStringLiteral("Sound files (*.mp3);;All files (*)");
    case TSourceFormat::sfWav: break;
  }
  return QStringLiteral("Sound files (*.wav);;All files (*)");
}

bool FolderExists(const std::string& folder) {
  std::error_code error;
  return !folder.empty() && std::filesystem::is_directory(folder, error);
}

QString Caption() { return QString::fromLatin1(kProductName); }

QPushButton* MakeButton(QWidget* parent, const char* name, const char* caption, const char* hint,
                        const char* role, const QRect& geometry) {
  auto* button = new QPushButton(QString::fromLatin1(caption), parent);
  button->setObjectName(QString::fromLatin1(name));
  button->setToolTip(QString::fromLatin1(hint));
  button->setProperty("role", QString::fromLatin1(role));
  button->setGeometry(geometry);
  button->setCursor(Qt::PointingHandCursor);
  // Return and keypad Enter press a focused button as Space does; outside a dialog Qt's
  // buttons take only Space unless told.
  button->setAutoDefault(true);
  return button;
}

QLabel* MakeHeading(QWidget* parent, const char* name, const char* text, const QRect& geometry) {
  auto* label = new QLabel(QString::fromLatin1(text), parent);
  label->setObjectName(QString::fromLatin1(name));
  label->setProperty("role", QStringLiteral("heading"));
  label->setGeometry(geometry);
  return label;
}

QFrame* MakeSeparator(QWidget* parent, const char* name, const QRect& geometry) {
  auto* line = new QFrame(parent);
  line->setObjectName(QString::fromLatin1(name));
  line->setProperty("role", QStringLiteral("separator"));
  line->setFrameShape(QFrame::HLine);
  line->setFrameShadow(QFrame::Plain);
  line->setGeometry(geometry);
  return line;
}

QToolButton* MakeImageButton(QWidget* parent, const char* name, const char* image, const char* hint,
                             const QRect& geometry) {
  auto* button = new QToolButton(parent);
  button->setObjectName(QString::fromLatin1(name));
  button->setProperty("role", QStringLiteral("imagebutton"));
  button->setToolTip(QString::fromLatin1(hint));
  button->setIcon(QIcon(ThemePixmap(QString::fromLatin1(image), geometry.size())));
  button->setIconSize(geometry.size());
  button->setAutoRaise(true);
  button->setFocusPolicy(Qt::NoFocus);
  button->setGeometry(geometry);
  return button;
}

}  // namespace

TfrmMain::TfrmMain(QWidget* parent) : QWidget(parent, Qt::Window | Qt::FramelessWindowHint) {
  setObjectName(QStringLiteral("frmMain"));
  setWindowTitle(Caption());
  setWindowIcon(ProgramIcon());
  setFixedSize(kClientWidth, kClientHeight);

  Image1 = new QLabel(this);
  Image1->setObjectName(QStringLiteral("Image1"));
  Image1->setGeometry(0, 0, kClientWidth, kClientHeight);
  Image1->setScaledContents(true);
  Image1->setPixmap(ThemePixmap(QStringLiteral("background"), size()));

  lTitle = new QLabel(Caption(), this);
  lTitle->setObjectName(QStringLiteral("lTitle"));
  lTitle->setProperty("role", QStringLiteral("title"));
  lTitle->setGeometry(14, 8, 200, 24);

  bMinimize = MakeImageButton(this, "bMinimize", "minimize", "Minimize", QRect(346, 8, 20, 20));
  bClose = MakeImageButton(this, "bClose", "close", "Close", QRect(370, 8, 20, 20));
  connect(bMinimize, &QToolButton::clicked, this, [this] { showMinimized(); });
  connect(bClose, &QToolButton::clicked, this, [this] { close(); });

  // Left column: the directions.
  lMain = MakeHeading(this, "lMain", "Main", QRect(20, 44, 170, 20));
  sMain = MakeSeparator(this, "sMain", QRect(20, 66, 170, 1));
  int y = 76;
  for (const TDirection& d : kDirections) {
    QPushButton* button = MakeButton(this, d.Name, d.Caption, d.Hint, "direction", QRect(20, y, 170, 26));
    button->setProperty("tag", static_cast<int>(d.Tag));
    this->*d.Button = button;
    connect(button, &QPushButton::clicked, this, [this, button] { bMP3toWMAClick(button); });
    y += 33;
  }

  // Right column: options and help.
  lOptions = MakeHeading(this, "lOptions", "Options", QRect(220, 44, 160, 20));
  sOptions = MakeSeparator(this, "sOptions", QRect(220, 66, 160, 1));
  bSettings = MakeButton(this, "bSettings", "Settings   ", "Open the options dialog to set", "flat",
                         QRect(220, 74, 160, 24));
  lHelp = MakeHeading(this, "lHelp", "Help", QRect(220, 110, 160, 20));
  sHelp = MakeSeparator(this, "sHelp", QRect(220, 132, 160, 1));
  bShowFiles = MakeButton(this, "bShowFiles", "Show Files", "Open the output folder", "flat", QRect(220, 140, 160, 23));
  bHomepage = MakeButton(this, "bHomepage", "Homepage", "Homepage", "flat", QRect(220, 165, 160, 23));
  bDonate = MakeButton(this, "bDonate", "Donate", "Donate", "flat", QRect(220, 190, 160, 23));
  bAbout = MakeButton(this, "bAbout", "About", "About", "flat", QRect(220, 215, 160, 23));
  bExit = MakeButton(this, "bExit", "Exit", "Exit", "flat", QRect(220, 240, 160, 23));
  for (QPushButton* b : {bSettings, bShowFiles, bHomepage, bDonate, bAbout, bExit}) b->setFlat(true);
  connect(bSettings, &QPushButton::clicked, this, [this] { bSettingsClick(); });
  connect(bShowFiles, &QPushButton::clicked, this, [this] { bShowFilesClick(); });
  connect(bHomepage, &QPushButton::clicked, this, [this] { bHomepageClick(); });
  connect(bDonate, &QPushButton::clicked, this, [this] { bDonateClick(); });
  connect(bAbout, &QPushButton::clicked, this, [this] { bAboutClick(); });
  connect(bExit, &QPushButton::clicked, this, [this] { close(); });

  // The maker's address, centred at the foot; only the text itself is clickable.
  lLink = new QLabel(QString::fromLatin1(kMakerAddress), this);
  lLink->setObjectName(QStringLiteral("lLink"));
  lLink->setProperty("role", QStringLiteral("link"));
  lLink->setToolTip(QString::fromLatin1(kHomePage));
  lLink->setCursor(Qt::PointingHandCursor);
  lLink->adjustSize();
  lLink->move((kClientWidth - lLink->width()) / 2, 278);
  lLink->installEventFilter(this);

  // Hidden helpers.
  ID3genre = new QComboBox(this);
  ID3genre->setObjectName(QStringLiteral("ID3genre"));
  for (std::string_view genre : kDisplayGenres)
    ID3genre->addItem(QString::fromUtf8(genre.data(), static_cast<qsizetype>(genre.size())));
  ID3genre->hide();
  lbCodecs = new QListWidget(this);
  lbCodecs->setObjectName(QStringLiteral("lbCodecs"));
  lbCodecs->hide();
  lbFormats = new QListWidget(this);
  lbFormats->setObjectName(QStringLiteral("lbFormats"));
  lbFormats->hide();

  Image1->lower();
  setAcceptDrops(true);

  // Centred on the screen at start.
  if (const QScreen* screen = QGuiApplication::primaryScreen())
    move(screen->availableGeometry().center() - rect().center());

  // FormCreate.
  try {
    const TSettingsStatus loaded = LoadSettings(OptionsSetting);
    NoSettingsFolder_ = loaded.NoFolder;
    if (!loaded)
      Dialogs().ShowMessage(this, Caption(), QString::fromStdString(loaded.Message), QMessageBox::Warning);
  } catch (const std::exception& e) {
    Dialogs().ShowMessage(this, Caption(), QString::fromUtf8(e.what()), QMessageBox::Critical);
  }
}

TfrmMain::~TfrmMain() = default;

void TfrmMain::bMP3toWMAClick(QPushButton* Sender) {
  const auto D = ConversionModeFromValue(Sender->property("tag").toInt());
  if (D && !Busy_) WhileBusy([this, D] { RunBatch(*D); });
}

void TfrmMain::RunBatch(TConversionMode D, const std::vector<TInputFile>* given) {
  const TCommonOptions& common = OptionsSetting.CommonOptions;
  if (!common.SameAsInputFolder && !FolderExists(common.OutputFolder)) {
    Dialogs().ShowMessage(
        this, Caption(),
        QStringLiteral("The output folder does not exist. Please check the output directory setting."),
        QMessageBox::Information);
    return;
  }
  QStringList chosen;
  if (given == nullptr) {
    chosen = Dialogs().GetOpenFileNames(
        this, OpenDialogTitle(D) + QStringLiteral(" (One or multiple files)"), OpenDialogFilter(D));
    if (chosen.isEmpty()) return;
  } else if (given->empty()) {
    return;
  }
  LastDirection_[SourceFormatOf(D)] = D;
  // From here on a failure ends the batch quietly, as the batch code always has.
  try {
    std::vector<TInputFile> inputs = given != nullptr ? *given : std::vector<TInputFile>();
    inputs.reserve(inputs.size() + static_cast<std::size_t>(chosen.size()));
    // The names' own bytes, also where they are not valid UTF-8; a picked file has no subfolder.
    for (const QString& f : chosen) inputs.push_back({QFile::encodeName(f).toStdString(), {}});
    const std::vector<std::string> files = PathsOf(inputs);
    PrepareBatchTags(files, D, TagInfo);

    const bool several = files.size() > 1;
    const bool toWav = D == TConversionMode::cmMp3ToWav || D == TConversionMode::cmWmaToWav;
    if (((common.IsShowTagEditor && !several) || (common.IsSameTag && several)) && !toWav) {
      TfrmTagEditor editor(this, TagInfo, OptionsSetting);
      if (several) {
        editor.ID3title->setEnabled(false);
        editor.lTitle->setEnabled(false);
      }
      editor.SetMp3Output(TargetFormatOf(D) == TTargetFormat::tfMp3);
      if (Dialogs().Exec(editor) != QDialog::Accepted) return;
    }

    TfrmEncodeProgress progress(this, inputs, OptionsSetting, TagInfo);
    progress.SetMode(D);
    Dialogs().Exec(progress);
  } catch (...) {
  }
}

void TfrmMain::ChooseDefaultWMA() {
  try {
    lbCodecs->clear();
    lbFormats->clear();
    const std::vector<TWMACodec> codecs = ListWMACodecs(false);
    for (const TWMACodec& codec : codecs) lbCodecs->addItem(QString::fromStdString(codec.Name));
    if (!codecs.empty()) {
      lbCodecs->setCurrentRow(0);
      for (const std::string& format : codecs[0].Formats) lbFormats->addItem(QString::fromStdString(format));
      if (lbFormats->count() > 0) lbFormats->setCurrentRow(0);
    }
    if (OptionsSetting.VBR) DropUnusableWMAVbr(ListWMACodecs(true), OptionsSetting);
    ChooseDefaultWMAFormat(codecs, OptionsSetting);
  } catch (const std::exception& e) {
    Dialogs().ShowMessage(this, Caption(), QString::fromUtf8(e.what()), QMessageBox::Critical);
  }
}

bool TfrmMain::HitTestIsCaption(const QPoint& point) const {
  // Every visible control but the background keeps the point for itself (edges included);
  // anywhere else the window is dragged.
  for (const QObject* child : children()) {
    const auto* widget = qobject_cast<const QWidget*>(child);
    if (widget == nullptr || widget == Image1 || widget->isWindow() || widget->isHidden()) continue;
    if (widget->geometry().adjusted(0, 0, 1, 1).contains(point)) return false;
  }
  return true;
}

void TfrmMain::Restore() {
  show();
  setWindowState((windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
  raise();
  activateWindow();
}

void TfrmMain::bShowFilesClick() {
  const std::string& folder = OptionsSetting.CommonOptions.OutputFolder;
  if (FolderExists(folder)) {
    Dialogs().OpenUrl(QUrl::fromLocalFile(QFile::decodeName(QByteArray::fromStdString(folder))));
  } else {
    Dialogs().ShowMessage(
        this, Caption(),
        QString::fromStdString(folder) + QStringLiteral(": the output folder does not exist."),
        QMessageBox::Critical);
  }
}

void TfrmMain::bHomepageClick() { Dialogs().OpenUrl(QUrl(QString::fromLatin1(kHomePage))); }

void TfrmMain::bDonateClick() { Dialogs().OpenUrl(QUrl(QString::fromLatin1(kDonatePage))); }

void TfrmMain::lLinkClick() { Dialogs().OpenUrl(QUrl(QString::fromLatin1(kHomePage))); }

void TfrmMain::bSettingsClick() {
  try {
    TfrmOptions options(this, OptionsSetting);
    Dialogs().Exec(options);
  } catch (const std::exception& e) {
    Dialogs().ShowMessage(this, Caption(), QString::fromUtf8(e.what()), QMessageBox::Critical);
  }
}

void TfrmMain::bAboutClick() {
  try {
    TfrmAbout about(this);
    Dialogs().Exec(about);
  } catch (const std::exception& e) {
    Dialogs().ShowMessage(this, Caption(), QString::fromUtf8(e.what()), QMessageBox::Critical);
  }
}

bool TfrmMain::event(QEvent* event) {
  if (event->type() == kRestoreEvent) {
    Restore();
    return true;
  }
  return QWidget::event(event);
}

void TfrmMain::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  // FormShow: once, when the window first appears (not again after a minimise).
  if (!Shown_) {
    Shown_ = true;
    ChooseDefaultWMA();
  }
}

void TfrmMain::closeEvent(QCloseEvent* event) {
  // FormClose: the settings are written once, however often closing is asked for.
  if (!Saved_ && !NoSettingsFolder_) {
    Saved_ = true;
    TSettingsStatus saved{false, false, "The settings could not be saved."};
    try {
      saved = SaveSettings(OptionsSetting);
    } catch (...) {
    }
    if (!saved)
      Dialogs().ShowMessage(this, Caption(), QString::fromStdString(saved.Message), QMessageBox::Warning);
  }
  QWidget::closeEvent(event);
}

void TfrmMain::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton || !HitTestIsCaption(event->position().toPoint())) {
    QWidget::mousePressEvent(event);
    return;
  }
  event->accept();
  // The window system moves the window where it can; elsewhere (offscreen, some X11 window
  // managers) the window follows the mouse itself.
  if (QWindow* window = windowHandle(); window != nullptr && window->startSystemMove()) return;
  Dragging_ = true;
  DragOffset_ = event->globalPosition().toPoint() - frameGeometry().topLeft();
}

void TfrmMain::mouseMoveEvent(QMouseEvent* event) {
  if (Dragging_ && (event->buttons() & Qt::LeftButton)) {
    move(event->globalPosition().toPoint() - DragOffset_);
    event->accept();
    return;
  }
  QWidget::mouseMoveEvent(event);
}

void TfrmMain::mouseReleaseEvent(QMouseEvent* event) {
  if (Dragging_ && event->button() == Qt::LeftButton) {
    Dragging_ = false;
    event->accept();
    return;
  }
  QWidget::mouseReleaseEvent(event);
}

bool TfrmMain::eventFilter(QObject* watched, QEvent* event) {
  if (watched == lLink && event->type() == QEvent::MouseButtonRelease) {
    const auto* mouse = static_cast<QMouseEvent*>(event);
    if (mouse->button() == Qt::LeftButton && lLink->rect().contains(mouse->position().toPoint())) {
      lLinkClick();
      return true;
    }
  }
  if (watched == lLink && event->type() == QEvent::MouseButtonPress) {
    // A press on the link is the link's, not the start of a drag.
    event->accept();
    return true;
  }
  return QWidget::eventFilter(watched, event);
}

// Files by drop, by the command line and from a later start.

namespace {

// The local files among a drag's URLs, as the names' bytes; other URLs are not ours to fetch.
std::vector<std::string> LocalPaths(const QMimeData* data) {
  std::vector<std::string> paths;
  if (data == nullptr || !data->hasUrls()) return paths;
  for (const QUrl& url : data->urls())
    if (url.isLocalFile() && !url.toLocalFile().isEmpty())
      paths.push_back(QFile::encodeName(url.toLocalFile()).toStdString());
  return paths;
}

QString SourceCaption(TSourceFormat source) {
  return DirectionCaption(DirectionsFrom(source).front()).section(QLatin1Char(' '), 0, 0);
}

QString CountOf(std::size_t count, const QString& kind) {
  return QStringLiteral("%1 %2 file%3").arg(count).arg(kind, count == 1 ? QString() : QStringLiteral("s"));
}

QString DisplayName(const std::string& path) {
  return QFile::decodeName(QByteArray::fromStdString(NameWithoutFolder(path)));
}

// The first five names (whole paths, or names without their folder), then how many more.
QString NameList(const std::vector<std::string>& names, bool whole) {
  constexpr std::size_t kShown = 5;
  QStringList shown;
  for (std::size_t i = 0; i < names.size() && i < kShown; ++i)
    shown << (whole ? QFile::decodeName(QByteArray::fromStdString(names[i])) : DisplayName(names[i]));
  QString list = shown.join(whole ? QStringLiteral("\n") : QStringLiteral(", "));
  if (names.size() > kShown)
    list += QStringLiteral("%1and %2 more").arg(whole ? "\n" : ", ").arg(names.size() - kShown);
  return list;
}

// What the direction question says about the files.
QString DropText(const TDroppedFiles& dropped) {
  QString text;
  if (dropped.Groups.size() == 1) {
    text = CountOf(dropped.Groups[0].Inputs.Files.size(), SourceCaption(dropped.Groups[0].Source)) +
           QStringLiteral(" to convert.");
  } else {
    QStringList counts;
    for (const TSourceGroup& group : dropped.Groups)
      counts << CountOf(group.Inputs.Files.size(), SourceCaption(group.Source));
    text = QStringLiteral(
               "The files are of several types: %1. Only the chosen direction's files are "
               "converted; the others are left out.")
               .arg(counts.join(QStringLiteral(", ")));
  }
  if (!dropped.Unused.empty())
    text += QStringLiteral("\n\nNot WAV, MP3 or WMA, left out: %1.").arg(NameList(dropped.Unused, false));
  return text;
}

}  // namespace

void TfrmMain::OpenPaths(std::vector<std::string> paths) {
  if (paths.empty()) return;
  if (Busy_) {
    WaitingPaths_.push_back(std::move(paths));
    return;
  }
  // Another dialog of the window (settings, about) is open: the files wait until it closes.
  if (auto* open = qobject_cast<QDialog*>(QApplication::activeModalWidget())) {
    WaitingPaths_.push_back(std::move(paths));
    connect(open, &QDialog::finished, this, &TfrmMain::OpenWaitingPathsLater, Qt::UniqueConnection);
    return;
  }
  WhileBusy([this, &paths] { OpenPathsNow(paths); });
}

void TfrmMain::WhileBusy(const std::function<void()>& work) {
  Busy_ = true;
  try {
    work();
  } catch (...) {
  }
  Busy_ = false;
  OpenWaitingPathsLater();
}

void TfrmMain::OpenWaitingPathsLater() {
  // Later, so that the stack of the batch or dialog is gone first.
  if (!WaitingPaths_.empty())
    QMetaObject::invokeMethod(
        this,
        [this] {
          if (WaitingPaths_.empty() || Busy_) return;
          std::vector<std::string> next = std::move(WaitingPaths_.front());
          WaitingPaths_.erase(WaitingPaths_.begin());
          OpenPaths(std::move(next));
        },
        Qt::QueuedConnection);
}

void TfrmMain::OpenPathsNow(const std::vector<std::string>& paths) {
  const TDroppedFiles dropped = SortDroppedPaths(paths);
  if (dropped.Groups.empty()) {
    Dialogs().ShowMessage(
        this, Caption(),
        QStringLiteral("There is no WAV, MP3 or WMA file to convert in:\n%1").arg(NameList(paths, true)),
        QMessageBox::Information);
    return;
  }
  std::vector<TConversionMode> directions;
  for (const TSourceGroup& group : dropped.Groups)
    for (TConversionMode D : DirectionsFrom(group.Source)) directions.push_back(D);
  // The direction last run from one of the types, else the first.
  TConversionMode selected = directions.front();
  for (const TSourceGroup& group : dropped.Groups)
    if (const auto last = LastDirection_.find(group.Source); last != LastDirection_.end()) {
      selected = last->second;
      break;
    }
  TfrmDropDirection chooser(this, DropText(dropped), directions, selected);
  if (Dialogs().Exec(chooser) != QDialog::Accepted) return;
  const TConversionMode D = chooser.Chosen();
  for (const TSourceGroup& group : dropped.Groups) {
    if (group.Source != SourceFormatOf(D)) continue;
    if (!group.Inputs.Problems.empty()) {
      QString problems;
      for (const std::string& problem : group.Inputs.Problems)
        problems += QLatin1Char('\n') + QFile::decodeName(QByteArray::fromStdString(problem));
      Dialogs().ShowMessage(this, Caption(), QStringLiteral("Some folders were skipped:") + problems,
                            QMessageBox::Warning);
    }
    RunBatch(D, &group.Inputs.Files);
  }
}

bool TfrmMain::TakesDrops() const { return !Busy_ && QApplication::activeModalWidget() == nullptr; }

void TfrmMain::dragEnterEvent(QDragEnterEvent* event) { dragMoveEvent(event); }

void TfrmMain::dragMoveEvent(QDragMoveEvent* event) {
  if (TakesDrops() && !LocalPaths(event->mimeData()).empty())
    event->acceptProposedAction();
  else
    event->ignore();
}

void TfrmMain::dropEvent(QDropEvent* event) {
  std::vector<std::string> paths = LocalPaths(event->mimeData());
  if (!TakesDrops() || paths.empty()) {
    event->ignore();
    return;
  }
  event->acceptProposedAction();
  // After the drop has returned: the program the files came from waits for it, and the
  // questions and the batch run for a while.
  QMetaObject::invokeMethod(
      this, [this, paths = std::move(paths)]() mutable { OpenPaths(std::move(paths)); },
      Qt::QueuedConnection);
}

}  // namespace melvanto::gui
