#pragma once

// The tag editor: reviews and edits the batch's tag values and starts the batch.

#include <QDialog>

#include "settings.h"

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace melvanto::gui {

class TfrmTagEditor : public QDialog {
  Q_OBJECT
 public:
  // Shows tags. Start stores into tags and settings, which must outlive the dialog.
  TfrmTagEditor(QWidget* owner, TTagInfo& tags, TOptionsSetting& settings);

  // Start: stores the fields into the tag values (the title only while enabled) and
  // IsShowTagEditor into the settings, then accepts.
  void btOkClick();

  // MP3 outputs also carry an ID3v1 record, which cuts long or non-Latin-1 text: the editor
  // then says so under the fields while such text is in them.
  bool Mp3Output() const { return Mp3Output_; }
  void SetMp3Output(bool value);

  QGroupBox* GroupBox1 = nullptr;  // "ID3 Tag"
  QLabel* lTitle = nullptr;
  QLineEdit* ID3title = nullptr;
  QLineEdit* ID3artist = nullptr;
  QLineEdit* ID3album = nullptr;
  QLineEdit* ID3year = nullptr;
  QComboBox* ID3genre = nullptr;
  QLineEdit* ID3comment = nullptr;
  QLineEdit* ID3track = nullptr;
  QCheckBox* cbShowTagEditor = nullptr;
  QPushButton* btOk = nullptr;
  QPushButton* btCancel = nullptr;
  QLabel* lId3v1Note = nullptr;

 private:
  void UpdateId3v1Note();

  bool Mp3Output_ = false;
  TTagInfo& TagInfo_;
  TOptionsSetting& OptionsSetting_;
};

}  // namespace melvanto::gui
