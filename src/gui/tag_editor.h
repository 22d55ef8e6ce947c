#pragma once

// The tag editor: reviews and edits the batch's tag values (TagInfo) and starts the batch.

#include <QDialog>

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
  // Shows the current TagInfo.
  explicit TfrmTagEditor(QWidget* owner);

  // Start: stores the fields into TagInfo (the title only while enabled) and
  // IsShowTagEditor, then accepts.
  void btOkClick();

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
};

}  // namespace melvanto::gui
