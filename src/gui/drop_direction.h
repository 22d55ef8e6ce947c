#pragma once

// Asks which direction converts files that were dropped or named at start: only the
// directions that fit the files are offered.

#include <QDialog>
#include <vector>

#include "conversion_mode.h"

class QLabel;
class QRadioButton;

namespace melvanto::gui {

// "WAV to MP3".
QString DirectionCaption(TConversionMode D);

class TfrmDropDirection : public QDialog {
  Q_OBJECT
 public:
  // text: what was dropped; directions: those offered, top to bottom; selected is checked
  // first (the first direction when it is not among them).
  TfrmDropDirection(QWidget* owner, const QString& text, const std::vector<TConversionMode>& directions,
                    TConversionMode selected);

  TConversionMode Chosen() const;
  // Checks D's button; false when D is not offered.
  bool Choose(TConversionMode D);

  QLabel* lText = nullptr;
  // One per offered direction, named after it ("wav-mp3").
  std::vector<QRadioButton*> Buttons;

 private:
  std::vector<TConversionMode> Directions_;
};

}  // namespace melvanto::gui
