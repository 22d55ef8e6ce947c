#pragma once

// The main window: the six direction buttons, settings, the help group; loads the settings
// when created and saves them when closed. Borderless; dragged by its background. It owns the
// settings and the batch's tag values, and hands them to the dialogs and the runner.

#include <QWidget>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "conversion_mode.h"
#include "input_files.h"
#include "settings.h"

class QComboBox;
class QFrame;
class QLabel;
class QListWidget;
class QPushButton;
class QToolButton;

namespace melvanto::gui {

class TfrmMain : public QWidget {
  Q_OBJECT
 public:
  // FormCreate: loads the settings.
  explicit TfrmMain(QWidget* parent = nullptr);
  ~TfrmMain() override;

  // A batch for direction D (what the six buttons do): on files when given, each output
  // keeping the file's subfolder, else on those the file dialog returns.
  void RunBatch(TConversionMode D, const std::vector<TInputFile>* files = nullptr);
  // Files and folders dropped on the window, named when the program started or handed over
  // by a later start (the names' bytes): asks which of the directions that fit them, then
  // runs the batch as a direction button does. While a batch or a question is under way they
  // wait for it to end.
  void OpenPaths(std::vector<std::string> paths);
  // The six direction buttons' shared click: a batch for Sender's tag.
  void bMP3toWMAClick(QPushButton* Sender);
  // FormShow's default WMA codec and format (also run by the first show).
  void ChooseDefaultWMA();
  // The hit test: true ("caption", the window moves) for a point, in window coordinates,
  // that lies on no visible image, label, link label or flat button other than Image1.
  bool HitTestIsCaption(const QPoint& point) const;
  // The restore message: shown, un-minimised, raised and activated.
  void Restore();

  void bShowFilesClick();
  void bHomepageClick();
  void bDonateClick();
  void bSettingsClick();
  void bAboutClick();
  // The link label: opens the home page.
  void lLinkClick();

  QLabel* Image1 = nullptr;  // the stretched background picture
  QLabel* lTitle = nullptr;
  QLabel* lMain = nullptr;
  QLabel* lOptions = nullptr;
  QLabel* lHelp = nullptr;
  QLabel* lLink = nullptr;  // the maker's web address
  // The thin lines under the three headings.
  QFrame* sMain = nullptr;
  QFrame* sOptions = nullptr;
  QFrame* sHelp = nullptr;
  // The direction buttons, top to bottom; their tags are their directions.
  QPushButton* bMP3toWMA = nullptr;  // 10, "WMA to MP3..."
  QPushButton* bWMAtoMP3 = nullptr;  // 9, "MP3 to WMA..."
  QPushButton* bWAVtoMP3 = nullptr;  // 2
  QPushButton* bMP3toWAV = nullptr;  // 7
  QPushButton* bWAVtoWMA = nullptr;  // 4
  QPushButton* bWMAtoWAV = nullptr;  // 8
  QPushButton* bSettings = nullptr;
  QPushButton* bShowFiles = nullptr;
  QPushButton* bHomepage = nullptr;
  QPushButton* bDonate = nullptr;
  QPushButton* bAbout = nullptr;
  QPushButton* bExit = nullptr;
  QToolButton* bMinimize = nullptr;
  QToolButton* bClose = nullptr;
  // Hidden.
  QComboBox* ID3genre = nullptr;
  QListWidget* lbCodecs = nullptr;
  QListWidget* lbFormats = nullptr;

  // Loaded when the window is made, saved when it closes; the options dialog edits them.
  TOptionsSetting OptionsSetting;
  // The tag values of the current batch, never saved; the tag editor edits them.
  TTagInfo TagInfo;

 protected:
  bool event(QEvent* event) override;  // the restore message
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;  // the link label's click
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dragMoveEvent(QDragMoveEvent* event) override;
  void dropEvent(QDropEvent* event) override;

 private:
  // work with Busy_ set; paths that came meanwhile are opened once it is done.
  void WhileBusy(const std::function<void()>& work);
  void OpenPathsNow(const std::vector<std::string>& paths);
  void OpenWaitingPathsLater();
  // No batch and no dialog of the window is under way.
  bool TakesDrops() const;
  // What the window does with paths is a batch, or nothing.
  bool Busy_ = false;
  std::vector<std::vector<std::string>> WaitingPaths_;
  // The direction last run from each source type in this session: a drop offers it first.
  std::map<TSourceFormat, TConversionMode> LastDirection_;
  bool Shown_ = false;
  bool Saved_ = false;
  // No settings folder could be made: said once at start, and nothing is saved at the end.
  bool NoSettingsFolder_ = false;
  // A manual drag where the window system cannot move the window itself.
  bool Dragging_ = false;
  QPoint DragOffset_;
};

}  // namespace melvanto::gui
