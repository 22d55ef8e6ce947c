#include "tag_editor.h"

#include <QCheckBox>
#include <QFontMetrics>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>
#include <exception>

#include "dialogs.h"
#include "id3.h"
#include "product.h"
#include "settings.h"

namespace melvanto::gui {

namespace {

// Text fields take any length: ID3v2 and WMA hold it whole, and only the ID3v1 record cuts
// its copy (when the output is written). The year may be a full date, the track "3/12".
constexpr int kYearLimit = 10;
constexpr int kTrackLimit = 7;
// The text fields show this many characters of ordinary text whole.
constexpr int kShownCharacters = 40;

// A longer current value (a file's own date, say) is shown and kept whole, as cutting it
// would lose it from the output.
QLineEdit* NewEdit(QWidget* parent, const char* name, int limit, const std::u16string& value) {
  auto* edit = new QLineEdit(parent);
  edit->setObjectName(QString::fromLatin1(name));
  const QString text = QString::fromStdU16String(value);
  if (limit > 0) edit->setMaxLength(std::max(limit, static_cast<int>(text.size())));
  edit->setText(text);
  return edit;
}

// Whether the ID3v1 record would keep less than the whole text.
bool CutByRecord(const QString& text) {
  if (text.size() > static_cast<qsizetype>(id3v1::kTextLength)) return true;
  return std::any_of(text.begin(), text.end(), [](QChar c) { return c.unicode() > 0xFF; });
}

QLabel* NewLabel(QWidget* parent, const char* name, const QString& text, QWidget* buddy) {
  auto* label = new QLabel(text, parent);
  label->setObjectName(QString::fromLatin1(name));
  label->setBuddy(buddy);
  return label;
}

}  // namespace

TfrmTagEditor::TfrmTagEditor(QWidget* owner, TTagInfo& tags, TOptionsSetting& settings)
    : QDialog(owner), TagInfo_(tags), OptionsSetting_(settings) {
  setObjectName(QStringLiteral("frmTagEditor"));
  setWindowTitle(QStringLiteral("Tag Editor"));

  GroupBox1 = new QGroupBox(QStringLiteral("ID3 Tag"), this);
  GroupBox1->setObjectName(QStringLiteral("GroupBox1"));

  ID3title = NewEdit(GroupBox1, "ID3title", 0, TagInfo_.Title);
  ID3artist = NewEdit(GroupBox1, "ID3artist", 0, TagInfo_.Artist);
  ID3album = NewEdit(GroupBox1, "ID3album", 0, TagInfo_.Album);
  ID3year = NewEdit(GroupBox1, "ID3year", kYearLimit, TagInfo_.Year);
  ID3genre = new QComboBox(GroupBox1);
  ID3genre->setObjectName(QStringLiteral("ID3genre"));
  ID3genre->setEditable(false);
  ID3genre->setMaxVisibleItems(16);
  for (std::string_view genre : kDisplayGenres)
    ID3genre->addItem(QString::fromUtf8(genre.data(), static_cast<qsizetype>(genre.size())));
  // -1 or a position past the list leaves nothing selected.
  ID3genre->setCurrentIndex(TagInfo_.Genre >= 0 && TagInfo_.Genre < ID3genre->count() ? TagInfo_.Genre : -1);
  ID3comment = NewEdit(GroupBox1, "ID3comment", 0, TagInfo_.Comment);
  ID3track = NewEdit(GroupBox1, "ID3track", kTrackLimit, TagInfo_.Track);

  lTitle = NewLabel(GroupBox1, "lTitle", QStringLiteral("Title:"), ID3title);
  auto* lArtist = NewLabel(GroupBox1, "lArtist", QStringLiteral("Artist:"), ID3artist);
  auto* lAlbum = NewLabel(GroupBox1, "lAlbum", QStringLiteral("Album:"), ID3album);
  auto* lComment = NewLabel(GroupBox1, "lComment", QStringLiteral("Comment:"), ID3comment);
  auto* lGenre = NewLabel(GroupBox1, "lGenre", QStringLiteral("Genre:"), ID3genre);
  auto* lYear = NewLabel(GroupBox1, "lYear", QStringLiteral("Year:"), ID3year);
  auto* lTrack = NewLabel(GroupBox1, "lTrack", QStringLiteral("Track #:"), ID3track);

  // Left column: title, artist, album, comment; right column: genre, year, track.
  auto* grid = new QGridLayout(GroupBox1);
  grid->setHorizontalSpacing(6);
  grid->setVerticalSpacing(6);
  grid->addWidget(lTitle, 0, 0);
  grid->addWidget(ID3title, 0, 1);
  grid->addWidget(lArtist, 1, 0);
  grid->addWidget(ID3artist, 1, 1);
  grid->addWidget(lAlbum, 2, 0);
  grid->addWidget(ID3album, 2, 1);
  grid->addWidget(lComment, 3, 0);
  grid->addWidget(ID3comment, 3, 1);
  grid->addWidget(lGenre, 0, 3);
  grid->addWidget(ID3genre, 0, 4);
  grid->addWidget(lYear, 1, 3);
  grid->addWidget(ID3year, 1, 4, Qt::AlignLeft);
  grid->addWidget(lTrack, 2, 3);
  grid->addWidget(ID3track, 2, 4, Qt::AlignLeft);
  grid->setColumnMinimumWidth(2, 8);
  grid->setColumnStretch(1, 1);
  // Sized to what the fields hold, so the text fields on the left get the room.
  ID3genre->setFixedWidth(140);
  const QFontMetrics metrics(ID3year->font());
  ID3year->setFixedWidth(metrics.horizontalAdvance(QStringLiteral("0000-00-00")) + 16);
  ID3track->setFixedWidth(metrics.horizontalAdvance(QStringLiteral("000/000")) + 16);
  // Room for an ordinary name of that many characters, with the frame's and text margins.
  const int textWidth = metrics.horizontalAdvance(QString(kShownCharacters, u'n')) + 16;
  for (QLineEdit* edit : {ID3title, ID3artist, ID3album, ID3comment}) edit->setMinimumWidth(textWidth);

  lId3v1Note = new QLabel(
      QStringLiteral("The MP3's ID3v1 record keeps only the first 30 Latin-1 characters; ID3v2 keeps all."),
      GroupBox1);
  lId3v1Note->setObjectName(QStringLiteral("lId3v1Note"));
  // Shown and hidden without moving the fields.
  QSizePolicy notePolicy = lId3v1Note->sizePolicy();
  notePolicy.setRetainSizeWhenHidden(true);
  lId3v1Note->setSizePolicy(notePolicy);
  lId3v1Note->setVisible(false);
  grid->addWidget(lId3v1Note, 4, 0, 1, 5);
  for (QLineEdit* edit : {ID3title, ID3artist, ID3album, ID3comment})
    connect(edit, &QLineEdit::textChanged, this, &TfrmTagEditor::UpdateId3v1Note);

  cbShowTagEditor = new QCheckBox(QStringLiteral("Don't show this dialog next time"), this);
  cbShowTagEditor->setObjectName(QStringLiteral("cbShowTagEditor"));
  cbShowTagEditor->setChecked(false);

  btOk = new QPushButton(QStringLiteral("&Start"), this);
  btOk->setObjectName(QStringLiteral("btOk"));
  btOk->setDefault(true);
  btCancel = new QPushButton(QStringLiteral("&Cancel"), this);
  btCancel->setObjectName(QStringLiteral("btCancel"));

  auto* bottom = new QHBoxLayout;
  bottom->addWidget(cbShowTagEditor);
  bottom->addStretch(1);
  bottom->addWidget(btOk);
  bottom->addWidget(btCancel);

  auto* main = new QVBoxLayout(this);
  main->setContentsMargins(10, 10, 10, 10);
  main->addWidget(GroupBox1);
  main->addLayout(bottom);
  // As large as the fields need, and no larger.
  main->setSizeConstraint(QLayout::SetFixedSize);

  setTabOrder(ID3title, ID3artist);
  setTabOrder(ID3artist, ID3album);
  setTabOrder(ID3album, ID3year);
  setTabOrder(ID3year, ID3genre);
  setTabOrder(ID3genre, ID3comment);
  setTabOrder(ID3comment, ID3track);
  setTabOrder(ID3track, cbShowTagEditor);
  setTabOrder(cbShowTagEditor, btOk);
  setTabOrder(btOk, btCancel);

  connect(btOk, &QPushButton::clicked, this, [this] {
    try {
      btOkClick();
    } catch (const std::exception& error) {
      Dialogs().ShowMessage(this, QString::fromLatin1(kProductName), QString::fromUtf8(error.what()),
                            QMessageBox::Critical);
    }
  });
  connect(btCancel, &QPushButton::clicked, this, &QDialog::reject);
  layout()->activate();  // the fixed size from the start, not only once shown
}

void TfrmTagEditor::SetMp3Output(bool value) {
  Mp3Output_ = value;
  UpdateId3v1Note();
}

void TfrmTagEditor::UpdateId3v1Note() {
  bool cut = false;
  for (const QLineEdit* edit : {ID3title, ID3artist, ID3album, ID3comment})
    cut = cut || (edit->isEnabled() && CutByRecord(edit->text()));
  lId3v1Note->setVisible(Mp3Output_ && cut);
}

void TfrmTagEditor::btOkClick() {
  // The main window disables the title for a batch of several files: one title cannot fit them.
  if (ID3title->isEnabled()) TagInfo_.Title = ID3title->text().toStdU16String();
  TagInfo_.Artist = ID3artist->text().toStdU16String();
  TagInfo_.Album = ID3album->text().toStdU16String();
  TagInfo_.Year = ID3year->text().toStdU16String();
  TagInfo_.Genre = ID3genre->currentIndex();
  TagInfo_.Track = ID3track->text().toStdU16String();
  TagInfo_.Comment = ID3comment->text().toStdU16String();
  OptionsSetting_.CommonOptions.IsShowTagEditor = !cbShowTagEditor->isChecked();
  accept();
}

}  // namespace melvanto::gui
