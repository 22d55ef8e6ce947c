#pragma once

// The options dialog: edits the main window's settings. OK checks every value before it
// stores any, then writes the settings file; Cancel stores nothing.

#include <QDialog>
#include <functional>
#include <vector>

#include "settings.h"
#include "wma_choice.h"

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QRadioButton;
class QSlider;
class QSpinBox;
class QTabWidget;
class QWidget;

namespace melvanto::gui {

class TfrmOptions : public QDialog {
  Q_OBJECT
 public:
  // Fills the codec and format lists, loads settings into the controls, shows "Output". OK
  // stores into settings, which must outlive the dialog.
  TfrmOptions(QWidget* owner, TOptionsSetting& settings);

  // The load step: the settings into the controls, then the enabled states.
  void LoadStep();
  // The OK step: checks, then stores everything, writes options.ini and accepts; false
  // (dialog left open, nothing stored) when a check fails, after telling the user why. A
  // file that cannot be written is reported; what OK stored stays in memory.
  bool btOkClick();
  void bDefaultClick();
  void bWMADefaultClick();
  void btBrowserClick();

  QTabWidget* PageControl1 = nullptr;  // "Output", "LAME", "WMA"
  // Output
  QWidget* tsOutput = nullptr;
  QLineEdit* editOutputDir = nullptr;
  QPushButton* btBrowser = nullptr;
  QCheckBox* cbSameAsInputFolder = nullptr;
  QCheckBox* cbShowTagEditor = nullptr;
  QCheckBox* cbSameTag = nullptr;
  QSpinBox* seParallelFiles = nullptr;  // files converted at once
  // LAME
  QWidget* tsLame = nullptr;
  QRadioButton* rbCBR = nullptr;
  QComboBox* cbConstantBitRate = nullptr;
  QRadioButton* rbVBR = nullptr;
  QCheckBox* ckbVBRHead = nullptr;  // never visible
  QComboBox* cbMinBitRate = nullptr;
  QComboBox* cbMaxBitRate = nullptr;
  QComboBox* cbVBRQuality = nullptr;
  QComboBox* cbStereoMode = nullptr;
  QSlider* tbMP3Cpu = nullptr;
  QCheckBox* ckbBitReservoir = nullptr;
  QPushButton* bDefault = nullptr;
  // WMA
  QWidget* tsWma = nullptr;
  QListWidget* lbCodecs = nullptr;
  QListWidget* lbFormats = nullptr;
  QCheckBox* cbWMA_VBR = nullptr;
  QPushButton* bWMADefault = nullptr;

  QPushButton* btOk = nullptr;
  QPushButton* btCancel = nullptr;

  // Whether the WMA formats listed are the VBR ones.
  bool WMAVBR() const { return WMAVBR_; }

 private:
  // Set while the dialog itself moves the codec selection, which is no user's choice.
  struct FillingGuard {
    explicit FillingGuard(bool& flag) : Flag(flag) { Flag = true; }
    ~FillingGuard() { Flag = false; }
    FillingGuard(const FillingGuard&) = delete;
    FillingGuard& operator=(const FillingGuard&) = delete;
    bool& Flag;
  };

  // lbFormats anew from the selected codec's CBR or VBR formats, then position selected.
  void FillFormats(int position = 0);
  void SetWMAVBR(bool value);
  // Whether the codec at this position has VBR formats on this platform.
  bool CodecHasVBR(int codec) const;
  // The VBR box offered only for such a codec, saying why otherwise.
  void UpdateWMAVBRBox();
  void WMAVBRClick(bool checked);
  void SetBitRateText(QComboBox* box, const QString& text);
  void UpdateFolderControls();
  void UpdateVBRControls();
  // Runs a handler so that no exception reaches the event loop.
  void Guarded(const std::function<void()>& handler);

  bool Filling = false;
  std::vector<TWMACodec> WMACodecs_ = ListWMACodecs(false);
  std::vector<TWMACodec> WMAVBRCodecs_ = ListWMACodecs(true);
  bool WMAVBR_ = false;
  // The CBR format chosen before VBR was ticked, and its codec: unticking brings it back.
  int CBRCodec_ = -1;
  int CBRFormat_ = -1;
  TOptionsSetting& OptionsSetting_;
};

}  // namespace melvanto::gui
