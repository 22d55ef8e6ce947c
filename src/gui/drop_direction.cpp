#include "drop_direction.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

namespace melvanto::gui {

// From the direction's command-line name: "wav-mp3".
QString DirectionCaption(TConversionMode D) {
  return QString::fromLatin1(DirectionName(D)).toUpper().replace(QLatin1Char('-'), QStringLiteral(" to "));
}

TfrmDropDirection::TfrmDropDirection(QWidget* owner, const QString& text,
                                     const std::vector<TConversionMode>& directions, TConversionMode selected)
    : QDialog(owner), Directions_(directions) {
  setObjectName(QStringLiteral("frmDropDirection"));
  setWindowTitle(QStringLiteral("Convert Files"));
  setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                 Qt::WindowCloseButtonHint);

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(16, 14, 16, 12);
  layout->setSpacing(8);
  lText = new QLabel(text, this);
  lText->setObjectName(QStringLiteral("lText"));
  lText->setWordWrap(true);
  lText->setTextFormat(Qt::PlainText);
  lText->setMinimumWidth(340);
  layout->addWidget(lText);
  for (std::size_t i = 0; i < directions.size(); ++i) {
    const TConversionMode D = directions[i];
    // A little room between the directions of different source types.
    if (i > 0 && SourceFormatOf(D) != SourceFormatOf(directions[i - 1])) layout->addSpacing(6);
    auto* button = new QRadioButton(DirectionCaption(D), this);
    button->setObjectName(QString::fromLatin1(DirectionName(D)));
    layout->addWidget(button);
    Buttons.push_back(button);
  }
  if (!Choose(selected) && !Buttons.empty()) Buttons.front()->setChecked(true);

  auto* box = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  box->button(QDialogButtonBox::Ok)->setText(QStringLiteral("Convert"));
  layout->addSpacing(4);
  layout->addWidget(box);
  connect(box, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(box, &QDialogButtonBox::rejected, this, &QDialog::reject);
  layout->setSizeConstraint(QLayout::SetFixedSize);
}

TConversionMode TfrmDropDirection::Chosen() const {
  for (std::size_t i = 0; i < Buttons.size(); ++i)
    if (Buttons[i]->isChecked()) return Directions_[i];
  return Directions_.empty() ? TConversionMode::cmWavToMp3 : Directions_.front();
}

bool TfrmDropDirection::Choose(TConversionMode D) {
  for (std::size_t i = 0; i < Buttons.size(); ++i)
    if (Directions_[i] == D) {
      Buttons[i]->setChecked(true);
      return true;
    }
  return false;
}

}  // namespace melvanto::gui
